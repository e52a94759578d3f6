#include "imaging/pnggraphic.h"

#include "base/stream.h"
#include "imaging/codecs/decoder.h"
#include "imaging/colormanager.h"
#include "tests/support/pngreference.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using TBytes = std::vector<std::uint8_t>;

void PutU32BE(TBytes& bytes, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

// Writes PNG files chunk by chunk with real CRCs (or a deliberately wrong one).
class TPngBuilder {
public:
    TPngBuilder() { FBytes = { 0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A }; }

    TPngBuilder& Raw(const TBytes& bytes)
    {
        FBytes.insert(FBytes.end(), bytes.begin(), bytes.end());
        return *this;
    }
    TPngBuilder& Chunk(const char* type, const TBytes& data, bool goodCrc = true)
    {
        PutU32BE(FBytes, static_cast<std::uint32_t>(data.size()));
        const std::size_t typeAt = FBytes.size();
        FBytes.insert(FBytes.end(), type, type + 4);
        FBytes.insert(FBytes.end(), data.begin(), data.end());
        const auto crc = crc32(0, FBytes.data() + typeAt, static_cast<uInt>(4 + data.size()));
        PutU32BE(FBytes, static_cast<std::uint32_t>(goodCrc ? crc : crc ^ 1));
        return *this;
    }
    TPngBuilder& Ihdr(std::uint32_t width, std::uint32_t height, int depth, int colorType,
        int interlace = 0, int compression = 0, bool goodCrc = true)
    {
        TBytes data;
        PutU32BE(data, width);
        PutU32BE(data, height);
        data.insert(data.end(), { std::uint8_t(depth), std::uint8_t(colorType),
                                    std::uint8_t(compression), 0, std::uint8_t(interlace) });
        return Chunk("IHDR", data, goodCrc);
    }
    // The zlib stream split into IDAT chunks of the given sizes (the last takes the rest).
    TPngBuilder& Idat(const TBytes& zlibData, std::vector<std::size_t> pieces = {}, const char* type = "IDAT")
    {
        std::size_t at = 0;
        for (const auto piece : pieces) {
            const auto count = std::min(piece, zlibData.size() - at);
            Chunk(type, TBytes(zlibData.begin() + at, zlibData.begin() + at + count));
            at += count;
        }
        if (at < zlibData.size() || pieces.empty())
            Chunk(type, TBytes(zlibData.begin() + at, zlibData.end()));
        return *this;
    }
    TPngBuilder& Iend() { return Chunk("IEND", {}); }
    TBytes Bytes() const { return FBytes; }

private:
    TBytes FBytes;
};

TBytes Deflate(const TBytes& raw)
{
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    TBytes out(size);
    if (compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK)
        throw std::runtime_error("compress2 failed");
    out.resize(size);
    return out;
}

TBytes Be16(std::uint16_t value) { return { std::uint8_t(value >> 8), std::uint8_t(value) }; }

// ---------------------------------------------------------------------------------------------
// Reference side: libpng decodes the raw samples, the reader's own rules turn them into colours
// (truncating 16-to-8 reduction, the gAMA tone table with display gamma 2.2, alpha ignored,
// grey with alpha as grey, tRNS without effect on pixels).

struct TReference {
    int Width = 0, Height = 0;
    int ColorType = 0, Depth = 0;
    bool Interlaced = false;
    std::vector<TRGBQuad> Pixels; // top-down, blue-green-red
};

std::array<std::uint8_t, 256> ToneTable(std::uint32_t gammaTimes100000)
{
    std::array<std::uint8_t, 256> table {};
    const float fileGamma = gammaTimes100000 / 100000.0f;
    const double exponent = 1.0 / (double(fileGamma > 0 ? fileGamma : 1.0f) * double(2.2f));
    for (int i = 0; i < 256; ++i)
        table[i] = static_cast<std::uint8_t>(std::nearbyint(255.0 * std::pow(i / 255.0, exponent)));
    return table;
}

TReference ReferenceDecode(const TBytes& bytes)
{
    const pngref::TPngReader read(bytes);
    png_structp png = read.Png();
    png_infop info = read.Info();
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
    png_fixed_point gamma = 0;
    const bool hasGamma = png_get_gAMA_fixed(png, info, &gamma) != 0;
    png_colorp palette = nullptr;
    int paletteSize = 0;
    png_get_PLTE(png, info, &palette, &paletteSize);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    std::vector<TBytes> rows(height, TBytes(rowBytes));
    std::vector<png_bytep> rowPointers;
    for (auto& row : rows)
        rowPointers.push_back(row.data());
    png_read_image(png, rowPointers.data());
    png_read_end(png, nullptr);

    const auto tone = ToneTable(hasGamma ? static_cast<std::uint32_t>(gamma) : 100000);
    auto curve = [&](unsigned value) { return hasGamma ? tone[value] : static_cast<std::uint8_t>(value); };
    const int samples = colorType == 0 || colorType == 3 ? 1 : colorType == 2 ? 3 : colorType == 4 ? 2 : 4;
    auto sample = [&](const TBytes& row, png_uint_32 x, int index) -> unsigned {
        const std::size_t bit = (std::size_t(x) * samples + index) * depth;
        if (depth == 16)
            return unsigned(row[bit / 8]) << 8 | row[bit / 8 + 1];
        return (row[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
    };
    auto to8 = [&](unsigned value) { return depth == 16 ? value * 255 / 65535 : value * 255 / ((1u << depth) - 1); };

    TReference result;
    result.Width = static_cast<int>(width);
    result.Height = static_cast<int>(height);
    result.ColorType = colorType;
    result.Depth = depth;
    result.Interlaced = interlace != 0;
    for (png_uint_32 y = 0; y < height; ++y)
        for (png_uint_32 x = 0; x < width; ++x) {
            TRGBQuad pixel;
            if (colorType == 3) {
                const unsigned index = sample(rows[y], x, 0);
                if (static_cast<int>(index) < paletteSize)
                    pixel = { curve(palette[index].blue), curve(palette[index].green), curve(palette[index].red), 0 };
            } else if (colorType == 0 || colorType == 4) {
                const auto grey = curve(to8(sample(rows[y], x, 0)));
                pixel = { grey, grey, grey, 0 };
            } else {
                pixel = { curve(to8(sample(rows[y], x, 2))), curve(to8(sample(rows[y], x, 1))),
                    curve(to8(sample(rows[y], x, 0))), 0 };
            }
            result.Pixels.push_back(pixel);
        }
    return result;
}

// Writes a PNG with libpng: random samples, one filter for every row (or libpng's own choice).
struct TWriteCase {
    int ColorType, Depth, Width, Height;
    bool Interlaced;
    int Filters; // PNG_FILTER_NONE ... PNG_FILTER_PAETH, or PNG_ALL_FILTERS
    std::uint32_t Seed;
    int PaletteSize = 0;
    std::uint32_t Gamma = 0;
};

void PrintTo(const TWriteCase& c, std::ostream* os)
{
    *os << "colour type " << c.ColorType << ", depth " << c.Depth << ", " << c.Width << " x " << c.Height
        << (c.Interlaced ? ", Adam7" : "") << ", filters 0x" << std::hex << c.Filters << std::dec;
}

TBytes WriteWithLibpng(const TWriteCase& c)
{
    pngref::TPngImage image;
    image.Width = c.Width;
    image.Height = c.Height;
    image.ColorType = c.ColorType;
    image.Depth = c.Depth;
    image.Interlaced = c.Interlaced;
    image.Filters = c.Filters;
    image.Gamma = c.Gamma;
    std::mt19937 random(c.Seed);
    if (c.ColorType == 3) {
        const int entries = c.PaletteSize ? c.PaletteSize : 1 << c.Depth;
        for (int i = 0; i < entries; ++i)
            image.Palette.push_back({ std::uint8_t(random()), std::uint8_t(random()), std::uint8_t(random()) });
    }
    const int samples = c.ColorType == 0 || c.ColorType == 3 ? 1 : c.ColorType == 2 ? 3 : c.ColorType == 4 ? 2 : 4;
    const std::size_t rowBytes = (std::size_t(c.Width) * samples * c.Depth + 7) / 8;
    image.Rows.assign(c.Height, TBytes(rowBytes));
    const int paletteEntries = static_cast<int>(image.Palette.size());
    for (auto& row : image.Rows) {
        // Smooth gradients with noise, so that every filter meets both small and large deltas.
        int value = static_cast<int>(random() & 0xFF);
        for (auto& byte : row) {
            value += static_cast<int>(random() % 9) - 4;
            byte = static_cast<std::uint8_t>(random() % 16 == 0 ? random() : value);
        }
        if (c.ColorType == 3 && c.Depth == 8 && paletteEntries < 256)
            for (auto& byte : row)
                byte = static_cast<std::uint8_t>(byte % paletteEntries);
    }
    return pngref::Encode(image);
}

// ---------------------------------------------------------------------------------------------

void ExpectSamePixels(const TPNGGraphic& ours, const TReference& reference, const std::string& name)
{
    ASSERT_EQ(ours.Width(), reference.Width) << name;
    ASSERT_EQ(ours.Height(), reference.Height) << name;
    int mismatches = 0;
    for (int y = 0; y < reference.Height; ++y)
        for (int x = 0; x < reference.Width; ++x) {
            auto got = ours.Pixel(x, y);
            got.Reserved = 0;
            const auto& want = reference.Pixels[std::size_t(y) * reference.Width + x];
            if (got != want && ++mismatches <= 3)
                ADD_FAILURE() << name << ": pixel (" << x << ", " << y << ") is B" << int(got.Blue) << " G"
                              << int(got.Green) << " R" << int(got.Red) << ", libpng gives B" << int(want.Blue)
                              << " G" << int(want.Green) << " R" << int(want.Red);
        }
    EXPECT_EQ(mismatches, 0) << name;
}

TPNGGraphic& Load(TPNGGraphic& png, const TBytes& bytes)
{
    TMemoryStream stream(bytes);
    png.LoadStream(stream);
    return png;
}

TBytes ReadFile(const std::filesystem::path& path)
{
    std::ifstream input(path, std::ios::binary);
    return TBytes((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
}

// Raw rows of a small 8-bit RGB image (filter byte 0), for hand-built files.
TBytes RgbRows(int width, int height, std::uint8_t seed = 1)
{
    TBytes raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        for (int x = 0; x < width * 3; ++x)
            raw.push_back(static_cast<std::uint8_t>(seed + y * 31 + x * 7));
    }
    return raw;
}

// ---------------------------------------------------------------------------------------------
// Differential tests against libpng.

TEST(TPNGGraphicCorpus, PngSuiteDecodesLikeLibpng)
{
    const std::filesystem::path folder = std::filesystem::path(IBI_CORPUS_DIR) / "pngsuite";
    if (!std::filesystem::is_directory(folder))
        GTEST_SKIP() << "no PngSuite at " << folder;
    int decoded = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const auto name = entry.path().filename().string();
        if (entry.path().extension() != ".png" || name[0] == 'x')
            continue;
        const TBytes bytes = ReadFile(entry.path());
        TReference reference;
        try {
            reference = ReferenceDecode(bytes);
        } catch (const std::exception& error) {
            ADD_FAILURE() << name << ": libpng refuses it: " << error.what();
            continue;
        }
        TPNGGraphic png;
        try {
            Load(png, bytes);
        } catch (const std::exception& error) {
            ADD_FAILURE() << name << ": " << error.what();
            continue;
        }
        ExpectSamePixels(png, reference, name);
        ++decoded;
    }
    EXPECT_GE(decoded, 150);
}

TEST(TPNGGraphicCorpus, CorruptedPngSuiteFilesFailCleanly)
{
    const std::filesystem::path folder = std::filesystem::path(IBI_CORPUS_DIR) / "pngsuite";
    if (!std::filesystem::is_directory(folder))
        GTEST_SKIP() << "no PngSuite at " << folder;
    int refused = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const auto name = entry.path().filename().string();
        if (entry.path().extension() != ".png" || name[0] != 'x')
            continue;
        TPNGGraphic png;
        TMemoryStream stream(ReadFile(entry.path()));
        try {
            png.LoadStream(stream);
            ADD_FAILURE() << name << " loaded";
        } catch (const EInvalidGraphic&) {
            ++refused;
        } catch (const EReadError&) {
            ++refused;
        }
    }
    EXPECT_EQ(refused, 14);
}

class TPNGGraphicMatchesLibpng : public testing::TestWithParam<TWriteCase> {};

TEST_P(TPNGGraphicMatchesLibpng, OnWrittenImages)
{
    const auto bytes = WriteWithLibpng(GetParam());
    TPNGGraphic png;
    Load(png, bytes);
    ExpectSamePixels(png, ReferenceDecode(bytes), "written image");
}

std::vector<TWriteCase> WriteCases()
{
    struct TFormat { int ColorType, Depth; };
    const TFormat formats[] = { { 0, 1 }, { 0, 2 }, { 0, 4 }, { 0, 8 }, { 0, 16 }, { 2, 8 }, { 2, 16 }, { 3, 1 },
        { 3, 2 }, { 3, 4 }, { 3, 8 }, { 4, 8 }, { 4, 16 }, { 6, 8 }, { 6, 16 } };
    const int filters[] = { PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH,
        PNG_ALL_FILTERS };
    std::vector<TWriteCase> cases;
    std::uint32_t seed = 1;
    for (const auto format : formats)
        for (const int filter : filters)
            for (const bool interlaced : { false, true })
                cases.push_back({ format.ColorType, format.Depth, 1 + int(seed * 7 % 33), 1 + int(seed * 5 % 19),
                    interlaced, filter, seed++ });
    // Every width 1 to 9 through Adam7, where early passes are empty.
    for (int width = 1; width <= 9; ++width)
        for (int height = 1; height <= 9; height += 4)
            cases.push_back({ 2, 8, width, height, true, PNG_FILTER_PAETH, seed++ });
    // Gamma, short palettes.
    cases.push_back({ 2, 8, 20, 7, false, PNG_ALL_FILTERS, seed++, 0, 100000 });
    cases.push_back({ 0, 4, 20, 7, true, PNG_ALL_FILTERS, seed++, 0, 45455 });
    cases.push_back({ 6, 16, 20, 7, false, PNG_FILTER_PAETH, seed++, 0, 70000 });
    cases.push_back({ 3, 8, 20, 7, false, PNG_ALL_FILTERS, seed++, 17, 50000 });
    cases.push_back({ 3, 2, 20, 7, false, PNG_ALL_FILTERS, seed++, 3, 0 });
    cases.push_back({ 2, 8, 300, 200, true, PNG_ALL_FILTERS, seed++ });
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllFormatsAndFilters, TPNGGraphicMatchesLibpng, testing::ValuesIn(WriteCases()),
    [](const auto& testInfo) {
        const TWriteCase& c = testInfo.param;
        const std::string filter = c.Filters == PNG_FILTER_NONE ? "None"
            : c.Filters == PNG_FILTER_SUB                       ? "Sub"
            : c.Filters == PNG_FILTER_UP                        ? "Up"
            : c.Filters == PNG_FILTER_AVG                       ? "Average"
            : c.Filters == PNG_FILTER_PAETH                     ? "Paeth"
                                                                : "All";
        return "ColorType" + std::to_string(c.ColorType) + "Depth" + std::to_string(c.Depth) + "_" + std::to_string(c.Width)
            + "x" + std::to_string(c.Height) + (c.Interlaced ? "Adam7" : "") + "_" + filter
            + (c.PaletteSize ? "_Palette" + std::to_string(c.PaletteSize) : "")
            + (c.Gamma ? "_Gamma" + std::to_string(c.Gamma) : "");
    });

TEST(TPNGGraphic, ImageDataSplitOverManyChunksIncludingEmptyOnes)
{
    const TWriteCase c { 2, 8, 40, 30, false, PNG_ALL_FILTERS, 77 };
    const auto reference = ReferenceDecode(WriteWithLibpng(c));
    TBytes raw;
    for (int y = 0; y < c.Height; ++y) {
        raw.push_back(0);
        for (int x = 0; x < c.Width; ++x) {
            const auto& p = reference.Pixels[std::size_t(y) * c.Width + x];
            raw.insert(raw.end(), { p.Red, p.Green, p.Blue });
        }
    }
    const auto zlibData = Deflate(raw);
    std::vector<std::size_t> pieces;
    for (std::size_t i = 0; i < zlibData.size() / 7; ++i)
        pieces.push_back(i % 3 == 0 ? 0 : 1 + i % 13);
    TPNGGraphic png;
    Load(png, TPngBuilder().Ihdr(c.Width, c.Height, 8, 2).Idat(zlibData, pieces).Iend().Bytes());
    ExpectSamePixels(png, reference, "split image data");
}

// Image data is inflated in one piece when it is one intact stream ending with the data, and
// row by row otherwise; both give the same picture, and bytes after the stream are judged as
// the rows meet them: in a later chunk they are passed over, inside the stream's own chunk
// they are an error.
TEST(TPNGGraphic, WholeAndRowByRowInflatingAgree)
{
    const int width = 33, height = 21;
    const TBytes raw = RgbRows(width, height, 5);
    const TBytes zlibData = Deflate(raw);
    const auto load = [&](const TBytes& file) {
        TPNGGraphic png;
        TMemoryStream stream(file);
        png.LoadStream(stream);
        std::vector<TRGBQuad> pixels;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                pixels.push_back(png.Pixel(x, y));
        return pixels;
    };
    const auto plain = load(TPngBuilder().Ihdr(width, height, 8, 2).Idat(zlibData, { 100, 0, 7 }).Iend().Bytes());
    for (int x = 0; x < width; ++x) {
        EXPECT_EQ(plain[std::size_t(20 * width + x)].Red, raw[std::size_t(20 * (1 + width * 3) + 1 + x * 3)]);
        EXPECT_EQ(plain[std::size_t(20 * width + x)].Blue, raw[std::size_t(20 * (1 + width * 3) + 3 + x * 3)]);
    }
    EXPECT_EQ(load(TPngBuilder().Ihdr(width, height, 8, 2).Idat(zlibData).Chunk("IDAT", { 1, 2, 3 }).Iend().Bytes()), plain);
    TBytes trailing = zlibData;
    trailing.insert(trailing.end(), { 9, 9, 9 });
    TPNGGraphic png;
    TMemoryStream stream(TPngBuilder().Ihdr(width, height, 8, 2).Idat(trailing).Iend().Bytes());
    EXPECT_THROW(png.LoadStream(stream), EInvalidGraphic);
}

// Image data too large to inflate in one piece (over 24 MiB) streams row by row: same pixels.
TEST(TPNGGraphic, LargeImageStreamsRowByRowLikeLibpng)
{
    const TWriteCase c { 6, 8, 2600, 2500, false, PNG_FILTER_SUB, 91 };
    ASSERT_GT((std::uint64_t(c.Width) * 4 + 1) * std::uint64_t(c.Height), std::uint64_t(24) << 20);
    const auto bytes = WriteWithLibpng(c);
    TPNGGraphic png;
    Load(png, bytes);
    ExpectSamePixels(png, ReferenceDecode(bytes), "large image");
}

// ---------------------------------------------------------------------------------------------
// Chunks.

TEST(TPNGGraphic, AcceptsImageDataChunkInAnyLetterCase)
{
    TPNGGraphic png;
    Load(png, TPngBuilder().Ihdr(3, 2, 8, 2).Idat(Deflate(RgbRows(3, 2)), {}, "iDAT").Iend().Bytes());
    EXPECT_EQ(png.Pixel(1, 1).Red, RgbRows(3, 2)[1 + 3 * 3 + 1 + 3]);
}

TEST(TPNGGraphic, SkipsUnknownAncillaryChunk)
{
    TPNGGraphic png;
    Load(png, TPngBuilder().Ihdr(3, 2, 8, 2).Chunk("abCD", { 1, 2, 3 }, false).Idat(Deflate(RgbRows(3, 2))).Iend().Bytes());
    EXPECT_EQ(png.Width(), 3);
}

TEST(TPNGGraphic, ChunkRightAfterImageDataIsNotInterpreted)
{
    const auto rows = RgbRows(4, 3);
    TPNGGraphic png;
    Load(png, TPngBuilder()
                  .Ihdr(4, 3, 8, 2)
                  .Idat(Deflate(rows))
                  .Chunk("tRNS", { 0, 1, 0, 8, 0, 9 }, false) // not even its CRC is checked
                  .Iend()
                  .Bytes());
    EXPECT_FALSE(png.Transparent);

    TPNGGraphic withGamma;
    Load(withGamma, TPngBuilder().Ihdr(4, 3, 8, 2).Idat(Deflate(rows)).Chunk("gAMA", { 0, 0, 0x27, 0x10 }).Iend().Bytes());
    EXPECT_EQ(withGamma.Pixel(0, 0).Red, rows[1]);
    EXPECT_EQ(withGamma.Properties().Options & optGammaApplied, 0);
}

TEST(TPNGGraphic, GammaBeforeImageDataAppliesToneTable)
{
    const auto rows = RgbRows(4, 3);
    TPNGGraphic png;
    Load(png, TPngBuilder().Ihdr(4, 3, 8, 2).Chunk("gAMA", { 0, 0, 0x27, 0x10 }).Idat(Deflate(rows)).Iend().Bytes());
    EXPECT_EQ(png.Pixel(0, 0).Red, ToneTable(10000)[rows[1]]);
    EXPECT_NE(png.Properties().Options & optGammaApplied, 0);
}

TEST(TPNGGraphic, GreyTransparentColourIsRecordedOnly)
{
    TBytes raw = { 0, 0x80, 0x10 };
    TPNGGraphic png;
    Load(png, TPngBuilder().Ihdr(2, 1, 8, 0).Chunk("tRNS", Be16(0x0080)).Idat(Deflate(raw)).Iend().Bytes());
    EXPECT_TRUE(png.Transparent);
    EXPECT_EQ(png.TransparentColor, 0x808080u);
    EXPECT_EQ(png.Pixel(0, 0).Red, 0x80);
    EXPECT_EQ(png.Pixel(1, 0).Red, 0x10);
}

TEST(TPNGGraphic, RgbTransparentColourTakesRedGreenBlue)
{
    TBytes tRNS;
    for (const std::uint16_t value : { 0x0011, 0x0022, 0x0033 })
        for (const auto byte : Be16(value))
            tRNS.push_back(byte);
    TPNGGraphic png;
    Load(png, TPngBuilder().Ihdr(1, 1, 8, 2).Chunk("tRNS", tRNS).Idat(Deflate({ 0, 1, 2, 3 })).Iend().Bytes());
    EXPECT_TRUE(png.Transparent);
    EXPECT_EQ(png.TransparentColor, RGBColor(0x11, 0x22, 0x33));
}

// ---------------------------------------------------------------------------------------------
// Bitmap layouts chosen for each colour type.

struct TLayoutCase {
    int ColorType, Depth;
    TPixelLayout Layout;
    std::size_t TableSize;
};

class TPNGGraphicLayout : public testing::TestWithParam<TLayoutCase> {};

TEST_P(TPNGGraphicLayout, FollowsColourTypeAndDepth)
{
    const auto& c = GetParam();
    TPNGGraphic png;
    Load(png, WriteWithLibpng({ c.ColorType, c.Depth, 5, 3, false, PNG_FILTER_NONE, 3 }));
    EXPECT_EQ(png.PixelLayout(), c.Layout);
    EXPECT_EQ(png.ColorTable().size(), c.TableSize);
}

INSTANTIATE_TEST_SUITE_P(Table, TPNGGraphicLayout,
    testing::Values(TLayoutCase { 0, 1, TPixelLayout::pl1Bit, 2 }, TLayoutCase { 0, 2, TPixelLayout::pl4Bit, 16 },
        TLayoutCase { 0, 4, TPixelLayout::pl4Bit, 16 }, TLayoutCase { 0, 8, TPixelLayout::pl8Bit, 256 },
        TLayoutCase { 0, 16, TPixelLayout::pl8Bit, 256 }, TLayoutCase { 2, 8, TPixelLayout::pl24Bit, 0 },
        TLayoutCase { 2, 16, TPixelLayout::pl24Bit, 0 }, TLayoutCase { 3, 1, TPixelLayout::pl1Bit, 2 },
        TLayoutCase { 3, 2, TPixelLayout::pl4Bit, 16 }, TLayoutCase { 3, 8, TPixelLayout::pl8Bit, 256 },
        TLayoutCase { 4, 8, TPixelLayout::pl8Bit, 256 }, TLayoutCase { 4, 16, TPixelLayout::pl8Bit, 256 },
        TLayoutCase { 6, 8, TPixelLayout::pl32Bit, 0 }, TLayoutCase { 6, 16, TPixelLayout::pl32Bit, 0 }),
    [](const auto& testInfo) {
        return "ColorType" + std::to_string(testInfo.param.ColorType) + "Depth" + std::to_string(testInfo.param.Depth);
    });

TEST(TPNGGraphic, GreyDepthTwoUsesSixteenGreys)
{
    TPNGGraphic png;
    Load(png, TPngBuilder().Ihdr(4, 1, 2, 0).Idat(Deflate({ 0, 0b00011011 })).Iend().Bytes());
    const auto table = png.ColorTable();
    ASSERT_EQ(table.size(), 16u);
    EXPECT_EQ(table[1].Red, 17);
    EXPECT_EQ(png.Pixel(0, 0).Red, 0);
    EXPECT_EQ(png.Pixel(1, 0).Red, 85);
    EXPECT_EQ(png.Pixel(2, 0).Red, 170);
    EXPECT_EQ(png.Pixel(3, 0).Red, 255);
}

// ---------------------------------------------------------------------------------------------
// Early end of the image data and the background colour.

TEST(TPNGGraphic, ImageDataEndingEarlyLoadsWhatItHas)
{
    const int width = 16, height = 40;
    TBytes raw = RgbRows(width, height);
    const auto zlibData = Deflate(raw);
    // Cut the stream a little after the first rows; the rest of the image keeps the background.
    z_stream stream {};
    inflateInit(&stream);
    TBytes out(raw.size());
    stream.next_in = const_cast<Bytef*>(zlibData.data());
    stream.avail_in = static_cast<uInt>(zlibData.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(3 * (1 + width * 3) + 5);
    inflate(&stream, Z_SYNC_FLUSH);
    const std::size_t consumed = zlibData.size() - stream.avail_in;
    inflateEnd(&stream);
    TBytes bkgd;
    for (const std::uint16_t value : { 0x10, 0x20, 0x30 })
        for (const auto byte : Be16(value))
            bkgd.push_back(byte);
    TPNGGraphic png;
    Load(png, TPngBuilder()
                  .Ihdr(width, height, 8, 2)
                  .Chunk("bKGD", bkgd)
                  .Chunk("IDAT", TBytes(zlibData.begin(), zlibData.begin() + consumed))
                  .Iend()
                  .Bytes());
    ASSERT_EQ(png.Height(), height);
    EXPECT_EQ(png.Pixel(5, 1).Red, raw[1 + width * 3 + 1 + 5 * 3]);
    EXPECT_EQ(png.Pixel(5, 1).Blue, raw[1 + width * 3 + 1 + 5 * 3 + 2]);
    const auto last = png.Pixel(width - 1, height - 1);
    EXPECT_EQ(last.Red, 0x10);
    EXPECT_EQ(last.Green, 0x20);
    EXPECT_EQ(last.Blue, 0x30);
}

// Plain RGB and RGBA stores are not cleared before decoding: a file failing halfway still
// leaves every row either decoded or cleared, and the row padding clear.
TEST(TPNGGraphic, FailingHalfwayLeavesDecodedOrClearedRows)
{
    for (const int colorType : { 2, 6 }) {
        const int width = 15, height = 60, channels = colorType == 2 ? 3 : 4;
        TBytes raw;
        for (int y = 0; y < height; ++y) {
            raw.push_back(0);
            for (int x = 0; x < width * channels; ++x)
                raw.push_back(static_cast<std::uint8_t>(1 + (x * 7 + y * 3) % 250)); // never 0
        }
        const auto zlibData = Deflate(raw);
        const std::size_t half = zlibData.size() / 2;
        TPNGGraphic png;
        TMemoryStream stream(TPngBuilder()
                                 .Ihdr(width, height, 8, colorType)
                                 .Chunk("IDAT", TBytes(zlibData.begin(), zlibData.begin() + half))
                                 .Chunk("IDAT", TBytes(zlibData.begin() + half, zlibData.end()), false)
                                 .Iend()
                                 .Bytes());
        EXPECT_THROW(png.LoadStream(stream), EInvalidGraphic) << colorType;
        ASSERT_EQ(png.Height(), height);
        const std::size_t used = std::size_t(width) * (colorType == 2 ? 3 : 4);
        int decoded = 0;
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* row = std::as_const(png).RowAddress(y);
            const bool cleared = std::all_of(row, row + png.RowBytes(), [](std::uint8_t b) { return b == 0; });
            EXPECT_TRUE(cleared || row[0] != 0) << "row " << y << " of colour type " << colorType;
            EXPECT_TRUE(std::all_of(row + used, row + png.RowBytes(), [](std::uint8_t b) { return b == 0; }));
            decoded += cleared ? 0 : 1;
        }
        EXPECT_GT(decoded, 0);
        EXPECT_LT(decoded, height);
    }
}

struct TBackgroundCase {
    int ColorType, Depth;
    TBytes Bkgd;
    std::uint8_t Red, Green, Blue;
};

class TPNGGraphicBackground : public testing::TestWithParam<TBackgroundCase> {};

// An image whose data is missing entirely (an empty zlib stream start) shows only the background.
TEST_P(TPNGGraphicBackground, FillsPixelsTheDataNeverReached)
{
    const auto& c = GetParam();
    TPngBuilder builder;
    builder.Ihdr(9, 2, c.Depth, c.ColorType);
    if (c.ColorType == 3)
        builder.Chunk("PLTE", { 1, 2, 3, 40, 50, 60 });
    builder.Chunk("bKGD", c.Bkgd).Chunk("IDAT", { 0x78, 0xDA }).Iend();
    TPNGGraphic png;
    Load(png, builder.Bytes());
    const auto pixel = png.Pixel(8, 1);
    EXPECT_EQ(pixel.Red, c.Red);
    EXPECT_EQ(pixel.Green, c.Green);
    EXPECT_EQ(pixel.Blue, c.Blue);
}

INSTANTIATE_TEST_SUITE_P(Table, TPNGGraphicBackground,
    testing::Values(TBackgroundCase { 2, 16, { 0xFF, 0xFF, 0x80, 0x80, 0x00, 0xFF }, 255, 128, 0 },
        TBackgroundCase { 6, 8, { 0, 7, 0, 8, 0, 9 }, 7, 8, 9 },
        TBackgroundCase { 0, 8, { 0, 0x44 }, 0x44, 0x44, 0x44 },
        TBackgroundCase { 4, 16, { 0xFF, 0xFF }, 255, 255, 255 },
        TBackgroundCase { 0, 1, { 0, 1 }, 255, 255, 255 }, // white, not 0x010101
        TBackgroundCase { 0, 2, { 0, 2 }, 170, 170, 170 },
        TBackgroundCase { 0, 4, { 0, 15 }, 255, 255, 255 },
        TBackgroundCase { 3, 8, { 1 }, 40, 50, 60 },
        TBackgroundCase { 2, 8, {}, 255, 255, 255 }),
    [](const auto& testInfo) {
        return "ColorType" + std::to_string(testInfo.param.ColorType) + "Depth" + std::to_string(testInfo.param.Depth);
    }); // too short: white stays

// ---------------------------------------------------------------------------------------------
// Refusals, each with its fixed message.

enum class TErrorKind { ekInvalidGraphic, ekCompression, ekRead };

struct TBadPng {
    const char* Name;
    TBytes Bytes;
    TErrorKind Kind;
    const char* Message;
};

void PrintTo(const TBadPng& bad, std::ostream* os) { *os << bad.Name; }

class TPNGGraphicRefuses : public testing::TestWithParam<TBadPng> {};

TEST_P(TPNGGraphicRefuses, WithItsFixedMessage)
{
    const auto& bad = GetParam();
    TPNGGraphic png;
    TMemoryStream stream(bad.Bytes);
    try {
        png.LoadStream(stream);
        FAIL() << "loaded";
    } catch (const EInvalidGraphic& error) {
        EXPECT_EQ(bad.Kind, TErrorKind::ekInvalidGraphic);
        EXPECT_STREQ(error.what(), bad.Message);
    } catch (const EGraphicCompression& error) {
        EXPECT_EQ(bad.Kind, TErrorKind::ekCompression);
        EXPECT_STREQ(error.what(), bad.Message);
    } catch (const EReadError& error) {
        EXPECT_EQ(bad.Kind, TErrorKind::ekRead);
        EXPECT_STREQ(error.what(), bad.Message);
    }
}

const char* const SInvalid = "Cannot load image. Invalid or unexpected PNG image format.";
const char* const SCrc = "Cannot load image. CRC error found in PNG file.";

TBytes WithExtraAfterStream()
{
    auto zlibData = Deflate(RgbRows(2, 2));
    zlibData.insert(zlibData.end(), { 1, 2, 3 });
    return zlibData;
}

TBytes ShortStream()
{
    auto raw = RgbRows(2, 2);
    raw.pop_back(); // the stream ends two bytes short of the last row
    raw.pop_back();
    return Deflate(raw);
}

TBytes CorruptStream()
{
    auto zlibData = Deflate(RgbRows(20, 20));
    zlibData[2] = 0xFF; // an invalid block type
    return zlibData;
}

std::vector<TBadPng> BadPngs()
{
    const auto rows = Deflate(RgbRows(2, 2));
    TBytes wrongSignature = TPngBuilder().Ihdr(2, 2, 8, 2).Idat(rows).Iend().Bytes();
    wrongSignature[4] = 0x0A;
    return {
        { "Signature", wrongSignature, TErrorKind::ekInvalidGraphic, SInvalid },
        { "FirstChunkNotHeader", TPngBuilder().Chunk("gAMA", { 0, 0, 0, 1 }).Ihdr(2, 2, 8, 2).Iend().Bytes(),
            TErrorKind::ekInvalidGraphic, SInvalid },
        { "WidthZero", TPngBuilder().Ihdr(0, 2, 8, 2).Idat(rows).Iend().Bytes(), TErrorKind::ekInvalidGraphic, SInvalid },
        { "HeightZero", TPngBuilder().Ihdr(2, 0, 8, 2).Idat(rows).Iend().Bytes(), TErrorKind::ekInvalidGraphic, SInvalid },
        { "MoreThan2To28Pixels", TPngBuilder().Ihdr(65536, 4097, 8, 0).Idat(rows).Iend().Bytes(),
            TErrorKind::ekInvalidGraphic, SInvalid },
        { "DataFarTooShortForTheRows", TPngBuilder().Ihdr(4000, 4000, 8, 2).Idat(Deflate(RgbRows(4000, 1))).Iend().Bytes(),
            TErrorKind::ekInvalidGraphic, SInvalid },
        { "NoImageData", TPngBuilder().Ihdr(2, 2, 8, 2).Iend().Bytes(), TErrorKind::ekInvalidGraphic, SInvalid },
        { "HeaderCrc", TPngBuilder().Ihdr(2, 2, 8, 2, 0, 0, false).Idat(rows).Iend().Bytes(),
            TErrorKind::ekInvalidGraphic, SCrc },
        { "DataCrc", TPngBuilder().Ihdr(2, 2, 8, 2).Chunk("IDAT", rows, false).Iend().Bytes(),
            TErrorKind::ekInvalidGraphic, SCrc },
        { "GammaCrc", TPngBuilder().Ihdr(2, 2, 8, 2).Chunk("gAMA", { 0, 0, 1, 0 }, false).Idat(rows).Iend().Bytes(),
            TErrorKind::ekInvalidGraphic, SCrc },
        { "CompressionMethod", TPngBuilder().Ihdr(2, 2, 8, 2, 0, 1).Idat(rows).Iend().Bytes(),
            TErrorKind::ekInvalidGraphic, "Cannot load image. The compression scheme is not supported for PNG files." },
        { "ColourType1", TPngBuilder().Ihdr(2, 2, 8, 1).Idat(rows).Iend().Bytes(), TErrorKind::ekInvalidGraphic,
            "Invalid color format in PNG file." },
        { "RgbDepth4", TPngBuilder().Ihdr(2, 2, 4, 2).Idat(rows).Iend().Bytes(), TErrorKind::ekInvalidGraphic,
            "Invalid color format in PNG file." },
        { "IndexedDepth16", TPngBuilder().Ihdr(2, 2, 16, 3).Chunk("PLTE", { 1, 2, 3 }).Idat(rows).Iend().Bytes(),
            TErrorKind::ekInvalidGraphic, "Invalid color format in PNG file." },
        { "PaletteLength", TPngBuilder().Ihdr(2, 2, 8, 3).Chunk("PLTE", { 1, 2, 3, 4 }).Idat(rows).Iend().Bytes(),
            TErrorKind::ekInvalidGraphic, "Cannot load image. Palette in PNG file is invalid." },
        { "CriticalABCD", TPngBuilder().Ihdr(2, 2, 8, 2).Chunk("ABCD", {}).Idat(rows).Iend().Bytes(),
            TErrorKind::ekInvalidGraphic, "Cannot load PNG image. Unexpected but critical chunk detected." },
        { "CriticalAfterData", TPngBuilder().Ihdr(2, 2, 8, 2).Idat(rows).Chunk("tEXt", {}).Chunk("ABCD", {}).Iend().Bytes(),
            TErrorKind::ekInvalidGraphic, "Cannot load PNG image. Unexpected but critical chunk detected." },
        { "ExtraAfterStream", TPngBuilder().Ihdr(2, 2, 8, 2).Idat(WithExtraAfterStream()).Iend().Bytes(),
            TErrorKind::ekInvalidGraphic, "Cannot load image. Extra compressed data found in PNG file." },
        { "StreamEndsInsideARow", TPngBuilder().Ihdr(2, 3, 8, 2).Idat(ShortStream()).Iend().Bytes(),
            TErrorKind::ekInvalidGraphic, "Cannot load image. Extra compressed data found in PNG file." },
        { "CorruptStream", TPngBuilder().Ihdr(20, 20, 8, 2).Idat(CorruptStream()).Iend().Bytes(),
            TErrorKind::ekInvalidGraphic, "Cannot load image. Compression error found in PNG file." },
        { "TruncatedChunk", [&] {
             auto bytes = TPngBuilder().Ihdr(2, 2, 8, 2).Idat(rows).Bytes();
             bytes.resize(bytes.size() - 6);
             return bytes;
         }(),
            TErrorKind::ekRead, "Stream read error" },
        { "NoEnd", TPngBuilder().Ihdr(2, 2, 8, 2).Idat(rows).Bytes(), TErrorKind::ekRead, "Stream read error" },
    };
}

INSTANTIATE_TEST_SUITE_P(Malformed, TPNGGraphicRefuses, testing::ValuesIn(BadPngs()),
    [](const testing::TestParamInfo<TBadPng>& testInfo) { return std::string(testInfo.param.Name); });

// ---------------------------------------------------------------------------------------------
// Header inspection.

TEST(TPNGGraphic, CanReadStreamKeepsThePosition)
{
    TBytes bytes = { 'x', 'y' };
    const auto png = TPngBuilder().Ihdr(2, 2, 8, 2).Iend().Bytes();
    bytes.insert(bytes.end(), png.begin(), png.end());
    TMemoryStream stream(bytes);
    EXPECT_FALSE(TPNGGraphic::CanReadStream(stream));
    EXPECT_EQ(stream.Position(), 0);
    stream.SetPosition(2);
    EXPECT_TRUE(TPNGGraphic::CanReadStream(stream));
    EXPECT_EQ(stream.Position(), 2);
    TMemoryStream shortStream(TBytes(png.begin(), png.begin() + 8)); // nothing after the signature
    EXPECT_FALSE(TPNGGraphic::CanReadStream(shortStream));
    EXPECT_EQ(shortStream.Position(), 0);
}

TEST(TPNGGraphic, ReadImageInfoReportsHeaderAndGamma)
{
    const auto bytes = TPngBuilder()
                           .Ihdr(300, 200, 16, 6, 1)
                           .Chunk("tEXt", { 'a', 0, 'b' })
                           .Chunk("gAMA", { 0, 0, 0xB1, 0x8F })
                           .Idat(Deflate({ 0 }))
                           .Iend()
                           .Bytes();
    TMemoryStream stream(bytes);
    TPNGGraphic png;
    ASSERT_TRUE(png.ReadImageInfo(stream, 0));
    const auto& p = png.Properties();
    EXPECT_EQ(p.Width, 300u);
    EXPECT_EQ(p.Height, 200u);
    EXPECT_EQ(p.BitsPerSample, 16);
    EXPECT_EQ(p.SamplesPerPixel, 4);
    EXPECT_EQ(p.BitsPerPixel, 64);
    EXPECT_EQ(p.ColorScheme, schRGBA);
    EXPECT_EQ(p.Compression, cmpDeflate);
    EXPECT_TRUE(p.Interlaced);
    EXPECT_TRUE(p.HasAlpha);
    EXPECT_NE(p.Options & optBigEndian, 0);
    EXPECT_NEAR(p.FileGamma, 0.45455, 1e-6);
}

TEST(TPNGGraphic, ReadImageInfoWithoutGammaKeepsOne)
{
    TMemoryStream stream(TPngBuilder().Ihdr(3, 4, 2, 0, 0, 7).Iend().Bytes());
    TPNGGraphic png;
    ASSERT_TRUE(png.ReadImageInfo(stream, 0));
    EXPECT_EQ(png.Properties().Compression, cmpUndefined);
    EXPECT_EQ(png.Properties().ColorScheme, schGray);
    EXPECT_FLOAT_EQ(png.Properties().FileGamma, 1.0f);
}

TEST(TPNGGraphic, LoadsFromTheMiddleOfAStream)
{
    TBytes bytes(5, 0xEE);
    const auto file = TPngBuilder().Ihdr(3, 2, 8, 2).Idat(Deflate(RgbRows(3, 2))).Iend().Bytes();
    bytes.insert(bytes.end(), file.begin(), file.end());
    TMemoryStream stream(bytes);
    stream.SetPosition(5);
    TPNGGraphic png;
    png.LoadStream(stream);
    EXPECT_EQ(png.Width(), 3);
    EXPECT_EQ(png.Pixel(2, 1).Green, RgbRows(3, 2)[1 + 9 + 1 + 6 + 1]);
}

TEST(TPNGGraphic, ReloadResetsTransparencyAndGamma)
{
    TPNGGraphic png;
    Load(png, TPngBuilder().Ihdr(1, 1, 8, 0).Chunk("gAMA", { 0, 0, 0x27, 0x10 }).Chunk("tRNS", Be16(5)).Idat(Deflate({ 0, 9 })).Iend().Bytes());
    EXPECT_TRUE(png.Transparent);
    Load(png, TPngBuilder().Ihdr(1, 1, 8, 0).Idat(Deflate({ 0, 9 })).Iend().Bytes());
    EXPECT_FALSE(png.Transparent);
    EXPECT_EQ(png.Pixel(0, 0).Red, 9);
}

TEST(TPNGGraphic, ReportsProgressForEveryRowOfTheLastPass)
{
    TPNGGraphic png;
    int running = 0;
    std::vector<std::string> messages;
    png.OnProgress = [&](TGraphic&, TProgressStage stage, int, bool, const TRect&, const std::string& message) {
        if (stage == TProgressStage::psRunning)
            ++running;
        else if (stage == TProgressStage::psStarting)
            messages.push_back(message);
    };
    Load(png, WriteWithLibpng({ 2, 8, 9, 11, true, PNG_ALL_FILTERS, 5 }));
    EXPECT_EQ(running, 5); // pass 7 holds rows 1, 3, 5, 7, 9
    EXPECT_THAT(messages, testing::ElementsAre("Preparing...", "Transfering..."));
    running = 0;
    Load(png, WriteWithLibpng({ 2, 8, 9, 11, false, PNG_ALL_FILTERS, 5 }));
    EXPECT_EQ(running, 11);
}

} // namespace
