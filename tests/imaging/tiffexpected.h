#pragma once
// The TIFF reader's expected output from libtiff's raw samples: what the conversion rules make
// of each pixel (truncating 16-to-8 reduction, grey tables inverted for MinIsWhite, palettes
// reduced to 8 bits, the CMYK formula). L*a*b* and YCbCr pixels are left to the test's
// pinned colours.
#include "tests/support/tiffreference.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace tifftest {

// A file read back with libtiff: the tags of its first directory, and all its rows as raw
// samples (Samples, rows of SampleRowBytes; 16-bit samples in machine order). Photometric is
// 0 without the tag; LumaWeights are the default ones without the tag.
struct TDecoded : TTiffPlan {
    std::uint16_t InkSet = 1;
    bool HasCompressionTag = false, HasAlpha = false;
    std::size_t SampleRowBytes = 0;
};

// Reads the first directory and its strips or tiles; samples of separate planes are
// interleaved. Samples stays empty when libtiff cannot decode every strip or tile.
std::optional<TDecoded> ReadWithLibTiff(const TBytes& bytes);

// Colour of a pixel as blue, green, red, alpha (alpha 0 where the target has none).
struct TBGRA {
    std::uint8_t B = 0, G = 0, R = 0, A = 0;
    bool operator==(const TBGRA&) const = default;
};

inline std::uint8_t Reduce16(std::uint32_t v) { return std::uint8_t(v * 255 / 65535); }

// The colour of an L*a*b* or YCbCr pixel (8-bit samples of the file); nothing where the
// test pins none.
using TPinnedColour = std::function<std::optional<TBGRA>(const TDecoded& d, const std::array<std::uint8_t, 3>& samples)>;

// The colours the reader must produce for every pixel; nothing for a pixel whose colour is
// not known.
std::vector<std::optional<TBGRA>> ExpectedColors(const TDecoded& d, const TPinnedColour& pinned);

} // namespace tifftest
