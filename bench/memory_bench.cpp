// Peak resident memory of making one thumbnail from tiny files that declare a picture at the
// size limit (2^28 pixels) but cannot hold it: a 54-byte BMP, a PNG whose data stops after a
// few rows, and TIFFs whose strips are far too short. Each case runs in a child process, so
// that its peak is its own; "Floor" is a child that only starts and encodes nothing. Then
// small TIFFs that do hold such a picture in one strip (a black picture under LZW, PackBits,
// Deflate and JPEG): they need the store of the picture (768 MiB), and nothing more of its size.
#include "app/memorysettings.h"
#include "app/thumbnailwriter.h"
#include "base/stream.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t Side = 16384; // 16384 × 16384 = 2^28 pixels

using TBytes = std::vector<std::uint8_t>;

void Put16(TBytes& out, std::uint32_t v)
{
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}
void Put32(TBytes& out, std::uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
void Put32BE(TBytes& out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(std::uint8_t(v >> shift));
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

// RGB, 8 bits, the whole picture in one strip of these bytes under compression.
TBytes OneStripTiff(std::uint16_t compression, const TBytes& strip)
{
    struct TEntry {
        std::uint16_t Tag, Type;
        std::uint32_t Count, Value;
    };
    const std::uint32_t stripBytes = std::uint32_t(strip.size());
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
    out.insert(out.end(), strip.begin(), strip.end());
    return out;
}

// A strip of stripBytes bytes (all there), far too short for the picture.
TBytes ShortTiff(std::uint16_t compression, std::uint32_t stripBytes)
{
    return OneStripTiff(compression, TBytes(stripBytes, 0));
}

// The bytes of the whole picture in one strip: zeros.
constexpr std::uint64_t PictureBytes = std::uint64_t(Side) * Side * 3;

// LZW of PictureBytes zeros: after each clear code a zero, then each time the code just made
// (one byte longer), until the table is nearly full.
TBytes LZWZeros()
{
    TBytes out;
    std::uint64_t bits = 0;
    const auto put = [&](unsigned code, int width) {
        for (int bit = width - 1; bit >= 0; --bit, ++bits) {
            if (bits % 8 == 0)
                out.push_back(0);
            if (code >> bit & 1)
                out.back() |= std::uint8_t(0x80 >> bits % 8);
        }
    };
    std::uint64_t done = 0;
    int width = 9;
    put(256, width);
    while (done < PictureBytes) {
        unsigned next = 258;
        width = 9;
        put(0, width);
        done += 1;
        for (std::uint64_t length = 2; done < PictureBytes && next < 4000; ++length) {
            put(next, width);
            done += length;
            if (++next == 511 || next == 1023 || next == 2047) // one code early
                ++width;
        }
        put(done < PictureBytes ? 256 : 257, width);
    }
    return out;
}

TBytes PackBitsZeros()
{
    TBytes out;
    for (std::uint64_t done = 0; done < PictureBytes; done += 128) {
        out.push_back(0x81); // a run of 128 zeros
        out.push_back(0);
    }
    return out;
}

TBytes DeflateZeros()
{
    z_stream stream {};
    deflateInit(&stream, 9);
    const TBytes zeros(1 << 20, 0);
    TBytes out(1 << 20);
    std::uint64_t left = PictureBytes;
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        if (stream.avail_in == 0 && left > 0) {
            stream.next_in = const_cast<Bytef*>(zeros.data());
            stream.avail_in = uInt(std::min<std::uint64_t>(left, zeros.size()));
            left -= stream.avail_in;
        }
        if (out.size() - stream.total_out < 4096)
            out.resize(out.size() * 2);
        stream.next_out = out.data() + stream.total_out;
        stream.avail_out = uInt(out.size() - stream.total_out);
        result = deflate(&stream, left == 0 ? Z_FINISH : Z_NO_FLUSH);
    }
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// One baseline JPEG of a black RGB picture (components stored as RGB, no subsampling).
TBytes JPEGBlack()
{
    jpeg_compress_struct info {};
    jpeg_error_mgr error {};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* data = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &data, &size);
    info.image_width = info.image_height = Side;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, JCS_RGB);
    jpeg_set_quality(&info, 50, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(std::size_t(Side) * 3, 0);
    JSAMPROW rows[1] = { row.data() };
    while (info.next_scanline < info.image_height)
        jpeg_write_scanlines(&info, rows, 1);
    jpeg_finish_compress(&info);
    TBytes out(data, data + size);
    jpeg_destroy_compress(&info);
    std::free(data);
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

// The file is made when its case runs and freed before the child starts, so that the child
// does not inherit it.
void BM_PeakRss(benchmark::State& state, const std::string& name, TBytes (*make)())
{
    std::string path;
    std::size_t size = 0;
    if (make) {
        const TBytes bytes = make();
        size = bytes.size();
        path = (std::filesystem::temp_directory_path() / ("memory_bench_" + std::to_string(getpid()) + "_" + name)).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    double peak = 0;
    for (auto _ : state)
        peak = std::max(peak, ChildPeakMiB(path));
    if (!path.empty())
        std::filesystem::remove(path);
    state.counters["peak_MiB"] = peak;
    state.counters["file_bytes"] = double(size);
}

const bool Registered = [] {
    const auto add = [](const std::string& name, TBytes (*make)()) {
        benchmark::RegisterBenchmark(("PeakRss/" + name).c_str(), BM_PeakRss, name, make)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    };
    add("Floor", nullptr);
    add("bmp_54_bytes.bmp", TinyBmp);
    add("png_four_rows.png", ShortPng);
    add("tiff_none_192_bytes.tif", [] { return ShortTiff(1, 42); });
    add("tiff_deflate_short.tif", [] { return ShortTiff(8, 4096); });
    add("tiff_lzw_short.tif", [] { return ShortTiff(5, 4096); });
    add("tiff_packbits_short.tif", [] { return ShortTiff(32773, 4096); });
    add("tiff_lzw_black_one_strip.tif", [] { return OneStripTiff(5, LZWZeros()); });
    add("tiff_packbits_black_one_strip.tif", [] { return OneStripTiff(32773, PackBitsZeros()); });
    add("tiff_deflate_black_one_strip.tif", [] { return OneStripTiff(8, DeflateZeros()); });
    add("tiff_jpeg_black_one_strip.tif", [] { return OneStripTiff(7, JPEGBlack()); });
    return true;
}();

} // namespace

BENCHMARK_MAIN();
