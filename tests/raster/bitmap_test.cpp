#include "base/exception.h"
#include "raster/bitmap.h"
#include "raster/canvas.h"

#include <cstring>
#include <utility>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using enum TPixelLayout;

TRGBQuad Quad(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    return { blue, green, red, 0 };
}

// A bitmap of the layout and size with every pixel set to a colour made from its position.
void FillPattern(TBitmap& bitmap)
{
    for (int y = 0; y < bitmap.Height(); ++y) {
        std::uint8_t* row = bitmap.RowAddress(y);
        for (std::size_t i = 0; i < bitmap.RowBytes(); ++i)
            row[i] = static_cast<std::uint8_t>(37 * y + 11 * i + 5);
    }
}

TEST(TBitmap, FreshBitmapIsEmptyDevice)
{
    TBitmap bitmap;
    EXPECT_EQ(bitmap.Width(), 0);
    EXPECT_EQ(bitmap.Height(), 0);
    EXPECT_TRUE(bitmap.IsEmpty());
    EXPECT_EQ(bitmap.PixelLayout(), plDevice);
    EXPECT_TRUE(bitmap.ColorTable().empty());
    EXPECT_EQ(bitmap.ClassName(), "TBitmap");
}

TEST(TBitmap, ResizeOfAFreshBitmapGivesAWhiteDeviceSurface)
{
    TBitmap bitmap;
    bitmap.ResizeTo(318, 238);
    EXPECT_EQ(bitmap.PixelLayout(), plDevice);
    EXPECT_FALSE(bitmap.IsEmpty());
    EXPECT_EQ(bitmap.Width(), 318);
    EXPECT_EQ(bitmap.Height(), 238);
    EXPECT_EQ(bitmap.Pixel(0, 0), Quad(255, 255, 255));
    EXPECT_EQ(bitmap.Pixel(317, 237), Quad(255, 255, 255));
}

TEST(TBitmap, ResizeNotifiesOnlyOnChange)
{
    TBitmap bitmap;
    int changes = 0;
    bitmap.OnChange = [&changes](TGraphic&) { ++changes; };
    bitmap.ResizeTo(3, 2);
    EXPECT_EQ(changes, 1);
    bitmap.ResizeTo(3, 2);
    EXPECT_EQ(changes, 1);
    bitmap.SetWidth(4);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(bitmap.Width(), 4);
    EXPECT_EQ(bitmap.Height(), 2);
}

TEST(TBitmap, ResizeKeepsTheTopLeftAndFillsWithTheBrush)
{
    TBitmap bitmap;
    bitmap.SetPixelLayout(pl24Bit);
    bitmap.ResizeTo(2, 2);
    bitmap.RowAddress(0)[0] = 9; // blue of the top-left pixel
    bitmap.RowAddress(1)[3] = 7; // blue of the bottom-right pixel
    bitmap.Canvas().Brush.Color = RGBColor(1, 2, 3);
    bitmap.ResizeTo(3, 3);
    EXPECT_EQ(bitmap.PixelLayout(), pl24Bit);
    EXPECT_EQ(bitmap.Pixel(0, 0), Quad(255, 255, 9));
    EXPECT_EQ(bitmap.Pixel(1, 1), Quad(255, 255, 7));
    EXPECT_EQ(bitmap.Pixel(2, 0), Quad(1, 2, 3));
    EXPECT_EQ(bitmap.Pixel(0, 2), Quad(1, 2, 3));
    bitmap.ResizeTo(1, 1);
    EXPECT_EQ(bitmap.Pixel(0, 0), Quad(255, 255, 9));
    bitmap.ResizeTo(0, 5);
    EXPECT_TRUE(bitmap.IsEmpty());
    EXPECT_EQ(bitmap.PixelLayout(), pl24Bit); // the layout survives for the next size
}

TEST(TBitmap, ResizeOfBitPackedRowsKeepsTheirPixels)
{
    TBitmap bitmap;
    bitmap.SetPixelLayout(pl1Bit);
    bitmap.ResizeTo(11, 1);
    bitmap.RowAddress(0)[0] = 0x00; // pixels 0..7 black, 8..10 still white
    bitmap.ResizeTo(9, 1);
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(bitmap.Pixel(x, 0), Quad(0, 0, 0)) << x;
    EXPECT_EQ(bitmap.Pixel(8, 0), Quad(255, 255, 255));
}

