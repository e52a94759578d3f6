#include "imaging/imagefiletypes.h"

#include "imaging/gifgraphic.h"
#include "imaging/pnggraphic.h"
#include "imaging/tiffgraphic.h"
#include "raster/bitmap.h"
#include "raster/jpegimage.h"

namespace {

constexpr const char* SBitmaps = "Windows bitmaps";
constexpr const char* SIcons = "Windows icons";
constexpr const char* SMetafiles = "Windows metafiles";
constexpr const char* SEnhancedMetafiles = "Windows enhanced meta files";
constexpr const char* SJPGImages = "JPG images";
constexpr const char* SJFIFImages = "JFIF images";
constexpr const char* SJPEImages = "JPE images";
constexpr const char* SJPEGImages = "JPEG images";
constexpr const char* SRLEBitmaps = "Run length encoded Windows bitmaps";
constexpr const char* SDIBBitmaps = "Device independant Windows bitmaps";
constexpr const char* STIFFImages = "Tagged image file format images";
constexpr const char* SMacTIFFImages = "Macintosh TIFF images";
constexpr const char* SPCTIFImages = "PC TIF images";
constexpr const char* SFaxImages = "GFI fax images";
constexpr const char* SGIFImages = "CompuServe images";
constexpr const char* SPNGImages = "Portable network graphic images";

constexpr TFormatKinds MultiImage = fkRaster | fkMultiImage;
constexpr bool Imported = true;

constexpr TImageFileType Types[] = {
    { "bmp", SBitmaps, "", fkRaster, GraphicClass<TBitmap>, Imported },
    { "ico", SIcons, "", fkRaster, GraphicClass<TIcon>, false },
    { "wmf", SMetafiles, "", fkVector, GraphicClass<TMetafile>, false },
    { "emf", SMetafiles, SEnhancedMetafiles, fkVector, GraphicClass<TMetafile>, false },
    { "jfif", SJPGImages, SJFIFImages, fkRaster, GraphicClass<TJPEGImage>, false },
    { "jpg", "", SJPGImages, fkRaster, GraphicClass<TJPEGImage>, Imported },
    { "jpe", "", SJPEImages, fkRaster, GraphicClass<TJPEGImage>, false },
    { "jpeg", "", SJPEGImages, fkRaster, GraphicClass<TJPEGImage>, Imported },
    { "rle", SBitmaps, SRLEBitmaps, fkRaster, GraphicClass<TBitmap>, false },
    { "dib", "", SDIBBitmaps, fkRaster, GraphicClass<TBitmap>, false },
    { "tiff", STIFFImages, SMacTIFFImages, MultiImage, GraphicClass<TTIFFGraphic>, Imported },
    { "tif", "", SPCTIFImages, MultiImage, GraphicClass<TTIFFGraphic>, Imported },
    { "fax", "", SFaxImages, MultiImage, GraphicClass<TTIFFGraphic>, false },
    { "gif", SGIFImages, "", MultiImage | fkAnimated, GraphicClass<TGIFGraphic>, Imported },
    { "png", SPNGImages, "", fkRaster, GraphicClass<TPNGGraphic>, Imported },
};

} // namespace

std::span<const TImageFileType> ImageFileTypes()
{
    return Types;
}

const TImageFileType* ImportedFileType(std::string_view extension)
{
    if (!extension.starts_with('.'))
        return nullptr;
    extension.remove_prefix(1);
    for (const TImageFileType& type : Types)
        if (type.Imported && extension == type.Extension)
            return &type;
    return nullptr;
}
