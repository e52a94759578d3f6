// The drawing of thumbnails over pictures the readers load: as viewers show them.
#include "raster/thumbnaildrawing.h"

#include "base/stream.h"
#include "imaging/gifgraphic.h"
#include "imaging/pnggraphic.h"
#include "imaging/tiffgraphic.h"
#include "tests/support/gifreference.h"
#include "tests/support/pngreference.h"
#include "tests/support/tiffreference.h"

#include <gtest/gtest.h>
#include <tiffio.h>
#include <zlib.h>

#include <functional>
#include <memory>
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
    [](const auto& c) { return std::string(c.param.Name); });

// ---------------------------------------------------------------------------------------------
// Transparency over white, against the reference libraries' RGBA composited over white here.

constexpr int PictureWidth = 37, PictureHeight = 23;

// Straight RGBA rows (top-down) over white.
TBytes OverWhite(const TBytes& rgba)
{
    TBytes rgb;
    for (std::size_t i = 0; i < rgba.size(); i += 4)
        for (int c = 0; c < 3; ++c)
            rgb.push_back(static_cast<std::uint8_t>((rgba[i + c] * rgba[i + 3] + 255 * (255 - rgba[i + 3]) + 127) / 255));
    return rgb;
}

TBytes PngReference(const TBytes& file)
{
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size()))
        return {};
    image.format = PNG_FORMAT_RGBA;
    TBytes rgba(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr))
        return {};
    return OverWhite(rgba);
}

// The chunk put in front of the first IDAT.
TBytes WithChunk(TBytes file, const char* type, const TBytes& data)
{
    TBytes chunk { 0, 0, 0, static_cast<std::uint8_t>(data.size()) };
    chunk.insert(chunk.end(), type, type + 4);
    chunk.insert(chunk.end(), data.begin(), data.end());
    const uLong crc = crc32(0, chunk.data() + 4, static_cast<uInt>(chunk.size() - 4));
    for (int shift = 24; shift >= 0; shift -= 8)
        chunk.push_back(static_cast<std::uint8_t>(crc >> shift));
    const TBytes idat { 'I', 'D', 'A', 'T' };
    const auto at = std::search(file.begin(), file.end(), idat.begin(), idat.end()) - 4;
    file.insert(at, chunk.begin(), chunk.end());
    return file;
}

pngref::TPngImage PngOf(int colorType, int samples)
{
    pngref::TPngImage image;
    image.Width = PictureWidth;
    image.Height = PictureHeight;
    image.ColorType = colorType;
    for (int y = 0; y < PictureHeight; ++y) {
        TBytes row;
        for (int x = 0; x < PictureWidth * samples; ++x)
            row.push_back(static_cast<std::uint8_t>(colorType == PNG_COLOR_TYPE_PALETTE ? (x + y) % 4 : (x * 37 + y * 91) % 256));
        image.Rows.push_back(row);
    }
    for (int i = 0; i < 4; ++i)
        image.Palette.push_back({ std::uint8_t(60 * i), std::uint8_t(200 - 40 * i), std::uint8_t(17 * i) });
    return image;
}

// A GIF of four colours whose graphic control block makes index 2 transparent, and giflib's
// picture of it over white.
TBytes GifFile()
{
    gifref::TGifImage image;
    image.Width = PictureWidth;
    image.Height = PictureHeight;
    image.Colors = { { 10, 20, 30 }, { 200, 0, 0 }, { 0, 0, 250 }, { 90, 90, 90 } };
    for (int y = 0; y < PictureHeight; ++y) {
        TBytes row;
        for (int x = 0; x < PictureWidth; ++x)
            row.push_back(static_cast<std::uint8_t>((x / 3 + y) % 4));
        image.Rows.push_back(row);
    }
    TBytes file = gifref::Encode(image);
    const TBytes control { 0x21, 0xF9, 4, 1, 0, 0, 2, 0 };
    file.insert(file.begin() + 13 + 3 * 4, control.begin(), control.end());
    return file;
}

TBytes GifReference(const TBytes& file)
{
    gifref::TGifReader reader(file);
    const SavedImage* image = reader.FirstImage();
    GraphicsControlBlock control {};
    if (!image || DGifSavedExtensionToGCB(reader.File(), 0, &control) != GIF_OK)
        return {};
    const ColorMapObject* colors = reader.FirstImageColors();
    TBytes rgba;
    for (int i = 0; i < image->ImageDesc.Width * image->ImageDesc.Height; ++i) {
        const int index = image->RasterBits[i];
        const GifColorType c = colors->Colors[index];
        rgba.insert(rgba.end(), { c.Red, c.Green, c.Blue, std::uint8_t(index == control.TransparentColor ? 0 : 255) });
    }
    return OverWhite(rgba);
}

