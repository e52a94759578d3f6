#include "base/fmt.h"
#include "base/exception.h"
#include "base/filestream.h"
#include "base/stream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

TEST(Fmt, FillsPlaceholdersInOrder)
{
    EXPECT_EQ(Fmt("Cannot open file \"%s\". %s", "/a/b.jpg", "No such file or directory"),
        "Cannot open file \"/a/b.jpg\". No such file or directory");
    EXPECT_EQ(Fmt("JPEG error #%d", 53), "JPEG error #53");
    EXPECT_EQ(Fmt("%d %u %x %X 100%%", -5, 7u, 255, 255), "-5 7 ff FF 100%");
    EXPECT_EQ(Fmt("%s and %s", "one"), "one and %s");
    EXPECT_EQ(Fmt("line %d", std::int64_t(1) << 40), "line 1099511627776");
}

TEST(TMemoryStream, ReadsWritesSeeksAndGrows)
{
    TMemoryStream stream;
    const std::uint8_t bytes[] = { 1, 2, 3, 4, 5 };
    stream.WriteBuffer(bytes, 5);
    stream.SetPosition(8);
    stream.WriteBuffer(bytes, 1);
    EXPECT_EQ(stream.Size(), 9);
    EXPECT_EQ(stream.Bytes()[6], 0); // the gap is zeroed
    stream.SetPosition(3);
    std::uint8_t out[4] {};
    EXPECT_EQ(stream.Read(out, 4), 4u);
    EXPECT_EQ(out[0], 4);
    EXPECT_EQ(stream.Read(out, 4), 2u); // short read at the end
    stream.SetPosition(7);
    EXPECT_THROW(stream.ReadBuffer(out, 3), EReadError);
    try {
        stream.ReadBuffer(out, 3);
    } catch (const EReadError& error) {
        EXPECT_STREQ(error.what(), "Stream read error");
    }
}

TEST(TFileStream, FailsWithFullPathAndSystemText)
{
    const auto folder = std::filesystem::temp_directory_path() / "ibi_fmt_test";
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
    try {
        TFileStream stream("missing/./x.jpg", fmOpenRead | fmShareDenyWrite);
        FAIL();
    } catch (const EFOpenError& error) {
        EXPECT_EQ(std::string(error.what()),
            "Cannot open file \"" + (folder / "missing/x.jpg").string() + "\". No such file or directory");
    }
    EXPECT_THROW(TFileStream(folder.string(), fmOpenRead), EFOpenError); // a folder is no file
    EXPECT_THROW(TFileStream("missing/y.jpg", fmCreate), EFCreateError);
    std::filesystem::current_path("/");
    std::filesystem::remove_all(folder);
}
