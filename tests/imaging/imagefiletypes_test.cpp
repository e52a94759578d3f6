#include "imaging/imagefiletypes.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

// The reader of each extension the import takes, as image file loading chooses it.
TEST(ImportedFileType, NamesTheReaderOfEachOfTheSevenExtensions)
{
    const std::pair<const char*, const char*> readers[] = { { ".bmp", "TBitmap" }, { ".jpg", "TJPEGImage" },
        { ".jpeg", "TJPEGImage" }, { ".tif", "TTIFFGraphic" }, { ".tiff", "TTIFFGraphic" },
        { ".gif", "TGIFGraphic" }, { ".png", "TPNGGraphic" } };
    for (const auto& [extension, reader] : readers) {
        const TImageFileType* type = ImportedFileType(extension);
        ASSERT_NE(type, nullptr) << extension;
        EXPECT_EQ(type->ReaderClass().Name(), reader) << extension;
        EXPECT_EQ(type->ReaderClass().Create()->ClassName(), reader) << extension;
    }
    int imported = 0;
    for (const TImageFileType& type : ImageFileTypes())
        imported += type.Imported;
    EXPECT_EQ(imported, 7);
}

TEST(ImportedFileType, KnowsNoOtherText)
{
    // Registered, but not taken by the import: ".jpe", ".jfif", ".rle", ".dib", ".fax", ".ico".
    for (const char* refused : { ".jpe", ".jfif", ".rle", ".dib", ".fax", ".ico", ".emf", ".PNG", "png", ".",
             "", ".png ", "..png", ".tga" })
        EXPECT_EQ(ImportedFileType(refused), nullptr) << refused;
}

} // namespace