TBytes TiffFile(std::uint16_t extraSample)
{
    TTiffPlan plan;
    plan.Width = PictureWidth;
    plan.Height = PictureHeight;
    plan.SamplesPerPixel = 4;
    plan.Photometric = PHOTOMETRIC_RGB;
    plan.ExtraSamples = { extraSample };
    plan.Samples = Pattern(plan);
    if (extraSample == EXTRASAMPLE_ASSOCALPHA) // no colour above its alpha
        for (std::size_t i = 0; i < plan.Samples.size(); i += 4)
            for (int c = 0; c < 3; ++c)
                plan.Samples[i + c] = std::min(plan.Samples[i + c], plan.Samples[i + 3]);
    return WriteTiff(plan);
}

// libtiff's RGBA interface gives colours multiplied by alpha: white's share is added.
TBytes TiffReference(const TBytes& file)
{
    QuietLibTiff();
    TTiffInMemory tiff(file);
    std::vector<std::uint32_t> abgr(std::size_t(PictureWidth) * PictureHeight);
    if (!tiff.Tiff() || !TIFFReadRGBAImageOriented(tiff.Tiff(), PictureWidth, PictureHeight, abgr.data(), ORIENTATION_TOPLEFT, 0))
        return {};
    TBytes rgb;
    for (const std::uint32_t pixel : abgr)
        for (const std::uint32_t sample : { TIFFGetR(pixel), TIFFGetG(pixel), TIFFGetB(pixel) })
            rgb.push_back(static_cast<std::uint8_t>(std::min(255u, sample + 255 - TIFFGetA(pixel))));
    return rgb;
}

struct TTransparent {
    const char* Name;
    std::function<TBytes()> File;
    std::function<TBytes(const TBytes&)> Reference;
    std::function<std::unique_ptr<TBitmap>()> Reader;
};

template <class TReader>
std::function<std::unique_ptr<TBitmap>()> ReaderOf()
{
    return [] { return std::make_unique<TReader>(); };
}

std::vector<TTransparent> TransparentCases()
{
    const auto png = [](int colorType, int samples, const char* chunk, TBytes data) {
        return [=] {
            const TBytes file = pngref::Encode(PngOf(colorType, samples));
            return chunk ? WithChunk(file, chunk, data) : file;
        };
    };
    return {
        { "PngAlpha", png(PNG_COLOR_TYPE_RGBA, 4, nullptr, {}), PngReference, ReaderOf<TPNGGraphic>() },
        { "PngPaletteTrns", png(PNG_COLOR_TYPE_PALETTE, 1, "tRNS", { 0, 128, 255 }), PngReference, ReaderOf<TPNGGraphic>() },
        { "PngRgbTrns", png(PNG_COLOR_TYPE_RGB, 3, "tRNS", { 0, 111, 0, 148, 0, 185 }), PngReference, ReaderOf<TPNGGraphic>() },
        { "PngGrayTrns", png(PNG_COLOR_TYPE_GRAY, 1, "tRNS", { 0, 74 }), PngReference, ReaderOf<TPNGGraphic>() },
        { "GifTransparentIndex", GifFile, GifReference, ReaderOf<TGIFGraphic>() },
        { "TiffUnassociatedAlpha", [] { return TiffFile(EXTRASAMPLE_UNASSALPHA); }, TiffReference, ReaderOf<TTIFFGraphic>() },
        { "TiffAssociatedAlpha", [] { return TiffFile(EXTRASAMPLE_ASSOCALPHA); }, TiffReference, ReaderOf<TTIFFGraphic>() },
    };
}

class TTransparentThumbnail : public testing::TestWithParam<TTransparent> {};

// Drawn at the picture's own size, every pixel of the thumbnail is the picture's over white.
TEST_P(TTransparentThumbnail, ShowsThePictureOverWhite)
{
    const TBytes file = GetParam().File();
    const TBytes expected = GetParam().Reference(file);
    ASSERT_EQ(expected.size(), std::size_t(3) * PictureWidth * PictureHeight);
    const std::unique_ptr<TBitmap> picture = GetParam().Reader();
    TMemoryStream stream(file);
    picture->LoadStream(stream);
    TBitmap thumbnail;
    DrawAtSize(*picture, thumbnail, PictureWidth, PictureHeight);
    int transparent = 0, wrong = 0;
    for (int y = 0; y < PictureHeight; ++y)
        for (int x = 0; x < PictureWidth; ++x) {
            const TRGBQuad shown = thumbnail.Pixel(x, y);
            const std::uint8_t* want = &expected[3 * (std::size_t(y) * PictureWidth + x)];
            wrong += shown.Red != want[0] || shown.Green != want[1] || shown.Blue != want[2];
            transparent += !(picture->Pixel(x, y) == shown);
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(transparent, 0); // the case has transparent parts
}

INSTANTIATE_TEST_SUITE_P(Readers, TTransparentThumbnail, testing::ValuesIn(TransparentCases()),
    [](const auto& c) { return std::string(c.param.Name); });

} // namespace
