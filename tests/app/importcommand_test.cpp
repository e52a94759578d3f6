#include "app/importcommand.h"

#include "app/imagefileload.h"
#include "app/importpass.h"
#include "base/filestream.h"
#include "base/fmt.h"
#include "childprocess.h"
#include "importtestsupport.h"
#include "tests/support/catalogue.h"
#include "tests/support/paramname.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <png.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

using namespace importtest;
using testing::HasSubstr;
using testing::Not;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool UnderAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool UnderAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool UnderAddressSanitizer = false;
#endif

// An RGB PNG of one colour, whatever its size, written row by row.
void WriteBlackPng(const std::string& path, int width, int height)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
        PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 1);
    png_write_info(png, info);
    const std::vector<png_byte> row(std::size_t(width) * 3, 0);
    for (int y = 0; y < height; ++y)
        png_write_row(png, row.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

// An address space limit that leaves room for bytes more than the process now maps.
rlimit AddressSpaceLeft(std::size_t bytes)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    std::size_t kilobytes = 0;
    while (std::getline(status, line))
        if (line.starts_with("VmSize:"))
            kilobytes = std::stoul(line.substr(7));
    const rlim_t size = kilobytes * 1024 + bytes;
    return { size, size };
}

struct TUsageCase {
    std::vector<std::string> Args;
    const char* Complaint;
};

class TImportCommandUsage : public testing::TestWithParam<TUsageCase> {};

TEST_P(TImportCommandUsage, RefusesWithExitCode2)
{
    const TCommandRun run = Import(GetParam().Args);
    EXPECT_EQ(run.ExitCode, ExitUsage);
    EXPECT_THAT(run.Err, HasSubstr(GetParam().Complaint));
    EXPECT_EQ(run.Out, "");
}

INSTANTIATE_TEST_SUITE_P(Arguments, TImportCommandUsage, testing::Values(
    TUsageCase { {}, "--db DBFILE is required" },
    TUsageCase { { "--images", "/tmp" }, "--db DBFILE is required" },
    TUsageCase { { "--db", "/tmp/x.fdb" }, "--images DIR is required" },
    TUsageCase { { "--db", "/tmp/x.fdb", "--images", "" }, "the image folder is empty" },
    TUsageCase { { "--db" }, "option --db needs a value" },
    TUsageCase { { "--db", "a", "--images", "b", "--kind", "posters" }, "unknown kind \"posters\"" },
    TUsageCase { { "--db", "a", "--images", "b", "--noisy" }, "unknown argument \"--noisy\"" },
    TUsageCase { { "--db", "a", "--images", "b", "--report" }, "option --report needs a value" },
    TUsageCase { { "--db", "a", "--images", "b", "--report=" }, "--report needs a file name" },
    TUsageCase { { "--db", "a", "--images", "b", "--dry-run=yes" }, "takes no value" },
    TUsageCase { { "--db", "a", "--images", "b", "--set-folder=yes" }, "takes no value" },
    TUsageCase { { "--db", "a", "--images", "b", "extra" }, "unknown argument \"extra\"" }),
    [](const auto& testInfo) {
        std::string words;
        for (const std::string& argument : testInfo.param.Args)
            words += (words.empty() ? "" : " ") + argument;
        return testsupport::ParamName(words);
    });

class TImportCommand : public testing::Test {
protected:
    void SetUp() override
    {
        std::string reason;
        if (!CreateCatalogue(Folder / "cat.fdb", { { 10, 1 }, { 20, 2 } }, reason))
            GTEST_SKIP() << "no embedded Firebird: " << reason;
        MakeFolder(Folder / "images");
    }
    TTempFolder Folder;
};

TEST_F(TImportCommand, ImportsAndPrintsTheSummary)
{
    WriteJpeg(Folder / "images/1_1.jpg", 40, 30);
    WritePng(Folder / "images/1_2.png", 30, 40);
    WriteJpeg(Folder / "images/2.jpg", 40, 30);
    WriteBytes(Folder / "images/readme.txt", "x");
    const TCommandRun run = Import({ "--db", Folder / "cat.fdb", "--images", Folder / "images", "--thumbs",
        Folder / "thumbs", "--kind", "both", "--set-folder", "--remove-existing" });
    EXPECT_EQ(run.ExitCode, ExitOk) << run.Err;
    EXPECT_EQ(run.Out, "6 entries seen, 3 pictures imported, 3 thumbnails written, 3 entries passed over "
                       "(3 not a picture extension)\n");
    EXPECT_EQ(run.Err, "");
    const TRows types = Query(Folder / "cat.fdb", "SELECT \"imgpath\", \"imgtype\" FROM images ORDER BY \"imgpath\"");
    EXPECT_EQ(types, (TRows { { "1_1.jpg", "2" }, { "1_2.png", "3" }, { "2.jpg", "2" } }));
    EXPECT_EQ(Query(Folder / "cat.fdb", "SELECT \"thumbsfolder_rel\", \"coversfolder_full\" FROM options"),
        (TRows { { "thumbs/", Folder / "images/" } }));
    EXPECT_TRUE(ReadJpeg(Folder / "thumbs/1_2.jpg"));
}

