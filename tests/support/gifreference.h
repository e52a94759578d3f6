#pragma once
// giflib on bytes in memory: the reference side of the GIF reader's and the GIF LZW codec's
// tests and benchmarks.
#include <gif_lib.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace gifref {

using TBytes = std::vector<std::uint8_t>;

// One image as giflib writes it: index rows top-down, written in interlaced order when asked.
struct TGifImage {
    int Width = 0, Height = 0;
    std::vector<GifColorType> Colors; // 2, 4, ... 256 entries
    bool LocalTable = false;          // the table belongs to the image, not to the screen
    bool Interlaced = false;
    bool Version89 = true;            // "GIF89a", else "GIF87a"
    std::vector<TBytes> Rows;
};

// The GIF file giflib writes; throws std::runtime_error when giflib refuses.
TBytes Encode(const TGifImage& image);

// The first image's LZW data of a file giflib wrote with a global table of colorCount
// entries: its minimum code size and its sub-blocks gathered into one block.
TBytes FirstImageData(const TBytes& file, std::size_t colorCount, int& codeSize);

// giflib reading the bytes given (kept by the caller); File() is null when giflib refuses.
class TGifReader {
public:
    explicit TGifReader(std::span<const std::uint8_t> bytes);
    ~TGifReader();
    TGifReader(const TGifReader&) = delete;
    TGifReader& operator=(const TGifReader&) = delete;
    GifFileType* File() const { return FFile; }
    // Reads the whole file (DGifSlurp); its first image, or null when there is none.
    const SavedImage* FirstImage() const;
    // The first image's colours: its own table, else the screen's (null when neither).
    const ColorMapObject* FirstImageColors() const;

private:
    std::span<const std::uint8_t> FBytes;
    std::size_t FPosition = 0;
    GifFileType* FFile = nullptr;
};

} // namespace gifref
