// End-to-end passes against catalogue databases made by the embedded engine.
#include "app/importpass.h"

#include "app/thumbnailwriter.h"
#include "base/exception.h"
#include "base/filestream.h"
#include "base/fmt.h"
#include "importtestsupport.h"
#include "leasedfile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/fileimport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <set>

using namespace importtest;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

// Records what the pass does to its front end.
class TRecordingFrontEnd : public TImportFrontEnd {
public:
    int Kind = 0;
    std::string Thumbs;
    std::vector<std::string> Captions;
    std::vector<std::string> Messages;
    std::vector<std::string> Warnings;
    bool Enabled = true;
    std::vector<bool> EnabledHistory;
    int Events = 0;
    int StopAfterEvents = -1;
    std::function<void()> OnEvents;

    int KindIndex() override { return Kind; }
    std::string ThumbsFolderText() override { return Thumbs; }
    void SetGoEnabled(bool enabled) override
    {
        Enabled = enabled;
        EnabledHistory.push_back(enabled);
    }
    void SetGoCaption(const std::string& caption) override { Captions.push_back(caption); }
    void ProcessEvents() override
    {
        ++Events;
        if (OnEvents)
            OnEvents();
    }
    bool StopRequested() override { return StopAfterEvents >= 0 && Events > StopAfterEvents; }
    void ShowMessage(const std::string& text) override { Messages.push_back(text); }
    void ShowWarningMessage(const std::string& text) override { Warnings.push_back(text); }
};

const std::vector<TMovie> SampleMovies {
    { 10, 1234 }, { 20, 12 }, { 30, 123 }, { 40, 77 }, { 50, 1235 }, { 60, 42 }, { 61, 42 }, { 70, 55 },
    { std::nullopt, 88 }, { 90, 1 }, { 91, 2 }, { 92, 3 }, { 93, 31 } };

class TImportPass : public testing::Test {
protected:
    void SetUp() override { MakeCatalogue(); }

    void MakeCatalogue(bool withThumbnailsTable = true)
    {
        std::string reason;
        if (!CreateCatalogue(Database, SampleMovies, reason, withThumbnailsTable))
            GTEST_SKIP() << "no embedded Firebird: " << reason;
        MakeFolder(Images);
    }

    TImportResult Run(int kind, bool remove = false, bool setFolder = false)
    {
        TImportRequest request;
        request.DatabaseFile = Database;
        request.ImageFolder = Images;
        request.ThumbsFolder = Thumbs;
        request.KindIndex = kind;
        request.RemoveExisting = remove;
        request.SetFolder = setFolder;
        FrontEnd.Kind = kind;
        FrontEnd.Thumbs = Thumbs;
        return RunImportPass(request, FrontEnd);
    }

    // imgpath -> { pixref, mid, imgtype, imgformat }
    std::map<std::string, std::vector<std::string>> ImageRows()
    {
        std::map<std::string, std::vector<std::string>> rows;
        for (const auto& row : Query(Database,
                 "SELECT \"imgpath\", \"pixref\", \"mid\", \"imgtype\", \"imgformat\" FROM images"))
            rows[row[0]] = { row[1], row[2], row[3], row[4] };
        return rows;
    }

    // pixref -> { imgformat, imgpath }
    std::map<std::string, std::vector<std::string>> ThumbnailRows()
    {
        std::map<std::string, std::vector<std::string>> rows;
        for (const auto& row : Query(Database, "SELECT \"pixref\", \"imgformat\", \"imgpath\" FROM thumbnails"))
            rows[row[0]] = { row[1], row[2] };
        return rows;
    }

    std::vector<std::string> Options()
    {
        return Query(Database,
            "SELECT \"doimgfolders\", \"posterfolder_rel\", \"posterfolder_full\", \"screensfolder_rel\", "
            "\"screensfolder_full\", \"coversfolder_rel\", \"coversfolder_full\", \"thumbsfolder_rel\", "
            "\"thumbsfolder_full\" FROM options WHERE \"oid\" = 1")
            .at(0);
    }

    int CommittedImages() { return std::stoi(Query(Database, "SELECT COUNT(*) FROM images").at(0).at(0)); }

    TTempFolder Folder;
    std::string Database = Folder / "cat.fdb";
    std::string Images = Folder / "images/";
    std::string Thumbs = Folder / "thumbs/";
    TRecordingFrontEnd FrontEnd;
};

