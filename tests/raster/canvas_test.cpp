#include "raster/bitmap.h"
#include "raster/canvas.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>

namespace {

using enum TPixelLayout;

TRGBQuad Quad(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    return { blue, green, red, 0 };
}

// A 24-bit picture whose every pixel names its own position: red and green hold x, blue y.
void MakeLabelled(TBitmap& bitmap, int width, int height)
{
    bitmap.SetPixelLayout(pl24Bit);
    bitmap.ResizeTo(width, height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = bitmap.RowAddress(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<std::uint8_t>(y);
            row[3 * x + 1] = static_cast<std::uint8_t>(x >> 8);
            row[3 * x + 2] = static_cast<std::uint8_t>(x);
        }
    }
}

int LabelX(TRGBQuad colour) { return colour.Green << 8 | colour.Red; }

TEST(TCanvas, ShrinkingTakesExactlyOneSourcePixelEach)
{
    TBitmap source;
    MakeLabelled(source, 636, 238); // blue holds y below 256; rows checked through it
    TBitmap thumbnail;
    thumbnail.ResizeTo(318, 119);
    thumbnail.Canvas().DrawStretched({ 0, 0, 318, 119 }, &source);
    EXPECT_EQ(thumbnail.PixelLayout(), plDevice);
    for (int y = 0; y < 119; ++y)
        for (int x = 0; x < 318; ++x) {
            const TRGBQuad pixel = thumbnail.Pixel(x, y);
            // the column and row come from the destination pixel's own span: no blending
            ASSERT_TRUE(LabelX(pixel) == 2 * x || LabelX(pixel) == 2 * x + 1) << x << "," << y;
            ASSERT_TRUE(pixel.Blue == 2 * y || pixel.Blue == 2 * y + 1) << x << "," << y;
        }
}

TEST(TCanvas, ThumbnailOfA636By476PictureHasOnlySourceColours)
{
    TBitmap source;
    source.SetPixelLayout(pl24Bit);
    source.ResizeTo(636, 476);
    // stripes of two colours that would blend into a third
    for (int y = 0; y < 476; ++y) {
        std::uint8_t* row = source.RowAddress(y);
        for (int x = 0; x < 636; ++x) {
            const bool dark = (x * 7 + y * 13) % 5 < 2;
            row[3 * x] = dark ? 0 : 200;
            row[3 * x + 1] = dark ? 10 : 100;
            row[3 * x + 2] = dark ? 20 : 255;
        }
    }
    for (const TPixelLayout depth : { plDevice, pl24Bit, pl32Bit }) {
        TBitmap thumbnail;
        thumbnail.SetPixelLayout(depth);
        thumbnail.ResizeTo(318, 238);
        thumbnail.Canvas().DrawStretched({ 0, 0, 318, 238 }, &source);
        std::set<std::uint32_t> colours;
        for (int y = 0; y < 238; ++y)
            for (int x = 0; x < 318; ++x) {
                const TRGBQuad c = thumbnail.Pixel(x, y);
                colours.insert(std::uint32_t(c.Red) << 16 | c.Green << 8 | c.Blue);
            }
        EXPECT_EQ(colours, (std::set<std::uint32_t> { 0x140A00, 0xFF64C8 })) << int(depth);
    }
}

TEST(TCanvas, EnlargingRepeatsSourcePixels)
{
    TBitmap source;
    MakeLabelled(source, 2, 3);
    TBitmap target;
    target.SetPixelLayout(pl24Bit);
    target.ResizeTo(6, 9);
    target.Canvas().DrawStretched({ 0, 0, 6, 9 }, &source);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 6; ++x) {
            EXPECT_EQ(LabelX(target.Pixel(x, y)), x / 3);
            EXPECT_EQ(target.Pixel(x, y).Blue, y / 3);
        }
}

