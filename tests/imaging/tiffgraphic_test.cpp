#include "imaging/tiffgraphic.h"

#include "base/stream.h"
#include "imaging/codecs/decoder.h"
#include "imaging/codecs/lz77.h"
#include "imaging/colormanager.h"
#include "imaging/tiffdirectory.h"
#include "tests/imaging/tiffexpected.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <tiffio.h>
#include <zlib.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <vector>

using namespace tifftest;
using testing::StrEq;
using testing::ThrowsMessage;

namespace {

constexpr const char* SNotSupported = "Cannot load image. The compression scheme is not supported for TIF/TIFF files.";
constexpr const char* SInvalidTIFF = "Cannot load image. Invalid or unexpected TIF/TIFF image format.";

// A hand-made TIFF: pixel data right after the header, then the directory, then the values
// that do not fit into their entries. Offsets in entries are filled in by Bytes().
class TRawTiff {
public:
    explicit TRawTiff(bool bigEndian = false) : FBigEndian(bigEndian) {}

    std::uint32_t AddData(const std::vector<std::uint8_t>& bytes)
    {
        const std::uint32_t offset = 8 + std::uint32_t(FData.size());
        FData.insert(FData.end(), bytes.begin(), bytes.end());
        return offset;
    }
    TRawTiff& Add(std::uint16_t tag, std::uint16_t type, std::vector<std::uint32_t> values)
    {
        FEntries.push_back({ tag, type, std::move(values), 0 });
        return *this;
    }
    // An entry whose value field says count values at offset, whatever the file holds.
    TRawTiff& AddLie(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t offset)
    {
        FEntries.push_back({ tag, type, {}, count, offset });
        return *this;
    }
    TRawTiff& Remove(std::uint16_t tag)
    {
        std::erase_if(FEntries, [&](const TEntry& entry) { return entry.Tag == tag; });
        return *this;
    }

    std::vector<std::uint8_t> Bytes() const
    {
        std::vector<std::uint8_t> out;
        out.push_back(FBigEndian ? 'M' : 'I');
        out.push_back(FBigEndian ? 'M' : 'I');
        Put16(out, 42);
        const std::uint32_t ifd = 8 + std::uint32_t(FData.size()) + (FData.size() & 1);
        Put32(out, ifd);
        out.insert(out.end(), FData.begin(), FData.end());
        if (FData.size() & 1)
            out.push_back(0);
        std::vector<std::uint8_t> extra;
        const std::uint32_t extraStart = ifd + 2 + 12 * std::uint32_t(FEntries.size()) + 4;
        Put16(out, std::uint16_t(FEntries.size()));
        for (const TEntry& entry : FEntries) {
            Put16(out, entry.Tag);
            Put16(out, entry.Type);
            if (entry.Values.empty()) {
                Put32(out, entry.LieCount);
                Put32(out, entry.LieOffset);
                continue;
            }
            Put32(out, std::uint32_t(entry.Values.size()));
            std::vector<std::uint8_t> value;
            for (std::uint32_t v : entry.Values) {
                if (entry.Type == 5) { // RATIONAL v/1
                    Put32(value, v);
                    Put32(value, 1);
                } else if (TypeSize(entry.Type) == 1)
                    value.push_back(std::uint8_t(v));
                else if (TypeSize(entry.Type) == 2)
                    Put16(value, std::uint16_t(v));
                else
                    Put32(value, v);
            }
            if (value.size() <= 4) {
                value.resize(4, 0);
                out.insert(out.end(), value.begin(), value.end());
            } else {
                Put32(out, extraStart + std::uint32_t(extra.size()));
                extra.insert(extra.end(), value.begin(), value.end());
            }
        }
        Put32(out, 0);
        out.insert(out.end(), extra.begin(), extra.end());
        return out;
    }

private:
    struct TEntry {
        std::uint16_t Tag, Type;
        std::vector<std::uint32_t> Values;
        std::uint32_t LieCount = 0, LieOffset = 0;
    };
    static int TypeSize(std::uint16_t type) { return type == 3 || type == 8 ? 2 : type == 4 || type == 9 ? 4 : type == 5 ? 8 : 1; }
    void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) const
    {
        if (FBigEndian)
            out.insert(out.end(), { std::uint8_t(v >> 8), std::uint8_t(v) });
        else
            out.insert(out.end(), { std::uint8_t(v), std::uint8_t(v >> 8) });
    }
    void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) const
    {
        if (FBigEndian) {
            Put16(out, std::uint16_t(v >> 16));
            Put16(out, std::uint16_t(v));
        } else {
            Put16(out, std::uint16_t(v));
            Put16(out, std::uint16_t(v >> 16));
        }
    }

    bool FBigEndian;
    std::vector<std::uint8_t> FData;
    std::vector<TEntry> FEntries;
};

constexpr std::uint16_t tShort = 3, tLong = 4, tRational = 5;

// A grey 8-bit strip image of the raw builder: width × height bytes in strips of rows.
TRawTiff GrayRaw(std::uint32_t width, std::uint32_t height, const std::vector<std::uint8_t>& pixels, bool bigEndian = false)
{
    TRawTiff raw(bigEndian);
    const std::uint32_t offset = raw.AddData(pixels);
    raw.Add(256, tLong, { width }).Add(257, tLong, { height }).Add(258, tShort, { 8 }).Add(259, tShort, { 1 });
    raw.Add(262, tShort, { 1 }).Add(273, tLong, { offset }).Add(277, tShort, { 1 });
    raw.Add(279, tLong, { std::uint32_t(pixels.size()) });
    return raw;
}

// An uncompressed grey tiled image of the raw builder: tiles of any size and depth, their
// bytes a pattern of their own.
TRawTiff GrayTiledRaw(std::uint32_t width, std::uint32_t height, std::uint32_t tileWidth, std::uint32_t tileLength,
    std::uint32_t bits = 8)
{
    TRawTiff raw;
    const std::uint32_t tileBytes = (tileWidth * bits + 7) / 8 * tileLength;
    const std::uint32_t tiles = (width + tileWidth - 1) / tileWidth * ((height + tileLength - 1) / tileLength);
    std::vector<std::uint32_t> offsets, counts;
    for (std::uint32_t tile = 0; tile < tiles; ++tile) {
        std::vector<std::uint8_t> data(tileBytes);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = std::uint8_t(tile * 37 + i * 11);
        offsets.push_back(raw.AddData(data));
        counts.push_back(tileBytes);
    }
    raw.Add(256, tLong, { width }).Add(257, tLong, { height }).Add(258, tShort, { bits }).Add(259, tShort, { 1 });
    raw.Add(262, tShort, { 1 }).Add(277, tShort, { 1 }).Add(322, tLong, { tileWidth }).Add(323, tLong, { tileLength });
    raw.Add(324, tLong, offsets).Add(325, tLong, counts);
    return raw;
}

void Load(TTIFFGraphic& tiff, const std::vector<std::uint8_t>& bytes)
{
    TMemoryStream stream(bytes);
    tiff.LoadStream(stream);
}

std::vector<TBGRA> Colors(const TTIFFGraphic& tiff)
{
    std::vector<TBGRA> colors;
    const bool alpha = tiff.PixelLayout() == TPixelLayout::pl32Bit;
    for (int y = 0; y < tiff.Height(); ++y)
        for (int x = 0; x < tiff.Width(); ++x) {
            const TRGBQuad quad = tiff.Pixel(x, y);
            colors.push_back({ quad.Blue, quad.Green, quad.Red, alpha ? tiff.RowAddress(y)[x * 4 + 3] : std::uint8_t(0) });
        }
    return colors;
}

// Largest difference of one channel between the image and the colours expected, over the
// pixels whose colour is known (-1 when the sizes differ).
int MaxDifference(const std::vector<TBGRA>& a, const std::vector<std::optional<TBGRA>>& b)
{
    if (a.size() != b.size())
        return -1;
    int worst = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (b[i])
            worst = std::max({ worst, std::abs(a[i].B - b[i]->B), std::abs(a[i].G - b[i]->G), std::abs(a[i].R - b[i]->R),
                std::abs(a[i].A - b[i]->A) });
    return worst;
}

int MaxDifference(const std::vector<TBGRA>& a, const std::vector<TBGRA>& b)
{
    return MaxDifference(a, std::vector<std::optional<TBGRA>>(b.begin(), b.end()));
}

std::vector<std::uint16_t> RampColorMap(int bits)
{
    const int n = 1 << bits;
    std::vector<std::uint16_t> map(3 * n);
    for (std::int64_t i = 0; i < n; ++i) {
        map[i] = std::uint16_t(i * 65535 / (n - 1));
        map[n + i] = std::uint16_t(65535 - i * 40000 / n);
        map[2 * n + i] = std::uint16_t((i * 7919) & 0xFFFF);
    }
    return map;
}

// ---------------------------------------------------------------------------------------
// Colours pinned for the two conversions done by formula, computed once outside this code
// with double-precision floats, rounded half to even and clamped to 0 ... 255:
// - L*a*b*: samples as an 8-bit TIFF stores them (L* x 2.55; a*, b* as signed bytes). CIE
//   L*a*b* to XYZ with the white at X = Y = Z = 1 and kappa = 903.3, where the reader takes the
//   straight segment for L* below 8 for all three values rather than per value (the two rules
//   part for seven of the samples below); then the reader's documented XYZ to RGB matrix,
//   linear, without a transfer curve. The samples are chosen so that swapping two digits of
//   any constant of either formula changes at least one colour.
// - YCbCr: TIFF 6.0 section 21 with Cb and Cr centred on 128 and the file's luma weights:
//   R = Y + (2 - 2 Kr) Cr, B = Y + (2 - 2 Kb) Cb, G = Y - Kb (2 - 2 Kb) / Kg Cb
//   - Kr (2 - 2 Kr) / Kg Cr, each chroma term rounded on its own as the reader's tables do
//   (rounding the sum once gives one more in green for (200, 255, 0), (70, 150, 140) and,
//   with the 709 weights, (182, 30, 12)).

struct TPinned {
    std::array<std::uint8_t, 3> Samples;
    TBGRA Colour;
};

const TPinned LabColours[] = {
    { { 0, 0, 0 }, { 0, 0, 0, 0 } }, { { 255, 0, 0 }, { 255, 255, 255, 0 } },
    { { 128, 0, 0 }, { 47, 47, 47, 0 } }, { { 10, 0, 255 }, { 1, 1, 1, 0 } },
    { { 9, 1, 254 }, { 1, 1, 1, 0 } }, { { 20, 127, 0 }, { 3, 0, 27, 0 } },
    { { 20, 0, 128 }, { 25, 3, 0, 0 } }, { { 20, 129, 127 }, { 0, 9, 0, 0 } },
    { { 21, 0, 0 }, { 2, 2, 2, 0 } }, { { 128, 100, 0 }, { 54, 0, 255, 0 } },
    { { 128, 156, 0 }, { 44, 80, 0, 0 } }, { { 128, 0, 100 }, { 0, 45, 73, 0 } },
    { { 128, 0, 156 }, { 255, 63, 0, 0 } }, { { 200, 127, 127 }, { 5, 0, 255, 0 } },
    { { 50, 128, 128 }, { 237, 27, 0, 0 } }, { { 180, 20, 236 }, { 161, 92, 134, 0 } },
    { { 240, 5, 5 }, { 200, 211, 248, 0 } }, { { 200, 10, 10 }, { 112, 126, 181, 0 } },
    { { 220, 246, 20 }, { 115, 183, 168, 0 } }, { { 160, 30, 30 }, { 36, 55, 172, 0 } },
    { { 230, 236, 236 }, { 255, 223, 83, 0 } }, { { 245, 0, 0 }, { 230, 230, 230, 0 } },
    { { 150, 250, 8 }, { 55, 71, 64, 0 } }, { { 100, 5, 250 }, { 34, 26, 30, 0 } },
    { { 5, 222, 120 }, { 0, 2, 5, 0 } }, { { 1, 12, 138 }, { 21, 1, 0, 0 } },
    { { 5, 102, 210 }, { 9, 0, 17, 0 } }, { { 1, 60, 150 }, { 20, 0, 3, 0 } },
};

