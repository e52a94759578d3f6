// Importing a folder again: skipping what is in, the dry run, the report of every entry,
// the progress line and the installed program.
#include "app/importcommand.h"

#include "app/entryoutcome.h"
#include "app/fileimport.h"
#include "app/progressmeter.h"
#include "base/fmt.h"
#include "childprocess.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

using namespace importtest;
using testing::HasSubstr;
using testing::Not;

namespace {

// Lines ended by LF, as printed, with the CRLF ends of the report file.
std::string Crlf(const std::string& text)
{
    std::string crlf;
    for (const char c : text)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return crlf;
}

// Reads CSV text by the RFC 4180 rules (quoted fields, doubled quotes, CRLF line ends).
TRows ParseCsv(const std::string& text)
{
    TRows rows(1);
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
                field += text[++i];
            else if (c == '"')
                quoted = false;
            else
                field += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().push_back(std::exchange(field, {}));
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            rows.back().push_back(std::exchange(field, {}));
            rows.emplace_back();
            ++i;
        } else {
            field += c;
        }
    }
    rows.pop_back(); // after the last line end
    return rows;
}

// The rows of a report without "." and "..", sorted by file name (the listing's order is the
// file system's).
TRows ReportRows(const std::string& file)
{
    TRows rows = ParseCsv(ReadBytes(file));
    EXPECT_FALSE(rows.empty());
    if (rows.empty())
        return rows;
    EXPECT_EQ(rows.front(), (std::vector<std::string> { "file", "outcome", "reason", "record key", "picture id",
                                "thumbnail file" }));
    rows.erase(rows.begin());
    std::erase_if(rows, [](const auto& row) { return row.at(0) == "." || row.at(0) == ".."; });
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::string Generator(const std::string& database)
{
    return Query(database, "SELECT gen_id(gen_pixref, 0) FROM rdb$database").at(0).at(0);
}

// Every file under folder but the catalogue (which the engine stamps when it attaches), with
// its bytes.
std::map<std::string, std::string> FilesUnder(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().extension() != ".fdb")
            files[entry.path().string()] = ReadBytes(entry.path().string());
    return files;
}

class TImportAgain : public testing::Test {
protected:
    void SetUp() override
    {
        std::string reason;
        if (!CreateCatalogue(Database, { { 10, 1 }, { 20, 2 }, { 30, 3 } }, reason))
            GTEST_SKIP() << "no embedded Firebird: " << reason;
        MakeFolder(Folder / "images");
        WriteJpeg(Folder / "images/1_1.jpg", 40, 30);
        WritePng(Folder / "images/1_2.png", 30, 40);
        WriteJpeg(Folder / "images/2.jpg", 40, 30);
        WriteJpeg(Folder / "images/3_0.jpg", 40, 30); // a screenshot: no thumbnail
    }
    TCommandRun Covers(std::vector<std::string> extra = {})
    {
        std::vector<std::string> args { "--db", Database, "--images", Folder / "images", "--thumbs",
            Folder / "thumbs", "--kind", "both" };
        args.insert(args.end(), extra.begin(), extra.end());
        return Import(args);
    }
    TTempFolder Folder;
    std::string Database = Folder / "cat.fdb";
};

TEST_F(TImportAgain, SecondPassSkipsEverythingAndKeepsOtherRows)
{
    // A picture of another folder, and one of the same name but another type: both stay.
    RunIsql(Database, "INSERT INTO images VALUES (7, 10, 0, '.jpg', 'elsewhere.jpg');\n"
                      "INSERT INTO images VALUES (8, 20, 0, '.jpg', '2.jpg');\n");
    ASSERT_EQ(Covers().ExitCode, ExitOk);
    const TRows first = Query(Database, "SELECT * FROM images ORDER BY \"pixref\"");
    const TRows firstThumbs = Query(Database, "SELECT * FROM thumbnails ORDER BY \"pixref\"");
    const std::string generator = Generator(Database);
    ASSERT_EQ(first.size(), 6u);

    const TCommandRun again = Covers({ "--skip-existing", "--report", Folder / "again.csv" });
    EXPECT_EQ(again.ExitCode, ExitOk) << again.Err;
    EXPECT_EQ(again.Out, "6 entries seen, 0 pictures imported, 0 thumbnails written, 6 entries passed over "
                         "(4 skipped (already imported), 2 not a picture extension)\n");
    EXPECT_EQ(Query(Database, "SELECT * FROM images ORDER BY \"pixref\""), first);
    EXPECT_EQ(Query(Database, "SELECT * FROM thumbnails ORDER BY \"pixref\""), firstThumbs);
    EXPECT_EQ(Generator(Database), generator);
    for (const auto& row : ReportRows(Folder / "again.csv"))
        EXPECT_EQ(row.at(1), "skipped (already imported)") << row.at(0);

    // Remove wins over skip: everything is imported again under new ids.
    const TCommandRun removed = Covers({ "--skip-existing", "--remove-existing" });
    EXPECT_THAT(removed.Out, HasSubstr("4 pictures imported"));
    EXPECT_EQ(Query(Database, "SELECT COUNT(*) FROM images").at(0).at(0), "4");
}