TEST_F(TImportPass, BothCoversFollowsTheNamingRules)
{
    for (const char* name : { "1234.jpg", "1234_1.jpg", "1234_0.jpg", "1234_7.jpg", "1234_front.jpg",
             "abc_1.jpg", "_1.jpg", "123_it's.jpg", "12'3.jpg", "  77.jpg", "77 .jpg", "999.jpg", "42.jpg" })
        WriteJpeg(Images + name, 40, 30);
    WritePng(Images + "1234_2.PNG", 30, 40);
    WriteGif(Images + "12_3_4.gif", 16, 16);
    WriteBmp(Images + "$4D3.Bmp", 20, 10); // hexadecimal 1235
    WriteTiff(Images + "1235_2.Tiff", 24, 24);
    WriteBytes(Images + "1234.txt", "not a picture");
    WriteBytes(Images + "88.jpeg", ReadBytes(Images + "1234.jpg"));
    MakeFolder(Images + "55.jpg");

    const TImportResult result = Run(KindBothCovers);
    ASSERT_EQ(result.Outcome, TImportOutcome::ioCompleted) << result.Message;
    EXPECT_THAT(FrontEnd.Messages, IsEmpty());

    const auto images = ImageRows();
    // imgpath -> mid, imgtype, imgformat
    const std::map<std::string, std::vector<std::string>> expected {
        { "1234.jpg", { "10", "2", ".jpg" } }, { "1234_1.jpg", { "10", "2", ".jpg" } },
        { "1234_2.PNG", { "10", "3", ".png" } }, { "1234_0.jpg", { "10", "1", ".jpg" } },
        { "1234_7.jpg", { "10", "2", ".jpg" } }, { "1234_front.jpg", { "10", "2", ".jpg" } },
        { "12_3_4.gif", { "20", "2", ".gif" } }, { "123_it's.jpg", { "30", "2", ".jpg" } },
        { "  77.jpg", { "40", "2", ".jpg" } }, { "$4D3.Bmp", { "50", "2", ".bmp" } },
        { "1235_2.Tiff", { "50", "3", ".tiff" } }, { "55.jpg", { "70", "2", ".jpg" } },
        { "88.jpeg", { "0", "2", ".jpeg" } }, { "42.jpg", { "?", "2", ".jpg" } } };
    ASSERT_EQ(images.size(), expected.size());
    std::set<std::string> pixrefs;
    for (const auto& [name, values] : expected) {
        ASSERT_TRUE(images.contains(name)) << name;
        const auto& row = images.at(name);
        if (values[0] != "?") {
            EXPECT_EQ(row[1], values[0]) << name;
        }
        EXPECT_EQ(row[2], values[1]) << name;
        EXPECT_EQ(row[3], values[2]) << name;
        pixrefs.insert(row[0]);
    }
    EXPECT_EQ(pixrefs.size(), expected.size()) << "every picture has its own id";
    // A number two records share goes to one of them, once.
    EXPECT_THAT(images.at("42.jpg")[1], testing::AnyOf("60", "61"));

    // Thumbnails: every cover that decodes, named .jpg, rows under the picture's id with its
    // own name. The sub-folder 55.jpg and 1234_0.jpg (a screenshot) get none.
    const auto thumbnails = ThumbnailRows();
    std::set<std::string> thumbnailNames;
    for (const auto& [pixref, row] : thumbnails) {
        EXPECT_EQ(row[0], ".jpg");
        ASSERT_TRUE(images.contains(row[1])) << row[1];
        EXPECT_EQ(images.at(row[1])[0], pixref) << row[1];
        thumbnailNames.insert(row[1]);
    }
    EXPECT_EQ(thumbnailNames, (std::set<std::string> { "1234.jpg", "1234_1.jpg", "1234_2.PNG", "1234_7.jpg",
                                  "1234_front.jpg", "12_3_4.gif", "123_it's.jpg", "  77.jpg", "$4D3.Bmp",
                                  "1235_2.Tiff", "88.jpeg", "42.jpg" }));
    for (const char* file : { "1234.jpg", "1234_1.jpg", "1234_2.jpg", "12_3_4.jpg", "123_it's.jpg", "  77.jpg",
             "$4D3.jpg", "1235_2.jpg", "88.jpg", "42.jpg" })
        EXPECT_TRUE(ReadJpeg(Thumbs + file)) << file;
    EXPECT_FALSE(FileExists(Thumbs + "1234_0.jpg"));
    EXPECT_FALSE(FileExists(Thumbs + "55.jpg"));
    EXPECT_EQ(ReadJpeg(Thumbs + "1234_2.jpg")->Width, 178); // 30 x 40: portrait
    EXPECT_EQ(ReadJpeg(Thumbs + "1234_2.jpg")->Height, 238);

    EXPECT_EQ(result.Stats.Imported, expected.size());
    EXPECT_EQ(result.Stats.Thumbnails, thumbnailNames.size());
    EXPECT_EQ(result.Stats.Entries, 22u); // 20 entries, ".", ".."
    EXPECT_EQ(result.Stats.PassedOver(), 22u - expected.size());
}

