// The worker that decodes pictures ahead of the import pass: same answers as decoding in
// place, in listing order, errors kept for their entry, a bounded queue, and a clean stop.
#include "app/decodeahead.h"

#include "app/declaredsize.h"
#include "app/imagefileload.h"
#include "app/importpass.h"
#include "app/thumbnailwriter.h"
#include "base/fmt.h"
#include "db/fbcomponents.h"
#include "base/warning.h"
#include "importtestsupport.h"
#include "leasedfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <utility>

using namespace importtest;

namespace {

bool Always(const std::string&) { return true; }

std::vector<std::uint8_t> Bytes(const TBitmap& bitmap)
{
    std::vector<std::uint8_t> bytes;
    for (int y = 0; y < bitmap.Height(); ++y) {
        const std::uint8_t* row = bitmap.RowAddress(y);
        bytes.insert(bytes.end(), row, row + bitmap.RowBytes());
    }
    return bytes;
}

// What the loader says about one file, in place: loaded, size, pixels, or the error text.
struct TOutcome {
    bool Loaded = false;
    int Width = 0, Height = 0;
    std::vector<std::uint8_t> Pixels;
    std::string Error;
    bool operator==(const TOutcome&) const = default;
};

TOutcome Outcome(const TDecodedPicture& picture)
{
    TOutcome outcome;
    if (picture.Error) {
        try {
            std::rethrow_exception(picture.Error);
        } catch (const std::exception& error) {
            outcome.Error = error.what();
        }
        return outcome;
    }
    outcome.Loaded = picture.Loaded;
    outcome.Width = picture.Bitmap->Width();
    outcome.Height = picture.Bitmap->Height();
    if (picture.Loaded)
        outcome.Pixels = Bytes(*picture.Bitmap);
    return outcome;
}

TOutcome InPlace(const std::string& path)
{
    TDecodedPicture picture;
    try {
        picture.Loaded = LoadImageFile(path, *picture.Bitmap);
    } catch (...) {
        picture.Error = std::current_exception();
    }
    return Outcome(picture);
}

// A folder of every kind of entry the pass meets: pictures of each format, a zero-byte .bmp,
// undecodable files, an entry held by another program (6_1.png, while the lease lives), a
// socket, a name that does not qualify.
std::vector<std::string> MixedFolder(const TTempFolder& folder, std::optional<TLeasedFile>& held)
{
    WriteJpeg(folder / "1_1.jpg", 40, 30);
    WritePng(folder / "2_1.png", 17, 23);
    WriteBytes(folder / "3_1.bmp", "");
    WriteGif(folder / "4_2.gif", 13, 7);
    WriteBytes(folder / "5_1.jpg", "not a JPEG at all");
    WritePng(folder / "6_1.png", 6, 6);
    held.emplace(folder / "6_1.png");
    WriteTiff(folder / "7_1.tif", 9, 11);
    WriteBytes(folder / "readme.txt", "passed over");
    WriteBytes(folder / "8_1.png", std::string("\x89PNG\r\n\x1a\n", 8) + "broken");
    WriteBmp(folder / "9_2.bmp", 5, 4);
    MakeSocket(folder / "10_1.png");
    return { folder / "1_1.jpg", folder / "2_1.png", folder / "3_1.bmp", folder / "4_2.gif", folder / "5_1.jpg",
        folder / "6_1.png", folder / "7_1.tif", folder / "readme.txt", folder / "8_1.png", folder / "9_2.bmp",
        folder / "10_1.png" };
}

bool NotText(const std::string& path) { return !path.ends_with(".txt"); }

TEST(DecodeAheadTest, GivesWhatDecodingInPlaceGivesEntryByEntry)
{
    const TTempFolder folder;
    std::optional<TLeasedFile> held;
    const std::vector<std::string> paths = MixedFolder(folder, held);
    for (const auto& [window, workers] : { std::pair<std::size_t, std::size_t> { 1, 1 }, { 2, 1 }, { 5, 1 }, { 2, 2 }, { 5, 3 } }) {
        SCOPED_TRACE(std::to_string(window) + " waiting, " + std::to_string(workers) + " workers");
        TDecodeAhead ahead(paths, NotText, LoadImageFile, window, workers);
        for (std::size_t i = 0; i < paths.size(); ++i) {
            SCOPED_TRACE(paths[i]);
            const std::optional<TDecodedPicture> picture = ahead.Take(i);
            ASSERT_EQ(picture.has_value(), NotText(paths[i]));
            if (picture) {
                EXPECT_EQ(Outcome(*picture), InPlace(paths[i]));
            }
        }
    }
    // What the headers declare, read without decoding: the file and a 4-byte pixel per pixel.
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        const TOutcome decoded = InPlace(path);
        const std::uint64_t expected = decoded.Loaded && decoded.Width > 0
            ? std::filesystem::file_size(path) + 4 * std::uint64_t(decoded.Width) * std::uint64_t(decoded.Height)
            : 0;
        EXPECT_EQ(DeclaredPictureBytes(path), expected);
    }
}

