// The JPEG image object beside libjpeg-turbo called directly: decoding 1 to 24 megapixel
// files into a bitmap, and encoding a 318 × 238 thumbnail at quality 90.
#include "base/stream.h"
#include "bench/keptbuffer.h"
#include "raster/bitmap.h"
#include "raster/jpegimage.h"
#include "tests/support/jpegreference.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>
#include <memory>
#include <vector>

namespace {

using jpegref::ErrorExit;
using jpegref::TErrorJump;

// Photograph-like content: soft gradients, a few hard edges and sensor-like noise, so that
// the entropy decoder has as much to do as on a real picture.
std::vector<std::uint8_t> PhotoPixels(int width, int height)
{
    std::vector<std::uint8_t> rgb(std::size_t(width) * height * 3);
    unsigned state = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = static_cast<int>(state >> 28) - 8;
            const bool edge = ((x / 97) + (y / 61)) % 5 == 0;
            const int base[3] = { x * 200 / width + 30, y * 180 / height + 40, (x + y) * 150 / (width + height) + 60 };
            std::uint8_t* pixel = &rgb[(std::size_t(y) * width + x) * 3];
            for (int c = 0; c < 3; ++c)
                pixel[c] = static_cast<std::uint8_t>(std::clamp(base[c] + noise + (edge ? 60 - 40 * c : 0), 0, 255));
        }
    return rgb;
}

// libjpeg-turbo's default compression of 3-component rows lying step bytes apart.
std::vector<std::uint8_t> Compress(const std::uint8_t* rows, std::ptrdiff_t step, int width, int height,
    J_COLOR_SPACE space, int quality)
{
    jpegref::TMakeSettings settings;
    settings.Width = width;
    settings.Height = height;
    settings.Quality = quality;
    std::vector<std::uint8_t> bytes = jpegref::EncodeRows(rows, step, settings, space);
    if (bytes.empty())
        std::abort();
    return bytes;
}

// One 4:3 file per size in megapixels, made once.
const std::vector<std::uint8_t>& PhotoFile(int megapixels)
{
    static std::map<int, std::vector<std::uint8_t>> files;
    auto& file = files[megapixels];
    if (file.empty()) {
        const int height = static_cast<int>(std::sqrt(megapixels * 1e6 * 3 / 4));
        const int width = height * 4 / 3;
        const auto rgb = PhotoPixels(width, height);
        file = Compress(rgb.data(), std::ptrdiff_t(width) * 3, width, height, JCS_RGB, 85);
    }
    return file;
}

// libjpeg-turbo alone: default settings, blue-green-red rows into a buffer with 4-byte aligned
// rows, as a bitmap has them. With zeroed set, the buffer is cleared first, as a bitmap's new
// pixel store is: the difference to the plain run is the cost of that clearing.
void LibraryDecodeInto(benchmark::State& state, bool zeroed)
{
    const auto& file = PhotoFile(static_cast<int>(state.range(0)));
    static TKeptBuffer pixels; // for the whole program, as the store pool keeps its blocks
    for (auto _ : state) {
        jpeg_decompress_struct info {};
        TErrorJump error;
        info.err = jpeg_std_error(&error.Pub);
        error.Pub.error_exit = ErrorExit;
        if (setjmp(error.Jump) != 0)
            std::abort();
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, file.data(), file.size());
        jpeg_read_header(&info, TRUE);
        info.out_color_space = JCS_EXT_BGR;
        jpeg_start_decompress(&info);
        const std::size_t rowBytes = (std::size_t(info.output_width) * 3 + 3) & ~std::size_t(3);
        std::uint8_t* out = pixels.Reserve(rowBytes * info.output_height);
        if (zeroed)
            std::memset(out, 0, rowBytes * info.output_height);
        while (info.output_scanline < info.output_height) {
            JSAMPROW rows[4];
            for (int i = 0; i < info.rec_outbuf_height && i < 4; ++i)
                rows[i] = out + rowBytes * (info.output_scanline + i);
            jpeg_read_scanlines(&info, rows, static_cast<JDIMENSION>(std::min(info.rec_outbuf_height, 4)));
        }
        jpeg_finish_decompress(&info);
        jpeg_destroy_decompress(&info);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
}

void LibraryDecode(benchmark::State& state) { LibraryDecodeInto(state, false); }
void LibraryDecodeZeroed(benchmark::State& state) { LibraryDecodeInto(state, true); }

// The object as image file loading uses it: read the bytes, copy the picture into a bitmap.
void ObjectDecode(benchmark::State& state)
{
    const auto& file = PhotoFile(static_cast<int>(state.range(0)));
    TMemoryStream stream(file);
    for (auto _ : state) {
        TJPEGImage image;
        stream.SetPosition(0);
        image.LoadStream(stream);
        TBitmap bitmap;
        bitmap.CopyContentFrom(image);
        benchmark::DoNotOptimize(std::as_const(bitmap).RowAddress(0)); // reading: no copy of the store
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
}


// A thumbnail bitmap as the thumbnail writer makes it: 24-bit, blue-green-red.
TBitmap& Thumbnail()
{
    static const std::unique_ptr<TBitmap> bitmap = [] {
        auto made = std::make_unique<TBitmap>();
        made->SetPixelLayout(TPixelLayout::pl24Bit);
        made->ResizeTo(318, 238);
        const auto rgb = PhotoPixels(318, 238);
        for (int y = 0; y < 238; ++y) {
            std::uint8_t* row = made->RowAddress(y);
            for (int x = 0; x < 318; ++x) {
                const std::uint8_t* pixel = &rgb[(std::size_t(y) * 318 + x) * 3];
                row[x * 3] = pixel[2];
                row[x * 3 + 1] = pixel[1];
                row[x * 3 + 2] = pixel[0];
            }
        }
        return made;
    }();
    return *bitmap;
}

void LibraryEncodeThumbnail(benchmark::State& state)
{
    const TBitmap& bitmap = Thumbnail();
    const std::uint8_t* first = bitmap.RowAddress(0);
    const std::ptrdiff_t step = bitmap.RowAddress(1) - first;
    for (auto _ : state)
        benchmark::DoNotOptimize(Compress(first, step, 318, 238, JCS_EXT_BGR, 90));
}

void ObjectEncodeThumbnail(benchmark::State& state)
{
    const TBitmap& bitmap = Thumbnail();
    for (auto _ : state) {
        TJPEGImage image;
        image.CopyContentFrom(bitmap);
        TMemoryStream stream;
        image.SaveStream(stream);
        benchmark::DoNotOptimize(stream.Memory());
    }
}

} // namespace

// Each size runs the library and the object back to back, so that a busy machine weighs on
// both alike.
int main(int argc, char** argv)
{
    for (int megapixels : { 1, 4, 12, 24 }) {
        benchmark::RegisterBenchmark("LibraryDecode", LibraryDecode)->Arg(megapixels)->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark("ObjectDecode", ObjectDecode)->Arg(megapixels)->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark("LibraryDecodeZeroed", LibraryDecodeZeroed)->Arg(megapixels)->Unit(benchmark::kMillisecond)->UseRealTime();
    }
    benchmark::RegisterBenchmark("LibraryEncodeThumbnail", LibraryEncodeThumbnail)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("ObjectEncodeThumbnail", ObjectEncodeThumbnail)->Unit(benchmark::kMicrosecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
