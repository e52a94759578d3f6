#include "imaging/pnggraphic.h"

#include "base/bytereader.h"
#include "base/stream.h"
#include "imaging/codecs/lz77.h"

#include <zlib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace {

constexpr std::array<std::uint8_t, 8> PngSignature = { 0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A };

constexpr std::uint32_t ChunkType(const char (&name)[5])
{
    return std::uint32_t(std::uint8_t(name[0])) << 24 | std::uint32_t(std::uint8_t(name[1])) << 16
        | std::uint32_t(std::uint8_t(name[2])) << 8 | std::uint8_t(name[3]);
}

// Types are compared with bit 5 of every byte cleared, so that IDAT matches idat or IdAt.
constexpr std::uint32_t CaseMask = 0xDFDFDFDF;
constexpr std::uint32_t ctIHDR = ChunkType("IHDR");
constexpr std::uint32_t ctPLTE = ChunkType("PLTE");
constexpr std::uint32_t ctIDAT = ChunkType("IDAT");
constexpr std::uint32_t ctIEND = ChunkType("IEND");
constexpr std::uint32_t ctgAMA = ChunkType("gAMA") & CaseMask;
constexpr std::uint32_t ctbKGD = ChunkType("bKGD") & CaseMask;
constexpr std::uint32_t cttRNS = ChunkType("tRNS") & CaseMask;
constexpr std::size_t IhdrSize = 13;

std::uint32_t BigEndian32(const std::uint8_t* bytes)
{
    return std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 | std::uint32_t(bytes[2]) << 8 | bytes[3];
}

std::uint16_t BigEndian16(const std::uint8_t* bytes) { return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]); }

std::uint32_t Crc32(std::uint32_t crc, std::span<const std::uint8_t> bytes)
{
    return static_cast<std::uint32_t>(crc32_z(crc, bytes.data(), bytes.size()));
}

struct TChunkHeader {
    std::uint32_t Length = 0;
    std::uint32_t Type = 0; // as stored
    std::uint32_t Crc = 0;  // running CRC, so far over the type

    bool Is(std::uint32_t type) const { return (Type & CaseMask) == (type & CaseMask); }
    // Bit 5 of the first byte as stored: set means ancillary.
    bool IsCritical() const { return (Type & 0x20000000) == 0; }
};

TChunkHeader MakeHeader(const std::uint8_t* bytes)
{
    return { BigEndian32(bytes), BigEndian32(bytes + 4), Crc32(0, { bytes + 4, 4 }) };
}

void CheckCrc(const TChunkHeader& header, std::span<const std::uint8_t> data, std::uint32_t stored)
{
    if (Crc32(header.Crc, data) != stored)
        TReaderGraphic::RaiseGraphicError(SCRCError, SPNGFormatName);
}

// Grey and background samples of bKGD and tRNS brought to 8 bits.
std::uint8_t ScaleSample(std::uint16_t value, int depth)
{
    if (depth == 16)
        return static_cast<std::uint8_t>(value * 255u / 65535u);
    if (depth < 8) {
        // Low-depth greys are spread over the whole 0..255 range so that the colour means the
        // same grey the pixels show (1 is white at depth 1, not 0x010101).
        const unsigned maximum = (1u << depth) - 1;
        return static_cast<std::uint8_t>((value & maximum) * 255u / maximum);
    }
    return static_cast<std::uint8_t>(value & 0xFF);
}

#if defined(__SSE2__)
// Four bytes at a time into the low 16-bit lanes of a register; rows carry spare bytes at
// their end, so the fourth byte of the last 3-byte pixel is always there to load.
__m128i LoadPixel(const std::uint8_t* bytes)
{
    std::uint32_t value;
    std::memcpy(&value, bytes, 4);
    return _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(value)), _mm_setzero_si128());
}

void StorePixel(std::uint8_t* bytes, __m128i pixel)
{
    const auto value = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(pixel, pixel)));
    std::memcpy(bytes, &value, 4);
}