TEST(DecodeAheadTest, KeepsEachErrorForItsOwnEntry)
{
    const TTempFolder folder;
    std::optional<TLeasedFile> held;
    const std::vector<std::string> paths = MixedFolder(folder, held);
    TDecodeAhead ahead(paths, NotText, LoadImageFile);
    const std::optional<TDecodedPicture> unreadable = ahead.Take(5);
    ASSERT_TRUE(unreadable && unreadable->Error);
    EXPECT_EQ(Outcome(*unreadable).Error, InPlace(paths[5]).Error);
    EXPECT_NE(Outcome(*unreadable).Error.find("Cannot open file"), std::string::npos);
    const std::optional<TDecodedPicture> next = ahead.Take(6);
    ASSERT_TRUE(next);
    EXPECT_FALSE(next->Error);
    EXPECT_TRUE(next->Loaded);
}

// The decoder of the tests: counts calls, notes its thread, fails on request.
struct TCountingDecoder {
    std::atomic<int> Calls { 0 };
    std::atomic<bool> OtherThread { false };
    std::thread::id Caller = std::this_thread::get_id();
    bool operator()(const std::string& path, TBitmap& bitmap)
    {
        ++Calls;
        if (std::this_thread::get_id() != Caller)
            OtherThread = true;
        if (path.ends_with("throw"))
            throw std::runtime_error("failed at " + path);
        bitmap.ResizeTo(static_cast<int>(path.size()), 1);
        return true;
    }
};

std::vector<std::string> Names(int count, const std::string& suffix = "")
{
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i)
        names.push_back("entry" + std::to_string(i) + suffix);
    return names;
}

TEST(DecodeAheadTest, DecodesOnOtherThreadsAndNeverMoreThanTheWindowAhead)
{
    for (const auto& [window, workers] : { std::pair<std::size_t, std::size_t> { 1, 1 }, { 2, 1 }, { 3, 1 }, { 2, 2 }, { 3, 2 } }) {
        SCOPED_TRACE(std::to_string(window) + " waiting, " + std::to_string(workers) + " workers");
        TCountingDecoder decoder;
        TDecodeAhead ahead(Names(20), Always, std::ref(decoder), window, workers);
        // Left alone, the worker fills the window and waits.
        for (int wait = 0; wait < 2000 && ahead.Waiting() < window; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(ahead.Waiting(), window);
        EXPECT_EQ(decoder.Calls.load(), static_cast<int>(window));
        for (std::size_t i = 0; i < 20; ++i) {
            const std::optional<TDecodedPicture> picture = ahead.Take(i);
            ASSERT_TRUE(picture);
            EXPECT_EQ(picture->Bitmap->Width(), static_cast<int>(Names(20)[i].size()));
            EXPECT_LE(ahead.Waiting(), window);
        }
        EXPECT_EQ(decoder.Calls.load(), 20);
        EXPECT_TRUE(decoder.OtherThread.load());
    }
}

TEST(DecodeAheadTest, EntriesThePassDoesNotTakeAreDroppedWithoutStallingIt)
{
    for (const std::size_t workers : { std::size_t(1), std::size_t(2) }) {
        SCOPED_TRACE(workers);
        TCountingDecoder decoder;
        TDecodeAhead ahead(Names(30), Always, std::ref(decoder), TDecodeAhead::DefaultWindow, workers);
        // The pass takes only every third entry (the others had no record).
        for (std::size_t i = 0; i < 30; i += 3) {
            const std::optional<TDecodedPicture> picture = ahead.Take(i);
            ASSERT_TRUE(picture);
            EXPECT_EQ(picture->Bitmap->Width(), static_cast<int>(Names(30)[i].size()));
        }
        EXPECT_FALSE(ahead.Take(30)); // beyond the listing
        EXPECT_LE(decoder.Calls.load(), 30);
    }
}

TEST(DecodeAheadTest, EntriesFinishedOutOfOrderAreHandedOutInOrder)
{
    const auto uneven = [](const std::string& path, TBitmap& bitmap) {
        const int digit = path.back() - '0';
        if (digit % 2 == 0) // the other worker overtakes this one
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
        bitmap.ResizeTo(1, 1 + digit);
        return true;
    };
    TDecodeAhead ahead(Names(10), Always, uneven, 2, 2);
    for (std::size_t i = 0; i < 10; ++i) {
        const std::optional<TDecodedPicture> picture = ahead.Take(i);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->Bitmap->Height(), static_cast<int>(1 + i));
        EXPECT_LE(ahead.Waiting(), 2u);
    }
}

