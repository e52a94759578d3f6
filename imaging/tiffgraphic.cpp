#include "imaging/tiffgraphic.h"

#include "base/stream.h"
#include "imaging/codecs/ccitt.h"
#include "imaging/codecs/lz77.h"
#include "imaging/codecs/packbits.h"
#include "imaging/codecs/partdecoders.h"
#include "imaging/codecs/thunder.h"
#include "imaging/codecs/tiffjpeg.h"
#include "imaging/codecs/tifflzw.h"
#include "imaging/tiffdirectory.h"
#include "imaging/tiffsamples.h"
#include "raster/orientation.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

constexpr const char* SFormatName = "TIF/TIFF";
constexpr const char* SNotSupportedFor = "Cannot load image. %s not supported for %s files.";
constexpr const char* SCompressionScheme = "The compression scheme is";

// T4Options bits for two-dimensional coding and uncompressed mode, which the fax codec
// cannot decode.
constexpr std::uint32_t T4TwoDimensional = 1;
constexpr std::uint32_t T4Uncompressed = 2;

CompressionKind CompressionFromTag(std::uint32_t value)
{
    switch (value) {
    case 1: return cmpNone;
    case 2: return cmpFaxMH;
    case 3: return cmpFaxT4;
    case 4: return cmpFaxT6;
    case 5: return cmpLZW;
    case 6: return cmpOldJPEG;
    case 7: return cmpJPEG;
    case 8: case 32946: return cmpDeflate;
    case 32766: return cmpNeXT;
    case 32771: return cmpFaxRLEW;
    case 32773: return cmpPackBits;
    case 32809: return cmpThunderScan;
    case 32895: return cmpIT8CTPAD;
    case 32896: return cmpIT8LW;
    case 32897: return cmpIT8MP;
    case 32898: return cmpIT8BL;
    case 32908: return cmpPixarFilm;
    case 32909: return cmpPixarLog;
    case 32947: return cmpDCS;
    case 34661: return cmpJBIG;
    default: return cmpUndefined;
    }
}

// Samples per pixel that the row routine of a source scheme reads.
unsigned SchemeSamples(SampleScheme scheme)
{
    switch (scheme) {
    case schGrayAlpha: return 2;
    case schRGB: case schBGR: case schLab: case schYCbCr: case schCMY: case schPhotoYCC: return 3;
    case schRGBA: case schBGRA: case schCMYK: return 4;
    default: return 1;
    }
}

std::uint8_t Saturate8(std::uint32_t value) { return std::uint8_t(std::min<std::uint32_t>(value, 255)); }

void ReverseBits(std::uint8_t* data, std::size_t count)
{
    static const auto table = [] {
        std::array<std::uint8_t, 256> reversed {};
        for (int i = 0; i < 256; ++i) {
            int value = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (i & (1 << bit))
                    value |= 0x80 >> bit;
            reversed[i] = std::uint8_t(value);
        }
        return reversed;
    }();
    for (std::size_t i = 0; i < count; ++i)
        data[i] = table[data[i]];
}

// Horizontal differencing (Predictor 2) undone in place. 16-bit samples are added as numbers
// in the file's byte order; otherwise bytes are added to the byte one pixel to the left.
void UndoPredictor(std::uint8_t* row, std::size_t rowBytes, std::uint32_t width, unsigned samples, unsigned bits,
    bool bigEndian)
{
    if (bits == 16) {
        const std::size_t count = std::min<std::size_t>(std::size_t(width) * samples, rowBytes / 2);
        for (std::size_t i = samples; i < count; ++i) {
            std::uint8_t* here = row + i * 2;
            const std::uint8_t* left = here - samples * 2;
            const unsigned hi = bigEndian ? 0 : 1, lo = 1 - hi;
            const unsigned sum = unsigned(here[hi] << 8 | here[lo]) + unsigned(left[hi] << 8 | left[lo]);
            here[hi] = std::uint8_t(sum >> 8);
            here[lo] = std::uint8_t(sum);
        }
        return;
    }
    // Pixel width in bytes: every sample for 8 bits; the byte-wise rule below 8 bits.
    const std::size_t stride = bits == 8 ? samples : (samples == 3 || samples == 4 ? samples : 1);
    const std::size_t count = std::min<std::size_t>(std::size_t(width) * stride, rowBytes);
    if (stride == 3 && count >= 3) { // the common RGB case, with the running sums in registers
        std::uint8_t red = row[0], green = row[1], blue = row[2];
        for (std::size_t i = 3; i + 2 < count; i += 3) {
            row[i] = red = std::uint8_t(red + row[i]);
            row[i + 1] = green = std::uint8_t(green + row[i + 1]);
            row[i + 2] = blue = std::uint8_t(blue + row[i + 2]);
        }
        return;
    }
    for (std::size_t i = stride; i < count; ++i)
        row[i] = std::uint8_t(row[i] + row[i - stride]);
}

#if defined(__x86_64__) || defined(__i386__)
// Four pixels per step with one byte shuffle: a 16-byte load and store of which 12 bytes
// count; the last four stored are written again by the next step, so steps run while 16
// bytes remain in both rows. Returns the pixels done.
__attribute__((target("ssse3"))) std::uint32_t SwapRedBlueBlocks(const std::uint8_t* source, std::uint8_t* target,
    std::uint32_t width)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15);
    std::uint32_t done = 0;
    for (; width - done >= 6; done += 4) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + std::size_t(done) * 3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + std::size_t(done) * 3), _mm_shuffle_epi8(pixels, order));
    }
    return done;
}

// The same with the horizontal differences undone on the way: running sums within the four
// pixels in two shifted adds, plus the last pixel of the step before.
__attribute__((target("ssse3"))) std::uint32_t AddUpAndSwapBlocks(const std::uint8_t* source, std::uint8_t* target,
    std::uint32_t width)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15);
    const __m128i lastPixel = _mm_setr_epi8(9, 10, 11, 9, 10, 11, 9, 10, 11, 9, 10, 11, 9, 10, 11, 9);
    __m128i carry = _mm_setzero_si128();
    std::uint32_t done = 0;
    for (; width - done >= 6; done += 4) {
        __m128i sums = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + std::size_t(done) * 3));
        sums = _mm_add_epi8(sums, _mm_slli_si128(sums, 3));
        sums = _mm_add_epi8(sums, _mm_slli_si128(sums, 6));
        sums = _mm_add_epi8(sums, carry);
        carry = _mm_shuffle_epi8(sums, lastPixel);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + std::size_t(done) * 3), _mm_shuffle_epi8(sums, order));
    }
    return done;
}

const bool HasByteShuffle = [] {
    __builtin_cpu_init(); // this may run before the library's own start-up
    return __builtin_cpu_supports("ssse3") != 0;
}();
#endif

// 8-bit red, green, blue pixels into a blue, green, red row in one pass; with differenced
// samples (Predictor 2) the running sums are kept on the way, the source is not changed.
void RGBToBGRRow(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width, bool differenced)
{
    if (width == 0)
        return;
    if (!differenced) {
#if defined(__x86_64__) || defined(__i386__)
        if (HasByteShuffle) {
            const std::uint32_t done = SwapRedBlueBlocks(source, target, width);
            source += std::size_t(done) * 3;
            target += std::size_t(done) * 3;
            width -= done;
        }
#endif
        for (std::uint32_t n = width; n != 0; --n, source += 3, target += 3) {
            const std::uint8_t red = source[0], green = source[1], blue = source[2];
            target[0] = blue;
            target[1] = green;
            target[2] = red;
        }
        return;
    }
    std::uint8_t red = 0, green = 0, blue = 0;
#if defined(__x86_64__) || defined(__i386__)
    if (HasByteShuffle) {
        const std::uint32_t done = AddUpAndSwapBlocks(source, target, width);
        source += std::size_t(done) * 3;
        target += std::size_t(done) * 3;
        width -= done;
        if (done > 0) { // the sums so far, from the last pixel written
            blue = target[-3];
            green = target[-2];
            red = target[-1];
        }
    }
#endif
    for (std::uint32_t n = width; n != 0; --n, source += 3, target += 3) {
        red = std::uint8_t(red + source[0]);
        green = std::uint8_t(green + source[1]);
        blue = std::uint8_t(blue + source[2]);
        target[0] = blue;
        target[1] = green;
        target[2] = red;
    }
}

// One row of subsampled YCbCr blocks (h × v luma samples, then Cb and Cr) into v rows of
// interleaved Y, Cb, Cr samples, width pixels each.
void ExpandYCbCrBlocks(const std::uint8_t* blocks, std::uint8_t* rows, std::uint32_t width, unsigned h, unsigned v)
{
    const std::size_t blockBytes = h * v + 2;
    const std::size_t rowBytes = std::size_t(width) * 3;
    for (std::uint32_t first = 0; first < width; first += h, blocks += blockBytes)
        for (unsigned dy = 0; dy < v; ++dy)
            for (unsigned dx = 0; dx < h && first + dx < width; ++dx) {
                std::uint8_t* pixel = rows + dy * rowBytes + std::size_t(first + dx) * 3;
                pixel[0] = blocks[dy * h + dx];
                pixel[1] = blocks[h * v];
                pixel[2] = blocks[h * v + 1];
            }
}

