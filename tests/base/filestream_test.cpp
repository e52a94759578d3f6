#include "base/filestream.h"

#include "base/exception.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

class TFileStreamTest : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/ibi-filestream-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        FFolder = std::string(pattern) + '/';
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(FFolder, ignored);
    }

    std::string FFolder; // ends in "/"
};

TEST_F(TFileStreamTest, ReportsTheFullPathAndTheSystemText)
{
    const fs::path previous = fs::current_path();
    fs::current_path(FFolder);
    std::string openMessage, createMessage;
    try {
        TFileStream stream("missing.jpg", fmOpenRead | fmShareDenyWrite);
    } catch (const EFOpenError& error) {
        openMessage = error.what();
    }
    try {
        TFileStream stream("nofolder/thumb.jpg", fmCreate);
    } catch (const EFCreateError& error) {
        createMessage = error.what();
    }
    fs::current_path(previous);
    EXPECT_EQ(openMessage, "Cannot open file \"" + FFolder + "missing.jpg\". No such file or directory");
    EXPECT_EQ(createMessage, "Cannot create file \"" + FFolder + "nofolder/thumb.jpg\". No such file or directory");
}

TEST_F(TFileStreamTest, CreatesAndLoadsWholeFiles)
{
    {
        TFileStream stream(FFolder + "out.bin", fmCreate);
        stream.WriteBuffer("abcdef", 6);
    }
    {
        TFileStream stream(FFolder + "out.bin", fmCreate); // empties an existing file
        stream.WriteBuffer("xyz", 3);
    }
    TMemoryStream memory;
    memory.WriteBuffer("old content", 11);
    TFileStream file(FFolder + "out.bin", fmOpenRead | fmShareDenyWrite);
    memory.LoadFromStream(file);
    EXPECT_EQ(memory.Size(), 3);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(memory.Memory()), 3), "xyz");
}

// A FIFO without a writer would block the open itself: it is refused at once, unread.
TEST_F(TFileStreamTest, RefusesToReadWhatIsNoRegularFile)
{
    ASSERT_EQ(::mkfifo((FFolder + "1.jpg").c_str(), 0600), 0);
    EXPECT_THAT([&] { TFileStream fifo(FFolder + "1.jpg", fmOpenRead); },
        testing::ThrowsMessage<EFOpenError>(testing::StrEq("Cannot open file \"" + FFolder + "1.jpg\". Not a regular file")));
}

} // namespace