TEST(DecodeAheadTest, NonQualifyingEntriesAreNeverDecoded)
{
    TCountingDecoder decoder;
    const auto evenOnly = [](const std::string& path) { return (path.back() - '0') % 2 == 0; };
    TDecodeAhead ahead(Names(10), evenOnly, std::ref(decoder));
    for (std::size_t i = 0; i < 10; ++i)
        EXPECT_EQ(ahead.Take(i).has_value(), i % 2 == 0) << i;
    EXPECT_EQ(decoder.Calls.load(), 5);
}

TEST(DecodeAheadTest, ExceptionsTravelToTheEntryAndTheWorkGoesOn)
{
    TCountingDecoder decoder;
    std::vector<std::string> names = Names(6);
    names[2] += "throw";
    TDecodeAhead ahead(names, Always, std::ref(decoder), TDecodeAhead::DefaultWindow, 2);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::optional<TDecodedPicture> picture = ahead.Take(i);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->Error != nullptr, i == 2);
        if (i == 2) {
            EXPECT_EQ(Outcome(*picture).Error, "failed at entry2throw");
        }
    }
}

TEST(DecodeAheadTest, WarningsTravelWithThePictureNotToTheHandler)
{
    std::vector<std::string> shown;
    SetWarningHandler([&](const std::string& text) { shown.push_back(text); });
    const auto warns = [](const std::string& path, TBitmap& bitmap) {
        ShowWarning("first of " + path);
        ShowWarning("second of " + path);
        if (path.ends_with("throw"))
            throw std::runtime_error("failed");
        bitmap.ResizeTo(1, 1);
        return true;
    };
    TDecodeAhead ahead({ "a", "bthrow", "c" }, Always, warns);
    for (std::size_t i = 0; i < 3; ++i) {
        const std::optional<TDecodedPicture> picture = ahead.Take(i);
        ASSERT_TRUE(picture);
        const std::string name = i == 0 ? "a" : i == 1 ? "bthrow" : "c";
        EXPECT_EQ(picture->Warnings, (std::vector<std::string> { "first of " + name, "second of " + name }));
    }
    EXPECT_TRUE(shown.empty());
    SetWarningHandler(nullptr);
}

TEST(DecodeAheadTest, StoppingEndsTheWorkerAndLaterTakesGetNothing)
{
    TCountingDecoder decoder;
    std::atomic<bool> release { false };
    const auto slow = [&](const std::string& path, TBitmap& bitmap) {
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return decoder(path, bitmap);
    };
    TDecodeAhead ahead(Names(1000), Always, slow);
    release = true;
    ASSERT_TRUE(ahead.Take(0));
    ahead.Stop();
    EXPECT_FALSE(ahead.Take(1));
    EXPECT_LE(decoder.Calls.load(), 4);
    // Destroying a worker blocked on a full window returns as well.
    { TDecodeAhead idle(Names(100), Always, std::ref(decoder)); }
}

