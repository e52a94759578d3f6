// A cover pass over a generated corpus (300 JPEG and 60 PNG covers of 1000 x 1500) into a
// catalogue made for the run, beside the same thumbnails made straight with libjpeg-turbo and
// libpng. Reports files per second, the time split between decoding, drawing, encoding and
// database work, and the process's peak memory.
#include "app/importpass.h"
#include "app/thumbnailwriter.h"
#include "raster/canvas.h"
#include "raster/jpegimage.h"
#include "tests/app/importtestsupport.cpp" // files, catalogues: the tests' own helpers

#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <png.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>

using namespace importtest;

namespace {

constexpr int JpegCovers = 300;
constexpr int PngCovers = 60;
constexpr int CoverWidth = 1000;
constexpr int CoverHeight = 1500;

// A cover-like picture: smooth areas, edges and some texture, so that JPEG sizes are realistic.
TRgb CoverPixel(int x, int y, int seed)
{
    const int band = (y / 120 + seed) % 5;
    const auto noise = static_cast<std::uint8_t>((x * 13 + y * 7 + seed * 31) * 2654435761u >> 27);
    return { static_cast<std::uint8_t>(40 * band + x / 8 + noise),
        static_cast<std::uint8_t>(y / 6 + (x > 300 && x < 700 ? 60 : 0)),
        static_cast<std::uint8_t>(255 - y / 6 + noise) };
}

const std::string& CorpusFolder()
{
    static const std::string folder = [] {
        const std::string path = std::string(IBI_SOURCE_DIR) + "/bench/corpus/import/";
        const std::string complete = path + ".complete";
        if (!FileExists(complete)) {
            std::filesystem::create_directories(path);
            for (int i = 1; i <= JpegCovers + PngCovers; ++i) {
                const auto pixel = [i](int x, int y) { return CoverPixel(x, y, i); };
                if (i <= JpegCovers)
                    WriteJpeg(path + std::to_string(i) + "_1.jpg", CoverWidth, CoverHeight, pixel, 88);
                else
                    WritePng(path + std::to_string(i) + "_1.png", CoverWidth, CoverHeight, pixel);
            }
            WriteBytes(complete, "");
        }
        return path;
    }();
    return folder;
}

class TSilentFrontEnd : public TImportFrontEnd {
public:
    int KindIndex() override { return 2; }
    std::string ThumbsFolderText() override { return Thumbs; }
    void SetGoEnabled(bool) override {}
    void SetGoCaption(const std::string&) override {}
    void ProcessEvents() override {}
    void ShowMessage(const std::string& text) override { Messages += text + "\n"; }
    std::string Thumbs, Messages;
};

double PeakMegabytes()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

double Seconds(std::chrono::nanoseconds time) { return std::chrono::duration<double>(time).count(); }

void BM_ImportPass(benchmark::State& state)
{
    InitJPEGDefaults(TCanvas::DeviceBits);
    const std::string& corpus = CorpusFolder();
    TTempFolder folder;
    std::vector<TMovie> movies;
    for (int i = 1; i <= JpegCovers + PngCovers; ++i)
        movies.push_back({ i * 10, i });
    std::string reason;
    if (!CreateCatalogue(folder / "cat.fdb", movies, reason)) {
        state.SkipWithError(("no embedded Firebird: " + reason).c_str());
        return;
    }
    TSilentFrontEnd frontEnd;
    frontEnd.Thumbs = folder / "thumbs/";
    TImportRequest request;
    request.DatabaseFile = folder / "cat.fdb";
    request.ImageFolder = corpus;
    request.ThumbsFolder = frontEnd.Thumbs;
    request.KindIndex = 2;
    request.RemoveExisting = true;

    TImportStats total;
    for (auto _ : state) {
        state.PauseTiming();
        RunIsql(request.DatabaseFile, "DELETE FROM thumbnails;");
        state.ResumeTiming();
        const TImportResult result = RunImportPass(request, frontEnd);
        if (result.Outcome != TImportOutcome::ioCompleted) {
            state.SkipWithError(("pass failed: " + result.Message).c_str());
            return;
        }
        total.Entries += result.Stats.Imported;
        total.Thumbnails += result.Stats.Thumbnails;
        total.DecodeTime += result.Stats.DecodeTime;
        total.DrawTime += result.Stats.DrawTime;
        total.EncodeTime += result.Stats.EncodeTime;
        total.DatabaseTime += result.Stats.DatabaseTime;
    }
    const double passes = static_cast<double>(state.iterations());
    state.counters["files_per_s"] = benchmark::Counter(total.Entries, benchmark::Counter::kIsRate);
    state.counters["thumbnails"] = total.Thumbnails / passes;
    state.counters["decode_s"] = Seconds(total.DecodeTime) / passes;
    state.counters["draw_s"] = Seconds(total.DrawTime) / passes;
    state.counters["encode_s"] = Seconds(total.EncodeTime) / passes;
    state.counters["database_s"] = Seconds(total.DatabaseTime) / passes;
    state.counters["peak_MB"] = PeakMegabytes();
}
BENCHMARK(BM_ImportPass)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

// The reference: the same thumbnails with libjpeg-turbo and libpng directly, nearest-pixel
// sampling by a plain loop, quality 90.
std::vector<std::uint8_t> DecodeReference(const std::string& path, int& width, int& height)
{
    std::vector<std::uint8_t> pixels;
    const std::string bytes = ReadBytes(path);
    if (path.ends_with(".png")) {
        png_image image {};
        image.version = PNG_IMAGE_VERSION;
        png_image_begin_read_from_memory(&image, bytes.data(), bytes.size());
        image.format = PNG_FORMAT_RGB;
        pixels.resize(PNG_IMAGE_SIZE(image));
        png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr);
        width = int(image.width);
        height = int(image.height);
        return pixels;
    }
    jpeg_decompress_struct info {};
    jpeg_error_mgr errors {};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    width = int(info.output_width);
    height = int(info.output_height);
    pixels.resize(std::size_t(width) * height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &pixels[std::size_t(info.output_scanline) * width * 3];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return pixels;
}

void EncodeReference(const std::vector<std::uint8_t>& pixels, int width, int height, const std::string& path)
{
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_compress_struct info {};
    jpeg_error_mgr errors {};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = width;
    info.image_height = height;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<std::uint8_t*>(&pixels[std::size_t(info.next_scanline) * width * 3]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    WriteBytes(path, std::string(reinterpret_cast<char*>(buffer), size));
    std::free(buffer);
}

void BM_ReferenceThumbnails(benchmark::State& state)
{
    const std::string& corpus = CorpusFolder();
    TTempFolder folder;
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(corpus))
        if (entry.path().extension() == ".jpg" || entry.path().extension() == ".png")
            files.push_back(entry.path().string());
    std::chrono::nanoseconds decode {}, draw {}, encode {};
    std::int64_t done = 0;
    for (auto _ : state) {
        for (const std::string& file : files) {
            int width = 0, height = 0;
            std::vector<std::uint8_t> source;
            {
                const TStopwatch watch(&decode);
                source = DecodeReference(file, width, height);
            }
            std::vector<std::uint8_t> thumbnail;
            TThumbnailSize size;
            {
                const TStopwatch watch(&draw);
                size = ThumbnailSize(width, height);
                thumbnail.resize(std::size_t(size.Width) * size.Height * 3);
                for (int y = 0; y < size.Height; ++y) {
                    const std::uint8_t* sourceRow = &source[std::size_t(std::int64_t(y) * height / size.Height) * width * 3];
                    std::uint8_t* row = &thumbnail[std::size_t(y) * size.Width * 3];
                    for (int x = 0; x < size.Width; ++x)
                        std::memcpy(row + x * 3, sourceRow + std::int64_t(x) * width / size.Width * 3, 3);
                }
            }
            const TStopwatch watch(&encode);
            EncodeReference(thumbnail, size.Width, size.Height, folder / std::filesystem::path(file).stem().string() + ".jpg");
            ++done;
        }
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["files_per_s"] = benchmark::Counter(double(done), benchmark::Counter::kIsRate);
    state.counters["decode_s"] = Seconds(decode) / runs;
    state.counters["draw_s"] = Seconds(draw) / runs;
    state.counters["encode_s"] = Seconds(encode) / runs;
    state.counters["peak_MB"] = PeakMegabytes();
}
BENCHMARK(BM_ReferenceThumbnails)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

} // namespace
BENCHMARK_MAIN();