TEST_F(TImportPass, PlainKindsTakeTheIndexWhateverTheSuffix)
{
    WriteJpeg(Images + "1234_2.jpg", 8, 8);
    WriteJpeg(Images + "12.jpg", 8, 8);
    const TImportResult result = Run(1);
    ASSERT_EQ(result.Outcome, TImportOutcome::ioCompleted);
    const auto images = ImageRows();
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images.at("1234_2.jpg")[2], "1");
    EXPECT_EQ(images.at("12.jpg")[2], "1");
    EXPECT_THAT(ThumbnailRows(), IsEmpty());
    EXPECT_FALSE(std::filesystem::exists(Thumbs));
}

struct TSettingsCase {
    int Kind;
    bool Remove, SetFolder;
    std::vector<std::string> Options; // doimgfolders, then the eight folder columns
    const char* ImgType;
};

class TImportSettings : public TImportPass, public testing::WithParamInterface<TSettingsCase> {};

TEST_P(TImportSettings, WritesTheOptionsOfTheKind)
{
    const TSettingsCase& c = GetParam();
    RunIsql(Database, "INSERT INTO images VALUES (1, 10, 0, '.jpg', 'old.jpg');\n"
                      "INSERT INTO thumbnails VALUES (1, '.jpg', 'old.jpg');");
    WriteJpeg(Images + "12.jpg", 16, 12);
    MakeFolder(Thumbs);
    WriteBytes(Thumbs + "old.jpg", "the thumbnail of old.jpg");
    const TImportResult result = Run(c.Kind, c.Remove, c.SetFolder);
    ASSERT_EQ(result.Outcome, TImportOutcome::ioCompleted) << result.Message;
    EXPECT_TRUE(result.Succeeded());
    EXPECT_THAT(FrontEnd.Warnings, IsEmpty());

    std::vector<std::string> expected;
    for (const std::string& value : c.Options)
        expected.push_back(value == "IMG" ? Images : value == "THUMBS" ? Thumbs : value);
    EXPECT_EQ(Options(), expected);
    const auto images = ImageRows();
    EXPECT_EQ(images.contains("old.jpg"), !c.Remove);
    EXPECT_EQ(images.at("12.jpg")[2], c.ImgType);
    EXPECT_EQ(ThumbnailRows().contains("1"), !c.Remove) << "removed with its picture";
    EXPECT_TRUE(FileExists(Thumbs + "old.jpg")) << "thumbnail files stay";
    EXPECT_EQ(FileExists(Thumbs + "12.jpg"), c.Kind > 1);
}

const std::string N = "<null>";
INSTANTIATE_TEST_SUITE_P(Kinds, TImportSettings, testing::Values(
    TSettingsCase { 0, false, false, { "0", N, N, N, N, N, N, N, N }, "0" },
    TSettingsCase { 0, true, true, { "0", "images/", "IMG", N, N, N, N, N, N }, "0" },
    TSettingsCase { 1, false, true, { "0", N, N, "images/", "IMG", N, N, N, N }, "1" },
    TSettingsCase { 2, true, false, { "0", N, N, N, N, N, N, N, N }, "2" },
    TSettingsCase { 2, false, true, { "0", N, N, N, N, "images/", "IMG", "thumbs/", "THUMBS" }, "2" },
    TSettingsCase { 3, false, true, { "0", N, N, N, N, "images/", "IMG", "thumbs/", "THUMBS" }, "3" },
    TSettingsCase { 4, true, true, { "0", N, N, N, N, "images/", "IMG", "thumbs/", "THUMBS" }, "2" }),
    [](const auto& testInfo) {
        return "Kind" + std::to_string(testInfo.param.Kind) + (testInfo.param.Remove ? "Remove" : "")
            + (testInfo.param.SetFolder ? "SetFolder" : "");
    });

