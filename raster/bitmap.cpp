#include "raster/bitmap.h"

#include "raster/bmpload.h"
#include "raster/canvas.h"
#include "raster/pixels.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <mutex>
#include <new>

namespace {

using enum TPixelLayout;

// Replacing a store reference happens under one lock shared by all bitmaps.
std::recursive_mutex& StoreLock()
{
    static std::recursive_mutex lock;
    return lock;
}

struct TMasks {
    std::uint32_t Red, Green, Blue;
};

TMasks EffectiveMasks(const TBitmapHeader& header)
{
    if (header.Compression == TBitmapCompression::bcBitFields)
        return { header.RedMask, header.GreenMask, header.BlueMask };
    if (header.BitsPerPixel == 16)
        return { 0x7C00, 0x03E0, 0x001F };
    return { 0xFF0000, 0x00FF00, 0x0000FF };
}

// The value of a masked field widened to 8 bits: the field's maximum becomes 255.
std::uint8_t ExpandField(std::uint32_t value, std::uint32_t mask)
{
    if (mask == 0)
        return 0;
    const int shift = std::countr_zero(mask);
    const std::uint64_t maximum = mask >> shift;
    const std::uint64_t field = (value & mask) >> shift;
    if (maximum == 255)
        return static_cast<std::uint8_t>(field);
    return static_cast<std::uint8_t>((field * 255 + maximum / 2) / maximum);
}

std::uint32_t PackField(std::uint8_t value, std::uint32_t mask)
{
    if (mask == 0)
        return 0;
    const int shift = std::countr_zero(mask);
    const std::uint64_t maximum = mask >> shift;
    const std::uint64_t field = (value * maximum + 127) / 255;
    return static_cast<std::uint32_t>((field << shift) & mask);
}

TColorTable SystemPalette16()
{
    static const std::uint8_t rgb[16][3] = { { 0, 0, 0 }, { 128, 0, 0 }, { 0, 128, 0 },
        { 128, 128, 0 }, { 0, 0, 128 }, { 128, 0, 128 }, { 0, 128, 128 }, { 192, 192, 192 },
        { 128, 128, 128 }, { 255, 0, 0 }, { 0, 255, 0 }, { 255, 255, 0 }, { 0, 0, 255 },
        { 255, 0, 255 }, { 0, 255, 255 }, { 255, 255, 255 } };
    TColorTable table;
    for (const auto& c : rgb)
        table.push_back({ c[2], c[1], c[0], 0 });
    return table;
}

// A colour cube of 6 levels per channel followed by a grey ramp.
TColorTable HalftonePalette()
{
    TColorTable table;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                table.push_back({ std::uint8_t(b * 51), std::uint8_t(g * 51), std::uint8_t(r * 51), 0 });
    for (int i = 0; table.size() < 256; ++i) {
        const auto level = std::uint8_t((i * 255 + 20) / 40 + 3);
        table.push_back({ level, level, level, 0 });
    }
    return table;
}

TColorTable BlackWhite()
{
    return { { 0, 0, 0, 0 }, { 255, 255, 255, 0 } };
}

bool ValidBits(int bits)
{
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

} // namespace

std::size_t BitmapRowBytes(std::int64_t width, int bitsPerPixel)
{
    return static_cast<std::size_t>((width * bitsPerPixel + 31) / 32 * 4);
}

int LayoutBits(TPixelLayout layout)
{
    switch (layout) {
    case plDevice: return TCanvas::DeviceBits;
    case pl1Bit: return 1;
    case pl4Bit: return 4;
    case pl8Bit: return 8;
    case pl15Bit:
    case pl16Bit: return 16;
    case pl24Bit: return 24;
    case pl32Bit: return 32;
    case plCustom: return 0;
    }
    return 0;
}

std::size_t TBitmapImage::RowBytes() const
{
    return BitmapRowBytes(Header.Width, Header.BitsPerPixel);
}

// Pixel access on a store, shared by the bitmap and the canvas.
namespace pixels {

std::size_t RowOffset(const TBitmapImage& image, int row)
{
    const auto height = static_cast<std::size_t>(std::abs(static_cast<std::int64_t>(image.Header.Height)));
    const std::size_t index = image.Header.Height > 0 ? height - 1 - static_cast<std::size_t>(row) : static_cast<std::size_t>(row);
    return index * image.RowBytes();
}

std::uint32_t RawPixel(const std::uint8_t* row, int x, int bits)
{
    switch (bits) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
    case 8: return row[x];
    case 16: return std::uint32_t(row[2 * x]) | std::uint32_t(row[2 * x + 1]) << 8;
    case 24: return std::uint32_t(row[3 * x]) | std::uint32_t(row[3 * x + 1]) << 8 | std::uint32_t(row[3 * x + 2]) << 16;
    case 32: {
        const std::uint8_t* p = row + 4 * x;
        return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
    }
    }
    return 0;
}

void PutRawPixel(std::uint8_t* row, int x, int bits, std::uint32_t value)
{
    switch (bits) {
    case 1: {
        const std::uint8_t bit = std::uint8_t(0x80 >> (x & 7));
        row[x >> 3] = static_cast<std::uint8_t>((value & 1) ? row[x >> 3] | bit : row[x >> 3] & ~bit);
        break;
    }
    case 4:
        if (x & 1)
            row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & 0xF0) | (value & 0x0F));
        else
            row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & 0x0F) | (value & 0x0F) << 4);
        break;
    case 8: row[x] = static_cast<std::uint8_t>(value); break;
    case 16:
        row[2 * x] = static_cast<std::uint8_t>(value);
        row[2 * x + 1] = static_cast<std::uint8_t>(value >> 8);
        break;
    case 24:
        row[3 * x] = static_cast<std::uint8_t>(value);
        row[3 * x + 1] = static_cast<std::uint8_t>(value >> 8);
        row[3 * x + 2] = static_cast<std::uint8_t>(value >> 16);
        break;
    case 32:
        for (int i = 0; i < 4; ++i)
            row[4 * x + i] = static_cast<std::uint8_t>(value >> (8 * i));
        break;
    }
}

