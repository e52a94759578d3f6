// Decoding speed of our TIFF LZW and PackBits codecs beside libtiff's decoding of the same
// strip, and of our GIF LZW codec beside giflib's.
#include "imaging/codecs/giflzw.h"
#include "imaging/codecs/packbits.h"
#include "imaging/codecs/tifflzw.h"
#include "tests/support/gifreference.h"

#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using TBytes = std::vector<std::uint8_t>;

constexpr std::uint32_t Width = 2048;
constexpr std::uint32_t Height = 1024;
constexpr int Samples = 3;

// A picture between a photograph and a drawing: gradients, flat areas and some noise
// (noiseLevel 0: a clean drawing, long strings; 3: short strings).
TBytes TestPicture(int noiseLevel = 3)
{
    std::mt19937 random(1);
    std::uniform_int_distribution<int> noise(0, noiseLevel);
    TBytes pixels(std::size_t(Width) * Height * Samples);
    for (std::uint32_t y = 0; y < Height; ++y)
        for (std::uint32_t x = 0; x < Width; ++x)
            for (int sample = 0; sample < Samples; ++sample) {
                const bool flat = (x / 128 + y / 128) % 3 == 0;
                const int value = flat ? 40 * sample : int(x / 4 + y / 8 * (sample + 1)) + noise(random);
                pixels[(std::size_t(y) * Width + x) * Samples + sample] = static_cast<std::uint8_t>(value);
            }
    return pixels;
}

// A one-strip TIFF written by libtiff, kept open for reading.
class TTiffStrip {
public:
    explicit TTiffStrip(std::uint16_t compression, int noiseLevel = 3)
    {
        char pattern[] = "/tmp/codecsbench-XXXXXX";
        const int handle = mkstemp(pattern);
        if (handle < 0)
            throw std::runtime_error("mkstemp");
        close(handle);
        FPath = pattern;
        TIFF* out = TIFFOpen(FPath.c_str(), "w");
        TIFFSetField(out, TIFFTAG_IMAGEWIDTH, Width);
        TIFFSetField(out, TIFFTAG_IMAGELENGTH, Height);
        TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, Samples);
        TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(out, TIFFTAG_COMPRESSION, compression);
        TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, Height);
        TBytes pixels = TestPicture(noiseLevel);
        TIFFWriteEncodedStrip(out, 0, pixels.data(), static_cast<tmsize_t>(pixels.size()));
        TIFFClose(out);
        FTiff = TIFFOpen(FPath.c_str(), "r");
        Raw.resize(static_cast<std::size_t>(TIFFRawStripSize(FTiff, 0)));
        TIFFReadRawStrip(FTiff, 0, Raw.data(), static_cast<tmsize_t>(Raw.size()));
        StripSize = static_cast<std::size_t>(TIFFStripSize(FTiff));
    }
    ~TTiffStrip()
    {
        TIFFClose(FTiff);
        std::remove(FPath.c_str());
    }
    tmsize_t ReadWithLibtiff(std::uint8_t* output) { return TIFFReadEncodedStrip(FTiff, 0, output, static_cast<tmsize_t>(StripSize)); }

    TBytes Raw;
    std::size_t StripSize = 0;

private:
    std::string FPath;
    TIFF* FTiff = nullptr;
};

template <class TDecoderClass>
void Ours(benchmark::State& state, std::uint16_t compression)
{
    TTiffStrip strip(compression, int(state.range(0)));
    TBytes output(strip.StripSize);
    TBytes input = strip.Raw;
    for (auto _ : state) {
        TDecoderClass decoder;
        std::uint8_t* source = input.data();
        std::uint8_t* dest = output.data();
        decoder.DecodeData(source, dest, input.size(), output.size());
        benchmark::DoNotOptimize(output.data());
    }
    TBytes reference(strip.StripSize);
    strip.ReadWithLibtiff(reference.data());
    if (reference != output)
        state.SkipWithError("our decoding differs from libtiff's");
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(output.size()));
}