// A one-pixel checkerboard: every nearest-pixel sample of a two-to-one or four-to-one thumbnail
// falls on one colour, a smooth thumbnail is an even grey. --smooth reaches both the PNG drawn
// from the full picture and the JPEG decoded at a quarter, on the decode-ahead workers too.
TEST_F(TImportCommand, SmoothThumbnailsAverageEveryPixel)
{
    const auto checker = [](int x, int y) {
        const std::uint8_t level = (x + y) % 2 ? 255 : 0;
        return TRgb { level, level, level };
    };
    WritePng(Folder / "images/1_1.png", 636, 476, checker);
    WriteJpeg(Folder / "images/1_2.jpg", 1272, 952, checker, 95);
    const TCommandRun run = Import({ "--db", Folder / "cat.fdb", "--images", Folder / "images", "--thumbs",
        Folder / "thumbs", "--kind", "both", "--smooth" });
    ASSERT_EQ(run.ExitCode, ExitOk) << run.Err;
    for (const char* name : { "1_1.jpg", "1_2.jpg" }) {
        SCOPED_TRACE(name);
        const auto thumbnail = ReadJpeg(Folder / ("thumbs/" + std::string(name)));
        ASSERT_TRUE(thumbnail);
        EXPECT_EQ(thumbnail->Width, 318);
        EXPECT_EQ(thumbnail->Height, 238);
        const auto [darkest, lightest] = std::minmax_element(thumbnail->Rgb.begin(), thumbnail->Rgb.end());
        EXPECT_GE(*darkest, 120);
        EXPECT_LE(*lightest, 136);
    }
}

TEST_F(TImportCommand, StoresAbsoluteFoldersForRelativeArguments)
{
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(Folder.Path().c_str()), 0);
    const TCommandRun run = Import({ "--db=cat.fdb", "--images=images/", "--set-folder", "--kind=screenshot" });
    ASSERT_EQ(chdir(saved), 0);
    EXPECT_EQ(run.ExitCode, ExitOk) << run.Err;
    EXPECT_EQ(Query(Folder / "cat.fdb", "SELECT \"screensfolder_rel\", \"screensfolder_full\" FROM options"),
        (TRows { { "images/", Folder / "images/" } }));
}

TEST_F(TImportCommand, SaysWhatTheDialogLeavesUnsaid)
{
    TCommandRun run = Import({ "--db", Folder / "missing.fdb", "--images", Folder / "images" });
    EXPECT_EQ(run.ExitCode, ExitFailed);
    EXPECT_THAT(run.Err, HasSubstr("no database file \"" + Folder / "missing.fdb" + "\""));

    run = Import({ "--db", Folder / "cat.fdb", "--images", Folder / "nowhere" });
    EXPECT_EQ(run.ExitCode, ExitOk);
    EXPECT_THAT(run.Err, HasSubstr("does not exist or cannot be read"));

    run = Import({ "--db", Folder / "cat.fdb", "--images", Folder / "nowhere", "--remove-existing" });
    EXPECT_EQ(run.ExitCode, ExitFailed);
    EXPECT_EQ(run.Err, Fmt(SImageFolderUnreadable, Folder / "nowhere", SysErrorMessage(ENOENT)) + "\n");
    EXPECT_EQ(run.Out, "0 entries seen, 0 pictures imported, 0 thumbnails written, 0 entries passed over\n");

    run = Import({ "--db", Folder / "cat.fdb", "--images", Folder / "images", "--kind", "front" });
    EXPECT_EQ(run.ExitCode, ExitUsage);
    EXPECT_THAT(run.Err, HasSubstr("Thumbnails folder must be set!"));
}

