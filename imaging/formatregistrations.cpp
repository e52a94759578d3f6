// The formats the library registers at start-up and the process-wide registry holding them.
#include "imaging/fileformatlist.h"

#include "imaging/gifgraphic.h"
#include "imaging/pnggraphic.h"
#include "imaging/tiffgraphic.h"
#include "raster/bitmap.h"
#include "raster/jpegimage.h"

inline constexpr const char* SBitmaps = "Windows bitmaps";
inline constexpr const char* SIcons = "Windows icons";
inline constexpr const char* SMetafiles = "Windows metafiles";
inline constexpr const char* SEnhancedMetafiles = "Windows enhanced meta files";
inline constexpr const char* SJPGImages = "JPG images";
inline constexpr const char* SJFIFImages = "JFIF images";
inline constexpr const char* SJPEImages = "JPE images";
inline constexpr const char* SJPEGImages = "JPEG images";
inline constexpr const char* SRLEBitmaps = "Run length encoded Windows bitmaps";
inline constexpr const char* SDIBBitmaps = "Device independant Windows bitmaps";
inline constexpr const char* STIFFImages = "Tagged image file format images";
inline constexpr const char* SMacTIFFImages = "Macintosh TIFF images";
inline constexpr const char* SPCTIFImages = "PC TIF images";
inline constexpr const char* SFaxImages = "GFI fax images";
inline constexpr const char* SGIFImages = "CompuServe images";
inline constexpr const char* SPNGImages = "Portable network graphic images";

void RegisterStartupFormats(TFileFormatList& list)
{
    const TGraphicClass& bitmap = GraphicClass<TBitmap>();
    const TGraphicClass& jpeg = GraphicClass<TJPEGImage>();
    const TGraphicClass& tiff = GraphicClass<TTIFFGraphic>();
    const TFormatKinds multiImage = fkRaster | fkMultiImage;
    list.RegisterFormat("bmp", SBitmaps, "", fkRaster, false, bitmap);
    list.RegisterFormat("ico", SIcons, "", fkRaster, false, GraphicClass<TIcon>());
    list.RegisterFormat("wmf", SMetafiles, "", fkVector, false, GraphicClass<TMetafile>());
    list.RegisterFormat("emf", SMetafiles, SEnhancedMetafiles, fkVector, false, GraphicClass<TMetafile>());
    list.RegisterFormat("jfif", SJPGImages, SJFIFImages, fkRaster, false, jpeg);
    list.RegisterFormat("jpg", "", SJPGImages, fkRaster, false, jpeg);
    list.RegisterFormat("jpe", "", SJPEImages, fkRaster, false, jpeg);
    list.RegisterFormat("jpeg", "", SJPEGImages, fkRaster, false, jpeg);
    list.RegisterFormat("rle", SBitmaps, SRLEBitmaps, fkRaster, false, bitmap);
    list.RegisterFormat("dib", "", SDIBBitmaps, fkRaster, false, bitmap);
    list.RegisterFormat("tiff", STIFFImages, SMacTIFFImages, multiImage, false, tiff);
    list.RegisterFormat("tif", "", SPCTIFImages, multiImage, false, tiff);
    list.RegisterFormat("fax", "", SFaxImages, multiImage, false, tiff);
    list.RegisterFormat("gif", SGIFImages, "", multiImage | fkAnimated, false, GraphicClass<TGIFGraphic>());
    list.RegisterFormat("png", SPNGImages, "", fkRaster, false, GraphicClass<TPNGGraphic>());
}

void UnregisterShutdownFormats(TFileFormatList& list)
{
    list.UnregisterFormat("", GraphicClass<TTIFFGraphic>());
    list.UnregisterFormat("", GraphicClass<TGIFGraphic>());
    list.UnregisterFormat("rle", GraphicClass<TBitmap>());
    list.UnregisterFormat("dib", GraphicClass<TBitmap>());
    list.UnregisterFormat("", GraphicClass<TPNGGraphic>());
}

namespace {

// Made on first use; at exit the shutdown unregistrations run, then the registry clears
// what is left. The picture container is made first and so outlives it.
struct TProcessFormats {
    TFileFormatList List;
    TProcessFormats() { RegisterStartupFormats(List); }
    ~TProcessFormats() { UnregisterShutdownFormats(List); }
};

} // namespace

TFileFormatList& FileFormats()
{
    static TProcessFormats formats;
    return formats.List;
}
