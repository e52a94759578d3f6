#include "imaging/codecs/ccitt.h"

#include "codectestutil.h"

#include <gtest/gtest.h>
#include <tiffio.h>

namespace {

// Packs code strings ("0011") most significant bit first.
class TBitWriter {
public:
    TBitWriter& Put(const char* bits)
    {
        for (; *bits; ++bits) {
            if (FBits % 8 == 0)
                FBytes.push_back(0);
            if (*bits == '1')
                FBytes.back() |= static_cast<std::uint8_t>(0x80 >> FBits % 8);
            ++FBits;
        }
        return *this;
    }
    TBitWriter& AlignToByte()
    {
        FBits = (FBits + 7) / 8 * 8;
        return *this;
    }
    TBytes Bytes() const { return FBytes; }

private:
    TBytes FBytes;
    std::size_t FBits = 0;
};

constexpr const char* EOL = "000000000001";

template <class TDecoderClass>
TBytes Decode(TBytes& input, std::uint32_t width, std::size_t unpackedSize, bool wordAligned = false,
    bool bitReversal = false)
{
    TBytes output(unpackedSize, 0xCD); // the codec clears its output first
    const TBytes stored = input; // reversed in place with bitReversal
    std::uint8_t* source = input.data();
    std::uint8_t* dest = output.data();
    TDecoderClass decoder(0, width, wordAligned, bitReversal);
    decoder.DecodeData(source, dest, input.size(), output.size());
    EXPECT_EQ(source, input.data());
    EXPECT_EQ(dest, output.data());
    // In parts of whole rows, the strip is the same.
    for (std::size_t rows : { 1, 2 }) {
        TBytes again = stored;
        TDecoderClass codec(0, width, wordAligned, bitReversal);
        TRowsPartDecoder parts(codec, again.data(), again.size());
        EXPECT_EQ(DecodeInParts(parts, unpackedSize, std::max<std::size_t>(rows * ((width + 7) / 8), 1)), output)
            << "in parts of " << rows << " rows";
    }
    return output;
}

TEST(ModifiedHuffman, RowOfEightWhiteIsOneZeroByteAndNextRowStartsOnNextByte)
{
    // Row 1: white 8 ("10011", then 3 fill bits). Row 2: white 0, black 8.
    TBytes input = TBitWriter().Put("10011").AlignToByte().Put("00110101").Put("000101").Bytes();
    EXPECT_EQ(Decode<TCCITTMHDecoder>(input, 8, 2), (TBytes{0x00, 0xFF}));
}

TEST(ModifiedHuffman, WordAlignmentSkipsAnOddByte)
{
    // Row 1 ends in byte 0; with word alignment row 2 starts at byte 2.
    TBitWriter writer;
    writer.Put("10011").AlignToByte().Put("00000000"); // row 1, fill byte
    writer.Put("00110101").Put("000101");              // row 2: white 0, black 8
    TBytes input = writer.Bytes();
    EXPECT_EQ(Decode<TCCITTMHDecoder>(input, 8, 2, true), (TBytes{0x00, 0xFF}));
}

TEST(ModifiedHuffman, MakeUpAndExtendedCodesAddUp)
{
    // Width 4000: white 2560 + 1728 - cut at the row end? No: white 1792 (extended) + 0,
    // black 1728 + 64 + 63 (wait: 1855), white 353 (320 + 33).
    TBitWriter writer;
    writer.Put("00000001000").Put("00110101");             // white 1792
    writer.Put("0000001100101").Put("0000001111").Put("000001100111"); // black 1728+64+63
    writer.Put("00110110").Put("00010010");                // white 320 + 33
    TBytes input = writer.Bytes();
    const TBytes output = Decode<TCCITTMHDecoder>(input, 4000, 500);
    for (std::size_t pixel = 0; pixel < 4000; ++pixel) {
        const bool black = output[pixel / 8] >> (7 - pixel % 8) & 1;
        ASSERT_EQ(black, pixel >= 1792 && pixel < 1792 + 1855) << pixel;
    }
}

TEST(ModifiedHuffman, RunsAreClippedAtRowAndOutputEnd)
{
    // Width 10: black 64 (make-up) + 0 covers the row; a second row is cut by the output.
    TBitWriter writer;
    writer.Put("00110101").Put("0000001111").Put("0000110111").AlignToByte();
    writer.Put("00110101").Put("0000001111").Put("0000110111");
    TBytes input = writer.Bytes();
    EXPECT_EQ(Decode<TCCITTMHDecoder>(input, 10, 3), (TBytes{0xFF, 0xC0, 0xFF}));
}

TEST(FaxT4, RowsFollowTheirEOLs)
{
    TBitWriter writer;
    writer.Put("0000").Put(EOL).Put("0111").Put("11").Put("0111");      // fill bits; W2 B2 W2
    writer.Put(EOL).Put("00110101").Put("010").Put("1100");            // W0 B1 W5
    TBytes input = writer.Bytes();
    EXPECT_EQ(Decode<TCCITTFax3Decoder>(input, 6, 2), (TBytes{0x30, 0x80}));
}

TEST(FaxT4, EOLInsideARowEndsItAndTheNextRowKeepsItsPlace)
{
    // Width 16: row 1 has black 3 then an EOL (row cut short); row 2 starts right after
    // that EOL without searching for another, and lands at byte 2.
    TBitWriter writer;
    writer.Put(EOL).Put("00110101").Put("10").Put(EOL);
    writer.Put("00110101").Put("0000010111");                         // W0 B16
    TBytes input = writer.Bytes();
    EXPECT_EQ(Decode<TCCITTFax3Decoder>(input, 16, 4), (TBytes{0xE0, 0x00, 0xFF, 0xFF}));
}

TEST(FaxT4, BitReversalHappensInTheCallersBuffer)
{
    TBitWriter writer;
    writer.Put(EOL).Put("00110101").Put("000101");                     // W0 B8
    const TBytes plain = writer.Bytes();
    TBytes reversed = plain;
    for (auto& byte : reversed) {
        std::uint8_t value = 0;
        for (int bit = 0; bit < 8; ++bit)
            value |= static_cast<std::uint8_t>((byte >> bit & 1) << (7 - bit));
        byte = value;
    }
    EXPECT_EQ(Decode<TCCITTFax3Decoder>(reversed, 8, 1, false, true), TBytes{0xFF});
    EXPECT_EQ(reversed, plain);
}

struct TFaxCase {
    const char* Name;
    std::uint16_t Compression;
    std::uint32_t Group3Options;
    std::uint16_t FillOrder;
    std::uint32_t Width;
};

class FaxAgainstLibtiff : public testing::TestWithParam<TFaxCase> {};

// Rows of random runs: short ones and long ones that need make-up and extended codes.
TBytes RandomBilevel(std::uint32_t width, std::uint32_t height, std::mt19937& random)
{
    const std::size_t rowBytes = (width + 7) / 8;
    TBytes bits(rowBytes * height, 0);
    std::uniform_int_distribution<int> shortRun(1, 70), longRun(60, 3000), kind(0, 4);
    for (std::uint32_t y = 0; y < height; ++y) {
        bool black = false;
        for (std::uint32_t x = 0; x < width;) {
            const std::uint32_t run = std::min<std::uint32_t>(width - x, kind(random) == 0 ? longRun(random) : shortRun(random));
            if (black)
                for (std::uint32_t pixel = x; pixel < x + run; ++pixel)
                    bits[y * rowBytes + pixel / 8] |= static_cast<std::uint8_t>(0x80 >> pixel % 8);
            x += run;
            black = !black;
        }
    }
    return bits;
}

TEST_P(FaxAgainstLibtiff, DecodesStripsAsLibtiffDoes)
{
    const TFaxCase& test = GetParam();
    std::mt19937 random(17);
    TTiffPlan layout;
    layout.Width = test.Width;
    layout.Height = 60;
    layout.RowsPerStrip = 25;
    layout.BitsPerSample = 1;
    layout.Photometric = PHOTOMETRIC_MINISWHITE;
    layout.Compression = test.Compression;
    layout.Group3Options = test.Group3Options;
    layout.FillOrder = test.FillOrder;
    const TBytes pixels = RandomBilevel(test.Width, 60, random);
    const TTiffStrips strips = TiffRoundTrip(layout, pixels);
    const std::size_t rowBytes = (test.Width + 7) / 8;
    for (std::size_t strip = 0; strip < strips.Raw.size(); ++strip) {
        const std::size_t first = strip * 25 * rowBytes;
        const TBytes expected(pixels.begin() + first, pixels.begin() + std::min(pixels.size(), first + 25 * rowBytes));
        TBytes raw = strips.Raw[strip];
        const TBytes ours = test.Compression == COMPRESSION_CCITTFAX3
            ? Decode<TCCITTFax3Decoder>(raw, test.Width, expected.size(), false, test.FillOrder == 2)
            : Decode<TCCITTMHDecoder>(raw, test.Width, expected.size(),
                test.Compression == COMPRESSION_CCITTRLEW, test.FillOrder == 2);
        ASSERT_EQ(ours, expected) << "strip " << strip;
        // libtiff decodes its own word-aligned data only when its buffer happens to be aligned
        // like the file; where it succeeds it must agree.
        if (test.Compression != COMPRESSION_CCITTRLEW) {
            ASSERT_EQ(ours, strips.Decoded[strip]) << "strip " << strip;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, FaxAgainstLibtiff, testing::Values(
    TFaxCase{"ModifiedHuffman", COMPRESSION_CCITTRLE, 0, 1, 1728},
    TFaxCase{"ModifiedHuffmanWide", COMPRESSION_CCITTRLE, 0, 1, 6000},
    TFaxCase{"ModifiedHuffmanReversed", COMPRESSION_CCITTRLE, 0, 2, 333},
    TFaxCase{"WordAligned", COMPRESSION_CCITTRLEW, 0, 1, 1001},
    TFaxCase{"T4", COMPRESSION_CCITTFAX3, 0, 1, 1728},
    TFaxCase{"T4Wide", COMPRESSION_CCITTFAX3, 0, 1, 5000},
    TFaxCase{"T4Reversed", COMPRESSION_CCITTFAX3, 0, 2, 97},
    TFaxCase{"T4FillBits", COMPRESSION_CCITTFAX3, GROUP3OPT_FILLBITS, 1, 850}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

// ---- bad data ----
// The fax codecs report nothing: on bad or short data they stop early or keep zeros (white),
// never write past the output wanted and leave the caller's pointers where they were.

struct TFaxCodec {
    const char* Name;
    std::uint16_t Compression; // the TIFF compression it decodes
    bool WordAligned;
};

class FaxCodecsOnBadData : public testing::TestWithParam<TFaxCodec> {
protected:
    // The output wanted, decoded into a buffer with guard bytes behind it.
    TBytes Decode(TBytes input, std::uint32_t width, std::size_t unpackedSize, bool bitReversal = false) const
    {
        constexpr std::size_t GuardBytes = 32;
        TBytes output(unpackedSize + GuardBytes, 0xCD);
        std::uint8_t* source = input.data();
        std::uint8_t* dest = output.data();
        const auto decode = [&](auto&& decoder) { decoder.DecodeData(source, dest, input.size(), unpackedSize); };
        if (GetParam().Compression == COMPRESSION_CCITTFAX3)
            EXPECT_NO_THROW(decode(TCCITTFax3Decoder(0, width, GetParam().WordAligned, bitReversal)));
        else
            EXPECT_NO_THROW(decode(TCCITTMHDecoder(0, width, GetParam().WordAligned, bitReversal)));
        EXPECT_EQ(source, input.data());
        EXPECT_EQ(dest, output.data());
        EXPECT_EQ(TBytes(output.begin() + std::ptrdiff_t(unpackedSize), output.end()), TBytes(GuardBytes, 0xCD))
            << "written past the output";
        output.resize(unpackedSize);
        return output;
    }
};

TEST_P(FaxCodecsOnBadData, NoCodesLeaveTheOutputWhite)
{
    for (const std::size_t size : { 0, 1, 9, 40 }) {
        EXPECT_EQ(Decode({}, 24, size), TBytes(size, 0)) << "no input, " << size << " bytes wanted";
        EXPECT_EQ(Decode(TBytes(64, 0), 24, size), TBytes(size, 0)) << "zeros, " << size << " bytes wanted";
    }
}

// Once undefined: clearing "nothing" at a null output.
TEST_P(FaxCodecsOnBadData, NothingWantedTouchesNoOutputAtAll)
{
    std::mt19937 random(9);
    TBytes input = NoisePixels(50, random);
    std::uint8_t* source = input.data();
    std::uint8_t* dest = nullptr;
    if (GetParam().Compression == COMPRESSION_CCITTFAX3)
        EXPECT_NO_THROW(TCCITTFax3Decoder(0, 16, false, false).DecodeData(source, dest, input.size(), 0));
    else
        EXPECT_NO_THROW(TCCITTMHDecoder(0, 16, GetParam().WordAligned, false).DecodeData(source, dest, input.size(), 0));
    EXPECT_EQ(source, input.data());
    EXPECT_EQ(dest, nullptr);
}

TEST_P(FaxCodecsOnBadData, NoiseNeverReachesPastTheOutput)
{
    std::mt19937 random(4);
    for (int round = 0; round < 200; ++round)
        Decode(NoisePixels(1 + round, random), 1 + round * 7, round % 50, round % 3 == 0);
}

TEST_P(FaxCodecsOnBadData, TruncatedDataKeepsTheRowsBeforeTheCut)
{
    constexpr std::uint32_t Width = 300, Height = 40;
    std::mt19937 random(23);
    TTiffPlan plan;
    plan.Width = Width;
    plan.Height = Height;
    plan.BitsPerSample = 1;
    plan.Photometric = PHOTOMETRIC_MINISWHITE;
    plan.Compression = GetParam().Compression;
    const TBytes pixels = RandomBilevel(Width, Height, random);
    const TBytes raw = TiffRoundTrip(plan, pixels).Raw.at(0);
    ASSERT_EQ(Decode(raw, Width, pixels.size()), pixels);
    const std::size_t rowBytes = (Width + 7) / 8;
    for (const std::size_t cut : { raw.size() / 4, raw.size() / 2, raw.size() - 1 }) {
        const TBytes ours = Decode(TBytes(raw.begin(), raw.begin() + std::ptrdiff_t(cut)), Width, pixels.size());
        const std::size_t differs = std::size_t(std::mismatch(ours.begin(), ours.end(), pixels.begin()).first - ours.begin());
        ASSERT_GE(differs, rowBytes) << "cut at " << cut << ": not even the first row";
        const std::size_t rest = std::min(ours.size(), (differs / rowBytes + 1) * rowBytes);
        EXPECT_EQ(TBytes(ours.begin() + std::ptrdiff_t(rest), ours.end()), TBytes(ours.size() - rest, 0))
            << "cut at " << cut << ": rows after the last one decoded are not white";
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, FaxCodecsOnBadData, testing::Values(
    TFaxCodec{"T4", COMPRESSION_CCITTFAX3, false},
    TFaxCodec{"ModifiedHuffman", COMPRESSION_CCITTRLE, false},
    TFaxCodec{"ModifiedHuffmanWordAligned", COMPRESSION_CCITTRLEW, true}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

TEST(FaxCodecs, CorpusStripsDecodeAsLibtiffDoes)
{
    if (CorpusDir().empty())
        GTEST_SKIP() << "corpus absent";
    ForEachCorpusStrip(
        [](std::uint16_t compression) {
            return compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTRLEW
                || compression == COMPRESSION_CCITTFAX3;
        },
        [](const TCorpusStrip& strip) {
            const TTiffPlan& layout = strip.Layout;
            if (layout.Compression == COMPRESSION_CCITTFAX3 && (layout.Group3Options & GROUP3OPT_2DENCODING))
                return; // two-dimensional rows are not decoded
            TBytes raw = strip.Raw;
            const bool reversed = layout.FillOrder == 2;
            const TBytes ours = layout.Compression == COMPRESSION_CCITTFAX3
                ? Decode<TCCITTFax3Decoder>(raw, layout.Width, strip.Decoded.size(), false, reversed)
                : Decode<TCCITTMHDecoder>(raw, layout.Width, strip.Decoded.size(),
                    layout.Compression == COMPRESSION_CCITTRLEW, reversed);
            // libtiff delivers 0 = white only for Photometric 0; compare in its terms.
            TBytes expected = strip.Decoded;
            if (layout.Photometric == PHOTOMETRIC_MINISBLACK)
                for (auto& byte : expected)
                    byte = static_cast<std::uint8_t>(~byte);
            ASSERT_EQ(ours, expected) << strip.File << " strip " << strip.Strip;
        });
}

}
