// The worker that decodes pictures ahead of the import pass: same answers as decoding in
// place, in listing order, errors kept for their entry, a bounded queue, and a clean stop.
#include "app/decodeahead.h"

#include "app/imagefileload.h"
#include "importtestsupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <stdexcept>

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
// undecodable files, an unreadable entry, a name that does not qualify.
std::vector<std::string> MixedFolder(const TTempFolder& folder)
{
    WriteJpeg(folder / "1_1.jpg", 40, 30);
    WritePng(folder / "2_1.png", 17, 23);
    WriteBytes(folder / "3_1.bmp", "");
    WriteGif(folder / "4_2.gif", 13, 7);
    WriteBytes(folder / "5_1.jpg", "not a JPEG at all");
    MakeSocket(folder / "6_1.png");
    WriteTiff(folder / "7_1.tif", 9, 11);
    WriteBytes(folder / "readme.txt", "passed over");
    WriteBytes(folder / "8_1.png", std::string("\x89PNG\r\n\x1a\n", 8) + "broken");
    WriteBmp(folder / "9_2.bmp", 5, 4);
    return { folder / "1_1.jpg", folder / "2_1.png", folder / "3_1.bmp", folder / "4_2.gif", folder / "5_1.jpg",
        folder / "6_1.png", folder / "7_1.tif", folder / "readme.txt", folder / "8_1.png", folder / "9_2.bmp" };
}

bool NotText(const std::string& path) { return !path.ends_with(".txt"); }

TEST(DecodeAheadTest, GivesWhatDecodingInPlaceGivesEntryByEntry)
{
    const TTempFolder folder;
    const std::vector<std::string> paths = MixedFolder(folder);
    for (const std::size_t window : { std::size_t(1), std::size_t(2), std::size_t(5) }) {
        SCOPED_TRACE(window);
        TDecodeAhead ahead(paths, NotText, LoadImageFile, window);
        for (std::size_t i = 0; i < paths.size(); ++i) {
            SCOPED_TRACE(paths[i]);
            const std::optional<TDecodedPicture> picture = ahead.Take(i);
            ASSERT_EQ(picture.has_value(), NotText(paths[i]));
            if (picture)
                EXPECT_EQ(Outcome(*picture), InPlace(paths[i]));
        }
    }
}

TEST(DecodeAheadTest, KeepsEachErrorForItsOwnEntry)
{
    const TTempFolder folder;
    const std::vector<std::string> paths = MixedFolder(folder);
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

TEST(DecodeAheadTest, DecodesOnAnotherThreadAndNeverMoreThanTheWindowWaits)
{
    for (const std::size_t window : { std::size_t(1), std::size_t(2), std::size_t(3) }) {
        SCOPED_TRACE(window);
        TCountingDecoder decoder;
        TDecodeAhead ahead(Names(20), Always, std::ref(decoder), window);
        // Left alone, the worker fills the window and waits.
        for (int wait = 0; wait < 200 && ahead.Waiting() < window; ++wait)
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
    TCountingDecoder decoder;
    TDecodeAhead ahead(Names(30), Always, std::ref(decoder));
    // The pass takes only every third entry (the others had no record).
    for (std::size_t i = 0; i < 30; i += 3) {
        const std::optional<TDecodedPicture> picture = ahead.Take(i);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->Bitmap->Width(), static_cast<int>(Names(30)[i].size()));
    }
    EXPECT_FALSE(ahead.Take(30)); // beyond the listing
    EXPECT_LE(decoder.Calls.load(), 30);
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
    TDecodeAhead ahead(names, Always, std::ref(decoder));
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::optional<TDecodedPicture> picture = ahead.Take(i);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->Error != nullptr, i == 2);
        if (i == 2)
            EXPECT_EQ(Outcome(*picture).Error, "failed at entry2throw");
    }
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

} // namespace
