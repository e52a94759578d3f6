#include "bench/passcorpus.h"

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>

namespace benchcorpus {
namespace {

namespace fs = std::filesystem;

std::uint32_t Hash(std::uint32_t a, std::uint32_t b, std::uint32_t c)
{
    std::uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u ^ c * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

// A photograph-like picture: smooth colour fields from waves along both axes, a few discs and
// boxes with soft shading, and a little grain. Rows are made on demand, 3 or 4 bytes a pixel.
class TCoverPainter {
public:
    TCoverPainter(int width, int height, int seed) : FWidth(width), FHeight(height), FSeed(seed)
    {
        for (int c = 0; c < 3; ++c) {
            const double periodX = 200 + Hash(seed, c, 1) % 900, periodY = 250 + Hash(seed, c, 2) % 1100;
            const double phaseX = Hash(seed, c, 3) % 628 / 100.0, phaseY = Hash(seed, c, 4) % 628 / 100.0;
            FColumns[c].resize(width);
            FRows[c].resize(height);
            for (int x = 0; x < width; ++x)
                FColumns[c][x] = static_cast<float>(64 * std::sin(x * 6.2832 / periodX + phaseX));
            for (int y = 0; y < height; ++y)
                FRows[c][y] = static_cast<float>(128 + 56 * std::sin(y * 6.2832 / periodY + phaseY));
        }
        for (TShape& shape : FShapes) {
            const int index = static_cast<int>(&shape - FShapes.data());
            shape.Disc = index % 2 == 0;
            shape.X = static_cast<int>(Hash(seed, index, 5) % width);
            shape.Y = static_cast<int>(Hash(seed, index, 6) % height);
            shape.Size = width / 12 + static_cast<int>(Hash(seed, index, 7) % (width / 4));
            for (int c = 0; c < 3; ++c)
                shape.Colour[c] = static_cast<int>(Hash(seed, index, 8 + c) % 256);
        }
    }

    void Row(int y, int channels, std::uint8_t* out) const
    {
        for (int x = 0; x < FWidth; ++x) {
            const int grain = static_cast<int>(Hash(x, y, FSeed) & 15) - 8;
            int rgb[3];
            for (int c = 0; c < 3; ++c)
                rgb[c] = static_cast<int>(FColumns[c][x] + FRows[c][y]) + grain;
            for (const TShape& shape : FShapes) {
                const int dx = x - shape.X, dy = y - shape.Y;
                const bool inside = shape.Disc ? dx * dx + dy * dy < shape.Size * shape.Size
                                               : std::abs(dx) < shape.Size && std::abs(dy) < shape.Size * 2 / 3;
                if (inside) {
                    const int shade = (dx + dy) * 40 / (shape.Size + 1);
                    for (int c = 0; c < 3; ++c)
                        rgb[c] = shape.Colour[c] + shade + grain;
                }
            }
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<std::uint8_t>(std::clamp(rgb[c], 0, 255));
            if (channels == 4) // a vignette of transparency towards the edges
                out[3] = static_cast<std::uint8_t>(std::clamp(255 - std::abs(2 * x - FWidth) * 160 / FWidth, 0, 255));
            out += channels;
        }
    }

private:
    struct TShape {
        bool Disc = false;
        int X = 0, Y = 0, Size = 0;
        int Colour[3] {};
    };
    int FWidth, FHeight, FSeed;
    std::array<std::vector<float>, 3> FColumns, FRows;
    std::array<TShape, 5> FShapes;
};

struct TFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using TFile = std::unique_ptr<std::FILE, TFileCloser>;

TFile Create(const std::string& path)
{
    TFile file(std::fopen(path.c_str(), "wb"));
    if (!file)
        throw std::runtime_error("cannot create " + path);
    return file;
}

void WriteJpeg(const std::string& path, int width, int height, int seed)
{
    const TCoverPainter painter(width, height, seed);
    const TFile file = Create(path);
    jpeg_compress_struct info {};
    jpeg_error_mgr errors {};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file.get());
    info.image_width = width;
    info.image_height = height;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 85, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<std::uint8_t> row(std::size_t(width) * 3);
    while (info.next_scanline < info.image_height) {
        painter.Row(static_cast<int>(info.next_scanline), 3, row.data());
        JSAMPROW rows[1] = { row.data() };
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
}

void WritePng(const std::string& path, int width, int height, int seed, bool alpha)
{
    const TCoverPainter painter(width, height, seed);
    const TFile file = Create(path);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("libpng cannot write " + path);
    }
    png_init_io(png, file.get());
    png_set_IHDR(png, info, width, height, 8, alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
        PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const int channels = alpha ? 4 : 3;
    std::vector<std::uint8_t> row(std::size_t(width) * channels);
    for (int y = 0; y < height; ++y) {
        painter.Row(y, channels, row.data());
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
}

void WriteGif(const std::string& path, int width, int height, int seed)
{
    const TCoverPainter painter(width, height, seed);
    // A 6 x 7 x 6 colour cube; the painter's grain dithers between its steps.
    std::array<GifColorType, 256> colours {};
    for (int i = 0; i < 252; ++i)
        colours[i] = { static_cast<GifByteType>(i / 42 * 51), static_cast<GifByteType>(i / 6 % 7 * 42),
            static_cast<GifByteType>(i % 6 * 51) };
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    if (!gif)
        throw std::runtime_error("giflib cannot create " + path);
    ColorMapObject* map = GifMakeMapObject(256, colours.data());
    EGifSetGifVersion(gif, true);
    bool ok = EGifPutScreenDesc(gif, width, height, 8, 0, map) == GIF_OK
        && EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK;
    std::vector<std::uint8_t> rgb(std::size_t(width) * 3);
    std::vector<GifPixelType> line(width);
    for (int y = 0; ok && y < height; ++y) {
        painter.Row(y, 3, rgb.data());
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = &rgb[std::size_t(x) * 3];
            line[x] = static_cast<GifPixelType>((p[0] + 25) / 51 * 42 + (p[1] + 21) / 42 * 6 + (p[2] + 25) / 51);
        }
        ok = EGifPutLine(gif, line.data(), width) == GIF_OK;
    }
    GifFreeMapObject(map);
    if (EGifCloseFile(gif, &error) != GIF_OK || !ok)
        throw std::runtime_error("giflib cannot write " + path);
}

void WriteTiff(const std::string& path, int width, int height, int seed, bool predictor)
{
    const TCoverPainter painter(width, height, seed);
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    if (!tiff)
        throw std::runtime_error("libtiff cannot create " + path);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    if (predictor)
        TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
    std::vector<std::uint8_t> row(std::size_t(width) * 3);
    bool ok = true;
    for (int y = 0; ok && y < height; ++y) {
        painter.Row(y, 3, row.data());
        ok = TIFFWriteScanline(tiff, row.data(), y, 0) == 1;
    }
    TIFFClose(tiff);
    if (!ok)
        throw std::runtime_error("libtiff cannot write " + path);
}

// Catalogue number k gets the front cover k_1 or, for every third, the CD cover k_2.
std::string FileName(int number, const char* extension)
{
    return std::to_string(number) + (number % 3 == 0 ? "_2." : "_1.") + extension;
}

void MakeCorpus(const std::string& folder)
{
    int number = 0;
    for (int i = 0; i < PortraitJpegs; ++i, ++number)
        WriteJpeg(folder + FileName(number + 1, "jpg"), 1000, 1500, number);
    for (int i = 0; i < LandscapeJpegs; ++i, ++number)
        WriteJpeg(folder + FileName(number + 1, "jpg"), 1920, 1080, number);
    for (int i = 0; i < Pngs; ++i, ++number)
        WritePng(folder + FileName(number + 1, "png"), 800, 1200, number, i % 3 == 2);
    for (int i = 0; i < Gifs; ++i, ++number)
        WriteGif(folder + FileName(number + 1, "gif"), 600, 900, number);
    for (int i = 0; i < Tiffs; ++i, ++number)
        WriteTiff(folder + FileName(number + 1, "tif"), 1000, 1500, number, i % 2 == 1);
}

} // namespace

const std::string& PassCorpusFolder()
{
    static const std::string folder = [] {
        const fs::path root = fs::path(IBI_SOURCE_DIR) / "bench" / "corpus";
        const fs::path done = root / "pass";
        if (!fs::exists(done)) {
            const fs::path work = root / "pass.tmp";
            fs::remove_all(work);
            fs::create_directories(work);
            MakeCorpus(work.string() + "/");
            fs::rename(work, done);
        }
        return done.string() + "/";
    }();
    return folder;
}

std::vector<std::string> PassCorpusFiles()
{
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(PassCorpusFolder()))
        if (entry.is_regular_file())
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace benchcorpus
