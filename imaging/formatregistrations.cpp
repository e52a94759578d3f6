// The formats the library registers at start-up and the process-wide registry holding them.
#include "imaging/fileformatlist.h"

#include "imaging/gifgraphic.h"
#include "imaging/imagefiletypes.h"
#include "imaging/pnggraphic.h"
#include "imaging/tiffgraphic.h"
#include "raster/bitmap.h"

void RegisterStartupFormats(TFileFormatList& list)
{
    for (const TImageFileType& type : ImageFileTypes())
        list.RegisterFormat(type.Extension, type.CommonDescription, type.IndividualDescription, type.Kinds, false,
            type.ReaderClass());
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
