#include "app/thumbnailcommand.h"

#include "importtestsupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

using namespace importtest;
using testing::HasSubstr;

namespace {

TEST(TThumbnailCommand, WritesOneThumbnail)
{
    TTempFolder folder;
    WritePng(folder / "cover.png", 300, 100);
    std::ostringstream err;
    EXPECT_EQ(RunThumbnailCommand({ folder / "cover.png", folder / "out/cover.jpg" }, err), ExitOk);
    const auto jpeg = ReadJpeg(folder / "out/cover.jpg");
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->Width, 318);
    EXPECT_EQ(jpeg->Height, 105);

    WriteBytes(folder / "empty.bmp", "");
    EXPECT_EQ(RunThumbnailCommand({ folder / "empty.bmp", folder / "e.jpg" }, err), ExitFailed);
    EXPECT_EQ(RunThumbnailCommand({ folder / "missing.png", folder / "m.jpg" }, err), ExitFailed);
    EXPECT_FALSE(FileExists(folder / "e.jpg"));
    EXPECT_EQ(RunThumbnailCommand({ folder / "cover.png" }, err), ExitUsage);
    WriteBytes(folder / "file", "x");
    EXPECT_EQ(RunThumbnailCommand({ folder / "cover.png", folder / "file/x.jpg" }, err), ExitFailed);
    EXPECT_THAT(err.str(), HasSubstr("Cannot create file"));
}

} // namespace