constexpr std::array<float, 3> Weights601 { 0.299f, 0.587f, 0.114f }; // the default
constexpr std::array<float, 3> Weights709 { 0.2126f, 0.7152f, 0.0722f };

const TPinned YCbCr601Colours[] = {
    { { 0, 128, 128 }, { 0, 0, 0, 0 } }, { { 255, 128, 128 }, { 255, 255, 255, 0 } },
    { { 128, 128, 128 }, { 128, 128, 128, 0 } }, { { 76, 85, 255 }, { 0, 0, 254, 0 } },
    { { 150, 44, 21 }, { 1, 255, 0, 0 } }, { { 29, 255, 107 }, { 254, 0, 0, 0 } },
    { { 200, 255, 0 }, { 255, 247, 21, 0 } }, { { 128, 64, 192 }, { 15, 104, 218, 0 } },
    { { 60, 200, 90 }, { 188, 62, 7, 0 } }, { { 180, 100, 160 }, { 130, 167, 225, 0 } },
    { { 210, 150, 110 }, { 249, 215, 185, 0 } }, { { 128, 100, 150 }, { 78, 122, 159, 0 } },
    { { 90, 140, 120 }, { 111, 92, 79, 0 } }, { { 160, 120, 135 }, { 146, 158, 170, 0 } },
    { { 70, 150, 140 }, { 109, 53, 87, 0 } }, { { 16, 16, 16 }, { 0, 135, 0, 0 } },
    { { 235, 240, 240 }, { 255, 116, 255, 0 } },
};

const TPinned YCbCr709Colours[] = {
    { { 128, 128, 128 }, { 128, 128, 128, 0 } }, { { 54, 99, 255 }, { 0, 0, 254, 0 } },
    { { 182, 30, 12 }, { 0, 254, 0, 0 } }, { { 100, 60, 200 }, { 0, 79, 213, 0 } },
    { { 220, 180, 90 }, { 255, 228, 160, 0 } }, { { 120, 110, 150 }, { 87, 113, 155, 0 } },
    { { 160, 140, 100 }, { 182, 171, 116, 0 } }, { { 90, 150, 160 }, { 131, 71, 140, 0 } },
};

bool SameWeights(const std::vector<float>& weights, const std::array<float, 3>& pinned)
{
    return weights.size() == 3
        && std::equal(weights.begin(), weights.end(), pinned.begin(), [](float a, float b) { return std::abs(a - b) < 1e-6f; });
}

// The pinned colour of the samples, for ExpectedColors.
std::optional<TBGRA> PinnedColour(const TDecoded& d, const std::array<std::uint8_t, 3>& samples)
{
    std::span<const TPinned> table;
    if (d.Photometric == PHOTOMETRIC_CIELAB)
        table = LabColours;
    else if (SameWeights(d.LumaWeights, Weights601))
        table = YCbCr601Colours;
    else if (SameWeights(d.LumaWeights, Weights709))
        table = YCbCr709Colours;
    for (const TPinned& pinned : table)
        if (pinned.Samples == samples)
            return pinned.Colour;
    return std::nullopt;
}

// Interleaved samples of the plan's size taken from the table in turn, from entry first on.
std::vector<std::uint8_t> PinnedSamples(const TTiffPlan& plan, std::span<const TPinned> table, std::size_t first)
{
    std::vector<std::uint8_t> samples;
    for (std::size_t pixel = 0; pixel < std::size_t(plan.Width) * plan.Height; ++pixel) {
        const auto& entry = table[(first + pixel) % table.size()].Samples;
        samples.insert(samples.end(), entry.begin(), entry.end());
    }
    return samples;
}

// ---------------------------------------------------------------------------------------
// Differential: files written by libtiff decode to the colours the conversion rules give
// from libtiff's own decoded samples.

struct TCase {
    std::string Name;
    TTiffPlan Plan;
    TPixelLayout Layout;
    int Tolerance = 0; // JPEG: both sides run libjpeg, but not necessarily alike
};

std::ostream& operator<<(std::ostream& out, const TCase& c) { return out << c.Name; }

// The table is built kind by kind. Each case gets a sample pattern of its own; widths and
// strip sizes run through their variants across the kinds.
class TCaseTable {
public:
    void Add(std::string name, TTiffPlan plan, TPixelLayout layout, int tolerance = 0)
    {
        if (plan.Samples.empty())
            plan.Samples = Pattern(plan, std::uint32_t(FCases.size() + 7));
        FCases.push_back({ std::move(name), std::move(plan), layout, tolerance });
    }
    int NextVariant() { return FVariant++; }
    std::size_t Count() const { return FCases.size(); }
    std::vector<TCase> Cases() { return std::move(FCases); }

private:
    std::vector<TCase> FCases;
    int FVariant = 0;
};

constexpr std::uint32_t StripRows[] = { 0, 1, 3, 5 };

// One compression in one byte order, for the strip cases of every colour kind.
struct TStripKind {
    std::uint16_t Compression;
    bool BigEndian;
    bool Predictable; // a compression that takes a predictor
    std::string Suffix;
};

TPixelLayout IndexedLayout(int bits)
{
    using enum TPixelLayout;
    return bits == 1 ? pl1Bit : bits <= 4 ? pl4Bit : pl8Bit;
}

void AddGrayAndPaletteCases(TCaseTable& table, const TStripKind& kind)
{
    for (int bits : { 1, 2, 4, 8, 16 })
        for (std::uint16_t photometric : { PHOTOMETRIC_MINISBLACK, PHOTOMETRIC_MINISWHITE }) {
            const int variant = table.NextVariant();
            TTiffPlan plan;
            plan.Width = 13 + variant % 5;
            plan.Height = 7;
            plan.RowsPerStrip = StripRows[variant % 4];
            plan.BitsPerSample = std::uint16_t(bits);
            plan.Photometric = photometric;
            plan.Compression = kind.Compression;
            plan.BigEndian = kind.BigEndian;
            plan.Predictor = kind.Predictable && bits >= 8 ? 2 : 0;
            table.Add("Gray" + std::to_string(bits) + (photometric ? "MinIsBlack" : "MinIsWhite") + kind.Suffix, plan,
                IndexedLayout(bits));
        }
    for (int bits : { 1, 2, 4, 8 }) {
        const int variant = table.NextVariant();
        TTiffPlan plan;
        plan.Width = 11 + variant % 7;
        plan.Height = 6;
        plan.RowsPerStrip = StripRows[variant % 4];
        plan.BitsPerSample = std::uint16_t(bits);
        plan.Photometric = PHOTOMETRIC_PALETTE;
        plan.ColorMap = RampColorMap(bits);
        plan.Compression = kind.Compression;
        plan.BigEndian = kind.BigEndian;
        table.Add("Palette" + std::to_string(bits) + kind.Suffix, plan, IndexedLayout(bits));
    }
}

void AddColorCases(TCaseTable& table, const TStripKind& kind)
{
    using enum TPixelLayout;
    for (int bits : { 8, 16 })
        for (int samples : { 3, 4 })
            for (bool predictor : { false, true }) {
                if (predictor && !kind.Predictable)
                    continue;
                const int variant = table.NextVariant();
                TTiffPlan plan;
                plan.Width = 9 + variant % 6;
                plan.Height = 5;
                plan.RowsPerStrip = StripRows[variant % 4];
                plan.BitsPerSample = std::uint16_t(bits);
                plan.SamplesPerPixel = std::uint16_t(samples);
                plan.Photometric = PHOTOMETRIC_RGB;
                if (samples == 4)
                    plan.ExtraSamples = { EXTRASAMPLE_UNASSALPHA };
                plan.Compression = kind.Compression;
                plan.BigEndian = kind.BigEndian;
                plan.Predictor = predictor ? 2 : 0;
                table.Add(std::string(samples == 3 ? "RGB" : "RGBA") + std::to_string(bits) + (predictor ? "Predictor" : "")
                        + kind.Suffix,
                    plan, samples == 3 ? pl24Bit : pl32Bit);
            }
    for (int bits : { 8, 16 }) {
        TTiffPlan plan;
        plan.Width = 10;
        plan.Height = 4;
        plan.RowsPerStrip = StripRows[table.NextVariant() % 4];
        plan.BitsPerSample = std::uint16_t(bits);
        plan.SamplesPerPixel = 2;
        plan.ExtraSamples = { EXTRASAMPLE_ASSOCALPHA };
        plan.Photometric = bits == 8 ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK;
        plan.Compression = kind.Compression;
        plan.BigEndian = kind.BigEndian;
        plan.Predictor = kind.Predictable ? 2 : 0;
        table.Add("GrayAlpha" + std::to_string(bits) + kind.Suffix, plan, pl8Bit);

        plan.SamplesPerPixel = 4;
        plan.ExtraSamples.clear();
        plan.Photometric = PHOTOMETRIC_SEPARATED;
        table.Add("CMYK" + std::to_string(bits) + kind.Suffix, plan, pl24Bit);
    }
}

// Floats from −0.2 to 1.2 (half, single or double precision in machine order), so that both
// clamps and the range between are met.
TBytes FloatSamples(const TTiffPlan& plan)
{
    const std::size_t count = std::size_t(plan.Width) * plan.Height * plan.SamplesPerPixel;
    const unsigned bytes = plan.BitsPerSample / 8;
    TBytes samples(count * bytes);
    for (std::size_t i = 0; i < count; ++i) {
        const float value = float((i * 37 + i / 5) % 141) / 100.0f - 0.2f;
        std::uint64_t word = 0;
        if (bytes == 2) { // half precision, cut off; values this size are normal numbers or 0
            std::uint32_t single;
            std::memcpy(&single, &value, 4);
            const int exponent = int(single >> 23 & 0xFF) - 127 + 15;
            word = (single >> 16 & 0x8000) | (exponent > 0 ? std::uint32_t(exponent) << 10 | (single >> 13 & 0x3FF) : 0);
        } else if (bytes == 4) {
            std::memcpy(&word, &value, 4);
        } else {
            const double wide = value;
            std::memcpy(&word, &wide, 8);
        }
        std::memcpy(samples.data() + i * bytes, &word, bytes);
    }
    return samples;
}