TEST(TBitmap, RowAddressOutsideTheRowsFails)
{
    TBitmap bitmap;
    EXPECT_THAT([&] { bitmap.RowAddress(0); }, testing::ThrowsMessage<EInvalidGraphic>(testing::StrEq("Scan line index out of range")));
    bitmap.ResizeTo(2, 3);
    EXPECT_THAT([&] { bitmap.RowAddress(-1); }, testing::ThrowsMessage<EInvalidGraphic>(testing::StrEq("Scan line index out of range")));
    EXPECT_THAT([&] { bitmap.RowAddress(3); }, testing::ThrowsMessage<EInvalidGraphic>(testing::StrEq("Scan line index out of range")));
    EXPECT_NO_THROW(bitmap.RowAddress(2));
}

TEST(TBitmap, BottomUpRowsStepBackwards)
{
    TBitmap bitmap;
    bitmap.SetPixelLayout(pl24Bit);
    bitmap.ResizeTo(3, 2);
    EXPECT_EQ(bitmap.RowBytes(), 12u);
    EXPECT_EQ(bitmap.RowAddress(1) - bitmap.RowAddress(0), -12);
    // a top-down store steps forwards
    TBitmap topDown;
    topDown.NewImage({ .Width = 3, .Height = -2, .BitsPerPixel = 24 }, {});
    EXPECT_EQ(topDown.RowAddress(1) - topDown.RowAddress(0), 12);
}

TEST(TBitmap, RowAddressTurnsTheDeviceFormIntoAnIndependentOne)
{
    TBitmap bitmap;
    bitmap.ResizeTo(2, 2);
    bitmap.RowAddress(0);
    EXPECT_EQ(bitmap.PixelLayout(), pl32Bit);
    EXPECT_EQ(bitmap.Pixel(1, 1), Quad(255, 255, 255));
}

TEST(TBitmap, CopiesShareTheStoreUntilOneWrites)
{
    TBitmap a;
    a.SetPixelLayout(pl24Bit);
    a.ResizeTo(2, 2);
    TBitmap b;
    int changes = 0;
    b.OnChange = [&changes](TGraphic&) { ++changes; };
    b.CopyContentFrom(a);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(a.Image(), b.Image());
    b.RowAddress(0)[0] = 0;
    EXPECT_NE(a.Image(), b.Image());
    EXPECT_EQ(a.Pixel(0, 0), Quad(255, 255, 255));
    EXPECT_EQ(b.Pixel(0, 0), Quad(255, 255, 0));
    // resizing or converting the copy also leaves the original alone
    TBitmap c;
    c.CopyContentFrom(a);
    c.SetPixelLayout(pl8Bit);
    c.ResizeTo(5, 5);
    EXPECT_EQ(a.PixelLayout(), pl24Bit);
    EXPECT_EQ(a.Width(), 2);
}

TEST(TBitmap, CopyingAnEmptyBitmapEmpties)
{
    TBitmap a, b;
    b.ResizeTo(4, 4);
    b.CopyContentFrom(a);
    EXPECT_TRUE(b.IsEmpty());
    EXPECT_EQ(b.Width(), 0);
}

TEST(TBitmap, CopyTakesTheTransparencySettings)
{
    TBitmap a, b;
    a.Transparent = true;
    a.TransparentColor = RGBColor(1, 2, 3);
    a.TransparentMode = TTransparentMode::tmFixed;
    b.CopyContentFrom(a);
    EXPECT_TRUE(b.Transparent);
    EXPECT_EQ(b.TransparentColor, RGBColor(1, 2, 3));
    EXPECT_EQ(b.TransparentMode, TTransparentMode::tmFixed);
}

class TOtherGraphic : public TGraphic {
public:
    std::string ClassName() const override { return "TOtherGraphic"; }
    int Width() const override { return 1; }
    int Height() const override { return 1; }
    bool IsEmpty() const override { return false; }
    void LoadStream(TStream&) override {}
    void SaveStream(TStream&) override {}
    void DrawInto(TCanvas&, const TRect&) const override {}
};

class TGiver : public TOtherGraphic {
public:
    std::string ClassName() const override { return "TGiver"; }
    void CopyContentInto(TGraphic& target) const override
    {
        auto& bitmap = dynamic_cast<TBitmap&>(target);
        bitmap.ResizeTo(7, 3);
    }
};