TEST(DecodeAheadTest, PicturesHeldStayWithinTheBudgetBesideTheOneThePassTakes)
{
    // Declared sizes against a budget of 100 bytes; some alone exceed it.
    const std::vector<std::size_t> sizes { 30, 30, 30, 150, 30, 60, 60, 10, 200, 200, 5, 40, 40, 40 };
    constexpr std::uint64_t Budget = 100;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < sizes.size(); ++i)
        names.push_back(std::to_string(i));
    const auto size = [&](const std::string& name) { return sizes[std::stoul(name)]; };
    // Held as the test sees it: started by a worker before the pass took it, and not yet taken.
    std::mutex lock;
    std::vector<bool> counted(sizes.size()), taken(sizes.size());
    std::size_t live = 0;
    std::atomic<int> overBudget { 0 };
    const auto job = [&](const std::string& name, TDecodedPicture& picture) {
        {
            const std::lock_guard guard(lock);
            const std::size_t index = std::stoul(name);
            if (!taken[index]) {
                if (live > 0 && live + size(name) > Budget)
                    ++overBudget;
                live += size(name);
                counted[index] = true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        picture.Thumbnail.assign(size(name), 1);
    };
    for (const std::size_t workers : { std::size_t(1), std::size_t(2) }) {
        SCOPED_TRACE(workers);
        std::fill(counted.begin(), counted.end(), false);
        std::fill(taken.begin(), taken.end(), false);
        live = 0;
        TDecodeAhead ahead(names, Always, job, 3, workers, Budget, size);
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            {
                const std::lock_guard guard(lock);
                taken[i] = true; // the picture the pass draws counts no more
                if (counted[i])
                    live -= sizes[i];
            }
            const std::optional<TDecodedPicture> picture = ahead.Take(i);
            ASSERT_TRUE(picture);
            EXPECT_EQ(picture->Thumbnail.size(), sizes[i]);
            std::this_thread::sleep_for(std::chrono::milliseconds(6)); // drawing: the workers fill up
            EXPECT_LE(ahead.Held(), Budget + 200);
        }
        EXPECT_EQ(ahead.Held(), 0u);
    }
    EXPECT_EQ(overBudget.load(), 0);
}

// ---- The whole pass with and without decoding ahead: the same rows, files and messages.

class TPassFrontEnd : public TImportFrontEnd {
public:
    int Kind = KindBothCovers;
    std::string Thumbs;
    std::vector<std::string> Record; // captions, messages, the kind and folder asked for
    int Events = 0;
    std::function<void(TPassFrontEnd&)> OnEvents;
    int StopAfterEvents = -1;

    int KindIndex() override
    {
        Record.push_back("kind " + std::to_string(Kind));
        return Kind;
    }
    std::string ThumbsFolderText() override { return Thumbs; }
    void SetGoEnabled(bool enabled) override { Record.push_back(enabled ? "enabled" : "disabled"); }
    void SetGoCaption(const std::string& caption) override { Record.push_back("caption " + caption); }
    void ProcessEvents() override
    {
        ++Events;
        if (OnEvents)
            OnEvents(*this);
    }
    bool StopRequested() override { return StopAfterEvents >= 0 && Events > StopAfterEvents; }
    void ShowMessage(const std::string& text) override { Record.push_back("message " + text); }
};

// Everything a pass leaves behind that a user can see.
struct TPassResult {
    TImportOutcome Outcome {};
    std::string Message;
    unsigned Entries = 0, Imported = 0, Thumbnails = 0;
    TRows Images, ThumbnailRows;
    std::map<std::string, std::string> Files; // thumbnail path below the folder -> bytes
    std::vector<std::string> FrontEnd;
    bool operator==(const TPassResult&) const = default;
};

struct TScenario {
    const char* Name;
    bool Unreadable;  // a picture held by another program: "Cannot open file" ends the pass
    bool ChangeKind;  // poster kind for a while, then covers into another thumbnails folder
    int StopAfter;    // the user closes the dialog after this many entries (-1: never)
};