TEST_F(TImportAgain, RepairRemakesExactlyTheMissingThumbnailsUnderTheirIds)
{
    ASSERT_EQ(Covers().ExitCode, ExitOk);
    const TRows thumbs = Query(Database, "SELECT * FROM thumbnails ORDER BY \"pixref\"");
    const std::string generator = Generator(Database);
    // As an interrupted pass can leave it: one file gone, one row gone.
    ASSERT_EQ(std::remove((Folder / "thumbs/1_1.jpg").c_str()), 0);
    RunIsql(Database, "DELETE FROM thumbnails WHERE \"imgpath\" = '1_2.png';\n");
    WriteBytes(Folder / "thumbs/2.jpg", "stays as it is");

    const TCommandRun repair = Covers({ "--skip-existing", "--report", Folder / "repair.csv" });
    EXPECT_EQ(repair.ExitCode, ExitOk) << repair.Err;
    EXPECT_THAT(repair.Out, HasSubstr("2 thumbnails written, 6 entries passed over (4 skipped (already imported), "
                                      "2 thumbnails made again"));
    EXPECT_EQ(Query(Database, "SELECT * FROM thumbnails ORDER BY \"pixref\""), thumbs);
    EXPECT_EQ(Generator(Database), generator);
    EXPECT_TRUE(ReadJpeg(Folder / "thumbs/1_1.jpg"));
    EXPECT_EQ(ReadBytes(Folder / "thumbs/2.jpg"), "stays as it is");
    const TRows rows = ReportRows(Folder / "repair.csv");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].at(1), "thumbnail made again");
    EXPECT_EQ(rows[0].at(5), Folder / "thumbs/1_1.jpg");
    EXPECT_EQ(rows[1].at(1), "thumbnail made again");
    EXPECT_EQ(rows[2].at(1), "skipped (already imported)");
    EXPECT_EQ(rows[3].at(1), "skipped (already imported)");
}

TEST_F(TImportAgain, DryRunChangesNothingAndReportsWhatThePassDoes)
{
    RunIsql(Database, "UPDATE options SET \"doimgfolders\" = 1 WHERE \"oid\" = 1;\n");
    const TRows options = Query(Database, "SELECT * FROM options");
    const auto files = FilesUnder(Folder.Path());
    const TCommandRun dry = Covers({ "--dry-run", "--set-folder", "--remove-existing", "--report", Folder / "dry.csv" });
    EXPECT_EQ(dry.ExitCode, ExitOk) << dry.Err;
    EXPECT_EQ(Query(Database, "SELECT COUNT(*) FROM images").at(0).at(0), "0");
    EXPECT_EQ(Generator(Database), "5000");
    EXPECT_EQ(Query(Database, "SELECT * FROM options"), options);
    auto after = FilesUnder(Folder.Path());
    after.erase(Folder / "dry.csv");
    EXPECT_TRUE(after == files) << "files written or changed";
    EXPECT_FALSE(std::filesystem::exists(Folder / "thumbs"));
    // Standard output: the report's lines (LF ends), then the summary.
    const TRows printed = ParseCsv(Crlf(dry.Out));
    EXPECT_EQ(printed.size(), 1 + 6 + 1u);

    const TCommandRun real = Covers({ "--set-folder", "--remove-existing", "--report", Folder / "real.csv" });
    EXPECT_EQ(real.ExitCode, ExitOk) << real.Err;
    EXPECT_EQ(dry.Out.substr(dry.Out.rfind("6 entries")), real.Out);
    TRows dryRows = ReportRows(Folder / "dry.csv"), realRows = ReportRows(Folder / "real.csv");
    for (auto& row : realRows) {
        EXPECT_NE(row.at(4), "") << row.at(0);
        row.at(4).clear(); // the ids the dry run does not take
    }
    EXPECT_EQ(dryRows, realRows);
}

