#include "raster/bmpload.h"

#include "base/bytereader.h"
#include "base/stream.h"
#include "raster/bitmap.h"
#include "raster/pixels.h"

#include <algorithm>
#include <cstring>
#include <vector>

using namespace pixels;

namespace {

enum : std::uint32_t { BiRgb = 0, BiRle8 = 1, BiRle4 = 2, BiBitFields = 3, BiAlphaBitFields = 6 };
constexpr std::size_t FileHeaderSize = 14;
constexpr std::uint32_t CoreHeaderSize = 12;
constexpr std::uint32_t InfoHeaderSize = 40;

[[noreturn]] void Invalid()
{
    throw EInvalidGraphic(SInvalidBitmap);
}

struct TBmpInfo {
    std::uint32_t HeaderSize = 0;
    std::int64_t Width = 0, Height = 0;
    std::uint16_t Planes = 0, BitsPerPixel = 0;
    std::uint32_t Compression = BiRgb, ImageSize = 0, ColorsUsed = 0;
    std::uint32_t RedMask = 0, GreenMask = 0, BlueMask = 0;
};

// Reads the info header (any size from 16 bytes, or the 12-byte core header); fields the
// header is too short for stay zero. The reader ends after the header and its masks.
TBmpInfo ReadInfo(TByteReader& reader)
{
    TBmpInfo info;
    info.HeaderSize = reader.ReadU32LE();
    if (info.HeaderSize == CoreHeaderSize) {
        info.Width = reader.ReadU16LE();
        info.Height = reader.ReadU16LE();
        info.Planes = reader.ReadU16LE();
        info.BitsPerPixel = reader.ReadU16LE();
        return info;
    }
    if (info.HeaderSize < 16)
        Invalid();
    TByteReader header(reader.Take(info.HeaderSize - 4));
    const auto field = [&header](int bytes) -> std::uint32_t {
        if (header.Remaining() < static_cast<std::size_t>(bytes))
            return 0;
        return bytes == 2 ? header.ReadU16LE() : header.ReadU32LE();
    };
    info.Width = static_cast<std::int32_t>(field(4));
    info.Height = static_cast<std::int32_t>(field(4));
    info.Planes = static_cast<std::uint16_t>(field(2));
    info.BitsPerPixel = static_cast<std::uint16_t>(field(2));
    info.Compression = field(4);
    info.ImageSize = field(4);
    field(4); // resolution
    field(4);
    info.ColorsUsed = field(4);
    field(4); // important colours
    if (info.Compression == BiBitFields || info.Compression == BiAlphaBitFields) {
        // Later headers carry the masks themselves; after a 40-byte header they follow it.
        TByteReader masks = info.HeaderSize >= InfoHeaderSize + 12 ? header : reader;
        info.RedMask = masks.ReadU32LE();
        info.GreenMask = masks.ReadU32LE();
        info.BlueMask = masks.ReadU32LE();
        if (info.HeaderSize < InfoHeaderSize + 12)
            reader.Skip(12);
    }
    return info;
}

// Validates the header and makes the store (zeroed) on the bitmap.
void MakeStore(TBitmap& bitmap, const TBmpInfo& info, const TColorTable& table)
{
    TBitmapHeader header;
    header.Width = static_cast<std::int32_t>(info.Width);
    header.Height = static_cast<std::int32_t>(info.Height);
    header.BitsPerPixel = info.BitsPerPixel;
    if (info.Compression == BiBitFields || info.Compression == BiAlphaBitFields) {
        header.Compression = TBitmapCompression::bcBitFields;
        header.RedMask = info.RedMask;
        header.GreenMask = info.GreenMask;
        header.BlueMask = info.BlueMask;
    }
    bitmap.NewImage(header, table);
}

void CheckInfo(const TBmpInfo& info)
{
    if (info.Planes != 1 || info.Width <= 0 || info.Height == 0)
        Invalid();
    const std::int64_t height = info.Height < 0 ? -info.Height : info.Height;
    if (static_cast<std::uint64_t>(height) > MaxImagePixels / static_cast<std::uint64_t>(info.Width))
        Invalid();
    switch (info.Compression) {
    case BiRgb:
        if (info.BitsPerPixel != 1 && info.BitsPerPixel != 4 && info.BitsPerPixel != 8 && info.BitsPerPixel != 16
            && info.BitsPerPixel != 24 && info.BitsPerPixel != 32)
            Invalid();
        break;
    case BiRle8:
    case BiRle4:
        // run-length data is stored bottom-up only
        if (info.BitsPerPixel != (info.Compression == BiRle8 ? 8 : 4) || info.Height < 0)
            Invalid();
        break;
    case BiBitFields:
    case BiAlphaBitFields:
        if (info.BitsPerPixel != 16 && info.BitsPerPixel != 32)
            Invalid();
        break;
    default:
        Invalid();
    }
}

// Run-length decoding of rows counted from the bottom. Runs past the right edge are clipped,
// data ending early leaves the rest at index 0.
void DecodeRle(TBitmap& bitmap, TByteReader data, bool fourBit)
{
    const int width = bitmap.Width(), height = bitmap.Height();
    const int bits = fourBit ? 4 : 8;
    std::vector<std::uint8_t*> rows(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        rows[static_cast<std::size_t>(y)] = bitmap.RowAddress(height - 1 - y);
    std::int64_t x = 0, y = 0;
    const auto put = [&](std::uint32_t index) {
        if (x < width && y < height)
            PutRawPixel(rows[static_cast<std::size_t>(y)], static_cast<int>(x), bits, index);
        ++x;
    };
    while (y < height && data.Remaining() >= 2) {
        const std::uint8_t count = data.ReadU8();
        const std::uint8_t value = data.ReadU8();
        if (count > 0) {
            for (int i = 0; i < count && x < width; ++i)
                put(fourBit ? ((i & 1) ? value & 0x0F : value >> 4) : value);
            continue;
        }
        if (value == 0) { // end of line
            x = 0;
            ++y;
        } else if (value == 1) { // end of bitmap
            break;
        } else if (value == 2) { // move right and up
            if (data.Remaining() < 2)
                break;
            x += data.ReadU8();
            y += data.ReadU8();
        } else { // a literal run, padded to a 16-bit boundary
            const std::size_t bytes = fourBit ? (value + 1u) / 2 : value;
            const std::size_t padded = bytes + (bytes & 1);
            const auto literal = data.Take(std::min(padded, data.Remaining()));
            for (int i = 0; i < value; ++i) {
                const std::size_t byte = fourBit ? static_cast<std::size_t>(i) / 2 : static_cast<std::size_t>(i);
                if (byte >= literal.size())
                    return;
                put(fourBit ? ((i & 1) ? literal[byte] & 0x0F : literal[byte] >> 4) : literal[byte]);
            }
        }
    }
}

} // namespace

void LoadBmpStream(TBitmap& bitmap, TStream& stream)
{
    // A file already in memory is read in place; other streams are copied first.
    if (auto* source = dynamic_cast<TMemoryStream*>(&stream)) {
        const std::int64_t position = std::clamp<std::int64_t>(source->Position(), 0, source->Size());
        const auto bytes = source->Bytes().subspan(static_cast<std::size_t>(position));
        source->Seek(0, TSeekOrigin::soEnd);
        LoadBmpBytes(bitmap, bytes);
        return;
    }
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
    TByteReader reader(bytes);
    const auto signature = reader.Take(2);
    if (signature[0] != 'B' || signature[1] != 'M')
        Invalid();
    reader.Skip(8); // file size, reserved
    const std::uint32_t pixelOffset = reader.ReadU32LE();
    const TBmpInfo info = ReadInfo(reader);
    CheckInfo(info);

    const bool core = info.HeaderSize == CoreHeaderSize;
    std::size_t entries = info.ColorsUsed;
    if (info.BitsPerPixel <= 8) {
        const std::size_t full = std::size_t(1) << info.BitsPerPixel;
        if (entries == 0 || entries > full)
            entries = full;
    } else {
        entries = 0; // a table beside true-colour pixels is only a display hint
    }
    // Files cut inside the table keep the entries that are there.
    const std::size_t entrySize = core ? 3 : 4;
    entries = std::min(entries, reader.Remaining() / entrySize);
    TColorTable table(entries);
    for (TRGBQuad& entry : table) {
        const auto raw = reader.Take(entrySize);
        entry = { raw[0], raw[1], raw[2], 0 };
    }

    if (info.BitsPerPixel > 8) // a table beside true-colour pixels is skipped
        reader.Skip(std::min<std::size_t>(std::size_t(info.ColorsUsed) * entrySize, reader.Remaining()));
    // The pixels start at the file header's offset unless it points into the headers.
    const std::size_t headersEnd = reader.Position();
    std::size_t start = pixelOffset;
    if (start < FileHeaderSize + info.HeaderSize)
        start = headersEnd;
    if (start > bytes.size())
        Invalid();
    std::span<const std::uint8_t> pixels = bytes.subspan(start);
    const bool compressed = info.Compression == BiRle8 || info.Compression == BiRle4;
    if (info.ImageSize != 0 && info.Compression != BiRgb && info.ImageSize < pixels.size())
        pixels = pixels.first(info.ImageSize);

    MakeStore(bitmap, info, table);
    if (compressed) {
        DecodeRle(bitmap, TByteReader(pixels), info.Compression == BiRle4);
        return;
    }
    // Uncompressed rows have the store's own layout; truncated data leaves the rest zero.
    if (bitmap.IsEmpty())
        return;
    const int height = bitmap.Height();
    std::uint8_t* target = bitmap.RowAddress(info.Height > 0 ? height - 1 : 0); // lowest address
    std::memcpy(target, pixels.data(), std::min(pixels.size(), bitmap.RowBytes() * static_cast<std::size_t>(height)));
}

void SaveBmpStream(const TBitmap& bitmap, TStream& stream)
{
    const auto image = bitmap.Image();
    if (!image || image->Pixels.empty())
        return;
    const TBitmapHeader& header = image->Header;
    const bool bitFields = header.Compression == TBitmapCompression::bcBitFields;
    const std::size_t tableBytes = header.BitsPerPixel <= 8 ? image->ColorTable.size() * 4 : 0;
    const std::size_t offset = FileHeaderSize + InfoHeaderSize + (bitFields ? 12 : 0) + tableBytes;
    const std::size_t fileSize = offset + image->Pixels.size();
    std::vector<std::uint8_t> out;
    out.reserve(offset);
    const auto u16 = [&out](std::uint32_t v) { out.push_back(std::uint8_t(v)); out.push_back(std::uint8_t(v >> 8)); };
    const auto u32 = [&u16](std::uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); };
    out.push_back('B');
    out.push_back('M');
    u32(static_cast<std::uint32_t>(fileSize));
    u32(0);
    u32(static_cast<std::uint32_t>(offset));
    u32(InfoHeaderSize);
    u32(static_cast<std::uint32_t>(header.Width));
    u32(static_cast<std::uint32_t>(header.Height));
    u16(1);
    u16(header.BitsPerPixel);
    u32(bitFields ? BiBitFields : BiRgb);
    u32(static_cast<std::uint32_t>(image->Pixels.size()));
    u32(2835); // 72 dots per inch
    u32(2835);
    u32(static_cast<std::uint32_t>(tableBytes / 4));
    u32(0);
    if (bitFields) {
        u32(header.RedMask);
        u32(header.GreenMask);
        u32(header.BlueMask);
    }
    if (tableBytes)
        for (const TRGBQuad& entry : image->ColorTable) {
            out.push_back(entry.Blue);
            out.push_back(entry.Green);
            out.push_back(entry.Red);
            out.push_back(0);
        }
    stream.WriteBuffer(out.data(), out.size());
    stream.WriteBuffer(image->Pixels.data(), image->Pixels.size());
}
