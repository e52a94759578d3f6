// kill -9 at many moments of "images-by-id import --kind both", also while a re-import
// replaces thumbnails that committed rows name: the catalogue still validates, every
// thumbnails row names a complete JPEG, and each run's committed pictures are the first ones
// it inserted, each with its thumbnail (the command prints no progress per entry that a
// killed run could be held to; its ids, taken one per entry in folder order, say as much).
#include "childprocess.h"
#include "importtestsupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <sstream>

using namespace importtest;

namespace {

constexpr int Records = 20;      // a front and a CD cover each
constexpr int KillsPerKind = 18; // into a re-import, and into a first import
constexpr const char* Gfix = "/usr/bin/gfix";

class TKilledImport : public testing::Test {
protected:
    void SetUp() override
    {
        std::string reason;
        if (::access(Gfix, X_OK) != 0 || !CreateCatalogue(Database, NumberedMovies(Records), reason))
            GTEST_SKIP() << "no embedded Firebird or no gfix: " << reason;
        MakeFolder(Images);
        for (int number = 1; number <= Records; ++number) {
            WritePng(Images + std::to_string(number) + "_1.png", 320, 240);
            WriteJpeg(Images + std::to_string(number) + "_2.jpg", 240, 320);
        }
    }

    std::unique_ptr<TChildProcess> StartImport()
    {
        return std::make_unique<TChildProcess>(std::vector<std::string> { ProgramPath(), "import", "--db", Database,
            "--images", Images, "--thumbs", Thumbs, "--kind", "both" });
    }

    int Generator() { return std::stoi(Query(Database, "SELECT gen_id(gen_pixref, 0) FROM rdb$database").at(0).at(0)); }

    // What must hold after any run, however it ended; idsBefore: the generator before the run.
    void CheckCatalogue(int idsBefore)
    {
        // Pages a killed engine had allocated and not used yet are warnings, set free by the
        // validation itself; anything else is damage.
        TChildProcess validation({ Gfix, "-v", "-full", Database });
        ASSERT_TRUE(validation.Wait(std::chrono::minutes(2)));
        EXPECT_EQ(validation.Ending(), ExitEnding(0)) << validation.Err();
        std::istringstream report(validation.Out() + validation.Err());
        for (std::string line; std::getline(report, line);) {
            if (!line.empty() && line != "Summary of validation errors") {
                EXPECT_NE(line.find("page warnings"), std::string::npos) << line;
            }
        }
        // A JPEG cut short decodes with a warning only; a whole one ends with its EOI marker.
        for (const auto& row : Query(Database, "SELECT \"pixref\", \"imgpath\" FROM thumbnails")) {
            const std::string thumbnail = Thumbs + row[1].substr(0, row[1].rfind('.')) + ".jpg";
            EXPECT_TRUE(ReadBytes(thumbnail).ends_with("\xFF\xD9") && ReadJpeg(thumbnail))
                << "the row " << row[0] << " names a broken thumbnail of " << row[1];
        }
        const std::string since = std::to_string(idsBefore);
        const TRows run = Query(Database, "SELECT COUNT(*), MIN(i.\"pixref\"), MAX(i.\"pixref\"), COUNT(t.\"pixref\") "
            "FROM images i LEFT JOIN thumbnails t ON t.\"pixref\" = i.\"pixref\" WHERE i.\"pixref\" > " + since);
        if (run[0][0] != "0") {
            EXPECT_EQ(run[0][1], std::to_string(idsBefore + 1));
            EXPECT_EQ(run[0][2], std::to_string(idsBefore + std::stoi(run[0][0])));
        }
        EXPECT_EQ(run[0][3], run[0][0]) << "committed pictures without their thumbnail row";
    }

    TTempFolder Folder;
    std::string Database = Folder / "cat.fdb";
    std::string Images = Folder / "images/";
    std::string Thumbs = Folder / "thumbs/";
};

TEST_F(TKilledImport, LeavesAConsistentCatalogueAndCompleteThumbnails)
{
    // A whole pass first: its length spreads the kills, its thumbnails are what re-imports replace.
    int ids = Generator();
    const auto start = std::chrono::steady_clock::now();
    const std::unique_ptr<TChildProcess> whole = StartImport();
    ASSERT_TRUE(whole->Wait(std::chrono::minutes(5)));
    const auto length = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    ASSERT_EQ(whole->Ending(), ExitEnding(0)) << whole->Err();
    CheckCatalogue(ids);

    int kills = 0;
    auto spread = length;
    for (const bool reimport : { true, false })
        for (int moment = 0; moment < KillsPerKind; ++moment) {
            SCOPED_TRACE((reimport ? "re-import, kill " : "first import, kill ") + std::to_string(moment));
            if (!reimport) {
                RunIsql(Database, "DELETE FROM thumbnails; DELETE FROM images;");
                std::filesystem::remove_all(Thumbs);
            }
            ids = Generator();
            const std::unique_ptr<TChildProcess> import = StartImport();
            if (!import->Wait(spread * 4 * (2 * moment + 1) / (10 * KillsPerKind))) { // up to 4/5 of a pass
                import->Signal(SIGKILL);
                ASSERT_TRUE(import->Wait(std::chrono::minutes(1)));
            } else {
                spread = spread * 4 / 5; // the first pass was slowed (by other tests): kill earlier
            }
            kills += import->Ending() == "signal 9";
            CheckCatalogue(ids);
        }
    EXPECT_GE(kills, 30);
}

} // namespace