TEST_F(TImportAgain, ReportNamesEveryReason)
{
    WriteBytes(Folder / "images/readme.txt", "x");
    WriteBytes(Folder / "images/cover.jpg", "x");
    WriteJpeg(Folder / "images/99.jpg", 40, 30);
    WriteBytes(Folder / "images/\xff" "1.jpg", "x");
    WriteBytes(Folder / "images/3_1.bmp", ""); // no pixels
    WriteJpeg(Folder / "images/2,\"x\".jpg", 40, 30); // 2 after the comma: not a number
    const TCommandRun run = Covers({ "--report", Folder / "all.csv", "--verbose" });
    EXPECT_EQ(run.ExitCode, ExitOk) << run.Err;
    EXPECT_THAT(run.Out, HasSubstr("(3 not a picture extension, 2 name is not a catalogue number, "
                                   "1 no record with that number, 1 name is not UTF-8, "
                                   "1 no thumbnail: empty picture)"));
    const TRows rows = ReportRows(Folder / "all.csv");
    const std::string thumbs = Folder / "thumbs/";
    const TRows expected {
        { "1_1.jpg", "imported, thumbnail written", "", "10", rows.at(0).at(4), thumbs + "1_1.jpg" },
        { "1_2.png", "imported, thumbnail written", "", "10", rows.at(1).at(4), thumbs + "1_2.jpg" },
        { "2,\"x\".jpg", "passed over", "name is not a catalogue number", "", "", "" },
        { "2.jpg", "imported, thumbnail written", "", "20", rows.at(3).at(4), thumbs + "2.jpg" },
        { "3_0.jpg", "imported", "", "30", rows.at(4).at(4), "" },
        { "3_1.bmp", "imported", "no thumbnail: empty picture", "30", rows.at(5).at(4), "" },
        { "99.jpg", "passed over", "no record with number 99", "", "", "" },
        { "\\xFF1.jpg", "passed over", "name is not UTF-8", "", "", "" },
        { "cover.jpg", "passed over", "name is not a catalogue number", "", "", "" },
        { "readme.txt", "passed over", "not a picture extension", "", "", "" },
    };
    EXPECT_EQ(rows, expected);
    // The verbose lines are the report's, as they happened.
    const std::string report = ReadBytes(Folder / "all.csv");
    EXPECT_EQ(Crlf(run.Err), report);
}

TEST_F(TImportAgain, ReportEndsWithTheEntryThatFailed)
{
    // The third picture's id is beyond 32 bits: the pass ends there, whatever the order.
    RunIsql(Database, "SET GENERATOR gen_pixref TO 2147483645;");
    const TCommandRun run = Covers({ "--report", Folder / "failed.csv" });
    EXPECT_EQ(run.ExitCode, ExitFailed);
    const TRows rows = ParseCsv(ReadBytes(Folder / "failed.csv"));
    ASSERT_GE(rows.size(), 4u);
    EXPECT_EQ(rows.back().at(1), "failed");
    EXPECT_EQ(rows.back().at(2), Fmt(SPictureIdOverflow, "2147483648"));
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(), [](const auto& row) { return row.at(1).starts_with("imported"); }),
        2);
    EXPECT_THAT(run.Err, HasSubstr(rows.back().at(2)));
    const std::string seen = run.Out.substr(0, run.Out.find(' '));
    EXPECT_EQ(std::to_string(rows.size() - 1), seen);
    for (const auto& entry : std::filesystem::directory_iterator(Folder.Path()))
        EXPECT_THAT(entry.path().string(), Not(HasSubstr(".part-")));

    // A report that cannot be written is said before anything is done.
    const TCommandRun nowhere = Covers({ "--report", Folder / "no/such/folder/r.csv" });
    EXPECT_EQ(nowhere.ExitCode, ExitFailed);
    EXPECT_THAT(nowhere.Err, HasSubstr("cannot be written"));
}