// Luma weights of the file when they make sense, the defaults otherwise (a weight of 0 or
// an enormous one would break the chroma tables).
std::array<float, 3> SaneLumaWeights(const std::vector<float>& weights)
{
    std::array<float, 3> result { 0.299f, 0.587f, 0.114f };
    for (std::size_t i = 0; i < std::min<std::size_t>(weights.size(), 3); ++i) {
        if (!std::isfinite(weights[i]) || weights[i] <= 0.0f || weights[i] > 1.0f)
            return { 0.299f, 0.587f, 0.114f };
        result[i] = weights[i];
    }
    return result;
}

} // namespace

bool TTIFFGraphic::CanReadStream(TStream& stream)
{
    const std::int64_t start = stream.Position();
    const std::int64_t size = stream.Size();
    if (size - start <= 8)
        return false;
    std::uint8_t header[8];
    const std::size_t got = stream.Read(header, 8);
    stream.SetPosition(start);
    if (got != 8)
        return false;
    bool bigEndian;
    if (header[0] == 'I' && header[1] == 'I')
        bigEndian = false;
    else if (header[0] == 'M' && header[1] == 'M')
        bigEndian = true;
    else
        return false;
    const std::uint32_t version = bigEndian ? header[2] << 8 | header[3] : header[3] << 8 | header[2];
    const std::uint32_t offset = bigEndian
        ? std::uint32_t(header[4]) << 24 | std::uint32_t(header[5]) << 16 | std::uint32_t(header[6]) << 8 | header[7]
        : std::uint32_t(header[7]) << 24 | std::uint32_t(header[6]) << 16 | std::uint32_t(header[5]) << 8 | header[4];
    return version == 42 && std::int64_t(offset) < size - start;
}

bool TTIFFGraphic::ReadImageInfo(TStream& stream, std::uint32_t imageIndex)
{
    TReaderGraphic::ReadImageInfo(stream, imageIndex);
    FSourceStream = &stream;
    FYCbCrPositioning = 1;
    FYCbCrCoefficients = { 0.299f, 0.587f, 0.114f };
    TImageProperties& properties = Properties();
    TTIFFDirectory directory(stream, FBasePosition, false);
    std::uint16_t version;
    std::uint32_t firstIFD;
    if (!directory.ReadHeader(version, firstIFD))
        return false;
    if (directory.BigEndian())
        properties.Options |= optBigEndian;
    properties.Version = version;
    properties.FirstIFD = firstIFD;
    if (version != 42 || !directory.ReadDirectory(firstIFD, imageIndex))
        return false;
    properties.Width = directory.Integer(tifftag::ImageWidth, 0);
    properties.Height = directory.Integer(tifftag::ImageLength, 0);
    if (properties.Width == 0 || properties.Height == 0)
        return false;
    FillProperties(directory);
    return true;
}

void TTIFFGraphic::FillProperties(const TTIFFDirectory& directory)
{
    TImageProperties& properties = Properties();
    // One strip of the whole image when the tag is absent, says "unlimited" or says 0 (which
    // would otherwise make strips of no rows).
    properties.RowsPerStrip = directory.IntegerArray(tifftag::RowsPerStrip);
    if (properties.RowsPerStrip.empty() || properties.RowsPerStrip[0] == 0xFFFFFFFF)
        properties.RowsPerStrip = { properties.Height };
    for (std::uint32_t& rows : properties.RowsPerStrip)
        if (rows == 0)
            rows = properties.Height;
    // Field values that do not fit the record's bytes saturate, so that the colour manager
    // refuses them instead of seeing a wrapped, plausible value.
    properties.SamplesPerPixel = Saturate8(directory.Integer(tifftag::SamplesPerPixel, 1));
    const std::vector<std::uint32_t> bits = directory.IntegerArray(tifftag::BitsPerSample);
    properties.BitsPerSample = bits.empty() ? 1 : Saturate8(bits[0]);
    // Any of the tile tags makes the image tiled; a tile size of 0 is refused when decoding.
    properties.TileWidth = directory.Integer(tifftag::TileWidth, 0);
    properties.TileLength = directory.Integer(tifftag::TileLength, 0);
    if (directory.Has(tifftag::TileWidth) || directory.Has(tifftag::TileLength) || directory.Has(tifftag::TileOffsets))
        properties.Options |= optTiled;
    const std::vector<std::uint32_t> extraSamples = directory.IntegerArray(tifftag::ExtraSamples);
    properties.HasAlpha = !extraSamples.empty()
        && std::all_of(extraSamples.begin(), extraSamples.end(), [](std::uint32_t value) { return value <= 2; });
    properties.BitsPerPixel = std::uint8_t(properties.BitsPerSample * properties.SamplesPerPixel);
    properties.Compression = CompressionFromTag(directory.Integer(tifftag::Compression, 0));
    properties.JPEGColorMode = 0;
    properties.JPEGTablesMode = 3;
    properties.PlanarConfig = directory.Integer(tifftag::PlanarConfiguration, 0);
    properties.XResolution = directory.Float(tifftag::XResolution, 0);
    properties.YResolution = directory.Float(tifftag::YResolution, 0);
    if (directory.Integer(tifftag::ResolutionUnit, 2) == 3) {
        properties.XResolution *= 2.54f;
        properties.YResolution *= 2.54f;
    }
    properties.Predictor = directory.Integer(tifftag::Predictor, 0);
    const std::vector<std::uint32_t> formats = directory.IntegerArray(tifftag::SampleFormat); // one per sample
    FSampleFormat = formats.empty() ? 1 : formats[0];
    if (directory.Integer(tifftag::FillOrder, 1) == 2)
        properties.Options |= optReversedBits;

    switch (directory.Integer(tifftag::PhotometricInterpretation, 0)) {
    case 0:
        properties.ColorScheme = schGray;
        properties.Options |= optMinIsWhite;
        break;
    case 1: properties.ColorScheme = schGray; break;
    case 2: properties.ColorScheme = properties.SamplesPerPixel < 4 ? schRGB : schRGBA; break;
    case 3: properties.ColorScheme = schIndexed; break;
    case 5: properties.ColorScheme = schCMYK; break;
    case 6: properties.ColorScheme = schYCbCr; break;
    case 8: properties.ColorScheme = schLab; break;
    default: properties.ColorScheme = schNone; break;
    }
    if (properties.ColorScheme == schYCbCr) {
        properties.YCbCrSubsampling = directory.ByteArray(tifftag::YCbCrSubSampling);
        if (properties.YCbCrSubsampling.size() < 2)
            properties.YCbCrSubsampling = { 2, 2 };
        properties.YCbCrSubsampling.resize(2);
        FYCbCrPositioning = directory.Integer(tifftag::YCbCrPositioning, 1);
        const std::vector<float> weights = directory.FloatArray(tifftag::YCbCrCoefficients);
        if (!weights.empty())
            FYCbCrCoefficients = SaneLumaWeights(weights);
    }
}

void TTIFFGraphic::SaveStream(TStream&)
{
}

void TTIFFGraphic::LoadStream(TStream& stream)
{
    StartLoading(stream, SFormatName, paEmpty);
    TTIFFDirectory directory(stream, FBasePosition, false);
    std::uint16_t version;
    std::uint32_t firstIFD;
    if (!directory.ReadHeader(version, firstIFD) || !directory.ReadDirectory(Properties().FirstIFD, 0))
        RaiseGraphicError(SInvalidImageFormat, SFormatName);
    DecodeStrips(stream, directory);
    // An alpha sample kept in the fourth byte, seen by the thumbnails only.
    const std::vector<std::uint32_t> extra = directory.IntegerArray(tifftag::ExtraSamples);
    if (!IsEmpty() && PixelLayout() == TPixelLayout::pl32Bit && Properties().ColorScheme == schRGBA && !extra.empty()
        && (extra[0] == 1 || extra[0] == 2))
        SetAlpha(extra[0] == 1 ? TAlphaForm::afPremultiplied : TAlphaForm::afStraight);
    // How viewers show the picture (the Orientation tag); any unusable value means as stored.
    if (!IsEmpty())
        SetOrientation(SaneOrientation(directory.Integer(tifftag::Orientation, OrientationAsStored)));
}

bool TTIFFGraphic::MakeStore(std::uint32_t width, std::uint32_t height)
{
    // Rows of whole bytes are written completely by the decoding, so the store is not cleared
    // and filled first, unless someone watches the progress (and may draw unfinished rows) or
    // a canvas brush gives the fill.
    const TBitmapHeader& current = Header();
    const int bits = current.BitsPerPixel;
    if (OnProgress || HasCanvas() || PixelLayout() == TPixelLayout::plDevice || (bits != 8 && bits != 24 && bits != 32)) {
        ResizeTo(int(width), int(height));
        return false;
    }
    TBitmapHeader header = current;
    header.Width = std::int32_t(width);
    header.Height = current.Height < 0 ? -std::int32_t(height) : std::int32_t(height);
    NewImage(header, ColorTable(), TStoreFill::sfUnset);
    Changed();
    return true;
}

