#pragma once
// libjpeg-turbo called directly and through djpeg: the reference side of the JPEG object's
// tests and benchmarks, and a maker of test JPEG files.
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace jpegref {

// An error manager whose error_exit jumps back to the caller's setjmp.
struct TErrorJump {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
};
void ErrorExit(j_common_ptr info);

// What the library makes of a file: packed top-down rows of Components bytes, or the fatal
// error's message code.
struct TDecoded {
    bool Ok = false;
    int Code = 0;
    int Width = 0, Height = 0, Components = 0;
    std::vector<std::uint8_t> Pixels;
    std::vector<std::vector<std::uint8_t>> ColorMap; // [entry][component] when quantised
    bool Cmyk = false;
};

struct TDecodeSettings {
    bool Quantize236 = false;  // grey files are always quantised this way
    bool ForceGray = false;
    bool Fast = false;         // fast DCT, no fancy upsampling, ordered dither, one pass
    unsigned ScaleDenom = 1;
    bool BlockSmoothing = true;
};

// Decodes as the JPEG object does with the given settings, RGB order for colour output.
TDecoded Decode(std::span<const std::uint8_t> bytes, const TDecodeSettings& settings = {});

struct TMakeSettings {
    int Width = 64, Height = 48;
    int Components = 3;          // 1 grey, 3 colour, 4 CMYK (Adobe marker)
    int Quality = 85;
    bool Progressive = false;
    unsigned RestartRows = 0;
    bool Subsample = true;       // 4:2:0 for colour, else 4:4:4
    unsigned Seed = 1;
};

// Smooth gradients with a little noise: enough detail that rounding differences show.
std::vector<std::uint8_t> TestPixels(int width, int height, int components, unsigned seed);

// Compresses rows that lie step bytes apart (RGB, grey or CMYK by components; or any
// in_color_space given). Empty when the library refuses.
std::vector<std::uint8_t> EncodeRows(const std::uint8_t* firstRow, std::ptrdiff_t step, const TMakeSettings& settings,
    J_COLOR_SPACE inSpace = JCS_UNKNOWN);
// The same for packed rows.
std::vector<std::uint8_t> Encode(const std::vector<std::uint8_t>& pixels, const TMakeSettings& settings,
    J_COLOR_SPACE inSpace = JCS_UNKNOWN);

std::vector<std::uint8_t> Make(const TMakeSettings& settings);

// A binary PGM or PPM (maxval 255) as width, height, channels and packed rows.
struct TPnm {
    int Width = 0, Height = 0, Channels = 0;
    std::vector<std::uint8_t> Pixels;
};
std::optional<TPnm> ParsePnm(const std::vector<std::uint8_t>& bytes);

// djpeg's PNM output for the file, or nothing when djpeg is missing or writes nothing.
std::optional<TPnm> Djpeg(const std::filesystem::path& input, const std::string& switches,
    const std::filesystem::path& folder);
bool HaveDjpeg();

} // namespace jpegref
