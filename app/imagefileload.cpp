#include "app/imagefileload.h"

#include "app/paths.h"
#include "app/thumbnailwriter.h"
#include "base/filestream.h"
#include "base/fmt.h"
#include "base/stopwatch.h"
#include "base/text.h"
#include "imaging/imagefiletypes.h"
#include "raster/bitmap.h"
#include "raster/graphic.h"
#include "raster/orientation.h"

#include <exception>
#include <memory>
#include <new>
#include <utility>

namespace {

// The decoder for an extension; none for anything the tool does not read.
std::unique_ptr<TGraphic> DecoderFor(const std::string& extension)
{
    const TImageFileType* type = ImportedFileType(extension);
    return type ? type->ReaderClass().Create() : nullptr;
}

// A picture too large for the memory left is no broken picture: that is said, not skipped.
void RaiseIfOutOfMemory(const std::exception& error, const std::string& path)
{
    if (dynamic_cast<const std::bad_alloc*>(&error) || dynamic_cast<const EOutOfResources*>(&error))
        throw ENotEnoughMemory(Fmt(SNotEnoughMemoryToLoad, path));
}

} // namespace

TJPEGScale SmoothDecodeScale(int width, int height, int orientation)
{
    // The thumbnail is sized as the picture shows, its sides compared with the stored ones.
    const bool swapped = OrientationSwapsSides(orientation);
    TThumbnailSize thumbnail = swapped ? ThumbnailSize(height, width) : ThumbnailSize(width, height);
    if (swapped)
        std::swap(thumbnail.Width, thumbnail.Height);
    // The library rounds a scaled side up.
    const auto fits = [&](int denominator) {
        return (std::int64_t(width) + denominator - 1) / denominator >= thumbnail.Width
            && (std::int64_t(height) + denominator - 1) / denominator >= thumbnail.Height;
    };
    for (const TJPEGScale scale : { TJPEGScale::ScaleEighth, TJPEGScale::ScaleQuarter, TJPEGScale::ScaleHalf })
        if (fits(1 << static_cast<int>(scale)))
            return scale;
    return TJPEGScale::ScaleFull;
}

bool LoadImageFile(const std::string& path, TBitmap& bitmap) { return LoadImageFileTimed(path, bitmap, nullptr); }

bool LoadImageFileTimed(const std::string& path, TBitmap& bitmap, std::chrono::nanoseconds* readTime,
    TThumbnailSampling sampling)
{
    // A FIFO, socket or device named like a picture is passed over like a folder: reading it
    // could wait for ever. The open below checks the kind again, on the descriptor.
    if (!PathRegularFileExists(path))
        return false;
    const std::unique_ptr<TGraphic> decoder = DecoderFor(AsciiLowerCase(PathExtension(path)));
    if (!decoder)
        return false;
    {
        TMemoryStream stream;
        {
            const TStopwatch watch(readTime);
            // A file that cannot be opened or read: the error goes to the caller.
            TFileStream file(path, fmOpenRead | fmShareDenyWrite);
            try {
                stream.LoadFromStream(file);
            } catch (const std::bad_alloc&) {
                throw ENotEnoughMemory(Fmt(SNotEnoughMemoryToLoad, path));
            }
        }
        try {
            stream.SetPosition(0);
            decoder->LoadStream(stream);
        } catch (const std::exception& error) {
            RaiseIfOutOfMemory(error, path);
            return false; // not a picture this decoder reads: skipped without a message
        }
    }
    // Only the thumbnail is wanted: a JPEG picture is decoded just large enough for it.
    auto* jpeg = sampling == TThumbnailSampling::tsSmooth ? dynamic_cast<TJPEGImage*>(decoder.get()) : nullptr;
    const int fullWidth = jpeg ? jpeg->Data().Width : 0, fullHeight = jpeg ? jpeg->Data().Height : 0;
    if (jpeg && jpeg->Data().HasBytes() && fullWidth > 0 && fullHeight > 0)
        jpeg->SetDecodeScale(SmoothDecodeScale(fullWidth, fullHeight, ExifOrientation(jpeg->Data().CompressedData->Bytes())));
    try {
        bitmap.CopyContentFrom(*decoder);
        const bool reduced = jpeg && jpeg->DecodeScale() != TJPEGScale::ScaleFull;
        bitmap.FullWidth = reduced ? fullWidth : 0;
        bitmap.FullHeight = reduced ? fullHeight : 0;
    } catch (const std::exception& error) {
        RaiseIfOutOfMemory(error, path);
        return false; // decoding on demand (JPEG) or conversion failed
    }
    return true;
}
