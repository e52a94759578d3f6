// The drawing of thumbnails over pictures the readers load: as viewers show them.
#include "raster/thumbnaildrawing.h"

#include "base/stream.h"
#include "imaging/tiffgraphic.h"
#include "tests/support/tiffreference.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <string>
#include <vector>

using namespace tifftest;

namespace {

void DrawAtSize(const TBitmap& picture, TBitmap& thumbnail, int width, int height)
{
    thumbnail.ResizeTo(width, height);
    DrawThumbnail(picture, thumbnail);
}

double DarkShare(const TBitmap& bitmap)
{
    std::size_t dark = 0;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            dark += bitmap.Pixel(x, y).Green < 128;
    return double(dark) / (double(bitmap.Width()) * bitmap.Height());
}

bool SamePixels(const TBitmap& a, const TBitmap& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return false;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            if (!(a.Pixel(x, y) == b.Pixel(x, y)))
                return false;
    return true;
}

// A scan of thin dark lines and dots on white, as bits that are 1 where the scan is dark.
TBytes ScanBits(std::uint32_t width, std::uint32_t height)
{
    const std::size_t rowBytes = (width + 7) / 8;
    TBytes bits(rowBytes * height);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            if (x % 11 == 3 || y % 9 == 5 || (x * 7 + y * 13) % 97 == 0)
                bits[y * rowBytes + x / 8] |= std::uint8_t(0x80 >> (x % 8));
    return bits;
}

struct TBilevel {
    const char* Name;
    std::uint16_t Compression;
};

class TBilevelThumbnail : public testing::TestWithParam<TBilevel> {};

// Thin lines survive a reduction because the dark colour wins, whichever index shows it.
TEST_P(TBilevelThumbnail, MinIsWhiteEqualsMinIsBlack)
{
    QuietLibTiff();
    TTiffPlan plan;
    plan.Width = 1201;
    plan.Height = 899;
    plan.BitsPerSample = 1;
    plan.Compression = GetParam().Compression;
    plan.RowsPerStrip = 64;
    const TBytes dark = ScanBits(plan.Width, plan.Height);
    TBitmap thumbnails[2];
    for (int i = 0; i < 2; ++i) {
        const std::uint16_t photometric = i == 0 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_MINISWHITE;
        plan.Photometric = photometric;
        plan.Samples = dark;
        if (photometric == PHOTOMETRIC_MINISBLACK)
            for (auto& byte : plan.Samples)
                byte = static_cast<std::uint8_t>(~byte);
        const TBytes file = WriteTiff(plan);
        ASSERT_FALSE(file.empty());
        TMemoryStream stream(file);
        TTIFFGraphic tiff;
        tiff.LoadStream(stream);
        const double share = DarkShare(tiff);
        ASSERT_GT(share, 0.15) << photometric; // loaded as drawn
        DrawAtSize(tiff, thumbnails[i], 318, 238);
        EXPECT_GE(DarkShare(thumbnails[i]), share) << photometric;
    }
    EXPECT_TRUE(SamePixels(thumbnails[0], thumbnails[1]));
}

INSTANTIATE_TEST_SUITE_P(Compressions, TBilevelThumbnail,
    testing::Values(TBilevel { "None", COMPRESSION_NONE }, TBilevel { "CcittRle", COMPRESSION_CCITTRLE },
        TBilevel { "CcittRleWord", COMPRESSION_CCITTRLEW }, TBilevel { "Group3", COMPRESSION_CCITTFAX3 },
        TBilevel { "PackBits", COMPRESSION_PACKBITS }, TBilevel { "Lzw", COMPRESSION_LZW },
        TBilevel { "Deflate", COMPRESSION_ADOBE_DEFLATE }),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