TEST_F(TImportPass, StoresRelativeFoldersQuotesAndUtf8)
{
    // The image folder is the database's own folder (typed without its final "/"), the
    // thumbnails live beside it, with a quote and non-ASCII letters in their names.
    Images = Folder.Path().substr(0, Folder.Path().size() - 1);
    Thumbs = Folder / "pics/it's \xC3\xA9t\xC3\xA9";
    WriteJpeg(Folder / "12.jpg", 10, 10);
    const TImportResult result = Run(KindBothCovers, false, true);
    ASSERT_EQ(result.Outcome, TImportOutcome::ioCompleted) << result.Message;
    EXPECT_EQ(Options(), (std::vector<std::string> { "0", N, N, N, N, "", Folder.Path(), "pics/it's \xC3\xA9t\xC3\xA9/",
                             Thumbs + "/" }));
    EXPECT_TRUE(ReadJpeg(Thumbs + "/12.jpg"));

    // A folder above the database's.
    std::filesystem::create_directories(Folder / "db/sub");
    std::filesystem::rename(Database, Folder / "db/sub/cat.fdb");
    Database = Folder / "db/sub/cat.fdb";
    Images = Folder / "pics/covers/";
    MakeFolder(Images);
    ASSERT_EQ(Run(0, false, true).Outcome, TImportOutcome::ioCompleted);
    EXPECT_EQ(Options()[1], "../../pics/covers/");
    EXPECT_EQ(Options()[2], Images);
}

TEST_F(TImportPass, CreatesMissingThumbnailFoldersAndSizesTheThumbnails)
{
    Thumbs = Folder / "a/b/c";
    WriteJpeg(Images + "1.jpg", 300, 100);
    WritePng(Images + "2.png", 3, 17);
    WriteBmp(Images + "3.bmp", 100, 50);
    ASSERT_EQ(Run(2).Outcome, TImportOutcome::ioCompleted);
    const std::map<std::string, std::pair<int, int>> sizes { { "1.jpg", { 318, 105 } }, { "2.jpg", { 41, 238 } },
        { "3.jpg", { 318, 159 } } };
    for (const auto& [name, size] : sizes) {
        const auto jpeg = ReadJpeg(Thumbs + "/" + name);
        ASSERT_TRUE(jpeg) << name;
        EXPECT_EQ(jpeg->Width, size.first) << name;
        EXPECT_EQ(jpeg->Height, size.second) << name;
    }
    // The row keeps the picture's own name and extension.
    std::set<std::string> paths;
    for (const auto& [pixref, row] : ThumbnailRows())
        paths.insert(row[1]);
    EXPECT_EQ(paths, (std::set<std::string> { "1.jpg", "2.png", "3.bmp" }));
}

TEST_F(TImportPass, CommitsWithEveryThumbnail)
{
    for (const char* name : { "1.jpg", "2.jpg", "3.jpg" })
        WriteJpeg(Images + name, 20, 20);
    // Before every entry, the rows that another connection sees are those of the thumbnails
    // already written: each thumbnail commits its picture.
    std::vector<std::pair<int, int>> seen;
    FrontEnd.OnEvents = [&] {
        int written = 0;
        for (const auto& file : std::filesystem::directory_iterator(Folder / "thumbs"))
            written += file.is_regular_file();
        seen.emplace_back(CommittedImages(), written);
    };
    MakeFolder(Thumbs);
    ASSERT_EQ(Run(2).Outcome, TImportOutcome::ioCompleted);
    ASSERT_EQ(seen.size(), 5u);
    for (const auto& [committed, written] : seen)
        EXPECT_EQ(committed, written);
    EXPECT_EQ(CommittedImages(), 3);

    // A poster pass commits once, at the end of the walk.
    RunIsql(Database, "DELETE FROM images;");
    seen.clear();
    FrontEnd.OnEvents = [&] { seen.emplace_back(CommittedImages(), 0); };
    ASSERT_EQ(Run(0).Outcome, TImportOutcome::ioCompleted);
    for (const auto& [committed, written] : seen)
        EXPECT_EQ(committed, 0);
    EXPECT_EQ(CommittedImages(), 3);
}

