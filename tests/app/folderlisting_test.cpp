#include "app/folderlisting.h"

#include "importtestsupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <unistd.h>

using importtest::MakeFolder;
using importtest::TTempFolder;
using importtest::WriteBytes;

namespace {

std::multiset<std::string> Enumerate(const std::string& pattern, int& firstResult)
{
    std::multiset<std::string> found;
    TFolderEntry entry;
    firstResult = FolderFindFirst(pattern, entry);
    for (int result = firstResult; result == 0; result = FolderFindNext(entry))
        found.insert(entry.Name);
    FolderFindClose(entry);
    return found;
}

TEST(FolderFindFirst, DeliversEveryEntryOnce)
{
    const TTempFolder folder;
    WriteBytes(folder / "1234.jpg", "12345");
    WriteBytes(folder / ".hidden.png", "x");
    MakeFolder(folder / "sub");
    ASSERT_EQ(::symlink("nowhere", (folder / "dangling.jpg").c_str()), 0);
    int result = -1;
    EXPECT_EQ(Enumerate(folder / "*", result),
        (std::multiset<std::string> { ".", "..", ".hidden.png", "1234.jpg", "dangling.jpg", "sub" }));
    EXPECT_EQ(result, 0);

    TFolderEntry entry;
    ASSERT_EQ(FolderFindFirst(folder / "1234.*", entry), 0);
    EXPECT_EQ(entry.Name, "1234.jpg");
    EXPECT_EQ(FolderFindNext(entry), ErrorNoMoreFiles);
}

TEST(FolderFindFirst, MatchesTheNameLikeAShellPattern)
{
    const TTempFolder folder;
    WriteBytes(folder / "a.jpg", "x");
    WriteBytes(folder / ".b.jpg", "x");
    WriteBytes(folder / "c.png", "x");
    MakeFolder(folder / "sub");
    int result = -1;
    EXPECT_EQ(Enumerate(folder / "*.jpg", result), (std::multiset<std::string> { ".b.jpg", "a.jpg" }));
    EXPECT_EQ(Enumerate(folder / "*.*", result).size(), 6u); // every entry, as "*"
}

TEST(FolderFindFirst, ReportsFailuresAsCodes)
{
    const TTempFolder folder;
    int result = 0;
    EXPECT_TRUE(Enumerate(folder / "missing/*", result).empty());
    EXPECT_EQ(result, ENOENT);
    EXPECT_TRUE(Enumerate(folder / "*.none", result).empty());
    EXPECT_EQ(result, ErrorNoMoreFiles);
    TFolderEntry closed;
    FolderFindClose(closed); // closing what is not open is harmless
    EXPECT_NE(FolderFindNext(closed), 0);
}

TEST(FolderFindFirst, StartsAfreshOnAnOpenEntry)
{
    const TTempFolder folder;
    MakeFolder(folder / "one");
    MakeFolder(folder / "two");
    WriteBytes(folder / "one/1.jpg", "x");
    WriteBytes(folder / "two/2.jpg", "x");
    TFolderEntry entry;
    ASSERT_EQ(FolderFindFirst(folder / "one/*.jpg", entry), 0);
    ASSERT_EQ(FolderFindFirst(folder / "two/*.jpg", entry), 0);
    EXPECT_EQ(entry.Name, "2.jpg");
    EXPECT_EQ(FolderFindNext(entry), ErrorNoMoreFiles);
}

} // namespace
