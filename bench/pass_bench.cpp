// The import pass over the bench corpus (300 covers of five formats, a catalogue of 5000
// records without an index on "num") beside its floor: the same thumbnails made in process
// with the reference libraries alone. Each run starts from a fresh copy of the catalogue and
// an empty thumbnails folder.
//   BM_PassCommand/K  the headless "import --kind both" program, as a user runs it. K = 1: the
//                     allocator told to keep freed memory (mmap and trim thresholds through the
//                     environment), to show the page faults it saves. K = 3: that, and the
//                     catalogue copy switched to asynchronous writes (gfix -write async), to
//                     show what the commit after every thumbnail costs in synchronous writes.
//                     K + 4: the same with "--threads 1", the strict one-thread pass; without
//                     it the pass decodes ahead on the second core.
//   BM_PassSplit/T    the same pass in process, for the time split: T = 1 the one-thread pass,
//                     T = 2 decoding ahead (the pass thread's waits for the workers and the disk).
//   BM_PassMemory/N   the pass over N files (the corpus linked under 1 to N) and a catalogue of
//                     10,000 records: peak resident memory after 1,000 and 10,000 files.
//   BM_Floor          libjpeg-turbo, libpng, libtiff and giflib decoding, nearest-pixel resize,
//                     libjpeg-turbo encoding at quality 90, no database.
//   BM_PassRounds/R   R rounds of the floor and the four BM_PassCommand runs back to back: the
//                     ratios within each round, whose medians are the figures to quote. Each
//                     round also times the disk alone doing the synchronous page writes of
//                     300 commits, beside what synchronous writes added to the one-thread pass.
//   BM_ThumbnailFlush 300 thumbnail files written as the pass writes them, flushed to the disk
//                     (as for a catalogue with forced writes) and not, alternately.
//   BM_PassAgainstBaseline/R  only with IBI_BASELINE_PROGRAM, an earlier build of the program:
//                     R rounds running three BM_PassCommand modes with both programs back to
//                     back, for the ratios program / baseline within each round.
//   BM_HugePictures/K three small files declaring 2^28-pixel pictures: peak resident memory of
//                     the pass decoding ahead (K = 0) and of the one-thread pass (K = 4).
//   BM_PassRerun/R    R rounds of four runs of the program, each on a fresh catalogue but the
//                     last: the first pass; the same with --skip-existing (nothing to skip: the
//                     look-up's cost); the same with --report; a second pass with
//                     --skip-existing over the catalogue the first pass filled.
// The ratios of the medians and the medians of the round ratios close the run.
#include "app/importpass.h"
#include "app/thumbnailwriter.h"
#include "base/filestream.h"
#include "bench/keptbuffer.h"
#include "bench/passcorpus.h"
#include "raster/canvas.h"
#include "raster/jpegimage.h"
#include "tests/support/gifreference.h"
#include "tests/support/tiffreference.h"
#include "tests/support/catalogue.h"
#include "tests/support/files.h"

#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>

using namespace benchcorpus;
namespace fs = std::filesystem;