void TTIFFGraphic::FillRowsFrom(std::uint32_t first)
{
    const int height = Height();
    if (std::int64_t(first) >= height)
        return;
    // The fill comes from a one-row bitmap of the same layout and table, made the same way.
    TBitmapHeader header = Header();
    header.Width = 0;
    header.Height = 0;
    TBitmap blank;
    blank.NewImage(header, ColorTable());
    blank.ResizeTo(Width(), 1);
    const std::uint8_t* fill = std::as_const(blank).RowAddress(0);
    const std::size_t rowBytes = RowBytes();
    for (int row = int(first); row < height; ++row)
        std::memcpy(RowAddress(row), fill, rowBytes);
}

namespace {

// Rows are converted in parts of about this many bytes where a strip is not decoded whole.
std::atomic<std::uint64_t> RawPartBytes = 1 << 20;
// Compressed strips decoding to more than this many bytes are decoded in parts.
std::atomic<std::uint64_t> PartedStripBytes = 16 << 20;

// Rows per part of about RawPartBytes, whole block rows of subsampled YCbCr.
std::uint32_t PartRows(std::uint64_t unitBytes, unsigned unitRows, std::uint32_t rows)
{
    const std::uint64_t partBytes = RawPartBytes.load(std::memory_order_relaxed);
    const std::uint64_t units = std::max<std::uint64_t>(partBytes / std::max<std::uint64_t>(unitBytes, 1), 1);
    return std::uint32_t(std::min<std::uint64_t>(units * unitRows, rows));
}

// Where the bytes of one strip come from: straight out of a memory stream when nothing has
// to change them, else copied into a buffer of our own.
struct TStripInput {
    std::uint8_t* Data = nullptr;
    std::size_t Size = 0;
};

} // namespace

// Decoding goes in four steps: the colour set-up chooses the conversion and the bitmap layout,
// the row plan says how rows lie in the strips, the codec choice picks the decoder and its
// whole-strip fast path, and then strip by strip the bytes are fetched, decoded and converted.

// What the colour set-up chose and how the rows lie in the strips; read by every later step.
struct TTIFFGraphic::TRowPlan {
    SampleScheme InScheme = schNone;
    SampleScheme OutScheme = schNone;
    TPixelLayout Layout = TPixelLayout::plDevice;
    std::uint32_t Samples = 0;
    bool JPEG = false;
    // Separate planes: one strip per plane and strip row, converted from one address per plane.
    bool Planar = false;
    std::uint32_t Planes = 1;
    // Grey or palette planes: the first plane holds the values.
    std::size_t SourceCount = 1;
    // The JPEG codec delivers three components as blue, green, red bytes; one or four
    // components as they are stored.
    bool JPEGBGR = false;
    std::uint64_t BytesPerLine = 0;
    std::uint64_t PlaneBytesPerLine = 0;
    // Subsampled YCbCr stored as blocks of SubH × SubV luma samples and one Cb and one Cr.
    bool Subsampled = false;
    unsigned SubH = 1;
    unsigned SubV = 1;
    std::uint64_t BlockRowBytes = 0;
    bool Predictor = false;
    std::uint32_t PredictorSamples = 0;
    // The floating-point predictor, undone before the samples are read.
    bool FloatPredictor = false;
    // Samples the colour manager cannot read, brought to 8 bits first; RowSamples of each plane.
    bool Unpack = false;
    TSampleUnpacker Unpacker;
    std::uint32_t RowSamples = 0;
    // Palette indices above 8 bits (or of 3, 5, 6, 7 bits) looked up straight into blue,
    // green, red pixels: the whole map, black beyond it.
    bool WidePalette = false;
    std::vector<std::array<std::uint8_t, 3>> Palette;
    // 8-bit RGB into the blue, green, red bitmap: predictor and byte swap in one pass per row.
    bool RGBRows = false;

    // The bytes rows rows of one plane decode to.
    std::uint64_t StripBytes(std::uint32_t rows) const
    {
        return Subsampled ? (std::uint64_t(rows) + SubV - 1) / SubV * BlockRowBytes : std::uint64_t(rows) * PlaneBytesPerLine;
    }
};

// The decoder of the strips and the whole-strip fast path it allows, chosen with it.
struct TTIFFGraphic::TStripCodec {
    std::unique_ptr<TDecoder> Decoder; // none for uncompressed strips
    bool Deflate = false; // a complete Deflate strip inflates in one pass
    TTIFFLZWDecoder* LZW = nullptr; // the decoder, which then fills whole strips at once
    TTIFFJPEGDecoder* JPEG = nullptr; // the decoder, which then is told where each strip starts
    bool ReversesBits = false; // the fax codecs put FillOrder 2 right themselves
    TRowsDecoder* Rows = nullptr; // the decoder, when it codes rows one after another
    CompressionKind Compression = cmpNone;

    // A decoder delivering strip number strip (of plane plane), of these bytes, in parts of
    // bytes in all; the strip starts at currentRow.
    std::unique_ptr<TPartDecoder> PartDecoder(const TStripInput& data, std::uint64_t bytes, std::uint32_t plane,
        std::uint32_t strip, std::uint32_t currentRow, std::uint32_t stripCount) const
    {
        if (Rows)
            return std::make_unique<TRowsPartDecoder>(*Rows, data.Data, data.Size);
        if (JPEG)
            return std::make_unique<TJPEGPartDecoder>(*JPEG, plane > 0, data.Data, data.Size, std::size_t(bytes),
                currentRow, strip, stripCount);
        switch (Compression) {
        case cmpLZW: return std::make_unique<TLZWPartDecoder>(data.Data, data.Size);
        case cmpPackBits: return std::make_unique<TPackBitsPartDecoder>(data.Data, data.Size);
        default: return std::make_unique<TDeflatePartDecoder>(data.Data, data.Size);
        }
    }
    // Every codec can, the row codecs with one plane only (they keep their place themselves).
    bool DecodesInParts(std::uint32_t planes) const { return Decoder && (!Rows || planes == 1); }
};

// The bytes of the strips. Strips of a memory stream are used where they lie when nothing has
// to change them; otherwise they are read into buffers.
class TTIFFGraphic::TStripReader {
public:
    TStripReader(TStream& stream, std::int64_t basePosition, std::vector<std::uint32_t> offsets,
        std::vector<std::uint32_t> byteCounts)
        : FStream(stream), FBasePosition(basePosition), FOffsets(std::move(offsets)), FByteCounts(std::move(byteCounts)),
          FFileSize(std::uint64_t(std::max<std::int64_t>(stream.Size() - basePosition, 0)))
    {
    }
    void SetReading(bool reverseBits, bool inPlaceAllowed)
    {
        FReverseBits = reverseBits;
        FMemory = inPlaceAllowed && !reverseBits ? FStream.MemoryBytes() : std::span<std::uint8_t>();
    }
    std::size_t Count() const { return FOffsets.size(); }
    std::size_t ByteCountCount() const { return FByteCounts.size(); }

    // bytes of uncompressed strip number strip from byte skip on; what a short strip lacks
    // reads as zeros.
    const std::uint8_t* Raw(std::uint64_t strip, std::uint64_t skip, std::uint64_t bytes, std::vector<std::uint8_t>& buffer);
    // The bytes strip number strip has in the file: its byte count, or the rest of the file
    // without one, as far as the file reaches.
    std::uint64_t Stored(std::uint64_t strip) const
    {
        const std::uint64_t limit = strip < FByteCounts.size() ? FByteCounts[strip] : FFileSize;
        return std::min(limit, Available(FOffsets[strip]));
    }
    // The compressed bytes of strip number strip. A strip without a byte count takes the rest
    // of the file; codecs stop when their output is full. Bytes that are not used where they
    // lie are read into input, or into a buffer of the reader's own.
    TStripInput Compressed(std::uint64_t strip, std::vector<std::uint8_t>* input = nullptr);

private:
    std::uint64_t Available(std::uint64_t offset) const { return offset < FFileSize ? FFileSize - offset : 0; }

    TStream& FStream;
    std::int64_t FBasePosition;
    std::vector<std::uint32_t> FOffsets;
    std::vector<std::uint32_t> FByteCounts;
    std::uint64_t FFileSize;
    bool FReverseBits = false;
    std::span<std::uint8_t> FMemory; // the whole stream, when strips are used in place
    std::vector<std::uint8_t> FInput;
};