// Sub, Average and Paeth one whole pixel at a time for 8-bit RGB and RGBA rows, where a
// byte-wise loop would wait on the byte one pixel back. count is a multiple of Bytes. For
// 3-byte pixels the predictor's fourth lane is 0, so the byte after the pixel is stored back
// unchanged.
template <std::size_t Bytes, int Filter>
void UnfilterPixels(std::uint8_t* current, const std::uint8_t* above, std::size_t count)
{
    const __m128i byteMask = _mm_set1_epi16(0xFF);
    const __m128i laneMask = Bytes == 4 ? _mm_set1_epi16(-1) : _mm_set_epi16(0, 0, 0, 0, 0, -1, -1, -1);
    __m128i left = _mm_setzero_si128(), upLeft = _mm_setzero_si128();
    // The next pixel is loaded before this one is stored: for 3-byte pixels a load right
    // after the overlapping 4-byte store would stall on store forwarding.
    __m128i nextRaw = count != 0 ? LoadPixel(current) : _mm_setzero_si128();
    for (std::size_t i = 0; i < count; i += Bytes) {
        const __m128i raw = nextRaw;
        if (i + Bytes < count)
            nextRaw = LoadPixel(current + i + Bytes);
        const __m128i up = _mm_and_si128(LoadPixel(above + i), laneMask);
        __m128i predictor;
        if constexpr (Filter == 1) {
            predictor = left;
        } else if constexpr (Filter == 3) {
            predictor = _mm_srli_epi16(_mm_add_epi16(left, up), 1);
        } else {
            __m128i toLeft = _mm_sub_epi16(up, upLeft); // |p - a| = |b - c|
            __m128i toUp = _mm_sub_epi16(left, upLeft); // |p - b| = |a - c|
            __m128i toUpLeft = _mm_add_epi16(toLeft, toUp);
            const auto abs16 = [](__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); };
            toLeft = abs16(toLeft);
            toUp = abs16(toUp);
            toUpLeft = abs16(toUpLeft);
            const __m128i smallest = _mm_min_epi16(toUpLeft, _mm_min_epi16(toLeft, toUp));
            const __m128i isLeft = _mm_cmpeq_epi16(smallest, toLeft);
            const __m128i isUp = _mm_cmpeq_epi16(smallest, toUp);
            const __m128i upOrUpLeft = _mm_or_si128(_mm_and_si128(isUp, up), _mm_andnot_si128(isUp, upLeft));
            predictor = _mm_or_si128(_mm_and_si128(isLeft, left), _mm_andnot_si128(isLeft, upOrUpLeft));
        }
        const __m128i pixel = _mm_and_si128(_mm_add_epi16(raw, predictor), byteMask);
        StorePixel(current + i, pixel);
        left = _mm_and_si128(pixel, laneMask);
        upLeft = up;
    }
}

template <std::size_t Bytes>
void UnfilterPixels(std::uint8_t filter, std::uint8_t* current, const std::uint8_t* above, std::size_t count)
{
    if (filter == 1)
        UnfilterPixels<Bytes, 1>(current, above, count);
    else if (filter == 3)
        UnfilterPixels<Bytes, 3>(current, above, count);
    else
        UnfilterPixels<Bytes, 4>(current, above, count);
}
#endif

// Spare bytes behind every row buffer for the 4-byte loads and stores of the pixel filters.
constexpr std::size_t RowSpare = 4;

// Image data inflated in one piece up to this size; larger images stream row by row. Above it
// the buffer would be mapped afresh for every picture (the allocator's mmap threshold is
// 32 MiB), costing more in page faults than the faster inflation saves, and two decoding
// workers would hold two such buffers beside their pictures.
constexpr std::uint64_t MaxWholeImageData = std::uint64_t(24) << 20;

// Undoes one PNG row filter in place. row[0] is the filter type, the samples follow; previous
// is the reconstructed row above (zeros for the first row of an image or pass). distance is
// the number of bytes of one whole pixel (at least 1).
void Unfilter(std::uint8_t* row, const std::uint8_t* previous, std::size_t rowLength, std::size_t distance)
{
    std::uint8_t* current = row + 1;
    const std::uint8_t* above = previous + 1;
    const std::size_t count = rowLength - 1;
    const std::size_t head = std::min(distance, count);
#if defined(__SSE2__)
    if ((row[0] == 1 || row[0] == 3 || row[0] == 4) && (distance == 3 || distance == 4) && count % distance == 0) {
        if (distance == 3)
            UnfilterPixels<3>(row[0], current, above, count);
        else
            UnfilterPixels<4>(row[0], current, above, count);
        return;
    }
#endif
    switch (row[0]) {
    case 1: // Sub
        for (std::size_t i = distance; i < count; ++i)
            current[i] = static_cast<std::uint8_t>(current[i] + current[i - distance]);
        break;
    case 2: // Up
        for (std::size_t i = 0; i < count; ++i)
            current[i] = static_cast<std::uint8_t>(current[i] + above[i]);
        break;
    case 3: // Average
        for (std::size_t i = 0; i < head; ++i)
            current[i] = static_cast<std::uint8_t>(current[i] + (above[i] >> 1));
        for (std::size_t i = distance; i < count; ++i)
            current[i] = static_cast<std::uint8_t>(current[i] + ((current[i - distance] + above[i]) >> 1));
        break;
    case 4: // Paeth: left when its distance is smallest or tied, then above, then upper-left
        for (std::size_t i = 0; i < head; ++i)
            current[i] = static_cast<std::uint8_t>(current[i] + above[i]);
        for (std::size_t i = distance; i < count; ++i) {
            const int left = current[i - distance], up = above[i], upLeft = above[i - distance];
            const int toLeft = std::abs(up - upLeft);
            const int toUp = std::abs(left - upLeft);
            const int toUpLeft = std::abs(left + up - 2 * upLeft);
            const int predictor = toLeft <= toUp && toLeft <= toUpLeft ? left : toUp <= toUpLeft ? up : upLeft;
            current[i] = static_cast<std::uint8_t>(current[i] + predictor);
        }
        break;
    default: // 0 None, and unknown types use the bytes as they are
        break;
    }
}

