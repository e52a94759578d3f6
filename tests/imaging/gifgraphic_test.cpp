#include "imaging/gifgraphic.h"

#include "base/stream.h"
#include "tests/support/gifreference.h"

#include <gif_lib.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using TBytes = std::vector<std::uint8_t>;

void PutU16LE(TBytes& bytes, std::uint16_t value)
{
    bytes.push_back(static_cast<std::uint8_t>(value));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

// LZW as a GIF decoder reads it, written with literal codes only (a clear code before the
// table fills). The code width follows giflib's decoder, which also covers code size 1.
TBytes LzwEncode(const TBytes& indices, int codeSize)
{
    TBytes out;
    std::uint32_t bits = 0;
    int bitCount = 0;
    const unsigned clear = 1u << codeSize;
    int width = codeSize + 1;
    unsigned running = clear + 2, maxCode = 1u << width;
    const auto emit = [&](unsigned code) {
        bits |= code << bitCount;
        bitCount += width;
        while (bitCount >= 8) {
            out.push_back(static_cast<std::uint8_t>(bits));
            bits >>= 8;
            bitCount -= 8;
        }
    };
    const auto reset = [&] {
        width = codeSize + 1;
        running = clear + 2;
        maxCode = 1u << width;
    };
    emit(clear);
    reset();
    for (const auto index : indices) {
        if (running >= 4000) {
            emit(clear);
            reset();
        }
        emit(index);
        if (running < 4097 && ++running > maxCode && width < 12) {
            maxCode <<= 1;
            ++width;
        }
    }
    emit(clear + 1);
    if (bitCount > 0)
        out.push_back(static_cast<std::uint8_t>(bits));
    return out;
}

// Writes GIF files piece by piece.
class TGifBuilder {
public:
    explicit TGifBuilder(const char* signature = "GIF89a") { FBytes.assign(signature, signature + 6); }

    TGifBuilder& Screen(std::uint16_t width, std::uint16_t height, std::uint8_t flags = 0)
    {
        PutU16LE(FBytes, width);
        PutU16LE(FBytes, height);
        FBytes.insert(FBytes.end(), { flags, 0, 0 });
        return *this;
    }
    // entries colours: entry i is (i, 2 i, 3 i) + offset.
    TGifBuilder& Table(std::size_t entries, std::uint8_t offset = 0)
    {
        for (std::size_t i = 0; i < entries; ++i)
            FBytes.insert(FBytes.end(), { std::uint8_t(i + offset), std::uint8_t(2 * i + offset), std::uint8_t(3 * i + offset) });
        return *this;
    }
    TGifBuilder& Raw(const TBytes& bytes)
    {
        FBytes.insert(FBytes.end(), bytes.begin(), bytes.end());
        return *this;
    }
    TGifBuilder& Descriptor(std::uint16_t width, std::uint16_t height, std::uint8_t flags = 0)
    {
        FBytes.push_back(0x2C);
        PutU16LE(FBytes, 3); // left and top are ignored
        PutU16LE(FBytes, 5);
        PutU16LE(FBytes, width);
        PutU16LE(FBytes, height);
        FBytes.push_back(flags);
        return *this;
    }
    // The code size byte and the LZW data cut into sub-blocks of at most blockSize bytes.
    TGifBuilder& Data(const TBytes& indices, int codeSize, std::size_t blockSize = 255, bool terminate = true)
    {
        FBytes.push_back(static_cast<std::uint8_t>(codeSize));
        const auto lzw = LzwEncode(indices, codeSize);
        for (std::size_t at = 0; at < lzw.size(); at += blockSize) {
            const auto count = std::min(blockSize, lzw.size() - at);
            FBytes.push_back(static_cast<std::uint8_t>(count));
            FBytes.insert(FBytes.end(), lzw.begin() + at, lzw.begin() + at + count);
        }
        if (terminate)
            FBytes.push_back(0);
        return *this;
    }
    TGifBuilder& Trailer()
    {
        FBytes.push_back(0x3B);
        return *this;
    }
    TBytes Bytes() const { return FBytes; }

private:
    TBytes FBytes;
};

// ---------------------------------------------------------------------------------------------
// Reference side: giflib reads the first image (de-interlaced by DGifSlurp).

struct TGifReference {
    int Width = 0, Height = 0;
    bool Interlaced = false;
    TBytes Indices;
    std::vector<GifColorType> Colors; // the image's own table, else the global one
};

// False when giflib refuses the file.
bool GiflibDecode(const TBytes& bytes, TGifReference& reference)
{
    const gifref::TGifReader reader(bytes);
    const SavedImage* image = reader.FirstImage();
    if (!image)
        return false;
    reference.Width = image->ImageDesc.Width;
    reference.Height = image->ImageDesc.Height;
    reference.Interlaced = image->ImageDesc.Interlace;
    reference.Indices.assign(image->RasterBits, image->RasterBits + std::size_t(reference.Width) * reference.Height);
    if (const ColorMapObject* map = reader.FirstImageColors())
        reference.Colors.assign(map->Colors, map->Colors + map->ColorCount);
    return true;
}

struct TGiflibCase {
    int Width, Height, Bits;
    bool Interlaced, LocalTable;
    std::uint32_t Seed;
};

void PrintTo(const TGiflibCase& c, std::ostream* os)
{
    *os << c.Width << " x " << c.Height << ", " << c.Bits << " bits" << (c.Interlaced ? ", interlaced" : "")
        << (c.LocalTable ? ", local table" : "");
}

// A random image written by giflib: runs and noise, so that the LZW table fills and clears.
TBytes GiflibEncode(const TGiflibCase& c)
{
    gifref::TGifImage image;
    image.Width = c.Width;
    image.Height = c.Height;
    image.LocalTable = c.LocalTable;
    image.Interlaced = c.Interlaced;
    std::mt19937 random(c.Seed);
    const int entries = 1 << c.Bits;
    image.Colors.resize(entries);
    for (auto& color : image.Colors)
        color = { GifByteType(random()), GifByteType(random()), GifByteType(random()) };
    if (c.LocalTable) // the local table holds the colours in reverse order
        std::reverse(image.Colors.begin(), image.Colors.end());
    image.Rows.assign(c.Height, TBytes(c.Width));
    int value = 0;
    for (auto& row : image.Rows)
        for (auto& index : row) {
            if (random() % 5 == 0)
                value = static_cast<int>(random() % entries);
            index = static_cast<std::uint8_t>(value);
        }
    return gifref::Encode(image);
}

// ---------------------------------------------------------------------------------------------

TGIFGraphic& Load(TGIFGraphic& gif, const TBytes& bytes)
{
    TMemoryStream stream(bytes);
    gif.LoadStream(stream);
    return gif;
}

std::uint8_t Index(const TGIFGraphic& gif, int x, int y) { return gif.RowAddress(y)[x]; }

void ExpectSameImage(const TGIFGraphic& gif, const TGifReference& reference, const std::string& name)
{
    ASSERT_EQ(gif.Width(), reference.Width) << name;
    ASSERT_EQ(gif.Height(), reference.Height) << name;
    const auto table = gif.ColorTable();
    if (!reference.Colors.empty()) { // without tables the bitmap keeps its own 256 colours
        EXPECT_EQ(table.size(), reference.Colors.size()) << name;
    }
    int mismatches = 0;
    for (int y = 0; y < reference.Height; ++y)
        for (int x = 0; x < reference.Width; ++x) {
            const auto want = reference.Indices[std::size_t(y) * reference.Width + x];
            const auto got = Index(gif, x, y);
            if (got != want && ++mismatches <= 3)
                ADD_FAILURE() << name << ": index at (" << x << ", " << y << ") is " << int(got) << ", giflib gives "
                              << int(want);
        }
    EXPECT_EQ(mismatches, 0) << name;
    for (std::size_t i = 0; i < std::min(table.size(), reference.Colors.size()); ++i) {
        const auto& want = reference.Colors[i];
        EXPECT_EQ(table[i], (TRGBQuad { want.Blue, want.Green, want.Red, 0 })) << name << ": colour " << i;
    }
}

TBytes ReadFile(const std::filesystem::path& path)
{
    std::ifstream input(path, std::ios::binary);
    return TBytes((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
}

TBytes Ramp(std::size_t count, unsigned modulo)
{
    TBytes indices(count);
    for (std::size_t i = 0; i < count; ++i)
        indices[i] = static_cast<std::uint8_t>(i * 7 % modulo);
    return indices;
}

// ---------------------------------------------------------------------------------------------
// Differential tests against giflib.

TEST(TGIFGraphicCorpus, DecodesLikeGiflib)
{
    const std::filesystem::path folder = std::filesystem::path(IBI_CORPUS_DIR) / "gif";
    if (!std::filesystem::is_directory(folder))
        GTEST_SKIP() << "no GIF corpus at " << folder;
    int compared = 0, files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.path().extension() != ".gif")
            continue;
        ++files;
        const auto name = entry.path().lexically_relative(folder).string();
        const TBytes bytes = ReadFile(entry.path());
        TGIFGraphic gif;
        try {
            Load(gif, bytes);
        } catch (const EInvalidGraphic&) {
            continue; // not a GIF, or no digits in the version: giflib is not asked
        } catch (const EReadError&) {
            continue; // truncated headers
        }
        TGifReference reference;
        // Compare where giflib decodes the first image completely and where the descriptor
        // gives the size (a zero width takes the screen's here).
        if (!GiflibDecode(bytes, reference) || reference.Width == 0 || reference.Height == 0)
            continue;
        ExpectSameImage(gif, reference, name);
        ++compared;
    }
    EXPECT_GE(files, 120);
    EXPECT_GE(compared, 100);
}

class TGIFGraphicMatchesGiflib : public testing::TestWithParam<TGiflibCase> {};

TEST_P(TGIFGraphicMatchesGiflib, OnWrittenImages)
{
    const auto bytes = GiflibEncode(GetParam());
    TGifReference reference;
    ASSERT_TRUE(GiflibDecode(bytes, reference));
    TGIFGraphic gif;
    ExpectSameImage(Load(gif, bytes), reference, "written image");
    EXPECT_EQ(gif.Properties().LocalColorTable, GetParam().LocalTable);
    EXPECT_EQ(gif.Properties().BitsPerSample, GetParam().Bits);
}

std::vector<TGiflibCase> GiflibCases()
{
    std::vector<TGiflibCase> cases;
    std::uint32_t seed = 1;
    for (int bits = 1; bits <= 8; ++bits)
        for (const bool interlaced : { false, true })
            for (const bool local : { false, true })
                cases.push_back({ 1 + int(seed * 37 % 150), 1 + int(seed * 23 % 90), bits, interlaced, local, seed++ });
    cases.push_back({ 640, 480, 8, false, false, seed++ }); // long enough to fill and clear the table
    cases.push_back({ 333, 251, 4, true, true, seed++ });
    return cases;
}

INSTANTIATE_TEST_SUITE_P(CodeSizesInterlaceAndTables, TGIFGraphicMatchesGiflib, testing::ValuesIn(GiflibCases()),
    [](const auto& testInfo) {
        const TGiflibCase& c = testInfo.param;
        return std::to_string(c.Width) + "x" + std::to_string(c.Height) + "_" + std::to_string(c.Bits) + "Bits"
            + (c.Interlaced ? "Interlaced" : "") + (c.LocalTable ? "LocalTable" : "");
    });

// Code size 1 (two colours) is never written by giflib; giflib reads it.
TEST(TGIFGraphic, DecodesCodeSizeOneLikeGiflib)
{
    for (const int height : { 1, 7, 40 }) {
        const auto bytes = TGifBuilder().Screen(50, height, 0x80).Table(2).Descriptor(50, height).Data(Ramp(50 * height, 2), 1).Trailer().Bytes();
        TGifReference reference;
        ASSERT_TRUE(GiflibDecode(bytes, reference));
        TGIFGraphic gif;
        ExpectSameImage(Load(gif, bytes), reference, "code size 1");
    }
}

// ---------------------------------------------------------------------------------------------
// Layout, tables and rows.

TEST(TGIFGraphic, InterlacedHeightFiveFillsRowsZeroFourTwoOneThree)
{
    // Row k of the data holds index k everywhere.
    TBytes indices;
    for (int k = 0; k < 5; ++k)
        indices.insert(indices.end(), 3, static_cast<std::uint8_t>(k));
    TGIFGraphic gif;
    Load(gif, TGifBuilder().Screen(3, 5, 0x82).Table(8).Descriptor(3, 5, 0x40).Data(indices, 3).Trailer().Bytes());
    ASSERT_EQ(gif.PixelLayout(), TPixelLayout::pl8Bit);
    const int expected[] = { 0, 3, 2, 4, 1 }; // the data row that lands in bitmap row y
    for (int y = 0; y < 5; ++y)
        EXPECT_EQ(Index(gif, 1, y), expected[y]) << "row " << y;
    EXPECT_TRUE(gif.Properties().Interlaced);
}

TEST(TGIFGraphic, DescriptorWidthZeroTakesScreenSize)
{
    TGIFGraphic gif;
    Load(gif, TGifBuilder().Screen(6, 4, 0x81).Table(4).Descriptor(0, 0).Data(Ramp(24, 4), 2).Trailer().Bytes());
    EXPECT_EQ(gif.Width(), 6);
    EXPECT_EQ(gif.Height(), 4);
    EXPECT_EQ(Index(gif, 5, 3), 23 * 7 % 4);
}

TEST(TGIFGraphic, TrailerBeforeAnyImageGivesEmptyBitmap)
{
    TGIFGraphic gif;
    Load(gif, TGifBuilder().Screen(6, 4, 0x81).Table(4).Raw({ 0x21, 0xFE, 2, 'h', 'i', 0 }).Trailer().Bytes());
    EXPECT_TRUE(gif.IsEmpty());
    EXPECT_EQ(gif.Width(), 0);
    EXPECT_EQ(gif.Height(), 0);
}

TEST(TGIFGraphic, LocalTableReplacesGlobalAndEndsAtItsSize)
{
    TGIFGraphic gif;
    Load(gif, TGifBuilder()
                  .Screen(2, 1, 0x81)
                  .Table(4)
                  .Descriptor(2, 1, 0x80)
                  .Table(2, 100)
                  .Data({ 1, 0 }, 2)
                  .Trailer()
                  .Bytes());
    const auto table = gif.ColorTable();
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0], (TRGBQuad { 100, 100, 100, 0 }));
    EXPECT_EQ(table[1], (TRGBQuad { 103, 102, 101, 0 }));
    EXPECT_EQ(gif.Pixel(0, 0), table[1]);
}