const std::uint8_t* TTIFFGraphic::TStripReader::Raw(std::uint64_t strip, std::uint64_t skip, std::uint64_t bytes,
    std::vector<std::uint8_t>& buffer)
{
    const std::uint64_t offset = FOffsets[strip] + skip;
    const std::size_t size = std::size_t(std::min(bytes, Available(offset)));
    const bool inPlace = !FMemory.empty();
    // Rows wholly in memory are converted where they lie.
    if (inPlace && size == bytes)
        return FMemory.data() + FBasePosition + offset;
    buffer.resize(std::size_t(bytes));
    if (size > 0 && inPlace) {
        std::memcpy(buffer.data(), FMemory.data() + FBasePosition + offset, size);
    } else if (size > 0) {
        FStream.SetPosition(FBasePosition + std::int64_t(offset));
        FStream.ReadBuffer(buffer.data(), size);
        if (FReverseBits)
            ReverseBits(buffer.data(), size);
    }
    std::memset(buffer.data() + size, 0, buffer.size() - size);
    return buffer.data();
}

TStripInput TTIFFGraphic::TStripReader::Compressed(std::uint64_t strip, std::vector<std::uint8_t>* input)
{
    const std::uint64_t limit = strip < FByteCounts.size() ? FByteCounts[strip] : FFileSize;
    const std::uint64_t offset = FOffsets[strip];
    const std::uint64_t size = std::min(limit, Available(offset));
    if (size == 0)
        return {};
    if (!FMemory.empty())
        return { FMemory.data() + FBasePosition + offset, std::size_t(size) };
    std::vector<std::uint8_t>& bytes = input ? *input : FInput;
    bytes.resize(std::size_t(size));
    FStream.SetPosition(FBasePosition + std::int64_t(offset));
    FStream.ReadBuffer(bytes.data(), bytes.size());
    if (FReverseBits)
        ReverseBits(bytes.data(), bytes.size());
    return { bytes.data(), bytes.size() };
}

// The decoded rows of the current strip row, one address per plane, and the buffers they
// live in when they do not lie in the file's memory.
struct TTIFFGraphic::TStripRows {
    explicit TStripRows(const TRowPlan& plan)
        : Buffers(plan.Planes), Rows(plan.Planes), Sources(plan.Planes),
          Expanded(plan.Subsampled ? std::size_t(plan.BytesPerLine) * plan.SubV : 0),
          Unpacked(plan.Unpack ? plan.Planes : 0, std::vector<std::uint8_t>(plan.RowSamples)),
          Indices(plan.WidePalette ? plan.RowSamples : 0)
    {
    }
    std::vector<std::vector<std::uint8_t>> Buffers;
    std::vector<const std::uint8_t*> Rows;
    std::vector<const std::uint8_t*> Sources; // one row of each plane, for the colour manager
    std::vector<std::uint8_t> Expanded; // subsampled YCbCr blocks spread out into rows
    std::vector<std::vector<std::uint8_t>> Unpacked; // one row of each plane as 8-bit samples
    std::vector<std::uint32_t> Indices; // one row of wide palette indices
    std::vector<std::uint8_t> Scratch; // the floating-point predictor's byte planes
    std::vector<std::vector<std::uint8_t>> Inputs; // compressed bytes of each plane, read for decoding in parts
    std::uint32_t ShownWidth = 0; // pixels converted of each row, when not all (a tile wider than the picture)
};

// The image properties at the tile's size while the tiles are planned and decoded; the
// picture's size comes back when the scope ends.
class TTIFFGraphic::TTileScope {
public:
    explicit TTileScope(TImageProperties& properties)
        : FProperties(properties), FWidth(properties.Width), FHeight(properties.Height),
          FRowsPerStrip(std::move(properties.RowsPerStrip))
    {
        properties.Width = properties.TileWidth;
        properties.Height = properties.TileLength;
        properties.RowsPerStrip = { properties.TileLength };
    }
    ~TTileScope()
    {
        FProperties.Width = FWidth;
        FProperties.Height = FHeight;
        FProperties.RowsPerStrip = std::move(FRowsPerStrip);
    }
    TTileScope(const TTileScope&) = delete;
    TTileScope& operator=(const TTileScope&) = delete;

private:
    TImageProperties& FProperties;
    std::uint32_t FWidth, FHeight;
    std::vector<std::uint32_t> FRowsPerStrip;
};

TTIFFGraphic::TRowPlan TTIFFGraphic::SetUpColors()
{
    const TImageProperties& properties = Properties();
    TColorManager& colors = ColorManager();
    TRowPlan plan;
    plan.Samples = properties.SamplesPerPixel;
    plan.JPEG = properties.Compression == cmpJPEG || properties.Compression == cmpOldJPEG;
    plan.Planar = properties.PlanarConfig == 2 && plan.Samples > 1;
    plan.JPEGBGR = plan.JPEG && !plan.Planar && plan.Samples == 3;

    colors.SetInFlags(properties.Options & optBigEndian ? cfSwapOrder : 0);
    colors.SetOutFlags(0);
    SampleScheme inScheme = properties.ColorScheme;
    SampleScheme outScheme;
    std::uint32_t inSamples = plan.Samples, outSamples = plan.Samples;
    std::uint32_t inBits = properties.BitsPerSample;
    if (plan.JPEGBGR) {
        inScheme = outScheme = schBGR;
        inSamples = outSamples = 3;
        inBits = 8;
    } else {
        const bool grayOrIndexed = inScheme == schGray || inScheme == schIndexed;
        PlanSamples(plan);
        if (plan.Unpack)
            inBits = 8;
        if (plan.WidePalette) { // looked up by the reader itself
            plan.InScheme = plan.OutScheme = schIndexed;
            plan.Layout = TPixelLayout::pl24Bit;
            return plan;
        }
        // The row routines and grey tables exist for these depths only.
        if (grayOrIndexed && inBits != 1 && inBits != 2 && inBits != 4 && inBits != 8 && inBits != 16)
            throw EColorConversionError(SBadColorDepth);
        // Grey or palette with a second (alpha) sample: the second sample is dropped into an
        // 8-bit indexed target. Separate planes just use the first plane.
        if (grayOrIndexed && !plan.Planar && plan.Samples > 2)
            throw EColorConversionError(SBadSampleCount);
        const bool withAlpha = grayOrIndexed && !plan.Planar && plan.Samples == 2;
        switch (inScheme) {
        case schIndexed:
            outScheme = schIndexed;
            break;
        case schGray:
            outScheme = schGray;
            break;
        case schRGB: outScheme = schBGR; break;
        case schRGBA: outScheme = schBGRA; break;
        case schCMY: case schCMYK: case schLab: case schYCbCr: outScheme = schBGR; break;
        default: outScheme = inScheme; break;
        }
        if (withAlpha)
            inScheme = schGrayAlpha;
        if (grayOrIndexed)
            inSamples = outSamples = 1;
        if (inScheme == schCMYK || inScheme == schCMY || inScheme == schLab || inScheme == schYCbCr)
            outSamples = 3; // blue, green, red only: an alpha after YCbCr, say, has no place
        if (inScheme == schLab)
            colors.InFlags() |= cfLightness255;
    }
    colors.SetInSampleBits(std::uint8_t(inBits));
    // 16-bit samples become 8-bit ones; 2-bit indices become 4-bit ones, as the bitmap has no
    // 2-bit layout.
    std::uint32_t outBits = inBits == 16 ? 8 : inBits;
    if (inBits == 2 && (outScheme == schGray || outScheme == schIndexed))
        outBits = 4;
    colors.SetOutSampleBits(std::uint8_t(outBits));
    colors.SetInScheme(inScheme);
    colors.SetOutScheme(outScheme);
    colors.SetInSamples(std::uint8_t(std::min<std::uint32_t>(inSamples, 255)));
    colors.SetOutSamples(std::uint8_t(std::min<std::uint32_t>(outSamples, 255)));
    // The row routine reads this many samples per pixel; a file that has fewer would make it
    // read past the row.
    if (!plan.JPEGBGR && plan.Samples < SchemeSamples(inScheme))
        throw EColorConversionError(SBadSampleCount);
    plan.InScheme = inScheme;
    plan.OutScheme = outScheme;
    plan.Layout = inScheme == schGrayAlpha ? TPixelLayout::pl8Bit : colors.LayoutFor(csTarget);
    return plan;
}

// Which samples go to the colour manager as they are, which are brought to 8 bits first and
// which palette indices the reader looks up itself; anything else is refused.
void TTIFFGraphic::PlanSamples(TRowPlan& plan)
{
    const TImageProperties& properties = Properties();
    const unsigned bits = properties.BitsPerSample;
    TSampleKind kind = TSampleKind::skUnsigned;
    if (FSampleFormat == 2)
        kind = TSampleKind::skSigned;
    else if (FSampleFormat == 3)
        kind = TSampleKind::skFloat;
    else if (FSampleFormat == 5 || FSampleFormat == 6) // complex numbers
        RaiseGraphicError(SInvalidImageFormat, SFormatName);
    const bool plain = kind == TSampleKind::skUnsigned;
    switch (properties.ColorScheme) {
    case schIndexed:
        if (!plain || bits > 16 || plan.Samples != 1)
            RaiseGraphicError(SInvalidImageFormat, SFormatName);
        plan.WidePalette = bits != 1 && bits != 2 && bits != 4 && bits != 8;
        break;
    case schGray:
        plan.Unpack = !plain || (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16);
        break;
    case schRGB: case schRGBA: case schCMYK:
        plan.Unpack = !plain || (bits != 8 && bits != 16);
        break;
    default: // L*a*b* and YCbCr: unsigned samples of the depths the colour manager reads
        if (!plain)
            RaiseGraphicError(SInvalidImageFormat, SFormatName);
        break;
    }
    if ((plan.Unpack || plan.WidePalette) && (plan.JPEG || !TSampleUnpacker::Readable(bits, kind)))
        RaiseGraphicError(SInvalidImageFormat, SFormatName);
    plan.Unpacker = TSampleUnpacker(bits, kind, properties.Options & optBigEndian);
}

