#include "app/paths.h"

#include "base/exception.h"
#include "importtestsupport.h"
#include "tests/support/paramname.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

using importtest::MakeFolder;
using importtest::TTempFolder;
using importtest::WriteBytes;

namespace {

namespace fs = std::filesystem;

struct TPathCase {
    const char* Path;
    const char* FileName;
    const char* Folder;
    const char* Extension;
    const char* WithJpg; // PathChangeExtension(path, ".jpg")
};

class TPathSplitting : public testing::TestWithParam<TPathCase> {};

TEST_P(TPathSplitting, IntoFolderNameAndExtension)
{
    const TPathCase& c = GetParam();
    EXPECT_EQ(PathFileName(c.Path), c.FileName);
    EXPECT_EQ(PathFolder(c.Path), c.Folder);
    EXPECT_EQ(PathExtension(c.Path), c.Extension);
    EXPECT_EQ(PathChangeExtension(c.Path, ".jpg"), c.WithJpg);
    EXPECT_EQ(PathFolder(c.Path) + PathFileName(c.Path), c.Path);
}

INSTANTIATE_TEST_SUITE_P(Paths, TPathSplitting, testing::Values(
    TPathCase { "/home/my.pics/1234", "1234", "/home/my.pics/", "", "/home/my.pics/1234.jpg" },
    TPathCase { "1234.tar.gz", "1234.tar.gz", "", ".gz", "1234.tar.jpg" },
    TPathCase { "/pics/1234_1.png", "1234_1.png", "/pics/", ".png", "/pics/1234_1.jpg" },
    TPathCase { "pics/sub/name.", "name.", "pics/sub/", ".", "pics/sub/name.jpg" },
    TPathCase { "/pics/", "", "/pics/", "", "/pics/.jpg" },
    TPathCase { ".hidden", ".hidden", "", ".hidden", ".jpg" },
    TPathCase { "", "", "", "", ".jpg" },
    TPathCase { "/", "", "/", "", "/.jpg" }),
    [](const auto& testInfo) { return testsupport::ParamName(testInfo.param.Path); });

TEST(TPathHelpers, ChangeExtensionToNothingDropsIt)
{
    EXPECT_EQ(PathChangeExtension("/a/b.c/d.bmp", ""), "/a/b.c/d");
    EXPECT_EQ(PathChangeExtension("/a/b.c/d", ""), "/a/b.c/d");
}

TEST(TPathHelpers, LastDelimiterCountsFromOne)
{
    EXPECT_EQ(PathLastDelimiter("/.", "a/b.c"), 4u);
    EXPECT_EQ(PathLastDelimiter("/", "abc"), 0u);
    EXPECT_EQ(PathLastDelimiter("/", ""), 0u);
}

TEST(TPathHelpers, StripRemovesOneSlashOnly)
{
    EXPECT_EQ(PathStripBackslash("/a/b//"), "/a/b/");
    EXPECT_EQ(PathStripBackslash("/a/b"), "/a/b");
    EXPECT_EQ(PathStripBackslash("/"), "");
    EXPECT_EQ(PathStripBackslash(""), "");
}

TEST(TPathHelpers, ExistenceOfFilesAndFolders)
{
    const TTempFolder folder;
    WriteBytes(folder / "file.jpg", "x");
    MakeFolder(folder / "sub");
    EXPECT_TRUE(PathFileExists(folder / "file.jpg"));
    EXPECT_FALSE(PathFileExists(folder / "sub"));
    EXPECT_FALSE(PathFileExists(folder / "missing.jpg"));
    EXPECT_FALSE(PathFileExists(folder / "*.jpg")); // no pattern matching
    EXPECT_TRUE(PathFolderExists(folder / "sub"));
    EXPECT_TRUE(PathFolderExists(folder / "sub/"));
    EXPECT_FALSE(PathFolderExists(folder / "file.jpg"));
    EXPECT_FALSE(PathFolderExists(folder / "missing"));
}

TEST(TPathHelpers, ForceFoldersCreatesEveryMissingLevel)
{
    const TTempFolder folder;
    const std::string deep = folder / "a/b/c/";
    EXPECT_TRUE(PathForceFolders(deep));
    EXPECT_TRUE(PathFolderExists(folder / "a/b/c"));
    EXPECT_TRUE(PathForceFolders(deep)); // already there
    EXPECT_TRUE(PathForceFolders(folder / "a/x")); // without the trailing slash
    EXPECT_TRUE(PathFolderExists(folder / "a/x"));
    EXPECT_TRUE(PathForceFolders("/"));
}

TEST(TPathHelpers, ForceFoldersWorksOnRelativePaths)
{
    const TTempFolder folder;
    const fs::path previous = fs::current_path();
    fs::current_path(folder.Path());
    const bool made = PathForceFolders("rel/one/");
    fs::current_path(previous);
    EXPECT_TRUE(made);
    EXPECT_TRUE(fs::is_directory(folder / "rel/one"));
}

TEST(TPathHelpers, ForceFoldersReportsFailureWithoutAnError)
{
    const TTempFolder folder;
    WriteBytes(folder / "blocker", "x");
    EXPECT_FALSE(PathForceFolders(folder / "blocker/below/"));
    EXPECT_FALSE(fs::exists(folder / "blocker/below"));
    EXPECT_THAT([] { PathForceFolders(""); }, testing::ThrowsMessage<EInOutError>(testing::StrEq("Unable to create directory")));
}

struct TRelativeCase {
    const char* Base;
    const char* Target;
    const char* Result;
};

class TPathRelativeTo : public testing::TestWithParam<TRelativeCase> {};

TEST_P(TPathRelativeTo, GivesTheFolderFromTheDatabaseFile)
{
    EXPECT_EQ(PathRelativeTo(GetParam().Base, GetParam().Target), GetParam().Result)
        << GetParam().Base << " -> " << GetParam().Target;
}

INSTANTIATE_TEST_SUITE_P(Paths, TPathRelativeTo, testing::Values(
    TRelativeCase { "/data/cat.fdb", "/data/images/", "images/" },
    TRelativeCase { "/data/cat.fdb", "/pics/covers/", "../pics/covers/" },
    TRelativeCase { "/data/cat.fdb", "/data/", "" },
    TRelativeCase { "/data/sub/cat.fdb", "/data/", "../" },
    TRelativeCase { "/data/sub/deeper/cat.fdb", "/data/x/", "../../x/" },
    TRelativeCase { "/data/cat.fdb", "/data/a/b/c/", "a/b/c/" },
    TRelativeCase { "/cat.fdb", "/", "" },
    TRelativeCase { "/cat.fdb", "/images/", "images/" },
    TRelativeCase { "/data/cat.fdb", "/", "../" },
    // Linux names are case-sensitive: DATA is another folder.
    TRelativeCase { "/data/cat.fdb", "/DATA/Images/", "../DATA/Images/" },
    TRelativeCase { "/data/cat.fdb", "/data/Images/", "Images/" },
    TRelativeCase { "/data/cat.fdb", "/datax/", "../datax/" },
    TRelativeCase { "/data/cat.fdb", "/data/images/1.jpg", "images/1.jpg" },
    TRelativeCase { "/d\xC3\xA9j\xC3\xA0/cat.fdb", "/d\xC3\xA9j\xC3\xA0/\xC3\xA9t\xC3\xA9/", "\xC3\xA9t\xC3\xA9/" },
    TRelativeCase { "/it's/cat.fdb", "/it's/o'k/", "o'k/" },
    // Both relative: compared as they stand.
    TRelativeCase { "cat.fdb", "images/", "images/" },
    TRelativeCase { "db/cat.fdb", "images/", "../images/" },
    // One absolute, one relative: no common root.
    TRelativeCase { "cat.fdb", "/pics/", "/pics/" },
    TRelativeCase { "/data/cat.fdb", "pics/", "pics/" }),
    [](const auto& testInfo) {
        return testsupport::ParamName(testInfo.param.Target) + "_From_" + testsupport::ParamName(testInfo.param.Base);
    });

} // namespace
