// The thumbnail drawing path: nearest-pixel stretching of a decoded picture onto the 32-bit
// thumbnail surface, and BMP loading. No reference library scales or reads BMP files, so the
// stretch is timed beside a straightforward per-pixel version of the same rule.
#include "base/stream.h"
#include "raster/bitmap.h"
#include "raster/canvas.h"

#include <benchmark/benchmark.h>

namespace {

void MakePicture(TBitmap& bitmap, TPixelLayout layout, int width, int height)
{
    bitmap.SetPixelLayout(layout);
    bitmap.ResizeTo(width, height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = bitmap.RowAddress(y);
        for (std::size_t i = 0; i < bitmap.RowBytes(); ++i)
            row[i] = static_cast<std::uint8_t>(i * 7 + y * 3);
    }
}

void BM_StretchOurs(benchmark::State& state, TPixelLayout layout)
{
    TBitmap source;
    MakePicture(source, layout, 1600, 1200);
    TBitmap thumbnail;
    thumbnail.ResizeTo(318, 238);
    for (auto _ : state) {
        thumbnail.Canvas().DrawStretched({ 0, 0, 318, 238 }, &source);
        benchmark::DoNotOptimize(thumbnail.Image().get());
    }
    state.SetItemsProcessed(state.iterations() * 318 * 238);
}

// The same rule written plainly: one colour look-up and one store per destination pixel.
void BM_StretchPerPixel(benchmark::State& state, TPixelLayout layout)
{
    TBitmap source;
    MakePicture(source, layout, 1600, 1200);
    TBitmap thumbnail;
    thumbnail.SetPixelLayout(TPixelLayout::pl32Bit);
    thumbnail.ResizeTo(318, 238);
    for (auto _ : state) {
        for (int y = 0; y < 238; ++y) {
            std::uint8_t* row = thumbnail.RowAddress(y);
            const int sy = static_cast<int>((y + 0.5) * 1200 / 238);
            for (int x = 0; x < 318; ++x) {
                const TRGBQuad c = source.Pixel(static_cast<int>((x + 0.5) * 1600 / 318), sy);
                row[4 * x] = c.Blue;
                row[4 * x + 1] = c.Green;
                row[4 * x + 2] = c.Red;
                row[4 * x + 3] = 0;
            }
        }
        benchmark::DoNotOptimize(thumbnail.Image().get());
    }
    state.SetItemsProcessed(state.iterations() * 318 * 238);
}

BENCHMARK_CAPTURE(BM_StretchOurs, rgb24, TPixelLayout::pl24Bit);
BENCHMARK_CAPTURE(BM_StretchPerPixel, rgb24, TPixelLayout::pl24Bit);
BENCHMARK_CAPTURE(BM_StretchOurs, pal8, TPixelLayout::pl8Bit);
BENCHMARK_CAPTURE(BM_StretchPerPixel, pal8, TPixelLayout::pl8Bit);

void BM_BmpLoad24(benchmark::State& state)
{
    TBitmap picture;
    MakePicture(picture, TPixelLayout::pl24Bit, 1600, 1200);
    TMemoryStream file;
    picture.SaveStream(file);
    for (auto _ : state) {
        file.SetPosition(0);
        TBitmap loaded;
        loaded.LoadStream(file);
        benchmark::DoNotOptimize(loaded.Image().get());
    }
    state.SetBytesProcessed(state.iterations() * file.Size());
}
BENCHMARK(BM_BmpLoad24);

void BM_ConvertDeviceTo24(benchmark::State& state)
{
    TBitmap thumbnail;
    MakePicture(thumbnail, TPixelLayout::pl32Bit, 318, 238);
    for (auto _ : state) {
        TBitmap copy;
        copy.CopyContentFrom(thumbnail);
        copy.SetPixelLayout(TPixelLayout::pl24Bit);
        benchmark::DoNotOptimize(copy.Image().get());
    }
}
BENCHMARK(BM_ConvertDeviceTo24);

} // namespace
BENCHMARK_MAIN();