struct TAdam7Pass {
    std::uint32_t ColumnStart, ColumnStep, RowStart, RowStep;
    std::uint8_t Mask; // bit 7 - (x mod 8) selects the columns x of the pass
};

constexpr std::array<TAdam7Pass, 7> Adam7 = { {
    { 0, 8, 0, 8, 0x80 },
    { 4, 8, 0, 8, 0x08 },
    { 0, 4, 4, 8, 0x88 },
    { 2, 4, 0, 4, 0x22 },
    { 0, 2, 2, 4, 0xAA },
    { 1, 2, 0, 2, 0x55 },
    { 0, 1, 1, 2, 0xFF },
} };

} // namespace

// The state of one LoadStream: the file's bytes, the current chunk, the deflate codec and the
// colours the ancillary chunks set.
class TPNGLoad {
public:
    TPNGLoad(TPNGGraphic& graphic, std::span<const std::uint8_t> file)
        : FGraphic(graphic), FManager(graphic.ColorManager()), FReader(file)
    {
    }

    void Run();
    std::size_t Position() const { return FReader.Position(); }

private:
    void ReadHeader() { FChunk = MakeHeader(FReader.Take(8).data()); }
    std::span<const std::uint8_t> ReadData()
    {
        const auto data = FReader.Take(FChunk.Length);
        CheckCrc(FChunk, data, FReader.ReadU32BE());
        return data;
    }
    void SkipData() { FReader.Skip(std::size_t(FChunk.Length) + 4); }

    void ReadImageHeader();
    void SetUpColors();
    void ReadPalette(std::span<const std::uint8_t> data);
    void ReadGamma(std::span<const std::uint8_t> data);
    void ReadBackground(std::span<const std::uint8_t> data);
    void ReadTransparency(std::span<const std::uint8_t> data);
    void DecodeImage();
    void MakeBitmap(TStoreFill fill);
    void SetAlpha();
    void FillBackground(std::uint32_t fromRow);
    std::size_t ReadRow(std::uint8_t* row, std::size_t length);
    bool InflateWhole(std::size_t expected);
    std::uint64_t ImageDataAhead() const;
    std::uint8_t* Row(std::uint32_t row) { return FRow0 + static_cast<std::ptrdiff_t>(row) * FRowStep; }

    TPNGGraphic& FGraphic;
    TColorManager& FManager;
    TByteReader FReader;
    TChunkHeader FChunk;
    TLZ77Decoder FDecoder { TLZ77Decoder::PartialFlush, false };
    const std::uint8_t* FInput = nullptr; // the codec's unread input inside the current chunk
    std::size_t FInputLeft = 0;
    // All image data inflated at once, when that worked. Short-lived: from the heap, not the
    // store pool, which keeps blocks for the pictures themselves.
    std::unique_ptr<std::uint8_t[]> FWhole;
    std::size_t FWholeSize = 0, FWholeRead = 0; // bytes in it, bytes of it handed out
    bool FWholeActive = false;

    std::uint32_t FWidth = 0, FHeight = 0;
    int FDepth = 0, FColorType = 0, FInterlace = 0;
    std::size_t FSourceBytesPerPixel = 0; // 0 until the colour set-up ran
    TPixelLayout FLayout = TPixelLayout::plDevice;
    TColorTable FPalette;
    bool FHasPalette = false;
    std::vector<std::uint8_t> FPaletteData; // PLTE as stored, for an indexed bKGD
    TColor FBackground = clWhite;
    int FBackgroundIndex = -1;
    TColor FTransparent = clNone;
    std::vector<std::uint8_t> FIndexAlpha; // tRNS of an indexed image
    bool FImageDone = false;

    std::uint8_t* FRow0 = nullptr;
    std::ptrdiff_t FRowStep = 0;
};

void TPNGLoad::ReadImageHeader()
{
    FReader.Seek(PngSignature.size());
    ReadHeader();
    if (!FChunk.Is(ctIHDR) || FChunk.Length != IhdrSize)
        TReaderGraphic::RaiseGraphicError(SInvalidImageFormat, SPNGFormatName);
    const auto data = ReadData();
    FWidth = BigEndian32(data.data());
    FHeight = BigEndian32(data.data() + 4);
    FDepth = data[8];
    FColorType = data[9];
    FInterlace = data[12];
}