// Depths other than 8 and 16 bits, signed and floating-point samples, wide palettes.
void AddDepthCases(TCaseTable& table, const TStripKind& kind)
{
    using enum TPixelLayout;
    struct TDepth {
        const char* Name;
        std::uint16_t Photometric, Samples, Bits, Format;
        TPixelLayout Layout;
    };
    static const TDepth depths[] = { { "Gray3", 1, 1, 3, 1, pl8Bit }, { "Gray6MinIsWhite", 0, 1, 6, 1, pl8Bit },
        { "Gray12", 1, 1, 12, 1, pl8Bit }, { "Gray24", 1, 1, 24, 1, pl8Bit }, { "Gray32", 1, 1, 32, 1, pl8Bit },
        { "GrayInt8", 1, 1, 8, 2, pl8Bit }, { "GrayInt16", 1, 1, 16, 2, pl8Bit }, { "GrayInt32", 1, 1, 32, 2, pl8Bit },
        { "GrayFloat16", 1, 1, 16, 3, pl8Bit }, { "GrayFloat32", 1, 1, 32, 3, pl8Bit }, { "GrayFloat64", 1, 1, 64, 3, pl8Bit },
        { "GrayAlpha12", 1, 2, 12, 1, pl8Bit }, { "RGB2", 2, 3, 2, 1, pl24Bit }, { "RGB5", 2, 3, 5, 1, pl24Bit },
        { "RGB10", 2, 3, 10, 1, pl24Bit }, { "RGB14", 2, 3, 14, 1, pl24Bit }, { "RGBInt8", 2, 3, 8, 2, pl24Bit },
        { "RGBInt16", 2, 3, 16, 2, pl24Bit }, { "RGBFloat32", 2, 3, 32, 3, pl24Bit }, { "RGBA12", 2, 4, 12, 1, pl32Bit },
        { "CMYK4", 5, 4, 4, 1, pl24Bit }, { "CMYKFloat32", 5, 4, 32, 3, pl24Bit }, { "Palette3", 3, 1, 3, 1, pl24Bit },
        { "Palette16", 3, 1, 16, 1, pl24Bit } };
    for (const TDepth& depth : depths) {
        const bool wholeSamples = depth.Bits == 8 || depth.Bits == 16 || depth.Bits == 32 || depth.Bits == 64;
        for (int predictor : { 1, 2, 3 }) {
            if (predictor > 1 && (!kind.Predictable || !wholeSamples || (predictor == 3) != (depth.Format == 3)))
                continue;
            const int variant = table.NextVariant();
            TTiffPlan plan;
            plan.Width = 7 + variant % 9;
            plan.Height = 5;
            plan.RowsPerStrip = StripRows[variant % 4];
            plan.Photometric = depth.Photometric;
            plan.SamplesPerPixel = depth.Samples;
            plan.BitsPerSample = depth.Bits;
            plan.SampleFormat = depth.Format;
            if (depth.Samples == 2 || (depth.Samples == 4 && depth.Photometric == PHOTOMETRIC_RGB))
                plan.ExtraSamples = { EXTRASAMPLE_UNASSALPHA };
            if (depth.Photometric == PHOTOMETRIC_PALETTE)
                plan.ColorMap = RampColorMap(depth.Bits);
            if (depth.Format == SAMPLEFORMAT_IEEEFP)
                plan.Samples = FloatSamples(plan);
            plan.Compression = kind.Compression;
            plan.BigEndian = kind.BigEndian;
            plan.Predictor = std::uint16_t(predictor == 1 ? 0 : predictor);
            table.Add(depth.Name + std::string(predictor == 1 ? "" : predictor == 2 ? "Predictor" : "FloatPredictor") + kind.Suffix,
                plan, depth.Layout);
        }
    }
}

// Lab, YCbCr without subsampling and separate planes, in one strip.
void AddSingleStripCases(TCaseTable& table, const TStripKind& kind)
{
    TTiffPlan lab;
    lab.Width = 16;
    lab.Height = 16;
    lab.SamplesPerPixel = 3;
    lab.Photometric = PHOTOMETRIC_CIELAB;
    lab.Compression = kind.Compression;
    lab.BigEndian = kind.BigEndian;
    TTiffPlan ycbcr = lab;
    TTiffPlan planar = lab;
    lab.Samples = PinnedSamples(lab, LabColours, table.Count());
    table.Add("Lab8" + kind.Suffix, lab, TPixelLayout::pl24Bit);

    ycbcr.Photometric = PHOTOMETRIC_YCBCR;
    ycbcr.SubsamplingH = ycbcr.SubsamplingV = 1;
    ycbcr.Samples = PinnedSamples(ycbcr, YCbCr601Colours, table.Count());
    table.Add("YCbCr8" + kind.Suffix, ycbcr, TPixelLayout::pl24Bit);

    planar.Photometric = PHOTOMETRIC_RGB;
    planar.PlanarConfig = PLANARCONFIG_SEPARATE;
    planar.RowsPerStrip = 5;
    planar.Predictor = kind.Predictable ? 2 : 0;
    table.Add("PlanarRGB8" + kind.Suffix, planar, TPixelLayout::pl24Bit);
    planar.BitsPerSample = 16;
    planar.SamplesPerPixel = 4;
    planar.Photometric = PHOTOMETRIC_SEPARATED;
    table.Add("PlanarCMYK16" + kind.Suffix, planar, TPixelLayout::pl24Bit);
}

// Fill order 2 for every kind of strip, fax codecs included.
void AddFillOrderCases(TCaseTable& table)
{
    for (std::uint16_t compression : { COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_PACKBITS, COMPRESSION_ADOBE_DEFLATE,
             COMPRESSION_CCITTFAX3, COMPRESSION_CCITTRLE, COMPRESSION_CCITTRLEW })
        for (std::uint16_t fillOrder : { FILLORDER_MSB2LSB, FILLORDER_LSB2MSB })
            for (bool bigEndian : { false, true }) {
                TTiffPlan plan;
                plan.Width = 45;
                plan.Height = 9;
                plan.RowsPerStrip = bigEndian ? 4 : 0;
                plan.BitsPerSample = 1;
                plan.Photometric = PHOTOMETRIC_MINISWHITE;
                plan.Compression = compression;
                plan.FillOrder = fillOrder;
                plan.BigEndian = bigEndian;
                table.Add("Bilevel" + std::to_string(compression) + "FillOrder" + std::to_string(fillOrder)
                        + (bigEndian ? "BE" : "LE"),
                    plan, TPixelLayout::pl1Bit);
            }
}

// JPEG: YCbCr with several subsamplings, RGB and grey.
void AddJPEGCases(TCaseTable& table)
{
    using enum TPixelLayout;
    const std::pair<int, int> samplings[] = { { 1, 1 }, { 2, 1 }, { 2, 2 } };
    for (bool bigEndian : { false, true })
        for (const auto& [h, v] : samplings) {
            TTiffPlan plan;
            plan.Width = 40;
            plan.Height = 37;
            plan.RowsPerStrip = 16;
            plan.SamplesPerPixel = 3;
            plan.Photometric = PHOTOMETRIC_YCBCR;
            plan.Compression = COMPRESSION_JPEG;
            plan.SubsamplingH = std::uint16_t(h);
            plan.SubsamplingV = std::uint16_t(v);
            plan.BigEndian = bigEndian;
            table.Add("JPEGYCbCr" + std::to_string(h) + std::to_string(v) + (bigEndian ? "BE" : "LE"), plan, pl24Bit, 0);
        }
    TTiffPlan rgbJpeg;
    rgbJpeg.Width = 33;
    rgbJpeg.Height = 20;
    rgbJpeg.RowsPerStrip = 8;
    rgbJpeg.SamplesPerPixel = 3;
    rgbJpeg.Photometric = PHOTOMETRIC_RGB;
    rgbJpeg.Compression = COMPRESSION_JPEG;
    table.Add("JPEGRGB", rgbJpeg, pl24Bit, 0);
    // Separate planes: every strip is a one-component JPEG of one plane's rows.
    for (std::uint32_t rows : { 8u, 16u, 0u }) {
        TTiffPlan planarJpeg = rgbJpeg;
        planarJpeg.PlanarConfig = PLANARCONFIG_SEPARATE;
        planarJpeg.RowsPerStrip = rows;
        table.Add("JPEGPlanarRGBRows" + std::to_string(rows), planarJpeg, pl24Bit, 0);
    }
    TTiffPlan grayJpeg = rgbJpeg;
    grayJpeg.SamplesPerPixel = 1;
    grayJpeg.Photometric = PHOTOMETRIC_MINISBLACK;
    table.Add("JPEGGray", grayJpeg, pl8Bit, 0);
}

// Tiled files: every kind under every compression it takes, the tile sizes (16 × 16 to
// 256 × 256) and picture sizes that are not multiples of the tile rotating through the cases.
void AddTileCases(TCaseTable& table)
{
    using enum TPixelLayout;
    struct TTileKind {
        const char* Name;
        std::uint16_t Bits, Samples, Photometric, PlanarConfig, SampleFormat;
        TPixelLayout Layout;
    };
    static const TTileKind kinds[] = { { "Bilevel", 1, 1, PHOTOMETRIC_MINISWHITE, 1, 1, pl1Bit },
        { "Gray4", 4, 1, PHOTOMETRIC_MINISBLACK, 1, 1, pl4Bit }, { "Gray16", 16, 1, PHOTOMETRIC_MINISBLACK, 1, 1, pl8Bit },
        { "Palette2", 2, 1, PHOTOMETRIC_PALETTE, 1, 1, pl4Bit }, { "Palette8", 8, 1, PHOTOMETRIC_PALETTE, 1, 1, pl8Bit },
        { "RGB8", 8, 3, PHOTOMETRIC_RGB, 1, 1, pl24Bit }, { "PlanarRGB8", 8, 3, PHOTOMETRIC_RGB, 2, 1, pl24Bit },
        { "PlanarRGBA16", 16, 4, PHOTOMETRIC_RGB, 2, 1, pl32Bit }, { "CMYK8", 8, 4, PHOTOMETRIC_SEPARATED, 1, 1, pl24Bit },
        { "RGB12", 12, 3, PHOTOMETRIC_RGB, 1, 1, pl24Bit }, { "GrayFloat32", 32, 1, PHOTOMETRIC_MINISBLACK, 1, 3, pl8Bit } };
    const std::pair<const char*, std::uint16_t> compressions[] = { { "None", COMPRESSION_NONE }, { "LZW", COMPRESSION_LZW },
        { "Deflate", COMPRESSION_ADOBE_DEFLATE }, { "PackBits", COMPRESSION_PACKBITS } };
    const std::pair<std::uint32_t, std::uint32_t> tiles[] = { { 16, 16 }, { 32, 48 }, { 64, 16 }, { 256, 256 } };
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = { { 37, 23 }, { 100, 40 }, { 17, 70 }, { 257, 19 }, { 65, 33 } };
    auto add = [&](std::string name, TTiffPlan plan, TPixelLayout layout) {
        const int variant = table.NextVariant();
        std::tie(plan.TileWidth, plan.TileLength) = tiles[variant % 4];
        std::tie(plan.Width, plan.Height) = sizes[variant % 5];
        plan.BigEndian = variant % 3 == 1;
        if (plan.SampleFormat == SAMPLEFORMAT_IEEEFP)
            plan.Samples = FloatSamples(plan);
        table.Add("Tiled" + name + std::to_string(plan.TileWidth) + "x" + std::to_string(plan.TileLength), plan, layout);
    };
    for (const TTileKind& kind : kinds)
        for (const auto& [compressionName, compression] : compressions) {
            TTiffPlan plan;
            plan.BitsPerSample = kind.Bits;
            plan.SamplesPerPixel = kind.Samples;
            plan.Photometric = kind.Photometric;
            plan.PlanarConfig = kind.PlanarConfig;
            plan.SampleFormat = kind.SampleFormat;
            if (kind.Photometric == PHOTOMETRIC_PALETTE)
                plan.ColorMap = RampColorMap(kind.Bits);
            if (kind.Samples == 4 && kind.Photometric == PHOTOMETRIC_RGB)
                plan.ExtraSamples = { EXTRASAMPLE_UNASSALPHA };
            plan.Compression = compression;
            const bool predictable = compression == COMPRESSION_LZW || compression == COMPRESSION_ADOBE_DEFLATE;
            if (predictable && kind.SampleFormat == SAMPLEFORMAT_IEEEFP)
                plan.Predictor = PREDICTOR_FLOATINGPOINT;
            else if (predictable && kind.Bits % 8 == 0)
                plan.Predictor = PREDICTOR_HORIZONTAL;
            add(std::string(kind.Name) + compressionName, plan, kind.Layout);
        }
    TTiffPlan fax;
    fax.Photometric = PHOTOMETRIC_MINISWHITE;
    fax.BitsPerSample = 1;
    fax.Compression = COMPRESSION_CCITTFAX3;
    add("BilevelG3", fax, pl1Bit);
    TTiffPlan jpeg;
    jpeg.SamplesPerPixel = 3;
    jpeg.Photometric = PHOTOMETRIC_YCBCR;
    jpeg.Compression = COMPRESSION_JPEG;
    jpeg.SubsamplingH = jpeg.SubsamplingV = 2;
    add("JPEGYCbCr22", jpeg, pl24Bit);
    jpeg.Photometric = PHOTOMETRIC_RGB;
    jpeg.PlanarConfig = PLANARCONFIG_SEPARATE;
    add("JPEGPlanarRGB", jpeg, pl24Bit);
}