TEST(TBitmap, OtherGraphicsCopyThemselvesInOrFail)
{
    TBitmap bitmap;
    EXPECT_THAT([&] { bitmap.CopyContentFrom(TOtherGraphic()); },
        testing::ThrowsMessage<Exception>(testing::StrEq("Cannot assign a TOtherGraphic to a TBitmap")));
    bitmap.CopyContentFrom(TGiver());
    EXPECT_EQ(bitmap.Width(), 7);
}

TEST(TBitmap, LayoutsFromTheHeader)
{
    const struct {
        TBitmapHeader Header;
        TPixelLayout Layout;
    } cases[] = {
        { { 1, 1, 1, 1 }, pl1Bit },
        { { 1, 1, 1, 4 }, pl4Bit },
        { { 1, 1, 1, 8 }, pl8Bit },
        { { 1, 1, 1, 16 }, pl15Bit },
        { { 1, 1, 1, 16, TBitmapCompression::bcBitFields, 0xF800, 0x07E0, 0x001F }, pl16Bit },
        { { 1, 1, 1, 16, TBitmapCompression::bcBitFields, 0x7C00, 0x03E0, 0x001F }, plCustom },
        { { 1, 1, 1, 24 }, pl24Bit },
        { { 1, 1, 1, 32 }, pl32Bit },
        { { 1, 1, 1, 32, TBitmapCompression::bcBitFields, 0xFF0000, 0xFF00, 0xFF }, plCustom },
    };
    for (const auto& c : cases) {
        TBitmap bitmap;
        bitmap.NewImage(c.Header, {});
        EXPECT_EQ(bitmap.PixelLayout(), c.Layout) << c.Header.BitsPerPixel;
    }
}

// A store made for a decoder that writes every pixel still starts with clean row padding, so
// that files written from it never carry what an earlier picture left in that memory.
TEST(TBitmap, UnsetStoresClearOnlyTheRowPadding)
{
    const struct {
        int Width, Bits;
        std::size_t Used;
    } cases[] = { { 3, 1, 1 }, { 5, 4, 3 }, { 6, 8, 6 }, { 5, 24, 15 }, { 7, 16, 14 }, { 4, 24, 12 } };
    for (const auto& c : cases) {
        for (int round = 0; round < 2; ++round) { // the second round may reuse the first's memory
            TBitmap dirty;
            dirty.NewImage({ .Width = c.Width, .Height = 9, .BitsPerPixel = static_cast<std::uint16_t>(c.Bits) }, {});
            for (int y = 0; y < 9; ++y)
                std::memset(dirty.RowAddress(y), 0xAB, dirty.RowBytes());
        }
        TBitmap bitmap;
        bitmap.NewImage({ .Width = c.Width, .Height = -9, .BitsPerPixel = static_cast<std::uint16_t>(c.Bits) }, {},
            TStoreFill::sfUnset);
        ASSERT_EQ(bitmap.RowBytes() % 4, 0u);
        for (int y = 0; y < 9; ++y) {
            const std::uint8_t* row = std::as_const(bitmap).RowAddress(y);
            for (std::size_t i = c.Used; i < bitmap.RowBytes(); ++i)
                EXPECT_EQ(row[i], 0) << c.Bits << " bits, width " << c.Width << ", row " << y << ", byte " << i;
        }
    }
}

TEST(TBitmap, StoresAboveTheLimitAreRefused)
{
    TBitmap bitmap;
    EXPECT_THAT([&] { bitmap.NewImage({ .Width = 16385, .Height = 16384, .BitsPerPixel = 1 }, {}); },
        testing::ThrowsMessage<EInvalidGraphic>(testing::StrEq("Bitmap image is not valid")));
    EXPECT_THROW(bitmap.NewImage({ .Width = 1, .Height = 1, .BitsPerPixel = 7 }, {}), EInvalidGraphic);
    EXPECT_THROW(bitmap.ResizeTo(1 << 16, 1 << 13), EInvalidGraphic);
    EXPECT_TRUE(bitmap.IsEmpty());
}

TEST(TBitmap, CustomLayoutCannotBeChosen)
{
    TBitmap bitmap;
    bitmap.SetPixelLayout(pl8Bit);
    EXPECT_THAT([&] { bitmap.SetPixelLayout(plCustom); },
        testing::ThrowsMessage<EInvalidGraphic>(testing::StrEq("Invalid pixel format")));
    EXPECT_EQ(bitmap.PixelLayout(), pl8Bit);
}

