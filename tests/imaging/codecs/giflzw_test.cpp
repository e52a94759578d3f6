#include "imaging/codecs/giflzw.h"

#include "codectestutil.h"

#include <gtest/gtest.h>

namespace {

// Packs codes least significant bit first, as GIF stores them.
class TCodeWriter {
public:
    void Put(unsigned code, int width)
    {
        for (int bit = 0; bit < width; ++bit) {
            if (FBits % 8 == 0)
                FBytes.push_back(0);
            if (code >> bit & 1)
                FBytes.back() |= static_cast<std::uint8_t>(1 << FBits % 8);
            ++FBits;
        }
    }
    void AlignToByte() { FBits = (FBits + 7) / 8 * 8; }
    TBytes Bytes() const { return FBytes; }

private:
    TBytes FBytes;
    std::size_t FBits = 0;
};

TBytes Decode(TBytes input, std::uint8_t codeSize, std::size_t unpackedSize, std::uint8_t fill = 0xCD)
{
    TBytes output(unpackedSize, fill);
    std::uint8_t* source = input.data();
    std::uint8_t* dest = output.data();
    TGIFLZWDecoder decoder(codeSize);
    decoder.DecodeData(source, dest, input.size(), output.size());
    EXPECT_EQ(source, input.data());
    EXPECT_EQ(dest, output.data());
    return output;
}

TEST(GIFLZW, CodeSizeTwoStartsWithThreeBitsAndGrowsAfterEntrySeven)
{
    // Clear 4, end 5, first free 6. Entries 6 and 7 are added by the third and fourth codes;
    // once entry 7 = 2^3 - 1 exists, codes are 4 bits wide.
    TCodeWriter codes;
    codes.Put(4, 3);
    codes.Put(1, 3);
    codes.Put(1, 3); // adds 6 = (1, 1)
    codes.Put(6, 3); // "1 1", adds 7 = (1, 1)
    codes.Put(7, 4); // "1 1 1"? no: entry 7 is (1, 1) too; adds 8 = (6, 1)
    codes.Put(8, 4); // "1 1 1", adds 9
    codes.Put(5, 4);
    EXPECT_EQ(Decode(codes.Bytes(), 2, 12), (TBytes{1, 1, 1, 1, 1, 1, 1, 1, 1, 0xCD, 0xCD, 0xCD}));
}

TEST(GIFLZW, NewCodeClearAndDroppedCodes)
{
    TCodeWriter codes;
    codes.Put(4, 3);
    codes.Put(2, 3);
    codes.Put(6, 3); // code equal to the next free code: "2 2"
    codes.Put(4, 3); // clear (entry 7 not yet added: still 3 bits)
    codes.Put(3, 3);
    codes.Put(7, 3); // above the next free code (6): dropped
    codes.Put(0, 3);
    codes.Put(5, 3);
    EXPECT_EQ(Decode(codes.Bytes(), 2, 6), (TBytes{2, 2, 2, 3, 0, 0xCD}));
}

TEST(GIFLZW, EndCodeEndsTheCurrentByteAndFurtherBytesAreDecoded)
{
    TCodeWriter codes;
    codes.Put(4, 3);
    codes.Put(3, 3);
    codes.Put(5, 3);
    codes.AlignToByte();
    codes.Put(4, 3);
    codes.Put(2, 3);
    codes.Put(5, 3);
    EXPECT_EQ(Decode(codes.Bytes(), 2, 3), (TBytes{3, 2, 0xCD}));
}

TEST(GIFLZW, CodeSizesOutsideOneToEightDecodeNothing)
{
    for (std::uint8_t codeSize : {0, 9, 12, 255})
        EXPECT_EQ(Decode(TBytes(16, 0x55), codeSize, 8), TBytes(8, 0xCD)) << int(codeSize);
}

TEST(GIFLZW, FullTableTakesNoMoreEntries)
{
    // Code size 8 without clears: literals fill the table up to entry 4095, then more
    // literals and a reference to entry 4095 keep their meaning (deferred clear).
    TCodeWriter codes;
    codes.Put(256, 9);
    TBytes expected;
    unsigned nextCode = 258;
    int width = 9;
    for (unsigned index = 0; index < 3900; ++index) {
        codes.Put(index % 256, width);
        expected.push_back(static_cast<std::uint8_t>(index % 256));
        if (index > 0 && nextCode < 4096)
            ++nextCode;
        width = nextCode >= 2048 ? 12 : nextCode >= 1024 ? 11 : nextCode >= 512 ? 10 : 9;
    }
    ASSERT_EQ(nextCode, 4096u);
    codes.Put(4095, 12); // (literal 3837, literal 3838)
    expected.push_back(static_cast<std::uint8_t>(3837 % 256));
    expected.push_back(static_cast<std::uint8_t>(3838 % 256));
    codes.Put(257, 12);
    EXPECT_EQ(Decode(codes.Bytes(), 8, expected.size()), expected);
}

struct TGifCase {
    const char* Name;
    int ColorBits;
    bool Noise;
    int Width, Height;
};

class GIFLZWAgainstGiflib : public testing::TestWithParam<TGifCase> {};

TEST_P(GIFLZWAgainstGiflib, DecodesWhatGiflibEncoded)
{
    const TGifCase& test = GetParam();
    std::mt19937 random(11);
    const std::size_t count = std::size_t(test.Width) * test.Height;
    const int maxIndex = (1 << test.ColorBits) - 1;
    const TBytes indices = test.Noise ? NoisePixels(count, random, maxIndex) : BlockPixels(count, random, maxIndex);
    int codeSize = 0;
    const TBytes data = GifCompress(indices, test.Width, test.Height, test.ColorBits, codeSize);
    EXPECT_EQ(codeSize, std::max(2, test.ColorBits));
    EXPECT_EQ(Decode(data, static_cast<std::uint8_t>(codeSize), count), indices);
    // Asked for fewer indices: exactly those, nothing written beyond.
    TBytes shorter = Decode(data, static_cast<std::uint8_t>(codeSize), count / 3 + 1);
    EXPECT_TRUE(std::equal(shorter.begin(), shorter.end(), indices.begin()));
}

INSTANTIATE_TEST_SUITE_P(Pictures, GIFLZWAgainstGiflib, testing::Values(
    TGifCase{"Mono", 1, true, 97, 61},
    TGifCase{"FourColors", 2, true, 300, 200},
    TGifCase{"SixteenColorBlocks", 4, false, 640, 400},
    TGifCase{"Noise5", 5, true, 257, 129},
    TGifCase{"Noise8", 8, true, 400, 300},
    TGifCase{"Blocks8", 8, false, 1000, 700},
    TGifCase{"OnePixel", 8, true, 1, 1}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

}
