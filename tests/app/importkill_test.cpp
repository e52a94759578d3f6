// kill -9 at many moments of "images-by-id import --kind both", also while a re-import
// replaces thumbnails that committed rows name: the catalogue still validates, every
// thumbnails row names a complete JPEG, and each run's committed pictures are the first ones
// it inserted, each with its thumbnail (the command prints no progress per entry that a
// killed run could be held to; its ids, taken one per entry in folder order, say as much).
#include "childprocess.h"
#include "importtestsupport.h"

#include <gtest/gtest.h>

#include <jpeglib.h>
#include <unistd.h>

#include <csetjmp>
#include <csignal>
#include <filesystem>
#include <sstream>

using namespace importtest;

namespace {

constexpr int Records = 20;       // a front and a CD cover each
constexpr int KillsPerKind = 18;  // kills into a first import, and into a re-import

struct TStrictJpegError {
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
};

// Decodes the whole file; false on any error or warning (a truncated file only warns).
bool CompleteJpeg(const std::string& path)
{
    const std::string bytes = ReadBytes(path);
    jpeg_decompress_struct info {};
    TStrictJpegError errors {};
    info.err = jpeg_std_error(&errors.Manager);
    errors.Manager.error_exit = [](j_common_ptr common) {
        std::longjmp(reinterpret_cast<TStrictJpegError*>(common->err)->Jump, 1);
    };
    errors.Manager.emit_message = [](j_common_ptr common, int level) {
        if (level < 0)
            ++common->err->num_warnings;
    };
    jpeg_create_decompress(&info);
    if (setjmp(errors.Jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    std::vector<JSAMPLE> row(std::size_t(info.output_width) * info.output_components);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[] = { row.data() };
        jpeg_read_scanlines(&info, rows, 1);
    }
    jpeg_finish_decompress(&info);
    const bool clean = errors.Manager.num_warnings == 0;
    jpeg_destroy_decompress(&info);
    return clean;
}

std::string GfixProgram()
{
    for (const char* candidate : { "/usr/bin/gfix", "/usr/bin/gfix-fb", "/opt/firebird/bin/gfix" })
        if (::access(candidate, X_OK) == 0)
            return candidate;
    return {};
}

class TKilledImport : public testing::Test {
protected:
    void SetUp() override
    {
        if (GfixProgram().empty())
            GTEST_SKIP() << "no gfix";
        std::vector<TMovie> movies;
        for (int number = 1; number <= Records; ++number)
            movies.push_back({ number, number });
        std::string reason;
        if (!CreateCatalogue(Database, movies, reason))
            GTEST_SKIP() << "no embedded Firebird: " << reason;
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

    // What must hold after any run, however it ended; idsAfter: the generator before the run.
    void CheckCatalogue(int idsAfter)
    {
        // Pages a killed engine had allocated and not yet used are warnings of the validation,
        // set free by the next sweep or "gfix -mend"; anything else is damage.
        TChildProcess validation({ GfixProgram(), "-v", "-full", Database });
        ASSERT_TRUE(validation.Wait(std::chrono::minutes(2)));
        EXPECT_EQ(validation.Ending(), ExitEnding(0)) << validation.Err();
        std::istringstream report(validation.Out() + validation.Err());
        for (std::string line; std::getline(report, line);) {
            if (!line.empty() && line != "Summary of validation errors") {
                EXPECT_NE(line.find("page warnings"), std::string::npos) << line;
            }
        }

        for (const auto& row : Query(Database, "SELECT \"pixref\", \"imgpath\" FROM thumbnails"))
            EXPECT_TRUE(CompleteJpeg(Thumbs + row[1].substr(0, row[1].rfind('.')) + ".jpg"))
                << "the row " << row[0] << " names a broken thumbnail of " << row[1];

        // Ids are taken in folder order; what a kill loses is the tail after the last commit.
        const std::string since = std::to_string(idsAfter);
        const TRows run = Query(Database, "SELECT COUNT(*), MIN(\"pixref\"), MAX(\"pixref\") FROM images WHERE \"pixref\" > " + since);
        const int committed = std::stoi(run[0][0]);
        if (committed > 0) {
            EXPECT_EQ(run[0][1], std::to_string(idsAfter + 1));
            EXPECT_EQ(run[0][2], std::to_string(idsAfter + committed));
        }
        EXPECT_EQ(Query(Database, "SELECT COUNT(*) FROM images i JOIN thumbnails t ON t.\"pixref\" = i.\"pixref\" "
                                  "WHERE i.\"pixref\" > " + since)[0][0],
            run[0][0]) << "committed pictures without their thumbnail row";
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
    const auto length = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(whole->Ending(), ExitEnding(0)) << whole->Err();
    CheckCatalogue(ids);

    int kills = 0;
    for (const bool reimport : { true, false })
        for (int moment = 0; moment < KillsPerKind; ++moment) {
            SCOPED_TRACE((reimport ? "re-import, kill " : "first import, kill ") + std::to_string(moment));
            if (!reimport) { // a first import: no thumbnails and no rows yet
                RunIsql(Database, "DELETE FROM thumbnails; DELETE FROM images;");
                std::filesystem::remove_all(Thumbs);
            }
            ids = Generator();
            const std::unique_ptr<TChildProcess> import = StartImport();
            // From the start to four fifths of a whole pass.
            const auto delay = length * 4 * (2 * moment + 1) / (10 * KillsPerKind);
            if (!import->Wait(std::chrono::duration_cast<std::chrono::milliseconds>(delay))) {
                import->Signal(SIGKILL);
                ASSERT_TRUE(import->Wait(std::chrono::minutes(1)));
            }
            kills += import->Ending() == "signal 9";
            CheckCatalogue(ids);
        }
    EXPECT_GE(kills, 30);

    // The catalogue serves the next pass as ever.
    ids = Generator();
    const std::unique_ptr<TChildProcess> after = StartImport();
    ASSERT_TRUE(after->Wait(std::chrono::minutes(5)));
    EXPECT_EQ(after->Ending(), ExitEnding(0)) << after->Err();
    CheckCatalogue(ids);
    EXPECT_EQ(Query(Database, "SELECT COUNT(*) FROM images WHERE \"pixref\" > " + std::to_string(ids))[0][0],
        std::to_string(2 * Records));
}

} // namespace
