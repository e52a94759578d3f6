// Imports into catalogues on the private Firebird server that ctest starts (scripts/fbserver):
// the same pass as on an embedded copy, passes at the same time, refused log-ins, a server
// that stops under a pass.
#include "app/importcommand.h"
#include "app/importpass.h"
#include "base/fmt.h"
#include "db/fbcomponents.h"
#include "childprocess.h"
#include "importtestsupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

using namespace importtest;
using testing::HasSubstr;

namespace {

std::map<std::string, std::string> ServerEnvironment(const std::string& folder)
{
    std::map<std::string, std::string> values;
    std::ifstream file(folder + "/env");
    std::string line;
    while (std::getline(file, line))
        if (const std::size_t equals = line.find('='); equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    return values;
}

class TQuietFrontEnd : public TImportFrontEnd {
public:
    int Kind = KindBothCovers;
    std::string Thumbs;
    std::vector<std::string> Messages;
    std::vector<std::string> LogInsAsked; // the user name offered each time
    std::string GivenUser, GivenPassword;

    int KindIndex() override { return Kind; }
    std::string ThumbsFolderText() override { return Thumbs; }
    void SetGoEnabled(bool) override {}
    void SetGoCaption(const std::string&) override {}
    void ProcessEvents() override {}
    void ShowMessage(const std::string& text) override { Messages.push_back(text); }
    void ShowWarningMessage(const std::string& text) override { Messages.push_back(text); }
    bool AskLogIn(std::string& userName, std::string& password) override
    {
        LogInsAsked.push_back(userName);
        if (GivenPassword.empty() || LogInsAsked.size() > 1)
            return false;
        userName = GivenUser;
        password = GivenPassword;
        return true;
    }
};

// Front covers (_1) of the numbers first .. first + count - 1, small, in turn PNG, JPEG, BMP, TIFF.
void WriteCovers(const std::string& folder, int first, int count)
{
    MakeFolder(folder);
    for (int number = first; number < first + count; ++number) {
        const std::string stem = folder + "/" + std::to_string(number) + "_1";
        const auto pixel = [number](int x, int y) {
            return TRgb { std::uint8_t(number * 7 + x), std::uint8_t(y * 5), std::uint8_t(number + x * y) };
        };
        switch (number % 4) {
        case 0: WritePng(stem + ".png", 48, 36, pixel); break;
        case 1: WriteJpeg(stem + ".jpg", 40, 52, pixel); break;
        case 2: WriteBmp(stem + ".bmp", 33, 20, pixel); break;
        default: WriteTiff(stem + ".tif", 30, 30, pixel); break;
        }
    }
}

std::vector<TMovie> Records(int first, int count)
{
    std::vector<TMovie> movies;
    for (int number = first; number < first + count; ++number)
        movies.push_back({ number - first + 1, number });
    return movies;
}

std::map<std::string, std::string> FolderBytes(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        files[entry.path().filename().string()] = ReadBytes(entry.path().string());
    return files;
}

std::string Count(const std::string& database, const std::string& select) { return Query(database, select).at(0).at(0); }

// The test user's credentials reach the pass, isql and the test's queries through ISC_USER and
// ISC_PASSWORD, as they reach the program.
class TImportServer : public testing::Test {
protected:
    void SetUp() override
    {
        FServer = ServerEnvironment(IBI_FBSERVER_DIR);
        if (FServer.empty())
            GTEST_SKIP() << "no private Firebird server (ctest starts it: scripts/fbserver start " IBI_FBSERVER_DIR ")";
        UseServer(FServer);
    }
    void TearDown() override
    {
        ::unsetenv("ISC_USER");
        ::unsetenv("ISC_PASSWORD");
    }
    static void UseServer(const std::map<std::string, std::string>& server)
    {
        ::setenv("ISC_USER", server.at("ISC_USER").c_str(), 1);
        ::setenv("ISC_PASSWORD", server.at("ISC_PASSWORD").c_str(), 1);
    }
    // A catalogue file of this test in the server's data folder, by its server name.
    std::string ServerCatalogue(const std::string& name) const
    {
        return FServer.at("FBSERVER_PREFIX") + FServer.at("FBSERVER_DATA") + "/"
            + testing::UnitTest::GetInstance()->current_test_info()->name() + "-" + name + "-"
            + std::to_string(::getpid()) + ".fdb";
    }
    void Create(const std::string& database, const std::vector<TMovie>& movies)
    {
        std::string reason;
        ASSERT_TRUE(CreateCatalogue(database, movies, reason)) << reason;
    }

    std::map<std::string, std::string> FServer;
    TTempFolder FFolder;
};

TEST_F(TImportServer, CoverPassGivesWhatTheSamePassGivesOnAnEmbeddedCopy)
{
    const std::string server = ServerCatalogue("covers"), local = FFolder / "cat.fdb";
    ASSERT_NO_FATAL_FAILURE(Create(server, Records(1001, 12)));
    ASSERT_NO_FATAL_FAILURE(Create(local, Records(1001, 12)));
    WriteCovers(FFolder / "images", 1001, 12);
    WriteJpeg(FFolder / "images/1003_2.jpg", 64, 64);
    TImportRequest request;
    request.ImageFolder = FFolder / "images";
    request.ThumbsFolder = FFolder / "thumbs";
    request.KindIndex = KindBothCovers;
    request.SetFolder = true;
    std::map<std::string, std::map<std::string, std::string>> thumbnails;
    std::map<std::string, TRows> tables;
    for (const std::string& database : { local, server }) {
        request.DatabaseFile = database;
        TQuietFrontEnd frontEnd;
        frontEnd.Thumbs = request.ThumbsFolder;
        const TImportResult result = RunImportPass(request, frontEnd);
        ASSERT_TRUE(result.Succeeded()) << result.Message;
        EXPECT_EQ(result.Stats.Imported, 13u);
        thumbnails[database] = FolderBytes(request.ThumbsFolder);
        std::filesystem::remove_all(request.ThumbsFolder);
        tables[database + " images"] = Query(database, R"(SELECT "pixref", "mid", "imgtype", "imgformat", "imgpath" FROM images ORDER BY 1)");
        tables[database + " thumbnails"] = Query(database, R"(SELECT "pixref", "imgformat", "imgpath" FROM thumbnails ORDER BY 1)");
        tables[database + " options"] = Query(database, R"(SELECT "doimgfolders", "coversfolder_full", "thumbsfolder_full",
            "posterfolder_rel", "posterfolder_full", "screensfolder_rel", "screensfolder_full" FROM options)");
        tables[database + " rel"] = Query(database, R"(SELECT "coversfolder_rel", "thumbsfolder_rel" FROM options)");
    }
    for (const char* table : { " images", " thumbnails", " options" }) {
        SCOPED_TRACE(table);
        EXPECT_EQ(tables[server + table], tables[local + table]);
    }
    EXPECT_EQ(tables[local + " images"].size(), 13u);
    EXPECT_EQ(thumbnails[server].size(), 13u);
    EXPECT_TRUE(thumbnails[server] == thumbnails[local]);
    // The folder columns: relative to the file's folder locally, the full path on the server.
    EXPECT_EQ(tables[local + " rel"], (TRows { { "images/", "thumbs/" } }));
    EXPECT_EQ(tables[server + " rel"], (TRows { { request.ImageFolder + "/", request.ThumbsFolder + "/" } }));
}

TEST_F(TImportServer, TwoPassesAtOnceIntoOneCatalogueBothComplete)
{
    const std::string server = ServerCatalogue("shared");
    ASSERT_NO_FATAL_FAILURE(Create(server, Records(1001, 300)));
    WriteCovers(FFolder / "a", 1001, 150);
    WriteCovers(FFolder / "b", 1151, 150);
    std::vector<std::unique_ptr<TChildProcess>> passes;
    for (const char* folder : { "a", "b" })
        passes.push_back(std::make_unique<TChildProcess>(std::vector<std::string> { ProgramPath(), "import", "--db",
            server, "--images", FFolder / folder, "--thumbs", FFolder / "thumbs", "--kind", "front", "--set-folder" }));
    for (const auto& pass : passes) {
        ASSERT_TRUE(pass->Wait(std::chrono::minutes(5)));
        EXPECT_EQ(pass->Ending(), ExitEnding(0)) << pass->Err();
        EXPECT_EQ(pass->Err(), "");
        EXPECT_THAT(pass->Out(), HasSubstr("150 pictures imported, 150 thumbnails written"));
    }
    EXPECT_EQ(Count(server, R"(SELECT COUNT(*) || ' ' || COUNT(DISTINCT "pixref") || ' ' || COUNT(DISTINCT "mid") FROM images)"),
        "300 300 300");
    EXPECT_EQ(Count(server, R"(SELECT COUNT(*) FROM thumbnails t JOIN images i ON i."pixref" = t."pixref")"), "300");
    EXPECT_EQ(FolderBytes(FFolder / "thumbs").size(), 300u);
}

TEST_F(TImportServer, RefusedLogInAndUnknownHostEndWithTheServersMessage)
{
    const std::string server = ServerCatalogue("refused");
    ASSERT_NO_FATAL_FAILURE(Create(server, Records(1001, 4)));
    WriteCovers(FFolder / "images", 1001, 4);
    const std::string password = FServer.at("ISC_PASSWORD");
    const struct {
        const char* what;
        std::string database, password, message;
    } cases[] = {
        { "wrong password", server, password + "x", "Your user name and password are not defined" },
        { "unknown host", "nosuchhost.invalid/3050:/srv/catalogue.fdb", password, "nosuchhost.invalid" },
    };
    for (const auto& refused : cases) {
        SCOPED_TRACE(refused.what);
        ::setenv("ISC_PASSWORD", refused.password.c_str(), 1);
        std::ostringstream out, err;
        const int exitCode = RunImportCommand({ "--db", refused.database, "--images", FFolder / "images", "--thumbs",
                                                  FFolder / "thumbs", "--kind", "front", "--set-folder" },
            out, err, false);
        EXPECT_EQ(exitCode, ExitFailed);
        EXPECT_THAT(err.str(), HasSubstr(refused.message));
        EXPECT_THAT(out.str(), HasSubstr("0 pictures imported"));
    }
    UseServer(FServer);
    EXPECT_EQ(Query(server, R"(SELECT (SELECT COUNT(*) FROM images), "doimgfolders", "coversfolder_full" FROM options)"),
        (TRows { { "0", "1", "<null>" } }));
    EXPECT_FALSE(FileExists(FFolder / "thumbs/1001_1.jpg"));

    // The dialog's way: the log-in box is asked once, and its answer opens the catalogue.
    ::unsetenv("ISC_PASSWORD");
    TImportRequest request;
    request.DatabaseFile = server;
    request.ImageFolder = FFolder / "images";
    request.ThumbsFolder = FFolder / "thumbs";
    request.KindIndex = 2;
    request.Password = password + "x";
    TQuietFrontEnd frontEnd;
    frontEnd.Thumbs = request.ThumbsFolder;
    frontEnd.GivenUser = FServer.at("ISC_USER");
    frontEnd.GivenPassword = password;
    const TImportResult result = RunImportPass(request, frontEnd);
    EXPECT_TRUE(result.Succeeded()) << result.Message;
    EXPECT_EQ(frontEnd.LogInsAsked, std::vector<std::string> { FServer.at("ISC_USER") });
    EXPECT_EQ(result.Stats.Imported, 4u);
}

// Another connection holds the options row (changed, not committed): the pass waits for it;
// released within the lock time-out the pass goes on, held past it the pass ends naming the
// statement.
TEST_F(TImportServer, HeldOptionsRowIsWaitedForThenNamed)
{
    const std::string server = ServerCatalogue("held");
    ASSERT_NO_FATAL_FAILURE(Create(server, Records(1001, 2)));
    WriteCovers(FFolder / "images", 1001, 2);
    TImportRequest request;
    request.DatabaseFile = server;
    request.ImageFolder = FFolder / "images";
    for (const bool released : { true, false }) {
        SCOPED_TRACE(released ? "released after 2 s" : "held");
        TFbTransaction transaction;
        TFbQuery query;
        TFbDataBase other;
        other.SetLibraryName(FbClientLibraryName);
        other.SetDatabaseName(server);
        transaction.SetDataBase(&other);
        query.SetDataBase(&other);
        query.SetTransaction(&transaction);
        query.SetSQL(R"(UPDATE options SET "doimgfolders" = 5 WHERE "oid" = 1)");
        query.Execute();
        std::thread release;
        if (released)
            release = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::seconds(2));
                transaction.Commit();
            });
        TQuietFrontEnd frontEnd;
        frontEnd.Kind = 0;
        const TImportResult result = RunImportPass(request, frontEnd);
        if (release.joinable())
            release.join();
        if (released) {
            EXPECT_TRUE(result.Succeeded()) << result.Message;
            EXPECT_EQ(result.Stats.Imported, 2u);
        } else {
            transaction.Rollback();
            EXPECT_EQ(result.Outcome, TImportOutcome::ioFailed);
            EXPECT_THAT(result.Message, testing::StartsWith(Fmt(SSettingsRowHeld,
                R"(UPDATE options SET "doimgfolders" = 0 WHERE "oid" = 1)", SettingsLockTimeout) + "\n"));
            EXPECT_EQ(result.Stats.Imported, 0u);
        }
    }
    EXPECT_EQ(Query(server, R"(SELECT "doimgfolders", (SELECT COUNT(*) FROM images) FROM options)"),
        (TRows { { "0", "2" } }));
}