TEST(TGIFGraphic, TransparentIndexAndLaterFramesHaveNoEffect)
{
    const TBytes graphicControl = { 0x21, 0xF9, 4, 0x01, 0, 0, 2, 0 }; // transparent index 2
    const TBytes netscape = { 0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0 };
    const TBytes plainText = { 0x21, 0x01, 12, 0, 0, 0, 0, 8, 0, 8, 0, 1, 1, 0, 1, 2, 'a', 'b', 0 };
    TGIFGraphic gif;
    Load(gif, TGifBuilder()
                  .Screen(4, 2, 0x81)
                  .Table(4)
                  .Raw(netscape)
                  .Raw(plainText)
                  .Raw({ 0x21, 0x77 }) // unknown label: scanning just goes on
                  .Raw(graphicControl)
                  .Descriptor(4, 2)
                  .Data({ 2, 2, 1, 0, 3, 3, 2, 1 }, 2)
                  .Raw(graphicControl)
                  .Descriptor(4, 2)
                  .Data(TBytes(8, 0), 2)
                  .Trailer()
                  .Bytes());
    EXPECT_FALSE(gif.Transparent);
    EXPECT_EQ(Index(gif, 0, 0), 2);
    EXPECT_EQ(Index(gif, 3, 1), 1);
}