TEST_F(TImportPass, PictureWithoutPixelsGetsNoThumbnailAndThePassGoesOn)
{
    WriteBytes(Images + "1.bmp", "");
    WriteJpeg(Images + "2.jpg", 20, 20);
    const TImportResult result = Run(2);
    ASSERT_EQ(result.Outcome, TImportOutcome::ioCompleted) << result.Message;
    EXPECT_THAT(FrontEnd.Messages, IsEmpty());
    EXPECT_EQ(ImageRows().size(), 2u);
    EXPECT_FALSE(FileExists(Thumbs + "1.jpg"));
    EXPECT_TRUE(FileExists(Thumbs + "2.jpg"));
    const auto thumbnails = ThumbnailRows();
    ASSERT_EQ(thumbnails.size(), 1u);
    EXPECT_EQ(thumbnails.begin()->second[1], "2.jpg");
}

TEST_F(TImportPass, UndecodablePictureKeepsItsRowWithoutThumbnail)
{
    WriteBytes(Images + "1.png", "no PNG at all");
    WriteBytes(Images + "2.jpg", ReadBytes(Images + "1.png"));
    ASSERT_EQ(Run(2).Outcome, TImportOutcome::ioCompleted);
    EXPECT_EQ(ImageRows().size(), 2u);
    EXPECT_THAT(ThumbnailRows(), IsEmpty());
    EXPECT_FALSE(FileExists(Thumbs + "1.jpg"));
}

TEST_F(TImportPass, FailedThumbnailRowLosesOnlyItself)
{
    // The generator starts at 5000, so the first picture gets id 5001, which is taken.
    RunIsql(Database, "INSERT INTO thumbnails VALUES (5001, '.jpg', 'older.jpg');");
    WriteJpeg(Images + "1.jpg", 20, 20);
    const TImportResult result = Run(2);
    ASSERT_EQ(result.Outcome, TImportOutcome::ioCompleted) << result.Message;
    ASSERT_EQ(FrontEnd.Messages.size(), 1u);
    EXPECT_THAT(FrontEnd.Messages[0], testing::StartsWith("1 thumbnail row could not be stored: "));
    EXPECT_EQ(result.Shortfalls, FrontEnd.Messages);
    const auto images = ImageRows();
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images.at("1.jpg")[0], "5001");
    EXPECT_EQ(ThumbnailRows().at("5001")[1], "older.jpg");
    EXPECT_TRUE(FileExists(Thumbs + "1.jpg"));
}

class TImportPassWithoutThumbnailsTable : public TImportPass {
protected:
    void SetUp() override { MakeCatalogue(false); }
};

// And without options row: the pass goes on, then says what it could not store.
TEST_F(TImportPassWithoutThumbnailsTable, KeepsEveryPictureAndSaysWhatIsMissing)
{
    RunIsql(Database, "DELETE FROM options;");
    for (const char* name : { "1.jpg", "2.jpg", "3.jpg" })
        WriteJpeg(Images + name, 20, 20);
    const TImportResult result = Run(2, true, true);
    ASSERT_EQ(result.Outcome, TImportOutcome::ioCompleted) << result.Message;
    ASSERT_EQ(FrontEnd.Messages.size(), 1u);
    EXPECT_THAT(FrontEnd.Messages[0], testing::StartsWith("3 thumbnail rows could not be stored: "));
    EXPECT_THAT(FrontEnd.Messages[0], testing::HasSubstr("Table unknown\nTHUMBNAILS"));
    EXPECT_THAT(FrontEnd.Warnings, ElementsAre(SNoOptionsRow));
    EXPECT_FALSE(result.Succeeded());
    EXPECT_EQ(CommittedImages(), 3);
    EXPECT_EQ(result.Stats.Imported, 3u);
    EXPECT_EQ(result.Stats.Thumbnails, 3u) << "the files are there";
}

TEST_F(TImportPass, StopRequestEndsBeforeTheNextEntryAndCommits)
{
    for (const char* name : { "1.jpg", "2.jpg", "3.jpg" })
        WriteJpeg(Images + name, 20, 20);
    FrontEnd.StopAfterEvents = 3; // the fourth entry sees the request
    const TImportResult result = Run(0);
    EXPECT_EQ(result.Outcome, TImportOutcome::ioStopped);
    EXPECT_EQ(FrontEnd.Events, 4);
    EXPECT_EQ(result.Stats.Entries, 3u);
    EXPECT_EQ(CommittedImages(), int(result.Stats.Imported));
    EXPECT_EQ(FrontEnd.Captions.back(), SProcessImages);
    EXPECT_TRUE(FrontEnd.Enabled);
    // Detached: the file can be replaced at once.
    std::filesystem::remove(Database);
}

