#include "raster/boxfilter.h"

#include "raster/pixels.h"
#include "raster/thumbnaildrawing.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace pixels;

namespace {

// Weights are fixed point: the weights of one thumbnail pixel sum to exactly WeightOne.
constexpr int WeightBits = 16;
constexpr std::uint64_t WeightOne = std::uint64_t(1) << WeightBits;

// The picture pixels each thumbnail pixel covers along one side: the first, and the weight of
// each from there on.
struct TCoverage {
    std::vector<std::int32_t> First;  // by thumbnail pixel
    std::vector<std::uint32_t> Start; // where its weights start in Weights; one more at the end
    std::vector<std::uint32_t> Weights;
};

// In units of 1/count picture pixel, thumbnail pixel t covers [t × sourceCount, (t + 1) ×
// sourceCount) and picture pixel s covers [s × count, (s + 1) × count). A weight is the
// overlap over sourceCount; the running sums are rounded, not the weights, so that no
// rounding error piles up along the way.
TCoverage Coverage(int count, int sourceCount)
{
    TCoverage coverage;
    const std::int64_t n = count, m = sourceCount;
    coverage.First.resize(static_cast<std::size_t>(n));
    coverage.Start.resize(static_cast<std::size_t>(n) + 1);
    coverage.Weights.reserve(static_cast<std::size_t>(n + m));
    for (std::int64_t t = 0; t < n; ++t) {
        const std::int64_t begin = t * m, end = begin + m;
        const std::int64_t first = begin / n, last = (end - 1) / n;
        coverage.First[static_cast<std::size_t>(t)] = static_cast<std::int32_t>(first);
        coverage.Start[static_cast<std::size_t>(t)] = static_cast<std::uint32_t>(coverage.Weights.size());
        std::int64_t covered = 0;
        std::uint64_t given = 0;
        for (std::int64_t s = first; s <= last; ++s) {
            covered += std::min(end, (s + 1) * n) - std::max(begin, s * n);
            const std::uint64_t upTo = (static_cast<std::uint64_t>(covered) * WeightOne + static_cast<std::uint64_t>(m / 2))
                / static_cast<std::uint64_t>(m);
            coverage.Weights.push_back(static_cast<std::uint32_t>(upTo - given));
            given = upTo;
        }
    }
    coverage.Start[static_cast<std::size_t>(n)] = static_cast<std::uint32_t>(coverage.Weights.size());
    return coverage;
}

// The picture's rows as they show over white: blue, green, red at the start of every Step()
// bytes. Opaque 24- and 32-bit rows are read in place, the others converted into a row of
// their own.
class TShownRows {
public:
    explicit TShownRows(const TBitmapImage& image) : FImage(image), FBits(image.Header.BitsPerPixel)
    {
        const bool plain = image.Header.Compression == TBitmapCompression::bcPlain;
        if (image.Alpha == TAlphaForm::afNone && (FBits == 24 || (FBits == 32 && plain))) {
            FStep = FBits / 8;
            return;
        }
        FStep = 3;
        FRow.resize(3 * static_cast<std::size_t>(image.Header.Width));
        if (FBits <= 8) { // every value's colour once
            FTable.resize(std::size_t(1) << FBits);
            for (std::uint32_t value = 0; value < FTable.size(); ++value)
                FTable[value] = ShownColour(image, value);
        }
        FStraight = FBits == 32 && plain && image.Alpha == TAlphaForm::afStraight;
    }

    int Step() const { return FStep; }

    const std::uint8_t* Row(int y)
    {
        const std::uint8_t* in = FImage.Pixels.data() + RowOffset(FImage, y);
        if (FRow.empty())
            return in;
        const int width = FImage.Header.Width;
        std::uint8_t* out = FRow.data();
        if (!FTable.empty()) {
            for (int x = 0; x < width; ++x, out += 3)
                Put(out, FTable[FBits == 8 ? in[x] : RawPixel(in, x, FBits)]);
        } else if (FStraight) {
            for (int x = 0; x < width; ++x, in += 4, out += 3) {
                const unsigned alpha = in[3], white = 255 * (255 - alpha) + 127;
                for (int c = 0; c < 3; ++c)
                    out[c] = static_cast<std::uint8_t>((in[c] * alpha + white) / 255);
            }
        } else {
            for (int x = 0; x < width; ++x, out += 3)
                Put(out, ShownColour(FImage, RawPixel(in, x, FBits)));
        }
        return FRow.data();
    }

private:
    static void Put(std::uint8_t* out, TRGBQuad colour)
    {
        out[0] = colour.Blue;
        out[1] = colour.Green;
        out[2] = colour.Red;
    }

