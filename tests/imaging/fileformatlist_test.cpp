#include "imaging/fileformatlist.h"

#include "base/stream.h"
#include "imaging/gifgraphic.h"
#include "imaging/pnggraphic.h"
#include "imaging/tiffgraphic.h"
#include "raster/jpegimage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::StrEq;
using testing::ThrowsMessage;

namespace {

class TAlphaGraphic : public TPlaceholderGraphic {
public:
    std::string ClassName() const override { return "TAlphaGraphic"; }
    void LoadStream(TStream&) override {}
};

class TBetaGraphic : public TPlaceholderGraphic {
public:
    std::string ClassName() const override { return "TBetaGraphic"; }
    void LoadStream(TStream&) override {}
};

const TGraphicClass& Alpha = GraphicClass<TAlphaGraphic>();
const TGraphicClass& Beta = GraphicClass<TBetaGraphic>();

class TFileFormatListTest : public testing::Test {
protected:
    TPictureFormats Container;
    TFileFormatList List { Container };

    // Extensions in registry order.
    std::vector<std::string> Extensions() const
    {
        std::vector<std::string> result;
        for (int i = 0; i < List.ExtensionCount(); ++i)
            result.push_back(List.ExtensionAt(i).Extension);
        return result;
    }
    const TClassEntry& ClassOf(const TGraphicClass& graphicClass) const
    {
        const int index = List.FindClassEntry(graphicClass);
        EXPECT_GE(index, 0);
        return List.ClassEntryAt(index);
    }
    std::vector<std::string> ContainerExtensions() const
    {
        std::vector<std::string> result;
        for (const auto& entry : Container.Entries())
            result.push_back(entry.Extension);
        return result;
    }
};

} // namespace

TEST(TGraphicClass, IsOneObjectPerClassThatMakesInstances)
{
    EXPECT_EQ(&GraphicClass<TAlphaGraphic>(), &Alpha);
    EXPECT_NE(&Alpha, &Beta);
    EXPECT_EQ(Alpha.Name(), "TAlphaGraphic");
    const auto graphic = Beta.Create();
    ASSERT_NE(graphic, nullptr);
    EXPECT_EQ(graphic->ClassName(), "TBetaGraphic");
    EXPECT_TRUE(graphic->IsEmpty());
}

TEST(TPlaceholderGraphic, IconsAndMetafilesNeverLoad)
{
    TMemoryStream stream(std::vector<std::uint8_t> { 0, 0, 1, 0 });
    TIcon icon;
    EXPECT_THAT([&] { icon.LoadStream(stream); }, ThrowsMessage<EInvalidGraphic>(StrEq(SIconNotLoadable)));
    TMetafile metafile;
    EXPECT_THAT([&] { metafile.LoadStream(stream); }, ThrowsMessage<EInvalidGraphic>(StrEq(SMetafileNotLoadable)));
    EXPECT_TRUE(metafile.IsEmpty());
    EXPECT_EQ(metafile.Width(), 0);
}

TEST_F(TFileFormatListTest, RegistersExtensionsAndSharesClassEntries)
{
    List.RegisterFormat("aaa", "Alpha pictures", "", fkRaster, false, Alpha);
    List.RegisterFormat("aab", "", "Alpha B pictures", fkRaster | fkMultiImage, false, Alpha);
    List.RegisterFormat("bbb", "Beta pictures", "Beta B", fkVector, false, Beta);
    EXPECT_EQ(Extensions(), (std::vector<std::string> { "aaa", "aab", "bbb" }));
    ASSERT_EQ(List.ClassCount(), 2);
    EXPECT_EQ(ClassOf(Alpha).Count, 2);
    EXPECT_EQ(ClassOf(Alpha).Description, "Alpha pictures");
    EXPECT_EQ(ClassOf(Beta).Count, 1);
    EXPECT_EQ(List.ExtensionAt(1).Description, "Alpha B pictures");
    EXPECT_EQ(List.ExtensionAt(1).FormatKinds, fkRaster | fkMultiImage);
    EXPECT_EQ(List.ExtensionAt(1).ClassEntry->GraphicClass, &Alpha);
    // The container gets the individual description, or the class's when that is empty.
    ASSERT_EQ(Container.Entries().size(), 3u);
    EXPECT_EQ(Container.Entries()[0].Description, "Alpha pictures");
    EXPECT_EQ(Container.Entries()[1].Description, "Alpha B pictures");
    EXPECT_EQ(Container.Entries()[2].GraphicClass, &Beta);
}

