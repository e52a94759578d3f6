// TIFF decoding, ours beside libtiff: RGB files of 1 to 12 megapixels, LZW and Deflate (with
// the horizontal predictor, as such files are usually written) and uncompressed. The libtiff
// side reads every strip with TIFFReadEncodedStrip and turns the rows into 4-byte aligned
// blue, green, red rows, the work our reader does into its bitmap.
#include "base/stream.h"
#include "bench/keptbuffer.h"
#include "imaging/tiffgraphic.h"
#include "tests/support/tiffreference.h"

#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace {

using namespace tifftest;

struct TSize {
    std::uint32_t Width, Height;
};
constexpr TSize Sizes[] = { { 1000, 1000 }, { 2000, 2000 }, { 4000, 3000 } };

// A photograph-like picture: smooth gradients with a little noise.
std::vector<std::uint8_t> Picture(std::uint32_t width, std::uint32_t height)
{
    std::vector<std::uint8_t> pixels(std::size_t(width) * height * 3);
    std::uint32_t state = 12345;
    std::size_t i = 0;
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            const unsigned noise = state >> 28;
            pixels[i++] = std::uint8_t(x * 255 / width + noise);
            pixels[i++] = std::uint8_t(y * 255 / height + (noise >> 1));
            pixels[i++] = std::uint8_t((x + y) * 127 / (width + height) + 64 + noise);
        }
    return pixels;
}

const std::vector<std::uint8_t>& File(std::uint16_t compression, int sizeIndex)
{
    static std::map<std::pair<std::uint16_t, int>, std::vector<std::uint8_t>> files;
    auto& file = files[{ compression, sizeIndex }];
    if (file.empty()) {
        TTiffPlan plan;
        plan.Width = Sizes[sizeIndex].Width;
        plan.Height = Sizes[sizeIndex].Height;
        plan.SamplesPerPixel = 3;
        plan.Photometric = PHOTOMETRIC_RGB;
        plan.Compression = compression;
        plan.Predictor = compression == COMPRESSION_NONE ? 0 : 2;
        plan.RowsPerStrip = 16;
        plan.Samples = Picture(plan.Width, plan.Height);
        file = WriteTiff(plan);
    }
    return file;
}

void Ours(benchmark::State& state, std::uint16_t compression)
{
    const auto& file = File(compression, int(state.range(0)));
    TMemoryStream stream(file);
    for (auto _ : state) {
        stream.SetPosition(0);
        TTIFFGraphic tiff;
        tiff.LoadStream(stream);
        benchmark::DoNotOptimize(tiff.RowAddress(0));
    }
    state.SetLabel(std::to_string(Sizes[state.range(0)].Width * Sizes[state.range(0)].Height / 1000000) + " MP");
}

void LibTiff(benchmark::State& state, std::uint16_t compression, bool zlibOnly = false)
{
    const auto& file = File(compression, int(state.range(0)));
    QuietLibTiff();
    static TKeptBuffer kept; // for the whole program, as the store pool keeps its blocks
    for (auto _ : state) {
        const TTiffInMemory memory(file); // read in place: one copy serves every round, as on our side
        TIFF* tif = memory.Tiff();
        if (zlibOnly) // libtiff decodes whole Deflate strips with libdeflate unless told otherwise
            TIFFSetField(tif, TIFFTAG_DEFLATE_SUBCODEC, DEFLATE_SUBCODEC_ZLIB);
        std::uint32_t width = 0, height = 0, rowsPerStrip = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        const std::size_t rowBytes = std::size_t(width) * 3;
        const std::size_t bitmapRow = (rowBytes + 3) & ~std::size_t(3);
        std::uint8_t* bitmap = kept.Reserve(bitmapRow * height);
        std::vector<std::uint8_t> strip(TIFFStripSize(tif));
        for (std::uint32_t row = 0, index = 0; row < height; row += rowsPerStrip, ++index) {
            const std::uint32_t rows = std::min(rowsPerStrip, height - row);
            TIFFReadEncodedStrip(tif, index, strip.data(), tmsize_t(rows * rowBytes));
            for (std::uint32_t r = 0; r < rows; ++r) {
                const std::uint8_t* source = strip.data() + r * rowBytes;
                std::uint8_t* target = bitmap + std::size_t(row + r) * bitmapRow;
                for (std::uint32_t x = 0; x < width; ++x) {
                    target[0] = source[2];
                    target[1] = source[1];
                    target[2] = source[0];
                    source += 3;
                    target += 3;
                }
            }
        }
        benchmark::DoNotOptimize(bitmap);
    }
    state.SetLabel(std::to_string(Sizes[state.range(0)].Width * Sizes[state.range(0)].Height / 1000000) + " MP");
}

} // namespace

BENCHMARK_CAPTURE(Ours, LZW, std::uint16_t(COMPRESSION_LZW))->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LibTiff, LZW, std::uint16_t(COMPRESSION_LZW))->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours, Deflate, std::uint16_t(COMPRESSION_ADOBE_DEFLATE))->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LibTiff, Deflate, std::uint16_t(COMPRESSION_ADOBE_DEFLATE))->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LibTiff, DeflateOverZlib, std::uint16_t(COMPRESSION_ADOBE_DEFLATE), true)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours, None, std::uint16_t(COMPRESSION_NONE))->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LibTiff, None, std::uint16_t(COMPRESSION_NONE))->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
