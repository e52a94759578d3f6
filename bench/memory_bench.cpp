// Peak resident memory of making one thumbnail from tiny files that declare a picture at the
// size limit (2^28 pixels) but cannot hold it: a 54-byte BMP, a PNG whose data stops after a
// few rows, and TIFFs whose strips are far too short. Each case runs in a child process, so
// that its peak is its own; "Floor" is a child that only starts and encodes nothing. Files
// that do hold such a picture need its whole store and are not measured here.
#include "app/memorysettings.h"
#include "app/thumbnailwriter.h"
#include "base/stream.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t Side = 16384; // 16384 × 16384 = 2^28 pixels

using TBytes = std::vector<std::uint8_t>;

void Put16(TBytes& out, std::uint32_t v) { out.insert(out.end(), { std::uint8_t(v), std::uint8_t(v >> 8) }); }
void Put32(TBytes& out, std::uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
void Put32BE(TBytes& out, std::uint32_t v)
{
    out.insert(out.end(), { std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v) });
}

TBytes TinyBmp()
{
    TBytes out { 'B', 'M' };
    Put32(out, 54);
    Put32(out, 0);
    Put32(out, 54);
    for (std::uint32_t v : { 40u, Side, Side })
        Put32(out, v);
    Put16(out, 1);
    Put16(out, 24);
    for (int i = 0; i < 6; ++i)
        Put32(out, i == 2 || i == 3 ? 2835 : 0);
    return out;
}

void PngChunk(TBytes& out, const char* type, const TBytes& data)
{
    Put32BE(out, std::uint32_t(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    Put32BE(out, std::uint32_t(crc32(0, out.data() + start, uInt(out.size() - start))));
}

// RGB, 8 bits, with the data of four rows only.
TBytes ShortPng()
{
    TBytes out { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    TBytes header;
    Put32BE(header, Side);
    Put32BE(header, Side);
    header.insert(header.end(), { 8, 2, 0, 0, 0 });
    PngChunk(out, "IHDR", header);
    const TBytes rows(std::size_t(4) * (1 + Side * 3), 0);
    uLongf size = compressBound(uLong(rows.size()));
    TBytes data(size);
    compress2(data.data(), &size, rows.data(), uLong(rows.size()), 9);
    data.resize(size);
    PngChunk(out, "IDAT", data);
    PngChunk(out, "IEND", {});
    return out;
}

// RGB, 8 bits, one strip of stripBytes bytes (all there) under compression.
TBytes ShortTiff(std::uint16_t compression, std::uint32_t stripBytes)
{
    struct TEntry {
        std::uint16_t Tag, Type;
        std::uint32_t Count, Value;
    };
    const std::uint32_t entries = 10, ifd = 8, bitsAt = ifd + 2 + entries * 12 + 4, dataAt = bitsAt + 6;
    const TEntry table[] = { { 256, 4, 1, Side }, { 257, 4, 1, Side }, { 258, 3, 3, bitsAt }, { 259, 3, 1, compression },
        { 262, 3, 1, 2 }, { 273, 4, 1, dataAt }, { 277, 3, 1, 3 }, { 278, 4, 1, Side }, { 279, 4, 1, stripBytes },
        { 284, 3, 1, 1 } };
    TBytes out { 'I', 'I', 42, 0 };
    Put32(out, ifd);
    Put16(out, entries);
    for (const TEntry& entry : table) {
        Put16(out, entry.Tag);
        Put16(out, entry.Type);
        Put32(out, entry.Count);
        Put32(out, entry.Value);
    }
    Put32(out, 0);
    for (int i = 0; i < 3; ++i)
        Put16(out, 8);
    out.resize(out.size() + stripBytes, 0);
    return out;
}

// The child's peak resident set in MiB after making the thumbnail of path ("" for none).
double ChildPeakMiB(const std::string& path)
{
    int channel[2];
    if (pipe(channel) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        KeepFreedMemory();
        if (!path.empty()) {
            TMemoryStream jpeg;
            try {
                EncodeThumbnail(path, jpeg);
            } catch (...) { // a refused file is the expected outcome for most of them
            }
        }
        rusage usage {};
        getrusage(RUSAGE_SELF, &usage);
        const long kib = usage.ru_maxrss;
        [[maybe_unused]] const auto written = write(channel[1], &kib, sizeof kib);
        _exit(0);
    }
    close(channel[1]);
    long kib = -1;
    if (child < 0 || read(channel[0], &kib, sizeof kib) != sizeof kib)
        kib = -1;
    close(channel[0]);
    if (child > 0)
        waitpid(child, nullptr, 0);
    return kib < 0 ? -1 : double(kib) / 1024;
}

void BM_PeakRss(benchmark::State& state, const std::string& name, const TBytes& bytes)
{
    std::string path;
    if (!bytes.empty()) {
        path = (std::filesystem::temp_directory_path() / ("memory_bench_" + std::to_string(getpid()) + "_" + name)).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    double peak = 0;
    for (auto _ : state)
        peak = std::max(peak, ChildPeakMiB(path));
    if (!path.empty())
        std::filesystem::remove(path);
    state.counters["peak_MiB"] = peak;
    state.counters["file_bytes"] = double(bytes.size());
}

const bool Registered = [] {
    const auto add = [](const std::string& name, const TBytes& bytes) {
        benchmark::RegisterBenchmark(("PeakRss/" + name).c_str(), BM_PeakRss, name, bytes)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    };
    add("Floor", {});
    add("bmp_54_bytes.bmp", TinyBmp());
    add("png_four_rows.png", ShortPng());
    add("tiff_none_192_bytes.tif", ShortTiff(1, 42));
    add("tiff_deflate_short.tif", ShortTiff(8, 4096));
    add("tiff_lzw_short.tif", ShortTiff(5, 4096));
    add("tiff_packbits_short.tif", ShortTiff(32773, 4096));
    return true;
}();

} // namespace

BENCHMARK_MAIN();