TEST_F(TFileFormatListTest, ANewCommonDescriptionReplacesTheClassDescription)
{
    List.RegisterFormat("aaa", "First", "", fkRaster, false, Alpha);
    List.RegisterFormat("aab", "", "", fkRaster, false, Alpha);
    EXPECT_EQ(ClassOf(Alpha).Description, "First");
    List.RegisterFormat("aac", "Second", "", fkRaster, false, Alpha);
    EXPECT_EQ(ClassOf(Alpha).Description, "Second");
}

TEST_F(TFileFormatListTest, AnEmptyExtensionRegistersNothing)
{
    List.RegisterFormat("", "Alpha", "", fkRaster, false, Alpha);
    EXPECT_EQ(List.ExtensionCount(), 0);
    EXPECT_EQ(List.ClassCount(), 0);
    EXPECT_TRUE(Container.Entries().empty());
}

TEST_F(TFileFormatListTest, FindsExtensionsWhateverTheCase)
{
    List.RegisterFormat("tif", "", "", fkRaster, false, Alpha);
    List.RegisterFormat("Png", "", "", fkRaster, false, Beta);
    EXPECT_EQ(List.FindExtension("TIF"), 0);
    EXPECT_EQ(List.FindExtension("tIf"), 0);
    EXPECT_EQ(List.FindExtension("png"), 1);
    EXPECT_EQ(List.FindExtension("tiff"), -1);
    EXPECT_EQ(List.FindExtension(""), -1);
    EXPECT_EQ(List.ExtensionAt(1).Extension, "Png"); // kept as registered
}

TEST_F(TFileFormatListTest, RefusesAKnownExtensionWithoutReplaceAndStaysUnchanged)
{
    List.RegisterFormat("png", "Beta", "", fkRaster, false, Beta);
    EXPECT_THAT([&] { List.RegisterFormat("PNG", "Alpha", "x", fkVector, false, Alpha); },
        ThrowsMessage<EInvalidGraphic>(StrEq("Attempt to register PNG twice.")));
    EXPECT_THAT([&] { List.RegisterFormat("png", "", "", fkRaster, false, Beta); },
        ThrowsMessage<EInvalidGraphic>(StrEq("Attempt to register png twice.")));
    EXPECT_EQ(List.ExtensionCount(), 1);
    EXPECT_EQ(List.ClassCount(), 1);
    EXPECT_EQ(List.FindClassEntry(Alpha), -1);
    EXPECT_EQ(ClassOf(Beta).Count, 1);
    EXPECT_EQ(ClassOf(Beta).Description, "Beta");
}