TEST_F(TImportPass, NamesThatAreNotUtf8ArePassedOver)
{
    WriteJpeg(Images + "12_\xE9t\xE9.jpg", 8, 8);
    WriteJpeg(Images + "123_\xC3\xA9t\xC3\xA9.jpg", 8, 8);
    WriteJpeg(Images + "1_a\nb.jpg", 8, 8);
    const TImportResult result = Run(0);
    ASSERT_EQ(result.Outcome, TImportOutcome::ioCompleted) << result.Message;
    const auto images = ImageRows();
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images.begin()->first, "123_\xC3\xA9t\xC3\xA9.jpg");
}

TEST_F(TImportPass, NameWithQuestionMarkAndColonIsStoredAsItIs)
{
    WriteJpeg(Images + "12_what?:x.jpg", 8, 8);
    WriteJpeg(Images + "123_--a.jpg", 8, 8);
    ASSERT_EQ(Run(0).Outcome, TImportOutcome::ioCompleted);
    const auto images = ImageRows();
    EXPECT_TRUE(images.contains("12_what?:x.jpg"));
    EXPECT_TRUE(images.contains("123_--a.jpg"));
}

TEST_F(TImportPass, UnreadablePictureStopsThePassWithTheOpenMessage)
{
    WriteJpeg(Images + "31.jpg", 8, 8);
    const TLeasedFile held(Images + "31.jpg");
    const TImportResult result = Run(2);
    EXPECT_EQ(result.Outcome, TImportOutcome::ioFailed);
    const std::string expected = Fmt(SFOpenError, Images + "31.jpg", SysErrorMessage(EWOULDBLOCK));
    EXPECT_THAT(FrontEnd.Messages, ElementsAre(expected));
    EXPECT_EQ(result.Message, expected);
    // The row inserted before the error is committed.
    EXPECT_TRUE(ImageRows().contains("31.jpg"));
    EXPECT_EQ(FrontEnd.Captions.back(), SProcessImages);
    EXPECT_TRUE(FrontEnd.Enabled);
}

// A FIFO, a socket and a device named like pictures are never opened: each gets its row and no
// thumbnail, like a sub-folder, on one thread and with the decoding ahead. A pass still running
// after a minute is stuck on the FIFO: the watchdog opens it for writing to let the pass go,
// and the test fails.
TEST_F(TImportPass, FifoSocketAndDeviceGetTheirRowAndNoThumbnail)
{
    ASSERT_EQ(mkfifo((Images + "1.jpg").c_str(), 0600), 0);
    MakeSocket(Images + "2.png");
    std::filesystem::create_symlink("/dev/null", Images + "3.bmp");
    WriteJpeg(Images + "31.jpg", 8, 8);
    for (const int threads : { 1, 2 }) {
        TImportRequest request;
        request.DatabaseFile = Database;
        request.ImageFolder = Images;
        request.ThumbsFolder = FrontEnd.Thumbs = Thumbs;
        request.KindIndex = FrontEnd.Kind = 2;
        request.Threads = threads;
        request.RemoveExisting = true;
        auto pass = std::async(std::launch::async, [&] { return RunImportPass(request, FrontEnd); });
        if (pass.wait_for(std::chrono::minutes(1)) != std::future_status::ready) {
            ADD_FAILURE() << "the pass hangs on the FIFO (threads " << threads << ")";
            ::close(::open((Images + "1.jpg").c_str(), O_WRONLY | O_NONBLOCK));
        }
        const TImportResult result = pass.get();
        EXPECT_EQ(result.Outcome, TImportOutcome::ioCompleted) << result.Message;
        EXPECT_EQ(ImageRows().size(), 4u);
        EXPECT_EQ(result.Stats.Thumbnails, 1u);
        for (const auto& [id, row] : ThumbnailRows())
            EXPECT_EQ(row[1], "31.jpg") << "threads " << threads;
        EXPECT_FALSE(FileExists(Thumbs + "1.jpg") || FileExists(Thumbs + "2.jpg") || FileExists(Thumbs + "3.jpg"));
    }
    EXPECT_THAT(FrontEnd.Messages, IsEmpty());
}

TEST_F(TImportPass, UnwritableThumbnailStopsThePassWithTheCreateMessage)
{
    WriteBytes(Folder / "plain", "a file, not a folder");
    Thumbs = Folder / "plain/thumbs/";
    WriteJpeg(Images + "1.jpg", 8, 8);
    const TImportResult result = Run(2);
    EXPECT_EQ(result.Outcome, TImportOutcome::ioFailed);
    EXPECT_THAT(FrontEnd.Messages, ElementsAre(Fmt(SFCreateError, Thumbs + "1.jpg", SysErrorMessage(ENOTDIR))));
    EXPECT_TRUE(ImageRows().contains("1.jpg"));
}