TRGBQuad DecodeValue(const TBitmapImage& image, std::uint32_t value)
{
    const int bits = image.Header.BitsPerPixel;
    if (bits <= 8) {
        if (value < image.ColorTable.size()) {
            TRGBQuad entry = image.ColorTable[value];
            entry.Reserved = 0;
            return entry;
        }
        return {}; // an index past the table is black
    }
    if (bits == 24 || (bits == 32 && image.Header.Compression == TBitmapCompression::bcPlain))
        return { std::uint8_t(value), std::uint8_t(value >> 8), std::uint8_t(value >> 16), 0 };
    const TMasks masks = EffectiveMasks(image.Header);
    return { ExpandField(value, masks.Blue), ExpandField(value, masks.Green), ExpandField(value, masks.Red), 0 };
}

std::uint32_t NearestIndex(const TColorTable& table, TRGBQuad colour)
{
    std::uint32_t best = 0;
    int bestDistance = 1 << 30;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const int db = table[i].Blue - colour.Blue, dg = table[i].Green - colour.Green, dr = table[i].Red - colour.Red;
        const int distance = db * db + dg * dg + dr * dr;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = static_cast<std::uint32_t>(i);
            if (distance == 0)
                break;
        }
    }
    return best;
}

std::uint32_t EncodeValue(const TBitmapImage& image, TRGBQuad colour)
{
    const int bits = image.Header.BitsPerPixel;
    if (bits <= 8)
        return NearestIndex(image.ColorTable, colour);
    if (bits == 24 || (bits == 32 && image.Header.Compression == TBitmapCompression::bcPlain))
        return std::uint32_t(colour.Blue) | std::uint32_t(colour.Green) << 8 | std::uint32_t(colour.Red) << 16;
    const TMasks masks = EffectiveMasks(image.Header);
    return PackField(colour.Red, masks.Red) | PackField(colour.Green, masks.Green) | PackField(colour.Blue, masks.Blue);
}

TRGBQuad ColorToQuad(TColor colour)
{
    return { std::uint8_t(colour >> 16), std::uint8_t(colour >> 8), std::uint8_t(colour), 0 };
}

// Copies the first count pixels of a row (bit-packed rows keep the bits after them).
void CopyRowPixels(std::uint8_t* target, const std::uint8_t* source, int count, int bits)
{
    const std::size_t totalBits = static_cast<std::size_t>(count) * bits;
    std::memcpy(target, source, totalBits / 8);
    if (const int rest = static_cast<int>(totalBits % 8)) {
        const auto mask = static_cast<std::uint8_t>(0xFF00 >> rest);
        target[totalBits / 8] = static_cast<std::uint8_t>((target[totalBits / 8] & ~mask) | (source[totalBits / 8] & mask));
    }
}

void FillImage(TBitmapImage& image, TRGBQuad colour)
{
    if (image.Pixels.empty())
        return;
    const int bits = image.Header.BitsPerPixel;
    const std::uint32_t value = EncodeValue(image, colour);
    const std::size_t rowBytes = image.RowBytes();
    std::uint8_t* first = image.Pixels.data();
    for (int x = 0; x < image.Header.Width; ++x)
        PutRawPixel(first, x, bits, value);
    for (std::size_t offset = rowBytes; offset < image.Pixels.size(); offset += rowBytes)
        std::memcpy(first + offset, first, rowBytes);
}

} // namespace pixels

