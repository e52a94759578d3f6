#pragma once
#include "raster/graphic.h"
#include "raster/storepool.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

class TStream;
class TCanvas;

enum class TPixelLayout : std::uint8_t {
    plDevice, // only the display's own form (32 bits: blue, green, red, unused)
    pl1Bit,   // 2-entry colour table, leftmost pixel in the most significant bit
    pl4Bit,   // 16-entry colour table, leftmost pixel in the high nibble
    pl8Bit,   // 256-entry colour table
    pl15Bit,  // 16 bits, plain: x rrrrr ggggg bbbbb
    pl16Bit,  // 16 bits, bit-fields 0xF800, 0x07E0, 0x001F
    pl24Bit,  // bytes blue, green, red
    pl32Bit,  // bytes blue, green, red, unused
    plCustom, // any other bit-field combination
};

// One colour table entry, as stored in a BMP file.
struct TRGBQuad {
    std::uint8_t Blue = 0, Green = 0, Red = 0, Reserved = 0;
    bool operator==(const TRGBQuad&) const = default;
};
using TColorTable = std::vector<TRGBQuad>;

// A colour as 0x00BBGGRR.
using TColor = std::uint32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clDefault = 0x20000000; // transparent colour: the bottom-left pixel's
inline constexpr TColor RGBColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    return TColor(red) | TColor(green) << 8 | TColor(blue) << 16;
}

enum class TBitmapCompression : std::uint8_t { bcPlain, bcBitFields };
enum class TTransparentMode : std::uint8_t { tmAuto, tmFixed };

// The header of the independent form. Height > 0: rows lie bottom-up in memory; < 0: top-down.
struct TBitmapHeader {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::uint16_t Planes = 1;
    std::uint16_t BitsPerPixel = 0; // 0: no form yet
    TBitmapCompression Compression = TBitmapCompression::bcPlain;
    std::uint32_t RedMask = 0, GreenMask = 0, BlueMask = 0; // with bcBitFields
};

// The allocator of pixel stores: large stores come from the store pool (see storepool.h), and
// elements made without a value stay uninitialised, so that a store a decoder overwrites
// entirely is not cleared first.
template <class T>
struct TPixelAllocator {
    using value_type = T;
    TPixelAllocator() noexcept = default;
    template <class U>
    TPixelAllocator(const TPixelAllocator<U>&) noexcept
    {
    }
    T* allocate(std::size_t count)
    {
        const std::size_t bytes = count * sizeof(T);
        T* block = storepool::Enabled() && bytes >= storepool::LargeStoreBytes
            ? static_cast<T*>(storepool::Allocate(bytes))
            : std::allocator<T>().allocate(count);
        if (const int poison = storepool::StorePoison(); poison != storepool::StorePoisonOff) [[unlikely]]
            std::memset(static_cast<void*>(block), poison, bytes);
        return block;
    }
    void deallocate(T* block, std::size_t count) noexcept
    {
        const std::size_t bytes = count * sizeof(T);
        if (storepool::Enabled() && bytes >= storepool::LargeStoreBytes)
            storepool::Release(block, bytes);
        else
            std::allocator<T>().deallocate(block, count);
    }
    template <class U>
    void construct(U* place) noexcept(std::is_nothrow_default_constructible_v<U>)
    {
        ::new (static_cast<void*>(place)) U;
    }
    template <class U, class... Args>
    void construct(U* place, Args&&... args)
    {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
    template <class U>
    bool operator==(const TPixelAllocator<U>&) const noexcept
    {
        return true;
    }
};
using TPixelStore = std::vector<std::uint8_t, TPixelAllocator<std::uint8_t>>;

// How a new store starts: cleared to zero, or left for a decoder that writes every pixel of
// every row (the row padding is cleared either way).
enum class TStoreFill : std::uint8_t { sfZeroed, sfUnset };

// The transparency a reader found in a picture; only the drawing of thumbnails looks at it.
enum class TAlphaForm : std::uint8_t {
    afNone,          // opaque
    afStraight,      // 32 bits: the fourth byte is the alpha of the colour
    afPremultiplied, // 32 bits: the fourth byte is alpha, the colour already multiplied by it
    afIndexed,       // IndexAlpha gives the alpha of each table index (opaque past its end)
    afKey,           // pixels of the colour Key are transparent, the others opaque
};

// The shared pixel store. Bitmaps hold it through std::shared_ptr and copy it before writing.
struct TBitmapImage {
    TBitmapHeader Header;
    TColorTable ColorTable;
    TPixelStore Pixels; // rows of RowBytes()
    bool DeviceForm = false;           // the pixels are the display's form only (plDevice)
    TAlphaForm Alpha = TAlphaForm::afNone; // a new store of another form is opaque again
    std::vector<std::uint8_t> IndexAlpha {}; // with afIndexed
    TRGBQuad Key {};                     // with afKey
    std::uint8_t Orientation = 1;        // how the picture is shown (see raster/orientation.h)

