#include "imaging/codecs/lz77.h"
#include "imaging/codecs/partdecoders.h"

#include "codectestutil.h"

#include <gtest/gtest.h>
#include <tiffio.h>
#include <zlib.h>

namespace {

TBytes Deflate(const TBytes& data, int level = 6)
{
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    TBytes packed(length);
    compress2(packed.data(), &length, data.data(), static_cast<uLong>(data.size()), level);
    packed.resize(length);
    return packed;
}

TEST(LZ77, OneCallDecodesAStreamAndAdvancesThePointers)
{
    std::mt19937 random(2);
    const TBytes plain = BlockPixels(100000, random, 20);
    TBytes packed = Deflate(plain);
    TBytes output(plain.size() + 10, 0xCD);
    TLZ77Decoder decoder(TLZ77Decoder::PartialFlush, false);
    decoder.BeginDecoding();
    std::uint8_t* source = packed.data();
    std::uint8_t* dest = output.data();
    decoder.DecodeData(source, dest, packed.size(), output.size());
    EXPECT_EQ(decoder.ZLibResult(), TLZ77Decoder::ResultStreamEnd);
    EXPECT_EQ(source, packed.data() + packed.size());
    EXPECT_EQ(dest, output.data() + plain.size());
    EXPECT_EQ(decoder.AvailableInput(), 0u);
    EXPECT_EQ(decoder.AvailableOutput(), 10u);
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), output.begin()));
    decoder.EndDecoding();
}

// The PNG reader hands over the data chunk by chunk and asks for one row at a time: one
// stream runs across all calls.
class LZ77Pieces : public testing::TestWithParam<std::pair<std::size_t, std::size_t>> {};

TEST_P(LZ77Pieces, DecodesAcrossChunksAndRows)
{
    const auto [chunkSize, rowSize] = GetParam();
    std::mt19937 random(3);
    const TBytes plain = NoisePixels(20000, random, 7);
    TBytes packed = Deflate(plain, 9);
    TBytes output(plain.size(), 0xCD);
    TLZ77Decoder decoder(TLZ77Decoder::PartialFlush, false);
    decoder.BeginDecoding();
    std::uint8_t* source = packed.data();
    std::size_t inputLeft = 0;
    std::size_t chunkStart = 0;
    for (std::size_t rowStart = 0; rowStart < output.size(); rowStart += rowSize) {
        std::uint8_t* dest = output.data() + rowStart;
        std::size_t rowLeft = std::min(rowSize, output.size() - rowStart);
        while (rowLeft > 0) {
            if (inputLeft == 0) { // next chunk
                ASSERT_LT(chunkStart, packed.size());
                source = packed.data() + chunkStart;
                inputLeft = std::min(chunkSize, packed.size() - chunkStart);
                chunkStart += inputLeft;
            }
            std::uint8_t* const before = dest;
            decoder.DecodeData(source, dest, inputLeft, rowLeft);
            ASSERT_GE(decoder.ZLibResult(), 0);
            inputLeft = decoder.AvailableInput();
            rowLeft -= static_cast<std::size_t>(dest - before);
            ASSERT_EQ(rowLeft, decoder.AvailableOutput());
        }
    }
    EXPECT_EQ(output, plain);
    decoder.EndDecoding();
}

INSTANTIATE_TEST_SUITE_P(Sizes, LZ77Pieces, testing::Values(std::pair<std::size_t, std::size_t>{1, 1},
    std::pair<std::size_t, std::size_t>{7, 301}, std::pair<std::size_t, std::size_t>{8192, 5},
    std::pair<std::size_t, std::size_t>{100000, 20000}),
    [](const auto& testInfo) {
        return "Chunks" + std::to_string(testInfo.param.first) + "Rows" + std::to_string(testInfo.param.second);
    });

TEST(LZ77, AutomaticResetStartsEveryCallOnANewStream)
{
    const TBytes first(5000, 'x'), second{'a', 'b', 'c'};
    TBytes packedFirst = Deflate(first), packedSecond = Deflate(second);
    TLZ77Decoder decoder(TLZ77Decoder::PartialFlush, true);
    decoder.BeginDecoding();
    for (int round = 0; round < 2; ++round) {
        TBytes output(first.size());
        std::uint8_t* source = packedFirst.data();
        std::uint8_t* dest = output.data();
        decoder.DecodeData(source, dest, packedFirst.size(), output.size());
        EXPECT_EQ(output, first);
        TBytes small(3);
        source = packedSecond.data();
        dest = small.data();
        decoder.DecodeData(source, dest, packedSecond.size(), small.size());
        EXPECT_EQ(small, second);
        EXPECT_EQ(decoder.ZLibResult(), TLZ77Decoder::ResultStreamEnd);
    }
    decoder.EndDecoding();
}