    const TBitmapImage& FImage;
    int FBits;
    int FStep = 3;
    bool FStraight = false;
    std::vector<std::uint8_t> FRow;
    std::vector<TRGBQuad> FTable;
};

// The summed rows averaged along their length: three samples a thumbnail pixel. The sums are
// at most 255 × WeightOne; 8 bits of their fraction are kept, so that a weighted sum of them
// fits 32 bits too.
template <int Step>
void AverageAlong(const std::uint32_t* sums, const TCoverage& columns, std::uint32_t* out)
{
    const std::uint32_t* weight = columns.Weights.data();
    for (std::size_t x = 0; x < columns.First.size(); ++x, out += 3) {
        const std::uint32_t* pixel = sums + static_cast<std::ptrdiff_t>(columns.First[x]) * Step;
        const std::uint32_t* const end = columns.Weights.data() + columns.Start[x + 1];
        std::uint32_t blue = 0, green = 0, red = 0; // at most 65280 × WeightOne
        for (; weight != end; ++weight, pixel += Step) {
            blue += ((pixel[0] + 128) >> 8) * *weight;
            green += ((pixel[1] + 128) >> 8) * *weight;
            red += ((pixel[2] + 128) >> 8) * *weight;
        }
        out[0] = blue;
        out[1] = green;
        out[2] = red;
    }
}

} // namespace

void DrawAreaAverage(const TBitmapImage& picture, TBitmap& thumbnail)
{
    const int width = thumbnail.Width();
    const TCoverage columns = Coverage(width, picture.Header.Width);
    const TCoverage rows = Coverage(thumbnail.Height(), std::abs(picture.Header.Height));
    TShownRows shown(picture);
    const int step = shown.Step();
    // Down the columns first, a whole row at a time: a plain loop over the row's bytes that the
    // compiler vectorises. Along the rows then only once per thumbnail row.
    const std::size_t rowSamples = static_cast<std::size_t>(step) * static_cast<std::size_t>(picture.Header.Width);
    std::vector<std::uint32_t> sums(rowSamples);
    std::vector<std::uint32_t> along(3 * static_cast<std::size_t>(width));
    int shownRow = -1; // the picture row Row() converted last
    const std::uint8_t* row = nullptr;
    const std::uint32_t* weight = rows.Weights.data();
    for (int y = 0; y < thumbnail.Height(); ++y) {
        std::fill(sums.begin(), sums.end(), 0u);
        int source = rows.First[static_cast<std::size_t>(y)];
        for (const std::uint32_t* end = rows.Weights.data() + rows.Start[static_cast<std::size_t>(y) + 1]; weight != end;
             ++weight, ++source) {
            if (source != shownRow) { // a row shared with the thumbnail row above is converted once
                row = shown.Row(source);
                shownRow = source;
            }
            const std::uint32_t share = *weight;
            std::uint32_t* sum = sums.data();
            for (std::size_t i = 0; i < rowSamples; ++i)
                sum[i] += row[i] * share;
        }
        if (step == 4)
            AverageAlong<4>(sums.data(), columns, along.data());
        else
            AverageAlong<3>(sums.data(), columns, along.data());
        std::uint8_t* out = thumbnail.RowAddress(y);
        const std::shared_ptr<const TBitmapImage> target = thumbnail.Image();
        const int bits = target->Header.BitsPerPixel;
        const bool direct = bits == 32 && target->Header.Compression == TBitmapCompression::bcPlain
            && target->ColorTable.empty();
        for (int x = 0; x < width; ++x) {
            const std::uint32_t* sum = along.data() + 3 * static_cast<std::size_t>(x);
            const TRGBQuad colour { static_cast<std::uint8_t>((sum[0] + (1u << 23)) >> 24),
                static_cast<std::uint8_t>((sum[1] + (1u << 23)) >> 24), static_cast<std::uint8_t>((sum[2] + (1u << 23)) >> 24), 0 };
            if (direct) {
                std::uint8_t* pixel = out + 4 * x;
                pixel[0] = colour.Blue;
                pixel[1] = colour.Green;
                pixel[2] = colour.Red;
                pixel[3] = 0;
            } else {
                PutRawPixel(out, x, bits, EncodeValue(*target, colour));
            }
        }
    }
}
