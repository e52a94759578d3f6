#include "app/decodecommand.h"

#include "app/imagefileload.h"
#include "base/stream.h"
#include "raster/bitmap.h"
#include "tests/app/importtestsupport.h"
#include "tests/support/files.h"
#include "tests/support/jpegreference.h"
#include "tests/support/tiffreference.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using importtest::TTempFolder;

namespace {

std::vector<std::uint8_t> FileBytes(const std::string& path)
{
    return testsupport::ReadFile(path);
}

TEST(DecodeCommand, UsageErrorsExitWith2)
{
    EXPECT_EQ(RunDecodeCommand({}), 2);
    EXPECT_EQ(RunDecodeCommand({ "a.jpg" }), 2);
    EXPECT_EQ(RunDecodeCommand({ "a.jpg", "b.ppm", "c" }), 2);
    EXPECT_EQ(RunDecodeCommand({ "", "b.ppm" }), 2);
    EXPECT_EQ(RunDecodeCommand({ "--oriented", "a.jpg" }), 2);
    EXPECT_EQ(RunDecodeCommand({ "a.jpg", "--oriented", "b.ppm" }), 2);
}

// A picture stored a quarter turned: decode writes it as stored, --oriented as shown.
TEST(DecodeCommand, OrientedWritesThePictureAsShown)
{
    TTempFolder folder;
    tifftest::TTiffPlan plan;
    plan.Width = 3;
    plan.Height = 2;
    plan.Orientation = 6;
    plan.Samples = { 10, 20, 30, 40, 50, 60 };
    testsupport::WriteFile(folder / "turned.tif", tifftest::WriteTiff(plan));
    ASSERT_EQ(RunDecodeCommand({ folder / "turned.tif", folder / "stored.ppm" }), 0);
    ASSERT_EQ(RunDecodeCommand({ "--oriented", folder / "turned.tif", folder / "shown.ppm" }), 0);
    const auto pixels = [](const std::vector<std::uint8_t>& ppm, std::size_t header) {
        std::vector<std::uint8_t> grey;
        for (std::size_t i = header; i < ppm.size(); i += 3)
            grey.push_back(ppm[i]);
        return grey;
    };
    const std::vector<std::uint8_t> stored = FileBytes(folder / "stored.ppm"), shown = FileBytes(folder / "shown.ppm");
    ASSERT_EQ(std::string(stored.begin(), stored.begin() + 11), "P6\n3 2\n255\n");
    ASSERT_EQ(std::string(shown.begin(), shown.begin() + 11), "P6\n2 3\n255\n");
    EXPECT_EQ(pixels(stored, 11), (std::vector<std::uint8_t> { 10, 20, 30, 40, 50, 60 }));
    // stored row 0 is the shown right side, stored column 0 the shown top
    EXPECT_EQ(pixels(shown, 11), (std::vector<std::uint8_t> { 40, 10, 50, 20, 60, 30 }));
}

TEST(DecodeCommand, UndecodableOrUnopenablePicturesExitWith1)
{
    TTempFolder folder;
    importtest::WritePng(folder / "1.jpg", 4, 4);
    importtest::MakeSocket(folder / "2.png");
    importtest::WriteJpeg(folder / "3.jpg", 4, 4);
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunDecodeCommand({ folder / "1.jpg", folder / "out.ppm" }), 1);
    EXPECT_EQ(RunDecodeCommand({ folder / "missing.jpg", folder / "out.ppm" }), 1);
    EXPECT_EQ(RunDecodeCommand({ folder / "2.png", folder / "out.ppm" }), 1);
    EXPECT_EQ(RunDecodeCommand({ folder / "3.jpg", folder / "no/such/folder.ppm" }), 1);
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_NE(messages.find("Cannot decode \"" + folder / "1.jpg" + "\""), std::string::npos) << messages;
    EXPECT_NE(messages.find("Cannot decode \"" + folder / "2.png" + "\""), std::string::npos) << messages;
    EXPECT_NE(messages.find("Cannot create file \"" + folder / "no/such/folder.ppm" + "\""), std::string::npos);
    EXPECT_FALSE(importtest::FileExists(folder / "out.ppm"));
}

