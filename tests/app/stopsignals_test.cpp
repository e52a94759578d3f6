// Real signals sent to a running "images-by-id import".
#include "childprocess.h"
#include "importtestsupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>

using namespace importtest;

namespace {

constexpr int Records = 30; // a front and a CD cover each

class TStopSignals : public testing::Test {
protected:
    void SetUp() override
    {
        std::string reason;
        if (!CreateCatalogue(Database, NumberedMovies(Records), reason))
            GTEST_SKIP() << "no embedded Firebird: " << reason;
        MakeFolder(Images);
        for (int number = 1; number <= Records; ++number) {
            WritePng(Images + std::to_string(number) + "_1.png", 300, 200);
            WriteJpeg(Images + std::to_string(number) + "_2.jpg", 200, 300);
        }
    }

    // An import, once its pass has written that many thumbnails.
    std::unique_ptr<TChildProcess> ImportUntil(std::size_t thumbnails)
    {
        std::filesystem::remove_all(Thumbs);
        auto run = std::make_unique<TChildProcess>(std::vector<std::string> { ProgramPath(), "import", "--db", Database,
            "--images", Images, "--thumbs", Thumbs, "--kind", "both", "--remove-existing" });
        std::error_code missing;
        while (!run->Wait(std::chrono::milliseconds(2))
            && std::distance(std::filesystem::directory_iterator(Thumbs, missing), {}) < std::ptrdiff_t(thumbnails)) {
        }
        return run;
    }

    TTempFolder Folder;
    std::string Database = Folder / "cat.fdb";
    std::string Images = Folder / "images/";
    std::string Thumbs = Folder / "thumbs/";
};

// 50 runs, each stopped by SIGINT, SIGTERM or SIGHUP after a few thumbnails: the pass ends
// with its summary and the signal's exit status, and the catalogue holds what the summary
// counts: rows of consecutive ids, a thumbnail row and file for each.
TEST_F(TStopSignals, FirstOneStopsThePassWhichCommitsAndReportsWhatItDid)
{
    for (int run = 0; run < 50; ++run) {
        const int signal = std::vector { SIGINT, SIGTERM, SIGHUP }[run % 3];
        SCOPED_TRACE("run " + std::to_string(run) + ", signal " + std::to_string(signal));
        const std::unique_ptr<TChildProcess> import = ImportUntil(1 + run % 5);
        import->Signal(signal);
        ASSERT_TRUE(import->Wait(std::chrono::minutes(1))) << "the pass goes on after the signal";
        EXPECT_EQ(import->Ending(), ExitEnding(128 + signal));
        EXPECT_EQ(import->Err(), "");
        int entries = 0, imported = 0, thumbnails = 0;
        ASSERT_EQ(std::sscanf(import->Out().c_str(), "%d entries seen, %d pictures imported, %d thumbnails written",
                      &entries, &imported, &thumbnails), 3) << import->Out();
        EXPECT_LT(imported, 2 * Records) << "stopped before the end";
        const TRows rows = Query(Database, "SELECT COUNT(*), MAX(i.\"pixref\") - MIN(i.\"pixref\") + 1, "
            "COUNT(t.\"pixref\") FROM images i LEFT JOIN thumbnails t ON t.\"pixref\" = i.\"pixref\"");
        EXPECT_EQ(rows, (TRows { { std::to_string(imported), imported ? std::to_string(imported) : "<null>",
                             std::to_string(thumbnails) } }));
        for (const auto& row : Query(Database, "SELECT t.\"imgpath\" FROM thumbnails t JOIN images i ON i.\"pixref\" = t.\"pixref\""))
            EXPECT_TRUE(ReadJpeg(Thumbs + row[0].substr(0, row[0].find('.')) + ".jpg")) << row[0];
    }
}

TEST_F(TStopSignals, SecondOneEndsTheProcessAtOnce)
{
    const std::unique_ptr<TChildProcess> import = ImportUntil(2);
    import->Signal(SIGINT);
    import->Signal(SIGTERM);
    ASSERT_TRUE(import->Wait(std::chrono::minutes(1)));
    EXPECT_EQ(import->Ending(), ExitEnding(128 + SIGTERM));
    EXPECT_EQ(import->Out(), ""); // no summary: nothing more ran
}

} // namespace
