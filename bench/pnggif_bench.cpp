// PNG and GIF decoding: our readers beside libpng (8-bit BGR(A) rows) and giflib (index rows)
// on the same files, made once in memory at start-up.
#include "base/stream.h"
#include "bench/keptbuffer.h"
#include "imaging/gifgraphic.h"
#include "imaging/pnggraphic.h"
#include "tests/support/gifreference.h"
#include "tests/support/pngreference.h"

#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <png.h>

#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using TBytes = std::vector<std::uint8_t>;

// Photo-like content: smooth colour fields with fine noise, so that the encoder picks a mix of
// filters and the deflate stream is neither trivial nor incompressible.
std::uint8_t Sample(int x, int y, int channel, std::mt19937& random)
{
    const double value = 128 + 60 * std::sin(x * 0.013 + channel) + 50 * std::cos(y * 0.021 - channel * 0.7)
        + 15 * std::sin((x + y) * 0.11);
    return static_cast<std::uint8_t>(std::clamp(value + static_cast<int>(random() % 7) - 3, 0.0, 255.0));
}

TBytes MakePng(int width, int height, bool alpha, bool interlaced)
{
    pngref::TPngImage image;
    image.Width = width;
    image.Height = height;
    image.ColorType = alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB;
    image.Interlaced = interlaced;
    image.CompressionLevel = 6;
    const int channels = alpha ? 4 : 3;
    std::mt19937 random(static_cast<unsigned>(width * 31 + height));
    image.Rows.assign(height, TBytes(std::size_t(width) * channels));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c)
                image.Rows[y][std::size_t(x) * channels + c] =
                    c == 3 ? static_cast<std::uint8_t>(255 - (x + y) % 64) : Sample(x, y, c, random);
    return pngref::Encode(image);
}

TBytes MakeGif(int width, int height, bool interlaced)
{
    gifref::TGifImage image;
    image.Width = width;
    image.Height = height;
    image.Interlaced = interlaced;
    for (int i = 0; i < 256; ++i)
        image.Colors.push_back({ GifByteType(i), GifByteType(255 - i), GifByteType(i * 7) });
    std::mt19937 random(static_cast<unsigned>(width + height));
    image.Rows.assign(height, TBytes(width));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.Rows[y][x] = static_cast<std::uint8_t>(Sample(x, y, 0, random) / 4 * 4 + (Sample(x, y, 1, random) >> 6));
    return gifref::Encode(image);
}

struct TSize {
    int Width, Height;
};
const TSize Sizes[] = { { 1000, 1000 }, { 2000, 1500 }, { 4000, 3000 } }; // 1, 3 and 12 megapixels

const TBytes& PngFile(int size, bool alpha, bool interlaced)
{
    static std::map<int, TBytes> files;
    const int key = size * 4 + alpha * 2 + interlaced;
    auto& file = files[key];
    if (file.empty())
        file = MakePng(Sizes[size].Width, Sizes[size].Height, alpha, interlaced);
    return file;
}

const TBytes& GifFile(int size, bool interlaced)
{
    static std::map<int, TBytes> files;
    auto& file = files[size * 2 + interlaced];
    if (file.empty())
        file = MakeGif(Sizes[size].Width, Sizes[size].Height, interlaced);
    return file;
}

void SetLabel(benchmark::State& state, const TBytes& file, const char* kind)
{
    const auto& size = Sizes[state.range(0)];
    state.SetLabel(std::to_string(size.Width) + "x" + std::to_string(size.Height) + kind
        + (state.range(2) ? " interlaced" : "") + ", " + std::to_string(file.size() / 1024) + " KiB");
    state.SetItemsProcessed(state.iterations() * size.Width * size.Height);
}

// A reader made, loaded and freed, as the import does for each picture.
[[gnu::noinline]] std::uint8_t DecodeWithOurPng(TMemoryStream& stream)
{
    stream.SetPosition(0);
    TPNGGraphic png;
    png.LoadStream(stream);
    return png.RowAddress(0)[0];
}

[[gnu::noinline]] std::uint8_t DecodeWithOurGif(TMemoryStream& stream)
{
    stream.SetPosition(0);
    TGIFGraphic gif;
    gif.LoadStream(stream);
    return gif.RowAddress(0)[0];
}

