// Every file that once broke a reader, kept in tests/data/<format>/malformed/, loaded again
// with the reader and the settings that broke it: each ends in its documented error or a
// picture. Under the sanitizers a bad access on the way fails the run.
#include "base/exception.h"
#include "base/stream.h"
#include "raster/bitmap.h"
#include "imaging/tiffgraphic.h"
#include "raster/jpegimage.h"
#include "tests/fuzz/poisonedtwice.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

const fs::path DataFolder = fs::path(IBI_SOURCE_DIR) / "tests" / "data";

struct TMalformedFile {
    const char* Name;  // below tests/data
    const char* Story; // what it once did
    std::function<void(TStream&)> Load;
    const char* Message; // the documented error; nullptr: a picture
};

// The JPEG object as the fuzz target ran it (settings from its first byte): loading, then
// decoding the picture.
std::function<void(TStream&)> JpegObject(bool progressiveShow)
{
    return [progressiveShow](TStream& stream) {
        TJPEGImage image;
        image.SetProgressiveShow(progressiveShow);
        image.LoadStream(stream);
        (void)image.DecodedBitmap();
    };
}

// A TIFF loaded with whole strips, then decoded in parts of a few rows as large strips are,
// each time into stores of another poison: the same error or the same picture.
void TIFFWholeAndInParts(TStream& stream)
{
    TTIFFGraphic whole, inParts;
    std::string wholeError, partsError;
    struct TWholeAgain {
        ~TWholeAgain()
        {
            TTIFFGraphic::SetStripPartsForTesting(16 << 20, 1 << 20);
            storepool::SetStorePoison(storepool::StorePoisonOff);
        }
    } wholeAgain;
    storepool::SetStorePoison(poisoned::FirstPoison);
    try {
        whole.LoadStream(stream);
    } catch (const Exception& error) {
        wholeError = error.what();
    }
    stream.SetPosition(0);
    storepool::SetStorePoison(poisoned::SecondPoison);
    TTIFFGraphic::SetStripPartsForTesting(0, 97);
    try {
        inParts.LoadStream(stream);
    } catch (const Exception& error) {
        partsError = error.what();
    }
    EXPECT_EQ(partsError, wholeError);
    EXPECT_TRUE(!wholeError.empty() || poisoned::SamePicture(whole, inParts));
    if (!wholeError.empty())
        throw EInvalidGraphic(wholeError);
}

const TMalformedFile MalformedFiles[] = {
    { "jpeg/malformed/progressive-show-two-pass.jpg",
        "grey file shown scan by scan: the last pass wrote into the rows of a store already freed "
        "(found by fuzzing)",
        JpegObject(true), nullptr },
    { "tiff/malformed/rgb7-poison-difference.tif",
        "7-bit RGB: loaded without converting a row, so two decodes showed whatever the store held "
        "(found by fuzzing with poisoned stores)",
        [](TStream& stream) { TTIFFGraphic().LoadStream(stream); },
        "Cannot load image. Invalid or unexpected TIF/TIFF image format." },
    { "tiff/malformed/wide-predictor-under-jpeg.tif",
        "32-bit samples with Predictor 2 under JPEG, whose rows hold three bytes a pixel: the "
        "predictor read past the row (found by fuzzing)",
        [](TStream& stream) { TTIFFGraphic().LoadStream(stream); },
        "Cannot load image. Invalid or unexpected TIF/TIFF image format." },
    { "tiff/malformed/jpeg-strips-in-parts.tif",
        "JPEG strips decoded in parts gave another picture than decoded whole (found by fuzzing)",
        TIFFWholeAndInParts, nullptr },
    { "tiff/malformed/ycbcr-with-alpha.tif",
        "YCbCr with a fourth sample: a 32-bit bitmap of which the conversion wrote three bytes a "
        "pixel, the rest of each row left as the store held it (found by fuzzing)",
        TIFFWholeAndInParts, nullptr },
    { "tiff/malformed/fax-rle-in-parts.tif",
        "7-bit samples under a fax codec, whose rows are one bit a pixel: decoded in parts, the fax "
        "rows fell differently than decoded whole (found by fuzzing)",
        TIFFWholeAndInParts, "Cannot load image. Invalid or unexpected TIF/TIFF image format." },
    { "tiff/malformed/thunderscan-lab-in-parts.tif",
        "8-bit Lab under ThunderScan, whose rows are four bits a pixel: decoded in parts, the rows "
        "fell differently than decoded whole (found by fuzzing)",
        TIFFWholeAndInParts, "Cannot load image. Invalid or unexpected TIF/TIFF image format." },
    { "tiff/malformed/deflate-match-across-parts.tif",
        "a Deflate strip whose input ran out while the inflater still held the rest of a match: "
        "decoded in parts, the rows after it stayed zero (found by fuzzing)",
        TIFFWholeAndInParts, nullptr },
};

class TMalformedFiles : public testing::TestWithParam<TMalformedFile> {};

TEST_P(TMalformedFiles, EndInTheirErrorOrAPicture)
{
    const TMalformedFile& file = GetParam();
    SCOPED_TRACE(file.Story);
    const std::vector<std::uint8_t> bytes = testsupport::ReadFile((DataFolder / file.Name).string());
    ASSERT_FALSE(bytes.empty()) << "missing " << file.Name;
    TMemoryStream stream(bytes);
    if (!file.Message) {
        EXPECT_NO_THROW(file.Load(stream));
        return;
    }
    try {
        file.Load(stream);
        ADD_FAILURE() << "loaded";
    } catch (const Exception& error) {
        EXPECT_STREQ(error.what(), file.Message);
    }
}

INSTANTIATE_TEST_SUITE_P(Kept, TMalformedFiles, testing::ValuesIn(MalformedFiles), [](const auto& testInfo) {
    std::string name = fs::path(testInfo.param.Name).stem().string();
    std::erase(name, '-');
    return name;
});

// A file put into a malformed folder is replayed only once it has its row in the table.
TEST(TMalformedFiles, EveryKeptFileIsInTheTable)
{
    std::set<std::string> listed;
    for (const TMalformedFile& file : MalformedFiles)
        listed.insert(file.Name);
    for (const auto& entry : fs::recursive_directory_iterator(DataFolder))
        if (entry.is_regular_file() && entry.path().parent_path().filename() == "malformed") {
            EXPECT_TRUE(listed.contains(fs::relative(entry.path(), DataFolder).string())) << entry.path();
        }
}

} // namespace