void TPNGLoad::SetUpColors()
{
    struct TSetUp {
        SampleScheme InScheme;
        std::uint8_t InSamples;
        SampleScheme OutScheme;
        std::uint8_t OutSamples;
        std::uint32_t Depths; // bit n: depth n allowed
        std::uint8_t Samples; // stored samples per pixel
    };
    constexpr auto d = [](int depth) { return 1u << depth; };
    TSetUp setUp {};
    switch (FColorType) {
    case 0: setUp = { schGray, 1, schGray, 1, d(1) | d(2) | d(4) | d(8) | d(16), 1 }; break;
    case 2: setUp = { schRGB, 3, schBGR, 3, d(8) | d(16), 3 }; break;
    case 3: setUp = { schIndexed, 1, schIndexed, 1, d(1) | d(2) | d(4) | d(8), 1 }; break;
    case 4: setUp = { schGrayAlpha, 1, schIndexed, 1, d(8) | d(16), 2 }; break;
    case 6: setUp = { schRGBA, 4, schBGRA, 4, d(8) | d(16), 4 }; break;
    default: break;
    }
    if (FDepth > 16 || (setUp.Depths & (1u << FDepth)) == 0)
        TReaderGraphic::RaiseGraphicError(SInvalidColorFormat, SPNGFormatName);

    std::uint8_t outBits = 8;
    if (FColorType == 0 || FColorType == 3)
        outBits = FDepth == 2 ? 4 : FDepth == 16 ? 8 : static_cast<std::uint8_t>(FDepth);
    FManager.SetInScheme(setUp.InScheme);
    FManager.SetInSamples(setUp.InSamples);
    FManager.SetInSampleBits(static_cast<std::uint8_t>(FDepth));
    FManager.SetOutScheme(setUp.OutScheme);
    FManager.SetOutSamples(setUp.OutSamples);
    FManager.SetOutSampleBits(outBits);
    switch (FColorType) {
    case 2: FLayout = TPixelLayout::pl24Bit; break;
    case 4: FLayout = TPixelLayout::pl8Bit; break;
    case 6: FLayout = TPixelLayout::pl32Bit; break;
    default: FLayout = FManager.LayoutFor(csTarget); break;
    }
    if (FColorType == 0 || FColorType == 4) {
        FPalette = FManager.MakeGrayPalette(false);
        FHasPalette = true;
    }
    FSourceBytesPerPixel = FDepth < 8 ? 1 : std::size_t(setUp.Samples) * FDepth / 8;
}

void TPNGLoad::ReadPalette(std::span<const std::uint8_t> data)
{
    if (FColorType != 3)
        return;
    SetUpColors();
    FPalette = FManager.MakeRawPalette(data.data(), rpInterleaved8Triple, static_cast<std::uint32_t>(data.size() / 3), false);
    FHasPalette = true;
    FPaletteData.assign(data.begin(), data.end());
}

void TPNGLoad::ReadGamma(std::span<const std::uint8_t> data)
{
    if (data.size() < 4)
        return;
    const float gamma = static_cast<float>(BigEndian32(data.data()) / 100000.0);
    // The tone table serves 8-bit results (colours, and the grey and colour palettes), so it is
    // built at 8 bits whatever depths an earlier image left in the manager.
    const auto inBits = FManager.InSampleBits(), outBits = FManager.OutSampleBits();
    FManager.SetInSampleBits(8);
    FManager.SetOutSampleBits(8);
    FManager.SetToneCurve(gamma, 2.2f);
    FManager.SetInSampleBits(inBits);
    FManager.SetOutSampleBits(outBits);
    FManager.OutFlags() |= cfApplyCurve;
    FGraphic.Properties().Options |= optGammaApplied;
}

void TPNGLoad::ReadBackground(std::span<const std::uint8_t> data)
{
    switch (FColorType) {
    case 0:
    case 4:
        if (data.size() >= 2)
            FBackground = ScaleSample(BigEndian16(data.data()), FDepth) * TColor(0x010101);
        break;
    case 2:
    case 6:
        if (data.size() >= 6)
            FBackground = RGBColor(ScaleSample(BigEndian16(data.data()), FDepth),
                ScaleSample(BigEndian16(data.data() + 2), FDepth), ScaleSample(BigEndian16(data.data() + 4), FDepth));
        break;
    case 3:
        if (!data.empty())
            FBackgroundIndex = data[0];
        break;
    default:
        break;
    }
}

void TPNGLoad::ReadTransparency(std::span<const std::uint8_t> data)
{
    // Grey and RGB images name a transparent colour, indexed ones an alpha for each index.
    if (FColorType == 3)
        FIndexAlpha.assign(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(data.size(), 256)));
    else if (FColorType == 0 && data.size() >= 2)
        FTransparent = ScaleSample(BigEndian16(data.data()), FDepth) * TColor(0x010101);
    else if (FColorType == 2 && data.size() >= 6)
        FTransparent = RGBColor(ScaleSample(BigEndian16(data.data()), FDepth),
            ScaleSample(BigEndian16(data.data() + 2), FDepth), ScaleSample(BigEndian16(data.data() + 4), FDepth));
}