std::vector<TCase> DifferentialCases()
{
    TCaseTable table;
    const std::pair<const char*, std::uint16_t> compressions[] = { { "None", COMPRESSION_NONE },
        { "LZW", COMPRESSION_LZW }, { "Deflate", COMPRESSION_ADOBE_DEFLATE }, { "Zip", COMPRESSION_DEFLATE },
        { "PackBits", COMPRESSION_PACKBITS } };
    for (bool bigEndian : { false, true })
        for (const auto& [compressionName, compression] : compressions) {
            const TStripKind kind { compression, bigEndian,
                compression == COMPRESSION_LZW || compression == COMPRESSION_ADOBE_DEFLATE || compression == COMPRESSION_DEFLATE,
                std::string(compressionName) + (bigEndian ? "BE" : "LE") };
            AddGrayAndPaletteCases(table, kind);
            AddColorCases(table, kind);
            AddSingleStripCases(table, kind);
            AddDepthCases(table, kind);
        }
    // YCbCr with the luma weights of ITU-R BT.709 in the file.
    TTiffPlan ycbcr709;
    ycbcr709.Width = 8;
    ycbcr709.Height = 3;
    ycbcr709.SamplesPerPixel = 3;
    ycbcr709.Photometric = PHOTOMETRIC_YCBCR;
    ycbcr709.SubsamplingH = ycbcr709.SubsamplingV = 1;
    ycbcr709.LumaWeights.assign(Weights709.begin(), Weights709.end());
    ycbcr709.Samples = PinnedSamples(ycbcr709, YCbCr709Colours, 0);
    table.Add("YCbCr8Weights709", ycbcr709, TPixelLayout::pl24Bit);
    AddFillOrderCases(table);
    AddJPEGCases(table);
    AddTileCases(table);
    return table.Cases();
}

// Single strips (and one tile) of more than 16 MiB, which are decoded in parts. Their samples
// are made when the case runs, not when the cases are listed. Bilevel
// strips would need 2^27 pixels: the fax codecs are compared in parts by the in-parts run of
// the differential table, in parts of one row.
std::vector<TCase> BigStripCases()
{
    std::vector<TCase> cases;
    const auto add = [&](std::string name, const TTiffPlan& plan) {
        cases.push_back({ std::move(name), plan, TPixelLayout::pl24Bit });
    };
    TTiffPlan rgb;
    rgb.Width = rgb.Height = 2400;
    rgb.SamplesPerPixel = 3;
    rgb.Photometric = PHOTOMETRIC_RGB;
    const std::pair<const char*, std::uint16_t> compressions[] = { { "LZW", COMPRESSION_LZW },
        { "PackBits", COMPRESSION_PACKBITS }, { "Deflate", COMPRESSION_ADOBE_DEFLATE } };
    for (const auto& [name, compression] : compressions) {
        rgb.Compression = compression;
        rgb.PlanarConfig = PLANARCONFIG_CONTIG;
        rgb.Predictor = compression == COMPRESSION_LZW ? PREDICTOR_HORIZONTAL : 0;
        add(std::string("RGB") + name + (rgb.Predictor ? "Predictor" : ""), rgb);
        rgb.PlanarConfig = PLANARCONFIG_SEPARATE;
        add(std::string("PlanarRGB") + name, rgb);
    }
    rgb.PlanarConfig = PLANARCONFIG_CONTIG;
    rgb.Predictor = 0;
    rgb.Compression = COMPRESSION_JPEG;
    add("RGBJPEG", rgb);
    rgb.PlanarConfig = PLANARCONFIG_SEPARATE;
    add("PlanarRGBJPEG", rgb);
    TTiffPlan ycbcr = rgb;
    ycbcr.PlanarConfig = PLANARCONFIG_CONTIG;
    ycbcr.Photometric = PHOTOMETRIC_YCBCR;
    ycbcr.SubsamplingH = ycbcr.SubsamplingV = 2;
    add("YCbCr22JPEG", ycbcr);
    rgb.PlanarConfig = PLANARCONFIG_CONTIG;
    rgb.Compression = COMPRESSION_LZW;
    add("RGBLZW", rgb);
    rgb.TileWidth = rgb.TileLength = 2400; // one tile as wide as the picture
    add("OneTileLZW", rgb);
    rgb.Width = rgb.Height = 2390; // and one a little wider
    rgb.Compression = COMPRESSION_PACKBITS;
    add("OneWiderTilePackBits", rgb);
    return cases;
}

class TTIFFGraphicMatchesLibTiff : public testing::TestWithParam<TCase> {};

// Strips and tiles decoded in parts of one row (or one row of blocks), as large ones are.
class TTIFFGraphicInPartsMatchesLibTiff : public testing::TestWithParam<TCase> {};

// Decoding in parts from any strip size, in parts of about partBytes, while it lives.
struct TStripParts {
    TStripParts(std::uint64_t partBytes) { TTIFFGraphic::SetStripPartsForTesting(0, partBytes); }
    ~TStripParts() { TTIFFGraphic::SetStripPartsForTesting(16 << 20, 1 << 20); }
};

void ExpectMatchesLibTiff(TCase c)
{
    if (c.Plan.Samples.empty()) // a big case
        c.Plan.Samples = Pattern(c.Plan, 5);
    const std::vector<std::uint8_t> bytes = WriteTiff(c.Plan);
    ASSERT_FALSE(bytes.empty()) << "libtiff could not write the file";
    std::optional<TDecoded> reference = ReadWithLibTiff(bytes);
    ASSERT_TRUE(reference && !reference->Samples.empty()) << "libtiff could not read the file";
    // libtiff's RLEW decoder loses the word alignment after the first row of the files its
    // own encoder writes; there the samples written are the reference.
    if (c.Plan.Compression == COMPRESSION_CCITTRLEW)
        reference->Samples = c.Plan.Samples;

    TTIFFGraphic tiff;
    Load(tiff, bytes);
    ASSERT_EQ(tiff.Width(), int(c.Plan.Width));
    ASSERT_EQ(tiff.Height(), int(c.Plan.Height));
    EXPECT_EQ(tiff.PixelLayout(), c.Layout);
    const std::vector<std::optional<TBGRA>> expected = ExpectedColors(*reference, PinnedColour);
    ASSERT_EQ(std::count(expected.begin(), expected.end(), std::nullopt), 0) << "a colour is not pinned";
    EXPECT_LE(MaxDifference(Colors(tiff), expected), c.Tolerance);
}

TEST_P(TTIFFGraphicMatchesLibTiff, PixelForPixel) { ExpectMatchesLibTiff(GetParam()); }

TEST_P(TTIFFGraphicInPartsMatchesLibTiff, PixelForPixel)
{
    const TStripParts parts(1);
    ExpectMatchesLibTiff(GetParam());
}

// Listed once for both runs of the table.
const std::vector<TCase>& Differential()
{
    static const std::vector<TCase> cases = DifferentialCases();
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Written, TTIFFGraphicMatchesLibTiff, testing::ValuesIn(Differential()),
    [](const testing::TestParamInfo<TCase>& testInfo) { return testInfo.param.Name; });
INSTANTIATE_TEST_SUITE_P(BigStrips, TTIFFGraphicMatchesLibTiff, testing::ValuesIn(BigStripCases()),
    [](const testing::TestParamInfo<TCase>& testInfo) { return testInfo.param.Name; });
INSTANTIATE_TEST_SUITE_P(Written, TTIFFGraphicInPartsMatchesLibTiff, testing::ValuesIn(Differential()),
    [](const testing::TestParamInfo<TCase>& testInfo) { return testInfo.param.Name; });

// ---------------------------------------------------------------------------------------
// The public TIFF corpora: every file loads or fails with a documented error; where libtiff
// decodes a file that is inside what the reader supports, the colours must agree.

bool Supported(const TDecoded& d)
{
    const unsigned bits = d.BitsPerSample;
    const bool floats = d.SampleFormat == SAMPLEFORMAT_IEEEFP, plain = d.SampleFormat == SAMPLEFORMAT_UINT || d.SampleFormat == SAMPLEFORMAT_VOID;
    const bool readable = floats ? bits == 16 || bits == 32 || bits == 64
                                 : (bits <= 32 || bits == 64) && bits >= (d.SampleFormat == SAMPLEFORMAT_INT ? 2u : 1u);
    const bool wholeSamples = bits == 8 || bits == 16 || bits == 32 || bits == 64;
    if (d.Samples.empty() || d.SamplesPerPixel > 4 || d.SampleFormat > SAMPLEFORMAT_VOID || !readable)
        return false;
    // Predictor 0: libtiff names none for codecs without one.
    if (d.Predictor > 1 && !(d.Predictor == 2 && wholeSamples) && !(d.Predictor == 3 && floats))
        return false;
    switch (d.Compression) {
    case COMPRESSION_NONE: case COMPRESSION_LZW: case COMPRESSION_ADOBE_DEFLATE: case COMPRESSION_DEFLATE:
    case COMPRESSION_PACKBITS: case COMPRESSION_CCITTRLE: case COMPRESSION_CCITTRLEW:
        break;
    case COMPRESSION_CCITTFAX3:
        if (d.Group3Options & 3)
            return false;
        break;
    case COMPRESSION_JPEG:
        return (d.PlanarConfig == 1 || d.Photometric == PHOTOMETRIC_RGB) && d.BitsPerSample == 8 && (d.SamplesPerPixel == 1 || d.SamplesPerPixel == 3)
            && d.Photometric != PHOTOMETRIC_SEPARATED;
    default:
        return false;
    }
    switch (d.Photometric) {
    case PHOTOMETRIC_MINISWHITE: case PHOTOMETRIC_MINISBLACK:
        return d.SamplesPerPixel == 1 || (d.SamplesPerPixel == 2 && d.HasAlpha && !(plain && bits < 8 && bits != 3));
    case PHOTOMETRIC_PALETTE:
        return d.SamplesPerPixel == 1 && plain && bits <= 16 && !d.ColorMap.empty();
    case PHOTOMETRIC_RGB:
        return d.SamplesPerPixel >= 3;
    case PHOTOMETRIC_SEPARATED:
        return d.SamplesPerPixel == 4 && d.InkSet == INKSET_CMYK;
    case PHOTOMETRIC_CIELAB:
        return bits == 8 && plain && d.SamplesPerPixel == 3;
    case PHOTOMETRIC_YCBCR:
        return bits == 8 && plain && d.SamplesPerPixel == 3 && d.SubsamplingH == 1 && d.SubsamplingV == 1;
    default:
        return false;
    }
}