// Set before the pixels exist, so that nothing is converted.
void TTIFFGraphic::SetUpColorTable(const TTIFFDirectory& directory, TRowPlan& plan)
{
    const TImageProperties& properties = Properties();
    TColorManager& colors = ColorManager();
    if (plan.WidePalette) {
        // Three planes of N 16-bit values, each reduced as 16-bit samples are.
        plan.Palette.assign(std::size_t(1) << properties.BitsPerSample, {});
        const TTIFFEntry* colorMap = directory.Find(tifftag::ColorMap);
        const std::uint32_t entries = colorMap ? std::min<std::uint32_t>(colorMap->Count / 3, std::uint32_t(plan.Palette.size())) : 0;
        const std::uint32_t planeSize = colorMap ? colorMap->Count / 3 : 0;
        const bool bigEndian = properties.Options & optBigEndian;
        for (unsigned c = 0; c < 3 && entries > 0; ++c) { // blue, green, red from the red, green, blue planes
            const std::vector<std::uint8_t> values = directory.RawShorts(tifftag::ColorMap, (2 - c) * planeSize, entries);
            for (std::uint32_t i = 0; i < entries && values.size() == std::size_t(entries) * 2; ++i)
                plan.Palette[i][c] = std::uint8_t((bigEndian ? values[2 * i] << 8 | values[2 * i + 1] : values[2 * i + 1] << 8 | values[2 * i]) * 255 / 65535);
        }
    } else if (plan.OutScheme == schIndexed || plan.OutScheme == schGray) {
        TColorTable table;
        if (plan.InScheme == schGray || (plan.InScheme == schGrayAlpha && properties.ColorScheme == schGray))
            table = colors.MakeGrayPalette(properties.Options & optMinIsWhite);
        else if (const TTIFFEntry* colorMap = directory.Find(tifftag::ColorMap)) {
            // Three planes of N values; at most 256 entries are used of each.
            const std::uint32_t planeSize = colorMap->Count / 3;
            const std::uint32_t entries = std::min<std::uint32_t>(planeSize, 256);
            if (entries > 0) {
                const std::vector<std::uint8_t> red = directory.RawShorts(tifftag::ColorMap, 0, entries);
                const std::vector<std::uint8_t> green = directory.RawShorts(tifftag::ColorMap, planeSize, entries);
                const std::vector<std::uint8_t> blue = directory.RawShorts(tifftag::ColorMap, 2 * planeSize, entries);
                if (!red.empty() && !green.empty() && !blue.empty())
                    table = colors.MakeRawPalette({ red.data(), green.data(), blue.data() }, rpPlanar16Triple, entries, false);
            }
        }
        if (!table.empty())
            SetColorTable(table);
    } else if (plan.InScheme == schYCbCr) {
        colors.SetLumaWeights(std::span<const float>(FYCbCrCoefficients), properties.YCbCrSubsampling[0],
            properties.YCbCrSubsampling[1]);
    }
}

void TTIFFGraphic::PlanRows(TRowPlan& plan)
{
    TImageProperties& properties = Properties();
    const TColorManager& colors = ColorManager();
    const std::uint32_t width = properties.Width;
    const std::uint32_t bits = properties.BitsPerSample;
    plan.Planes = plan.Planar ? plan.Samples : 1;
    plan.SourceCount = plan.Planar && (plan.InScheme == schGray || plan.InScheme == schIndexed) ? 1 : plan.Planes;
    // At most 64 bits × 4 samples per pixel get here; rows of 2^31 bytes and more are refused
    // below.
    plan.BytesPerLine = plan.JPEGBGR ? std::uint64_t(width) * 3 : (std::uint64_t(bits) * plan.Samples * width + 7) / 8;
    plan.PlaneBytesPerLine = plan.Planar ? (std::uint64_t(bits) * width + 7) / 8 : plan.BytesPerLine;
    properties.BytesPerLine = std::uint32_t(plan.BytesPerLine);

    // Uncompressed, LZW or Deflate YCbCr with chroma subsampling stores blocks of h × v luma
    // samples followed by one Cb and one Cr; they are spread out before conversion.
    const bool yCbCr = plan.InScheme == schYCbCr;
    plan.SubH = yCbCr ? colors.HorizontalSubsampling() : 1;
    plan.SubV = yCbCr ? colors.VerticalSubsampling() : 1;
    plan.Subsampled = yCbCr && !plan.Planar && plan.Samples == 3 && bits == 8 && (plan.SubH > 1 || plan.SubV > 1);
    plan.BlockRowBytes = (std::uint64_t(width) + plan.SubH - 1) / plan.SubH * (plan.SubH * plan.SubV + 2);

    plan.Predictor = properties.Compression != cmpNone && properties.Predictor == 2 && !plan.Subsampled;
    plan.PredictorSamples = plan.Planar ? 1 : plan.Samples;
    plan.RowSamples = width * (plan.Planar ? 1 : plan.Samples);
    // Differencing of whole samples exists for 8, 16, 32 and 64 bits, the floating-point
    // predictor for floats only.
    if (plan.Predictor && (plan.Unpack || plan.WidePalette) && bits != 8 && bits != 16 && bits != 32 && bits != 64)
        RaiseGraphicError(SInvalidImageFormat, SFormatName);
    if (properties.Compression != cmpNone && properties.Predictor == 3 && !plan.JPEG) {
        if (FSampleFormat != 3)
            RaiseGraphicError(SInvalidImageFormat, SFormatName);
        plan.FloatPredictor = true;
        plan.Unpacker.SetBigEndian(true); // the predictor puts the most significant byte first
    }
    // The predictors run over whole samples of a row: a JPEG codec delivering fewer bytes per
    // row than the samples need (wide samples under JPEG) would take them beyond the row.
    const bool predicted = plan.Predictor || plan.FloatPredictor;
    if (plan.BytesPerLine > 0x7FFFFFFF || (predicted && (std::uint64_t(plan.RowSamples) * bits + 7) / 8 > plan.PlaneBytesPerLine))
        RaiseGraphicError(SInvalidImageFormat, SFormatName);
    // Uncompressed RGB rows go straight from the file's bytes.
    plan.RGBRows = !plan.JPEG && !plan.Unpack && !plan.Planar && !plan.Subsampled && plan.Samples == 3 && bits == 8
        && plan.InScheme == schRGB && plan.OutScheme == schBGR && plan.Layout == TPixelLayout::pl24Bit
        && (colors.OutFlags() & cfApplyCurve) == 0;
}

