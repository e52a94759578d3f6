#include "app/thumbnailwriter.h"

#include "base/exception.h"
#include "base/filestream.h"
#include "base/fmt.h"
#include "importtestsupport.h"
#include "leasedfile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>

using namespace importtest;

namespace {

struct TSizeCase {
    int Width, Height;
    TThumbnailSize Thumbnail;
};

class TThumbnailSizing : public testing::TestWithParam<TSizeCase> {};

TEST_P(TThumbnailSizing, RoundsInExtendedPrecision)
{
    const TThumbnailSize size = ThumbnailSize(GetParam().Width, GetParam().Height);
    EXPECT_EQ(size.Width, GetParam().Thumbnail.Width) << GetParam().Width << " x " << GetParam().Height;
    EXPECT_EQ(size.Height, GetParam().Thumbnail.Height) << GetParam().Width << " x " << GetParam().Height;
}

INSTANTIATE_TEST_SUITE_P(Table, TThumbnailSizing, testing::Values(
    TSizeCase { 1000, 750, { 318, 238 } }, TSizeCase { 640, 480, { 318, 238 } },
    TSizeCase { 1600, 900, { 318, 178 } }, TSizeCase { 600, 800, { 178, 238 } },
    TSizeCase { 500, 500, { 238, 238 } }, TSizeCase { 300, 100, { 318, 105 } }, // not 106
    TSizeCase { 3, 17, { 41, 238 } },                                           // not 42
    TSizeCase { 100, 50, { 318, 159 } }, TSizeCase { 1, 1, { 238, 238 } },
    TSizeCase { 1000, 1500, { 158, 238 } }, TSizeCase { 1500, 1000, { 318, 211 } }, // not 212
    TSizeCase { 2, 1, { 318, 159 } }, TSizeCase { 1, 3, { 79, 238 } },
    // Too thin to keep a pixel: one is kept.
    TSizeCase { 1000, 1, { 318, 1 } }, TSizeCase { 1, 1000, { 1, 238 } },
    // Products beyond 32 bits do not wrap.
    TSizeCase { 30000000, 8, { 318, 1 } }, TSizeCase { 8, 30000000, { 1, 238 } },
    TSizeCase { 25000000, 10000000, { 318, 127 } }),
    [](const auto& testInfo) {
        return std::to_string(testInfo.param.Width) + "x" + std::to_string(testInfo.param.Height);
    });

class TWriteThumbnailFile : public testing::Test {
protected:
    TTempFolder Folder;
};

TEST_F(TWriteThumbnailFile, WritesBaselineQuality90JpegWithTrueColours)
{
    // Left half red, right half blue: a swap of red and blue would show.
    WritePng(Folder / "cover.png", 200, 100, [](int x, int) { return x < 100 ? TRgb { 230, 20, 20 } : TRgb { 20, 20, 230 }; });
    ASSERT_TRUE(WriteThumbnailFile(Folder / "cover.png", Folder / "out/deeper/cover.jpg"));
    const auto jpeg = ReadJpeg(Folder / "out/deeper/cover.jpg");
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->Width, 318);
    EXPECT_EQ(jpeg->Height, 159);
    EXPECT_EQ(jpeg->Components, 3);
    EXPECT_FALSE(jpeg->Progressive);
    EXPECT_EQ(jpeg->LuminanceDcQuant, 3) << "quality 90";
    const TRgb left = jpeg->Pixel(60, 80);
    const TRgb right = jpeg->Pixel(260, 80);
    EXPECT_GT(left.Red, 200);
    EXPECT_LT(left.Blue, 50);
    EXPECT_GT(right.Blue, 200);
    EXPECT_LT(right.Red, 50);
}