TEST(TCanvas, IndexedSourcesDrawThroughTheirTable)
{
    TBitmap source;
    source.SetPixelLayout(pl8Bit);
    source.ResizeTo(4, 1);
    source.SetColorTable({ { 1, 2, 3, 0 }, { 4, 5, 6, 0 } });
    std::uint8_t* row = source.RowAddress(0);
    row[0] = 0;
    row[1] = 1;
    row[2] = 1;
    row[3] = 0;
    TBitmap target;
    target.ResizeTo(2, 1);
    target.Canvas().DrawStretched({ 0, 0, 2, 1 }, &source);
    const TRGBQuad first = target.Pixel(0, 0), second = target.Pixel(1, 0);
    EXPECT_TRUE(first == (TRGBQuad { 1, 2, 3, 0 }) || first == (TRGBQuad { 4, 5, 6, 0 }));
    EXPECT_TRUE(second == (TRGBQuad { 1, 2, 3, 0 }) || second == (TRGBQuad { 4, 5, 6, 0 }));
}

TEST(TCanvas, MonochromeSourcesShrinkByTheAndRule)
{
    TBitmap source;
    source.SetPixelLayout(pl1Bit); // black 0, white 1
    source.ResizeTo(8, 2);
    source.RowAddress(0)[0] = 0b10111111; // one black pixel in the second pair of the top row
    source.RowAddress(1)[0] = 0b11111110; // one black pixel at the end of the bottom row
    TBitmap target;
    target.ResizeTo(4, 1);
    target.Canvas().DrawStretched({ 0, 0, 4, 1 }, &source);
    EXPECT_EQ(target.Pixel(0, 0), Quad(0, 0, 0));
    EXPECT_EQ(target.Pixel(1, 0), Quad(255, 255, 255));
    EXPECT_EQ(target.Pixel(2, 0), Quad(255, 255, 255));
    EXPECT_EQ(target.Pixel(3, 0), Quad(0, 0, 0));
    // a canvas set to colour-on-colour picks single pixels instead
    TBitmap nearest;
    nearest.ResizeTo(4, 1);
    nearest.Canvas().StretchMode = TStretchMode::smColorOnColor;
    nearest.Canvas().DrawStretched({ 0, 0, 4, 1 }, &source);
    EXPECT_EQ(nearest.Pixel(0, 0), Quad(255, 255, 255));
}

TEST(TCanvas, AbsentOrEmptyGraphicsLeaveTheTargetAlone)
{
    TBitmap target;
    target.ResizeTo(3, 3);
    int changes = 0;
    target.OnChange = [&changes](TGraphic&) { ++changes; };
    target.Canvas().DrawStretched({ 0, 0, 3, 3 }, nullptr);
    EXPECT_EQ(changes, 0);
    TBitmap empty;
    target.Canvas().DrawStretched({ 0, 0, 3, 3 }, &empty);
    target.Canvas().Draw(0, 0, &empty);
    EXPECT_EQ(target.Pixel(1, 1), Quad(255, 255, 255));
}

TEST(TCanvas, DrawingIsClippedAndMirroredRectanglesFlip)
{
    TBitmap source;
    MakeLabelled(source, 4, 1);
    TBitmap target;
    target.SetPixelLayout(pl24Bit);
    target.ResizeTo(3, 1);
    target.Canvas().DrawStretched({ -2, -5, 2, 5 }, &source);
    EXPECT_EQ(LabelX(target.Pixel(0, 0)), 2);
    EXPECT_EQ(LabelX(target.Pixel(1, 0)), 3);
    EXPECT_EQ(target.Pixel(2, 0), Quad(255, 255, 255));
    target.Canvas().DrawStretched({ 3, 0, -1, 1 }, &source);
    EXPECT_EQ(LabelX(target.Pixel(0, 0)), 2);
    EXPECT_EQ(LabelX(target.Pixel(2, 0)), 0);
    target.Canvas().DrawStretched({ 100, 100, 200, 200 }, &source); // entirely outside: nothing
    // a rectangle wider than the 32-bit range: the visible part shows the first source column
    target.Canvas().DrawStretched({ 0, 0, INT32_MAX, 1 }, &source);
    target.Canvas().DrawStretched({ INT32_MIN, 0, INT32_MAX, 1 }, &source);
    EXPECT_EQ(LabelX(target.Pixel(0, 0)), 2);
    target.Canvas().Draw(INT32_MAX - 1, 0, &source);
}

