// Smooth thumbnails over the bench corpus (bench/passcorpus.h): speed beside the nearest-pixel
// pass and beside vipsthumbnail, and quality against an exact area average.
//   BM_SmoothRounds/R/A  R rounds, each running the headless "import --kind both" program
//                        twice on fresh copies of the catalogue, nearest-pixel and --smooth (the
//                        order alternating from round to round), then vipsthumbnail making
//                        thumbnails of the same sizes (--size WxH!, quality 90) of the same
//                        files, one run per size with every file of that size. A = 1: the
//                        catalogue switched to asynchronous writes; 0: as made. Wall and
//                        processor time of every program, and the ratios within each round,
//                        whose medians close the run. Skips vipsthumbnail when it is absent.
//   BM_JpegScaleCeiling/R libjpeg-turbo alone decoding the corpus JPEGs whole and at the scale
//                        of their smooth thumbnails: the most DCT scaling can save.
//   BM_SmoothQuality     PSNR of the thumbnails against a reference made by area averaging the
//                        whole decoded picture (blended over white as thumbnails are) in
//                        floating point: the smooth and the nearest-pixel thumbnails as drawn,
//                        and the smooth ones once more after their JPEG encoding.
#include "app/imagefileload.h"
#include "app/importpass.h"
#include "app/thumbnailwriter.h"
#include "base/filestream.h"
#include "bench/passcorpus.h"
#include "raster/bitmap.h"
#include "raster/canvas.h"
#include "raster/jpegimage.h"
#include "raster/orientation.h"
#include "raster/thumbnaildrawing.h"
#include "tests/support/areaaverage.h"
#include "tests/support/catalogue.h"
#include "tests/support/files.h"
#include "tests/support/jpegreference.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <limits>
#include <map>
#include <stdexcept>

using namespace benchcorpus;
namespace fs = std::filesystem;