TEST(TTIFFGraphicCorpus, LoadsOrFailsCleanlyAndMatchesLibTiff)
{
    const std::filesystem::path folder = std::filesystem::path(IBI_CORPUS_DIR) / "tiff";
    if (!std::filesystem::is_directory(folder))
        GTEST_SKIP() << "no corpus at " << folder;
    int loaded = 0, compared = 0, failed = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string extension = entry.path().extension().string();
        if (!entry.is_regular_file() || (extension != ".tif" && extension != ".tiff"))
            continue;
        std::ifstream input(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().string());
        TTIFFGraphic tiff;
        try {
            Load(tiff, bytes);
            ++loaded;
        } catch (const EInvalidGraphic&) {
            ++failed;
        } catch (const EGraphicCompression&) {
            ++failed;
        } catch (const EColorConversionError&) {
            ++failed;
        } catch (const EReadError&) {
            ++failed;
        }
        const std::optional<TDecoded> reference = ReadWithLibTiff(bytes);
        const bool bigTiff = bytes.size() > 3 && (bytes[2] == 43 || bytes[3] == 43); // a format of its own
        if (!reference || bigTiff || !Supported(*reference))
            continue;
        ++compared;
        EXPECT_EQ(tiff.Width(), int(reference->Width));
        EXPECT_EQ(tiff.Height(), int(reference->Height));
        if (tiff.Width() != int(reference->Width) || tiff.Height() != int(reference->Height))
            continue;
        // L*a*b* and YCbCr pixels are compared where their colours are pinned.
        EXPECT_LE(MaxDifference(Colors(tiff), ExpectedColors(*reference, PinnedColour)), 0);
    }
    std::cout << "corpus: " << loaded << " loaded, " << failed << " refused, " << compared << " compared with libtiff\n";
    EXPECT_GT(compared, 225); // 17 of them tiled
}

// ---------------------------------------------------------------------------------------
// Behaviour pinned by hand.

struct TUnsupported {
    const char* Name;
    std::vector<std::uint8_t> Bytes;
};

std::ostream& operator<<(std::ostream& out, const TUnsupported& c) { return out << c.Name; }

std::vector<TUnsupported> UnsupportedCases()
{
    std::vector<TUnsupported> cases;
    const std::vector<std::uint8_t> pixels(16, 0x80);
    cases.push_back({ "NoCompressionTag", GrayRaw(4, 4, pixels).Remove(259).Bytes() });
    cases.push_back({ "OldJPEG", GrayRaw(4, 4, pixels).Remove(259).Add(259, tShort, { 6 }).Bytes() });
    cases.push_back({ "NeXT", GrayRaw(4, 4, pixels).Remove(259).Add(259, tShort, { 32766 }).Bytes() });
    TTiffPlan g4;
    g4.Width = 30;
    g4.BitsPerSample = 1;
    g4.Photometric = PHOTOMETRIC_MINISWHITE;
    g4.Compression = COMPRESSION_CCITTFAX4;
    g4.Samples = Pattern(g4);
    cases.push_back({ "CCITTG4", WriteTiff(g4) });
    TTiffPlan g3TwoD = g4;
    g3TwoD.Compression = COMPRESSION_CCITTFAX3;
    g3TwoD.Group3Options = GROUP3OPT_2DENCODING;
    cases.push_back({ "CCITTG3TwoDimensional", WriteTiff(g3TwoD) });
    return cases;
}

class TTIFFGraphicUnsupported : public testing::TestWithParam<TUnsupported> {};

TEST_P(TTIFFGraphicUnsupported, FailsWithTheNotSupportedMessage)
{
    TTIFFGraphic tiff;
    EXPECT_THAT([&] { Load(tiff, GetParam().Bytes); }, ThrowsMessage<EInvalidGraphic>(StrEq(SNotSupported)));
}

INSTANTIATE_TEST_SUITE_P(Compressions, TTIFFGraphicUnsupported, testing::ValuesIn(UnsupportedCases()),
    [](const testing::TestParamInfo<TUnsupported>& testInfo) { return std::string(testInfo.param.Name); });

TEST(TTIFFGraphic, Gray16BigEndianBecomes8BitWithGrayTable)
{
    TTiffPlan plan;
    plan.BitsPerSample = 16;
    plan.BigEndian = true;
    plan.Samples = Pattern(plan);
    TTIFFGraphic tiff;
    Load(tiff, WriteTiff(plan));
    ASSERT_EQ(tiff.PixelLayout(), TPixelLayout::pl8Bit);
    const TColorTable table = tiff.ColorTable();
    ASSERT_EQ(table.size(), 256u);
    EXPECT_EQ(table[0], (TRGBQuad { 0, 0, 0, 0 }));
    EXPECT_EQ(table[200], (TRGBQuad { 200, 200, 200, 0 }));
    // Samples are swapped before the reduction: 0x1234 in machine order is 4660 → 18.
    std::uint16_t first;
    std::memcpy(&first, plan.Samples.data(), 2);
    EXPECT_EQ(tiff.RowAddress(0)[0], first * 255 / 65535);
}

TEST(TTIFFGraphic, ColorMapOf48ValuesGives16Entries)
{
    TTiffPlan plan;
    plan.BitsPerSample = 4;
    plan.Photometric = PHOTOMETRIC_PALETTE;
    plan.ColorMap = RampColorMap(4);
    plan.Samples = Pattern(plan);
    TTIFFGraphic tiff;
    Load(tiff, WriteTiff(plan));
    ASSERT_EQ(tiff.PixelLayout(), TPixelLayout::pl4Bit);
    const TColorTable table = tiff.ColorTable();
    ASSERT_EQ(table.size(), 16u);
    EXPECT_EQ(table[15].Red, 255);
    EXPECT_EQ(table[3].Green, Reduce16(plan.ColorMap[16 + 3]));
}

TEST(TTIFFGraphic, ColorMapBeyond768ValuesUsesTheFirst256OfEachPlane)
{
    // An 8-bit palette whose planes hold 300 values each: entry i of every plane is taken
    // from its own plane, not from the first 768 values.
    TRawTiff raw = GrayRaw(3, 1, { 0, 1, 255 });
    std::vector<std::uint32_t> map(900);
    for (std::uint32_t i = 0; i < 300; ++i) {
        map[i] = (i % 256) * 257;
        map[300 + i] = 65535 - (i % 256) * 257;
        map[600 + i] = 0x8000;
    }
    raw.Remove(262).Add(262, tShort, { 3 }).Add(320, tShort, map);
    TTIFFGraphic tiff;
    Load(tiff, raw.Bytes());
    EXPECT_EQ(tiff.ColorTable().size(), 256u);
    EXPECT_EQ(tiff.Pixel(0, 0), (TRGBQuad { 127, 255, 0, 0 }));
    EXPECT_EQ(tiff.Pixel(2, 0), (TRGBQuad { 127, 0, 255, 0 }));
}

TEST(TTIFFGraphic, UncompressedFileWithPredictorIsUsedUnchanged)
{
    const std::vector<std::uint8_t> pixels { 10, 20, 30, 40, 50, 60 };
    TRawTiff raw = GrayRaw(6, 1, pixels);
    raw.Add(317, tShort, { 2 });
    TTIFFGraphic tiff;
    Load(tiff, raw.Bytes());
    for (int x = 0; x < 6; ++x)
        EXPECT_EQ(tiff.RowAddress(0)[x], pixels[x]);
}

TEST(TTIFFGraphic, RowsPerStripAbsentUnlimitedOrZeroGiveOneStrip)
{
    std::vector<std::uint8_t> pixels(5 * 9);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = std::uint8_t(i * 5);
    for (const std::vector<std::uint32_t>& rows : std::vector<std::vector<std::uint32_t>> { {}, { 0xFFFFFFFF }, { 0 } }) {
        TRawTiff raw = GrayRaw(5, 9, pixels);
        if (!rows.empty())
            raw.Add(278, tLong, rows);
        TTIFFGraphic tiff;
        Load(tiff, raw.Bytes());
        EXPECT_EQ(tiff.Properties().RowsPerStrip, TCardinalArray { 9 });
        for (int y = 0; y < 9; ++y)
            EXPECT_EQ(tiff.RowAddress(y)[4], pixels[y * 5 + 4]);
    }
}

TEST(TTIFFGraphic, BigEndianYCbCrWithSubsampling21IsAccepted)
{
    TRawTiff raw(true);
    const std::uint32_t offset = raw.AddData(std::vector<std::uint8_t>(4 * 2 * 3, 128));
    raw.Add(256, tShort, { 4 }).Add(257, tShort, { 2 }).Add(258, tShort, { 8, 8, 8 }).Add(259, tShort, { 1 });
    raw.Add(262, tShort, { 6 }).Add(273, tLong, { offset }).Add(277, tShort, { 3 }).Add(279, tLong, { 24 });
    raw.Add(530, tShort, { 2, 1 });
    TTIFFGraphic tiff;
    Load(tiff, raw.Bytes());
    EXPECT_EQ(tiff.Properties().YCbCrSubsampling, (TByteArray { 2, 1 }));
    EXPECT_EQ(tiff.ColorManager().HorizontalSubsampling(), 2);
    EXPECT_EQ(tiff.ColorManager().VerticalSubsampling(), 1);
    EXPECT_EQ(tiff.Pixel(0, 0), (TRGBQuad { 128, 128, 128, 0 }));
}

// bytes as one LZW strip, compressed by libtiff.
std::vector<std::uint8_t> LZWStrip(const std::vector<std::uint8_t>& bytes)
{
    TTiffPlan plan;
    plan.Width = std::uint32_t(bytes.size());
    plan.Height = 1;
    plan.Compression = COMPRESSION_LZW;
    return TiffRoundTrip(plan, bytes).Raw.at(0);
}

// Chroma-subsampled YCbCr outside JPEG is stored as blocks of h × v luma samples followed by
// Cb and Cr; every pixel takes the chroma of its block.
class TTIFFGraphicSubsampledYCbCr : public testing::TestWithParam<std::tuple<int, int, bool>> {};

TEST_P(TTIFFGraphicSubsampledYCbCr, SpreadsTheBlocks)
{
    const auto [h, v, bigEndian] = GetParam();
    const std::uint32_t width = 7, height = 5;
    const std::uint32_t blocksPerRow = (width + h - 1) / h, blockRows = (height + v - 1) / v;
    const std::uint32_t blockBytes = h * v + 2;
    std::vector<std::uint8_t> blocks(blocksPerRow * blockRows * blockBytes);
    for (std::size_t i = 0; i < blocks.size(); ++i)
        blocks[i] = std::uint8_t(40 + (i * 37) % 180);
    // One strip of YCbCr samples, chroma subsampled horizontal x vertical.
    const auto file = [&](const std::vector<std::uint8_t>& samples, std::uint32_t horizontal, std::uint32_t vertical,
                          std::uint32_t compression = COMPRESSION_NONE) {
        TRawTiff raw(bigEndian);
        const std::uint32_t offset = raw.AddData(samples);
        raw.Add(256, tShort, { width }).Add(257, tShort, { height }).Add(258, tShort, { 8, 8, 8 });
        raw.Add(259, tShort, { compression });
        raw.Add(262, tShort, { 6 }).Add(273, tLong, { offset }).Add(277, tShort, { 3 }).Add(278, tShort, { height });
        raw.Add(279, tLong, { std::uint32_t(samples.size()) }).Add(284, tShort, { 1 });
        raw.Add(530, tShort, { horizontal, vertical });
        return raw.Bytes();
    };
    const std::vector<std::uint8_t> bytes = file(blocks, h, v);
    TTIFFGraphic tiff;
    Load(tiff, bytes);

    // The same pixels stored one by one, each with the chroma of its block, give the same
    // colours (the conversion itself is pinned by the differential cases).
    std::vector<std::uint8_t> pixels;
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint8_t* block = blocks.data() + ((y / v) * blocksPerRow + x / h) * blockBytes;
            pixels.insert(pixels.end(), { block[(y % v) * h + x % h], block[h * v], block[h * v + 1] });
        }
    TTIFFGraphic unsampled;
    Load(unsampled, file(pixels, 1, 1));
    const std::vector<TBGRA> colors = Colors(tiff);
    EXPECT_EQ(colors, Colors(unsampled));
    for (const auto& [compression, data] : { std::pair(std::uint16_t(COMPRESSION_NONE), blocks),
             std::pair(std::uint16_t(COMPRESSION_LZW), LZWStrip(blocks)) }) { // in parts of one block row
        const TStripParts parts(1);
        TTIFFGraphic inParts;
        Load(inParts, file(data, h, v, compression));
        EXPECT_EQ(Colors(inParts), colors) << "compression " << compression;
    }

    // libtiff's own YCbCr conversion agrees up to its rounding.
    const TTiffInMemory libtiff(bytes);
    ASSERT_NE(libtiff.Tiff(), nullptr);
    std::vector<std::uint32_t> rgba(width * height);
    ASSERT_EQ(TIFFReadRGBAImageOriented(libtiff.Tiff(), width, height, rgba.data(), ORIENTATION_TOPLEFT, 0), 1);
    std::vector<TBGRA> reference;
    for (std::uint32_t p : rgba)
        reference.push_back({ std::uint8_t(TIFFGetB(p)), std::uint8_t(TIFFGetG(p)), std::uint8_t(TIFFGetR(p)), 0 });
    EXPECT_LE(MaxDifference(colors, reference), 2);
}