class TDecodeAheadPass : public testing::TestWithParam<TScenario> {
protected:
    TPassResult Run(int threads)
    {
        const TScenario& scenario = GetParam();
        const std::string database = Folder / ("catalogue" + std::to_string(threads) + ".fdb");
        const std::string thumbs = Folder / ("thumbs" + std::to_string(threads));
        std::vector<TMovie> movies;
        for (int number = 1; number <= 15; ++number)
            if (number != 9)
                movies.push_back({ 100 + number, number });
        std::string reason;
        if (!CreateCatalogue(database, movies, reason))
            return {};
        TPassFrontEnd frontEnd;
        frontEnd.Thumbs = thumbs;
        frontEnd.StopAfterEvents = scenario.StopAfter;
        if (scenario.ChangeKind)
            frontEnd.OnEvents = [thumbs](TPassFrontEnd& self) {
                if (self.Events == 4)
                    self.Kind = 0;
                if (self.Events == 8) {
                    self.Kind = 3;
                    self.Thumbs = thumbs + "/later";
                }
            };
        TImportRequest request;
        request.DatabaseFile = database;
        request.ImageFolder = Images();
        std::optional<TLeasedFile> held; // for this pass only: the lease ends 45 s after its first refusal
        if (scenario.Unreadable)
            held.emplace(request.ImageFolder + "/12_1.png");
        request.ThumbsFolder = thumbs;
        request.KindIndex = KindBothCovers;
        request.Threads = threads;
        // Warnings land between the other things the user sees, where they were shown.
        SetWarningHandler([&frontEnd](const std::string& text) { frontEnd.Record.push_back("warning " + text); });
        const TImportResult result = RunImportPass(request, frontEnd);
        SetWarningHandler(nullptr);
        TPassResult seen;
        seen.Outcome = result.Outcome;
        seen.Message = result.Message;
        seen.Entries = result.Stats.Entries;
        seen.Imported = result.Stats.Imported;
        seen.Thumbnails = result.Stats.Thumbnails;
        seen.Images = Query(database,
            "SELECT \"pixref\", \"mid\", \"imgtype\", \"imgformat\", \"imgpath\" FROM images ORDER BY \"pixref\"");
        seen.ThumbnailRows = Query(database, "SELECT \"pixref\", \"imgformat\", \"imgpath\" FROM thumbnails ORDER BY \"pixref\"");
        if (std::filesystem::exists(thumbs))
            for (const auto& entry : std::filesystem::recursive_directory_iterator(thumbs))
                if (entry.is_regular_file())
                    seen.Files[entry.path().string().substr(thumbs.size())] = ReadBytes(entry.path().string());
        seen.FrontEnd = frontEnd.Record;
        return seen;
    }

    std::string Images()
    {
        const std::string images = Folder / "images";
        if (std::filesystem::exists(images))
            return images;
        MakeFolder(images);
        const std::string at = images + "/";
        WriteJpeg(at + "1_1.jpg", 120, 90);
        WritePng(at + "2_1.png", 60, 80);
        WriteGif(at + "3_2.gif", 50, 40);
        WriteTiff(at + "4_1.tif", 30, 70);
        WriteBmp(at + "5_1.bmp", 33, 21);
        WriteBytes(at + "6_1.bmp", "");                       // zero bytes: no thumbnail
        WriteBytes(at + "7_1.jpg", "no JPEG here");           // undecodable
        WriteBytes(at + "8_1.png", std::string("\x89PNG\r\n\x1a\n", 8) + "cut short");
        WriteJpeg(at + "9_1.jpg", 40, 40);                    // no record
        WriteBytes(at + "notes.txt", "passed over");
        WriteJpeg(at + "10_2.jpg", 200, 100);
        WritePng(at + "11_1.png", 90, 45);
        WriteJpeg(at + "13_1.jpg", 77, 99);
        WriteGif(at + "14_2.gif", 20, 30);
        WriteDamagedJpegTiff(at + "14_1.tif", 48, 32);       // decodes with a warning
        MakeSocket(at + "15_1.png");                          // never opened: a row, no thumbnail
        if (GetParam().Unreadable)
            WritePng(at + "12_1.png", 10, 10);
        return images;
    }