TEST_F(TImportPass, CoversNeedAThumbnailsFolder)
{
    Thumbs.clear();
    WriteJpeg(Images + "1.jpg", 8, 8);
    for (const int kind : { 2, 3, 4 }) {
        FrontEnd.Messages.clear();
        const TImportResult result = Run(kind);
        EXPECT_EQ(result.Outcome, TImportOutcome::ioNoThumbsFolder);
        EXPECT_THAT(FrontEnd.Messages, ElementsAre("Thumbnails folder must be set!"));
    }
    EXPECT_THAT(FrontEnd.Captions, IsEmpty()) << "no busy state";
    EXPECT_EQ(Options()[0], "1") << "nothing was written";
    EXPECT_EQ(Run(0).Outcome, TImportOutcome::ioCompleted);
}

TEST_F(TImportPass, DoesNothingWithoutDatabaseFileOrImageFolder)
{
    for (const std::string& database : { Folder.Path(), Folder / "missing.fdb", std::string() }) {
        Database = database;
        EXPECT_EQ(Run(0).Outcome, TImportOutcome::ioNoDatabase) << database;
    }
    Database = Folder / "cat.fdb";
    Images.clear();
    EXPECT_EQ(Run(2).Outcome, TImportOutcome::ioNoImageFolder);
    EXPECT_THAT(FrontEnd.Captions, IsEmpty());
    EXPECT_THAT(FrontEnd.Messages, IsEmpty());
    EXPECT_EQ(Options()[0], "1");
}

TEST_F(TImportPass, MissingImageFolderStillWritesTheSettings)
{
    Images = Folder / "nowhere/";
    const TImportResult result = Run(0, false, true);
    EXPECT_EQ(result.Outcome, TImportOutcome::ioCompleted);
    EXPECT_FALSE(result.Stats.FolderFound);
    EXPECT_EQ(Options()[0], "0");
    EXPECT_EQ(Options()[1], "nowhere/");
}

TEST_F(TImportPass, RemoveExistingChangesNothingWithoutAFolderToImportFrom)
{
    RunIsql(Database, "INSERT INTO images VALUES (1, 10, 0, '.jpg', 'old.jpg');");
    WriteBytes(Folder / "plain", "a file");
    for (const auto& [folder, error] : { std::pair { Folder / "nowhere/", ENOENT }, std::pair { Folder / "plain", ENOTDIR } }) {
        Images = folder;
        FrontEnd.Messages.clear();
        EXPECT_EQ(Run(0, true, true).Outcome, TImportOutcome::ioFailed);
        EXPECT_THAT(FrontEnd.Messages, ElementsAre(Fmt(SImageFolderUnreadable, folder, SysErrorMessage(error))));
    }
    EXPECT_EQ(ImageRows().size(), 1u);
    EXPECT_EQ(Options()[0], "1") << "no statement ran";
}

TEST_F(TImportPass, RefusesAThumbnailsFolderThatIsTheImageFolder)
{
    WriteJpeg(Images + "1_1.jpg", 40, 30);
    const std::string picture = ReadBytes(Images + "1_1.jpg");
    MakeFolder(Images + "sub");
    std::filesystem::create_directory_symlink(Images, Folder / "link");
    const std::string saved = std::filesystem::current_path();
    std::filesystem::current_path(Folder.Path());
    for (const std::string& spelling : { Folder / "link", Images + "sub/..", Folder / "images/.", std::string("images") }) {
        Thumbs = spelling;
        FrontEnd.Messages.clear();
        EXPECT_EQ(Run(KindBothCovers).Outcome, TImportOutcome::ioFailed) << spelling;
        EXPECT_THAT(FrontEnd.Messages, ElementsAre(SThumbsFolderIsImageFolder)) << spelling;
    }
    std::filesystem::current_path(saved);
    EXPECT_EQ(Options()[0], "1") << "nothing was written";

    // Changed during the pass: refused just before the thumbnail is written.
    Thumbs = Folder / "thumbs/";
    FrontEnd.OnEvents = [&] { FrontEnd.Thumbs = Images; };
    EXPECT_EQ(Run(KindBothCovers).Outcome, TImportOutcome::ioFailed);
    EXPECT_THAT(FrontEnd.Messages, ElementsAre(SThumbsFolderIsImageFolder, SThumbsFolderIsImageFolder));
    EXPECT_EQ(ReadBytes(Images + "1_1.jpg"), picture);
}