INSTANTIATE_TEST_SUITE_P(Samplings, TTIFFGraphicSubsampledYCbCr,
    testing::Values(std::tuple(2, 2, false), std::tuple(2, 1, true), std::tuple(4, 2, false), std::tuple(4, 4, true),
        std::tuple(1, 1, false)),
    ([](const auto& testInfo) {
        const auto [h, v, bigEndian] = testInfo.param;
        return std::to_string(h) + "x" + std::to_string(v) + (bigEndian ? "BigEndian" : "LittleEndian");
    }));

TEST(TTIFFGraphic, MinIsWhiteBilevelHasWhiteFirstEntry)
{
    TTiffPlan plan;
    plan.BitsPerSample = 1;
    plan.Photometric = PHOTOMETRIC_MINISWHITE;
    plan.Samples = Pattern(plan);
    TTIFFGraphic tiff;
    Load(tiff, WriteTiff(plan));
    ASSERT_EQ(tiff.PixelLayout(), TPixelLayout::pl1Bit);
    EXPECT_EQ(tiff.ColorTable()[0], (TRGBQuad { 255, 255, 255, 0 }));
    EXPECT_EQ(tiff.ColorTable()[1], (TRGBQuad { 0, 0, 0, 0 }));
}

TEST(TTIFFGraphic, OrientationIsTheTagOrAsStored)
{
    const std::vector<std::uint8_t> pixels(4 * 4, 0x40);
    TTIFFGraphic tiff;
    Load(tiff, GrayRaw(4, 4, pixels).Bytes());
    EXPECT_EQ(tiff.Orientation(), 1);
    for (std::uint32_t value : { 0u, 1u, 2u, 5u, 8u, 9u, 0xFFFFu }) {
        Load(tiff, GrayRaw(4, 4, pixels).Add(274, tShort, { value }).Bytes());
        EXPECT_EQ(tiff.Orientation(), value >= 1 && value <= 8 ? int(value) : 1) << value;
    }
}

TEST(TTIFFGraphic, ReadImageInfoReachesLaterDirectories)
{
    QuietLibTiff();
    TTiffInMemory file;
    TIFF* tif = file.Tiff();
    ASSERT_NE(tif, nullptr);
    for (std::uint32_t width : { 7u, 19u }) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 3u);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, 100.0f);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, width == 7 ? RESUNIT_INCH : RESUNIT_CENTIMETER);
        std::vector<std::uint8_t> data(width * 3, 9);
        TIFFWriteEncodedStrip(tif, 0, data.data(), tmsize_t(data.size()));
        TIFFWriteDirectory(tif);
    }
    const std::vector<std::uint8_t> bytes = file.Close();
    TMemoryStream stream(bytes);
    TTIFFGraphic tiff;
    ASSERT_TRUE(tiff.ReadImageInfo(stream, 1));
    EXPECT_EQ(tiff.Properties().Width, 19u);
    EXPECT_FLOAT_EQ(tiff.Properties().XResolution, 254.0f);
    EXPECT_EQ(tiff.Properties().Version, 42u);
    ASSERT_TRUE(tiff.ReadImageInfo(stream, 0));
    EXPECT_EQ(tiff.Properties().Width, 7u);
    EXPECT_FLOAT_EQ(tiff.Properties().XResolution, 100.0f);
    EXPECT_FALSE(tiff.ReadImageInfo(stream, 2));
}

TEST(TTIFFGraphic, OffsetsCountFromWhereLoadingStarted)
{
    const std::vector<std::uint8_t> file = GrayRaw(2, 2, { 1, 2, 3, 4 }, true).Bytes();
    std::vector<std::uint8_t> bytes { 'j', 'u', 'n', 'k', '!' };
    bytes.insert(bytes.end(), file.begin(), file.end());
    TMemoryStream stream(bytes);
    stream.SetPosition(5);
    EXPECT_TRUE(TTIFFGraphic::CanReadStream(stream));
    EXPECT_EQ(stream.Position(), 5);
    TTIFFGraphic tiff;
    tiff.LoadStream(stream);
    EXPECT_EQ(tiff.RowAddress(1)[1], 4);
    EXPECT_TRUE(tiff.Properties().Options & optBigEndian);
}

TEST(TTIFFGraphic, CanReadStreamChecksHeaderAndKeepsPosition)
{
    const std::vector<std::uint8_t> good = GrayRaw(2, 2, { 1, 2, 3, 4 }).Bytes();
    std::vector<std::uint8_t> wrongNumber = good;
    wrongNumber[2] = 43;
    std::vector<std::uint8_t> farOffset = good;
    farOffset[7] = 0x7F;
    const std::vector<std::uint8_t> shortFile(good.begin(), good.begin() + 8);
    const std::vector<std::uint8_t> bmp { 'B', 'M', 42, 0, 8, 0, 0, 0, 0, 0 };
    for (const auto& [bytes, expected] : std::vector<std::pair<std::vector<std::uint8_t>, bool>> {
             { good, true }, { wrongNumber, false }, { farOffset, false }, { shortFile, false }, { bmp, false } }) {
        TMemoryStream stream(bytes);
        EXPECT_EQ(TTIFFGraphic::CanReadStream(stream), expected);
        EXPECT_EQ(stream.Position(), 0);
    }
}

TEST(TTIFFGraphic, SaveStreamWritesNothing)
{
    TTIFFGraphic tiff;
    Load(tiff, GrayRaw(2, 2, { 1, 2, 3, 4 }).Bytes());
    TMemoryStream out;
    tiff.SaveStream(out);
    EXPECT_EQ(out.Size(), 0);
}

TEST(TTIFFGraphic, ReportsStagesAndOneProgressStepPerRow)
{
    TTIFFGraphic tiff;
    std::vector<std::string> stages;
    int rows = 0, lastPercent = -1;
    TRect lastRect;
    tiff.OnProgress = [&](TGraphic&, TProgressStage stage, int percent, bool, const TRect& rect, const std::string& message) {
        if (stage == TProgressStage::psRunning) {
            ++rows;
            lastPercent = percent;
            lastRect = rect;
        } else
            stages.push_back((stage == TProgressStage::psStarting ? "start " : "end ") + message);
    };
    std::vector<std::uint8_t> pixels(3 * 7, 1);
    Load(tiff, GrayRaw(3, 7, pixels).Bytes());
    EXPECT_EQ(rows, 7);
    EXPECT_EQ(lastPercent, 100);
    EXPECT_EQ(lastRect, (TRect { 0, 6, 3, 7 }));
    EXPECT_THAT(stages, testing::ElementsAre("start Preparing...", "end ", "start Transfering...", "end "));
}

// ---------------------------------------------------------------------------------------
// Files that lie: each is refused with its documented error or loads what it can, without
// reading out of bounds or allocating without limit.

struct TLyingFile {
    const char* Name;
    std::vector<std::uint8_t> Bytes;
    const char* Message; // nullptr: loads
};

std::ostream& operator<<(std::ostream& out, const TLyingFile& c) { return out << c.Name; }