void TPNGLoad::Run()
{
    ReadImageHeader();
    FManager.SetInFlags(cfSwapOrder);
    // A previous image's gamma must not carry over into this one.
    FManager.SetOutFlags(0);
    if (FGraphic.Properties().Compression != cmpDeflate)
        TReaderGraphic::RaiseGraphicError(SCompressionNotSupported, SCompressionScheme, SPNGFormatName);
    FDecoder.BeginDecoding();
    try {
        ReadHeader();
        for (;;) {
            if (FChunk.Is(ctIDAT)) {
                if (FImageDone) {
                    // A second run of image data after the image is complete is not decoded.
                    SkipData();
                    ReadHeader();
                    continue;
                }
                FGraphic.ProgressEnd();
                DecodeImage();
                FImageDone = true;
                // The chunk right after the image data falls through to the skip step.
            } else if (FChunk.Is(ctPLTE)) {
                if (FChunk.Length % 3 != 0)
                    TReaderGraphic::RaiseGraphicError(SInvalidPalette, SPNGFormatName);
                ReadPalette(ReadData());
                ReadHeader();
                continue;
            } else if (!FImageDone && (FChunk.Is(ctgAMA) || FChunk.Is(ctbKGD) || FChunk.Is(cttRNS))) {
                // After the image these could not change it any more: they are skipped.
                const auto data = ReadData();
                if (FChunk.Is(ctgAMA))
                    ReadGamma(data);
                else if (FChunk.Is(ctbKGD))
                    ReadBackground(data);
                else
                    ReadTransparency(data);
                ReadHeader();
                continue;
            }
            SkipData();
            if (FChunk.Is(ctIEND))
                break;
            if (FChunk.IsCritical())
                TReaderGraphic::RaiseGraphicError(SUnknownCriticalChunk);
            ReadHeader();
        }
        // Without image data there is no picture: a failure, not an empty success.
        if (!FImageDone)
            TReaderGraphic::RaiseGraphicError(SInvalidImageFormat, SPNGFormatName);
    } catch (...) {
        try {
            FDecoder.EndDecoding();
        } catch (...) { // the first error is the one to report
        }
        FGraphic.ProgressEnd();
        throw;
    }
    FDecoder.EndDecoding();
    FGraphic.ProgressEnd();
}

// The transparency the thumbnails show.
void TPNGLoad::SetAlpha()
{
    if (FColorType == 6)
        FGraphic.SetAlpha(TAlphaForm::afStraight);
    else if (FColorType == 3 && !FIndexAlpha.empty())
        FGraphic.SetAlpha(TAlphaForm::afIndexed, FIndexAlpha);
    else if (FTransparent != clNone)
        FGraphic.SetAlpha(TAlphaForm::afKey, {},
            TRGBQuad { std::uint8_t(FTransparent >> 16), std::uint8_t(FTransparent >> 8), std::uint8_t(FTransparent), 0 });
}

void TPNGLoad::MakeBitmap(TStoreFill fill)
{
    TColorTable table;
    if (FHasPalette) {
        table = FPalette;
    } else if (FLayout == TPixelLayout::pl1Bit || FLayout == TPixelLayout::pl4Bit || FLayout == TPixelLayout::pl8Bit) {
        // No palette in the file: the bitmap's own table for the layout.
        FGraphic.SetPixelLayout(FLayout);
        table = FGraphic.ColorTable();
    }
    TBitmapHeader header;
    header.Width = static_cast<std::int32_t>(FWidth);
    header.Height = static_cast<std::int32_t>(FHeight);
    header.BitsPerPixel = static_cast<std::uint16_t>(LayoutBits(FLayout));
    FGraphic.NewImage(header, table, fill);
    SetAlpha();
    FRow0 = FGraphic.RowAddress(0);
    FRowStep = FHeight > 1 ? FGraphic.RowAddress(1) - FRow0 : 0;
    if (FTransparent != clNone) {
        FGraphic.TransparentColor = FTransparent;
        FGraphic.Transparent = true;
    }
}