TEST_F(TFileFormatListTest, ReplaceMovesTheExtensionAndDropsAnEmptiedClass)
{
    List.RegisterFormat("aaa", "Alpha", "", fkRaster, false, Alpha);
    List.RegisterFormat("bbb", "Beta", "", fkRaster, false, Beta);
    List.RegisterFormat("ccc", "", "", fkRaster, false, Beta);
    List.RegisterFormat("bbb", "", "", fkRaster, true, Alpha);
    EXPECT_EQ(ClassOf(Alpha).Count, 2);
    EXPECT_EQ(ClassOf(Beta).Count, 1);
    EXPECT_EQ(List.ExtensionAt(1).ClassEntry->GraphicClass, &Alpha);
    EXPECT_EQ(Container.Entries()[Container.Find("bbb")].GraphicClass, &Alpha);
    List.RegisterFormat("ccc", "", "", fkRaster, true, Alpha);
    EXPECT_EQ(List.FindClassEntry(Beta), -1);
    EXPECT_EQ(List.ClassCount(), 1);
    EXPECT_EQ(ClassOf(Alpha).Count, 3);
    // Replacing with the same class changes nothing.
    List.RegisterFormat("ccc", "Other", "", fkVector, true, Alpha);
    EXPECT_EQ(ClassOf(Alpha).Count, 3);
    EXPECT_EQ(ClassOf(Alpha).Description, "Alpha");
    EXPECT_EQ(Extensions(), (std::vector<std::string> { "aaa", "bbb", "ccc" }));
}

TEST_F(TFileFormatListTest, UnregisteringOneExtensionKeepsTheOthersOfItsClass)
{
    List.RegisterFormat("bmp", "Bitmaps", "", fkRaster, false, Alpha);
    List.RegisterFormat("rle", "", "", fkRaster, false, Alpha);
    List.RegisterFormat("dib", "", "", fkRaster, false, Alpha);
    List.UnregisterFormat("rle", Alpha);
    EXPECT_EQ(Extensions(), (std::vector<std::string> { "bmp", "dib" }));
    EXPECT_EQ(ClassOf(Alpha).Count, 2);
    EXPECT_EQ(ContainerExtensions(), (std::vector<std::string> { "bmp", "dib" }));
    List.UnregisterFormat("unknown", Alpha);
    EXPECT_EQ(List.ExtensionCount(), 2);
    List.UnregisterFormat("BMP", Alpha);
    List.UnregisterFormat("dib", Alpha);
    EXPECT_EQ(List.ExtensionCount(), 0);
    EXPECT_EQ(List.ClassCount(), 0);
    EXPECT_TRUE(Container.Entries().empty());
}

TEST_F(TFileFormatListTest, UnregisteringAClassDropsAllItsExtensions)
{
    List.RegisterFormat("tiff", "TIFF", "", fkRaster, false, Alpha);
    List.RegisterFormat("gif", "GIF", "", fkRaster, false, Beta);
    List.RegisterFormat("tif", "", "", fkRaster, false, Alpha);
    List.RegisterFormat("fax", "", "", fkRaster, false, Alpha);
    List.UnregisterFormat("", Alpha);
    EXPECT_EQ(Extensions(), (std::vector<std::string> { "gif" }));
    EXPECT_EQ(List.FindClassEntry(Alpha), -1);
    EXPECT_EQ(ContainerExtensions(), (std::vector<std::string> { "gif" }));
    List.UnregisterFormat("", Alpha); // not registered: nothing happens
    EXPECT_EQ(List.ExtensionCount(), 1);
}

TEST_F(TFileFormatListTest, ClearingEmptiesTheRegistryAndTheContainer)
{
    List.RegisterFormat("aaa", "Alpha", "", fkRaster, false, Alpha);
    List.RegisterFormat("bbb", "Beta", "", fkRaster, false, Beta);
    List.ClearFormats();
    EXPECT_EQ(List.ExtensionCount(), 0);
    EXPECT_EQ(List.ClassCount(), 0);
    EXPECT_TRUE(Container.Entries().empty());
    List.RegisterFormat("aaa", "Alpha", "", fkRaster, false, Alpha); // usable again
    EXPECT_EQ(List.ExtensionCount(), 1);
}

TEST(TFileFormatList, DestructionTakesItsClassesOutOfTheContainer)
{
    TPictureFormats container;
    container.Register("keep", "", Beta);
    {
        TFileFormatList list(container);
        list.RegisterFormat("aaa", "Alpha", "", fkRaster, false, Alpha);
        EXPECT_EQ(container.Entries().size(), 2u);
    }
    ASSERT_EQ(container.Entries().size(), 1u);
    EXPECT_EQ(container.Entries()[0].Extension, "keep");
}