TEST_F(TImportPass, PictureIdBeyond32BitsEndsThePass)
{
    RunIsql(Database, "SET GENERATOR gen_pixref TO 2147483645;");
    for (const char* name : { "1.jpg", "2.jpg", "3.jpg" })
        WriteJpeg(Images + name, 8, 8);
    const TImportResult result = Run(0);
    EXPECT_EQ(result.Outcome, TImportOutcome::ioFailed);
    EXPECT_THAT(FrontEnd.Messages, ElementsAre(Fmt(SPictureIdOverflow, "2147483648")));
    std::set<std::string> ids;
    for (const auto& [name, row] : ImageRows())
        ids.insert(row[0]);
    EXPECT_EQ(ids, (std::set<std::string> { "2147483646", "2147483647" }));
    EXPECT_EQ(result.Stats.Imported, 2u);
}

TEST_F(TImportPass, CountsOnlyRowsThatWereCommitted)
{
    // The catalogue refuses to commit any transaction holding the row of 2.jpg.
    RunIsql(Database, "CREATE EXCEPTION refused 'commit refused';\nSET TERM ^ ;\n"
                      "CREATE TRIGGER refuse ON TRANSACTION COMMIT AS BEGIN\n"
                      "  IF (EXISTS (SELECT 1 FROM images WHERE \"imgpath\" = '2.jpg')) THEN EXCEPTION refused;\n"
                      "END^\nSET TERM ; ^");
    for (const char* name : { "1.jpg", "2.jpg", "3.jpg" })
        WriteJpeg(Images + name, 8, 8);
    for (const int kind : { 2, 0 }) { // a commit per thumbnail, then one at the end of the walk
        const TImportResult result = Run(kind);
        EXPECT_EQ(result.Outcome, TImportOutcome::ioFailed);
        EXPECT_THAT(result.Message, testing::HasSubstr("commit refused"));
        EXPECT_EQ(CommittedImages(), int(result.Stats.Imported)) << kind;
        EXPECT_LT(result.Stats.Imported, kind == 2 ? 3u : 1u) << kind;
        RunIsql(Database, "DELETE FROM images;");
    }
}

TEST_F(TImportPass, DatabaseErrorIsShownAndTheButtonRestored)
{
    WriteBytes(Folder / "broken.fdb", "not a database");
    Database = Folder / "broken.fdb";
    const TImportResult result = Run(0);
    EXPECT_EQ(result.Outcome, TImportOutcome::ioFailed);
    ASSERT_EQ(FrontEnd.Messages.size(), 1u);
    EXPECT_FALSE(FrontEnd.Messages[0].empty());
    EXPECT_THAT(FrontEnd.Captions, ElementsAre(SWorking, SProcessImages));
    EXPECT_THAT(FrontEnd.EnabledHistory, ElementsAre(false, true));
}

// The caption a pass shows after n entries, by the eight-bit counter's rule.
std::vector<std::string> ExpectedCaptions(int entries)
{
    std::vector<std::string> captions { SWorking };
    std::string caption = SWorking;
    unsigned counter = 0;
    for (int i = 0; i < entries; ++i) {
        counter = (counter + 1) & 0xFF;
        if (counter == 255) {
            counter = 0;
            caption = SWorking;
        } else if (counter % 50 == 0) {
            caption += '.';
        } else {
            continue;
        }
        captions.push_back(caption);
    }
    captions.push_back(SProcessImages);
    return captions;
}

TEST_F(TImportPass, ShowsProgressEveryFiftyEntries)
{
    for (int i = 0; i < 303; ++i)
        WriteBytes(Images + "note" + std::to_string(i) + ".txt", "x");
    const TImportResult result = Run(0);
    ASSERT_EQ(result.Outcome, TImportOutcome::ioCompleted);
    EXPECT_EQ(result.Stats.Entries, 305u);
    EXPECT_EQ(FrontEnd.Events, 305);
    EXPECT_EQ(FrontEnd.Captions, ExpectedCaptions(305));
    EXPECT_THAT(FrontEnd.Captions, ElementsAre("Working", "Working.", "Working..", "Working...", "Working....",
                                       "Working.....", "Working", "Working.", "Process images"));
}

} // namespace