// Pre-fills rows with the background colour: the nearest table entry for indexed layouts.
void TPNGLoad::FillBackground(std::uint32_t fromRow)
{
    if (fromRow >= FHeight)
        return;
    const std::size_t rowBytes = FGraphic.RowBytes();
    TColor color = FBackground;
    if (FBackgroundIndex >= 0 && std::size_t(FBackgroundIndex) * 3 + 3 <= FPaletteData.size()) {
        const auto* entry = FPaletteData.data() + FBackgroundIndex * 3;
        color = RGBColor(entry[0], entry[1], entry[2]);
    }
    const std::uint8_t red = color & 0xFF, green = color >> 8 & 0xFF, blue = color >> 16 & 0xFF;
    std::vector<std::uint8_t> pattern(rowBytes);
    switch (FLayout) {
    case TPixelLayout::pl24Bit:
    case TPixelLayout::pl32Bit: {
        const std::size_t step = FLayout == TPixelLayout::pl24Bit ? 3 : 4;
        for (std::size_t x = 0; x + 3 <= rowBytes; x += step) {
            pattern[x] = blue;
            pattern[x + 1] = green;
            pattern[x + 2] = red;
        }
        break;
    }
    default: {
        const auto table = FGraphic.ColorTable();
        std::uint8_t best = 0;
        int bestDistance = INT32_MAX;
        for (std::size_t i = 0; i < table.size() && i < 256; ++i) {
            const int db = table[i].Blue - blue, dg = table[i].Green - green, dr = table[i].Red - red;
            const int distance = db * db + dg * dg + dr * dr;
            if (distance < bestDistance) {
                bestDistance = distance;
                best = static_cast<std::uint8_t>(i);
            }
        }
        std::uint8_t byte = best;
        if (FLayout == TPixelLayout::pl4Bit)
            byte = static_cast<std::uint8_t>((best & 0x0F) * 0x11);
        else if (FLayout == TPixelLayout::pl1Bit)
            byte = (best & 1) ? 0xFF : 0x00;
        std::fill(pattern.begin(), pattern.end(), byte);
        break;
    }
    }
    for (std::uint32_t row = fromRow; row < FHeight; ++row)
        std::memcpy(Row(row), pattern.data(), rowBytes);
}

// The bytes of image data the file holds from the current IDAT chunk on, as far as its chunk
// lengths say (a cut file holds less).
std::uint64_t TPNGLoad::ImageDataAhead() const
{
    std::uint64_t total = 0;
    TByteReader reader = FReader;
    TChunkHeader chunk = FChunk;
    try {
        while (chunk.Is(ctIDAT)) {
            total += std::min<std::uint64_t>(chunk.Length, reader.Remaining());
            reader.Skip(std::size_t(chunk.Length) + 4);
            chunk = MakeHeader(reader.Take(8).data());
        }
    } catch (const std::exception&) { // the file ends: what was counted is all there is
    }
    return total;
}

// Reads length bytes of decompressed image data, taking further IDAT chunks as needed.
// Returns fewer bytes when the image data ends before the row is complete.
std::size_t TPNGLoad::ReadRow(std::uint8_t* row, std::size_t length)
{
    if (FWholeActive) {
        const std::size_t count = std::min(length, FWholeSize - FWholeRead);
        std::memcpy(row, FWhole.get() + FWholeRead, count);
        FWholeRead += count;
        return count;
    }
    std::size_t filled = 0;
    while (filled < length) {
        if (FInputLeft == 0) {
            if (!FChunk.Is(ctIDAT))
                return filled;
            const auto data = ReadData();
            ReadHeader();
            FInput = data.data();
            FInputLeft = data.size();
            continue; // an empty IDAT is passed over
        }
        // inflate does not write to its input; the codec interface is shared with codecs
        // that do.
        auto* source = const_cast<std::uint8_t*>(FInput);
        std::uint8_t* dest = row + filled;
        FDecoder.DecodeData(source, dest, FInputLeft, length - filled);
        const auto consumed = static_cast<std::size_t>(source - FInput);
        const auto produced = static_cast<std::size_t>(dest - (row + filled));
        FInput = source;
        FInputLeft -= consumed;
        filled += produced;
        const int result = FDecoder.ZLibResult();
        if (result == TLZ77Decoder::ResultStreamEnd) {
            if (filled < length || FInputLeft != 0)
                TReaderGraphic::RaiseGraphicError(SExtraCompressedData, SPNGFormatName);
        } else if (result != TLZ77Decoder::ResultOK || (consumed == 0 && produced == 0)) {
            // Errors, and results such as "needs a dictionary" that would never progress.
            TReaderGraphic::RaiseGraphicError(SCompressionError, SPNGFormatName);
        }
    }
    return filled;
}