void Libtiff(benchmark::State& state, std::uint16_t compression)
{
    TTiffStrip strip(compression, int(state.range(0)));
    TBytes output(strip.StripSize);
    for (auto _ : state) {
        if (strip.ReadWithLibtiff(output.data()) < 0)
            state.SkipWithError("libtiff failed");
        benchmark::DoNotOptimize(output.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(output.size()));
}

void TIFFLZW_Ours(benchmark::State& state) { Ours<TTIFFLZWDecoder>(state, COMPRESSION_LZW); }
void TIFFLZW_Libtiff(benchmark::State& state) { Libtiff(state, COMPRESSION_LZW); }
void PackBits_Ours(benchmark::State& state) { Ours<TPackbitsRLEDecoder>(state, COMPRESSION_PACKBITS); }
void PackBits_Libtiff(benchmark::State& state) { Libtiff(state, COMPRESSION_PACKBITS); }

// Argument: noise level of the picture.
BENCHMARK(TIFFLZW_Ours)->Arg(3)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(TIFFLZW_Libtiff)->Arg(3)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(PackBits_Ours)->Arg(3)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(PackBits_Libtiff)->Arg(3)->Arg(0)->Unit(benchmark::kMillisecond);

// GIF: a 256-colour picture of the same kind, encoded by giflib into memory.
struct TGifFile {
    TBytes File;
    TBytes Indices;
    TBytes Data; // the image's sub-block data gathered into one block
    int CodeSize = 0;
};

TGifFile MakeGif()
{
    TGifFile gif;
    const TBytes picture = TestPicture();
    gif.Indices.resize(std::size_t(Width) * Height);
    for (std::size_t index = 0; index < gif.Indices.size(); ++index)
        gif.Indices[index] = static_cast<std::uint8_t>(picture[index * 3] / 4 + picture[index * 3 + 1] % 4 * 64);
    gifref::TGifImage image;
    image.Width = Width;
    image.Height = Height;
    image.Version89 = false;
    image.Colors.resize(256);
    for (std::uint32_t y = 0; y < Height; ++y)
        image.Rows.emplace_back(gif.Indices.begin() + std::ptrdiff_t(y) * Width, gif.Indices.begin() + std::ptrdiff_t(y + 1) * Width);
    gif.File = gifref::Encode(image);
    gif.Data = gifref::FirstImageData(gif.File, image.Colors.size(), gif.CodeSize);
    return gif;
}

void GIFLZW_Ours(benchmark::State& state)
{
    TGifFile gif = MakeGif();
    TBytes output(gif.Indices.size());
    for (auto _ : state) {
        TGIFLZWDecoder decoder(static_cast<std::uint8_t>(gif.CodeSize));
        std::uint8_t* source = gif.Data.data();
        std::uint8_t* dest = output.data();
        decoder.DecodeData(source, dest, gif.Data.size(), output.size());
        benchmark::DoNotOptimize(output.data());
    }
    if (output != gif.Indices)
        state.SkipWithError("our decoding differs");
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(output.size()));
}

// giflib reading the image from memory: sub-blocks and decoding, as it always does both.
void GIFLZW_Giflib(benchmark::State& state)
{
    TGifFile gif = MakeGif();
    TBytes output(gif.Indices.size());
    for (auto _ : state) {
        const gifref::TGifReader reader(gif.File);
        GifFileType* in = reader.File();
        GifRecordType record;
        while (DGifGetRecordType(in, &record) == GIF_OK && record != IMAGE_DESC_RECORD_TYPE) {
        }
        DGifGetImageDesc(in);
        for (std::uint32_t y = 0; y < Height; ++y)
            DGifGetLine(in, output.data() + std::size_t(y) * Width, Width);
        benchmark::DoNotOptimize(output.data());
    }
    if (output != gif.Indices)
        state.SkipWithError("giflib's decoding differs");
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(output.size()));
}

BENCHMARK(GIFLZW_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(GIFLZW_Giflib)->Unit(benchmark::kMillisecond);

}

BENCHMARK_MAIN();
