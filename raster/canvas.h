#pragma once
#include "raster/bitmap.h"
#include "raster/graphic.h"

#include <cstdint>
#include <functional>
#include <mutex>

// Raster operations for CopyMode.
inline constexpr std::uint32_t cmBlackness = 0x00000042;
inline constexpr std::uint32_t cmDstInvert = 0x00550009;
inline constexpr std::uint32_t cmMergePaint = 0x00BB0226;
inline constexpr std::uint32_t cmNotSrcCopy = 0x00330008;
inline constexpr std::uint32_t cmNotSrcErase = 0x001100A6;
inline constexpr std::uint32_t cmSrcAnd = 0x008800C6;
inline constexpr std::uint32_t cmSrcCopy = 0x00CC0020;
inline constexpr std::uint32_t cmSrcErase = 0x00440328;
inline constexpr std::uint32_t cmSrcInvert = 0x00660046;
inline constexpr std::uint32_t cmSrcPaint = 0x00EE0086;
inline constexpr std::uint32_t cmWhiteness = 0x00FF0062;

// How a scaled copy picks its pixels.
enum class TStretchMode : std::uint8_t {
    smAndScans,     // the default: monochrome sources keep black over white when shrinking
    smColorOnColor, // nearest pixel, no blending
    smHalftone,     // area averaging
};

struct TPen { TColor Color = clBlack; };
struct TBrush { TColor Color = clWhite; };
struct TFont { TColor Color = clBlack; };

// Drawing on a bitmap. The display depth is 32 bits per pixel, so scaled copies of anything but
// monochrome sources use nearest-pixel resampling.
class TCanvas {
public:
    static constexpr int DeviceBits = 32;

    explicit TCanvas(TBitmap& target) : FTarget(&target) {}
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    TPen Pen;
    TBrush Brush;
    TFont Font;
    std::uint32_t CopyMode = cmSrcCopy;
    // The rule of the next scaled copy of a monochrome source (the canvas's own state).
    TStretchMode StretchMode = TStretchMode::smAndScans;
    std::function<void(TCanvas&)> OnChanging;
    std::function<void(TCanvas&)> OnChange;

    TBitmap& Target() const;
    int DeviceBitsPerPixel() const { return DeviceBits; }

    // graphic.DrawInto(*this, rect) between the changing and changed notifications; an absent
    // graphic does nothing.
    void DrawStretched(const TRect& rect, const TGraphic* graphic);
    // Unscaled at (x, y); nothing for an absent or empty graphic.
    void Draw(int x, int y, const TGraphic* graphic);
    // Fills the rectangle (clipped) with the brush colour.
    void FillRect(const TRect& rect);

    // The scaled copy of a whole bitmap onto the rectangle with CopyMode, by the stretch rule
    // the depths choose. Bitmaps' DrawInto ends here.
    void StretchCopy(const TRect& rect, const TBitmap& source);

    void Changing();
    void Changed();
    std::recursive_mutex& Lock() { return FLock; }

private:
    void RequireTarget() const;

    TBitmap* FTarget;
    std::recursive_mutex FLock;
};
