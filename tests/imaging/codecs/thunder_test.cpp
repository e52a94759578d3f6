#include "imaging/codecs/thunder.h"

#include "codectestutil.h"

#include <gtest/gtest.h>
#include <tiffio.h>

namespace {

TBytes Decode(TBytes input, std::uint32_t width, std::size_t unpackedSize)
{
    TBytes output(unpackedSize, 0xCD);
    std::uint8_t* source = input.data();
    std::uint8_t* dest = output.data();
    TThunderDecoder decoder(width);
    decoder.DecodeData(source, dest, input.size(), output.size());
    EXPECT_EQ(source, input.data());
    // In parts of whole rows (into zeros), the strip is the same.
    const std::size_t rowBytes = (std::size_t(width) + 1) / 2;
    TBytes whole(unpackedSize, 0);
    dest = whole.data();
    decoder.DecodeData(source, dest, input.size(), whole.size());
    for (std::size_t rows : { 1, 3 }) {
        TThunderDecoder codec(width);
        TRowsPartDecoder parts(codec, input.data(), input.size());
        EXPECT_EQ(DecodeInParts(parts, unpackedSize, std::max<std::size_t>(rows * rowBytes, 1)), whole)
            << "in parts of " << rows << " rows";
    }
    return output;
}

TEST(Thunder, CodesOfEachKind)
{
    const TBytes input{
        0xC7,       // raw 7
        0x03,       // run of 3 more 7s (odd position completed first)
        0x4E,       // 2-bit deltas 0, +0 (3), skip (2): 01 00 11 10 -> +0, -1, skip
        0x9D,       // 3-bit deltas: 011 (+3), 101 (-3)
        0xCF,       // raw 15
    };
    // Pixels: 7 | 7 7 7 | 7 6 | 9 6 | 15 -> 7 7 7 7 7 6 9 6 15, width 9.
    EXPECT_EQ(Decode(input, 9, 5), (TBytes{0x77, 0x77, 0x76, 0x96, 0xF0}));
}

TEST(Thunder, EveryRowStartsFromZeroAndEndsAtTheWidth)
{
    // Row 1 (3 pixels): raw 5, +1, +1, +1 (a fourth pixel is cut). Row 2: +1, +1, -1 from 0.
    const TBytes input{0xC5, 0x55, 0x57};
    EXPECT_EQ(Decode(input, 3, 4), (TBytes{0x56, 0x70, 0x12, 0x10}));
}

TEST(Thunder, RunsAreClippedAtTheRowAndOutput)
{
    EXPECT_EQ(Decode({0xC3, 0x3F}, 5, 3), (TBytes{0x33, 0x33, 0x30}));
    EXPECT_EQ(Decode({0xC3, 0x3F}, 200, 2), (TBytes{0x33, 0x33}));
    EXPECT_EQ(Decode({0xC3, 0x3F}, 0, 2), (TBytes{0xCD, 0xCD}));
}

// Codes of valid rows: exactly width pixels each, as ThunderScan writes them. No run ends a
// row: libtiff drops such a run (it writes a run only when it ends before the row's end).
TBytes RandomRows(std::uint32_t width, std::uint32_t height, std::mt19937& random)
{
    TBytes codes;
    std::uniform_int_distribution<int> kind(0, 3), value(0, 63);
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint32_t pixels = 0;
        while (pixels < width) {
            const std::uint32_t left = width - pixels;
            switch (kind(random)) {
            case 0: {
                const std::uint32_t run = std::min<std::uint32_t>(left - 1, std::uint32_t(value(random)));
                codes.push_back(static_cast<std::uint8_t>(run));
                pixels += run;
                break;
            }
            case 1:
                if (left < 3)
                    continue;
                codes.push_back(static_cast<std::uint8_t>(0x40 | (value(random) & 0x3F & ~0x2A)));
                pixels += 3; // deltas 0, 1 or 3 only: no skips
                break;
            case 2: {
                if (left < 2)
                    continue;
                int first = value(random) & 7, second = value(random) & 7;
                first = first == 4 ? 0 : first;
                second = second == 4 ? 1 : second;
                codes.push_back(static_cast<std::uint8_t>(0x80 | first << 3 | second));
                pixels += 2;
                break;
            }
            default:
                codes.push_back(static_cast<std::uint8_t>(0xC0 | (value(random) & 15)));
                pixels += 1;
                break;
            }
        }
    }
    return codes;
}

TEST(Thunder, DecodesStripsAsLibtiffDoes)
{
    std::mt19937 random(9);
    for (std::uint32_t width : {1u, 2u, 7u, 64u, 301u}) {
        TTiffPlan layout;
        layout.Width = width;
        layout.Height = 20;
        layout.RowsPerStrip = 20;
        layout.BitsPerSample = 4;
        layout.Compression = COMPRESSION_THUNDERSCAN;
        const TTiffStrips strips = TiffRawRoundTrip(layout, {RandomRows(width, 20, random)});
        ASSERT_EQ(strips.Decoded.size(), 1u);
        EXPECT_EQ(Decode(strips.Raw[0], width, strips.Decoded[0].size()), strips.Decoded[0]) << width;
    }
}

}