TEST(TBitmap, NewTablesPerLayout)
{
    TBitmap bitmap;
    bitmap.SetPixelLayout(pl1Bit);
    EXPECT_EQ(bitmap.ColorTable(), (TColorTable { { 0, 0, 0, 0 }, { 255, 255, 255, 0 } }));
    bitmap.SetPixelLayout(pl4Bit);
    EXPECT_EQ(bitmap.ColorTable().size(), 16u);
    bitmap.SetPixelLayout(pl8Bit);
    EXPECT_EQ(bitmap.ColorTable().size(), 256u);
    bitmap.SetPixelLayout(pl24Bit);
    EXPECT_TRUE(bitmap.ColorTable().empty());
}

// Every pixel keeps its colour when converted to a deeper layout.
struct TConversion {
    TPixelLayout From, To;
};
void PrintTo(const TConversion& value, std::ostream* os) { *os << int(value.From) << "->" << int(value.To); }

class TBitmapConversion : public testing::TestWithParam<TConversion> {};

TEST_P(TBitmapConversion, KeepsColoursByValue)
{
    TBitmap bitmap;
    bitmap.SetPixelLayout(GetParam().From);
    bitmap.ResizeTo(5, 3);
    if (bitmap.PixelLayout() == pl8Bit) {
        TColorTable table;
        for (int i = 0; i < 256; ++i)
            table.push_back({ std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 3), 0 });
        bitmap.SetColorTable(table);
    }
    FillPattern(bitmap);
    std::vector<TRGBQuad> before;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            before.push_back(bitmap.Pixel(x, y));
    bitmap.SetPixelLayout(GetParam().To);
    EXPECT_EQ(bitmap.PixelLayout(), GetParam().To);
    EXPECT_EQ(bitmap.Width(), 5);
    EXPECT_EQ(bitmap.Height(), 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(bitmap.Pixel(x, y), before[static_cast<std::size_t>(y * 5 + x)]) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(Deeper, TBitmapConversion, testing::Values(
    TConversion { pl1Bit, pl24Bit }, TConversion { pl4Bit, pl24Bit }, TConversion { pl8Bit, pl24Bit },
    TConversion { pl8Bit, pl32Bit }, TConversion { pl8Bit, plDevice }, TConversion { pl15Bit, pl24Bit },
    TConversion { pl16Bit, pl32Bit }, TConversion { pl24Bit, pl32Bit }, TConversion { pl32Bit, pl24Bit },
    TConversion { pl32Bit, plDevice }, TConversion { pl24Bit, plDevice },
    TConversion { pl1Bit, pl4Bit }),
    ([](const auto& testInfo) {
        const char* const names[] = { "Device", "1Bit", "4Bit", "8Bit", "15Bit", "16Bit", "24Bit", "32Bit", "Custom" };
        return std::string(names[int(testInfo.param.From)]) + "To" + names[int(testInfo.param.To)];
    }));

TEST(TBitmap, ConversionToIndexedPicksTheNearestColour)
{
    TBitmap bitmap;
    bitmap.SetPixelLayout(pl24Bit);
    bitmap.ResizeTo(2, 1);
    std::uint8_t* row = bitmap.RowAddress(0);
    const std::uint8_t pixels[] = { 10, 10, 10, 250, 240, 245 };
    std::copy(std::begin(pixels), std::end(pixels), row);
    bitmap.SetPixelLayout(pl1Bit);
    EXPECT_EQ(bitmap.Pixel(0, 0), Quad(0, 0, 0));
    EXPECT_EQ(bitmap.Pixel(1, 0), Quad(255, 255, 255));
}

TEST(TBitmap, NewColourTableKeepsColoursAsCloseAsItCan)
{
    TBitmap bitmap;
    bitmap.SetPixelLayout(pl8Bit);
    bitmap.ResizeTo(2, 1); // white in the halftone table
    int changes = 0;
    bitmap.OnChange = [&changes](TGraphic&) { ++changes; };
    bitmap.SetColorTable({ { 0, 0, 0, 0 }, { 250, 250, 250, 0 } });
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(bitmap.PaletteModified());
    EXPECT_EQ(bitmap.ColorTable().size(), 2u);
    EXPECT_EQ(bitmap.RowAddress(0)[0], 1);
    EXPECT_EQ(bitmap.Pixel(1, 0), Quad(250, 250, 250));
}

} // namespace