// A second private server of this test's own, so that stopping it disturbs nobody; the
// catalogue lies outside its data folder, which every start empties.
TEST_F(TImportServer, ServerStoppedUnderAPassEndsItAndKeepsWhatWasCommitted)
{
    const std::string script = IBI_SOURCE_DIR "/scripts/fbserver", instance = FFolder / "server";
    const auto control = [&](const std::string& action) {
        return std::system((script + " " + action + " '" + instance + "' >/dev/null 2>&1").c_str());
    };
    const std::shared_ptr<void> stopAtTheEnd(nullptr, [&](void*) { control("stop"); });
    ASSERT_EQ(control("start"), 0);
    std::map<std::string, std::string> own = ServerEnvironment(instance);
    UseServer(own);
    const std::string file = FFolder / "catalogue.fdb";
    ASSERT_NO_FATAL_FAILURE(Create(own.at("FBSERVER_PREFIX") + file, Records(1001, 400)));
    WriteCovers(FFolder / "images", 1001, 400);
    TChildProcess pass({ ProgramPath(), "import", "--db", own.at("FBSERVER_PREFIX") + file, "--images",
        FFolder / "images", "--thumbs", FFolder / "thumbs", "--kind", "front", "--threads", "1" });
    // Stopped once some thumbnails are written, well before the end.
    for (int wait = 0; wait < 3000 && pass.Ending() == "running"; ++wait) {
        if (std::filesystem::exists(FFolder / "thumbs")
            && std::distance(std::filesystem::directory_iterator(FFolder / "thumbs"), {}) >= 40)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Killed outright: a server shutting down politely can let a fast pass finish first.
    [[maybe_unused]] const int killed = std::system(("kill -KILL \"$(cat '" + instance + "/pid')\" 2>/dev/null").c_str());
    control("stop");
    ASSERT_TRUE(pass.Wait(std::chrono::minutes(2)));
    EXPECT_EQ(pass.Ending(), ExitEnding(ExitFailed));
    EXPECT_NE(pass.Err(), "");
    const std::string summary = pass.Out();
    const std::size_t at = summary.find(" pictures imported");
    ASSERT_NE(at, std::string::npos) << summary;
    const std::string imported = summary.substr(summary.rfind(' ', at - 1) + 1, at - summary.rfind(' ', at - 1) - 1);
    EXPECT_LT(std::stoi(imported), 400);

    ASSERT_EQ(control("start"), 0);
    own = ServerEnvironment(instance);
    UseServer(own);
    const std::string database = own.at("FBSERVER_PREFIX") + file;
    EXPECT_EQ(Count(database, "SELECT COUNT(*) FROM images"), imported);
    EXPECT_EQ(Count(database, R"(SELECT COUNT(*) FROM thumbnails t JOIN images i ON i."pixref" = t."pixref")"), imported);
    // The thumbnail of each committed row, named like its picture with ".jpg".
    for (const std::vector<std::string>& row : Query(database, R"(SELECT "imgpath" FROM thumbnails)")) {
        const std::string name = row.at(0).substr(0, row.at(0).rfind('.')) + ".jpg";
        EXPECT_TRUE(FileExists(FFolder / "thumbs/" + name)) << name;
    }
}

} // namespace
