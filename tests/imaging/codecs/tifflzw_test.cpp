#include "imaging/codecs/tifflzw.h"

#include "codectestutil.h"

#include <gtest/gtest.h>
#include <tiffio.h>

namespace {

// Packs codes most significant bit first, as TIFF LZW stores them.
class TCodeWriter {
public:
    void Put(unsigned code, int width)
    {
        for (int bit = width - 1; bit >= 0; --bit) {
            if (FBits % 8 == 0)
                FBytes.push_back(0);
            if (code >> bit & 1)
                FBytes.back() |= static_cast<std::uint8_t>(0x80 >> FBits % 8);
            ++FBits;
        }
    }
    TBytes Bytes() const { return FBytes; }

private:
    TBytes FBytes;
    std::size_t FBits = 0;
};

TBytes Decode(TBytes input, std::size_t unpackedSize, std::uint8_t fill = 0xCD)
{
    TBytes output(unpackedSize, fill);
    std::uint8_t* source = input.data();
    std::uint8_t* dest = output.data();
    TTIFFLZWDecoder decoder;
    decoder.BeginDecoding();
    decoder.DecodeData(source, dest, input.size(), output.size());
    decoder.EndDecoding();
    EXPECT_EQ(source, input.data()); // only the deflate codec moves the pointers
    EXPECT_EQ(dest, output.data());
    // DecodeStrip writes every byte: the decoded ones, then zeros where DecodeData stops.
    TBytes cleared(unpackedSize, 0);
    source = input.data();
    dest = cleared.data();
    decoder.DecodeData(source, dest, input.size(), cleared.size());
    TBytes whole(unpackedSize, 0xAB);
    decoder.DecodeStrip(input.data(), input.size(), whole.data(), whole.size());
    EXPECT_EQ(whole, cleared);
    // Decoded in parts of any size (a large strip), the strip is the same.
    for (std::size_t part : { std::size_t(1), std::size_t(7), std::size_t(4099) }) {
        TLZWPartDecoder parts(input.data(), input.size());
        EXPECT_EQ(DecodeInParts(parts, unpackedSize, part), whole) << "in parts of " << part;
    }
    return output;
}

TEST(TIFFLZW, ClearABThenNewCodeThenEnd)
{
    TCodeWriter codes;
    for (unsigned code : {256u, 65u, 66u, 258u, 257u})
        codes.Put(code, 9);
    EXPECT_EQ(Decode(codes.Bytes(), 6), (TBytes{'A', 'B', 'A', 'B', 0xCD, 0xCD}));
}

TEST(TIFFLZW, CodeEqualToNextFreeRepeatsPreviousStringAndItsFirstByte)
{
    TCodeWriter codes; // A, then 258 = "AA" before it is defined, then 259 = "AAA"
    for (unsigned code : {256u, 65u, 258u, 259u, 257u})
        codes.Put(code, 9);
    EXPECT_EQ(Decode(codes.Bytes(), 6), TBytes(6, 'A'));
}

TEST(TIFFLZW, CodesAboveNextFreeCodeAreDropped)
{
    TCodeWriter codes;
    for (unsigned code : {256u, 65u, 300u, 66u, 257u})
        codes.Put(code, 9);
    EXPECT_EQ(Decode(codes.Bytes(), 3), (TBytes{'A', 'B', 0xCD}));
}

TEST(TIFFLZW, StartsWithoutClearCodeAndStopsAtEndCode)
{
    TCodeWriter codes;
    for (unsigned code : {65u, 66u, 257u, 67u})
        codes.Put(code, 9);
    EXPECT_EQ(Decode(codes.Bytes(), 3), (TBytes{'A', 'B', 0xCD}));
}

// After the literal codes that bring the next free code to 511, 1023 or 2047, the next code
// is one bit wider (one code early); a code with the old width would decode differently.
class TIFFLZWWidth : public testing::TestWithParam<unsigned> {};

TEST_P(TIFFLZWWidth, GrowsOneCodeEarly)
{
    const unsigned threshold = GetParam(); // 511, 1023 or 2047
    TCodeWriter codes;
    codes.Put(256, 9);
    TBytes expected;
    unsigned nextCode = 258;
    int width = 9;
    for (unsigned index = 0; nextCode < threshold; ++index) {
        const unsigned literal = index % 251;
        codes.Put(literal, width);
        expected.push_back(static_cast<std::uint8_t>(literal));
        if (index > 0)
            ++nextCode;
        width = nextCode >= 2047 ? 12 : nextCode >= 1023 ? 11 : nextCode >= 511 ? 10 : 9;
    }
    ASSERT_EQ(width, threshold == 511 ? 10 : threshold == 1023 ? 11 : 12);
    codes.Put(65, width);
    codes.Put(257, width);
    expected.push_back('A');
    EXPECT_EQ(Decode(codes.Bytes(), expected.size() + 1, 0), [&] { auto e = expected; e.push_back(0); return e; }());
}

INSTANTIATE_TEST_SUITE_P(Thresholds, TIFFLZWWidth, testing::Values(511u, 1023u, 2047u),
    [](const auto& testInfo) { return "At" + std::to_string(testInfo.param); });

TEST(TIFFLZW, FullTableTakesNoMoreEntriesAndStaysAtTwelveBits)
{
    // Literals until the table is full (next free code 4096), then more literals and a code
    // for the last entry: all read with 12 bits.
    TCodeWriter codes;
    codes.Put(256, 9);
    TBytes expected;
    unsigned nextCode = 258;
    int width = 9;
    for (unsigned index = 0; index < 4000; ++index) {
        codes.Put(index % 256, width);
        expected.push_back(static_cast<std::uint8_t>(index % 256));
        if (index > 0 && nextCode < 4096)
            ++nextCode;
        width = nextCode >= 2047 ? 12 : nextCode >= 1023 ? 11 : nextCode >= 511 ? 10 : 9;
    }
    ASSERT_EQ(nextCode, 4096u);
    codes.Put(4095, 12); // entry 4095 = (literal of index 3837, literal of index 3838)
    expected.push_back(static_cast<std::uint8_t>(3837 % 256));
    expected.push_back(static_cast<std::uint8_t>(3838 % 256));
    codes.Put(257, 12);
    EXPECT_EQ(Decode(codes.Bytes(), expected.size()), expected);
}

struct TTiffCase {
    const char* Name;
    int Picture; // 0 noise, 1 smooth, 2 blocks
    std::uint16_t Samples;
    std::uint16_t Predictor;
    std::uint32_t Width, Height, RowsPerStrip;
};

class TIFFLZWAgainstLibtiff : public testing::TestWithParam<TTiffCase> {};

TEST_P(TIFFLZWAgainstLibtiff, DecodesStripsAsLibtiffDoes)
{
    const TTiffCase& test = GetParam();
    std::mt19937 random(7);
    const std::size_t count = std::size_t(test.Width) * test.Height * test.Samples;
    const TBytes pixels = test.Picture == 0 ? NoisePixels(count, random)
        : test.Picture == 1 ? SmoothPixels(test.Width, test.Height, test.Samples) : BlockPixels(count, random);
    TTiffPlan layout;
    layout.Width = test.Width;
    layout.Height = test.Height;
    layout.RowsPerStrip = test.RowsPerStrip;
    layout.SamplesPerPixel = test.Samples;
    layout.Photometric = test.Samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    layout.Compression = COMPRESSION_LZW;
    layout.Predictor = test.Predictor;
    const TTiffStrips strips = TiffRoundTrip(layout, pixels);
    for (std::size_t strip = 0; strip < strips.Raw.size(); ++strip) {
        TBytes ours = Decode(strips.Raw[strip], strips.StripSize);
        ours.resize(strips.Decoded[strip].size());
        if (test.Predictor == 2)
            UndoPredictor(ours, test.Width, test.Samples);
        ASSERT_EQ(ours, strips.Decoded[strip]) << "strip " << strip;
    }
}

INSTANTIATE_TEST_SUITE_P(Pictures, TIFFLZWAgainstLibtiff, testing::Values(
    TTiffCase{"Noise", 0, 1, 1, 509, 300, 300},
    TTiffCase{"NoiseRGBStrips", 0, 3, 1, 200, 100, 7},
    TTiffCase{"Smooth", 1, 3, 1, 640, 480, 64},
    TTiffCase{"SmoothPredictor", 1, 3, 2, 640, 480, 480},
    TTiffCase{"BlocksPredictor", 2, 1, 2, 333, 200, 33},
    TTiffCase{"Blocks", 2, 1, 1, 1024, 512, 512},
    TTiffCase{"OnePixel", 0, 1, 1, 1, 1, 1}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

TEST(TIFFLZW, ShortOutputAndTruncatedInputGivePrefixesAndNothingMore)
{
    std::mt19937 random(3);
    TTiffPlan layout;
    layout.Width = 256;
    layout.Height = 64;
    layout.RowsPerStrip = 64;
    layout.Compression = COMPRESSION_LZW;
    const TBytes pixels = BlockPixels(256 * 64, random, 15);
    const TTiffStrips strips = TiffRoundTrip(layout, pixels);
    const TBytes& raw = strips.Raw[0];
    for (std::size_t size : {std::size_t(0), std::size_t(1), std::size_t(2), std::size_t(100), std::size_t(5000)}) {
        TBytes output = Decode(raw, size + 16);
        output.resize(size); // decoding is asked for size bytes only below
        TBytes exact = Decode(raw, size);
        EXPECT_TRUE(std::equal(exact.begin(), exact.end(), pixels.begin())) << size;
    }
    for (std::size_t cut = 0; cut < raw.size(); cut += 37) {
        const TBytes output = Decode(TBytes(raw.begin(), raw.begin() + cut), pixels.size());
        std::size_t same = 0;
        while (same < output.size() && output[same] == pixels[same])
            ++same;
        for (std::size_t index = same; index < output.size(); ++index)
            ASSERT_EQ(output[index], 0xCD) << "cut " << cut << " byte " << index;
    }
}

// Long strings and strings that repeat themselves (a flat picture), with the output ending at
// every size around them: strings near the end are copied exactly, the others in blocks.
TEST(TIFFLZW, FlatPictureDecodesAtEveryOutputSize)
{
    TTiffPlan layout;
    layout.Width = 300;
    layout.Height = 20;
    layout.RowsPerStrip = 20;
    layout.Compression = COMPRESSION_LZW;
    TBytes pixels(300 * 20, 0x5A);
    for (std::size_t i = 4000; i < pixels.size(); ++i) // then a slow ramp: strings of every length
        pixels[i] = static_cast<std::uint8_t>(i / 97);
    const TTiffStrips strips = TiffRoundTrip(layout, pixels);
    ASSERT_EQ(strips.Decoded[0], pixels);
    const TBytes& raw = strips.Raw[0];
    for (std::size_t size = 1; size <= pixels.size(); size += size < 300 ? 1 : 97) {
        const TBytes output = Decode(raw, size);
        ASSERT_TRUE(std::equal(output.begin(), output.end(), pixels.begin())) << size;
    }
    EXPECT_EQ(Decode(raw, pixels.size() + 40, 0), [&] { auto e = pixels; e.resize(e.size() + 40); return e; }());
}

// Random bytes: codes of every kind, dropped ones included. Decode compares both ways of
// decoding; the sanitizers watch the block copies.
TEST(TIFFLZW, RandomDataDecodesAlikeBothWays)
{
    std::mt19937 random(11);
    for (int round = 0; round < 3000; ++round) {
        TBytes input(1 + random() % 700);
        // Mostly small values: many literal and repeated-string codes, few dropped ones.
        const unsigned limit = round % 3 == 0 ? 256 : 4;
        for (std::uint8_t& byte : input)
            byte = static_cast<std::uint8_t>(random() % limit);
        if (round % 2 == 0 && input.size() > 2) { // a clear code first
            input[0] = 0x80;
            input[1] &= 0x7F;
        } else if (round % 4 == 1 && input.size() > 2) { // the older variant
            input[0] = 0;
            input[1] |= 1;
        }
        Decode(input, 1 + random() % 4000);
    }
}

// Data of the older variant is LZW as GIF stores it with 8-bit codes; it starts with 0x00 and
// an odd byte (its clear code).
TEST(TIFFLZW, OlderVariantDecodesAsGIFLZW)
{
    std::mt19937 random(13);
    for (int picture = 0; picture < 2; ++picture) {
        const TBytes indices = picture == 0 ? NoisePixels(300 * 200, random) : BlockPixels(300 * 200, random, 40);
        int codeSize = 0;
        const TBytes packed = GifCompress(indices, 300, 200, 8, codeSize);
        ASSERT_EQ(codeSize, 8);
        ASSERT_TRUE(packed.size() > 2 && packed[0] == 0 && (packed[1] & 1));
        EXPECT_EQ(Decode(packed, indices.size()), indices);
    }
}

TEST(TIFFLZW, CorpusStripsDecodeAsLibtiffDoes)
{
    if (CorpusDir().empty())
        GTEST_SKIP() << "corpus absent";
    const std::size_t visited = ForEachCorpusStrip(
        [](std::uint16_t compression) { return compression == COMPRESSION_LZW; },
        [](const TCorpusStrip& strip) {
            const TTiffPlan& layout = strip.Layout;
            if (layout.FillOrder != 1 || layout.Predictor > 2
                || (layout.Predictor == 2 && (layout.BitsPerSample != 8 || layout.PlanarConfig != 1))
                || (strip.ByteSwapped && layout.BitsPerSample == 16))
                return;
            TBytes ours = Decode(strip.Raw, strip.StripSize);
            ours.resize(strip.Decoded.size());
            if (layout.Predictor == 2)
                UndoPredictor(ours, layout.Width, layout.SamplesPerPixel);
            ASSERT_EQ(ours, strip.Decoded) << strip.File << " strip " << strip.Strip;
        });
    EXPECT_GT(visited, 0u);
}

}