TEST_F(TImportCommand, FailureToAttachShowsOnlyTheRealError)
{
    WriteBytes(Folder / "broken.fdb", "not a database");
    std::vector<std::string> databases { Folder / "broken.fdb" };
    if (geteuid() != 0) { // root writes whatever the file's mode says
        ASSERT_EQ(chmod((Folder / "cat.fdb").c_str(), 0444), 0);
        databases.push_back(Folder / "cat.fdb");
    }
    for (const std::string& database : databases) {
        const TCommandRun run = Import({ "--db", database, "--images", Folder / "nowhere", "--set-folder" });
        EXPECT_EQ(run.ExitCode, ExitFailed) << database;
        EXPECT_THAT(run.Err, HasSubstr("Error Code: ")) << database;
        EXPECT_THAT(run.Err, Not(HasSubstr("image folder"))) << database;
        EXPECT_THAT(run.Err, Not(HasSubstr("\r"))) << database;
        EXPECT_THAT(run.Out, HasSubstr("0 pictures imported"));
    }
}

// Another program (isql) holds the embedded catalogue open; with the lock folder of this
// process or one of its own, the engine answers alike.
TEST_F(TImportCommand, CatalogueOpenInAnotherProgramIsNamedWithTheRemedy)
{
    WriteJpeg(Folder / "images/1.jpg", 40, 30);
    const char* lock = std::getenv("FIREBIRD_LOCK");
    for (const std::string& otherLock : { std::string(lock ? lock : ""), Folder / "otherlock" }) {
        SCOPED_TRACE(otherLock);
        MakeFolder(Folder / "otherlock");
        // isql says "held" once it has the file open, and keeps it so for some seconds.
        const std::string script = "{ echo \"SELECT 'held' FROM RDB\\$DATABASE;\"; sleep 4; } | \"$0\" -q -user SYSDBA \"$1\"";
        TChildProcess holder({ "/bin/sh", "-c", script, testsupport::IsqlProgram(), Folder / "cat.fdb" },
            { otherLock.empty() ? std::string("FIREBIRD_LOCK") : "FIREBIRD_LOCK=" + otherLock });
        for (int wait = 0; wait < 1000 && holder.Out().find("held") == std::string::npos; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const TCommandRun run = Import({ "--db", Folder / "cat.fdb", "--images", Folder / "images" });
        EXPECT_EQ(run.ExitCode, ExitFailed);
        EXPECT_THAT(run.Err, testing::StartsWith(std::string(SCatalogueInUse) + "\n"));
        EXPECT_THAT(run.Err, HasSubstr("Error Code: "));
        ASSERT_TRUE(holder.Wait(std::chrono::seconds(30)));
        EXPECT_EQ(holder.Err(), "");
    }
}

TEST_F(TImportCommand, ReportsPicturesTooLargeForTheMemoryLeft)
{
    if (UnderAddressSanitizer)
        GTEST_SKIP() << "AddressSanitizer ends the process at the first allocation it cannot make";
    // 16000 x 16000 black pixels, in a small file: the picture needs 768 MB of memory.
    WriteBlackPng(Folder / "images/1_1.png", 16000, 16000);
    WriteJpeg(Folder / "images/2_1.jpg", 40, 30);
    const std::optional<int> status = RunInChild([&] {
        const rlimit limit = AddressSpaceLeft(std::size_t(400) << 20); // the engine takes about 250 MB
        if (::setrlimit(RLIMIT_AS, &limit) != 0)
            return 77;
        std::ostringstream out, err;
        const int code = RunImportCommand({ "--db", Folder / "cat.fdb", "--images", Folder / "images", "--thumbs",
                                              Folder / "thumbs", "--kind", "both" }, out, err, false);
        WriteBytes(Folder / "out.txt", out.str());
        WriteBytes(Folder / "err.txt", err.str());
        return code;
    });
    if (!status || *status == 77)
        GTEST_SKIP() << "no child process with an address space limit";
    EXPECT_EQ(*status, ExitFailed);
    EXPECT_EQ(ReadBytes(Folder / "err.txt"), Fmt(SNotEnoughMemoryToLoad, Folder / "images/1_1.png") + "\n");
    EXPECT_EQ(ReadBytes(Folder / "out.txt"),
        "4 entries seen, 2 pictures imported, 1 thumbnails written, 2 entries passed over "
        "(2 not a picture extension, 1 no thumbnail: not enough memory)\n");
    EXPECT_TRUE(ReadJpeg(Folder / "thumbs/2_1.jpg"));
}

} // namespace