TEST(ProgressMeter, RedrawsAtMostTenTimesASecondAndEstimatesTheTimeLeft)
{
    using namespace std::chrono_literals;
    TProgressMeter meter;
    const auto start = TProgressMeter::TClock::time_point {} + 1h;
    meter.Start(5000, start);
    EXPECT_TRUE(meter.Due(1, start));
    EXPECT_FALSE(meter.Due(2, start + 99ms));
    EXPECT_TRUE(meter.Due(3, start + 100ms));
    EXPECT_FALSE(meter.Due(4, start + 150ms));
    EXPECT_TRUE(meter.Due(5000, start + 160ms)) << "the last entry always shows";
    EXPECT_EQ(meter.Line(0, 0, start), "0 of 5000 entries, 0 pictures imported");
    EXPECT_EQ(meter.Line(1000, 900, start + 40s), "1000 of 5000 entries, 900 pictures imported, 25.0 files/s, 2:40 left");
    EXPECT_EQ(meter.Line(10, 9, start + 7s), "10 of 5000 entries, 9 pictures imported, 1.4 files/s, 58:13 left");
    EXPECT_EQ(meter.Line(1, 1, start + 2s), "1 of 5000 entries, 1 pictures imported, 0.5 files/s, 2:46:38 left");
    EXPECT_EQ(meter.Line(5000, 4000, start + 100s), "5000 of 5000 entries, 4000 pictures imported, 50.0 files/s");
}

// The program's standard error as a terminal shows it.
std::string RunOnTerminal(const std::vector<std::string>& args)
{
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(master, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(got));
    ::close(master);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return text;
}

TEST_F(TImportAgain, ProgressOnATerminalOnly)
{
    const std::vector<std::string> args { ProgramPath(), "import", "--db", Database, "--images", Folder / "images" };
    const std::string terminal = RunOnTerminal(args);
    EXPECT_THAT(terminal, HasSubstr("\r6 of 6 entries, 4 pictures imported"));
    EXPECT_THAT(terminal, HasSubstr("6 entries seen, 4 pictures imported"));

    TChildProcess piped(args);
    ASSERT_TRUE(piped.Wait(std::chrono::minutes(1)));
    EXPECT_EQ(piped.Err(), "");
    EXPECT_THAT(piped.Out(), Not(HasSubstr(" of 6 entries")));
}

TEST(Install, DesktopEntryIconAndManualPage)
{
    const TTempFolder prefix;
    const std::string install = "cmake --install " IBI_BINARY_DIR " --prefix " + prefix.Path() + " >/dev/null";
    ASSERT_EQ(std::system(install.c_str()), 0);
    EXPECT_TRUE(FileExists(prefix / "bin/images-by-id"));
    EXPECT_TRUE(FileExists(prefix / "share/icons/hicolor/scalable/apps/images-by-id.svg"));
    TChildProcess version({ prefix / "bin/images-by-id", "--version" });
    ASSERT_TRUE(version.Wait(std::chrono::minutes(1)));
    EXPECT_THAT(version.Out(), testing::MatchesRegex("images-by-id [0-9]+\\.[0-9]+\\.[0-9]+\n"));

    const std::string entry = prefix / "share/applications/images-by-id.desktop";
    ASSERT_TRUE(FileExists(entry));
    const std::string page = prefix / "share/man/man1/images-by-id.1";
    ASSERT_TRUE(FileExists(page));
    if (std::system("command -v desktop-file-validate >/dev/null && command -v man >/dev/null") != 0)
        GTEST_SKIP() << "desktop-file-validate or man missing";
    EXPECT_EQ(std::system(("desktop-file-validate " + entry).c_str()), 0);
    const std::string rendered = prefix / "page.txt";
    ASSERT_EQ(std::system(("MANWIDTH=200 man -l " + page + " >" + rendered + " 2>" + prefix / "man.err").c_str()), 0);
    EXPECT_EQ(ReadBytes(prefix / "man.err"), "");
    // Every option of the usage text is in the page.
    const std::string text = ReadBytes(rendered);
    for (const char* option : { "--db", "--images", "--thumbs", "--kind", "--remove-existing", "--skip-existing",
             "--set-folder", "--dry-run", "--report", "--verbose", "--threads", "--help", "--version", "FIREBIRD_LOCK",
             "EXIT STATUS", "ENVIRONMENT" })
        EXPECT_THAT(text, HasSubstr(option));
}

} // namespace