// Inflates all image data in one pass when it is one intact zlib stream of exactly the size
// the rows need, ending with the data (nearly every file). Anything else (a CRC error, data
// that ends early or goes on, a damaged stream) leaves the reader where it was, and the
// streaming path meets it row by row as before.
bool TPNGLoad::InflateWhole(std::size_t expected)
{
    const std::size_t position = FReader.Position();
    const TChunkHeader chunk = FChunk;
    try {
        std::span<const std::uint8_t> input;
        std::vector<std::uint8_t> joined;
        while (FChunk.Is(ctIDAT)) {
            const auto data = ReadData();
            ReadHeader();
            if (input.empty() && joined.empty()) {
                input = data;
            } else {
                if (joined.empty())
                    joined.assign(input.begin(), input.end());
                joined.insert(joined.end(), data.begin(), data.end());
                input = joined;
            }
        }
        // Deflate expands at most about 1032 times: a size no stream of this length can give
        // is left to the streaming path rather than allocated.
        if (!input.empty() && expected / 1032 <= input.size()) {
            FWhole.reset(new std::uint8_t[expected]);
            if (TLZ77Decoder::DecodeWhole(input.data(), input.size(), FWhole.get(), expected, true)) {
                FWholeSize = expected;
                FWholeRead = 0;
                FWholeActive = true;
                return true;
            }
        }
    } catch (const std::exception&) {
        // Met again, in its place, by the streaming path.
    }
    FWhole.reset();
    FReader.Seek(position);
    FChunk = chunk;
    return false;
}

void TPNGLoad::DecodeImage()
{
    FGraphic.ProgressStart(STransfering);
    if (FLayout == TPixelLayout::plDevice)
        SetUpColors();
    // Row lengths count pixel steps of one byte per sample for 16-bit data (two bytes each);
    // the filters always work on whole pixels.
    const std::size_t filterDistance = FSourceBytesPerPixel;
    const std::size_t pixelStep = FDepth == 16 ? FSourceBytesPerPixel / 2 : FSourceBytesPerPixel;
    const auto rowLength = [&](std::uint64_t pixels) {
        return static_cast<std::size_t>((pixels * FDepth + 7) / 8 * pixelStep + 1);
    };
    const std::size_t fullLength = rowLength(FWidth);
    std::uint64_t expected = 0;
    if (FInterlace == 1) {
        for (const auto& pass : Adam7)
            if (pass.ColumnStart < FWidth && pass.RowStart < FHeight)
                expected += std::uint64_t((FHeight - pass.RowStart + pass.RowStep - 1) / pass.RowStep)
                    * rowLength((FWidth + pass.ColumnStep - pass.ColumnStart - 1) / pass.ColumnStep);
    } else {
        expected = std::uint64_t(FHeight) * fullLength;
    }
    // Image data that cannot fill the rows even at deflate's best ratio (about 1032 to 1) is
    // refused before the store is made: a few bytes must not cost a picture-sized store.
    if (ImageDataAhead() * 1032 + 1032 < expected)
        TReaderGraphic::RaiseGraphicError(SInvalidImageFormat, SPNGFormatName);
    // Rows of a plain image in grey with alpha, RGB or RGBA are overwritten byte for byte, so
    // their store is not cleared first (unless a progress handler may look at it meanwhile).
    const bool overwritten = FInterlace != 1 && !FGraphic.OnProgress && (FColorType == 2 || FColorType == 4 || FColorType == 6);
    MakeBitmap(overwritten ? TStoreFill::sfUnset : TStoreFill::sfZeroed);
    std::vector<std::uint8_t> current(fullLength + RowSpare), previous(fullLength + RowSpare);
    if (FInputLeft == 0 && expected <= MaxWholeImageData)
        InflateWhole(static_cast<std::size_t>(expected));

    if (FInterlace == 1) {
        FillBackground(0);
        for (const auto& pass : Adam7) {
            if (pass.ColumnStart >= FWidth)
                continue;
            const std::size_t length = rowLength((FWidth + pass.ColumnStep - pass.ColumnStart - 1) / pass.ColumnStep);
            std::fill_n(previous.begin(), length, 0);
            for (std::uint32_t row = pass.RowStart; row < FHeight; row += pass.RowStep) {
                const std::size_t got = ReadRow(current.data(), length);
                if (got == 0)
                    return; // the image data ended: the rest keeps the background
                std::fill(current.begin() + got, current.begin() + length, 0);
                Unfilter(current.data(), previous.data(), length, filterDistance);
                FManager.TranslateRow(current.data() + 1, Row(row), FWidth, pass.Mask);
                if (pass.Mask == 0xFF)
                    FGraphic.ProgressRow(row, FHeight);
                if (got < length)
                    return;
                std::swap(current, previous);
            }
        }
    } else {
        std::uint32_t row = 0;
        try {
            for (; row < FHeight; ++row) {
                const std::size_t got = ReadRow(current.data(), fullLength);
                if (got == 0) {
                    FillBackground(row); // the image data ended: the rest shows the background
                    return;
                }
                std::fill(current.begin() + got, current.begin() + fullLength, 0);
                Unfilter(current.data(), previous.data(), fullLength, filterDistance);
                FManager.TranslateRow(current.data() + 1, Row(row), FWidth, 0xFF);
                FGraphic.ProgressRow(row, FHeight);
                if (got < fullLength) {
                    FillBackground(row + 1);
                    return;
                }
                std::swap(current, previous);
            }
        } catch (...) {
            // A broken file leaves the rows not reached cleared, as a new store has them.
            if (overwritten)
                for (; row < FHeight; ++row)
                    std::memset(Row(row), 0, FGraphic.RowBytes());
            throw;
        }
    }
    // The remaining image data is checked but not decompressed.
    while (FChunk.Is(ctIDAT)) {
        ReadData();
        ReadHeader();
    }
}

