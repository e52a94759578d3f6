#include "raster/thumbnaildrawing.h"

#include "raster/boxfilter.h"
#include "raster/canvas.h"
#include "raster/pixels.h"

#include <algorithm>
#include <cstring>
#include <vector>

using namespace pixels;

namespace {

// colour × alpha + white × (1 - alpha), rounded to nearest.
std::uint8_t OverWhite(unsigned colour, unsigned alpha)
{
    return static_cast<std::uint8_t>((colour * alpha + 255 * (255 - alpha) + 127) / 255);
}

TRGBQuad OverWhite(TRGBQuad colour, unsigned alpha)
{
    return { OverWhite(colour.Blue, alpha), OverWhite(colour.Green, alpha), OverWhite(colour.Red, alpha), 0 };
}

} // namespace

TRGBQuad ShownColour(const TBitmapImage& image, std::uint32_t value)
{
    switch (image.Alpha) {
    case TAlphaForm::afStraight:
        return OverWhite(DecodeValue(image, value), value >> 24);
    case TAlphaForm::afPremultiplied: {
        // the colour is already scaled by alpha: white's share is added
        const unsigned white = 255 - (value >> 24);
        const auto add = [&](unsigned sample) { return static_cast<std::uint8_t>(std::min(255u, sample + white)); };
        const TRGBQuad c = DecodeValue(image, value);
        return { add(c.Blue), add(c.Green), add(c.Red), 0 };
    }
    case TAlphaForm::afIndexed:
        return OverWhite(DecodeValue(image, value), value < image.IndexAlpha.size() ? image.IndexAlpha[value] : 255);
    case TAlphaForm::afKey: {
        const TRGBQuad c = DecodeValue(image, value);
        return c == image.Key ? TRGBQuad { 255, 255, 255, 0 } : c;
    }
    case TAlphaForm::afNone:
        break;
    }
    return DecodeValue(image, value);
}

namespace {

// The source pixel under the centre of each of count destination pixels.
std::vector<int> NearestPixels(int count, int sourceCount)
{
    std::vector<int> nearest(static_cast<std::size_t>(count));
    for (int d = 0; d < count; ++d)
        nearest[static_cast<std::size_t>(d)] = static_cast<int>((2 * std::int64_t(d) + 1) * sourceCount / (2 * std::int64_t(count)));
    return nearest;
}

// Nearest-pixel sampling as the canvas does it, each sample blended over white.
void DrawBlended(const TBitmapImage& from, TBitmap& thumbnail)
{
    const int bits = from.Header.BitsPerPixel;
    const std::vector<int> columns = NearestPixels(thumbnail.Width(), from.Header.Width);
    const std::vector<int> rows = NearestPixels(thumbnail.Height(), std::abs(from.Header.Height));
    for (int y = 0; y < thumbnail.Height(); ++y) {
        std::uint8_t* out = thumbnail.RowAddress(y);
        const std::shared_ptr<const TBitmapImage> to = thumbnail.Image();
        const int targetBits = to->Header.BitsPerPixel;
        const std::uint8_t* in = from.Pixels.data() + RowOffset(from, rows[static_cast<std::size_t>(y)]);
        for (int x = 0; x < thumbnail.Width(); ++x)
            PutRawPixel(out, x, targetBits, EncodeValue(*to, ShownColour(from, RawPixel(in, columns[static_cast<std::size_t>(x)], bits))));
    }
}

} // namespace

void DrawThumbnail(const TBitmap& picture, TBitmap& thumbnail, TThumbnailSampling sampling)
{
    const std::shared_ptr<const TBitmapImage> image = picture.Image();
    if (sampling == TThumbnailSampling::tsSmooth && image && image->HasPixels() && !thumbnail.IsEmpty()) {
        DrawAreaAverage(*image, thumbnail);
        return;
    }
    if (!image || image->Alpha == TAlphaForm::afNone || picture.IsEmpty() || thumbnail.IsEmpty()) {
        thumbnail.Canvas().DrawStretched(TRect { 0, 0, thumbnail.Width(), thumbnail.Height() }, &picture);
        return;
    }
    if (image->Header.BitsPerPixel != 1) {
        DrawBlended(*image, thumbnail);
        return;
    }
    // Two colours: their table over white, so that the darker one still wins in the stretch.
    TColorTable table(2);
    for (std::uint32_t value = 0; value < 2; ++value)
        table[value] = ShownColour(*image, value);
    TBitmap opaque;
    opaque.NewImage(image->Header, table, TStoreFill::sfUnset);
    for (int y = 0; y < picture.Height(); ++y)
        std::memcpy(opaque.RowAddress(y), image->Pixels.data() + RowOffset(*image, y), image->RowBytes());
    thumbnail.Canvas().DrawStretched(TRect { 0, 0, thumbnail.Width(), thumbnail.Height() }, &opaque);
}
