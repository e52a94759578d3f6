// Pictures shown as viewers show them: the EXIF Orientation of JPEG files and the TIFF
// Orientation tag, each of the eight values against the same picture stored upright.
#include "raster/orientation.h"

#include "base/stream.h"
#include "imaging/tiffgraphic.h"
#include "raster/jpegimage.h"
#include "tests/support/files.h"
#include "tests/support/jpegreference.h"
#include "tests/support/tiffreference.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using TBytes = std::vector<std::uint8_t>;

// An APP1 EXIF block whose first directory holds one entry, put right after the SOI marker.
TBytes WithExif(TBytes jpeg, bool bigEndian, std::uint16_t type, std::uint32_t count, std::uint16_t value,
    std::uint32_t directoryOffset = 8)
{
    TBytes tiff;
    const auto put = [&](std::uint32_t number, int bytes) {
        for (int i = 0; i < bytes; ++i)
            tiff.push_back(static_cast<std::uint8_t>(number >> 8 * (bigEndian ? bytes - 1 - i : i)));
    };
    tiff.push_back(bigEndian ? 'M' : 'I');
    tiff.push_back(bigEndian ? 'M' : 'I');
    put(42, 2);
    put(directoryOffset, 4);
    put(1, 2);
    put(274, 2);
    put(type, 2);
    put(count, 4);
    put(value, 2);
    put(0, 2);
    put(0, 4);
    TBytes block { 0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0 };
    block.insert(block.end(), tiff.begin(), tiff.end());
    block[2] = static_cast<std::uint8_t>((block.size() - 2) >> 8);
    block[3] = static_cast<std::uint8_t>(block.size() - 2);
    jpeg.insert(jpeg.begin() + 2, block.begin(), block.end());
    return jpeg;
}

TBytes SmallJpeg()
{
    jpegref::TMakeSettings settings;
    settings.Width = 16;
    settings.Height = 8;
    return jpegref::Make(settings);
}

struct TExifCase {
    std::string Name;
    TBytes File;
    int Expected;
};

std::vector<TExifCase> ExifCases()
{
    std::vector<TExifCase> cases;
    const TBytes jpeg = SmallJpeg();
    for (const bool bigEndian : { false, true }) {
        const std::string order = bigEndian ? "BigEndian" : "LittleEndian";
        for (std::uint16_t value = 0; value <= 9; ++value)
            cases.push_back({ order + "Value" + std::to_string(value), WithExif(jpeg, bigEndian, 3, 1, value),
                value >= 1 && value <= 8 ? value : 1 });
        cases.push_back({ order + "LongType", WithExif(jpeg, bigEndian, 4, 1, 6), 1 });
        cases.push_back({ order + "TwoValues", WithExif(jpeg, bigEndian, 3, 2, 6), 1 });
        cases.push_back({ order + "DirectoryPastTheEnd", WithExif(jpeg, bigEndian, 3, 1, 6, 5000), 1 });
    }
    TBytes truncated = WithExif(jpeg, false, 3, 1, 6);
    truncated.resize(2 + 10 + 14);
    cases.push_back({ "TruncatedInsideTheBlock", truncated, 1 });
    TBytes notExif = WithExif(jpeg, false, 3, 1, 6);
    notExif[6] = 'X';
    cases.push_back({ "OtherApp1Block", notExif, 1 });
    cases.push_back({ "NoExif", jpeg, 1 });
    cases.push_back({ "NotAJpeg", TBytes { 'I', 'I', 42, 0 }, 1 });
    cases.push_back({ "Empty", TBytes {}, 1 });
    return cases;
}

class TExifOrientation : public testing::TestWithParam<TExifCase> {};