// Colour and grey JPEGs come out byte for byte as djpeg writes them (grey through the
// 236-level table the picture decodes to).
TEST(DecodeCommand, JpegOutputEqualsDjpeg)
{
    if (!jpegref::HaveDjpeg())
        GTEST_SKIP() << "no djpeg";
    TTempFolder folder;
    testsupport::WriteFile(folder / "colour.jpg", jpegref::Make({ 67, 45, 3, 88, true }));
    testsupport::WriteFile(folder / "grey.jpg", jpegref::Make({ 31, 17, 1 }));
    ASSERT_EQ(RunDecodeCommand({ folder / "colour.jpg", folder / "colour.ppm" }), 0);
    ASSERT_EQ(std::system(("djpeg -pnm -outfile '" + folder / "djpeg.ppm" + "' '" + folder / "colour.jpg" + "'").c_str()), 0);
    EXPECT_EQ(FileBytes(folder / "colour.ppm"), FileBytes(folder / "djpeg.ppm"));

    ASSERT_EQ(RunDecodeCommand({ folder / "grey.jpg", folder / "grey.ppm" }), 0);
    const auto ours = jpegref::ParsePnm(FileBytes(folder / "grey.ppm"));
    const auto theirs = jpegref::Djpeg(folder / "grey.jpg", "-colors 236", folder.Path());
    ASSERT_TRUE(ours && theirs);
    ASSERT_EQ(ours->Channels, 3);
    ASSERT_EQ(theirs->Channels, 1);
    ASSERT_EQ(ours->Pixels.size(), theirs->Pixels.size() * 3);
    for (std::size_t i = 0; i < theirs->Pixels.size(); ++i)
        ASSERT_TRUE(ours->Pixels[i * 3] == theirs->Pixels[i] && ours->Pixels[i * 3 + 1] == theirs->Pixels[i]
            && ours->Pixels[i * 3 + 2] == theirs->Pixels[i]) << "pixel " << i;
}

// Every layout is written as red, green, blue: indexed through the table, 32-bit without
// its fourth byte, 16-bit expanded by value.
TEST(DecodeCommand, PpmOfEveryLayout)
{
    for (TPixelLayout layout : { TPixelLayout::pl8Bit, TPixelLayout::pl16Bit, TPixelLayout::pl24Bit, TPixelLayout::pl32Bit }) {
        TBitmap bitmap;
        bitmap.SetPixelLayout(TPixelLayout::pl24Bit);
        bitmap.ResizeTo(3, 2);
        std::uint8_t* row = bitmap.RowAddress(0);
        row[0] = 0; row[1] = 0; row[2] = 255;         // red
        row[3] = 0; row[4] = 255; row[5] = 0;         // green
        row[6] = 255; row[7] = 0; row[8] = 0;         // blue
        std::fill_n(bitmap.RowAddress(1), 9, 255);    // white
        bitmap.SetPixelLayout(layout);
        TMemoryStream stream;
        WriteBitmapPpm(bitmap, stream);
        const auto bytes = stream.Bytes();
        const std::string header = "P6\n3 2\n255\n";
        ASSERT_EQ(std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(header.size())), header);
        const std::vector<std::uint8_t> pixels(bytes.begin() + static_cast<std::ptrdiff_t>(header.size()), bytes.end());
        EXPECT_EQ(pixels, (std::vector<std::uint8_t> { 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 255, 255, 255,
                              255, 255, 255 }))
            << static_cast<int>(layout);
    }
    TMemoryStream empty;
    WriteBitmapPpm(TBitmap(), empty);
    EXPECT_EQ(std::string(empty.Bytes().begin(), empty.Bytes().end()), "P6\n0 0\n255\n");
}

// decode over every file of the public corpora completes, under the sanitizers in the test
// build: success or the clean failure status, nothing else.
TEST(DecodeCommand, WholeCorpusDecodesOrFailsCleanly)
{
    const fs::path corpus = IBI_CORPUS_DIR;
    if (!fs::is_directory(corpus))
        GTEST_SKIP() << "no corpus at " << corpus;
    TTempFolder folder;
    const std::string output = folder / "out.ppm";
    int files = 0, decoded = 0;
    testing::internal::CaptureStderr();
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
        if (!entry.is_regular_file())
            continue;
        ++files;
        const int status = RunDecodeCommand({ entry.path().string(), output });
        EXPECT_TRUE(status == 0 || status == 1) << entry.path();
        decoded += status == 0;
    }
    testing::internal::GetCapturedStderr();
    EXPECT_GT(files, 1000);
    EXPECT_GT(decoded, 500);
}

} // namespace
