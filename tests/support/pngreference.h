#pragma once
// libpng on bytes in memory: the reference side of the PNG reader's tests and benchmarks.
#include <png.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace pngref {

using TBytes = std::vector<std::uint8_t>;

// An image as libpng writes it: packed rows of the colour type and depth given.
struct TPngImage {
    int Width = 0, Height = 0;
    int ColorType = PNG_COLOR_TYPE_RGB, Depth = 8;
    bool Interlaced = false;
    int Filters = -1;          // PNG_FILTER_NONE ... PNG_ALL_FILTERS; -1: libpng's choice
    int CompressionLevel = -1; // -1: libpng's default
    std::vector<std::array<std::uint8_t, 3>> Palette; // red, green, blue (colour type 3)
    std::uint32_t Gamma = 0;   // gAMA value (gamma × 100000); 0: no gAMA chunk
    std::vector<TBytes> Rows;
};

// The PNG file libpng writes; throws std::runtime_error when libpng refuses.
TBytes Encode(const TPngImage& image);

// A libpng read structure with its info structure, reading the bytes given (kept by the
// caller). libpng's errors are thrown as std::runtime_error, its warnings ignored.
class TPngReader {
public:
    explicit TPngReader(std::span<const std::uint8_t> bytes);
    ~TPngReader();
    TPngReader(const TPngReader&) = delete;
    TPngReader& operator=(const TPngReader&) = delete;
    png_structp Png() const { return FPng; }
    png_infop Info() const { return FInfo; }

private:
    std::span<const std::uint8_t> FBytes;
    std::size_t FPosition = 0;
    png_structp FPng = nullptr;
    png_infop FInfo = nullptr;
};

} // namespace pngref