TTIFFGraphic::TStripCodec TTIFFGraphic::ChooseCodec(const TTIFFDirectory& directory, const TRowPlan& plan)
{
    TImageProperties& properties = Properties();
    const std::uint32_t width = properties.Width;
    const bool reversed = properties.Options & optReversedBits;
    const std::uint32_t t4Options = directory.Integer(tifftag::T4Options, 0);
    TStripCodec codec;
    codec.Compression = properties.Compression;
    // The fax codecs write rows of one bit a pixel, ThunderScan rows of four: rows of any
    // other size hold no such picture.
    const bool fax = properties.Compression == cmpFaxT4 || properties.Compression == cmpFaxMH
        || properties.Compression == cmpFaxRLEW;
    const unsigned codecBits = fax ? 1 : properties.Compression == cmpThunderScan ? 4 : 0;
    if (codecBits > 0 && (std::uint64_t(width) * codecBits + 7) / 8 != plan.PlaneBytesPerLine)
        RaiseGraphicError(SInvalidImageFormat, SFormatName);
    switch (properties.Compression) {
    case cmpNone:
        break;
    case cmpPackBits:
        codec.Decoder = std::make_unique<TPackbitsRLEDecoder>();
        break;
    case cmpLZW: {
        auto lzw = std::make_unique<TTIFFLZWDecoder>();
        codec.LZW = lzw.get();
        codec.Decoder = std::move(lzw);
        break;
    }
    case cmpFaxT4:
        if (t4Options & (T4TwoDimensional | T4Uncompressed))
            RaiseGraphicError(SNotSupportedFor, SCompressionScheme, SFormatName);
        codec.Decoder = std::make_unique<TCCITTFax3Decoder>(t4Options, width, false, reversed);
        codec.ReversesBits = true;
        break;
    case cmpFaxMH:
        codec.Decoder = std::make_unique<TCCITTMHDecoder>(t4Options, width, false, reversed);
        codec.ReversesBits = true;
        break;
    case cmpFaxRLEW:
        codec.Decoder = std::make_unique<TCCITTMHDecoder>(t4Options, width, true, reversed);
        codec.ReversesBits = true;
        break;
    case cmpDeflate:
        codec.Decoder = std::make_unique<TLZ77Decoder>(TLZ77Decoder::PartialFlush, true);
        codec.Deflate = true;
        break;
    case cmpJPEG: {
        properties.JPEGTables = directory.ByteArray(tifftag::JPEGTables);
        TTIFFJPEGSettings settings;
        settings.Width = width;
        settings.Height = properties.Height;
        settings.RowsPerStrip = properties.RowsPerStrip[0];
        // Separate planes hold one sample per pixel in each strip.
        settings.BytesPerLine = std::uint32_t(plan.PlaneBytesPerLine);
        settings.SamplesPerPixel = properties.SamplesPerPixel;
        settings.BitsPerSample = properties.BitsPerSample;
        settings.PlanarConfig = properties.PlanarConfig;
        settings.YCbCr = properties.ColorScheme == schYCbCr;
        if (properties.YCbCrSubsampling.size() >= 2) {
            settings.HorizontalSampling = properties.YCbCrSubsampling[0];
            settings.VerticalSampling = properties.YCbCrSubsampling[1];
        }
        settings.JPEGTables = properties.JPEGTables;
        auto jpeg = std::make_unique<TTIFFJPEGDecoder>(std::move(settings));
        codec.JPEG = jpeg.get();
        codec.Decoder = std::move(jpeg);
        break;
    }
    case cmpThunderScan:
        codec.Decoder = std::make_unique<TThunderDecoder>(width);
        break;
    default:
        RaiseGraphicError(SNotSupportedFor, SCompressionScheme, SFormatName);
    }
    codec.Rows = dynamic_cast<TRowsDecoder*>(codec.Decoder.get());
    return codec;
}

const std::uint8_t* TTIFFGraphic::FetchStrip(TStripReader& reader, TStripCodec& codec, std::uint64_t strip,
    std::uint64_t stripBytes, std::vector<std::uint8_t>& buffer)
{
    TImageProperties& properties = Properties();
    properties.CurrentStrip = std::uint32_t(strip);
    if (!codec.Decoder)
        return reader.Raw(strip, 0, stripBytes, buffer);
    const TStripInput data = reader.Compressed(strip);
    // Anything the one-pass inflation refuses (truncated, damaged or of another size) goes
    // through the streaming decoder below.
    if (codec.Deflate && data.Size > 0) {
        buffer.resize(std::size_t(stripBytes));
        if (TLZ77Decoder::DecodeWhole(data.Data, data.Size, buffer.data(), buffer.size()))
            return buffer.data();
    }
    if (codec.LZW) { // writes the whole buffer, zeros after the data
        buffer.resize(std::size_t(stripBytes));
        codec.LZW->DecodeStrip(data.Data, data.Size, buffer.data(), buffer.size());
        return buffer.data();
    }
    buffer.assign(std::size_t(stripBytes), 0);
    if (codec.JPEG)
        codec.JPEG->SetStripPosition(properties.CurrentRow, std::uint32_t(strip), properties.StripCount);
    std::uint8_t* source = data.Data;
    std::uint8_t* dest = buffer.data();
    if (data.Size > 0)
        codec.Decoder->DecodeData(source, dest, data.Size, buffer.size());
    return buffer.data();
}

void TTIFFGraphic::ConvertRows(const TRowPlan& plan, TStripRows& strip, std::uint32_t rows, std::uint8_t* firstRow,
    std::ptrdiff_t rowStep)
{
    TImageProperties& properties = Properties();
    TColorManager& colors = ColorManager();
    const std::uint32_t width = strip.ShownWidth > 0 ? strip.ShownWidth : properties.Width, height = properties.Height;
    if (plan.Subsampled) {
        for (std::uint32_t first = 0; first < rows; first += plan.SubV) {
            ExpandYCbCrBlocks(strip.Rows[0] + std::size_t(first / plan.SubV * plan.BlockRowBytes), strip.Expanded.data(),
                width, plan.SubH, plan.SubV);
            for (std::uint32_t dy = 0; dy < plan.SubV && first + dy < rows; ++dy) {
                colors.TranslateRow(strip.Expanded.data() + dy * std::size_t(plan.BytesPerLine),
                    firstRow + rowStep * std::ptrdiff_t(properties.CurrentRow), width);
                ++properties.CurrentRow;
                ProgressRow(properties.CurrentRow, height);
            }
        }
        return;
    }
    for (std::uint32_t row = 0; row < rows; ++row) {
        std::uint8_t* target = firstRow + rowStep * std::ptrdiff_t(properties.CurrentRow);
        if (plan.RGBRows) {
            RGBToBGRRow(strip.Rows[0] + std::size_t(row) * plan.PlaneBytesPerLine, target, width, plan.Predictor);
            ++properties.CurrentRow;
            ProgressRow(properties.CurrentRow, height);
            continue;
        }
        UndoPredictors(plan, strip, row);
        for (std::uint32_t plane = 0; plane < plan.Planes; ++plane)
            strip.Sources[plane] = strip.Rows[plane] + std::size_t(row) * plan.PlaneBytesPerLine;
        if (plan.WidePalette) {
            plan.Unpacker.ToIndices(strip.Sources[0], strip.Indices.data(), width);
            for (std::uint32_t x = 0; x < width; ++x) {
                const std::uint32_t index = strip.Indices[x];
                const std::array<std::uint8_t, 3> color = index < plan.Palette.size() ? plan.Palette[index] : std::array<std::uint8_t, 3> {};
                std::memcpy(target + std::size_t(x) * 3, color.data(), 3);
            }
            ++properties.CurrentRow;
            ProgressRow(properties.CurrentRow, height);
            continue;
        }
        if (plan.Unpack)
            for (std::size_t plane = 0; plane < plan.SourceCount; ++plane) {
                plan.Unpacker.ToEightBits(strip.Sources[plane], strip.Unpacked[plane].data(), plan.RowSamples);
                strip.Sources[plane] = strip.Unpacked[plane].data();
            }
        colors.TranslateRow(std::span<const std::uint8_t* const>(strip.Sources.data(), plan.SourceCount), target, width);
        ++properties.CurrentRow;
        ProgressRow(properties.CurrentRow, height);
    }
}

void TTIFFGraphic::UndoPredictors(const TRowPlan& plan, TStripRows& strip, std::uint32_t row)
{
    const TImageProperties& properties = Properties();
    const unsigned bits = properties.BitsPerSample;
    const bool bigEndian = properties.Options & optBigEndian;
    if (!plan.Predictor && !plan.FloatPredictor)
        return;
    for (std::uint32_t plane = 0; plane < plan.Planes; ++plane) {
        std::uint8_t* data = strip.Buffers[plane].data() + std::size_t(row) * plan.PlaneBytesPerLine;
        if (plan.FloatPredictor)
            UndoFloatPredictor(data, plan.RowSamples, plan.PredictorSamples, bits / 8, strip.Scratch);
        else if (bits >= 32)
            UndoWidePredictor(data, plan.RowSamples, plan.PredictorSamples, bits / 8, bigEndian);
        else
            UndoPredictor(data, std::size_t(plan.PlaneBytesPerLine), properties.Width, plan.PredictorSamples, bits, bigEndian);
    }
}

// An uncompressed strip is read in parts of about RawPartBytes (at least a row), so that no
// buffer grows with the picture when the rows cannot be used where they lie.
void TTIFFGraphic::DecodeRawStrip(const TRowPlan& plan, TStripReader& reader, TStripRows& strip, std::uint64_t stripRow,
    std::uint64_t stripsPerPlane, std::uint32_t rows, std::uint8_t* firstRow, std::ptrdiff_t rowStep)
{
    Properties().CurrentStrip = std::uint32_t(stripRow);
    const std::uint32_t part = plan.Subsampled ? PartRows(plan.BlockRowBytes, plan.SubV, rows)
                                               : PartRows(plan.PlaneBytesPerLine, 1, rows);
    for (std::uint32_t first = 0; first < rows; first += part) {
        const std::uint32_t count = std::min(part, rows - first);
        const std::uint64_t bytes = plan.StripBytes(count);
        for (std::uint32_t plane = 0; plane < plan.Planes; ++plane) {
            const std::uint64_t number = plane * stripsPerPlane + stripRow;
            std::vector<std::uint8_t>& buffer = strip.Buffers[plane];
            if (number >= reader.Count()) { // a plane without data stays zero
                buffer.assign(std::size_t(bytes), 0);
                strip.Rows[plane] = buffer.data();
                continue;
            }
            // Parts start at whole block rows: the bytes before them are those of first rows.
            strip.Rows[plane] = reader.Raw(number, plan.StripBytes(first), bytes, buffer);
        }
        ConvertRows(plan, strip, count, firstRow, rowStep);
    }
}