namespace {

using testsupport::TTempFolder;

using TClock = std::chrono::steady_clock;

double Seconds(std::chrono::nanoseconds time) { return std::chrono::duration<double>(time).count(); }

// Seconds of every run, by benchmark, for the closing ratios.
std::map<std::string, std::vector<double>>& RunTimes()
{
    static std::map<std::string, std::vector<double>> times;
    return times;
}

// Peak resident megabytes and page faults of BM_PassMemory, by file count.
std::map<int, double>& PeakMemory()
{
    static std::map<int, double> peaks;
    return peaks;
}
std::map<int, double>& Faults()
{
    static std::map<int, double> faults;
    return faults;
}

// A fresh copy of the catalogue and an empty thumbnails folder for one run.
struct TRunFolders {
    TTempFolder Folder;
    std::string Database = Folder / "catalogue.fdb";
    std::string Thumbs = Folder / "thumbs";
    TRunFolders(const std::string& catalogue, bool asyncWrites = false)
    {
        fs::copy_file(catalogue, Database);
        fs::create_directories(Thumbs);
        if (asyncWrites && std::system(("gfix -write async " + Database + " >/dev/null 2>&1").c_str()) != 0)
            throw std::runtime_error("gfix cannot switch " + Database + " to asynchronous writes");
    }
};

// Runs the tool; its exit status, wall time and resource use.
struct TChildRun {
    int Status = -1;
    double Seconds = 0;
    rusage Usage {};
};

TChildRun RunProgram(const std::vector<std::string>& args, bool keepMemory)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    TChildRun run;
    const auto start = TClock::now();
    const pid_t child = fork();
    if (child == 0) {
        if (keepMemory) {
            setenv("MALLOC_MMAP_THRESHOLD_", "33554432", 1);
            setenv("MALLOC_TRIM_THRESHOLD_", "67108864", 1);
        }
        if (std::freopen("/dev/null", "w", stdout) == nullptr)
            _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    wait4(child, &status, 0, &run.Usage);
    run.Seconds = std::chrono::duration<double>(TClock::now() - start).count();
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// One run of the tool over the corpus in the way K of BM_PassCommand says, on a fresh catalogue.
TChildRun RunPass(const std::string& program, const std::string& catalogue, int mode)
{
    const bool keepMemory = (mode & 1) != 0;
    const bool asyncWrites = (mode & 2) != 0;
    const bool oneThread = (mode & 4) != 0;
    const TRunFolders run(catalogue, asyncWrites);
    std::vector<std::string> args { program, "import", "--db", run.Database, "--images", PassCorpusFolder(),
        "--thumbs", run.Thumbs, "--kind", "both" };
    if (oneThread)
        args.insert(args.end(), { "--threads", "1" });
    return RunProgram(args, keepMemory);
}

void BM_PassCommand(benchmark::State& state)
{
    std::string reason;
    const std::string& catalogue = CatalogueFile(reason);
    if (catalogue.empty()) {
        state.SkipWithError(("no embedded Firebird: " + reason).c_str());
        return;
    }
    const std::string program = ProgramPath();
    if (!fs::exists(program)) {
        state.SkipWithError(("no program " + program).c_str());
        return;
    }
    double peak = 0, faults = 0;
    for (auto _ : state) {
        const TChildRun child = RunPass(program, catalogue, static_cast<int>(state.range(0)));
        if (child.Status != 0) {
            state.SkipWithError(("the import ended with status " + std::to_string(child.Status)).c_str());
            return;
        }
        state.SetIterationTime(child.Seconds);
        RunTimes()["BM_PassCommand/" + std::to_string(state.range(0))].push_back(child.Seconds);
        peak = child.Usage.ru_maxrss / 1024.0;
        faults = static_cast<double>(child.Usage.ru_minflt + child.Usage.ru_majflt);
    }
    state.counters["files_per_s"] = benchmark::Counter(Files, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["peak_MB"] = peak;
    state.counters["faults_per_file"] = faults / Files;
}
BENCHMARK(BM_PassCommand)->Arg(4)->Arg(0)->Arg(7)->Arg(3)->Iterations(1)->Repetitions(3)->UseManualTime()->Unit(benchmark::kMillisecond)
    ->ReportAggregatesOnly(true);

// False, with the benchmark skipped saying why, when there is no catalogue or no program.
bool CanRunPass(benchmark::State& state, const std::string& catalogue, const std::string& reason, const std::string& program)
{
    if (!catalogue.empty() && fs::exists(program))
        return true;
    state.SkipWithError(catalogue.empty() ? ("no embedded Firebird: " + reason).c_str() : "no program");
    return false;
}

// Memory over a long pass: the corpus pictures linked under the numbers 1 to N (the 300 files
// in turn) and a catalogue of 10,000 records with asynchronous writes; the pass as a user runs
// it (decoding ahead). Peak resident memory after 10,000 files against the one after 1,000.
void BM_PassMemory(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    static std::string failure;
    static const std::string catalogue = MadeCatalogue("pass-catalogue-10000.fdb", 10000, failure);
    const std::string program = ProgramPath();
    if (!CanRunPass(state, catalogue, failure, program))
        return;
    const std::vector<std::string> corpus = PassCorpusFiles();
    for (auto _ : state) {
        const TRunFolders run(catalogue, true);
        const std::string images = run.Folder / "images/";
        fs::create_directories(images);
        for (int number = 1; number <= count; ++number) {
            const fs::path& picture = corpus[static_cast<std::size_t>(number - 1) % corpus.size()];
            fs::create_symlink(picture, images + std::to_string(number) + "_1" + picture.extension().string());
        }
        const TChildRun child = RunProgram(
            { program, "import", "--db", run.Database, "--images", images, "--thumbs", run.Thumbs, "--kind", "both" }, false);
        if (child.Status != 0) {
            state.SkipWithError(("the import ended with status " + std::to_string(child.Status)).c_str());
            return;
        }
        state.SetIterationTime(child.Seconds);
        const double peak = child.Usage.ru_maxrss / 1024.0;
        PeakMemory()[count] = peak;
        Faults()[count] = static_cast<double>(child.Usage.ru_minflt + child.Usage.ru_majflt);
        state.counters["files_per_s"] = count / child.Seconds;
        state.counters["peak_MB"] = peak;
        state.counters["faults_per_file"] = static_cast<double>(child.Usage.ru_minflt + child.Usage.ru_majflt) / count;
    }
}
BENCHMARK(BM_PassMemory)->Arg(1000)->Arg(10000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

class TSilentFrontEnd : public TImportFrontEnd {
public:
    int KindIndex() override { return KindBothCovers; }
    std::string ThumbsFolderText() override { return Thumbs; }
    void SetGoEnabled(bool) override {}
    void SetGoCaption(const std::string&) override {}
    void ProcessEvents() override {}
    void ShowMessage(const std::string& text) override { Messages += text + "\n"; }
    std::string Thumbs, Messages;
};

void BM_PassSplit(benchmark::State& state)
{
    InitJPEGDefaults(TCanvas::DeviceBits);
    std::string reason;
    const std::string& catalogue = CatalogueFile(reason);
    if (catalogue.empty()) {
        state.SkipWithError(("no embedded Firebird: " + reason).c_str());
        return;
    }
    TImportStats total;
    std::chrono::nanoseconds wall {};
    for (auto _ : state) {
        const TRunFolders run(catalogue);
        TSilentFrontEnd frontEnd;
        frontEnd.Thumbs = run.Thumbs;
        TImportRequest request;
        request.DatabaseFile = run.Database;
        request.ImageFolder = PassCorpusFolder();
        request.ThumbsFolder = run.Thumbs;
        request.KindIndex = KindBothCovers;
        // T = 1: the one-thread pass; T = 2: decoding ahead, where decode_s is the pass thread's
        // wait for the workers and the rest its own work and waits for the disk.
        request.Threads = int(state.range(0));
        const auto start = TClock::now();
        const TImportResult result = RunImportPass(request, frontEnd);
        const auto time = TClock::now() - start;
        if (result.Outcome != TImportOutcome::ioCompleted || result.Stats.Thumbnails != Files) {
            state.SkipWithError(("the pass failed: " + result.Message).c_str());
            return;
        }
        state.SetIterationTime(Seconds(time));
        wall += time;
        total.ReadTime += result.Stats.ReadTime;
        total.DecodeTime += result.Stats.DecodeTime;
        total.DrawTime += result.Stats.DrawTime;
        total.EncodeTime += result.Stats.EncodeTime;
        total.DatabaseTime += result.Stats.DatabaseTime;
    }
    const double runs = static_cast<double>(state.iterations());
    const auto share = [&](std::chrono::nanoseconds time) { return Seconds(time) / runs; };
    state.counters["files_per_s"] = benchmark::Counter(Files, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["read_s"] = share(total.ReadTime);
    state.counters["decode_s"] = share(total.DecodeTime - total.ReadTime);
    state.counters["draw_s"] = share(total.DrawTime);
    state.counters["encode+write_s"] = share(total.EncodeTime);
    state.counters["database_s"] = share(total.DatabaseTime);
    state.counters["other_s"] = share(wall - total.DecodeTime - total.DrawTime - total.EncodeTime - total.DatabaseTime);
}
BENCHMARK(BM_PassSplit)->Arg(1)->Arg(2)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---- The floor: reference libraries only, pixels as 4 bytes (B, G, R, X) like the pass's.
// Buffers are kept from file to file and not cleared, as the pass keeps its stores: the floor
// should cost no more than the libraries' own work.

struct TPicture {
    int Width = 0, Height = 0;
    TKeptBuffer Pixels; // 4 bytes a pixel
};

// The whole file in one read.
bool ReadFile(const std::string& path, TKeptBuffer& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    struct stat status {};
    bool ok = fstat(fileno(file), &status) == 0;
    if (ok) {
        bytes.Reserve(static_cast<std::size_t>(status.st_size));
        ok = std::fread(bytes.Data(), 1, bytes.Size(), file) == bytes.Size();
    }
    std::fclose(file);
    return ok;
}

bool DecodeJpeg(const TKeptBuffer& bytes, TPicture& picture)
{
    jpeg_decompress_struct info {};
    jpeg_error_mgr errors {};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.Data(), bytes.Size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&info);
    picture.Width = static_cast<int>(info.output_width);
    picture.Height = static_cast<int>(info.output_height);
    picture.Pixels.Reserve(std::size_t(picture.Width) * picture.Height * 4);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = picture.Pixels.Data() + std::size_t(info.output_scanline) * picture.Width * 4;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

bool DecodePng(const TKeptBuffer& bytes, TPicture& picture)
{
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.Data(), bytes.Size()))
        return false;
    image.format = PNG_FORMAT_BGRA;
    picture.Width = static_cast<int>(image.width);
    picture.Height = static_cast<int>(image.height);
    picture.Pixels.Reserve(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, picture.Pixels.Data(), 0, nullptr) != 0;
}

bool DecodeGif(const TKeptBuffer& bytes, TPicture& picture)
{
    const gifref::TGifReader reader(std::span<const std::uint8_t>(bytes.Data(), bytes.Size()));
    const SavedImage* image = reader.FirstImage();
    if (!image)
        return false;
    const ColorMapObject* map = reader.FirstImageColors();
    picture.Width = reader.File()->SWidth;
    picture.Height = reader.File()->SHeight;
    picture.Pixels.Reserve(std::size_t(picture.Width) * picture.Height * 4);
    const GifImageDesc& desc = image->ImageDesc;
    if (desc.Left != 0 || desc.Top != 0 || desc.Width < picture.Width || desc.Height < picture.Height)
        std::memset(picture.Pixels.Data(), 0, picture.Pixels.Size()); // the frame leaves a border
    for (int y = 0; y < desc.Height && y + desc.Top < picture.Height; ++y)
        for (int x = 0; x < desc.Width && x + desc.Left < picture.Width; ++x) {
            const GifColorType& colour = map->Colors[image->RasterBits[std::size_t(y) * desc.Width + x] % map->ColorCount];
            std::uint8_t* out = picture.Pixels.Data() + (std::size_t(y + desc.Top) * picture.Width + x + desc.Left) * 4;
            out[0] = colour.Blue;
            out[1] = colour.Green;
            out[2] = colour.Red;
        }
    return true;
}

// 8-bit RGB strips (the corpus's TIFFs) read with TIFFReadEncodedStrip, the fastest way
// libtiff offers; anything else through its generic RGBA reader.
bool DecodeTiff(const TKeptBuffer& bytes, TPicture& picture, TKeptBuffer& strip)
{
    const tifftest::TTiffInMemory file(std::span<const std::uint8_t>(bytes.Data(), bytes.Size()));
    TIFF* tiff = file.Tiff();
    if (!tiff)
        return false;
    std::uint32_t width = 0, height = 0, rowsPerStrip = 0;
    std::uint16_t samples = 0, bits = 0, planar = 0, photometric = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    picture.Width = static_cast<int>(width);
    picture.Height = static_cast<int>(height);
    picture.Pixels.Reserve(std::size_t(width) * height * 4);
    bool ok = true;
    if (samples == 3 && bits == 8 && planar == PLANARCONFIG_CONTIG && photometric == PHOTOMETRIC_RGB && rowsPerStrip > 0) {
        const std::size_t rowBytes = std::size_t(width) * 3;
        strip.Reserve(static_cast<std::size_t>(TIFFStripSize(tiff)));
        for (std::uint32_t row = 0, index = 0; ok && row < height; row += rowsPerStrip, ++index) {
            const std::uint32_t rows = std::min(rowsPerStrip, height - row);
            ok = TIFFReadEncodedStrip(tiff, index, strip.Data(), tmsize_t(rows * rowBytes)) >= 0;
            for (std::uint32_t r = 0; ok && r < rows; ++r) {
                const std::uint8_t* in = strip.Data() + r * rowBytes;
                std::uint8_t* out = picture.Pixels.Data() + std::size_t(row + r) * width * 4;
                for (std::uint32_t x = 0; x < width; ++x, in += 3, out += 4) {
                    out[0] = in[2];
                    out[1] = in[1];
                    out[2] = in[0];
                    out[3] = 0;
                }
            }
        }
    } else {
        ok = TIFFReadRGBAImageOriented(tiff, width, height, reinterpret_cast<std::uint32_t*>(picture.Pixels.Data()),
                 ORIENTATION_TOPLEFT, 0) == 1;
    }
    return ok;
}

void EncodeJpeg(const TPicture& picture, const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return;
    jpeg_compress_struct info {};
    jpeg_error_mgr errors {};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = picture.Width;
    info.image_height = picture.Height;
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<std::uint8_t*>(picture.Pixels.Data() + std::size_t(info.next_scanline) * picture.Width * 4);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(file);
}

struct TFloorTimes {
    std::chrono::nanoseconds Read {}, Decode {}, Draw {}, Encode {};
};

// One floor run over the files; its seconds, or an error.
double RunFloor(const std::vector<std::string>& files, TFloorTimes& times, std::string& error)
{
    TTempFolder folder;
    TKeptBuffer bytes, strip;
    TPicture source, thumbnail;
    const auto start = TClock::now();
    for (const std::string& file : files) {
        bool decoded;
        {
            const TStopwatch watch(&times.Read);
            decoded = ReadFile(file, bytes);
        }
        if (!decoded) {
            error = "cannot read " + file;
            return 0;
        }
        {
            const TStopwatch watch(&times.Decode);
            const std::string extension = fs::path(file).extension().string();
            decoded = extension == ".jpg" ? DecodeJpeg(bytes, source)
                : extension == ".png"     ? DecodePng(bytes, source)
                : extension == ".gif"     ? DecodeGif(bytes, source)
                                          : DecodeTiff(bytes, source, strip);
        }
        if (!decoded) {
            error = "cannot decode " + file;
            return 0;
        }
        {
            const TStopwatch watch(&times.Draw);
            const TThumbnailSize size = ThumbnailSize(source.Width, source.Height);
            thumbnail.Width = size.Width;
            thumbnail.Height = size.Height;
            thumbnail.Pixels.Reserve(std::size_t(size.Width) * size.Height * 4);
            auto* out = reinterpret_cast<std::uint32_t*>(thumbnail.Pixels.Data());
            const auto* in = reinterpret_cast<const std::uint32_t*>(source.Pixels.Data());
            for (int y = 0; y < size.Height; ++y) {
                const std::uint32_t* row = in + std::size_t(std::int64_t(y) * source.Height / size.Height) * source.Width;
                for (int x = 0; x < size.Width; ++x)
                    *out++ = row[std::int64_t(x) * source.Width / size.Width];
            }
        }
        const TStopwatch watch(&times.Encode);
        EncodeJpeg(thumbnail, folder / (fs::path(file).stem().string() + ".jpg"));
    }
    return Seconds(TClock::now() - start);
}

void BM_Floor(benchmark::State& state)
{
    const std::vector<std::string> files = PassCorpusFiles();
    TFloorTimes times;
    rusage before {}, after {};
    getrusage(RUSAGE_SELF, &before);
    for (auto _ : state) {
        std::string error;
        const double seconds = RunFloor(files, times, error);
        if (!error.empty()) {
            state.SkipWithError(error.c_str());
            return;
        }
        state.SetIterationTime(seconds);
        RunTimes()["BM_Floor"].push_back(seconds);
    }
    getrusage(RUSAGE_SELF, &after);
    const double runs = static_cast<double>(state.iterations());
    state.counters["files_per_s"] = benchmark::Counter(double(files.size()), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["read_s"] = Seconds(times.Read) / runs;
    state.counters["decode_s"] = Seconds(times.Decode) / runs;
    state.counters["draw_s"] = Seconds(times.Draw) / runs;
    state.counters["encode+write_s"] = Seconds(times.Encode) / runs;
    state.counters["faults_per_file"] = double(after.ru_minflt - before.ru_minflt) / (runs * double(files.size()));
}
BENCHMARK(BM_Floor)->Iterations(1)->Repetitions(3)->UseManualTime()->Unit(benchmark::kMillisecond)->ReportAggregatesOnly(true);

// The disk alone doing the commits of one pass. The engine writes seven 8 KiB pages
// synchronously for every thumbnail commit (the generator page, two index and two data
// pages, the transaction inventory page, the header page); here the same writes go to a file
// opened as the engine opens a catalogue with synchronous writes (O_DSYNC), each commit after
// about the pass's processor time for one file. Only the writes are timed; -1 when the file
// cannot be written.
double CommitWriteSeconds(int commits)
{
    constexpr std::size_t PageSize = 8192;
    constexpr int FilePages = 256;
    constexpr int CommitPages[] = { 157, 187, 190, 211, 212, 178, 0 };
    constexpr auto WorkPerFile = std::chrono::milliseconds(5);
    const TTempFolder folder;
    const std::string path = folder / "pages";
    const std::vector<std::uint8_t> page(PageSize, 0x5A);
    const auto writePage = [&](int handle, int number) {
        return pwrite(handle, page.data(), PageSize, off_t(number) * off_t(PageSize)) == ssize_t(PageSize);
    };
    {
        const THandleStream file(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        for (int number = 0; number < FilePages; ++number)
            if (file.Handle() < 0 || !writePage(file.Handle(), number))
                return -1;
        if (fsync(file.Handle()) != 0)
            return -1;
    }
    const THandleStream file(open(path.c_str(), O_RDWR | O_DSYNC | O_CLOEXEC));
    if (file.Handle() < 0)
        return -1;
    std::chrono::nanoseconds writing {};
    volatile std::uint64_t work = 0;
    for (int commit = 0; commit < commits; ++commit) {
        for (const auto busy = TClock::now(); TClock::now() - busy < WorkPerFile;)
            work = work + 1;
        const auto start = TClock::now();
        for (const int number : CommitPages)
            if (!writePage(file.Handle(), number))
                return -1;
        writing += TClock::now() - start;
    }
    return Seconds(writing);
}

// Rounds of the floor and the four pass runs back to back, each round in a turned order.
// On a shared machine the speed drifts by 10 to 20 % over minutes, so ratios are taken within
// a round, where all five runs saw about the same machine, and their median is reported.
struct TRoundRatios {
    std::vector<double> OneThreadSync, OneThreadAsync, AheadSync, AheadAsync;
    std::vector<double> AheadSyncFloor, AheadAsyncFloor; // decoding ahead, x the floor's files per second
    std::vector<double> SyncWritesAdded, CommitDisk; // seconds over the floor's
};

TRoundRatios& RoundRatios()
{
    static TRoundRatios ratios;
    return ratios;
}

void BM_PassRounds(benchmark::State& state)
{
    std::string reason;
    const std::string& catalogue = CatalogueFile(reason);
    const std::string program = ProgramPath();
    if (!CanRunPass(state, catalogue, reason, program))
        return;
    const std::vector<std::string> files = PassCorpusFiles();
    constexpr int Floor = -1, Disk = -2;
    const std::vector<int> runs { Floor, 4, 0, 7, 3, Disk };
    TRoundRatios& ratios = RoundRatios();
    for (auto _ : state) {
        const auto start = TClock::now();
        for (int round = 0; round < state.range(0); ++round) {
            std::map<int, double> seconds;
            for (std::size_t i = 0; i < runs.size(); ++i) {
                const int run = runs[(i + static_cast<std::size_t>(round)) % runs.size()];
                if (run == Disk) {
                    seconds[run] = CommitWriteSeconds(Files);
                    if (seconds[run] < 0) {
                        state.SkipWithError("cannot write the commit pages");
                        return;
                    }
                } else if (run == Floor) {
                    TFloorTimes times;
                    std::string error;
                    seconds[run] = RunFloor(files, times, error);
                    if (!error.empty()) {
                        state.SkipWithError(error.c_str());
                        return;
                    }
                } else {
                    const TChildRun child = RunPass(program, catalogue, run);
                    if (child.Status != 0) {
                        state.SkipWithError(("the import ended with status " + std::to_string(child.Status)).c_str());
                        return;
                    }
                    seconds[run] = child.Seconds;
                }
            }
            ratios.OneThreadSync.push_back(seconds[4] / seconds[Floor]);
            ratios.OneThreadAsync.push_back(seconds[7] / seconds[Floor]);
            ratios.AheadSync.push_back(seconds[4] / seconds[0]);
            ratios.AheadAsync.push_back(seconds[7] / seconds[3]);
            ratios.AheadSyncFloor.push_back(seconds[Floor] / seconds[0]);
            ratios.AheadAsyncFloor.push_back(seconds[Floor] / seconds[3]);
            ratios.SyncWritesAdded.push_back((seconds[4] - seconds[7]) / seconds[Floor]);
            ratios.CommitDisk.push_back(seconds[Disk] / seconds[Floor]);
        }
        state.SetIterationTime(Seconds(TClock::now() - start));
    }
    state.counters["one_thread_sync_x_floor"] = Median(ratios.OneThreadSync);
    state.counters["one_thread_async_x_floor"] = Median(ratios.OneThreadAsync);
    state.counters["ahead_sync_speedup"] = Median(ratios.AheadSync);
    state.counters["ahead_async_speedup"] = Median(ratios.AheadAsync);
    state.counters["ahead_sync_x_floor_files_per_s"] = Median(ratios.AheadSyncFloor);
    state.counters["ahead_async_x_floor_files_per_s"] = Median(ratios.AheadAsyncFloor);
    state.counters["commit_disk_x_floor"] = Median(ratios.CommitDisk);
}
BENCHMARK(BM_PassRounds)->Arg(7)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// What a change costs the pass: the program against an earlier build of it (IBI_BASELINE_PROGRAM),
// the one-thread pass on the catalogue as made and with asynchronous writes and the pass
// decoding ahead on the catalogue as made, each mode run by both programs back to back in every
// round (the order turned each round). The ratios are taken within a round.
std::map<int, std::vector<double>>& BaselineRatios()
{
    static std::map<int, std::vector<double>> ratios; // by mode of BM_PassCommand
    return ratios;
}
// The same for the processor time the runs took (user and system), which a busy machine
// disturbs less than the time they lasted.
std::map<int, std::vector<double>>& BaselineCpuRatios()
{
    static std::map<int, std::vector<double>> ratios;
    return ratios;
}

double CpuSeconds(const rusage& usage)
{
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void BM_PassAgainstBaseline(benchmark::State& state)
{
    const std::string baseline = std::getenv("IBI_BASELINE_PROGRAM");
    std::string reason;
    const std::string& catalogue = CatalogueFile(reason);
    const std::string program = ProgramPath();
    if (!CanRunPass(state, catalogue, reason, fs::exists(baseline) ? program : baseline))
        return;
    const std::vector<std::pair<int, bool>> runs { { 4, false }, { 4, true }, { 7, false }, { 7, true }, { 0, false },
        { 0, true } }; // mode, the program itself
    for (auto _ : state) {
        const auto start = TClock::now();
        for (int round = 0; round < state.range(0); ++round) {
            std::map<std::pair<int, bool>, double> seconds, cpu;
            for (std::size_t i = 0; i < runs.size(); ++i) {
                const std::pair<int, bool> run = runs[(i + 2 * static_cast<std::size_t>(round)) % runs.size()];
                const TChildRun child = RunPass(run.second ? program : baseline, catalogue, run.first);
                if (child.Status != 0) {
                    state.SkipWithError(("the import ended with status " + std::to_string(child.Status)).c_str());
                    return;
                }
                seconds[run] = child.Seconds;
                cpu[run] = CpuSeconds(child.Usage);
            }
            for (const int mode : { 4, 7, 0 }) {
                BaselineRatios()[mode].push_back(seconds[{ mode, true }] / seconds[{ mode, false }]);
                BaselineCpuRatios()[mode].push_back(cpu[{ mode, true }] / cpu[{ mode, false }]);
            }
        }
        state.SetIterationTime(Seconds(TClock::now() - start));
    }
    for (const auto& [mode, ratios] : BaselineRatios())
        state.counters["x_baseline_mode_" + std::to_string(mode)] = Median(ratios);
}

// Ratios to the first pass, by run, of BM_PassRerun's rounds.
std::map<std::string, std::vector<double>>& RerunRatios()
{
    static std::map<std::string, std::vector<double>> ratios;
    return ratios;
}

void BM_PassRerun(benchmark::State& state)
{
    std::string reason;
    const std::string& catalogue = CatalogueFile(reason);
    const std::string program = ProgramPath();
    if (!CanRunPass(state, catalogue, reason, program))
        return;
    const std::vector<std::string> extras[] = { {}, { "--skip-existing" }, { "--report", "" }, { "--skip-existing" } };
    const char* names[] = { "first pass", "first pass with --skip-existing", "pass with --report",
        "second pass with --skip-existing" };
    for (auto _ : state) {
        const auto start = TClock::now();
        for (int round = 0; round < state.range(0); ++round) {
            double seconds[4] {};
            std::optional<TRunFolders> first;
            // The first pass's catalogue serves the second pass; the other two alternate.
            for (const int run : round % 2 ? std::vector { 0, 2, 1, 3 } : std::vector { 0, 1, 2, 3 }) {
                std::optional<TRunFolders> own;
                const TRunFolders& folders = run == 0 ? first.emplace(catalogue) : run == 3 ? *first : own.emplace(catalogue);
                std::vector<std::string> args { program, "import", "--db", folders.Database, "--images",
                    PassCorpusFolder(), "--thumbs", folders.Thumbs, "--kind", "both" };
                for (const std::string& extra : extras[run])
                    args.push_back(extra.empty() ? folders.Folder / "report.csv" : extra);
                const TChildRun child = RunProgram(args, false);
                if (child.Status != 0) {
                    state.SkipWithError(("the import ended with status " + std::to_string(child.Status)).c_str());
                    return;
                }
                seconds[run] = child.Seconds;
            }
            for (int run = 1; run < 4; ++run)
                RerunRatios()[names[run]].push_back(seconds[run] / seconds[0]);
            RerunRatios()[names[0]].push_back(seconds[0]);
        }
        state.SetIterationTime(Seconds(TClock::now() - start));
    }
}
BENCHMARK(BM_PassRerun)->Arg(5)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Three small files declaring pictures at the pixel limit (16384 x 16384 RGB): two PNGs whose
// zero-filled rows are stored as a deflate stream of under a megabyte, decoding to the whole
// picture, and a 54-byte BMP header without pixel data. Made once beside the corpus.
std::string HugePicturesFolder()
{
    const fs::path folder = fs::path(PassCorpusFolder()).parent_path().parent_path() / "huge";
    if (fs::exists(folder))
        return folder.string();
    constexpr std::uint32_t Side = 16384;
    const auto big32 = [](std::string& out, std::uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out += static_cast<char>((value >> shift) & 0xFF);
    };
    const auto little = [](std::string& out, std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out += static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    const auto chunk = [&](std::string& png, const char* type, const std::string& data) {
        big32(png, static_cast<std::uint32_t>(data.size()));
        const std::string typed = type + data;
        png += typed;
        big32(png, static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(typed.data()), uInt(typed.size()))));
    };
    std::string header;
    big32(header, Side);
    big32(header, Side);
    header += std::string("\x08\x02\x00\x00\x00", 5); // 8-bit RGB
    z_stream stream {};
    deflateInit(&stream, 9);
    const std::vector<Bytef> row(1 + 3 * Side, 0); // filter byte and samples
    std::string idat;
    std::vector<Bytef> out(1 << 20);
    for (std::uint32_t y = 0; y <= Side; ++y) {
        stream.next_in = const_cast<Bytef*>(row.data());
        stream.avail_in = y < Side ? uInt(row.size()) : 0;
        do {
            stream.next_out = out.data();
            stream.avail_out = uInt(out.size());
            deflate(&stream, y < Side ? Z_NO_FLUSH : Z_FINISH);
            idat.append(reinterpret_cast<const char*>(out.data()), out.size() - stream.avail_out);
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    std::string png("\x89PNG\r\n\x1a\n", 8);
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", idat);
    chunk(png, "IEND", "");
    std::string bmp = "BM";
    little(bmp, 54 + 3 * Side * Side, 4);
    little(bmp, 0, 4);
    little(bmp, 54, 4);
    for (const std::uint32_t value : { 40u, Side, Side })
        little(bmp, value, 4);
    little(bmp, 1, 2);
    little(bmp, 24, 2);
    for (int i = 0; i < 6; ++i)
        little(bmp, 0, 4);
    const fs::path work = folder.string() + ".tmp";
    fs::remove_all(work);
    fs::create_directories(work);
    const auto write = [&work](const char* name, const std::string& bytes) {
        testsupport::WriteFile((work / name).string(),
            std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    };
    write("1_1.png", png);
    write("2_1.bmp", bmp);
    write("3_1.png", png);
    fs::rename(work, folder);
    return folder.string();
}

// Peak resident memory of the pass over the three huge pictures: K = 0 decoding ahead, K = 4
// the one-thread pass (whose peak is about the start-up's plus the largest picture).
void BM_HugePictures(benchmark::State& state)
{
    std::string reason;
    const std::string& catalogue = CatalogueFile(reason);
    const std::string program = ProgramPath();
    if (!CanRunPass(state, catalogue, reason, program))
        return;
    const std::string images = HugePicturesFolder();
    for (auto _ : state) {
        const TRunFolders run(catalogue, true);
        std::vector<std::string> args { program, "import", "--db", run.Database, "--images", images, "--thumbs", run.Thumbs,
            "--kind", "both" };
        if (state.range(0) == 4)
            args.insert(args.end(), { "--threads", "1" });
        const TChildRun child = RunProgram(args, false);
        state.SetIterationTime(child.Seconds);
        state.counters["exit_status"] = child.Status;
        state.counters["peak_MB"] = child.Usage.ru_maxrss / 1024.0;
        state.counters["cpu_s"] = CpuSeconds(child.Usage);
    }
}
BENCHMARK(BM_HugePictures)->Arg(0)->Arg(4)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The flush of one thumbnail alone: 300 thumbnail-sized files written as the pass writes them
// (a temporary file renamed over the target) into a folder beside the catalogue copies, with
// and without flushing each file and its folder to the disk; the two alternate file by file.
void BM_ThumbnailFlush(benchmark::State& state)
{
    const std::vector<std::uint8_t> bytes(24 << 10, 0xA5); // about a 318 x 238 cover at quality 90
    std::chrono::nanoseconds flushed {}, unflushed {};
    for (auto _ : state) {
        const TTempFolder folder;
        for (int file = 0; file < Files; ++file)
            for (const TThumbnailFlush flush : { TThumbnailFlush::tfToDisk, TThumbnailFlush::tfNone }) {
                const TStopwatch watch(flush == TThumbnailFlush::tfToDisk ? &flushed : &unflushed);
                WriteThumbnailBytes(folder / (std::to_string(file) + (flush == TThumbnailFlush::tfToDisk ? "_1.jpg" : "_2.jpg")),
                    bytes, flush);
            }
        state.SetIterationTime(Seconds(flushed + unflushed));
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["flushed_ms_per_file"] = Seconds(flushed) * 1000 / (runs * Files);
    state.counters["unflushed_ms_per_file"] = Seconds(unflushed) * 1000 / (runs * Files);
    state.counters["flush_s_per_300"] = Seconds(flushed - unflushed) / runs;
}
BENCHMARK(BM_ThumbnailFlush)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (std::getenv("IBI_BASELINE_PROGRAM"))
        benchmark::RegisterBenchmark("BM_PassAgainstBaseline", BM_PassAgainstBaseline)
            ->Arg(7)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::cout << "bench corpus: " << PassCorpusFiles().size() << " files in " << PassCorpusFolder() << '\n';
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const auto median = [](const std::string& prefix) {
        std::vector<double> all;
        for (const auto& [name, times] : RunTimes())
            if (name.starts_with(prefix))
                all.insert(all.end(), times.begin(), times.end());
        return Median(all);
    };
    const double floor = median("BM_Floor");
    for (const char* pass : { "BM_PassCommand/4", "BM_PassCommand/0", "BM_PassCommand/7", "BM_PassCommand/3" }) {
        const double time = median(pass);
        if (time > 0 && floor > 0)
            std::cout << pass << ": median " << time << " s (" << Files / time << " files/s), floor median " << floor
                      << " s (" << Files / floor << " files/s), pass / floor time = " << time / floor << '\n';
    }
    for (const auto& [one, two] : { std::pair { "BM_PassCommand/4", "BM_PassCommand/0" }, std::pair { "BM_PassCommand/7", "BM_PassCommand/3" } })
        if (median(one) > 0 && median(two) > 0)
            std::cout << "decoding ahead: " << two << " " << median(one) / median(two) << " x the files/s of " << one << '\n';
    const auto spread = [](const char* what, const std::vector<double>& values) {
        if (values.empty())
            return;
        std::cout << what << ": median " << Median(values) << " over " << values.size() << " rounds (from "
                  << *std::min_element(values.begin(), values.end()) << " to "
                  << *std::max_element(values.begin(), values.end()) << ")\n";
    };
    spread("rounds, one-thread pass / floor time, catalogue as made", RoundRatios().OneThreadSync);
    spread("rounds, one-thread pass / floor time, asynchronous writes", RoundRatios().OneThreadAsync);
    spread("rounds, decoding ahead x the one-thread files/s, catalogue as made", RoundRatios().AheadSync);
    spread("rounds, decoding ahead x the one-thread files/s, asynchronous writes", RoundRatios().AheadAsync);
    spread("rounds, decoding ahead x the floor's files/s, catalogue as made", RoundRatios().AheadSyncFloor);
    spread("rounds, decoding ahead x the floor's files/s, asynchronous writes", RoundRatios().AheadAsyncFloor);
    spread("rounds, one-thread pass, catalogue as made minus asynchronous writes, / floor time",
        RoundRatios().SyncWritesAdded);
    spread("rounds, the disk alone doing the synchronous page writes of 300 commits / floor time",
        RoundRatios().CommitDisk);
    spread("rounds, one-thread pass / baseline program, catalogue as made", BaselineRatios()[4]);
    spread("rounds, one-thread pass / baseline program, asynchronous writes", BaselineRatios()[7]);
    spread("rounds, pass decoding ahead / baseline program, catalogue as made", BaselineRatios()[0]);
    spread("rounds, one-thread pass / baseline program, processor time, catalogue as made", BaselineCpuRatios()[4]);
    spread("rounds, one-thread pass / baseline program, processor time, asynchronous writes", BaselineCpuRatios()[7]);
    spread("rounds, pass decoding ahead / baseline program, processor time, catalogue as made", BaselineCpuRatios()[0]);
    for (const auto& [name, values] : RerunRatios()) {
        const std::string label = name == "first pass" ? "rounds, first pass, seconds" : "rounds, " + name + " / first pass";
        spread(label.c_str(), values);
    }
    if (PeakMemory().count(1000) && PeakMemory().count(10000))
        std::cout << "peak resident memory: " << PeakMemory()[10000] << " MB after 10,000 files, " << PeakMemory()[1000]
                  << " MB after 1,000 (" << PeakMemory()[10000] / PeakMemory()[1000] << " x); page faults per file "
                  << "beyond the first 1,000 (start-up, attach and the first pictures excluded): "
                  << (Faults()[10000] - Faults()[1000]) / 9000 << '\n';
    return 0;
}