using namespace pixels;

namespace {

std::shared_ptr<TBitmapImage> MakeImage(const TBitmapHeader& header, const TColorTable& table,
    TStoreFill fill = TStoreFill::sfZeroed)
{
    const std::int64_t width = header.Width;
    const std::int64_t height = std::abs(static_cast<std::int64_t>(header.Height));
    if (width < 0 || header.Planes != 1 || !ValidBits(header.BitsPerPixel)
        || (width != 0 && static_cast<std::uint64_t>(height) > MaxImagePixels / static_cast<std::uint64_t>(width)))
        throw EInvalidGraphic(SInvalidBitmap);
    auto image = std::make_shared<TBitmapImage>();
    image->Header = header;
    image->ColorTable = table;
    if (header.BitsPerPixel <= 8 && image->ColorTable.size() > (std::size_t(1) << header.BitsPerPixel))
        image->ColorTable.resize(std::size_t(1) << header.BitsPerPixel);
    if (header.BitsPerPixel > 8)
        image->ColorTable.clear();
    if (width > 0 && height > 0) {
        try {
            const std::size_t rowBytes = BitmapRowBytes(width, header.BitsPerPixel);
            if (fill == TStoreFill::sfZeroed) {
                // A freshly mapped store is zero already; its pages stay unmapped until written,
                // so a picture whose file holds few of its rows costs little memory.
                image->Pixels.resize(rowBytes * static_cast<std::size_t>(height));
                const bool pooled = storepool::Enabled() && image->Pixels.size() >= storepool::LargeStoreBytes;
                if (!pooled || !storepool::KnownZero(image->Pixels.data()))
                    std::memset(image->Pixels.data(), 0, image->Pixels.size());
            } else {
                image->Pixels.resize(rowBytes * static_cast<std::size_t>(height));
                // The padding past the last pixel's byte, so that files written from the
                // store do not carry leftovers of earlier pictures.
                const std::size_t used = static_cast<std::size_t>((width * header.BitsPerPixel + 7) / 8);
                if (used < rowBytes)
                    for (std::size_t offset = used; offset < image->Pixels.size(); offset += rowBytes)
                        std::memset(image->Pixels.data() + offset, 0, rowBytes - used);
            }
        } catch (const std::bad_alloc&) {
            throw EOutOfResources(SOutOfResources);
        }
    }
    return image;
}

TBitmapHeader LayoutHeader(TPixelLayout layout, std::int32_t width, std::int32_t height)
{
    TBitmapHeader header;
    header.Width = width;
    header.Height = height;
    header.BitsPerPixel = static_cast<std::uint16_t>(LayoutBits(layout));
    if (layout == pl16Bit) {
        header.Compression = TBitmapCompression::bcBitFields;
        header.RedMask = 0xF800;
        header.GreenMask = 0x07E0;
        header.BlueMask = 0x001F;
    }
    return header;
}

// Every pixel of source written by value into target (same size): indexed targets take the
// nearest colour of their table.
void ConvertPixels(const TBitmapImage& source, TBitmapImage& target)
{
    if (source.Pixels.empty() || target.Pixels.empty())
        return;
    const int width = target.Header.Width;
    const int height = std::abs(target.Header.Height);
    const int sourceBits = source.Header.BitsPerPixel, targetBits = target.Header.BitsPerPixel;
    const auto plainTrueColour = [](const TBitmapHeader& header) {
        return header.BitsPerPixel == 24 || (header.BitsPerPixel == 32 && header.Compression == TBitmapCompression::bcPlain);
    };
    if (plainTrueColour(source.Header) && plainTrueColour(target.Header)) {
        // blue, green, red copied; the fourth byte of 32-bit pixels dropped or zeroed
        const int sourceBytes = sourceBits / 8, targetBytes = targetBits / 8;
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* in = source.Pixels.data() + RowOffset(source, y);
            std::uint8_t* out = target.Pixels.data() + RowOffset(target, y);
            for (int x = 0; x < width; ++x, in += sourceBytes, out += targetBytes) {
                out[0] = in[0];
                out[1] = in[1];
                out[2] = in[2];
                if (targetBytes == 4)
                    out[3] = 0;
            }
        }
        return;
    }
    // Indexed sources: one colour per index, mapped once.
    std::vector<std::uint32_t> indexMap;
    if (sourceBits <= 8) {
        indexMap.resize(std::size_t(1) << sourceBits);
        for (std::size_t i = 0; i < indexMap.size(); ++i)
            indexMap[i] = EncodeValue(target, DecodeValue(source, static_cast<std::uint32_t>(i)));
    }
    std::uint32_t lastRaw = 0, lastValue = EncodeValue(target, DecodeValue(source, 0));
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* sourceRow = source.Pixels.data() + RowOffset(source, y);
        std::uint8_t* targetRow = target.Pixels.data() + RowOffset(target, y);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t raw = RawPixel(sourceRow, x, sourceBits);
            std::uint32_t value;
            if (!indexMap.empty())
                value = indexMap[raw];
            else if (raw == lastRaw)
                value = lastValue;
            else {
                value = EncodeValue(target, DecodeValue(source, raw));
                lastRaw = raw;
                lastValue = value;
            }
            PutRawPixel(targetRow, x, targetBits, value);
        }
    }
}

} // namespace

