#include "imaging/codecs/packbits.h"

#include "codectestutil.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>

namespace {

TBytes Decode(TBytes input, std::size_t unpackedSize)
{
    TBytes output(unpackedSize, 0xCD);
    std::uint8_t* source = input.data();
    std::uint8_t* dest = output.data();
    TPackbitsRLEDecoder decoder;
    decoder.DecodeData(source, dest, input.size(), output.size());
    EXPECT_EQ(source, input.data());
    EXPECT_EQ(dest, output.data());
    // A strip decoded whole (into zeros) or in parts of any size is the same.
    TBytes whole(unpackedSize, 0);
    source = input.data();
    dest = whole.data();
    decoder.DecodeData(source, dest, input.size(), whole.size());
    for (std::size_t part : { std::size_t(1), std::size_t(5), std::size_t(300) }) {
        TPackBitsPartDecoder parts(input.data(), input.size());
        EXPECT_EQ(DecodeInParts(parts, unpackedSize, part), whole) << "in parts of " << part;
    }
    return output;
}

struct TPackbitsCase {
    const char* Name;
    TBytes Input;
    std::size_t UnpackedSize;
    TBytes Expected;
};

class PackBits : public testing::TestWithParam<TPackbitsCase> {};

TEST_P(PackBits, Decodes)
{
    EXPECT_EQ(Decode(GetParam().Input, GetParam().UnpackedSize), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, PackBits, testing::Values(
    TPackbitsCase{"RepeatThree", {0xFE, 0xAA}, 4, {0xAA, 0xAA, 0xAA, 0xCD}},
    TPackbitsCase{"NoOperation", {0x80}, 2, {0xCD, 0xCD}},
    TPackbitsCase{"NoOperationBetweenRuns", {0x00, 0x11, 0x80, 0xFF, 0x22}, 4, {0x11, 0x22, 0x22, 0xCD}},
    TPackbitsCase{"CopyThree", {0x02, 0x01, 0x02, 0x03}, 4, {0x01, 0x02, 0x03, 0xCD}},
    TPackbitsCase{"RepeatLimitedByOutput", {0x81, 0x55}, 5, {0x55, 0x55, 0x55, 0x55, 0x55}},
    TPackbitsCase{"CopyLimitedByOutput", {0x03, 1, 2, 3, 4, 0xFE, 9}, 2, {1, 2}},
    TPackbitsCase{"CopyLimitedByInput", {0x05, 1, 2}, 4, {1, 2, 0xCD, 0xCD}},
    TPackbitsCase{"RepeatWithoutItsByte", {0x00, 7, 0xFD}, 3, {7, 0xCD, 0xCD}},
    TPackbitsCase{"LongestRuns", {0x81, 1, 0x7F}, 131, [] {
        TBytes expected(131, 0xCD);
        std::fill_n(expected.begin(), 128, 1);
        return expected;
    }()}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

TEST(PackBits, DecodesStripsAsLibtiffDoes)
{
    std::mt19937 random(5);
    for (int picture = 0; picture < 3; ++picture) {
        TTiffPlan layout;
        layout.Width = 517;
        layout.Height = 93;
        layout.RowsPerStrip = 10;
        layout.SamplesPerPixel = 3;
        layout.Photometric = PHOTOMETRIC_RGB;
        layout.Compression = COMPRESSION_PACKBITS;
        const std::size_t count = std::size_t(layout.Width) * layout.Height * 3;
        const TBytes pixels = picture == 0 ? NoisePixels(count, random)
            : picture == 1 ? BlockPixels(count, random, 3) : SmoothPixels(layout.Width, layout.Height, 3);
        const TTiffStrips strips = TiffRoundTrip(layout, pixels);
        for (std::size_t strip = 0; strip < strips.Raw.size(); ++strip) {
            TBytes ours = Decode(strips.Raw[strip], strips.Decoded[strip].size());
            ASSERT_EQ(ours, strips.Decoded[strip]) << "picture " << picture << " strip " << strip;
        }
    }
}

// Random runs ending anywhere: the long-run copies may not leave bytes behind the data.
TEST(PackBits, RandomDataDecodesAlikeWholeAndInParts)
{
    std::mt19937 random(17);
    for (int round = 0; round < 2000; ++round) {
        TBytes input = NoisePixels(1 + random() % 600, random);
        if (round % 2 == 0) // many no-op codes
            for (std::uint8_t& byte : input)
                if (random() % 3 == 0)
                    byte = 0x80;
        Decode(input, 1 + random() % 3000);
    }
}

TEST(PackBits, CorpusStripsDecodeAsLibtiffDoes)
{
    if (CorpusDir().empty())
        GTEST_SKIP() << "corpus absent";
    ForEachCorpusStrip([](std::uint16_t compression) { return compression == COMPRESSION_PACKBITS; },
        [](const TCorpusStrip& strip) {
            if (strip.Layout.FillOrder != 1 || (strip.ByteSwapped && strip.Layout.BitsPerSample == 16))
                return;
            ASSERT_EQ(Decode(strip.Raw, strip.Decoded.size()), strip.Decoded) << strip.File << " strip " << strip.Strip;
        });
}

}