namespace {

// The most bytes a codec can make of stored bytes: stored × Ratio + Slack; false for codecs
// without such a certain bound.
struct TExpansion {
    std::uint64_t Ratio = 0, Slack = 0;
    std::uint64_t Most(std::uint64_t stored) const { return stored * Ratio + Slack; }
};

bool CodecExpansion(CompressionKind compression, TExpansion& expansion)
{
    switch (compression) {
    case cmpNone: expansion = { 1, 0 }; return true;
    case cmpPackBits: expansion = { 64, 0 }; return true; // a run of 128 bytes in two
    case cmpLZW: expansion = { 3641, 4096 }; return true; // at most 4096 bytes per code of 9 bits or more
    case cmpDeflate: expansion = { 1032, 1032 }; return true; // 258 bytes per match in two bits at best
    default: return false;
    }
}

} // namespace

// A file whose strips cannot hold the rows it declares is refused before the store exists:
// an uncompressed strip holds its bytes, a compressed one at most what its codec can make of
// its bytes. Where a codec has no such certain bound, only a file without strips is refused.
void TTIFFGraphic::CheckStripData(const TStripReader& reader, const TRowPlan& plan)
{
    const TImageProperties& properties = Properties();
    if (reader.Count() == 0)
        RaiseGraphicError(SInvalidImageFormat, SFormatName);
    TExpansion expansion;
    if (!CodecExpansion(properties.Compression, expansion))
        return;
    const std::uint32_t height = properties.Height, firstRows = properties.RowsPerStrip[0];
    const std::uint64_t stripsPerPlane = plan.Planar ? (std::uint64_t(height) + firstRows - 1) / firstRows : reader.Count();
    std::uint64_t needed = 0, held = 0;
    std::uint32_t row = 0;
    for (std::uint64_t stripRow = 0; stripRow < stripsPerPlane && row < height; ++stripRow) {
        const std::size_t rowsIndex = std::min<std::size_t>(stripRow, properties.RowsPerStrip.size() - 1);
        const std::uint32_t rows = std::min(properties.RowsPerStrip[rowsIndex], height - row);
        const std::uint64_t bytes = plan.StripBytes(rows);
        for (std::uint32_t plane = 0; plane < plan.Planes; ++plane) {
            const std::uint64_t number = plane * stripsPerPlane + stripRow;
            needed += bytes;
            if (number < reader.Count())
                held += std::min(bytes, expansion.Most(reader.Stored(number)));
        }
        row += rows;
    }
    if (row < height || held < needed)
        RaiseGraphicError(SInvalidImageFormat, SFormatName);
}

// A compressed strip (or tile) of more than PartedStripBytes, such as a large picture in one
// strip, is decoded in parts of about RawPartBytes, one decoder per plane carrying its state
// from part to part, and converted part by part, so that no buffer grows with the picture.
// The rows are those the whole-strip decoding would give.
void TTIFFGraphic::DecodeStripInParts(const TRowPlan& plan, TStripReader& reader, const TStripCodec& codec,
    TStripRows& strip, std::uint64_t stripRow, std::uint64_t stripsPerPlane, std::uint32_t rows, std::uint8_t* firstRow,
    std::ptrdiff_t rowStep)
{
    Properties().CurrentStrip = std::uint32_t(stripRow);
    std::vector<std::unique_ptr<TPartDecoder>> decoders(plan.Planes);
    strip.Inputs.resize(plan.Planes);
    for (std::uint32_t plane = 0; plane < plan.Planes; ++plane) {
        const std::uint64_t number = plane * stripsPerPlane + stripRow;
        if (number >= reader.Count())
            continue; // a plane without data stays zero, as does an empty strip
        const TStripInput data = reader.Compressed(number, &strip.Inputs[plane]);
        if (data.Size > 0)
            decoders[plane] = codec.PartDecoder(data, plan.StripBytes(rows), plane, std::uint32_t(number),
                Properties().CurrentRow, Properties().StripCount);
    }
    const std::uint32_t part = plan.Subsampled ? PartRows(plan.BlockRowBytes, plan.SubV, rows)
                                               : PartRows(plan.PlaneBytesPerLine, 1, rows);
    for (std::uint32_t first = 0; first < rows; first += part) {
        const std::uint32_t count = std::min(part, rows - first);
        const std::size_t bytes = std::size_t(plan.StripBytes(count));
        for (std::uint32_t plane = 0; plane < plan.Planes; ++plane) {
            std::vector<std::uint8_t>& buffer = strip.Buffers[plane];
            buffer.resize(bytes);
            if (decoders[plane])
                decoders[plane]->DecodePart(buffer.data(), bytes);
            else
                std::memset(buffer.data(), 0, bytes);
            strip.Rows[plane] = buffer.data();
        }
        ConvertRows(plan, strip, count, firstRow, rowStep);
    }
}

bool TTIFFGraphic::DecodedInParts(const TRowPlan& plan, const TStripCodec& codec, std::uint32_t rows) const
{
    return codec.DecodesInParts(plan.Planes)
        && plan.StripBytes(rows) * plan.Planes > PartedStripBytes.load(std::memory_order_relaxed);
}

void TTIFFGraphic::SetStripPartsForTesting(std::uint64_t partedStripBytes, std::uint64_t partBytes)
{
    PartedStripBytes.store(partedStripBytes, std::memory_order_relaxed);
    RawPartBytes.store(partBytes, std::memory_order_relaxed);
}

void TTIFFGraphic::DecodeStripRows(const TRowPlan& plan, TStripReader& reader, TStripCodec& codec)
{
    TImageProperties& properties = Properties();
    const std::uint32_t height = properties.Height;
    std::uint8_t* const firstRow = RowAddress(0);
    const std::ptrdiff_t rowStep = height > 1 ? RowAddress(1) - firstRow : 0;
    const std::uint32_t firstRows = properties.RowsPerStrip[0];
    const std::uint64_t stripsPerPlane = plan.Planar ? (std::uint64_t(height) + firstRows - 1) / firstRows : reader.Count();
    properties.StripCount = std::uint32_t(reader.Count());
    properties.CurrentRow = 0;
    properties.CurrentStrip = 0;
    TStripRows strip(plan);
    for (std::uint64_t stripRow = 0; stripRow < stripsPerPlane && properties.CurrentRow < height; ++stripRow) {
        const std::size_t rowsIndex = std::min<std::size_t>(stripRow, properties.RowsPerStrip.size() - 1);
        const std::uint32_t rows = std::min(properties.RowsPerStrip[rowsIndex], height - properties.CurrentRow);
        if (!codec.Decoder) {
            DecodeRawStrip(plan, reader, strip, stripRow, stripsPerPlane, rows, firstRow, rowStep);
            continue;
        }
        const std::uint64_t stripBytes = plan.StripBytes(rows);
        if (DecodedInParts(plan, codec, rows)) {
            DecodeStripInParts(plan, reader, codec, strip, stripRow, stripsPerPlane, rows, firstRow, rowStep);
            continue;
        }
        for (std::uint32_t plane = 0; plane < plan.Planes; ++plane) {
            const std::uint64_t number = plane * stripsPerPlane + stripRow;
            std::vector<std::uint8_t>& buffer = strip.Buffers[plane];
            if (number >= reader.Count()) { // a plane without data stays zero
                buffer.assign(std::size_t(stripBytes), 0);
                strip.Rows[plane] = buffer.data();
                continue;
            }
            strip.Rows[plane] = FetchStrip(reader, codec, number, stripBytes, buffer);
        }
        ConvertRows(plan, strip, rows, firstRow, rowStep);
    }
}