TBitmap::TBitmap() = default;
TBitmap::~TBitmap() = default;

int TBitmap::Width() const
{
    return FImage ? FImage->Header.Width : 0;
}

int TBitmap::Height() const
{
    return FImage ? std::abs(FImage->Header.Height) : 0;
}

bool TBitmap::IsEmpty() const
{
    return !FImage || FImage->Pixels.empty();
}

void TBitmap::LoadStream(TStream& stream)
{
    LoadBmpStream(*this, stream);
    if (!ColorTable().empty())
        SetPaletteModified(true);
    Changed();
}

void TBitmap::SaveStream(TStream& stream)
{
    SaveBmpStream(*this, stream);
}

void TBitmap::CopyContentFrom(const TGraphic& source)
{
    const auto* bitmap = dynamic_cast<const TBitmap*>(&source);
    if (!bitmap) {
        TGraphic::CopyContentFrom(source);
        return;
    }
    if (bitmap == this)
        return;
    {
        std::lock_guard lock(StoreLock());
        FImage = bitmap->FImage;
    }
    Transparent = bitmap->Transparent;
    TransparentColor = bitmap->TransparentColor;
    TransparentMode = bitmap->TransparentMode;
    FullWidth = bitmap->FullWidth;
    FullHeight = bitmap->FullHeight;
    if (FImage && !FImage->ColorTable.empty())
        SetPaletteModified(true);
    Changed();
}

void TBitmap::DrawInto(TCanvas& canvas, const TRect& rect) const
{
    canvas.StretchCopy(rect, *this);
}

void TBitmap::Clear()
{
    SetImage(nullptr);
    Changed();
}

void TBitmap::ResizeTo(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == Width() && height == Height())
        return;
    std::shared_ptr<TBitmapImage> image;
    const bool device = !FImage || FImage->DeviceForm || FImage->Header.BitsPerPixel == 0;
    if (device) {
        image = MakeImage(LayoutHeader(plDevice, width, height), {});
        image->DeviceForm = true;
    } else {
        TBitmapHeader header = FImage->Header;
        header.Width = width;
        header.Height = FImage->Header.Height < 0 ? -height : height;
        image = MakeImage(header, FImage->ColorTable);
    }
    FillImage(*image, ColorToQuad(FCanvas ? FCanvas->Brush.Color : clWhite));
    if (FImage && !FImage->Pixels.empty() && !image->Pixels.empty()) {
        const int rows = std::min(height, Height());
        const int columns = std::min(width, Width());
        const int bits = image->Header.BitsPerPixel;
        for (int y = 0; y < rows; ++y)
            CopyRowPixels(image->Pixels.data() + RowOffset(*image, y), FImage->Pixels.data() + RowOffset(*FImage, y), columns, bits);
    }
    SetImage(std::move(image));
    Changed();
}

TPixelLayout TBitmap::PixelLayout() const
{
    if (!FImage || FImage->DeviceForm || FImage->Header.BitsPerPixel == 0)
        return plDevice;
    const TBitmapHeader& header = FImage->Header;
    switch (header.BitsPerPixel) {
    case 1: return pl1Bit;
    case 4: return pl4Bit;
    case 8: return pl8Bit;
    case 16:
        if (header.Compression == TBitmapCompression::bcPlain)
            return pl15Bit;
        return header.RedMask == 0xF800 && header.GreenMask == 0x07E0 && header.BlueMask == 0x001F ? pl16Bit : plCustom;
    case 24: return pl24Bit;
    case 32: return header.Compression == TBitmapCompression::bcPlain ? pl32Bit : plCustom;
    }
    return plCustom;
}

