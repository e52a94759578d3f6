#include "app/importcommand.h"

#include "importtestsupport.h"
#include "tests/support/paramname.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <sstream>

using namespace importtest;
using testing::HasSubstr;

namespace {

struct TCommandRun {
    int ExitCode;
    std::string Out, Err;
};

TCommandRun Import(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    const int exitCode = RunImportCommand(args, out, err, false);
    return { exitCode, out.str(), err.str() };
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
    TUsageCase { { "--db", "a", "--images", "b", "--verbose" }, "unknown argument \"--verbose\"" },
    TUsageCase { { "--db", "a", "--images", "b", "--set-folder=yes" }, "takes no value" },
    TUsageCase { { "--db", "a", "--images", "b", "extra" }, "unknown argument \"extra\"" }),
    [](const auto& info) {
        std::string words;
        for (const std::string& argument : info.param.Args)
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
    EXPECT_EQ(run.Out, "6 entries seen, 3 pictures imported, 3 thumbnails written, 3 entries passed over\n");
    EXPECT_EQ(run.Err, "");
    const TRows types = Query(Folder / "cat.fdb", "SELECT \"imgpath\", \"imgtype\" FROM images ORDER BY \"imgpath\"");
    EXPECT_EQ(types, (TRows { { "1_1.jpg", "2" }, { "1_2.png", "3" }, { "2.jpg", "2" } }));
    EXPECT_EQ(Query(Folder / "cat.fdb", "SELECT \"thumbsfolder_rel\", \"coversfolder_full\" FROM options"),
        (TRows { { "thumbs/", Folder / "images/" } }));
    EXPECT_TRUE(ReadJpeg(Folder / "thumbs/1_2.jpg"));
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
    EXPECT_EQ(run.Out, "0 entries seen, 0 pictures imported, 0 thumbnails written, 0 entries passed over\n");

    run = Import({ "--db", Folder / "cat.fdb", "--images", Folder / "images", "--kind", "front" });
    EXPECT_EQ(run.ExitCode, ExitUsage);
    EXPECT_THAT(run.Err, HasSubstr("Thumbnails folder must be set!"));
}

TEST_F(TImportCommand, EndsWithExitCode1AndTheMessageOnError)
{
    WriteBytes(Folder / "broken.fdb", "not a database");
    const TCommandRun run = Import({ "--db", Folder / "broken.fdb", "--images", Folder / "images" });
    EXPECT_EQ(run.ExitCode, ExitFailed);
    EXPECT_FALSE(run.Err.empty());
    EXPECT_THAT(run.Out, HasSubstr("0 pictures imported"));
}

} // namespace
