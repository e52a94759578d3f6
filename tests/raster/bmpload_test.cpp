#include "base/exception.h"
#include "base/stream.h"
#include "raster/bitmap.h"
#include "tests/raster/bmpbuilder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using enum TPixelLayout;

std::unique_ptr<TBitmap> Load(const std::vector<std::uint8_t>& bytes)
{
    TMemoryStream stream(bytes);
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->LoadStream(stream);
    return bitmap;
}

void LoadInto(TBitmap& bitmap, const std::vector<std::uint8_t>& bytes)
{
    TMemoryStream stream(bytes);
    bitmap.LoadStream(stream);
}

// Each row of the picture as letters: one per pixel, the red channel's value / 10 + 'a'.
std::vector<std::string> Rows(const TBitmap& bitmap)
{
    std::vector<std::string> rows;
    for (int y = 0; y < bitmap.Height(); ++y) {
        std::string row;
        for (int x = 0; x < bitmap.Width(); ++x)
            row += static_cast<char>('a' + bitmap.Pixel(x, y).Red / 10);
        rows.push_back(row);
    }
    return rows;
}

// A palette whose entry i has red 10 × i, so Rows() shows indices as letters.
TBmpBuilder& Ramp(TBmpBuilder& builder, int entries)
{
    for (int i = 0; i < entries; ++i)
        builder.Color(static_cast<std::uint8_t>(10 * i), 0, 0);
    return builder;
}

TEST(TBmpLoad, NoBytesGiveAnEmptyBitmap)
{
    TBitmap bitmap;
    bitmap.ResizeTo(2, 2);
    LoadInto(bitmap, {});
    EXPECT_TRUE(bitmap.IsEmpty());
    EXPECT_EQ(bitmap.Width(), 0);
    EXPECT_EQ(bitmap.PixelLayout(), plDevice);
}

TEST(TBmpLoad, ReadsFromTheStreamPosition)
{
    std::vector<std::uint8_t> bytes { 1, 2, 3 };
    const auto bmp = TBmpBuilder().Info(1, 1, 24).Pixels({ 1, 2, 3, 0 }).Bytes();
    bytes.insert(bytes.end(), bmp.begin(), bmp.end());
    TMemoryStream stream(bytes);
    stream.SetPosition(3);
    TBitmap bitmap;
    bitmap.LoadStream(stream);
    EXPECT_EQ(bitmap.Pixel(0, 0), (TRGBQuad { 1, 2, 3, 0 }));
}

struct TBadBmp {
    const char* Name;
    std::vector<std::uint8_t> Bytes;
};
void PrintTo(const TBadBmp& value, std::ostream* os) { *os << value.Name; }

class TBmpRefuses : public testing::TestWithParam<TBadBmp> {};

TEST_P(TBmpRefuses, WithBitmapImageIsNotValid)
{
    TBitmap bitmap;
    EXPECT_THAT([&] { LoadInto(bitmap, GetParam().Bytes); },
        testing::ThrowsMessage<EInvalidGraphic>(testing::StrEq("Bitmap image is not valid")));
}

