// Every corpus picture, decoded as the import decodes it, twice: new pixel stores filled with
// one poison byte, then another. A picture that loads must come out the same both times, or a
// pixel of it was never written (and would show an earlier picture's pixel in the pass).
#include "base/stream.h"
#include "base/text.h"
#include "imaging/imagefiletypes.h"
#include "raster/bitmap.h"
#include "tests/fuzz/poisonedtwice.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const TBitmap* LoadAsImported(const TImageFileType& type, const std::vector<std::uint8_t>& bytes, TBitmap& bitmap)
{
    try {
        const std::unique_ptr<TGraphic> decoder = type.ReaderClass().Create();
        TMemoryStream stream(bytes);
        decoder->LoadStream(stream);
        bitmap.CopyContentFrom(*decoder);
        return &bitmap;
    } catch (const std::exception&) {
        return nullptr;
    }
}

TEST(TPoisonedStores, EveryCorpusPictureDecodesTheSameTwice)
{
    const fs::path folder(IBI_CORPUS_DIR);
    if (!fs::is_directory(folder))
        GTEST_SKIP() << "no corpus at " << folder;
    int files = 0, loaded = 0;
    std::string differing;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const TImageFileType* type = ImportedFileType(AsciiLowerCase(entry.path().extension().string()));
        const std::string name = fs::relative(entry.path(), folder).string();
        if (!entry.is_regular_file() || !type)
            continue;
        ++files;
        const std::vector<std::uint8_t> bytes = testsupport::ReadFile(entry.path().string());
        TBitmap first, second;
        bool any = false;
        const bool same = poisoned::SameBothTimes(first, second, [&](TBitmap& bitmap) {
            const TBitmap* picture = LoadAsImported(*type, bytes, bitmap);
            any = any || picture;
            return picture;
        });
        if (!same)
            differing += "\n  " + name;
        loaded += any;
    }
    EXPECT_EQ(differing, "") << "pictures with pixels never written";
    EXPECT_GE(files, 900);
    EXPECT_GE(loaded, 600);
}

} // namespace