void TBitmap::SetPixelLayout(TPixelLayout layout)
{
    if (layout == PixelLayout())
        return;
    if (layout == plCustom)
        throw EInvalidGraphic(SInvalidPixelFormat);
    TColorTable table;
    if (layout == pl4Bit)
        table = SystemPalette16();
    else if (layout == pl8Bit)
        table = HalftonePalette();
    else if (layout == pl1Bit) {
        const bool ownTable = FImage && !FImage->DeviceForm && FImage->ColorTable.size() >= 2;
        table = ownTable ? TColorTable(FImage->ColorTable.begin(), FImage->ColorTable.begin() + 2) : BlackWhite();
    }
    const int width = Width();
    const int height = FImage && FImage->Header.Height < 0 ? -Height() : Height();
    auto image = MakeImage(LayoutHeader(layout, width, height), table);
    image->DeviceForm = layout == plDevice;
    if (FImage)
        ConvertPixels(*FImage, *image);
    SetImage(std::move(image));
    Changed();
}

std::uint8_t* TBitmap::RowAddress(int row)
{
    if (row < 0 || row >= Height())
        throw EInvalidGraphic(SScanLine);
    TBitmapImage& image = UniqueImage();
    image.DeviceForm = false; // the display's form is already a plain 32-bit independent one
    return image.Pixels.data() + RowOffset(image, row);
}

const std::uint8_t* TBitmap::RowAddress(int row) const
{
    if (row < 0 || row >= Height())
        throw EInvalidGraphic(SScanLine);
    return FImage->Pixels.data() + RowOffset(*FImage, row);
}

std::uint8_t* TBitmap::WritableRow(int row)
{
    TBitmapImage& image = UniqueImage();
    return image.Pixels.data() + RowOffset(image, row);
}

std::size_t TBitmap::RowBytes() const
{
    return FImage ? FImage->RowBytes() : 0;
}

const TBitmapHeader& TBitmap::Header() const
{
    static const TBitmapHeader empty;
    return FImage ? FImage->Header : empty;
}

TColorTable TBitmap::ColorTable() const
{
    if (!FImage || FImage->DeviceForm || FImage->Header.BitsPerPixel > 8)
        return {};
    return FImage->ColorTable;
}

void TBitmap::SetColorTable(const TColorTable& table)
{
    if (FImage && !FImage->DeviceForm && FImage->Header.BitsPerPixel != 0 && FImage->Header.BitsPerPixel <= 8) {
        const std::shared_ptr<const TBitmapImage> old = FImage;
        auto image = MakeImage(old->Header, table);
        ConvertPixels(*old, *image);
        SetImage(std::move(image));
    }
    SetPaletteModified(true);
    Changed();
}

TRGBQuad TBitmap::Pixel(int x, int y) const
{
    if (x < 0 || x >= Width())
        throw EInvalidGraphic(SScanLine);
    const std::uint8_t* row = RowAddress(y);
    return DecodeValue(*FImage, RawPixel(row, x, FImage->Header.BitsPerPixel));
}

TCanvas& TBitmap::Canvas()
{
    if (!FCanvas)
        FCanvas = std::make_unique<TCanvas>(*this);
    return *FCanvas;
}

std::shared_ptr<const TBitmapImage> TBitmap::Image() const
{
    std::lock_guard lock(StoreLock());
    return FImage;
}

void TBitmap::NewImage(const TBitmapHeader& header, const TColorTable& table, TStoreFill fill)
{
    SetImage(MakeImage(header, table, fill));
}

void TBitmap::SetAlpha(TAlphaForm form, std::vector<std::uint8_t> indexAlpha, TRGBQuad key)
{
    if (!FImage)
        return;
    TBitmapImage& image = UniqueImage();
    image.Alpha = form;
    image.IndexAlpha = std::move(indexAlpha);
    image.Key = key;
}

int TBitmap::Orientation() const
{
    const std::shared_ptr<const TBitmapImage> image = Image();
    return image ? image->Orientation : 1;
}

void TBitmap::SetOrientation(int orientation)
{
    if (FImage && orientation != Orientation())
        UniqueImage().Orientation = static_cast<std::uint8_t>(orientation >= 1 && orientation <= 8 ? orientation : 1);
}

TBitmapImage& TBitmap::UniqueImage()
{
    std::lock_guard lock(StoreLock());
    if (!FImage)
        FImage = std::make_shared<TBitmapImage>();
    else if (FImage.use_count() > 1)
        FImage = std::make_shared<TBitmapImage>(*FImage);
    return *FImage;
}

void TBitmap::SetImage(std::shared_ptr<TBitmapImage> image)
{
    std::lock_guard lock(StoreLock());
    FImage = std::move(image);
}