    TTempFolder Folder;
};

TEST_P(TDecodeAheadPass, GivesTheOneThreadPassResults)
{
    const TPassResult oneThread = Run(1);
    if (oneThread.Images.empty() && oneThread.Entries == 0)
        GTEST_SKIP() << "no embedded Firebird";
    const TPassResult ahead = Run(2);
    EXPECT_EQ(ahead.Outcome, oneThread.Outcome);
    EXPECT_EQ(ahead.Message, oneThread.Message);
    EXPECT_EQ(ahead.Entries, oneThread.Entries);
    EXPECT_EQ(ahead.Imported, oneThread.Imported);
    EXPECT_EQ(ahead.Thumbnails, oneThread.Thumbnails);
    EXPECT_EQ(ahead.Images, oneThread.Images);
    EXPECT_EQ(ahead.ThumbnailRows, oneThread.ThumbnailRows);
    EXPECT_EQ(ahead.Files, oneThread.Files);
    EXPECT_EQ(ahead.FrontEnd, oneThread.FrontEnd);
    // The scenarios do what they are meant to (the unreadable entry may come first).
    if (GetParam().Unreadable) {
        EXPECT_EQ(oneThread.Outcome, TImportOutcome::ioFailed);
        EXPECT_NE(oneThread.Message.find("Cannot open file"), std::string::npos);
    } else {
        EXPECT_GT(oneThread.Thumbnails, 0u);
    }
    if (!GetParam().Unreadable && !GetParam().ChangeKind && GetParam().StopAfter < 0) {
        EXPECT_NE(std::find_if(oneThread.FrontEnd.begin(), oneThread.FrontEnd.end(),
                      [](const std::string& seen) { return seen.starts_with("warning Corrupt JPEG data"); }),
            oneThread.FrontEnd.end());
    }
    if (GetParam().StopAfter >= 0) {
        EXPECT_EQ(oneThread.Outcome, TImportOutcome::ioStopped);
    }
}

// A worker that ran out of memory while others held pictures leaves its entry to the pass,
// which makes the thumbnail alone, as the one-thread pass would.
TEST(DecodeAheadTest, AnEntryAWorkerHadNoMemoryForIsMadeByThePass)
{
    const TTempFolder folder;
    const std::string picture = folder / "1_1.jpg", thumbs = folder / "thumbs/";
    WriteJpeg(picture, 64, 48);
    MakeFolder(thumbs);
    ASSERT_TRUE(WriteThumbnailFile(picture, folder / "alone.jpg"));
    TDecodeAhead ahead({ picture }, Always,
        [](const std::string& path, TDecodedPicture&) { throw ENotEnoughMemory(Fmt(SNotEnoughMemoryToLoad, path)); },
        2, 1, TDecodeAhead::DefaultBudget, [](const std::string&) { return std::uint64_t(0); });
    TPassFrontEnd frontEnd;
    frontEnd.Thumbs = thumbs;
    TFbTransaction transaction;
    TFbQuery query;
    TImportContext pass(frontEnd, query, transaction, thumbs);
    pass.ImageFolder = folder / "";
    pass.DecodeAhead = &ahead;
    TEntryOutcome outcome;
    EXPECT_TRUE(MakeThumbnail(pass, picture, 1, outcome, false));
    EXPECT_EQ(pass.Stats.NotLoaded, 0u);
    EXPECT_EQ(ReadBytes(thumbs + "1_1.jpg"), ReadBytes(folder / "alone.jpg"));
}

INSTANTIATE_TEST_SUITE_P(Folders, TDecodeAheadPass,
    testing::Values(TScenario { "Complete", false, false, -1 }, TScenario { "UnreadableEntry", true, false, -1 },
        TScenario { "KindAndFolderChange", false, true, -1 }, TScenario { "Stopped", false, false, 7 },
        TScenario { "UnreadableAndKindChange", true, true, -1 }),
    [](const testing::TestParamInfo<TScenario>& testInfo) { return std::string(testInfo.param.Name); });

} // namespace