TEST(LZ77, CorruptDataIsReportedInTheResultNotThrown)
{
    TBytes packed = Deflate(TBytes(1000, 'q'));
    packed[0] = 0x12; // not a zlib header
    TBytes output(1000);
    TLZ77Decoder decoder(TLZ77Decoder::PartialFlush, false);
    decoder.BeginDecoding();
    std::uint8_t* source = packed.data();
    std::uint8_t* dest = output.data();
    EXPECT_NO_THROW(decoder.DecodeData(source, dest, packed.size(), output.size()));
    EXPECT_EQ(decoder.ZLibResult(), Z_DATA_ERROR);
    EXPECT_NO_THROW(decoder.EndDecoding());
}

TEST(LZ77, EndWithoutBeginAndDecodeWithoutBeginAreHarmless)
{
    TLZ77Decoder idle(TLZ77Decoder::PartialFlush, false);
    EXPECT_NO_THROW(idle.EndDecoding());
    TBytes packed = Deflate(TBytes(10, 1)), output(10);
    TLZ77Decoder decoder(TLZ77Decoder::PartialFlush, false);
    std::uint8_t* source = packed.data();
    std::uint8_t* dest = output.data();
    decoder.DecodeData(source, dest, packed.size(), output.size());
    EXPECT_EQ(output, TBytes(10, 1));
} // the destructor ends the stream

// A stream cut before its checksum: the inflater takes in the last bytes long before the last
// match is out, and the parts after the input is used up still get the rest of it.
TEST(LZ77, PartsGoOnAfterTheInputIsUsedUp)
{
    TBytes plain(70000, 0xAB);
    plain.back() = 1;
    TBytes packed = Deflate(plain, 9);
    packed.resize(packed.size() - 4);
    for (std::size_t part : { std::size_t(1), std::size_t(7), std::size_t(258), std::size_t(4096) }) {
        TDeflatePartDecoder parts(packed.data(), packed.size());
        EXPECT_EQ(DecodeInParts(parts, plain.size(), part), plain) << "in parts of " << part;
    }
}

TEST(LZ77, TiffDeflateStripsDecodeAsLibtiffDoes)
{
    for (std::uint16_t predictor : {1, 2}) {
        TTiffPlan layout;
        layout.Width = 300;
        layout.Height = 77;
        layout.RowsPerStrip = 16;
        layout.SamplesPerPixel = 3;
        layout.Photometric = PHOTOMETRIC_RGB;
        layout.Compression = COMPRESSION_ADOBE_DEFLATE;
        layout.Predictor = predictor;
        const TTiffStrips strips = TiffRoundTrip(layout, SmoothPixels(300, 77, 3));
        TLZ77Decoder decoder(TLZ77Decoder::PartialFlush, true); // as the TIFF reader uses it
        decoder.BeginDecoding();
        for (std::size_t strip = 0; strip < strips.Raw.size(); ++strip) {
            TBytes raw = strips.Raw[strip];
            TBytes ours(strips.Decoded[strip].size());
            std::uint8_t* source = raw.data();
            std::uint8_t* dest = ours.data();
            decoder.DecodeData(source, dest, raw.size(), ours.size());
            if (predictor == 2)
                UndoPredictor(ours, layout.Width, 3);
            ASSERT_EQ(ours, strips.Decoded[strip]) << "predictor " << predictor << " strip " << strip;
        }
        decoder.EndDecoding();
    }
}

TEST(LZ77, CorpusStripsDecodeAsLibtiffDoes)
{
    if (CorpusDir().empty())
        GTEST_SKIP() << "corpus absent";
    TLZ77Decoder decoder(TLZ77Decoder::PartialFlush, true);
    decoder.BeginDecoding();
    ForEachCorpusStrip(
        [](std::uint16_t compression) {
            return compression == COMPRESSION_ADOBE_DEFLATE || compression == COMPRESSION_DEFLATE;
        },
        [&](const TCorpusStrip& strip) {
            const TTiffPlan& layout = strip.Layout;
            if (layout.FillOrder != 1 || layout.Predictor > 2
                || (layout.Predictor == 2 && (layout.BitsPerSample != 8 || layout.PlanarConfig != 1))
                || (strip.ByteSwapped && layout.BitsPerSample == 16))
                return;
            TBytes raw = strip.Raw;
            TBytes ours(strip.Decoded.size());
            std::uint8_t* source = raw.data();
            std::uint8_t* dest = ours.data();
            decoder.DecodeData(source, dest, raw.size(), ours.size());
            if (layout.Predictor == 2)
                UndoPredictor(ours, layout.Width, layout.SamplesPerPixel);
            ASSERT_EQ(ours, strip.Decoded) << strip.File << " strip " << strip.Strip;
        });
    decoder.EndDecoding();
}

}
