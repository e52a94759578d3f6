#include "app/imagefileload.h"

#include "base/exception.h"
#include "base/filestream.h"
#include "base/fmt.h"
#include "raster/bitmap.h"
#include "raster/jpegimage.h"
#include "tests/app/importtestsupport.h"
#include "tests/app/leasedfile.h"
#include "tests/support/files.h"
#include "tests/support/jpegreference.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

using importtest::TTempFolder;

namespace {

struct TNameCase {
    const char* Name;
    bool Loads;
};

class TLoadImageFileByName : public testing::TestWithParam<TNameCase> {};

// The decoder follows the extension, whatever its case; other extensions are not read at all.
TEST_P(TLoadImageFileByName, ChoosesTheJpegObjectByExtension)
{
    TTempFolder folder;
    const std::string path = folder / GetParam().Name;
    importtest::WriteJpeg(path, 40, 30);
    TBitmap bitmap;
    ASSERT_EQ(LoadImageFile(path, bitmap), GetParam().Loads);
    if (!GetParam().Loads) {
        EXPECT_TRUE(bitmap.IsEmpty());
        return;
    }
    EXPECT_EQ(bitmap.PixelLayout(), TPixelLayout::pl24Bit);
    const auto reference = jpegref::Decode(testsupport::ReadFile(path));
    ASSERT_TRUE(reference.Ok);
    ASSERT_EQ(bitmap.Width(), 40);
    ASSERT_EQ(bitmap.Height(), 30);
    for (int y = 0; y < 30; y += 7)
        for (int x = 0; x < 40; x += 5) {
            const std::uint8_t* expected = &reference.Pixels[(std::size_t(y) * 40 + x) * 3];
            EXPECT_EQ(bitmap.Pixel(x, y), (TRGBQuad { expected[2], expected[1], expected[0], 0 })) << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(Names, TLoadImageFileByName,
    testing::Values(TNameCase { "1.JPEG", true }, TNameCase { "1.Jpg", true }, TNameCase { "1.jpg", true },
        TNameCase { "1.jpeg", true }, TNameCase { "1.jpe", false }, TNameCase { "1.jfif", false },
        TNameCase { "1.tga", false }, TNameCase { "1", false }, TNameCase { "1.jpg.txt", false }),
    [](const auto& testInfo) {
        std::string name = testInfo.param.Name;
        for (char& c : name)
            if (c == '.')
                c = '_';
        return name;
    });

class TLoadImageFileEmpty : public testing::TestWithParam<const char*> {};

// A zero-byte BMP is an empty picture; every other decoder refuses no bytes.
TEST_P(TLoadImageFileEmpty, LoadsOnlyAsBmp)
{
    TTempFolder folder;
    const std::string path = folder / (std::string("1") + GetParam());
    importtest::WriteBytes(path, "");
    TBitmap bitmap;
    const bool bmp = std::string(GetParam()) == ".bmp";
    EXPECT_EQ(LoadImageFile(path, bitmap), bmp);
    EXPECT_EQ(bitmap.Width(), 0);
    EXPECT_EQ(bitmap.Height(), 0);
}

INSTANTIATE_TEST_SUITE_P(Extensions, TLoadImageFileEmpty,
    testing::Values(".bmp", ".jpg", ".jpeg", ".png", ".gif", ".tif", ".tiff"),
    [](const auto& testInfo) { return std::string(testInfo.param + 1); });

TEST(LoadImageFile, EveryFormatLoadsThroughItsReader)
{
    TTempFolder folder;
    importtest::WritePng(folder / "1.png", 13, 7);
    importtest::WriteBmp(folder / "2.BMP", 13, 7);
    importtest::WriteGif(folder / "3.gif", 13, 7);
    importtest::WriteTiff(folder / "4.tiff", 13, 7);
    importtest::WriteTiff(folder / "5.tif", 13, 7);
    for (const char* name : { "1.png", "2.BMP", "3.gif", "4.tiff", "5.tif" }) {
        TBitmap bitmap;
        EXPECT_TRUE(LoadImageFile(folder / name, bitmap)) << name;
        EXPECT_EQ(bitmap.Width(), 13) << name;
        EXPECT_EQ(bitmap.Height(), 7) << name;
    }
    TBitmap png;
    ASSERT_TRUE(LoadImageFile(folder / "1.png", png));
    const importtest::TRgb expected = importtest::Gradient(5, 3);
    EXPECT_EQ(png.Pixel(5, 3), (TRGBQuad { expected.Blue, expected.Green, expected.Red, 0 }));
}

TEST(LoadImageFile, ContentThatDoesNotFitTheExtensionGivesFalse)
{
    TTempFolder folder;
    importtest::WritePng(folder / "1.jpg", 8, 8);
    importtest::WriteJpeg(folder / "2.png", 8, 8);
    importtest::WriteBytes(folder / "3.gif", "GIF89a but nothing else");
    importtest::WriteBytes(folder / "4.bmp", "BM");
    for (const char* name : { "1.jpg", "2.png", "3.gif", "4.bmp" }) {
        TBitmap bitmap;
        EXPECT_FALSE(LoadImageFile(folder / name, bitmap)) << name;
    }
}

TEST(LoadImageFile, TruncatedJpegLoadsAsFarAsItsData)
{
    TTempFolder folder;
    importtest::WriteJpeg(folder / "1.jpg", 64, 64);
    const std::string bytes = importtest::ReadBytes(folder / "1.jpg");
    importtest::WriteBytes(folder / "2.jpg", bytes.substr(0, bytes.size() / 2));
    TBitmap bitmap;
    EXPECT_TRUE(LoadImageFile(folder / "2.jpg", bitmap));
    EXPECT_EQ(bitmap.Width(), 64);
}

TEST(LoadImageFile, MissingFilesAndFoldersGiveFalse)
{
    TTempFolder folder;
    importtest::MakeFolder(folder / "1.jpg");
    TBitmap bitmap;
    EXPECT_FALSE(LoadImageFile(folder / "1.jpg", bitmap));
    EXPECT_FALSE(LoadImageFile(folder / "2.jpg", bitmap));
    EXPECT_FALSE(LoadImageFile("", bitmap));
}

// A file another program keeps to itself is not waited for.
TEST(LoadImageFile, FileHeldElsewhereRaisesTheOpenErrorAtOnce)
{
    TTempFolder folder;
    importtest::WriteJpeg(folder / "1.jpg", 8, 8);
    const importtest::TLeasedFile held(folder / "1.jpg");
    TBitmap bitmap;
    EXPECT_THAT([&] { LoadImageFile(folder / "1.jpg", bitmap); },
        testing::ThrowsMessage<EFOpenError>(
            testing::StrEq(Fmt(SFOpenError, folder / "1.jpg", SysErrorMessage(EWOULDBLOCK)))));
}

TEST(LoadImageFile, UnreadableFileRaisesTheOpenError)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    TTempFolder folder;
    importtest::WriteJpeg(folder / "1.jpg", 8, 8);
    chmod((folder / "1.jpg").c_str(), 0);
    TBitmap bitmap;
    EXPECT_THAT([&] { LoadImageFile(folder / "1.jpg", bitmap); },
        testing::ThrowsMessage<EFOpenError>(testing::HasSubstr("Permission denied")));
}


struct TScaleCase {
    int Width, Height, Orientation;
    TJPEGScale Scale;
};

class TSmoothDecodeScale : public testing::TestWithParam<TScaleCase> {};

// The largest scale whose picture, sides rounded up as the library rounds them, still covers
// the thumbnail, sides compared as stored.
TEST_P(TSmoothDecodeScale, IsTheLargestThatStillCoversTheThumbnail)
{
    const TScaleCase& size = GetParam();
    EXPECT_EQ(SmoothDecodeScale(size.Width, size.Height, size.Orientation), size.Scale);
}

INSTANTIATE_TEST_SUITE_P(Sizes, TSmoothDecodeScale,
    testing::Values(TScaleCase { 1000, 1500, 1, TJPEGScale::ScaleQuarter }, // thumbnail 158 x 238
        TScaleCase { 1920, 1080, 1, TJPEGScale::ScaleQuarter },             // 318 x 178
        TScaleCase { 640, 480, 1, TJPEGScale::ScaleHalf },                  // 320 x 240 covers 318 x 238
        TScaleCase { 630, 480, 1, TJPEGScale::ScaleFull },                  // 315 wide: too narrow
        TScaleCase { 2000, 1000, 1, TJPEGScale::ScaleQuarter },             // 318 x 159
        TScaleCase { 2000, 1000, 6, TJPEGScale::ScaleEighth },              // shown upright: 119 x 238
        TScaleCase { 1000, 2000, 1, TJPEGScale::ScaleEighth },
        TScaleCase { 1000, 2000, 8, TJPEGScale::ScaleQuarter },
        TScaleCase { 1897, 1897, 1, TJPEGScale::ScaleEighth }, // 237.1 rounds up to 238
        TScaleCase { 1896, 1896, 1, TJPEGScale::ScaleQuarter },
        TScaleCase { 100, 100, 1, TJPEGScale::ScaleFull }),                 // stretched
    [](const testing::TestParamInfo<TScaleCase>& testInfo) {
        const TScaleCase& size = testInfo.param;
        return std::to_string(size.Width) + "x" + std::to_string(size.Height) + "_orientation"
            + std::to_string(size.Orientation);
    });

// A smooth thumbnail's JPEG picture is decoded reduced, just covering its thumbnail, and keeps
// its own size; any other purpose decodes it whole.
TEST(LoadImageFile, DecodesJpegForASmoothThumbnailAtTheChosenScale)
{
    TTempFolder folder;
    const std::string path = folder / "wide.jpg";
    importtest::WriteJpeg(path, 2537, 300); // thumbnail 318 x 37; an eighth is 318 x 38
    TBitmap bitmap;
    ASSERT_TRUE(LoadImageFileTimed(path, bitmap, nullptr, TThumbnailSampling::tsSmooth));
    EXPECT_EQ(bitmap.Width(), 318);
    EXPECT_EQ(bitmap.Height(), 38);
    EXPECT_EQ(bitmap.FullWidth, 2537);
    EXPECT_EQ(bitmap.FullHeight, 300);
    ASSERT_TRUE(LoadImageFile(path, bitmap));
    EXPECT_EQ(bitmap.Width(), 2537);
    EXPECT_EQ(bitmap.FullWidth, 0);
}

} // namespace