TEST_P(TExifOrientation, ReadsTheTagOrAsStored)
{
    EXPECT_EQ(ExifOrientation(GetParam().File), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Blocks, TExifOrientation, testing::ValuesIn(ExifCases()),
    [](const auto& c) { return c.param.Name; });

// ---------------------------------------------------------------------------------------------
// Pixels: a picture stored turned or mirrored, shown as its upright self.

constexpr int UprightWidth = 48, UprightHeight = 32;

// Where stored pixel (sx, sy) of a w × h store shows for each value: stored row 0 is the
// shown top (1-4) or side (5-8) the tag names.
void ShownPosition(int orientation, int sx, int sy, int w, int h, int& x, int& y)
{
    switch (orientation) {
    case 2: x = w - 1 - sx; y = sy; break;
    case 3: x = w - 1 - sx; y = h - 1 - sy; break;
    case 4: x = sx; y = h - 1 - sy; break;
    case 5: x = sy; y = sx; break;
    case 6: x = h - 1 - sy; y = sx; break;
    case 7: x = h - 1 - sy; y = w - 1 - sx; break;
    case 8: x = sy; y = w - 1 - sx; break;
    default: x = sx; y = sy; break;
    }
}

// RGB of the upright picture: flat 16 × 16 blocks of distinct colours (JPEG keeps them).
std::array<std::uint8_t, 3> Upright(int x, int y)
{
    const int block = y / 16 * 3 + x / 16;
    return { std::uint8_t(40 * block), std::uint8_t(255 - 30 * block), std::uint8_t(block % 2 ? 220 : 30) };
}

// The packed RGB rows stored so that the orientation shows the upright picture.
TBytes StoredRgb(int orientation, int& width, int& height)
{
    const bool swaps = orientation >= 5;
    width = swaps ? UprightHeight : UprightWidth;
    height = swaps ? UprightWidth : UprightHeight;
    TBytes rgb;
    for (int sy = 0; sy < height; ++sy)
        for (int sx = 0; sx < width; ++sx) {
            int x = 0, y = 0;
            ShownPosition(orientation, sx, sy, width, height, x, y);
            const auto c = Upright(x, y);
            rgb.insert(rgb.end(), c.begin(), c.end());
        }
    return rgb;
}

// The largest difference of a sample between the shown picture and the upright one.
int Difference(const TBitmap& picture)
{
    TBitmap shown;
    OrientedCopy(picture, shown);
    if (shown.Width() != UprightWidth || shown.Height() != UprightHeight)
        return 256;
    int largest = 0;
    for (int y = 0; y < UprightHeight; ++y)
        for (int x = 0; x < UprightWidth; ++x) {
            const TRGBQuad p = shown.Pixel(x, y);
            const auto want = Upright(x, y);
            largest = std::max({ largest, std::abs(p.Red - want[0]), std::abs(p.Green - want[1]), std::abs(p.Blue - want[2]) });
        }
    return largest;
}

class TOrientedPicture : public testing::TestWithParam<int> {};

TEST_P(TOrientedPicture, JpegInBothByteOrdersShowsUpright)
{
    int width = 0, height = 0;
    const TBytes rgb = StoredRgb(GetParam(), width, height);
    jpegref::TMakeSettings settings;
    settings.Width = width;
    settings.Height = height;
    settings.Quality = 100;
    settings.Subsample = false;
    for (const bool bigEndian : { false, true }) {
        const TBytes file = WithExif(jpegref::Encode(rgb, settings), bigEndian, 3, 1, static_cast<std::uint16_t>(GetParam()));
        TJPEGImage jpeg;
        TMemoryStream stream(file);
        jpeg.LoadStream(stream);
        TBitmap picture;
        picture.CopyContentFrom(jpeg);
        EXPECT_EQ(picture.Orientation(), GetParam());
        EXPECT_LE(Difference(picture), 4) << (bigEndian ? "big-endian" : "little-endian");
    }
}

TEST_P(TOrientedPicture, TiffShowsUpright)
{
    tifftest::TTiffPlan plan;
    int width = 0, height = 0;
    plan.Samples = StoredRgb(GetParam(), width, height);
    plan.Width = static_cast<std::uint32_t>(width);
    plan.Height = static_cast<std::uint32_t>(height);
    plan.SamplesPerPixel = 3;
    plan.Photometric = PHOTOMETRIC_RGB;
    plan.Orientation = static_cast<std::uint16_t>(GetParam());
    const TBytes file = tifftest::WriteTiff(plan);
    TTIFFGraphic tiff;
    TMemoryStream stream(file);
    tiff.LoadStream(stream);
    EXPECT_EQ(Difference(tiff), 0);
}

INSTANTIATE_TEST_SUITE_P(Values, TOrientedPicture, testing::Range(1, 9),
    [](const auto& c) { return "Orientation" + std::to_string(c.param); });

// The corpus's photo stored in each orientation: of the eight ways to show it, the one its tag
// names comes closest to the upright photo (both are JPEG: near, not equal).
TEST(TOrientedPictureCorpus, HopperShowsUprightInEveryOrientation)
{
    const std::filesystem::path folder = std::filesystem::path(IBI_CORPUS_DIR) / "jpeg" / "pillow";
    if (!std::filesystem::exists(folder / "hopper.jpg"))
        GTEST_SKIP() << "no corpus at " << folder;
    const auto load = [](const std::filesystem::path& path, TBitmap& picture) {
        const TBytes bytes = testsupport::ReadFile(path.string());
        TJPEGImage jpeg;
        TMemoryStream stream(bytes);
        jpeg.LoadStream(stream);
        picture.CopyContentFrom(jpeg);
    };
    TBitmap upright;
    load(folder / "hopper.jpg", upright);
    const auto distance = [&](const TBitmap& shown) {
        if (shown.Width() != upright.Width() || shown.Height() != upright.Height())
            return 1e9;
        double total = 0;
        for (int y = 0; y < upright.Height(); ++y)
            for (int x = 0; x < upright.Width(); ++x)
                total += std::abs(shown.Pixel(x, y).Green - upright.Pixel(x, y).Green);
        return total;
    };
    for (int value = 2; value <= 8; ++value) {
        TBitmap picture;
        load(folder / ("hopper_orientation_" + std::to_string(value) + ".jpg"), picture);
        EXPECT_EQ(picture.Orientation(), value);
        int closest = 0;
        double best = 1e18;
        for (int candidate = 1; candidate <= 8; ++candidate) {
            picture.SetOrientation(candidate);
            TBitmap shown;
            OrientedCopy(picture, shown);
            if (const double d = distance(shown); d < best) {
                best = d;
                closest = candidate;
            }
        }
        EXPECT_EQ(closest, value);
    }
}

} // namespace