TEST(TGIFGraphic, ReloadReplacesTheImageAndTable)
{
    TGIFGraphic gif;
    Load(gif, TGifBuilder().Screen(4, 2, 0x82).Table(8).Descriptor(4, 2).Data(Ramp(8, 8), 3).Trailer().Bytes());
    Load(gif, TGifBuilder().Screen(3, 1, 0x80).Table(2, 9).Descriptor(3, 1).Data({ 1, 0, 1 }, 2).Trailer().Bytes());
    EXPECT_EQ(gif.Width(), 3);
    EXPECT_EQ(gif.ColorTable().size(), 2u);
    EXPECT_EQ(gif.Pixel(0, 0), (TRGBQuad { 12, 11, 10, 0 }));
}

// Truncated or invalid data leaves pixels at index 0 instead of undefined values.
struct TShortDataCase {
    const char* Name;
    TBytes Bytes;
    int DecodedPixels; // at least this many pixels carry data; the rest are 0
};

void PrintTo(const TShortDataCase& c, std::ostream* os) { *os << c.Name; }

class TGIFGraphicShortData : public testing::TestWithParam<TShortDataCase> {};

TEST_P(TGIFGraphicShortData, LeavesTheRestAtIndexZero)
{
    const auto& c = GetParam();
    TGIFGraphic gif;
    Load(gif, c.Bytes);
    ASSERT_EQ(gif.Width(), 10);
    ASSERT_EQ(gif.Height(), 10);
    const auto ramp = Ramp(100, 7);
    int decoded = 0;
    while (decoded < 100 && Index(gif, decoded % 10, decoded / 10) == ramp[decoded] + 1)
        ++decoded;
    EXPECT_GE(decoded, c.DecodedPixels);
    if (c.DecodedPixels == 0 || c.DecodedPixels == 100) {
        EXPECT_EQ(decoded, c.DecodedPixels);
    }
    for (int i = decoded; i < 100; ++i)
        ASSERT_EQ(Index(gif, i % 10, i / 10), 0) << "pixel " << i;
}