void TTIFFGraphic::DecodeStrips(TStream& stream, const TTIFFDirectory& directory)
{
    TImageProperties& properties = Properties();
    // Tiles are located by the tile tags; older files put them under the strip tags.
    const bool tiled = properties.Options & optTiled;
    const bool tileTags = tiled && directory.Has(tifftag::TileOffsets);
    TStripReader reader(stream, FBasePosition, directory.IntegerArray(tileTags ? tifftag::TileOffsets : tifftag::StripOffsets),
        directory.IntegerArray(tileTags ? tifftag::TileByteCounts : tifftag::StripByteCounts));
    TRowPlan plan = SetUpColors();
    const std::uint32_t width = properties.Width, height = properties.Height;
    if (std::uint64_t(width) * height > MaxImagePixels)
        RaiseGraphicError(SInvalidImageFormat, SFormatName);
    SetPixelLayout(plan.Layout);
    SetUpColorTable(directory, plan);
    // A tile is decoded as a strip of one tile: rows and codec are planned at the tile's size.
    std::optional<TTileScope> tileScope;
    if (tiled) {
        CheckTileSize(properties.TileWidth, properties.TileLength);
        tileScope.emplace(properties);
    }
    PlanRows(plan);
    TStripCodec codec = ChooseCodec(directory, plan);
    if (tiled)
        CheckTileData(reader, plan, width, height);
    else
        CheckStripData(reader, plan);
    properties.CurrentRow = 0;
    std::uint32_t tileRowsDone = 0;
    const bool unsetStore = MakeStore(width, height);
    // Rows an error or a lack of strips leaves unwritten get the fill of a new size.
    struct TFillRest {
        TTIFFGraphic& Graphic;
        const std::uint32_t& Row;
        bool Active;
        ~TFillRest()
        {
            if (Active)
                try {
                    Graphic.FillRowsFrom(Row);
                } catch (...) { // an error already on its way is the one to report
                }
        }
    } fillRest { *this, tiled ? tileRowsDone : properties.CurrentRow, unsetStore };
    FProgressRect.Right = std::int32_t(width);
    // Bits stored in reversed order (FillOrder 2) are put right before decoding, unless the
    // codec does it; the fax codecs rewrite their input, so it is never used in place.
    reader.SetReading(properties.Options & optReversedBits && !codec.ReversesBits, !codec.ReversesBits);
    if (codec.Decoder)
        codec.Decoder->BeginDecoding();
    try {
        ProgressEnd();
        ProgressStart(STransfering);
        if (tiled)
            DecodeTileRows(plan, reader, codec, width, height, tileRowsDone);
        else
            DecodeStripRows(plan, reader, codec);
    } catch (...) {
        ProgressEnd();
        if (codec.Decoder)
            try {
                codec.Decoder->EndDecoding();
            } catch (...) { // the first error is the one to report
            }
        throw;
    }
    ProgressEnd();
    if (codec.Decoder)
        codec.Decoder->EndDecoding();
}

// ---------------------------------------------------------------------------------------
// Tiles: each tile goes through the strip steps as a strip of one tile (the whole tile,
// edge tiles included, as the file stores it) into a buffer of one tile of converted rows;
// the part inside the picture is copied into the bitmap.

namespace {

// Tiles past the right and bottom edges pad the picture; all tiles together may cover at most
// twice the picture plus this many pixels, so that a small file cannot ask for endless work.
constexpr std::uint64_t TilePaddingPixels = std::uint64_t(1) << 26;

std::uint64_t TilesFor(std::uint32_t size, std::uint32_t tileSize) { return (std::uint64_t(size) + tileSize - 1) / tileSize; }

// count bits from bit first of a row of the bitmap's layout (leftmost pixel in the most
// significant bit) to bit target of another row.
void CopyBits(const std::uint8_t* source, std::uint8_t* target, std::uint64_t targetBit, std::uint64_t count)
{
    if (targetBit % 8 == 0) {
        std::memcpy(target + targetBit / 8, source, std::size_t((count + 7) / 8));
        return;
    }
    for (std::uint64_t bit = 0; bit < count; ++bit) {
        const std::uint64_t to = targetBit + bit;
        const std::uint8_t mask = std::uint8_t(0x80 >> to % 8);
        if (source[bit / 8] & (0x80 >> bit % 8))
            target[to / 8] |= mask;
        else
            target[to / 8] &= std::uint8_t(~mask);
    }
}

} // namespace

void TTIFFGraphic::CheckTileSize(std::uint32_t tileWidth, std::uint32_t tileLength) const
{
    const TImageProperties& properties = Properties();
    if (tileWidth == 0 || tileLength == 0)
        RaiseGraphicError(SInvalidImageFormat, SFormatName);
    const std::uint64_t coveredWidth = TilesFor(properties.Width, tileWidth) * tileWidth;
    const std::uint64_t coveredHeight = TilesFor(properties.Height, tileLength) * tileLength;
    const std::uint64_t limit = 2 * std::uint64_t(properties.Width) * properties.Height + TilePaddingPixels;
    if (coveredWidth > limit / coveredHeight)
        RaiseGraphicError(SInvalidImageFormat, SFormatName);
}

// Every tile needs its offset and byte count, one per tile (per plane with separate planes),
// and must be able to hold a whole tile: its bytes when uncompressed, at most what its codec
// can make of them otherwise.
void TTIFFGraphic::CheckTileData(const TStripReader& reader, const TRowPlan& plan, std::uint32_t width, std::uint32_t height)
{
    const TImageProperties& properties = Properties();
    const std::uint64_t tiles = TilesFor(width, properties.Width) * TilesFor(height, properties.Height) * plan.Planes;
    if (reader.Count() != tiles || reader.ByteCountCount() != tiles)
        RaiseGraphicError(SInvalidImageFormat, SFormatName);
    TExpansion expansion;
    if (!CodecExpansion(properties.Compression, expansion))
        return;
    const std::uint64_t tileBytes = plan.StripBytes(properties.Height);
    for (std::uint64_t tile = 0; tile < tiles; ++tile)
        if (expansion.Most(reader.Stored(tile)) < tileBytes)
            RaiseGraphicError(SInvalidImageFormat, SFormatName);
}

void TTIFFGraphic::DecodeTileRows(const TRowPlan& plan, TStripReader& reader, TStripCodec& codec, std::uint32_t width,
    std::uint32_t height, std::uint32_t& doneRows)
{
    TImageProperties& properties = Properties();
    const std::uint32_t tileWidth = properties.Width, tileLength = properties.Height;
    const std::uint64_t across = TilesFor(width, tileWidth), down = TilesFor(height, tileLength);
    const std::uint64_t tilesPerPlane = across * down;
    const unsigned bits = Header().BitsPerPixel;
    const std::size_t tileRowBytes = std::size_t((std::uint64_t(tileWidth) * bits + 7) / 8);
    // One column of tiles is converted straight into the picture's rows (the pixels inside it),
    // else each tile into a tile of converted rows first.
    const bool direct = across == 1;
    std::vector<std::uint8_t> converted(direct ? 0 : tileRowBytes * tileLength);
    std::uint8_t* const firstRow = RowAddress(0);
    const std::ptrdiff_t rowStep = height > 1 ? RowAddress(1) - firstRow : 0;
    properties.StripCount = std::uint32_t(reader.Count());
    TStripRows strip(plan);
    strip.ShownWidth = direct ? width : 0;
    for (std::uint64_t tileRow = 0; tileRow < down; ++tileRow) {
        const std::uint32_t top = std::uint32_t(tileRow * tileLength);
        const std::uint32_t rows = std::min(tileLength, height - top);
        {
            // The row steps of a tile's conversion are not the picture's: they are reported
            // below, once the whole band of tiles is in place.
            struct TQuiet {
                TTIFFGraphic& Graphic;
                TProgressEvent Event;
                TRect Rect;
                ~TQuiet()
                {
                    Graphic.OnProgress = std::move(Event);
                    Graphic.FProgressRect = Rect;
                }
            } quiet { *this, std::move(OnProgress), FProgressRect };
            OnProgress = nullptr;
            for (std::uint64_t tileColumn = 0; tileColumn < across; ++tileColumn) {
                const std::uint64_t tile = tileRow * across + tileColumn;
                if (direct) {
                    DecodeTile(plan, reader, codec, strip, tile, tilesPerPlane, rows, firstRow + rowStep * std::ptrdiff_t(top),
                        rowStep);
                    continue;
                }
                DecodeTile(plan, reader, codec, strip, tile, tilesPerPlane, tileLength, converted.data(),
                    std::ptrdiff_t(tileRowBytes));
                const std::uint64_t left = tileColumn * tileWidth;
                const std::uint64_t count = std::min<std::uint64_t>(tileWidth, width - left);
                for (std::uint32_t row = 0; row < rows; ++row)
                    CopyBits(converted.data() + row * tileRowBytes, firstRow + rowStep * std::ptrdiff_t(top + row),
                        left * bits, count * bits);
            }
        }
        doneRows = top + rows;
        for (std::uint32_t row = top; row < doneRows; ++row)
            ProgressRow(row + 1, height);
    }
}

// The first rows rows of one tile, converted to firstRow on.
void TTIFFGraphic::DecodeTile(const TRowPlan& plan, TStripReader& reader, TStripCodec& codec, TStripRows& strip,
    std::uint64_t tile, std::uint64_t tilesPerPlane, std::uint32_t rows, std::uint8_t* firstRow, std::ptrdiff_t rowStep)
{
    TImageProperties& properties = Properties();
    const std::uint32_t tileLength = properties.Height;
    properties.CurrentRow = 0;
    if (!codec.Decoder) {
        DecodeRawStrip(plan, reader, strip, tile, tilesPerPlane, rows, firstRow, rowStep);
    } else if (DecodedInParts(plan, codec, tileLength)) {
        DecodeStripInParts(plan, reader, codec, strip, tile, tilesPerPlane, rows, firstRow, rowStep);
    } else {
        for (std::uint32_t plane = 0; plane < plan.Planes; ++plane)
            strip.Rows[plane]
                = FetchStrip(reader, codec, plane * tilesPerPlane + tile, plan.StripBytes(tileLength), strip.Buffers[plane]);
        ConvertRows(plan, strip, rows, firstRow, rowStep);
    }
}