TEST_F(TWriteThumbnailFile, PicksNearestPixelsWithoutBlending)
{
    // Four columns of distinct grey, enlarged: every output column takes one source column.
    const int greys[4] = { 0, 80, 160, 240 };
    WriteBmp(Folder / "bars.bmp", 4, 2, [&](int x, int) {
        const auto g = static_cast<std::uint8_t>(greys[x]);
        return TRgb { g, g, g };
    });
    ASSERT_TRUE(WriteThumbnailFile(Folder / "bars.bmp", Folder / "bars.jpg"));
    const auto jpeg = ReadJpeg(Folder / "bars.jpg");
    ASSERT_TRUE(jpeg);
    ASSERT_EQ(jpeg->Width, 318);
    ASSERT_EQ(jpeg->Height, 159);
    // Column centres of the four bands, away from the band edges where JPEG rings.
    for (int band = 0; band < 4; ++band) {
        const int x = band * 318 / 4 + 318 / 8;
        EXPECT_NEAR(jpeg->Pixel(x, 80).Green, greys[band], 6) << "band " << band;
    }
}

TEST_F(TWriteThumbnailFile, GivesFalseAndWritesNothingForPicturesItCannotUse)
{
    WriteBytes(Folder / "empty.bmp", "");
    WriteBytes(Folder / "broken.png", "\x89PNG but nothing else");
    WriteBytes(Folder / "picture.txt", "text");
    WritePng(Folder / "really-png.jpg", 8, 8);
    MakeFolder(Folder / "folder.jpg");
    for (const char* name : { "empty.bmp", "broken.png", "picture.txt", "really-png.jpg", "folder.jpg", "missing.jpg" }) {
        EXPECT_FALSE(WriteThumbnailFile(Folder / name, Folder / "out.jpg")) << name;
        EXPECT_FALSE(FileExists(Folder / "out.jpg")) << name;
    }
}

TEST_F(TWriteThumbnailFile, ReplacesAnExistingThumbnail)
{
    WriteBytes(Folder / "1.jpg", "old content");
    WriteJpeg(Folder / "1.png.source.jpg", 64, 48);
    ASSERT_TRUE(WriteThumbnailFile(Folder / "1.png.source.jpg", Folder / "1.jpg"));
    const auto jpeg = ReadJpeg(Folder / "1.jpg");
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->Width, 318);
    EXPECT_EQ(jpeg->Height, 238);
}

TEST_F(TWriteThumbnailFile, ReportsFilesThatCannotBeOpenedOrCreated)
{
    MakeSocket(Folder / "socket.jpg"); // no regular file: not opened, no thumbnail
    EXPECT_FALSE(WriteThumbnailFile(Folder / "socket.jpg", Folder / "out.jpg"));
    EXPECT_FALSE(FileExists(Folder / "out.jpg"));
    WriteJpeg(Folder / "held.jpg", 8, 8);
    {
        const TLeasedFile held(Folder / "held.jpg");
        EXPECT_THROW(WriteThumbnailFile(Folder / "held.jpg", Folder / "out.jpg"), EFOpenError);
    }
    WriteJpeg(Folder / "good.jpg", 8, 8);
    WriteBytes(Folder / "file", "x");
    EXPECT_THROW(WriteThumbnailFile(Folder / "good.jpg", Folder / "file/out.jpg"), EFCreateError);
}

// A write the file system refuses (here the file-size limit) names the file and the cause,
// leaves no temporary file and the thumbnail that was there untouched.
TEST_F(TWriteThumbnailFile, FailedWriteKeepsTheOldFileWhole)
{
    WriteBytes(Folder / "1.jpg", "the old thumbnail");
    const std::vector<std::uint8_t> bytes(20000, 0x55);
    const std::optional<int> status = RunInChild([&] {
        const rlimit limit { 4096, 4096 };
        if (::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || ::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 77;
        for (const TThumbnailFlush flush : { TThumbnailFlush::tfNone, TThumbnailFlush::tfToDisk })
            try {
                WriteThumbnailBytes(Folder / "1.jpg", bytes, flush);
                return 1;
            } catch (const EFCreateError& error) {
                if (error.what() != Fmt(SFCreateError, Folder / "1.jpg", SysErrorMessage(EFBIG)))
                    return 2;
            }
        return 0;
    });
    if (!status || *status == 77)
        GTEST_SKIP() << "no child process with a file-size limit";
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(ReadBytes(Folder / "1.jpg"), "the old thumbnail");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Folder.Path()), {}), 1);

    WriteThumbnailBytes(Folder / "1.jpg", bytes, TThumbnailFlush::tfToDisk);
    EXPECT_EQ(ReadBytes(Folder / "1.jpg"), std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Folder.Path()), {}), 1);
}

} // namespace
