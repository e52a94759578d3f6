#include "raster/bmpload.h"

#include "raster/bitmap.h"
#include "base/stream.h"

void LoadBmpStream(TBitmap& bitmap, TStream& stream)
{
    TMemoryStream memory;
    memory.LoadFromStream(stream);
    LoadBmpBytes(bitmap, memory.Bytes());
}

void LoadBmpBytes(TBitmap& bitmap, std::span<const std::uint8_t> bytes)
{
    if (bytes.empty()) {
        bitmap.Clear();
        return;
    }
    throw EInvalidGraphic(SInvalidBitmap);
}

void SaveBmpStream(const TBitmap&, TStream&) {}