std::vector<TLyingFile> LyingFiles()
{
    std::vector<TLyingFile> cases;
    const std::vector<std::uint8_t> pixels(4 * 4, 0x40);
    auto gray = [&] { return GrayRaw(4, 4, pixels); };
    const std::vector<std::uint8_t> wideSamples(4 * 4 * 8, 0x40); // enough for four 16-bit samples
    auto colour = [&] { return GrayRaw(4, 4, wideSamples); };
    // Strips that cannot hold the rows: refused before the picture's store exists.
    cases.push_back({ "StripOffsetBeyondEnd", gray().Remove(273).Add(273, tLong, { 0x7FFFFFF0 }).Bytes(), SInvalidTIFF });
    cases.push_back({ "NoStrips", gray().Remove(273).Remove(279).Bytes(), SInvalidTIFF });
    cases.push_back({ "ByteCountsShortOfTheRows", gray().Remove(279).Add(279, tLong, { 15 }).Bytes(), SInvalidTIFF });
    cases.push_back({ "OneStripOfThree", gray().Add(278, tLong, { 1 }).Remove(257).Add(257, tLong, { 12 }).Bytes(), SInvalidTIFF });
    cases.push_back({ "HugePictureInATinyDeflateStrip", gray().Remove(256).Remove(257).Remove(259).Add(256, tLong, { 1 << 14 })
                          .Add(257, tLong, { 1 << 14 }).Add(259, tShort, { 8 }).Bytes(), SInvalidTIFF });
    cases.push_back({ "StripCountBeyondEnd", gray().Remove(279).Add(279, tLong, { 0xFFFFFFF0 }).Bytes(), nullptr });
    cases.push_back({ "StripOffsetsCountBeyondEnd", gray().Remove(273).AddLie(273, tLong, 0x40000000, 8).Bytes(), "Stream read error" });
    cases.push_back({ "HugeWidthTimesBits", gray().Remove(256).Remove(258).Add(256, tLong, { 0xFFFFFFFF }).Add(258, tShort, { 16 }).Bytes(),
        SInvalidTIFF });
    cases.push_back({ "MorePixelsThanAllowed", gray().Remove(256).Remove(257).Add(256, tLong, { 1 << 15 }).Add(257, tLong, { (1 << 13) + 1 }).Bytes(),
        SInvalidTIFF });
    cases.push_back({ "ZeroWidth", gray().Remove(256).Add(256, tLong, { 0 }).Bytes(), SInvalidTIFF });
    cases.push_back({ "SamplesPerPixelAbove255", gray().Remove(277).Add(277, tLong, { 257 }).Bytes(), SBadSampleCount });
    cases.push_back({ "RGBWithOneSample", gray().Remove(262).Add(262, tShort, { 2 }).Bytes(), SBadSampleCount });
    cases.push_back({ "PaletteAlphaWithOneSample",
        gray().Remove(262).Add(262, tShort, { 3 }).Add(338, tShort, { 2 }).Bytes(), nullptr });
    cases.push_back({ "ZeroBitGray", gray().Remove(258).Add(258, tShort, { 0 }).Bytes(), SInvalidTIFF });
    cases.push_back({ "ThirtyThreeBitGray", gray().Remove(258).Add(258, tShort, { 33 }).Bytes(), SInvalidTIFF });
    cases.push_back({ "ComplexSamples", gray().Add(339, tShort, { 6 }).Bytes(), SInvalidTIFF });
    cases.push_back({ "SignedPalette", gray().Remove(262).Add(262, tShort, { 3 }).Add(339, tShort, { 2 }).Bytes(), SInvalidTIFF });
    cases.push_back({ "FloatPredictorOnIntegers", gray().Remove(259).Add(259, tShort, { 5 }).Add(317, tShort, { 3 }).Bytes(),
        SInvalidTIFF });
    cases.push_back({ "TwelveBitLab", colour().Remove(258).Remove(262).Remove(277).Add(258, tShort, { 12 }).Add(262, tShort, { 8 })
                          .Add(277, tShort, { 3 }).Bytes(), SConversionFailed });
    cases.push_back({ "TransparencyMask", gray().Remove(262).Add(262, tShort, { 4 }).Bytes(), SConversionFailed });
    cases.push_back({ "BadSubsampling", gray().Remove(262).Remove(277).Add(262, tShort, { 6 }).Add(277, tShort, { 3 })
                          .Add(530, tShort, { 3, 1 }).Bytes(), SBadSubSampling });
    cases.push_back({ "ZeroLumaWeight", colour().Remove(262).Remove(277).Add(262, tShort, { 6 }).Add(277, tShort, { 3 })
                          .Add(529, tRational, { 0, 0, 0 }).Add(530, tShort, { 1, 1 }).Bytes(), nullptr });
    cases.push_back({ "DirectoryBeyondEnd", [&] { auto b = gray().Bytes(); b[4] = 0xF0; b[5] = 0xFF; return b; }(), "Stream read error" });
    cases.push_back({ "TruncatedHeader", { 'I', 'I', 42, 0, 8 }, "Stream read error" });
    cases.push_back({ "Version43", [&] { auto b = gray().Bytes(); b[2] = 43; return b; }(), SInvalidTIFF });
    cases.push_back({ "ColorMapBeyondEnd", gray().Remove(262).Add(262, tShort, { 3 }).AddLie(320, tShort, 768, 0xFFFF0000).Bytes(),
        "Stream read error" });
    cases.push_back({ "ColorMapTooShort", gray().Remove(262).Add(262, tShort, { 3 }).Add(320, tShort, { 1, 2 }).Bytes(), nullptr });
    // Tiles: four 16 × 16 tiles of a 20 × 20 picture, then lies about them.
    auto tiled = [] { return GrayTiledRaw(20, 20, 16, 16); };
    cases.push_back({ "TileWidthZero", tiled().Remove(322).Add(322, tLong, { 0 }).Bytes(), SInvalidTIFF });
    cases.push_back({ "TileLengthWithoutTileWidth", tiled().Remove(322).Bytes(), SInvalidTIFF });
    cases.push_back({ "TilesWithoutOffsets", tiled().Remove(324).Bytes(), SInvalidTIFF });
    cases.push_back({ "TilesWithoutByteCounts", tiled().Remove(325).Bytes(), SInvalidTIFF });
    cases.push_back({ "ThreeOffsetsForFourTiles", tiled().Remove(324).Add(324, tLong, { 8, 8, 8 }).Bytes(), SInvalidTIFF });
    cases.push_back({ "UncompressedTileShort", tiled().Remove(325).Add(325, tLong, { 256, 256, 256, 255 }).Bytes(), SInvalidTIFF });
    cases.push_back({ "TileOffsetBeyondEnd", tiled().Remove(324).Add(324, tLong, { 8, 0x7FFFFFF0, 8, 8 }).Bytes(), SInvalidTIFF });
    cases.push_back({ "SeparatePlanesWithTheTilesOfOne", tiled().Remove(262).Remove(277).Add(262, tShort, { 2 })
                          .Add(277, tShort, { 3 }).Add(284, tShort, { 2 }).Bytes(), SInvalidTIFF });
    cases.push_back({ "TileFarLargerThanThePicture", tiled().Remove(322).Remove(323).Add(322, tLong, { 1 << 16 })
                          .Add(323, tLong, { 1 << 16 }).Remove(324).Remove(325).Add(324, tLong, { 8 }).Add(325, tLong, { 256 }).Bytes(),
        SInvalidTIFF });
    cases.push_back({ "HugePictureInATinyDeflateTile", tiled().Remove(256).Remove(257).Remove(259).Remove(322).Remove(323).Remove(324)
                          .Remove(325).Add(256, tLong, { 1 << 14 }).Add(257, tLong, { 1 << 14 }).Add(259, tShort, { 8 })
                          .Add(322, tLong, { 1 << 14 }).Add(323, tLong, { 1 << 14 }).Add(324, tLong, { 8 }).Add(325, tLong, { 1024 }).Bytes(),
        SInvalidTIFF });
    return cases;
}

class TTIFFGraphicLyingFile : public testing::TestWithParam<TLyingFile> {};

TEST_P(TTIFFGraphicLyingFile, IsRefusedOrLoadsSafely)
{
    const TLyingFile& c = GetParam();
    TTIFFGraphic tiff;
    if (!c.Message) {
        EXPECT_NO_THROW(Load(tiff, c.Bytes));
        return;
    }
    try {
        Load(tiff, c.Bytes);
        ADD_FAILURE() << "loaded";
    } catch (const Exception& error) {
        EXPECT_STREQ(error.what(), c.Message);
    }
}

INSTANTIATE_TEST_SUITE_P(Malformed, TTIFFGraphicLyingFile, testing::ValuesIn(LyingFiles()),
    [](const testing::TestParamInfo<TLyingFile>& testInfo) { return std::string(testInfo.param.Name); });

// Tile sizes libtiff reads but does not write (not multiples of 16), where tiles start in the
// middle of a byte of a 1- or 4-bit row.
TEST(TTIFFGraphic, TilesOfAnySizeMatchLibTiff)
{
    const std::pair<std::uint32_t, std::uint32_t> tileSizes[] = { { 5, 3 }, { 7, 20 }, { 13, 1 } };
    for (std::uint32_t bits : { 1u, 4u, 8u })
        for (const auto& [tileWidth, tileLength] : tileSizes) {
            SCOPED_TRACE(std::to_string(bits) + " bits, tiles " + std::to_string(tileWidth) + "x" + std::to_string(tileLength));
            const std::vector<std::uint8_t> bytes = GrayTiledRaw(13, 9, tileWidth, tileLength, bits).Bytes();
            const std::optional<TDecoded> reference = ReadWithLibTiff(bytes);
            ASSERT_TRUE(reference && !reference->Samples.empty());
            TTIFFGraphic tiff;
            Load(tiff, bytes);
            EXPECT_EQ(MaxDifference(Colors(tiff), ExpectedColors(*reference, PinnedColour)), 0);
        }
}

// Deflate strips: complete ones inflate in one pass; those the one-pass inflate refuses give
// exactly what the streaming inflate produces, the rest of the strip reading as zeros.

struct TDeflateStrip {
    const char* Name;
    std::vector<std::uint8_t> Data; // empty: one strip of more than 16 MiB, made by the test
    std::uint32_t KeptThirds = 3;   // of the big strip's stream
};

std::ostream& operator<<(std::ostream& out, const TDeflateStrip& c) { return out << c.Name; }

std::vector<std::uint8_t> DeflatePixels(std::size_t size)
{
    std::vector<std::uint8_t> pixels(size);
    for (std::size_t i = 0; i < size; ++i)
        pixels[i] = std::uint8_t(i * 7 + i / 13);
    return pixels;
}

std::vector<std::uint8_t> Zlib(const std::vector<std::uint8_t>& raw)
{
    uLongf size = compressBound(uLong(raw.size()));
    std::vector<std::uint8_t> packed(size);
    if (compress2(packed.data(), &size, raw.data(), uLong(raw.size()), 6) != Z_OK)
        return {};
    packed.resize(size);
    return packed;
}

std::vector<TDeflateStrip> DeflateStrips()
{
    const std::size_t size = 23 * 17;
    const std::vector<std::uint8_t> whole = Zlib(DeflatePixels(size));
    std::vector<TDeflateStrip> cases;
    cases.push_back({ "Complete", whole });
    cases.push_back({ "Truncated", { whole.begin(), whole.begin() + std::ptrdiff_t(whole.size() / 2) } });
    cases.push_back({ "BadChecksum", [&] { auto d = whole; d.back() ^= 0x55; return d; }() });
    cases.push_back({ "ExtraData", [&] { auto d = whole; d.insert(d.end(), 16, 0xAB); return d; }() });
    cases.push_back({ "ShortStream", Zlib(DeflatePixels(size / 2 + 5)) });
    cases.push_back({ "LongStream", Zlib(DeflatePixels(size * 2)) });
    cases.push_back({ "DamagedHeader", [&] { auto d = whole; d[0] = 0x77; return d; }() });
    // One strip of more than 16 MiB, which is inflated in parts.
    cases.push_back({ "BigComplete", {} });
    cases.push_back({ "BigTruncated", {}, 2 });
    return cases;
}

class TTIFFGraphicDeflateStrip : public testing::TestWithParam<TDeflateStrip> {};