void BM_PngOurs(benchmark::State& state)
{
    const auto& file = PngFile(static_cast<int>(state.range(0)), state.range(1) != 0, state.range(2) != 0);
    TMemoryStream stream(file);
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeWithOurPng(stream));
    SetLabel(state, file, state.range(1) ? " RGBA" : " RGB");
}

// The reference side's output, kept for the whole program.
std::uint8_t* KeptBuffer(std::size_t bytes)
{
    static TKeptBuffer buffer;
    return buffer.Reserve(bytes);
}

// libpng reading to 8-bit blue-green-red(-alpha) rows, 4-byte aligned as a bitmap keeps them.
[[gnu::noinline]] std::uint8_t* DecodeWithLibpng(const TBytes& file)
{
    const pngref::TPngReader read(file);
    png_structp png = read.Png();
    png_infop info = read.Info();
    png_read_info(png, info);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    // Rows 4-byte aligned, as a bitmap keeps them.
    const std::size_t stride = (rowBytes + 3) & ~std::size_t(3);
    std::uint8_t* pixels = KeptBuffer(stride * height);
    std::vector<png_bytep> rows(height);
    for (png_uint_32 y = 0; y < height; ++y)
        rows[y] = pixels + y * stride;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    return pixels;
}

void BM_PngLibpng(benchmark::State& state)
{
    const auto& file = PngFile(static_cast<int>(state.range(0)), state.range(1) != 0, state.range(2) != 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeWithLibpng(file));
    SetLabel(state, file, state.range(1) ? " RGBA" : " RGB");
}

void BM_GifOurs(benchmark::State& state)
{
    const auto& file = GifFile(static_cast<int>(state.range(0)), state.range(2) != 0);
    TMemoryStream stream(file);
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeWithOurGif(stream));
    SetLabel(state, file, " indexed");
}

// giflib's line interface: the first image's rows straight into a 4-byte aligned buffer.
[[gnu::noinline]] std::uint8_t* DecodeWithGiflib(const TBytes& file)
{
    const gifref::TGifReader reader(file);
    GifFileType* gif = reader.File();
    GifRecordType record;
    do
        DGifGetRecordType(gif, &record);
    while (record != IMAGE_DESC_RECORD_TYPE && record != TERMINATE_RECORD_TYPE);
    DGifGetImageDesc(gif);
    const int width = gif->Image.Width, height = gif->Image.Height;
    const std::size_t stride = (std::size_t(width) + 3) & ~std::size_t(3);
    std::uint8_t* pixels = KeptBuffer(stride * height);
    const int starts[] = { 0, 4, 2, 1 }, steps[] = { 8, 8, 4, 2 };
    const bool interlaced = gif->Image.Interlace;
    for (int pass = 0; pass < (interlaced ? 4 : 1); ++pass)
        for (int y = interlaced ? starts[pass] : 0; y < height; y += interlaced ? steps[pass] : 1)
            DGifGetLine(gif, pixels + y * stride, width);
    return pixels;
}

void BM_GifGiflib(benchmark::State& state)
{
    const auto& file = GifFile(static_cast<int>(state.range(0)), state.range(2) != 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeWithGiflib(file));
    SetLabel(state, file, " indexed");
}

void PngArguments(benchmark::internal::Benchmark* bench)
{
    bench->ArgNames({ "size", "alpha", "interlaced" });
    for (int size = 0; size < 3; ++size)
        for (int alpha = 0; alpha < 2; ++alpha)
            for (int interlaced = 0; interlaced < 2; ++interlaced)
                bench->Args({ size, alpha, interlaced });
    bench->Unit(benchmark::kMillisecond);
}

void GifArguments(benchmark::internal::Benchmark* bench)
{
    bench->ArgNames({ "size", "alpha", "interlaced" });
    for (int size = 0; size < 3; ++size)
        for (int interlaced = 0; interlaced < 2; ++interlaced)
            bench->Args({ size, 0, interlaced });
    bench->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(BM_PngOurs)->Apply(PngArguments);
BENCHMARK(BM_PngLibpng)->Apply(PngArguments);
BENCHMARK(BM_GifOurs)->Apply(GifArguments);
BENCHMARK(BM_GifGiflib)->Apply(GifArguments);

BENCHMARK_MAIN();
