#include "raster/canvas.h"

#include "raster/pixels.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace pixels;

namespace {

// One byte of a ternary raster operation: code bit (P << 2 | S << 1 | D) gives the result bit.
std::uint8_t TernaryOp(std::uint8_t code, std::uint8_t pattern, std::uint8_t source, std::uint8_t target)
{
    std::uint8_t result = 0;
    for (int i = 0; i < 8; ++i)
        if (code >> i & 1)
            result |= static_cast<std::uint8_t>(((i & 4) ? pattern : ~pattern) & ((i & 2) ? source : ~source) & ((i & 1) ? target : ~target));
    return result;
}

TRGBQuad ApplyRop(std::uint32_t rop, TRGBQuad pattern, TRGBQuad source, TRGBQuad target)
{
    const auto code = static_cast<std::uint8_t>(rop >> 16);
    return { TernaryOp(code, pattern.Blue, source.Blue, target.Blue), TernaryOp(code, pattern.Green, source.Green, target.Green),
        TernaryOp(code, pattern.Red, source.Red, target.Red), 0 };
}

// The source span [First, Last) that feeds one destination pixel along one axis.
struct TSpan {
    int First, Last, Nearest;
};

// For each destination position inside [clipFirst, clipLast) of a destination run of
// 'length' pixels starting at 'origin' (mirrored when asked), the source pixels it stands for.
std::vector<TSpan> MakeSpans(int origin, std::int64_t length, bool mirrored, int clipFirst, int clipLast, int sourceLength)
{
    std::vector<TSpan> spans;
    spans.reserve(static_cast<std::size_t>(std::max(0, clipLast - clipFirst)));
    for (int d = clipFirst; d < clipLast; ++d) {
        std::int64_t u = std::int64_t(d) - origin;
        if (mirrored)
            u = length - 1 - u;
        const auto first = static_cast<int>(u * sourceLength / length);
        const auto last = std::max(first + 1, static_cast<int>((u + 1) * sourceLength / length));
        // the source pixel under the destination pixel's centre
        const auto nearest = static_cast<int>((2 * u + 1) * sourceLength / (2 * length));
        spans.push_back({ first, std::min(last, sourceLength), nearest });
    }
    return spans;
}

bool PlainTrueColour(const TBitmapImage& image)
{
    const int bits = image.Header.BitsPerPixel;
    return bits == 24 || (bits == 32 && image.Header.Compression == TBitmapCompression::bcPlain);
}

} // namespace

TBitmap& TCanvas::Target() const
{
    RequireTarget();
    return *FTarget;
}

void TCanvas::RequireTarget() const
{
    if (!FTarget)
        throw EInvalidOperation(SNoCanvasHandle);
}

void TCanvas::Changing()
{
    if (OnChanging)
        OnChanging(*this);
}

void TCanvas::Changed()
{
    if (OnChange)
        OnChange(*this);
    if (FTarget)
        FTarget->Changed();
}

void TCanvas::DrawStretched(const TRect& rect, const TGraphic* graphic)
{
    if (!graphic)
        return;
    RequireTarget();
    std::lock_guard lock(FLock);
    Changing();
    graphic->DrawInto(*this, rect);
    Changed();
}

void TCanvas::Draw(int x, int y, const TGraphic* graphic)
{
    if (!graphic || graphic->IsEmpty())
        return;
    RequireTarget();
    std::lock_guard lock(FLock);
    Changing();
    const auto edge = [](int origin, int size) {
        return static_cast<std::int32_t>(std::min<std::int64_t>(std::int64_t(origin) + size, INT32_MAX));
    };
    graphic->DrawInto(*this, { x, y, edge(x, graphic->Width()), edge(y, graphic->Height()) });
    Changed();
}

