#include "raster/orientation.h"

#include "base/bytereader.h"
#include "raster/pixels.h"

#include <cstdlib>
#include <cstring>

using namespace pixels;

namespace {

constexpr std::uint16_t OrientationTag = 274;
constexpr std::uint16_t ShortType = 3;
constexpr std::uint8_t StartOfScan = 0xDA, EndOfImage = 0xD9, App1 = 0xE1;

// The Orientation entry of the first directory of the TIFF structure inside an EXIF block.
int TiffStructureOrientation(std::span<const std::uint8_t> tiff)
{
    TByteReader reader(tiff);
    const auto order = reader.Take(2);
    const bool bigEndian = order[0] == 'M' && order[1] == 'M';
    if (!bigEndian && !(order[0] == 'I' && order[1] == 'I'))
        return OrientationAsStored;
    const auto u16 = [&] { return bigEndian ? reader.ReadU16BE() : reader.ReadU16LE(); };
    const auto u32 = [&] { return bigEndian ? reader.ReadU32BE() : reader.ReadU32LE(); };
    if (u16() != 42)
        return OrientationAsStored;
    reader.Seek(u32());
    for (std::uint16_t entries = u16(); entries > 0; --entries) {
        const std::uint16_t tag = u16(), type = u16();
        const std::uint32_t count = u32();
        const std::uint16_t value = u16(); // a short sits in the first two bytes of the field
        reader.Skip(2);
        if (tag == OrientationTag)
            return type == ShortType && count == 1 ? SaneOrientation(value) : OrientationAsStored;
    }
    return OrientationAsStored;
}

// The stored pixel that shows at (x, y) of the shown picture; width and height are stored.
void StoredPosition(int orientation, int x, int y, int width, int height, int& sx, int& sy)
{
    switch (orientation) {
    case 2: sx = width - 1 - x; sy = y; break;
    case 3: sx = width - 1 - x; sy = height - 1 - y; break;
    case 4: sx = x; sy = height - 1 - y; break;
    case 5: sx = y; sy = x; break;
    case 6: sx = y; sy = height - 1 - x; break;
    case 7: sx = width - 1 - y; sy = height - 1 - x; break;
    case 8: sx = width - 1 - y; sy = x; break;
    default: sx = x; sy = y; break;
    }
}

} // namespace

int SaneOrientation(std::uint32_t value)
{
    return value >= 1 && value <= 8 ? static_cast<int>(value) : OrientationAsStored;
}

int ExifOrientation(std::span<const std::uint8_t> jpeg)
{
    try {
        TByteReader reader(jpeg);
        if (reader.ReadU16BE() != 0xFFD8)
            return OrientationAsStored;
        for (;;) {
            if (reader.ReadU8() != 0xFF)
                return OrientationAsStored;
            std::uint8_t marker = reader.ReadU8();
            while (marker == 0xFF) // fill bytes
                marker = reader.ReadU8();
            if (marker == StartOfScan || marker == EndOfImage)
                return OrientationAsStored;
            if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) // no length
                continue;
            const std::uint16_t length = reader.ReadU16BE();
            if (length < 2)
                return OrientationAsStored;
            const auto segment = reader.Take(length - 2u);
            if (marker == App1 && segment.size() >= 6 && std::memcmp(segment.data(), "Exif\0\0", 6) == 0)
                return TiffStructureOrientation(segment.subspan(6));
        }
    } catch (const EReadError&) {
        return OrientationAsStored;
    }
}

void OrientedCopy(const TBitmap& picture, TBitmap& shown)
{
    const int orientation = picture.Orientation();
    const std::shared_ptr<const TBitmapImage> from = picture.Image();
    if (!from || picture.IsEmpty() || orientation == OrientationAsStored) {
        shown.CopyContentFrom(picture);
        shown.SetOrientation(OrientationAsStored);
        return;
    }
    const int width = picture.Width(), height = picture.Height();
    const bool swaps = OrientationSwapsSides(orientation);
    TBitmapHeader header = from->Header;
    header.Width = swaps ? height : width;
    header.Height = swaps ? -width : -height; // top-down
    shown.NewImage(header, from->ColorTable, TStoreFill::sfUnset);
    shown.SetAlpha(from->Alpha, from->IndexAlpha, from->Key);
    const int bits = header.BitsPerPixel;
    for (int y = 0; y < shown.Height(); ++y) {
        std::uint8_t* out = shown.RowAddress(y);
        for (int x = 0; x < shown.Width(); ++x) {
            int sx = 0, sy = 0;
            StoredPosition(orientation, x, y, width, height, sx, sy);
            PutRawPixel(out, x, bits, RawPixel(from->Pixels.data() + RowOffset(*from, sy), sx, bits));
        }
    }
}