TEST_P(TTIFFGraphicDeflateStrip, GivesWhatStreamingInflateGives)
{
    const TDeflateStrip& c = GetParam();
    const bool big = c.Data.empty();
    const std::uint32_t width = big ? 4099 : 23, height = big ? 4097 : 17;
    std::vector<std::uint8_t> data = big ? Zlib(DeflatePixels(std::size_t(width) * height)) : c.Data;
    data.resize(data.size() * c.KeptThirds / 3);
    std::vector<std::uint8_t> expected(std::size_t(width) * height, 0);
    {
        TLZ77Decoder decoder(TLZ77Decoder::PartialFlush, true);
        decoder.BeginDecoding();
        std::vector<std::uint8_t> input = data;
        std::uint8_t* source = input.data();
        std::uint8_t* dest = expected.data();
        decoder.DecodeData(source, dest, input.size(), expected.size());
        decoder.EndDecoding();
    }
    TTIFFGraphic tiff;
    Load(tiff, GrayRaw(width, height, data).Remove(259).Add(259, tShort, { 8 }).Bytes());
    std::vector<std::uint8_t> grey;
    for (int y = 0; y < tiff.Height(); ++y) // an 8-bit grey bitmap: the index is the grey level
        grey.insert(grey.end(), std::as_const(tiff).RowAddress(y), std::as_const(tiff).RowAddress(y) + tiff.Width());
    EXPECT_TRUE(grey == expected);
    if (std::string(c.Name).ends_with("Complete")) {
        EXPECT_TRUE(grey == DeflatePixels(expected.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(Strips, TTIFFGraphicDeflateStrip, testing::ValuesIn(DeflateStrips()),
    [](const testing::TestParamInfo<TDeflateStrip>& testInfo) { return std::string(testInfo.param.Name); });

// Cut or damaged strips decoded in parts give what the whole-strip decoding gives: the rows
// the data reaches, zeros after them.
TEST(TTIFFGraphic, DamagedStripsDecodeAlikeWholeAndInParts)
{
    const std::uint32_t width = 301, height = 207;
    TTiffPlan plan;
    plan.Width = width;
    plan.Height = height;
    const std::vector<std::uint8_t> pixels = Pattern(plan, 3);
    const std::pair<std::uint16_t, std::uint16_t> kinds[] = { { COMPRESSION_LZW, 1 }, { COMPRESSION_LZW, 2 },
        { COMPRESSION_PACKBITS, 1 }, { COMPRESSION_ADOBE_DEFLATE, 2 } };
    const auto load = [](const std::vector<std::uint8_t>& bytes) {
        TTIFFGraphic tiff;
        try {
            Load(tiff, bytes);
        } catch (const Exception& error) {
            return std::pair(std::string(error.what()), std::vector<TBGRA>());
        }
        return std::pair(std::string(), Colors(tiff));
    };
    for (const auto& [compression, predictor] : kinds) {
        plan.Compression = compression;
        plan.Predictor = predictor;
        const std::vector<std::uint8_t> whole = TiffRoundTrip(plan, pixels).Raw.at(0);
        std::vector<std::vector<std::uint8_t>> damaged;
        for (std::size_t kept : { whole.size() / 2, whole.size() / 5, std::size_t(3) })
            damaged.emplace_back(whole.begin(), whole.begin() + std::ptrdiff_t(kept));
        std::mt19937 random(compression + predictor);
        for (std::size_t at : { std::size_t(1), whole.size() / 3, whole.size() - 9 }) {
            damaged.push_back(whole);
            for (std::size_t i = at; i < at + 8; ++i)
                damaged.back()[i] = std::uint8_t(random());
        }
        for (std::size_t index = 0; index < damaged.size(); ++index) {
            SCOPED_TRACE("compression " + std::to_string(compression) + " predictor " + std::to_string(predictor)
                + " damage " + std::to_string(index));
            const std::vector<std::uint8_t> bytes = GrayRaw(width, height, damaged[index])
                                                        .Remove(259)
                                                        .Add(259, tShort, { compression })
                                                        .Add(317, tShort, { predictor })
                                                        .Bytes();
            const auto expected = load(bytes);
            for (std::uint64_t partBytes : { 1u, 1000u }) {
                const TStripParts parts(partBytes);
                EXPECT_TRUE(load(bytes) == expected) << "in parts of " << partBytes;
            }
        }
    }
}

TEST(TTIFFGraphic, StripWithoutByteCountTakesTheRestOfTheFile)
{
    TTiffPlan plan;
    plan.Width = 9;
    plan.Height = 9;
    plan.RowsPerStrip = 4;
    plan.Compression = COMPRESSION_LZW;
    plan.Samples = Pattern(plan);
    const std::vector<std::uint8_t> bytes = WriteTiff(plan);
    TTIFFGraphic reference;
    Load(reference, bytes);
    // Keep only the first byte count: the two later strips take the rest of the file.
    TMemoryStream stream(bytes);
    TTIFFGraphic info;
    ASSERT_TRUE(info.ReadImageInfo(stream, 0));
    std::vector<std::uint8_t> patched = bytes;
    const std::uint32_t ifd = info.Properties().FirstIFD;
    const std::uint16_t count = std::uint16_t(patched[ifd] | patched[ifd + 1] << 8);
    bool found = false;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint8_t* entry = patched.data() + ifd + 2 + i * 12;
        if ((entry[0] | entry[1] << 8) == 279) {
            std::uint32_t offset;
            std::memcpy(&offset, entry + 8, 4);
            std::uint32_t first;
            std::memcpy(&first, patched.data() + offset, 4);
            entry[4] = 1; // count 1: the value now lives inside the entry
            std::memcpy(entry + 8, &first, 4);
            found = true;
        }
    }
    ASSERT_TRUE(found);
    TTIFFGraphic tiff;
    Load(tiff, patched);
    EXPECT_EQ(Colors(tiff), Colors(reference));
}

// Images the strips do not cover to the last row, or whose decoding fails part-way: the
// rows decoded stay, the others show the fill of a new bitmap (white). The store is the same
// whoever watches the progress and whatever stream the file comes from.

// A stream that is not a memory stream, so the strips are read rather than used in place.
class TPlainStream : public TStream {
public:
    explicit TPlainStream(const std::vector<std::uint8_t>& bytes) : FInner(bytes) {}
    std::size_t Read(void* buffer, std::size_t count) override { return FInner.Read(buffer, count); }
    std::size_t Write(const void* buffer, std::size_t count) override { return FInner.Write(buffer, count); }
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override { return FInner.Seek(offset, origin); }

private:
    TMemoryStream FInner;
};

struct TPartialImage {
    const char* Name;
    std::vector<std::uint8_t> Bytes;
    std::uint32_t Width, Height, DecodedRows, Samples;
    std::vector<std::uint8_t> Pixels; // the decoded rows as stored (grey or RGB)
    bool White;                       // the rest is white; otherwise the nearest palette colour
    bool Fails;
};

std::ostream& operator<<(std::ostream& out, const TPartialImage& c) { return out << c.Name; }

TRawTiff RGBRaw(std::uint32_t width, std::uint32_t height, std::uint32_t rowsPerStrip, const std::vector<std::vector<std::uint8_t>>& strips,
    std::uint16_t compression)
{
    TRawTiff raw;
    std::vector<std::uint32_t> offsets, counts;
    for (const auto& strip : strips) {
        offsets.push_back(raw.AddData(strip));
        counts.push_back(std::uint32_t(strip.size()));
    }
    raw.Add(256, tLong, { width }).Add(257, tLong, { height }).Add(258, tShort, { 8, 8, 8 }).Add(259, tShort, { compression });
    raw.Add(262, tShort, { 2 }).Add(273, tLong, offsets).Add(277, tShort, { 3 }).Add(278, tLong, { rowsPerStrip });
    raw.Add(279, tLong, counts);
    return raw;
}

std::vector<TPartialImage> PartialImages()
{
    // Uncompressed strips short of the rows are refused (the lying files above); a damaged
    // strip of a codec without a certain bound keeps the rows before it.
    std::vector<TPartialImage> cases;
    // JPEG strips of 8 rows, the second one overwritten with zeros: decoding stops there.
    TTiffPlan jpeg;
    jpeg.Width = 16;
    jpeg.Height = 24;
    jpeg.RowsPerStrip = 8;
    jpeg.SamplesPerPixel = 3;
    jpeg.Photometric = PHOTOMETRIC_RGB;
    jpeg.Compression = COMPRESSION_JPEG;
    jpeg.Samples = Pattern(jpeg);
    std::vector<std::uint8_t> damaged = WriteTiff(jpeg);
    TMemoryStream stream(damaged);
    TTIFFDirectory directory(stream, 0, false);
    std::uint16_t version;
    std::uint32_t first;
    if (directory.ReadHeader(version, first) && directory.ReadDirectory(first, 0)) {
        const std::vector<std::uint32_t> offsets = directory.IntegerArray(tifftag::StripOffsets);
        const std::vector<std::uint32_t> counts = directory.IntegerArray(tifftag::StripByteCounts);
        if (offsets.size() == 3 && counts.size() == 3)
            std::fill_n(damaged.begin() + offsets[1], counts[1], 0);
    }
    cases.push_back({ "JPEGSecondStripDamaged", damaged, 16, 24, 8, 3, {}, true, true });
    return cases;
}

class TTIFFGraphicPartialImage : public testing::TestWithParam<TPartialImage> {};

TEST_P(TTIFFGraphicPartialImage, KeepsDecodedRowsAndFillsTheRest)
{
    const TPartialImage& c = GetParam();
    auto load = [&](TTIFFGraphic& tiff, TStream& stream) {
        if (c.Fails)
            EXPECT_THROW(tiff.LoadStream(stream), Exception);
        else
            EXPECT_NO_THROW(tiff.LoadStream(stream));
    };
    TTIFFGraphic plain;
    TMemoryStream memory(c.Bytes);
    load(plain, memory);
    ASSERT_EQ(plain.Width(), int(c.Width));
    ASSERT_EQ(plain.Height(), int(c.Height));
    for (std::uint32_t y = 0; y < c.Height; ++y)
        for (std::uint32_t x = 0; x < c.Width; ++x) {
            const TRGBQuad quad = plain.Pixel(int(x), int(y));
            if (y < c.DecodedRows && c.Pixels.empty()) {
                continue; // lossy: compared with the other ways of loading below
            } else if (y < c.DecodedRows && c.Samples == 3) {
                const std::uint8_t* pixel = c.Pixels.data() + (y * c.Width + x) * 3;
                EXPECT_EQ((std::array { quad.Red, quad.Green, quad.Blue }), (std::array { pixel[0], pixel[1], pixel[2] }))
                    << x << "," << y;
            } else if (y < c.DecodedRows) {
                EXPECT_EQ(plain.RowAddress(int(y))[x], c.Pixels[y * c.Width + x]) << x << "," << y;
            } else if (c.White) {
                EXPECT_EQ((std::array { quad.Red, quad.Green, quad.Blue }), (std::array<std::uint8_t, 3> { 255, 255, 255 }))
                    << x << "," << y;
            }
        }

    TTIFFGraphic watched;
    int steps = 0;
    watched.OnProgress = [&](TGraphic&, TProgressStage stage, int, bool, const TRect&, const std::string&) {
        steps += stage == TProgressStage::psRunning;
    };
    TMemoryStream again(c.Bytes);
    load(watched, again);
    EXPECT_EQ(steps, int(c.DecodedRows));
    TTIFFGraphic read;
    TPlainStream plainStream(c.Bytes);
    load(read, plainStream);
    for (TTIFFGraphic* other : { &watched, &read }) {
        ASSERT_EQ(other->RowBytes(), plain.RowBytes());
        ASSERT_EQ(other->Height(), plain.Height());
        for (int y = 0; y < plain.Height(); ++y)
            EXPECT_EQ(std::memcmp(other->RowAddress(y), plain.RowAddress(y), plain.RowBytes()), 0) << "row " << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, TTIFFGraphicPartialImage, testing::ValuesIn(PartialImages()),
    [](const testing::TestParamInfo<TPartialImage>& testInfo) { return std::string(testInfo.param.Name); });

// RGB rows of every width around the blocks of four pixels converted at once: uncompressed,
// and Deflate with horizontal differences (undone on the way).
TEST(TTIFFGraphic, RGBRowsOfAnyWidthBecomeBlueGreenRed)
{
    for (const bool differenced : { false, true })
        for (std::uint32_t width = 1; width <= 40; ++width) {
            std::vector<std::uint8_t> rgb(std::size_t(width) * 3 * 3);
            for (std::size_t i = 0; i < rgb.size(); ++i)
                rgb[i] = std::uint8_t(i * i * 37 + width);
            TRawTiff raw;
            if (differenced) {
                std::vector<std::uint8_t> differences = rgb;
                for (std::size_t row = 0; row < 3; ++row)
                    for (std::size_t i = 3; i < std::size_t(width) * 3; ++i)
                        differences[row * width * 3 + i] = std::uint8_t(rgb[row * width * 3 + i] - rgb[row * width * 3 + i - 3]);
                raw = RGBRaw(width, 3, 3, { Zlib(differences) }, 8).Add(317, tShort, { 2 });
            } else {
                raw = RGBRaw(width, 3, 3, { rgb }, 1);
            }
            TTIFFGraphic tiff;
            Load(tiff, raw.Bytes());
            ASSERT_EQ(tiff.PixelLayout(), TPixelLayout::pl24Bit);
            for (int y = 0; y < 3; ++y)
                for (std::uint32_t x = 0; x < width; ++x) {
                    const std::uint8_t* pixel = rgb.data() + (y * width + x) * 3;
                    const std::uint8_t* stored = tiff.RowAddress(y) + x * 3;
                    ASSERT_EQ((std::array { stored[0], stored[1], stored[2] }), (std::array { pixel[2], pixel[1], pixel[0] }))
                        << (differenced ? "differenced " : "") << "width " << width << " pixel " << x << "," << y;
                }
        }
}

} // namespace

namespace {

// The fuzzer's seeds (written by tests/fuzz/tiffseeds.cpp) are files the reader takes in full;
// the tiled one loads as an empty picture.
TEST(TTIFFGraphicSeeds, EverySeedLoads)
{
    const std::filesystem::path folder = std::filesystem::path(IBI_SOURCE_DIR) / "tests/fuzz/corpus/tiff";
    int seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        SCOPED_TRACE(entry.path().filename().string());
        std::ifstream input(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
        TTIFFGraphic tiff;
        Load(tiff, bytes);
        EXPECT_FALSE(tiff.IsEmpty());
        ++seeds;
    }
    EXPECT_EQ(seeds, 30);
}

} // namespace