    std::size_t RowBytes() const;
    bool HasPixels() const { return !Pixels.empty(); }
};

// Bytes of one row: width × bits rounded up to 32 bits.
std::size_t BitmapRowBytes(std::int64_t width, int bitsPerPixel);
// Bits per pixel of a layout (32 for plDevice, 0 for plCustom).
int LayoutBits(TPixelLayout layout);

// The raster surface every image passes through.
class TBitmap : public TGraphic {
public:
    TBitmap();
    ~TBitmap() override;

    std::string ClassName() const override { return "TBitmap"; }
    int Width() const override;
    int Height() const override;
    bool IsEmpty() const override;
    // A Windows BMP file (core and info headers, bit-fields, top-down, RLE4/RLE8). No bytes at
    // all give an empty bitmap; anything malformed fails with "Bitmap image is not valid".
    void LoadStream(TStream& stream) override;
    // Writes a BMP file of the current layout (nothing for an empty bitmap).
    void SaveStream(TStream& stream) override;
    void CopyContentFrom(const TGraphic& source) override;
    void DrawInto(TCanvas& canvas, const TRect& rect) const override;

    // Drops the store: width 0, height 0, plDevice.
    void Clear();
    // New size; the old pixels stay in the top-left corner, the rest is filled with the
    // canvas's brush colour (white without a canvas). 0 for either gives an empty bitmap.
    void ResizeTo(int width, int height);
    void SetWidth(int width) { ResizeTo(width, Height()); }
    void SetHeight(int height) { ResizeTo(Width(), height); }

    TPixelLayout PixelLayout() const;
    // Converts the image into the layout (plCustom: "Invalid pixel format").
    void SetPixelLayout(TPixelLayout layout);

    // Row counted from the top, after leaving a shared store and forcing the independent form.
    // RowAddress(1) - RowAddress(0) is the signed row step. Outside 0..Height-1:
    // "Scan line index out of range".
    std::uint8_t* RowAddress(int row);
    // Reading access; neither copies nor converts the store.
    const std::uint8_t* RowAddress(int row) const;
    std::size_t RowBytes() const;
    const TBitmapHeader& Header() const;

    // The colour table (empty for pl15Bit and deeper).
    TColorTable ColorTable() const;
    // Installs a new table; existing pixels are mapped to its nearest colours.
    void SetColorTable(const TColorTable& table);

    // Colour of one pixel by value (through the table for indexed layouts); for tests and
    // conversions. x and y must lie inside the bitmap.
    TRGBQuad Pixel(int x, int y) const;

    // The canvas that draws into this bitmap, made on first use.
    TCanvas& Canvas();
    bool HasCanvas() const { return FCanvas != nullptr; }

    bool Transparent = false;
    TColor TransparentColor = clDefault;
    TTransparentMode TransparentMode = TTransparentMode::tmAuto;
    // The picture's own size when the store holds it reduced (a JPEG decoded at a DCT scale
    // for a smooth thumbnail); 0 when the store has the picture's own size.
    int FullWidth = 0;
    int FullHeight = 0;

    // The transparency of the current store (see TAlphaForm); readers set it once decoded.
    void SetAlpha(TAlphaForm form, std::vector<std::uint8_t> indexAlpha = {}, TRGBQuad key = {});

    // How the picture of the current store is shown (1..8, see raster/orientation.h); readers
    // set it from their files' tags, anything outside 1..8 as 1.
    int Orientation() const;
    void SetOrientation(int orientation);

    // The store, shared with every bitmap that copied this one.
    std::shared_ptr<const TBitmapImage> Image() const;
    // Replaces the store by a new one of the header (zeroed pixels unless the caller writes
    // them all, the given table). Refuses more than 2^28 pixels with "Bitmap image is not valid".
    void NewImage(const TBitmapHeader& header, const TColorTable& table, TStoreFill fill = TStoreFill::sfZeroed);

protected:
    // Leaves a shared store (copy-on-write) and returns the private one.
    TBitmapImage& UniqueImage();

private:
    friend class TCanvas;
    // Row for writing without forcing the independent form (canvas drawing).
    std::uint8_t* WritableRow(int row);
    void SetImage(std::shared_ptr<TBitmapImage> image);

    std::shared_ptr<TBitmapImage> FImage;
    std::unique_ptr<TCanvas> FCanvas;
};