bool TPNGGraphic::CanReadStream(TStream& stream)
{
    const std::int64_t position = stream.Position();
    bool result = false;
    if (stream.Size() - position > static_cast<std::int64_t>(PngSignature.size())) {
        std::array<std::uint8_t, 8> bytes {};
        result = stream.Read(bytes.data(), bytes.size()) == bytes.size() && bytes == PngSignature;
    }
    stream.SetPosition(position);
    return result;
}

bool TPNGGraphic::ReadImageInfo(TStream& stream, std::uint32_t imageIndex)
{
    TReaderGraphic::ReadImageInfo(stream, imageIndex);
    FSourceStream = &stream;
    std::array<std::uint8_t, 8> signature {};
    stream.ReadBuffer(signature.data(), signature.size());
    if (signature != PngSignature)
        return false;

    std::array<std::uint8_t, 8> headerBytes {};
    stream.ReadBuffer(headerBytes.data(), headerBytes.size());
    TChunkHeader header = MakeHeader(headerBytes.data());
    if (!header.Is(ctIHDR) || header.Length != IhdrSize)
        return false;
    auto& p = Properties();
    p.Options |= optBigEndian;
    std::array<std::uint8_t, IhdrSize + 4> ihdr {};
    stream.ReadBuffer(ihdr.data(), ihdr.size());
    CheckCrc(header, { ihdr.data(), IhdrSize }, BigEndian32(ihdr.data() + IhdrSize));
    const std::uint32_t width = BigEndian32(ihdr.data()), height = BigEndian32(ihdr.data() + 4);
    if (width == 0 || height == 0)
        return false;
    p.Width = width;
    p.Height = height;
    p.Compression = ihdr[10] == 0 ? cmpDeflate : cmpUndefined;
    p.BitsPerSample = ihdr[8];
    switch (ihdr[9]) {
    case 0: p.ColorScheme = schGray; p.SamplesPerPixel = 1; break;
    case 2: p.ColorScheme = schRGB; p.SamplesPerPixel = 3; break;
    case 3: p.ColorScheme = schIndexed; p.SamplesPerPixel = 1; break;
    case 4: p.ColorScheme = schGrayAlpha; p.SamplesPerPixel = 2; break;
    case 6: p.ColorScheme = schRGBA; p.SamplesPerPixel = 4; break;
    default: p.ColorScheme = schNone; p.SamplesPerPixel = 1; break;
    }
    p.BitsPerPixel = static_cast<std::uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
    p.FilterMode = ihdr[11];
    p.Interlaced = ihdr[12] != 0;
    p.HasAlpha = p.ColorScheme == schGrayAlpha || p.ColorScheme == schRGBA;

    // Up to a gAMA chunk (read) or IEND; everything else is skipped unchecked.
    for (;;) {
        stream.ReadBuffer(headerBytes.data(), headerBytes.size());
        header = MakeHeader(headerBytes.data());
        if (header.Is(ctIEND))
            return true;
        const std::int64_t position = stream.Position();
        if (header.Is(ctgAMA)) {
            // Bounded by the stream: a length beyond its end is a read error, not a huge buffer.
            if (header.Length > stream.Size() - position)
                throw EReadError(SReadError);
            std::vector<std::uint8_t> data(std::size_t(header.Length) + 4);
            stream.ReadBuffer(data.data(), data.size());
            CheckCrc(header, { data.data(), header.Length }, BigEndian32(data.data() + header.Length));
            if (header.Length >= 4)
                p.FileGamma = static_cast<float>(BigEndian32(data.data()) / 100000.0);
            return true;
        }
        stream.SetPosition(position + header.Length + 4);
    }
}

void TPNGGraphic::LoadStream(TStream& stream)
{
    Transparent = false;
    TransparentColor = clDefault;
    StartLoading(stream, SPNGFormatName);
    if (Properties().Height != 0 && Properties().Width > MaxImagePixels / Properties().Height)
        RaiseGraphicError(SInvalidImageFormat, SPNGFormatName);
    std::vector<std::uint8_t> buffer;
    TPNGLoad load(*this, StreamBytes(stream, BasePosition(), buffer));
    load.Run();
    stream.SetPosition(BasePosition() + static_cast<std::int64_t>(load.Position()));
}