namespace {

using testsupport::TFloatPicture;
using testsupport::TTempFolder;

// The first vipsthumbnail on the PATH, "" when there is none.
std::string VipsThumbnailPath()
{
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin";
    for (std::size_t start = 0; start <= folders.size();) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate = folders.substr(start, end - start) + "/vipsthumbnail";
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

struct TChildRun {
    int Status = -1;
    double Seconds = 0;    // wall
    double CpuSeconds = 0; // user and system
};

TChildRun RunProgram(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    TChildRun run;
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        if (std::freopen("/dev/null", "w", stdout) == nullptr || std::freopen("/dev/null", "w", stderr) == nullptr)
            _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage {};
    wait4(child, &status, 0, &usage);
    run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto seconds = [](const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; };
    run.CpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// One import of the corpus on a fresh copy of the catalogue, decoding ahead as a user runs it.
TChildRun RunPass(const std::string& program, bool smooth, bool asyncWrites)
{
    TTempFolder folder;
    const std::string database = folder / "catalogue.fdb", thumbs = folder / "thumbs";
    std::string reason;
    fs::copy_file(CatalogueFile(reason), database);
    fs::create_directories(thumbs);
    if (asyncWrites && std::system(("gfix -write async " + database + " >/dev/null 2>&1").c_str()) != 0)
        throw std::runtime_error("gfix cannot switch " + database + " to asynchronous writes");
    std::vector<std::string> args { program, "import", "--db", database, "--images", PassCorpusFolder(), "--thumbs",
        thumbs, "--kind", "both" };
    if (smooth)
        args.push_back("--smooth");
    return RunProgram(args);
}

// The corpus files by the size of their thumbnails, read once.
const std::map<std::pair<int, int>, std::vector<std::string>>& FilesByThumbnailSize()
{
    static const auto groups = [] {
        std::map<std::pair<int, int>, std::vector<std::string>> files;
        for (const std::string& path : PassCorpusFiles()) {
            TBitmap picture;
            if (!LoadImageFile(path, picture))
                continue;
            const bool swapped = OrientationSwapsSides(picture.Orientation());
            const TThumbnailSize size = swapped ? ThumbnailSize(picture.Height(), picture.Width())
                                                : ThumbnailSize(picture.Width(), picture.Height());
            files[{ size.Width, size.Height }].push_back(path);
        }
        return files;
    }();
    return groups;
}

// vipsthumbnail over every corpus file, each to the size of our thumbnail of it.
TChildRun RunVipsThumbnail(const std::string& program)
{
    TTempFolder folder;
    TChildRun total;
    total.Status = 0;
    for (const auto& [size, files] : FilesByThumbnailSize()) {
        std::vector<std::string> args { program, "--size", std::to_string(size.first) + "x" + std::to_string(size.second) + "!",
            "-o", folder / "%s.jpg[Q=90]" };
        args.insert(args.end(), files.begin(), files.end());
        const TChildRun run = RunProgram(args);
        total.Seconds += run.Seconds;
        total.CpuSeconds += run.CpuSeconds;
        if (run.Status != 0)
            total.Status = run.Status;
    }
    return total;
}

struct TRoundFigures {
    std::vector<double> SmoothOverNearest, SmoothOverVips, SmoothCpuOverNearest, VipsCpuOverSmooth;
    std::vector<double> NearestFilesPerSecond, SmoothFilesPerSecond, VipsFilesPerSecond;
};
std::map<int, TRoundFigures>& RoundFigures()
{
    static std::map<int, TRoundFigures> figures;
    return figures;
}

void BM_SmoothRounds(benchmark::State& state)
{
    const int rounds = static_cast<int>(state.range(0));
    const bool asyncWrites = state.range(1) != 0;
    const std::string program = ProgramPath();
    std::string reason;
    const std::string& catalogue = CatalogueFile(reason);
    if (catalogue.empty() || !fs::exists(program)) {
        state.SkipWithError(catalogue.empty() ? ("no catalogue: " + reason).c_str() : "no program");
        return;
    }
    const std::string vips = VipsThumbnailPath();
    const std::size_t files = PassCorpusFiles().size();
    TRoundFigures& figures = RoundFigures()[asyncWrites ? 1 : 0];
    for (auto _ : state) {
        double wall = 0;
        for (int round = 0; round < rounds; ++round) {
            TChildRun nearest, smooth;
            for (const bool smoothFirst : { round % 2 == 1, round % 2 == 0 })
                (smoothFirst ? smooth : nearest) = RunPass(program, smoothFirst, asyncWrites);
            if (nearest.Status != 0 || smooth.Status != 0) {
                state.SkipWithError("an import failed");
                return;
            }
            wall += nearest.Seconds + smooth.Seconds;
            figures.SmoothOverNearest.push_back(nearest.Seconds / smooth.Seconds);
            figures.SmoothCpuOverNearest.push_back(smooth.CpuSeconds / nearest.CpuSeconds);
            figures.NearestFilesPerSecond.push_back(static_cast<double>(files) / nearest.Seconds);
            figures.SmoothFilesPerSecond.push_back(static_cast<double>(files) / smooth.Seconds);
            if (vips.empty())
                continue;
            const TChildRun other = RunVipsThumbnail(vips);
            if (other.Status != 0) {
                state.SkipWithError("vipsthumbnail failed");
                return;
            }
            wall += other.Seconds;
            figures.SmoothOverVips.push_back(other.Seconds / smooth.Seconds);
            figures.VipsCpuOverSmooth.push_back(other.CpuSeconds / smooth.CpuSeconds);
            figures.VipsFilesPerSecond.push_back(static_cast<double>(files) / other.Seconds);
        }
        state.SetIterationTime(wall);
    }
    state.counters["smooth_x_nearest_files_per_s"] = Median(figures.SmoothOverNearest);
    state.counters["smooth_x_vips_files_per_s"] = Median(figures.SmoothOverVips);
    if (vips.empty())
        state.SetLabel("no vipsthumbnail");
}
BENCHMARK(BM_SmoothRounds)->Args({ 5, 1 })->Args({ 5, 0 })->Iterations(1)->Repetitions(1)->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Every corpus thumbnail encoded in process, one thread, no database: nearest-pixel (0) or
// smooth (1), with the split of the time by step and by format.
void BM_ThumbnailsInProcess(benchmark::State& state)
{
    InitJPEGDefaults(TCanvas::DeviceBits);
    const TThumbnailSampling sampling = state.range(0) ? TThumbnailSampling::tsSmooth : TThumbnailSampling::tsNearest;
    const std::vector<std::string> files = PassCorpusFiles();
    TImportStats stats;
    std::map<std::string, std::chrono::nanoseconds> byFormat;
    for (auto _ : state)
        for (const std::string& path : files) {
            TMemoryStream jpeg;
            const auto start = std::chrono::steady_clock::now();
            EncodeThumbnail(path, jpeg, &stats, nullptr, sampling);
            byFormat[fs::path(path).extension().string()] += std::chrono::steady_clock::now() - start;
        }
    const double runs = static_cast<double>(state.iterations());
    const auto seconds = [&](std::chrono::nanoseconds time) { return std::chrono::duration<double>(time).count() / runs; };
    state.counters["files_per_s"] = benchmark::Counter(static_cast<double>(files.size()), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["read_s"] = seconds(stats.ReadTime);
    state.counters["decode_s"] = seconds(stats.DecodeTime - stats.ReadTime);
    state.counters["draw_s"] = seconds(stats.DrawTime);
    state.counters["encode_s"] = seconds(stats.EncodeTime);
    for (const auto& [extension, time] : byFormat)
        state.counters[extension.substr(1) + "_s"] = seconds(time);
}
BENCHMARK(BM_ThumbnailsInProcess)->Arg(0)->Arg(1)->Iterations(3)->Repetitions(1)->Unit(benchmark::kMillisecond);

// What DCT scaling can give at most: libjpeg-turbo alone decoding the corpus JPEGs whole and at
// the scale their smooth thumbnails use, alternately, in R rounds. No thumbnail pass whose JPEG
// decoding costs what the library's does can run faster than this ratio over the full decode.
void BM_JpegScaleCeiling(benchmark::State& state)
{
    std::vector<std::vector<std::uint8_t>> files;
    std::vector<unsigned> denominators;
    for (const std::string& path : PassCorpusFiles())
        if (fs::path(path).extension() == ".jpg") {
            files.push_back(testsupport::ReadFile(path));
            const jpegref::TDecoded whole = jpegref::Decode(files.back());
            denominators.push_back(1u << static_cast<int>(SmoothDecodeScale(whole.Width, whole.Height, OrientationAsStored)));
        }
    const auto decodeAll = [&](bool scaled) {
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < files.size(); ++i) {
            jpegref::TDecodeSettings settings;
            settings.ScaleDenom = scaled ? denominators[i] : 1;
            benchmark::DoNotOptimize(jpegref::Decode(files[i], settings).Ok);
        }
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    std::vector<double> ratios;
    double whole = 0, scaled = 0;
    for (auto _ : state)
        for (int round = 0; round < state.range(0); ++round) {
            const double first = decodeAll(round % 2 != 0), second = decodeAll(round % 2 == 0);
            const double wholeTime = round % 2 ? second : first, scaledTime = round % 2 ? first : second;
            whole += wholeTime, scaled += scaledTime;
            ratios.push_back(wholeTime / scaledTime);
        }
    state.counters["jpegs"] = static_cast<double>(files.size());
    state.counters["whole_ms_per_file"] = whole * 1000 / static_cast<double>(files.size() * ratios.size());
    state.counters["scaled_ms_per_file"] = scaled * 1000 / static_cast<double>(files.size() * ratios.size());
    state.counters["whole_over_scaled_median"] = Median(ratios);
}
BENCHMARK(BM_JpegScaleCeiling)->Arg(7)->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);

// The picture as shown over white, in floating point.
TFloatPicture ShownSamples(const TBitmap& picture)
{
    TBitmap turned;
    if (picture.Orientation() != OrientationAsStored)
        OrientedCopy(picture, turned);
    const TBitmap& shown = picture.Orientation() != OrientationAsStored ? turned : picture;
    TBitmap blended; // one to one: every pixel blended over white as the thumbnails blend it
    blended.ResizeTo(shown.Width(), shown.Height());
    DrawThumbnail(shown, blended);
    TFloatPicture samples;
    samples.Width = blended.Width();
    samples.Height = blended.Height();
    samples.Samples.reserve(3 * static_cast<std::size_t>(samples.Width) * static_cast<std::size_t>(samples.Height));
    for (int y = 0; y < samples.Height; ++y)
        for (int x = 0; x < samples.Width; ++x) {
            const TRGBQuad colour = blended.Pixel(x, y);
            samples.Samples.insert(samples.Samples.end(), { double(colour.Blue), double(colour.Green), double(colour.Red) });
        }
    return samples;
}

// The thumbnail of a picture as EncodeThumbnail draws it (without the encoding).
void DrawnThumbnail(const TBitmap& picture, TThumbnailSampling sampling, TBitmap& thumbnail)
{
    TBitmap turned;
    if (picture.Orientation() != OrientationAsStored)
        OrientedCopy(picture, turned);
    const TBitmap& shown = picture.Orientation() != OrientationAsStored ? turned : picture;
    const bool reduced = picture.FullWidth > 0;
    const bool swapped = OrientationSwapsSides(picture.Orientation());
    const TThumbnailSize size = !reduced ? ThumbnailSize(shown.Width(), shown.Height())
        : swapped                        ? ThumbnailSize(picture.FullHeight, picture.FullWidth)
                                         : ThumbnailSize(picture.FullWidth, picture.FullHeight);
    thumbnail.ResizeTo(size.Width, size.Height);
    DrawThumbnail(shown, thumbnail, sampling);
}

std::vector<std::uint8_t> Samples(const TBitmap& thumbnail)
{
    std::vector<std::uint8_t> samples;
    for (int y = 0; y < thumbnail.Height(); ++y)
        for (int x = 0; x < thumbnail.Width(); ++x) {
            const TRGBQuad colour = thumbnail.Pixel(x, y);
            samples.insert(samples.end(), { colour.Blue, colour.Green, colour.Red });
        }
    return samples;
}

// Peak signal-to-noise ratio in dB of 8-bit samples against a reference of the same size.
double PeakSignalToNoise(const TFloatPicture& reference, const std::vector<std::uint8_t>& samples)
{
    if (samples.size() != reference.Samples.size() || samples.empty())
        return 0;
    double squares = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double difference = samples[i] - reference.Samples[i];
        squares += difference * difference;
    }
    const double meanSquare = squares / static_cast<double>(samples.size());
    return meanSquare == 0 ? std::numeric_limits<double>::infinity() : 10 * std::log10(255.0 * 255.0 / meanSquare);
}

void BM_SmoothQuality(benchmark::State& state)
{
    InitJPEGDefaults(TCanvas::DeviceBits);
    std::map<std::string, std::vector<double>> psnr;
    for (auto _ : state) {
        for (const std::string& path : PassCorpusFiles()) {
            TBitmap full, reduced;
            if (!LoadImageFile(path, full) || !LoadImageFileTimed(path, reduced, nullptr, TThumbnailSampling::tsSmooth))
                continue;
            TBitmap smooth, nearest;
            DrawnThumbnail(reduced, TThumbnailSampling::tsSmooth, smooth);
            DrawnThumbnail(full, TThumbnailSampling::tsNearest, nearest);
            const TFloatPicture reference = testsupport::AreaAverage(ShownSamples(full), smooth.Width(), smooth.Height());
            psnr["smooth"].push_back(PeakSignalToNoise(reference, Samples(smooth)));
            psnr["nearest"].push_back(PeakSignalToNoise(reference, Samples(nearest)));
            TMemoryStream jpeg;
            if (EncodeThumbnail(path, jpeg, nullptr, nullptr, TThumbnailSampling::tsSmooth)) {
                TBitmap decoded;
                TJPEGImage image;
                jpeg.SetPosition(0);
                image.LoadStream(jpeg);
                decoded.CopyContentFrom(image);
                psnr["smooth_jpeg"].push_back(PeakSignalToNoise(reference, Samples(decoded)));
            }
        }
    }
    for (const auto& [name, values] : psnr) {
        state.counters[name + "_median_dB"] = Median(values);
        state.counters[name + "_min_dB"] = *std::min_element(values.begin(), values.end());
        std::cout << "PSNR against the float area average, " << name << ": median " << Median(values) << " dB, lowest "
                  << *std::min_element(values.begin(), values.end()) << " dB, highest "
                  << *std::max_element(values.begin(), values.end()) << " dB over " << values.size() << " files\n";
    }
}
BENCHMARK(BM_SmoothQuality)->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::cout << "bench corpus: " << PassCorpusFiles().size() << " files in " << PassCorpusFolder() << '\n';
    if (VipsThumbnailPath().empty())
        std::cout << "no vipsthumbnail on the PATH: its rounds are skipped\n";
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const auto spread = [](const std::string& what, const std::vector<double>& values) {
        if (values.empty())
            return;
        std::cout << what << ": median " << Median(values) << " over " << values.size() << " rounds (from "
                  << *std::min_element(values.begin(), values.end()) << " to "
                  << *std::max_element(values.begin(), values.end()) << ")\n";
    };
    for (const auto& [async, figures] : RoundFigures()) {
        const std::string writes = async ? "asynchronous writes" : "catalogue as made";
        spread("rounds, " + writes + ", nearest-pixel pass files/s", figures.NearestFilesPerSecond);
        spread("rounds, " + writes + ", smooth pass files/s", figures.SmoothFilesPerSecond);
        spread("rounds, " + writes + ", vipsthumbnail files/s", figures.VipsFilesPerSecond);
        spread("rounds, " + writes + ", smooth x the nearest-pixel pass's files/s", figures.SmoothOverNearest);
        spread("rounds, " + writes + ", smooth pass processor time / nearest-pixel's", figures.SmoothCpuOverNearest);
        spread("rounds, " + writes + ", smooth x vipsthumbnail's files/s", figures.SmoothOverVips);
        spread("rounds, " + writes + ", vipsthumbnail processor time / smooth pass's", figures.VipsCpuOverSmooth);
    }
    return 0;
}
