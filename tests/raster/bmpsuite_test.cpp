// BMP decoding checked against the reference renderings that ship with the public bmpsuite
// (read with libpng), plus the suite's broken and questionable files under the sanitizers.
#include "base/exception.h"
#include "base/filestream.h"
#include "raster/bitmap.h"

#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

const std::string SuiteDir = std::string(IBI_CORPUS_DIR) + "/bmpsuite/";

struct TReference {
    int Width = 0, Height = 0;
    std::vector<std::uint8_t> Rgb;
};

bool ReadPng(const std::string& fileName, TReference& reference)
{
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, fileName.c_str()))
        return false;
    image.format = PNG_FORMAT_RGB;
    reference.Width = static_cast<int>(image.width);
    reference.Height = static_cast<int>(image.height);
    reference.Rgb.resize(PNG_IMAGE_SIZE(image));
    const bool done = png_image_finish_read(&image, nullptr, reference.Rgb.data(), 0, nullptr);
    png_image_free(&image);
    return done;
}

struct TSuiteCase {
    const char* Bmp;
    const char* Png;
};

void PrintTo(const TSuiteCase& value, std::ostream* os) { *os << value.Bmp; }

class TBmpSuiteGood : public testing::TestWithParam<TSuiteCase> {};

TEST_P(TBmpSuiteGood, DecodesToTheReferencePixels)
{
    if (!std::filesystem::is_directory(SuiteDir))
        GTEST_SKIP() << "bmpsuite not present";
    TReference reference;
    ASSERT_TRUE(ReadPng(SuiteDir + "html/" + GetParam().Png, reference));
    TBitmap bitmap;
    bitmap.LoadFile(SuiteDir + "g/" + GetParam().Bmp);
    ASSERT_EQ(bitmap.Width(), reference.Width);
    ASSERT_EQ(bitmap.Height(), reference.Height);
    int differences = 0;
    for (int y = 0; y < reference.Height; ++y)
        for (int x = 0; x < reference.Width; ++x) {
            const TRGBQuad ours = bitmap.Pixel(x, y);
            const std::uint8_t* theirs = &reference.Rgb[(static_cast<std::size_t>(y) * reference.Width + x) * 3];
            if (ours.Red != theirs[0] || ours.Green != theirs[1] || ours.Blue != theirs[2]) {
                if (++differences <= 3)
                    ADD_FAILURE() << "pixel " << x << "," << y << ": ours " << int(ours.Red) << " " << int(ours.Green)
                                  << " " << int(ours.Blue) << ", reference " << int(theirs[0]) << " " << int(theirs[1])
                                  << " " << int(theirs[2]);
            }
        }
    EXPECT_EQ(differences, 0);
}

INSTANTIATE_TEST_SUITE_P(Suite, TBmpSuiteGood,
    testing::Values(TSuiteCase { "pal1.bmp", "pal1.png" }, TSuiteCase { "pal1wb.bmp", "pal1.png" },
        TSuiteCase { "pal1bg.bmp", "pal1bg.png" }, TSuiteCase { "pal4.bmp", "pal4.png" },
        TSuiteCase { "pal4gs.bmp", "pal4gs.png" }, TSuiteCase { "pal4rle.bmp", "pal4.png" },
        TSuiteCase { "pal8.bmp", "pal8.png" }, TSuiteCase { "pal8-0.bmp", "pal8.png" },
        TSuiteCase { "pal8gs.bmp", "pal8gs.png" }, TSuiteCase { "pal8rle.bmp", "pal8.png" },
        TSuiteCase { "pal8w126.bmp", "pal8w126.png" }, TSuiteCase { "pal8w125.bmp", "pal8w125.png" },
        TSuiteCase { "pal8w124.bmp", "pal8w124.png" }, TSuiteCase { "pal8topdown.bmp", "pal8.png" },
        TSuiteCase { "pal8nonsquare.bmp", "pal8nonsquare-e.png" }, TSuiteCase { "pal8os2.bmp", "pal8.png" },
        TSuiteCase { "pal8v4.bmp", "pal8.png" }, TSuiteCase { "pal8v5.bmp", "pal8.png" },
        TSuiteCase { "rgb16.bmp", "rgb16.png" }, TSuiteCase { "rgb16bfdef.bmp", "rgb16.png" },
        TSuiteCase { "rgb16-565.bmp", "rgb16-565.png" }, TSuiteCase { "rgb16-565pal.bmp", "rgb16-565.png" },
        TSuiteCase { "rgb24.bmp", "rgb24.png" }, TSuiteCase { "rgb24pal.bmp", "rgb24.png" },
        TSuiteCase { "rgb32.bmp", "rgb24.png" }, TSuiteCase { "rgb32bfdef.bmp", "rgb24.png" },
        TSuiteCase { "rgb32bf.bmp", "rgb24.png" }),
    [](const testing::TestParamInfo<TSuiteCase>& testInfo) {
        std::string name = testInfo.param.Bmp;
        name.resize(name.size() - 4);
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

TEST(TBmpSuite, EveryGoodFileHasAReference)
{
    if (!std::filesystem::is_directory(SuiteDir))
        GTEST_SKIP() << "bmpsuite not present";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(SuiteDir + "g"))
        files += entry.path().extension() == ".bmp";
    EXPECT_EQ(files, 27);
}

// Broken (b/) and questionable (q/) files: a fixed error or a picture, never a crash or a
// read outside the data (the sanitizers watch).
class TBmpSuiteHostile : public testing::TestWithParam<const char*> {};

TEST_P(TBmpSuiteHostile, FailCleanlyOrDecode)
{
    const std::string folder = SuiteDir + GetParam();
    if (!std::filesystem::is_directory(folder))
        GTEST_SKIP() << "bmpsuite not present";
    int failed = 0, decoded = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".bmp")
            continue;
        TBitmap bitmap;
        try {
            bitmap.LoadFile(entry.path().string());
        } catch (const EInvalidGraphic& error) {
            EXPECT_STREQ(error.what(), SInvalidBitmap) << entry.path();
            ++failed;
            continue;
        } catch (const EReadError&) {
            ++failed;
            continue;
        }
        ++decoded;
        unsigned sum = 0;
        for (int y = 0; y < bitmap.Height(); ++y)
            for (int x = 0; x < bitmap.Width(); ++x)
                sum += bitmap.Pixel(x, y).Green;
        (void)sum;
    }
    EXPECT_GT(failed + decoded, 0);
    RecordProperty("failed", failed);
    RecordProperty("decoded", decoded);
}

INSTANTIATE_TEST_SUITE_P(Suite, TBmpSuiteHostile, testing::Values("b", "q"),
    [](const auto& testInfo) { return std::string(testInfo.param) == "b" ? "Broken" : "Questionable"; });

TEST(TBmpSuite, RefusesTheHugeFileBeforeAllocating)
{
    if (!std::filesystem::is_directory(SuiteDir))
        GTEST_SKIP() << "bmpsuite not present";
    TBitmap bitmap;
    EXPECT_THROW(bitmap.LoadFile(SuiteDir + "b/reallybig.bmp"), EInvalidGraphic);
    EXPECT_TRUE(bitmap.IsEmpty());
}

} // namespace
