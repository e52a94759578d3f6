#include "bench/passcorpus.h"

#include "tests/support/catalogue.h"
#include "tests/support/files.h"
#include "tests/support/gifreference.h"
#include "tests/support/jpegreference.h"
#include "tests/support/pngreference.h"
#include "tests/support/tiffreference.h"

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
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

// The painter's rows of the whole picture, channels bytes a pixel.
std::vector<std::uint8_t> Paint(const TCoverPainter& painter, int width, int height, int channels)
{
    std::vector<std::uint8_t> pixels(std::size_t(width) * height * channels);
    for (int y = 0; y < height; ++y)
        painter.Row(y, channels, pixels.data() + std::size_t(y) * width * channels);
    return pixels;
}

void WriteJpeg(const std::string& path, int width, int height, int seed)
{
    jpegref::TMakeSettings settings;
    settings.Width = width;
    settings.Height = height;
    settings.Quality = 85;
    const std::vector<std::uint8_t> bytes = jpegref::Encode(Paint(TCoverPainter(width, height, seed), width, height, 3), settings);
    if (bytes.empty())
        throw std::runtime_error("libjpeg cannot write " + path);
    testsupport::WriteFile(path, bytes);
}

void WritePng(const std::string& path, int width, int height, int seed, bool alpha)
{
    const TCoverPainter painter(width, height, seed);
    pngref::TPngImage image;
    image.Width = width;
    image.Height = height;
    image.ColorType = alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
    const int channels = alpha ? 4 : 3;
    image.Rows.assign(height, std::vector<std::uint8_t>(std::size_t(width) * channels));
    for (int y = 0; y < height; ++y)
        painter.Row(y, channels, image.Rows[y].data());
    testsupport::WriteFile(path, pngref::Encode(image));
}

void WriteGif(const std::string& path, int width, int height, int seed)
{
    const TCoverPainter painter(width, height, seed);
    gifref::TGifImage image;
    image.Width = width;
    image.Height = height;
    // A 6 x 7 x 6 colour cube; the painter's grain dithers between its steps.
    image.Colors.resize(256);
    for (int i = 0; i < 252; ++i)
        image.Colors[i] = { static_cast<GifByteType>(i / 42 * 51), static_cast<GifByteType>(i / 6 % 7 * 42),
            static_cast<GifByteType>(i % 6 * 51) };
    std::vector<std::uint8_t> rgb(std::size_t(width) * 3);
    image.Rows.assign(height, std::vector<std::uint8_t>(width));
    for (int y = 0; y < height; ++y) {
        painter.Row(y, 3, rgb.data());
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = &rgb[std::size_t(x) * 3];
            image.Rows[y][x] = static_cast<std::uint8_t>((p[0] + 25) / 51 * 42 + (p[1] + 21) / 42 * 6 + (p[2] + 25) / 51);
        }
    }
    testsupport::WriteFile(path, gifref::Encode(image));
}

void WriteTiff(const std::string& path, int width, int height, int seed, bool predictor)
{
    const std::uint32_t rowsPerStrip = std::max(1, 8192 / (width * 3)); // libtiff's default: strips of about 8 KiB
    testsupport::WriteFile(path, tifftest::WriteRgbTiff(width, height, Paint(TCoverPainter(width, height, seed), width, height, 3),
        COMPRESSION_LZW, rowsPerStrip, predictor ? PREDICTOR_HORIZONTAL : 0));
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

// Creates the catalogue through isql: the schema of scripts/catalogue.sql, number n stored
// under the record key 2n + 1, no index on "num".
bool CreateCatalogue(const std::string& path, int records, std::string& reason)
{
    const std::string script = testsupport::CreateCatalogueScript(path)
        + "SET TERM ^ ;\nEXECUTE BLOCK AS DECLARE i INTEGER = 1; BEGIN WHILE (i <= " + std::to_string(records)
        + ") DO BEGIN INSERT INTO MOVIES (\"mid\", \"num\", \"title\") VALUES (2 * :i + 1, :i, 'Title ' || :i);"
        + " i = i + 1; END END^\nSET TERM ; ^\nCOMMIT;\n";
    std::string output;
    if (testsupport::RunIsqlScript(script, output) != 0) {
        reason = "isql failed: " + output;
        return false;
    }
    return true;
}

// A catalogue made once beside the corpus: numbers 1 to records, no index on "num".
std::string MadeCatalogue(const std::string& name, int records, std::string& reason)
{
    const std::string path = fs::path(PassCorpusFolder()).parent_path().parent_path().string() + "/" + name;
    if (fs::exists(path))
        return path;
    const std::string work = path + ".tmp";
    fs::remove(work);
    if (!CreateCatalogue(work, records, reason))
        return {};
    fs::rename(work, path);
    return path;
}

// The catalogue of the corpus: numbers 1 to 5000.
const std::string& CatalogueFile(std::string& reason)
{
    static std::string failure;
    static const std::string file = MadeCatalogue("pass-catalogue.fdb", CatalogueRecords, failure);
    reason = failure;
    return file;
}

std::string ProgramPath()
{
    if (const char* program = std::getenv("IBI_PROGRAM"))
        return program;
    // The bench programs live in BUILD/bench/, the tool in BUILD/.
    return (fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "images-by-id").string();
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace benchcorpus