std::vector<std::uint8_t> Truncated(std::vector<std::uint8_t> bytes, std::size_t size)
{
    bytes.resize(size);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(Malformed, TBmpRefuses, testing::Values(
    TBadBmp { "Signature", TBmpBuilder().Signature('M', 'B').Info(1, 1, 24).Pixels({ 0, 0, 0, 0 }).Bytes() },
    TBadBmp { "TwoPlanes", TBmpBuilder().Info(1, 1, 24, 0, 0, 0, 2).Pixels({ 0, 0, 0, 0 }).Bytes() },
    TBadBmp { "SevenBits", TBmpBuilder().Info(1, 1, 7).Pixels({ 0, 0, 0, 0 }).Bytes() },
    TBadBmp { "ZeroWidth", TBmpBuilder().Info(0, 1, 24).Pixels({ 0, 0, 0, 0 }).Bytes() },
    TBadBmp { "NegativeWidth", TBmpBuilder().Info(-4, 1, 24).Pixels({ 0, 0, 0, 0 }).Bytes() },
    TBadBmp { "ZeroHeight", TBmpBuilder().Info(1, 0, 24).Pixels({ 0, 0, 0, 0 }).Bytes() },
    TBadBmp { "SmallestHeight", TBmpBuilder().Info(1, INT32_MIN, 24).Pixels({ 0, 0, 0, 0 }).Bytes() },
    // 2^28 + 2^14 pixels, refused from a 58-byte file before any allocation
    TBadBmp { "OverPixelLimit", TBmpBuilder().Info(16385, 16384, 1).Pixels({ 0, 0, 0, 0 }).Bytes() },
    TBadBmp { "HugeBoth", TBmpBuilder().Info(INT32_MAX, INT32_MAX, 32).Bytes() },
    TBadBmp { "HeaderSize13", TBmpBuilder().Info(1, 1, 24).HeaderSize(13).Pixels({ 0, 0, 0, 0 }).Bytes() },
    TBadBmp { "Rle8With4Bits", TBmpBuilder().Info(2, 1, 4, 1).Pixels({ 0, 1 }).Bytes() },
    TBadBmp { "Rle4With8Bits", TBmpBuilder().Info(2, 1, 8, 2).Pixels({ 0, 1 }).Bytes() },
    TBadBmp { "RleTopDown", TBmpBuilder().Info(2, -1, 8, 1).Pixels({ 0, 1 }).Bytes() },
    TBadBmp { "BitFieldsWith24Bits", TBmpBuilder().Info(1, 1, 24, 3).Masks(0xFF0000, 0xFF00, 0xFF).Pixels({ 0, 0, 0, 0 }).Bytes() },
    TBadBmp { "JpegInside", TBmpBuilder().Info(1, 1, 24, 4).Pixels({ 0xFF, 0xD8 }).Bytes() },
    TBadBmp { "OffsetPastTheEnd", TBmpBuilder().Info(1, 1, 24).Offset(1000).Pixels({ 0, 0, 0, 0 }).Bytes() }),
    [](const testing::TestParamInfo<TBadBmp>& testInfo) { return std::string(testInfo.param.Name); });

TEST(TBmpLoad, HeadersCutShortFailWithTheReadError)
{
    const auto whole = TBmpBuilder().Info(2, 2, 24).Pixels(std::vector<std::uint8_t>(16, 0)).Bytes();
    for (const std::size_t size : { 1, 13, 14, 20, 53 })
        EXPECT_THROW(Load(Truncated(whole, size)), EReadError) << size;
    // a header size larger than the file
    EXPECT_THROW(Load(Truncated(TBmpBuilder().Info(1, 1, 24).HeaderSize(4000).Bytes(), 100)), EReadError);
}

TEST(TBmpLoad, TruncatedPixelDataLoadsWithTheRestBlack)
{
    auto bytes = TBmpBuilder().Info(2, 2, 24).Pixels({ 10, 20, 30, 40, 50, 60, 0, 0, 70, 80, 90, 100, 110, 120, 0, 0 }).Bytes();
    bytes.resize(bytes.size() - 4); // the top row loses its second pixel's last bytes
    const auto bitmap = Load(bytes);
    EXPECT_EQ(bitmap->Pixel(0, 1), (TRGBQuad { 10, 20, 30, 0 })); // bottom row first in the file
    EXPECT_EQ(bitmap->Pixel(1, 1), (TRGBQuad { 40, 50, 60, 0 }));
    EXPECT_EQ(bitmap->Pixel(0, 0), (TRGBQuad { 70, 80, 90, 0 }));
    EXPECT_EQ(bitmap->Pixel(1, 0), (TRGBQuad { 100, 0, 0, 0 }));
}

TEST(TBmpLoad, BottomUpAndTopDownRowsComeOutTheSame)
{
    const std::vector<std::uint8_t> top { 1, 2, 3, 0 }, bottom { 4, 5, 6, 0 };
    auto bottomUp = TBmpBuilder().Info(1, 2, 24).Pixels(bottom).Pixels(top).Bytes();
    auto topDown = TBmpBuilder().Info(1, -2, 24).Pixels(top).Pixels(bottom).Bytes();
    for (const auto& bytes : { bottomUp, topDown }) {
        const auto bitmap = Load(bytes);
        EXPECT_EQ(bitmap->Height(), 2);
        EXPECT_EQ(bitmap->Pixel(0, 0), (TRGBQuad { 1, 2, 3, 0 }));
        EXPECT_EQ(bitmap->Pixel(0, 1), (TRGBQuad { 4, 5, 6, 0 }));
    }
    EXPECT_EQ(Load(topDown)->Header().Height, -2);
}

TEST(TBmpLoad, OldCoreHeaderWithThreeByteColours)
{
    const auto bitmap = Load(TBmpBuilder().Core(3, 1, 8).Color(255, 0, 0, true).Color(0, 255, 0, true)
            .Color(0, 0, 255, true).Pixels({ 2, 1, 0, 0 }).Bytes());
    EXPECT_EQ(bitmap->PixelLayout(), pl8Bit);
    EXPECT_EQ(bitmap->Pixel(0, 0), (TRGBQuad { 255, 0, 0, 0 }));
    EXPECT_EQ(bitmap->Pixel(2, 0), (TRGBQuad { 0, 0, 255, 0 }));
}

TEST(TBmpLoad, ColourCountsAreBounded)
{
    // two colours used in an 8-bit file: indices past them are black
    TBmpBuilder few;
    few.Info(3, 1, 8, 0, 2).Color(200, 0, 0).Color(0, 200, 0).Pixels({ 0, 1, 77, 0 });
    const auto bitmap = Load(few.Bytes());
    EXPECT_EQ(bitmap->ColorTable().size(), 2u);
    EXPECT_EQ(bitmap->Pixel(2, 0), (TRGBQuad { 0, 0, 0, 0 }));
    // a count beyond the depth keeps the 16 entries a 4-bit image can use
    TBmpBuilder many;
    Ramp(many.Info(2, 1, 4, 0, 1000), 16).Pixels({ 0xF3, 0, 0, 0 });
    const auto four = Load(many.Bytes());
    EXPECT_EQ(four->ColorTable().size(), 16u);
    EXPECT_EQ(Rows(*four), std::vector<std::string>({ "pd" }));
}

TEST(TBmpLoad, BitFieldLayouts)
{
    const auto rgb565 = Load(TBmpBuilder().Info(2, 1, 16, 3).Masks(0xF800, 0x07E0, 0x001F)
            .Pixels({ 0x00, 0xF8, 0xE0, 0x07 }).Bytes());
    EXPECT_EQ(rgb565->PixelLayout(), pl16Bit);
    EXPECT_EQ(rgb565->Pixel(0, 0), (TRGBQuad { 0, 0, 255, 0 }));
    EXPECT_EQ(rgb565->Pixel(1, 0), (TRGBQuad { 0, 255, 0, 0 }));
    const auto rgb555 = Load(TBmpBuilder().Info(1, 1, 16).Pixels({ 0x1F, 0x7C, 0, 0 }).Bytes());
    EXPECT_EQ(rgb555->PixelLayout(), pl15Bit);
    EXPECT_EQ(rgb555->Pixel(0, 0), (TRGBQuad { 255, 0, 255, 0 }));
    const auto custom = Load(TBmpBuilder().Info(1, 1, 32, 3).Masks(0xFF, 0xFF00, 0xFF0000)
            .Pixels({ 1, 2, 3, 4 }).Bytes());
    EXPECT_EQ(custom->PixelLayout(), plCustom);
    EXPECT_EQ(custom->Pixel(0, 0), (TRGBQuad { 3, 2, 1, 0 }));
    // masks inside a larger header
    auto v4 = TBmpBuilder().Info(1, 1, 16, 3).HeaderSize(108).Pixels({ 0xE0, 0x07, 0, 0 }).Bytes();
    const std::uint8_t masks[] = { 0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0 };
    std::copy(std::begin(masks), std::end(masks), v4.begin() + 14 + 40);
    EXPECT_EQ(Load(v4)->Pixel(0, 0), (TRGBQuad { 0, 255, 0, 0 }));
}

struct TRleCase {
    const char* Name;
    int Width, Height, Bits;
    std::vector<std::uint8_t> Data;
    std::vector<std::string> Rows; // from the top
};
void PrintTo(const TRleCase& value, std::ostream* os) { *os << value.Name; }

class TBmpRle : public testing::TestWithParam<TRleCase> {};

TEST_P(TBmpRle, Decodes)
{
    const TRleCase& c = GetParam();
    TBmpBuilder builder;
    Ramp(builder.Info(c.Width, c.Height, static_cast<std::uint16_t>(c.Bits), c.Bits == 8 ? 1 : 2, 0,
             static_cast<std::uint32_t>(c.Data.size())), 1 << c.Bits)
        .Pixels(c.Data);
    EXPECT_EQ(Rows(*Load(builder.Bytes())), c.Rows);
}

INSTANTIATE_TEST_SUITE_P(Runs, TBmpRle, testing::Values(
    TRleCase { "Rle8Runs", 4, 2, 8, { 2, 1, 2, 3, 0, 0, 4, 2, 0, 1 }, { "cccc", "bbdd" } },
    TRleCase { "Rle8OddLiteralIsPadded", 4, 1, 8, { 0, 3, 5, 6, 7, 0, 1, 9, 0, 1 }, { "fghj" } },
    TRleCase { "Rle8Delta", 4, 3, 8, { 0, 2, 2, 1, 1, 4, 0, 1 }, { "aaaa", "aaea", "aaaa" } },
    TRleCase { "Rle8RunsPastTheEdgeAreClipped", 3, 2, 8, { 9, 1, 0, 0, 2, 2, 0, 1 }, { "cca", "bbb" } },
    TRleCase { "Rle8DataEndsEarly", 3, 2, 8, { 3, 4, 0, 3, 1 }, { "aaa", "eee" } },
    TRleCase { "Rle8DeltaOutsideIsHarmless", 2, 1, 8, { 0, 2, 200, 200, 3, 3, 0, 1 }, { "aa" } },
    TRleCase { "Rle8EndOfLinesPastTheTop", 1, 1, 8, { 0, 0, 0, 0, 0, 0, 1, 5 }, { "a" } },
    TRleCase { "Rle4AlternatesNibbles", 5, 1, 4, { 5, 0x12, 0, 1 }, { "bcbcb" } },
    TRleCase { "Rle4Literal", 5, 1, 4, { 0, 5, 0x34, 0x56, 0x70, 0, 0, 1 }, { "defgh" } },
    TRleCase { "Rle4LiteralCutShort", 4, 1, 4, { 0, 4, 0x9A }, { "jkaa" } },
    TRleCase { "Rle4Delta", 3, 2, 4, { 0, 2, 1, 1, 1, 0xF0, 0, 1 }, { "apa", "aaa" } }),
    [](const testing::TestParamInfo<TRleCase>& testInfo) { return std::string(testInfo.param.Name); });

TEST(TBmpLoad, SavedFilesLoadBackIdentically)
{
    const auto source = Load(TBmpBuilder().Info(3, -2, 4).Color(1, 2, 3).Color(4, 5, 6).Color(7, 8, 9)
            .Pixels({ 0x01, 0x20, 0, 0, 0x21, 0x00, 0, 0 }).Bytes());
    TMemoryStream saved;
    source->SaveStream(saved);
    saved.SetPosition(0);
    TBitmap copy;
    copy.LoadStream(saved);
    ASSERT_EQ(copy.Width(), 3);
    ASSERT_EQ(copy.Height(), 2);
    EXPECT_EQ(copy.PixelLayout(), pl4Bit);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(copy.Pixel(x, y), source->Pixel(x, y)) << x << "," << y;
}

TEST(TBmpLoad, EmptyBitmapSavesNothing)
{
    TBitmap empty;
    TMemoryStream saved;
    empty.SaveStream(saved);
    EXPECT_EQ(saved.Size(), 0);
}

} // namespace