void TCanvas::FillRect(const TRect& rect)
{
    TBitmap& target = Target();
    std::lock_guard lock(FLock);
    const int left = std::max(0, std::min(rect.Left, rect.Right)), right = std::min(target.Width(), std::max(rect.Left, rect.Right));
    const int top = std::max(0, std::min(rect.Top, rect.Bottom)), bottom = std::min(target.Height(), std::max(rect.Top, rect.Bottom));
    if (left >= right || top >= bottom)
        return;
    Changing();
    TBitmapImage& image = target.UniqueImage();
    const std::uint32_t value = EncodeValue(image, ColorToQuad(Brush.Color));
    for (int y = top; y < bottom; ++y) {
        std::uint8_t* row = image.Pixels.data() + RowOffset(image, y);
        for (int x = left; x < right; ++x)
            PutRawPixel(row, x, image.Header.BitsPerPixel, value);
    }
    Changed();
}

void TCanvas::StretchCopy(const TRect& rect, const TBitmap& source)
{
    TBitmap& target = Target();
    std::lock_guard lock(FLock);
    // sizes in 64 bits: a rectangle may span more than the 32-bit range
    const std::int64_t signedWidth = std::int64_t(rect.Right) - rect.Left, signedHeight = std::int64_t(rect.Bottom) - rect.Top;
    if (source.IsEmpty() || target.IsEmpty() || signedWidth == 0 || signedHeight == 0)
        return;
    // Holding the source store keeps its pixels intact when the target shares it: the
    // target then writes into a private copy.
    const std::shared_ptr<const TBitmapImage> sourceImage = source.Image();
    const TBitmapImage& from = *sourceImage;
    TBitmapImage& to = target.UniqueImage();

    const int sourceWidth = from.Header.Width, sourceHeight = std::abs(from.Header.Height);
    const int sourceBits = from.Header.BitsPerPixel * from.Header.Planes;
    const bool monochrome = sourceBits == 1;
    TStretchMode mode;
    if (DeviceBits <= 8 && DeviceBits < sourceBits)
        mode = TStretchMode::smHalftone;
    else if (!monochrome)
        mode = TStretchMode::smColorOnColor;
    else
        mode = StretchMode;

    const std::int64_t width = std::abs(signedWidth), height = std::abs(signedHeight);
    const int left = std::min(rect.Left, rect.Right), top = std::min(rect.Top, rect.Bottom);
    const int clipLeft = std::max(0, left), clipRight = static_cast<int>(std::min<std::int64_t>(target.Width(), left + width));
    const int clipTop = std::max(0, top), clipBottom = static_cast<int>(std::min<std::int64_t>(target.Height(), top + height));
    if (clipLeft >= clipRight || clipTop >= clipBottom)
        return;
    const std::vector<TSpan> columns = MakeSpans(left, width, signedWidth < 0, clipLeft, clipRight, sourceWidth);
    const std::vector<TSpan> rows = MakeSpans(top, height, signedHeight < 0, clipTop, clipBottom, sourceHeight);

    const int targetBits = to.Header.BitsPerPixel;
    const bool plainCopy = CopyMode == cmSrcCopy && !source.Transparent;
    std::vector<const std::uint8_t*> sourceRows(static_cast<std::size_t>(sourceHeight));
    for (int y = 0; y < sourceHeight; ++y)
        sourceRows[static_cast<std::size_t>(y)] = from.Pixels.data() + RowOffset(from, y);

    if (mode == TStretchMode::smColorOnColor && plainCopy && PlainTrueColour(to) && (PlainTrueColour(from) || sourceBits <= 8)) {
        // The thumbnail path: one source pixel per destination pixel, bytes copied directly.
        const int targetBytes = targetBits / 8;
        std::vector<std::uint32_t> palette;
        if (sourceBits <= 8)
            for (std::uint32_t i = 0; i < (1u << sourceBits); ++i) {
                const TRGBQuad c = DecodeValue(from, i);
                palette.push_back(std::uint32_t(c.Blue) | std::uint32_t(c.Green) << 8 | std::uint32_t(c.Red) << 16);
            }
        std::vector<std::size_t> columnOffsets;
        for (const TSpan& span : columns)
            columnOffsets.push_back(static_cast<std::size_t>(span.Nearest) * (sourceBits / 8));
        for (std::size_t r = 0; r < rows.size(); ++r) {
            const std::uint8_t* sourceRow = sourceRows[static_cast<std::size_t>(rows[r].Nearest)];
            std::uint8_t* out = to.Pixels.data() + RowOffset(to, clipTop + static_cast<int>(r)) + static_cast<std::size_t>(clipLeft) * targetBytes;
            if (palette.empty()) {
                for (const std::size_t offset : columnOffsets) {
                    const std::uint8_t* in = sourceRow + offset;
                    out[0] = in[0];
                    out[1] = in[1];
                    out[2] = in[2];
                    if (targetBytes == 4)
                        out[3] = 0;
                    out += targetBytes;
                }
            } else {
                for (const TSpan& span : columns) {
                    const std::uint32_t value = palette[RawPixel(sourceRow, span.Nearest, sourceBits)];
                    out[0] = static_cast<std::uint8_t>(value);
                    out[1] = static_cast<std::uint8_t>(value >> 8);
                    out[2] = static_cast<std::uint8_t>(value >> 16);
                    if (targetBytes == 4)
                        out[3] = 0;
                    out += targetBytes;
                }
            }
        }
        return;
    }

    // Every other case, pixel by pixel through colours.
    bool hasKey = false;
    TRGBQuad key;
    if (source.Transparent) {
        hasKey = true;
        if (source.TransparentMode == TTransparentMode::tmAuto || source.TransparentColor == clDefault)
            key = DecodeValue(from, RawPixel(sourceRows.back(), 0, sourceBits));
        else
            key = ColorToQuad(source.TransparentColor & 0xFFFFFF);
    }
    const TRGBQuad pattern = ColorToQuad(Brush.Color);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::uint8_t* out = to.Pixels.data() + RowOffset(to, clipTop + static_cast<int>(r));
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const TSpan& rowSpan = rows[r];
            const TSpan& columnSpan = columns[c];
            TRGBQuad colour;
            if (mode == TStretchMode::smColorOnColor) {
                colour = DecodeValue(from, RawPixel(sourceRows[static_cast<std::size_t>(rowSpan.Nearest)], columnSpan.Nearest, sourceBits));
            } else if (mode == TStretchMode::smAndScans) {
                // dropped rows and columns are combined with AND: black wins over white
                std::uint32_t value = ~0u;
                for (int y = rowSpan.First; y < rowSpan.Last; ++y)
                    for (int x = columnSpan.First; x < columnSpan.Last; ++x)
                        value &= RawPixel(sourceRows[static_cast<std::size_t>(y)], x, sourceBits);
                colour = DecodeValue(from, value);
            } else {
                unsigned blue = 0, green = 0, red = 0, count = 0;
                for (int y = rowSpan.First; y < rowSpan.Last; ++y)
                    for (int x = columnSpan.First; x < columnSpan.Last; ++x) {
                        const TRGBQuad part = DecodeValue(from, RawPixel(sourceRows[static_cast<std::size_t>(y)], x, sourceBits));
                        blue += part.Blue;
                        green += part.Green;
                        red += part.Red;
                        ++count;
                    }
                colour = { std::uint8_t((blue + count / 2) / count), std::uint8_t((green + count / 2) / count),
                    std::uint8_t((red + count / 2) / count), 0 };
            }
            if (hasKey && colour == key)
                continue;
            const int x = clipLeft + static_cast<int>(c);
            if (!plainCopy || CopyMode != cmSrcCopy) {
                const TRGBQuad current = DecodeValue(to, RawPixel(out, x, targetBits));
                colour = ApplyRop(CopyMode, pattern, colour, current);
            }
            PutRawPixel(out, x, targetBits, EncodeValue(to, colour));
        }
    }
}
