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

// A stretched copy under way: the source's rows, the source pixels each destination column
// and row stands for, and where the clipped destination begins.
struct TStretchPlan {
    const TBitmapImage& From;
    TBitmapImage& To;
    int SourceBits = 0;
    std::vector<const std::uint8_t*> SourceRows {};
    std::vector<TSpan> Columns {};
    std::vector<TSpan> Rows {};
    int ClipLeft = 0;
    int ClipTop = 0;
    std::uint32_t DarkValue = 0; // of a monochrome source: the value whose colour is darker
};

// The value of a two-colour table that shows the darker colour (0 when both are as dark), so
// that black wins whatever the table's order.
std::uint32_t DarkerValue(const TBitmapImage& image)
{
    const auto lightness = [&](std::uint32_t value) {
        const TRGBQuad c = DecodeValue(image, value);
        return 299u * c.Red + 587u * c.Green + 114u * c.Blue;
    };
    return lightness(1) < lightness(0) ? 1 : 0;
}

// The thumbnail path: one source pixel per destination pixel, bytes copied directly from a
// true-colour or indexed source into a true-colour target. Kept out of line: inlined into the
// caller, its loops get fewer registers.
[[gnu::noinline]] void CopyNearestBytes(const TStretchPlan& plan)
{
    const TBitmapImage& from = plan.From;
    TBitmapImage& to = plan.To;
    const int sourceBits = plan.SourceBits;
    const int targetBytes = to.Header.BitsPerPixel / 8;
    std::vector<std::uint32_t> palette;
    if (sourceBits <= 8)
        for (std::uint32_t i = 0; i < (1u << sourceBits); ++i) {
            const TRGBQuad c = DecodeValue(from, i);
            palette.push_back(std::uint32_t(c.Blue) | std::uint32_t(c.Green) << 8 | std::uint32_t(c.Red) << 16);
        }
    std::vector<std::size_t> columnOffsets;
    for (const TSpan& span : plan.Columns)
        columnOffsets.push_back(static_cast<std::size_t>(span.Nearest) * (sourceBits / 8));
    for (std::size_t r = 0; r < plan.Rows.size(); ++r) {
        const std::uint8_t* sourceRow = plan.SourceRows[static_cast<std::size_t>(plan.Rows[r].Nearest)];
        std::uint8_t* out = to.Pixels.data() + RowOffset(to, plan.ClipTop + static_cast<int>(r))
            + static_cast<std::size_t>(plan.ClipLeft) * targetBytes;
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
            for (const TSpan& span : plan.Columns) {
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
}

// The colour one destination pixel takes from the source pixels it stands for.
TRGBQuad StretchedColour(const TStretchPlan& plan, TStretchMode mode, const TSpan& rowSpan, const TSpan& columnSpan)
{
    const TBitmapImage& from = plan.From;
    const int sourceBits = plan.SourceBits;
    if (mode == TStretchMode::smColorOnColor)
        return DecodeValue(from, RawPixel(plan.SourceRows[static_cast<std::size_t>(rowSpan.Nearest)], columnSpan.Nearest, sourceBits));
    if (mode == TStretchMode::smAndScans) {
        // dropped rows and columns are combined so that the darker colour wins: thin dark
        // lines survive the reduction
        for (int y = rowSpan.First; y < rowSpan.Last; ++y)
            for (int x = columnSpan.First; x < columnSpan.Last; ++x)
                if (RawPixel(plan.SourceRows[static_cast<std::size_t>(y)], x, sourceBits) == plan.DarkValue)
                    return DecodeValue(from, plan.DarkValue);
        return DecodeValue(from, plan.DarkValue ^ 1u);
    }
    unsigned blue = 0, green = 0, red = 0, count = 0;
    for (int y = rowSpan.First; y < rowSpan.Last; ++y)
        for (int x = columnSpan.First; x < columnSpan.Last; ++x) {
            const TRGBQuad part = DecodeValue(from, RawPixel(plan.SourceRows[static_cast<std::size_t>(y)], x, sourceBits));
            blue += part.Blue;
            green += part.Green;
            red += part.Red;
            ++count;
        }
    return { std::uint8_t((blue + count / 2) / count), std::uint8_t((green + count / 2) / count),
        std::uint8_t((red + count / 2) / count), 0 };
}

// What a stretched copy does with each colour: skip the transparent key, combine with the
// target by the raster operation.
struct TStretchRule {
    TStretchMode Mode = TStretchMode::smColorOnColor;
    std::uint32_t CopyMode = cmSrcCopy;
    bool PlainCopy = true; // source copy without a transparent colour
    bool HasKey = false;
    TRGBQuad Key {};
    TRGBQuad Pattern {};
};

// Every other case, pixel by pixel through colours.
void StretchThroughColours(const TStretchPlan& plan, const TStretchRule& rule)
{
    TBitmapImage& to = plan.To;
    const int targetBits = to.Header.BitsPerPixel;
    for (std::size_t r = 0; r < plan.Rows.size(); ++r) {
        std::uint8_t* out = to.Pixels.data() + RowOffset(to, plan.ClipTop + static_cast<int>(r));
        for (std::size_t c = 0; c < plan.Columns.size(); ++c) {
            TRGBQuad colour = StretchedColour(plan, rule.Mode, plan.Rows[r], plan.Columns[c]);
            if (rule.HasKey && colour == rule.Key)
                continue;
            const int x = plan.ClipLeft + static_cast<int>(c);
            if (!rule.PlainCopy || rule.CopyMode != cmSrcCopy) {
                const TRGBQuad current = DecodeValue(to, RawPixel(out, x, targetBits));
                colour = ApplyRop(rule.CopyMode, rule.Pattern, colour, current);
            }
            PutRawPixel(out, x, targetBits, EncodeValue(to, colour));
        }
    }
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
    TStretchPlan plan { from, target.UniqueImage() };

    const int sourceWidth = from.Header.Width, sourceHeight = std::abs(from.Header.Height);
    plan.SourceBits = from.Header.BitsPerPixel * from.Header.Planes;
    TStretchRule rule;
    if (DeviceBits <= 8 && DeviceBits < plan.SourceBits)
        rule.Mode = TStretchMode::smHalftone;
    else if (plan.SourceBits != 1)
        rule.Mode = TStretchMode::smColorOnColor;
    else
        rule.Mode = StretchMode;

    const std::int64_t width = std::abs(signedWidth), height = std::abs(signedHeight);
    const int left = std::min(rect.Left, rect.Right), top = std::min(rect.Top, rect.Bottom);
    const int clipLeft = std::max(0, left), clipRight = static_cast<int>(std::min<std::int64_t>(target.Width(), left + width));
    const int clipTop = std::max(0, top), clipBottom = static_cast<int>(std::min<std::int64_t>(target.Height(), top + height));
    if (clipLeft >= clipRight || clipTop >= clipBottom)
        return;
    plan.Columns = MakeSpans(left, width, signedWidth < 0, clipLeft, clipRight, sourceWidth);
    plan.Rows = MakeSpans(top, height, signedHeight < 0, clipTop, clipBottom, sourceHeight);
    plan.ClipLeft = clipLeft;
    plan.ClipTop = clipTop;
    plan.SourceRows.resize(static_cast<std::size_t>(sourceHeight));
    for (int y = 0; y < sourceHeight; ++y)
        plan.SourceRows[static_cast<std::size_t>(y)] = from.Pixels.data() + RowOffset(from, y);

    rule.CopyMode = CopyMode;
    rule.PlainCopy = CopyMode == cmSrcCopy && !source.Transparent;
    if (rule.Mode == TStretchMode::smColorOnColor && rule.PlainCopy && PlainTrueColour(plan.To)
        && (PlainTrueColour(from) || plan.SourceBits <= 8)) {
        CopyNearestBytes(plan);
        return;
    }
    if (source.Transparent) {
        rule.HasKey = true;
        if (source.TransparentMode == TTransparentMode::tmAuto || source.TransparentColor == clDefault)
            rule.Key = DecodeValue(from, RawPixel(plan.SourceRows.back(), 0, plan.SourceBits));
        else
            rule.Key = ColorToQuad(source.TransparentColor & 0xFFFFFF);
    }
    rule.Pattern = ColorToQuad(Brush.Color);
    if (rule.Mode == TStretchMode::smAndScans)
        plan.DarkValue = DarkerValue(from);
    StretchThroughColours(plan, rule);
}