TEST(TCanvas, UnscaledDrawAtAPoint)
{
    TBitmap source;
    MakeLabelled(source, 2, 2);
    TBitmap target;
    target.ResizeTo(4, 4);
    target.Canvas().Draw(1, 2, &source);
    EXPECT_EQ(target.Pixel(1, 2), Quad(0, 0, 0));
    EXPECT_EQ(target.Pixel(2, 3), Quad(1, 0, 1));
    EXPECT_EQ(target.Pixel(0, 0), Quad(255, 255, 255));
}

TEST(TCanvas, DrawingOntoASharingBitmapKeepsTheSourceIntact)
{
    TBitmap source;
    MakeLabelled(source, 4, 4);
    TBitmap target;
    target.CopyContentFrom(source);
    target.Canvas().DrawStretched({ 0, 0, 4, 4 }, &target); // mirrors nothing, copies itself
    target.Canvas().DrawStretched({ 0, 0, 2, 2 }, &source);
    EXPECT_EQ(LabelX(source.Pixel(1, 1)), 1);
    EXPECT_EQ(LabelX(target.Pixel(1, 1)), 3);
}

TEST(TCanvas, CopyModesCombineSourceAndTarget)
{
    TBitmap source;
    source.SetPixelLayout(pl24Bit);
    source.ResizeTo(1, 1);
    source.RowAddress(0)[0] = 0x0F;
    source.RowAddress(0)[1] = 0xF0;
    source.RowAddress(0)[2] = 0x33;
    const struct {
        std::uint32_t Mode;
        TRGBQuad Expected; // target starts white
    } cases[] = {
        { cmSrcCopy, { 0x0F, 0xF0, 0x33, 0 } },
        { cmSrcAnd, { 0x0F, 0xF0, 0x33, 0 } },
        { cmSrcInvert, { 0xF0, 0x0F, 0xCC, 0 } },
        { cmNotSrcCopy, { 0xF0, 0x0F, 0xCC, 0 } },
        { cmSrcPaint, { 0xFF, 0xFF, 0xFF, 0 } },
        { cmBlackness, { 0, 0, 0, 0 } },
        { cmDstInvert, { 0, 0, 0, 0 } },
    };
    for (const auto& c : cases) {
        TBitmap target;
        target.SetPixelLayout(pl32Bit);
        target.ResizeTo(1, 1);
        target.Canvas().CopyMode = c.Mode;
        target.Canvas().DrawStretched({ 0, 0, 1, 1 }, &source);
        EXPECT_EQ(target.Pixel(0, 0), c.Expected) << std::hex << c.Mode;
    }
}

TEST(TCanvas, TransparentSourcesSkipTheirKeyColour)
{
    TBitmap source;
    MakeLabelled(source, 2, 1); // the bottom-left pixel (0,0) is the key
    source.Transparent = true;
    TBitmap target;
    target.SetPixelLayout(pl24Bit);
    target.ResizeTo(2, 1);
    target.Canvas().DrawStretched({ 0, 0, 2, 1 }, &source);
    EXPECT_EQ(target.Pixel(0, 0), Quad(255, 255, 255));
    EXPECT_EQ(LabelX(target.Pixel(1, 0)), 1);
}

TEST(TCanvas, FillRectUsesTheBrush)
{
    TBitmap target;
    target.SetPixelLayout(pl8Bit);
    target.ResizeTo(3, 3);
    target.Canvas().Brush.Color = clBlack;
    target.Canvas().FillRect({ 1, 1, 9, 9 });
    EXPECT_EQ(target.Pixel(0, 0), Quad(255, 255, 255));
    EXPECT_EQ(target.Pixel(2, 2), Quad(0, 0, 0));
}

} // namespace
