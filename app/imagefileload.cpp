#include "app/imagefileload.h"

#include "app/paths.h"
#include "base/filestream.h"
#include "base/fmt.h"
#include "base/stopwatch.h"
#include "base/text.h"
#include "imaging/imagefiletypes.h"
#include "raster/bitmap.h"
#include "raster/graphic.h"

#include <exception>
#include <memory>
#include <new>

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

bool LoadImageFile(const std::string& path, TBitmap& bitmap) { return LoadImageFileTimed(path, bitmap, nullptr); }

bool LoadImageFileTimed(const std::string& path, TBitmap& bitmap, std::chrono::nanoseconds* readTime)
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
    try {
        bitmap.CopyContentFrom(*decoder);
    } catch (const std::exception& error) {
        RaiseIfOutOfMemory(error, path);
        return false; // decoding on demand (JPEG) or conversion failed
    }
    return true;
}