TBytes ShortDataGif(std::size_t keep, int codeSize = 3, bool terminate = true)
{
    auto indices = Ramp(100, 7);
    for (auto& index : indices)
        ++index; // never 0, so that undecoded pixels show
    auto bytes = TGifBuilder().Screen(10, 10, 0x82).Table(8).Descriptor(10, 10).Data(indices, codeSize, 255, terminate).Bytes();
    bytes.resize(std::min(bytes.size(), keep));
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(Table, TGIFGraphicShortData,
    testing::Values(TShortDataCase { "Complete", ShortDataGif(1000), 100 },
        TShortDataCase { "NoTrailer", ShortDataGif(1000, 3, false), 100 },
        // 13 header bytes + 24 table + 10 descriptor + code size + block size, then 16 bytes
        // of codes: a clear code and 25 pixels.
        TShortDataCase { "CutInsideBlock", ShortDataGif(13 + 24 + 10 + 2 + 16), 24 },
        TShortDataCase { "CutAfterCodeSize", ShortDataGif(13 + 24 + 10 + 1), 0 }),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

// ---------------------------------------------------------------------------------------------
// Headers.

TEST(TGIFGraphic, ReadImageInfoReportsTheFirstImage)
{
    const auto bytes = TGifBuilder("GIF87a")
                           .Screen(30, 20, 0x81)
                           .Table(4)
                           .Descriptor(12, 7, 0x80 | 0x40 | 0x03)
                           .Table(16)
                           .Data(Ramp(84, 16), 4)
                           .Trailer()
                           .Bytes();
    TMemoryStream stream(bytes);
    TGIFGraphic gif;
    ASSERT_TRUE(gif.ReadImageInfo(stream, 0));
    const auto& p = gif.Properties();
    EXPECT_EQ(p.Version, 87u);
    EXPECT_EQ(p.Width, 12u);
    EXPECT_EQ(p.Height, 7u);
    EXPECT_EQ(p.BitsPerSample, 4);
    EXPECT_EQ(p.BitsPerPixel, 4);
    EXPECT_EQ(p.SamplesPerPixel, 1);
    EXPECT_TRUE(p.LocalColorTable);
    EXPECT_TRUE(p.Interlaced);
    EXPECT_EQ(p.ColorScheme, schIndexed);
    EXPECT_EQ(p.Compression, cmpLZW);
}

TEST(TGIFGraphic, ReadImageInfoWithoutTablesOrImage)
{
    TMemoryStream stream(TGifBuilder().Screen(30, 20).Trailer().Bytes());
    TGIFGraphic gif;
    ASSERT_TRUE(gif.ReadImageInfo(stream, 0));
    EXPECT_EQ(gif.Properties().Version, 89u);
    EXPECT_EQ(gif.Properties().BitsPerSample, 8);
    EXPECT_EQ(gif.Properties().Width, 0u);
}

TEST(TGIFGraphic, AcceptsLowerCaseSignature)
{
    const auto bytes = TGifBuilder("gif89a").Screen(2, 2, 0x80).Table(2).Descriptor(2, 2).Data({ 0, 1, 1, 0 }, 2).Trailer().Bytes();
    TMemoryStream stream(bytes);
    EXPECT_TRUE(TGIFGraphic::CanReadStream(stream));
    EXPECT_EQ(stream.Position(), 0);
    TGIFGraphic gif;
    EXPECT_TRUE(gif.ReadImageInfo(stream, 0));
    Load(gif, bytes);
    EXPECT_EQ(Index(gif, 1, 0), 1);
}

TEST(TGIFGraphic, CanReadStreamNeedsMoreThan22BytesAndKeepsPosition)
{
    TBytes bytes = { 'G', 'I', 'F', '8', '9', 'a' };
    bytes.resize(22);
    TMemoryStream stream(bytes);
    EXPECT_FALSE(TGIFGraphic::CanReadStream(stream));
    bytes.push_back(0);
    TMemoryStream longer(bytes);
    EXPECT_TRUE(TGIFGraphic::CanReadStream(longer));
    EXPECT_EQ(longer.Position(), 0);
    bytes[0] = 'J';
    TMemoryStream other(bytes);
    EXPECT_FALSE(TGIFGraphic::CanReadStream(other));
    EXPECT_EQ(other.Position(), 0);
}

TEST(TGIFGraphic, ReportsProgressForTheLastPassOnly)
{
    TGIFGraphic gif;
    int running = 0, lastPercent = -1;
    std::vector<std::string> messages;
    gif.OnProgress = [&](TGraphic&, TProgressStage stage, int percent, bool, const TRect&, const std::string& message) {
        if (stage == TProgressStage::psRunning) {
            ++running;
            lastPercent = percent;
        } else if (stage == TProgressStage::psStarting) {
            messages.push_back(message);
        }
    };
    Load(gif, TGifBuilder().Screen(3, 10, 0x80).Table(2).Descriptor(3, 10, 0x40).Data(Ramp(30, 2), 2).Trailer().Bytes());
    EXPECT_EQ(running, 5);
    EXPECT_EQ(lastPercent, 100);
    EXPECT_THAT(messages, testing::ElementsAre("Preparing...", "Loading data...", "Transfering..."));
}

// ---------------------------------------------------------------------------------------------
// Refusals.

struct TBadGif {
    const char* Name;
    TBytes Bytes;
    bool ReadError; // the stream's read error, else EInvalidGraphic
    const char* Message;
};

void PrintTo(const TBadGif& bad, std::ostream* os) { *os << bad.Name; }

class TGIFGraphicRefuses : public testing::TestWithParam<TBadGif> {};

TEST_P(TGIFGraphicRefuses, WithItsMessage)
{
    const auto& bad = GetParam();
    TGIFGraphic gif;
    TMemoryStream stream(bad.Bytes);
    try {
        gif.LoadStream(stream);
        FAIL() << "loaded";
    } catch (const EInvalidGraphic& error) {
        EXPECT_FALSE(bad.ReadError);
        EXPECT_STREQ(error.what(), bad.Message);
    } catch (const EReadError& error) {
        EXPECT_TRUE(bad.ReadError);
        EXPECT_STREQ(error.what(), bad.Message);
    }
}

const char* const SInvalid = "Cannot load image. Invalid or unexpected GIF image format.";

// A whole picture whose LZW minimum code size byte says codeSize.
TBytes CodeSizeGif(std::uint8_t codeSize)
{
    TBytes bytes = ShortDataGif(1000);
    bytes[13 + 24 + 10] = codeSize;
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(Malformed, TGIFGraphicRefuses,
    testing::Values(TBadGif { "Signature", TGifBuilder("GIT89a").Screen(1, 1).Trailer().Bytes(), false, SInvalid },
        TBadGif { "VersionNotANumber", TGifBuilder("GIFx9a").Screen(1, 1).Trailer().Bytes(), false,
            "'x9' is not a valid integer value" },
        TBadGif { "MoreThan2To28Pixels",
            TGifBuilder().Screen(65535, 65535).Descriptor(65535, 65535).Data({ 0 }, 2).Trailer().Bytes(), false, SInvalid },
        TBadGif { "TruncatedHeader", TBytes { 'G', 'I', 'F', '8' }, true, "Stream read error" },
        TBadGif { "TruncatedScreen", TGifBuilder().Raw({ 1, 0, 1 }).Bytes(), true, "Stream read error" },
        TBadGif { "TruncatedTable", TGifBuilder().Screen(1, 1, 0x87).Table(100).Bytes(), true, "Stream read error" },
        TBadGif { "NoSeparator", TGifBuilder().Screen(1, 1).Raw({ 0, 1, 2 }).Bytes(), true, "Stream read error" },
        TBadGif { "TruncatedExtension", TGifBuilder().Screen(1, 1).Raw({ 0x21, 0xFE, 40, 1 }).Bytes(), true,
            "Stream read error" },
        TBadGif { "CodeSizeZero", CodeSizeGif(0), false, SInvalid },
        TBadGif { "CodeSizeNine", CodeSizeGif(9), false, SInvalid },
        TBadGif { "CodeSizeEleven", CodeSizeGif(11), false, SInvalid },
        TBadGif { "CodeSizeTwelve", CodeSizeGif(12), false, SInvalid },
        TBadGif { "TruncatedDescriptor", TGifBuilder().Screen(1, 1).Raw({ 0x2C, 0, 0, 0 }).Bytes(), true,
            "Stream read error" }),
    [](const testing::TestParamInfo<TBadGif>& testInfo) { return std::string(testInfo.param.Name); });

} // namespace
