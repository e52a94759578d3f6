#include "raster/bitmap.h"
#include "raster/thumbnaildrawing.h"
#include "tests/support/areaaverage.h"
#include "tests/support/paramname.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

namespace {

using testsupport::TFloatPicture;

enum class TForm : std::uint8_t { fmOpaque24, fmStraightAlpha32, fmPalette8 };

struct TAverageCase {
    int Width, Height, ThumbWidth, ThumbHeight;
    TForm Form;
};

// A picture of random pixels in the form, and the colours it shows over white in floating point.
TFloatPicture MakePicture(const TAverageCase& size, TBitmap& picture)
{
    std::mt19937 random(static_cast<unsigned>(size.Width * 7919 + size.Height));
    const auto byte = [&] { return static_cast<std::uint8_t>(random() & 0xFF); };
    TFloatPicture shown;
    shown.Width = size.Width;
    shown.Height = size.Height;
    shown.Samples.reserve(3 * static_cast<std::size_t>(size.Width) * static_cast<std::size_t>(size.Height));
    TColorTable table(256);
    for (TRGBQuad& entry : table)
        entry = { byte(), byte(), byte(), 0 };
    picture.SetPixelLayout(size.Form == TForm::fmOpaque24 ? TPixelLayout::pl24Bit
            : size.Form == TForm::fmPalette8             ? TPixelLayout::pl8Bit
                                                         : TPixelLayout::pl32Bit);
    picture.ResizeTo(size.Width, size.Height);
    if (size.Form == TForm::fmPalette8)
        picture.SetColorTable(table);
    for (int y = 0; y < size.Height; ++y) {
        std::uint8_t* row = picture.RowAddress(y);
        for (int x = 0; x < size.Width; ++x) {
            if (size.Form == TForm::fmPalette8) {
                row[x] = byte();
                const TRGBQuad colour = table[row[x]];
                shown.Samples.insert(shown.Samples.end(), { double(colour.Blue), double(colour.Green), double(colour.Red) });
                continue;
            }
            const int step = size.Form == TForm::fmOpaque24 ? 3 : 4;
            std::uint8_t* pixel = row + step * x;
            for (int c = 0; c < step; ++c)
                pixel[c] = byte();
            const double alpha = step == 4 ? pixel[3] / 255.0 : 1.0;
            for (int c = 0; c < 3; ++c)
                shown.Samples.push_back(pixel[c] * alpha + 255 * (1 - alpha));
        }
    }
    if (size.Form == TForm::fmStraightAlpha32)
        picture.SetAlpha(TAlphaForm::afStraight);
    return shown;
}

std::string FormName(TForm form)
{
    return form == TForm::fmOpaque24 ? "opaque" : form == TForm::fmPalette8 ? "palette" : "alpha";
}

class TAreaAverage : public testing::TestWithParam<TAverageCase> {};

// Every smooth thumbnail pixel is the exact area average of the picture within one level.
TEST_P(TAreaAverage, MatchesTheFloatingPointAverageWithinOneLevel)
{
    const TAverageCase& size = GetParam();
    TBitmap picture;
    const TFloatPicture shown = MakePicture(size, picture);
    const TFloatPicture expected = testsupport::AreaAverage(shown, size.ThumbWidth, size.ThumbHeight);
    TBitmap thumbnail;
    thumbnail.ResizeTo(size.ThumbWidth, size.ThumbHeight);
    DrawThumbnail(picture, thumbnail, TThumbnailSampling::tsSmooth);
    ASSERT_EQ(thumbnail.Width(), size.ThumbWidth);
    double worst = 0;
    for (int y = 0; y < size.ThumbHeight; ++y)
        for (int x = 0; x < size.ThumbWidth; ++x) {
            const TRGBQuad got = thumbnail.Pixel(x, y);
            const std::uint8_t channels[] = { got.Blue, got.Green, got.Red };
            for (int c = 0; c < 3; ++c) {
                const double error = std::abs(channels[c] - expected.At(x, y, c));
                worst = std::max(worst, error);
                ASSERT_LE(error, 1.0) << "pixel " << x << ", " << y << " channel " << c;
            }
        }
    EXPECT_GT(worst, 0.0); // the random pixels leave fractions to round
}

INSTANTIATE_TEST_SUITE_P(Sizes, TAreaAverage,
    testing::Values(TAverageCase { 1000, 750, 318, 238, TForm::fmOpaque24 }, // 3.14 and 3.15 pixels a pixel
        TAverageCase { 750, 1000, 178, 238, TForm::fmOpaque24 },                // upright, 4.2 a pixel
        TAverageCase { 636, 476, 318, 238, TForm::fmOpaque24 },                 // two to one
        TAverageCase { 961, 403, 318, 133, TForm::fmStraightAlpha32 },
        TAverageCase { 403, 961, 99, 238, TForm::fmPalette8 },
        TAverageCase { 41, 17, 318, 131, TForm::fmOpaque24 },                   // stretched
        TAverageCase { 5, 333, 3, 238, TForm::fmPalette8 },
        TAverageCase { 7, 3, 7, 3, TForm::fmStraightAlpha32 }),                 // one to one
    [](const testing::TestParamInfo<TAverageCase>& testInfo) {
        const TAverageCase& size = testInfo.param;
        return testsupport::ParamName(std::to_string(size.Width) + "x" + std::to_string(size.Height) + "_to_"
            + std::to_string(size.ThumbWidth) + "x" + std::to_string(size.ThumbHeight) + "_"
            + FormName(size.Form));
    });

} // namespace