// --- The start-up registrations ---------------------------------------------------------

TEST(FileFormats, HoldsTheStartUpRegistrations)
{
    const TFileFormatList& list = FileFormats();
    ASSERT_EQ(list.ExtensionCount(), 15);
    ASSERT_EQ(list.ClassCount(), 7);
    const std::vector<std::string> classes { "TBitmap", "TIcon", "TMetafile", "TJPEGImage", "TTIFFGraphic",
        "TGIFGraphic", "TPNGGraphic" };
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(list.ClassEntryAt(i).GraphicClass->Name(), classes[i]);
    const TClassEntry& tiff = list.ClassEntryAt(list.FindClassEntry(GraphicClass<TTIFFGraphic>()));
    EXPECT_EQ(tiff.Count, 3);
    EXPECT_EQ(tiff.Description, "Tagged image file format images");
    EXPECT_EQ(list.ClassEntryAt(list.FindClassEntry(GraphicClass<TBitmap>())).Count, 3);
    EXPECT_EQ(list.ClassEntryAt(list.FindClassEntry(GraphicClass<TJPEGImage>())).Description, "JPG images");
    EXPECT_EQ(list.ExtensionAt(list.FindExtension("TIF")).Extension, "tif");
    EXPECT_EQ(list.ExtensionAt(list.FindExtension("gif")).FormatKinds, fkRaster | fkMultiImage | fkAnimated);
    EXPECT_EQ(list.ExtensionAt(list.FindExtension("dib")).Description, "Device independant Windows bitmaps");
    EXPECT_EQ(list.ExtensionAt(list.FindExtension("emf")).FormatKinds, fkVector);
    EXPECT_EQ(PictureFormats().Entries().size(), 15u);
    const auto& gif = PictureFormats().Entries()[PictureFormats().Find("gif")];
    EXPECT_EQ(gif.Description, "CompuServe images");
    EXPECT_EQ(gif.GraphicClass->Create()->ClassName(), "TGIFGraphic");
}

TEST(FileFormats, RefusesToRegisterPngTwice)
{
    EXPECT_THAT([] { FileFormats().RegisterFormat("png", "", "", fkRaster, false, GraphicClass<TPNGGraphic>()); },
        ThrowsMessage<EInvalidGraphic>(StrEq("Attempt to register png twice.")));
    EXPECT_EQ(FileFormats().ExtensionCount(), 15);
}

TEST(FileFormats, ShutdownUnregistersReadersAndTwoBitmapExtensions)
{
    TPictureFormats container;
    TFileFormatList list(container);
    RegisterStartupFormats(list);
    list.UnregisterFormat("rle", GraphicClass<TBitmap>());
    EXPECT_GE(list.FindExtension("bmp"), 0);
    EXPECT_GE(list.FindExtension("dib"), 0);
    EXPECT_EQ(list.ClassEntryAt(list.FindClassEntry(GraphicClass<TBitmap>())).Count, 2);

    UnregisterShutdownFormats(list);
    std::vector<std::string> left;
    for (int i = 0; i < list.ExtensionCount(); ++i)
        left.push_back(list.ExtensionAt(i).Extension);
    EXPECT_EQ(left, (std::vector<std::string> { "bmp", "ico", "wmf", "emf", "jfif", "jpg", "jpe", "jpeg" }));
    EXPECT_EQ(list.ClassCount(), 4);
    EXPECT_EQ(list.ClassEntryAt(list.FindClassEntry(GraphicClass<TBitmap>())).Count, 1);
    EXPECT_EQ(list.FindClassEntry(GraphicClass<TTIFFGraphic>()), -1);
    EXPECT_EQ(container.Entries().size(), 8u);
    list.ClearFormats();
    EXPECT_TRUE(container.Entries().empty());
}
