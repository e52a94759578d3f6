#include "app/widepath.h"

#include "base/exception.h"
#include "tests/support/paramname.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

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
    [](const auto& info) { return testsupport::ParamName(info.param.Path); });

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

TEST(TPathHelpers, ReplaceAllDoublesQuotes)
{
    EXPECT_EQ(TextReplaceAll("no quotes", "'", "''"), "no quotes");
    EXPECT_EQ(TextReplaceAll("it's", "'", "''"), "it''s");
    EXPECT_EQ(TextReplaceAll("''", "'", "''"), "''''");
    EXPECT_EQ(TextReplaceAll("aaa", "aa", "b"), "ba"); // left to right, no overlap
    EXPECT_EQ(TextReplaceAll("AbA", "a", "x"), "AbA"); // exact case
    EXPECT_EQ(TextReplaceAll("abc", "", "x"), "abc");
}

class TFolderTest : public testing::Test {
protected:
    void SetUp() override
    {
        FRoot = fs::temp_directory_path() / ("widepath_test_" + std::to_string(::getpid()) + "_"
            + testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(FRoot);
        fs::create_directories(FRoot);
        FFolder = FRoot.string() + "/";
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::permissions(FRoot, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(FRoot, ignored);
    }
    void Touch(const std::string& name, const std::string& content = "x")
    {
        std::ofstream(FFolder + name) << content;
    }

    fs::path FRoot;
    std::string FFolder; // ends in "/"
};

TEST_F(TFolderTest, ExistenceOfFilesAndFolders)
{
    Touch("file.jpg");
    fs::create_directory(FFolder + "sub");
    EXPECT_TRUE(PathFileExists(FFolder + "file.jpg"));
    EXPECT_FALSE(PathFileExists(FFolder + "sub"));
    EXPECT_FALSE(PathFileExists(FFolder + "missing.jpg"));
    EXPECT_FALSE(PathFileExists(FFolder + "*.jpg")); // no pattern matching
    EXPECT_TRUE(PathFolderExists(FFolder + "sub"));
    EXPECT_TRUE(PathFolderExists(FFolder + "sub/"));
    EXPECT_FALSE(PathFolderExists(FFolder + "file.jpg"));
    EXPECT_FALSE(PathFolderExists(FFolder + "missing"));
}

TEST_F(TFolderTest, ForceFoldersCreatesEveryMissingLevel)
{
    const std::string deep = FFolder + "a/b/c/";
    EXPECT_TRUE(PathForceFolders(deep));
    EXPECT_TRUE(PathFolderExists(FFolder + "a/b/c"));
    EXPECT_TRUE(PathForceFolders(deep)); // already there
    EXPECT_TRUE(PathForceFolders(FFolder + "a/x")); // without the trailing slash
    EXPECT_TRUE(PathFolderExists(FFolder + "a/x"));
    EXPECT_TRUE(PathForceFolders("/"));
}

TEST_F(TFolderTest, ForceFoldersWorksOnRelativePaths)
{
    const fs::path previous = fs::current_path();
    fs::current_path(FRoot);
    const bool made = PathForceFolders("rel/one/");
    fs::current_path(previous);
    EXPECT_TRUE(made);
    EXPECT_TRUE(fs::is_directory(FRoot / "rel" / "one"));
}

TEST_F(TFolderTest, ForceFoldersReportsFailureWithoutAnError)
{
    Touch("blocker");
    EXPECT_FALSE(PathForceFolders(FFolder + "blocker/below/"));
    EXPECT_FALSE(fs::exists(FFolder + "blocker/below"));
    EXPECT_THAT([] { PathForceFolders(""); }, testing::ThrowsMessage<EInOutError>(testing::StrEq("Unable to create directory")));
}

std::map<std::string, std::uint32_t> Enumerate(const std::string& pattern, std::uint32_t mask, int& firstResult)
{
    std::map<std::string, std::uint32_t> found;
    TFolderEntry entry;
    firstResult = FolderFindFirst(pattern, mask, entry);
    for (int result = firstResult; result == 0; result = FolderFindNext(entry))
        found[entry.Name] = entry.Attributes;
    FolderFindClose(entry);
    return found;
}

TEST_F(TFolderTest, EnumerationDeliversEveryEntryWithItsAttributes)
{
    Touch("1234.jpg", "12345");
    Touch(".hidden.png");
    fs::create_directory(FFolder + "sub");
    int result = -1;
    const auto found = Enumerate(FFolder + "*", faAnyFile, result);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(found.size(), 5u);
    EXPECT_EQ(found.at(".") & faDirectory, faDirectory);
    EXPECT_EQ(found.at("..") & faDirectory, faDirectory);
    EXPECT_EQ(found.at(".") & faHidden, 0u);
    EXPECT_EQ(found.at("sub") & (faDirectory | faHidden), faDirectory);
    EXPECT_EQ(found.at(".hidden.png") & (faDirectory | faHidden), faHidden);
    EXPECT_EQ(found.at("1234.jpg") & (faDirectory | faHidden), 0u);

    TFolderEntry entry;
    ASSERT_EQ(FolderFindFirst(FFolder + "1234.*", faAnyFile, entry), 0);
    EXPECT_EQ(entry.Name, "1234.jpg");
    EXPECT_EQ(entry.Size, 5);
    EXPECT_GT(entry.Time, 0);
    EXPECT_EQ(FolderFindNext(entry), ErrorNoMoreFiles);
}

TEST_F(TFolderTest, EnumerationSkipsWhatTheMaskLeavesOut)
{
    Touch("a.jpg");
    Touch(".b.jpg");
    fs::create_directory(FFolder + "sub");
    int result = -1;
    auto found = Enumerate(FFolder + "*", 0, result);
    EXPECT_EQ(found.size(), 1u);
    EXPECT_TRUE(found.count("a.jpg"));
    found = Enumerate(FFolder + "*", faDirectory, result);
    EXPECT_EQ(found.size(), 4u); // ".", "..", "sub", "a.jpg"
    found = Enumerate(FFolder + "*.jpg", faAnyFile, result);
    EXPECT_EQ(found.size(), 2u);
}

TEST_F(TFolderTest, EnumerationFailuresAreCodes)
{
    int result = 0;
    EXPECT_TRUE(Enumerate(FFolder + "missing/*", faAnyFile, result).empty());
    EXPECT_EQ(result, ENOENT);
    EXPECT_TRUE(Enumerate(FFolder + "*.none", faAnyFile, result).empty());
    EXPECT_EQ(result, ErrorNoMoreFiles);
    TFolderEntry closed;
    FolderFindClose(closed); // closing what is not open is harmless
    EXPECT_NE(FolderFindNext(closed), 0);
}

TEST_F(TFolderTest, ReadOnlyEntriesAreMarked)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "every file is writable for root";
    Touch("locked.jpg");
    fs::permissions(FFolder + "locked.jpg", fs::perms::owner_read);
    TFolderEntry entry;
    ASSERT_EQ(FolderFindFirst(FFolder + "locked.jpg", faAnyFile, entry), 0);
    EXPECT_EQ(entry.Attributes & faReadOnly, faReadOnly);
}

TEST_F(TFolderTest, StreamsReportTheFullPathAndTheSystemText)
{
    const fs::path previous = fs::current_path();
    fs::current_path(FRoot);
    std::string openMessage, createMessage;
    try {
        TWideFileStream stream("missing.jpg", fmOpenRead | fmShareDenyWrite);
    } catch (const EFOpenError& error) {
        openMessage = error.what();
    }
    try {
        TWideFileStream stream("nofolder/thumb.jpg", fmCreate);
    } catch (const EFCreateError& error) {
        createMessage = error.what();
    }
    fs::current_path(previous);
    EXPECT_EQ(openMessage, "Cannot open file \"" + FFolder + "missing.jpg\". No such file or directory");
    EXPECT_EQ(createMessage, "Cannot create file \"" + FFolder + "nofolder/thumb.jpg\". No such file or directory");
}

TEST_F(TFolderTest, StreamsCreateAndLoadWholeFiles)
{
    {
        TWideFileStream stream(FFolder + "out.bin", fmCreate);
        stream.WriteBuffer("abcdef", 6);
    }
    {
        TWideFileStream stream(FFolder + "out.bin", fmCreate); // empties an existing file
        stream.WriteBuffer("xyz", 3);
    }
    TWideMemoryStream memory;
    memory.WriteBuffer("old content", 11);
    memory.LoadFile(FFolder + "out.bin");
    EXPECT_EQ(memory.Size(), 3);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(memory.Memory()), 3), "xyz");
    EXPECT_THROW(memory.LoadFile(FFolder + "missing.bin"), EFOpenError);
    EXPECT_THROW(memory.LoadFile(FFolder), EFOpenError); // a folder is no file
}

} // namespace
