#include "tests/imaging/tiffexpected.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tifftest {

namespace {

__extension__ typedef unsigned __int128 TWide;

// Bits of a row, most significant first; samples of whole bytes are copied byte by byte this
// way too, so machine order is kept.
std::uint64_t GetBits(const std::uint8_t* row, std::size_t first, unsigned count)
{
    std::uint64_t value = 0;
    for (std::size_t bit = first; bit < first + count; ++bit)
        value = value << 1 | (row[bit / 8] >> (7 - bit % 8) & 1);
    return value;
}

void PutBits(std::uint8_t* row, std::size_t first, unsigned count, std::uint64_t value)
{
    for (unsigned i = 0; i < count; ++i) {
        const std::size_t bit = first + i;
        const unsigned set = unsigned(value >> (count - 1 - i) & 1);
        row[bit / 8] = std::uint8_t((row[bit / 8] & ~(0x80 >> bit % 8)) | set << (7 - bit % 8));
    }
}

// Rows of separate planes (planeRowBytes each, plane after plane) into interleaved rows.
TBytes Interleave(const TDecoded& d, const TBytes& planes, std::size_t planeRowBytes, std::size_t rowBytes)
{
    TBytes rows(rowBytes * d.Height);
    const unsigned bits = d.BitsPerSample, count = d.SamplesPerPixel;
    for (std::uint32_t y = 0; y < d.Height; ++y)
        for (unsigned plane = 0; plane < count; ++plane) {
            const std::uint8_t* source = planes.data() + (std::size_t(plane) * d.Height + y) * planeRowBytes;
            for (std::uint32_t x = 0; x < d.Width; ++x)
                PutBits(rows.data() + y * rowBytes, (std::size_t(x) * count + plane) * bits, bits,
                    GetBits(source, std::size_t(x) * bits, bits));
        }
    return rows;
}

// The tiles of a tiled file put together into rows (plane after plane with separate planes),
// each tile cropped to the picture. False when libtiff fails on a tile or hands out tiles
// that are not whole rows of samples (subsampled YCbCr blocks).
bool ReadTiles(TIFF* tif, const TDecoded& d, TBytes& planes, std::size_t& planeRowBytes)
{
    const bool planar = d.PlanarConfig == PLANARCONFIG_SEPARATE && d.SamplesPerPixel > 1;
    const unsigned count = planar ? d.SamplesPerPixel : 1;
    const std::size_t pixelBits = std::size_t(d.BitsPerSample) * (planar ? 1 : d.SamplesPerPixel);
    const tmsize_t tileSize = TIFFTileSize(tif);
    const std::size_t tileRowBytes = (d.TileWidth * pixelBits + 7) / 8;
    if (d.TileLength == 0 || tileSize <= 0 || std::size_t(tileSize) != tileRowBytes * d.TileLength)
        return false;
    planeRowBytes = (d.Width * pixelBits + 7) / 8;
    planes.assign(planeRowBytes * d.Height * count, 0);
    TBytes tile(static_cast<std::size_t>(tileSize));
    for (unsigned plane = 0; plane < count; ++plane)
        for (std::uint32_t y = 0; y < d.Height; y += d.TileLength)
            for (std::uint32_t x = 0; x < d.Width; x += d.TileWidth) {
                if (TIFFReadEncodedTile(tif, TIFFComputeTile(tif, x, y, 0, tsample_t(plane)), tile.data(), tileSize) != tileSize)
                    return false;
                const std::uint32_t rows = std::min(d.TileLength, d.Height - y), columns = std::min(d.TileWidth, d.Width - x);
                for (std::uint32_t row = 0; row < rows; ++row)
                    CopyBits(tile.data() + row * tileRowBytes, 0,
                        planes.data() + (std::size_t(plane) * d.Height + y + row) * planeRowBytes, x * pixelBits, columns * pixelBits);
            }
    return true;
}

} // namespace

std::optional<TDecoded> ReadWithLibTiff(const TBytes& bytes)
{
    QuietLibTiff();
    const TTiffInMemory file(bytes);
    TIFF* tif = file.Tiff();
    if (!tif)
        return std::nullopt;
    TDecoded d;
    static_cast<TTiffPlan&>(d) = ReadPlan(tif);
    std::uint16_t compression = 0, photometric = 0;
    d.HasCompressionTag = TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression) == 1;
    if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) != 1)
        d.Photometric = 0;
    if (d.LumaWeights.empty())
        d.LumaWeights = { 0.299f, 0.587f, 0.114f };
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &d.InkSet);
    d.HasAlpha = !d.ExtraSamples.empty()
        && std::all_of(d.ExtraSamples.begin(), d.ExtraSamples.end(), [](std::uint16_t v) { return v <= 2; });
    if (d.Compression == COMPRESSION_JPEG && d.Photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    d.SampleRowBytes = RowBytes(d);
    const bool sane = d.Width > 0 && d.Height > 0 && std::uint64_t(d.Width) * d.Height <= (1u << 24)
        && d.BitsPerSample <= 64;
    if (!sane)
        return d;
    if (TIFFIsTiled(tif)) {
        TBytes planes;
        std::size_t planeRowBytes = 0;
        if (!ReadTiles(tif, d, planes, planeRowBytes))
            return d;
        const bool planar = d.PlanarConfig == PLANARCONFIG_SEPARATE && d.SamplesPerPixel > 1;
        d.SampleRowBytes = planar ? RowBytes(d) : planeRowBytes;
        d.Samples = planar ? Interleave(d, planes, planeRowBytes, d.SampleRowBytes) : std::move(planes);
        return d;
    }
    std::uint32_t rowsPerStrip = d.Height;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::min(std::max(rowsPerStrip, 1u), d.Height);
    // The JPEG colour mode changes the strip size, so ask libtiff for it.
    const tmsize_t stripSize = TIFFStripSize(tif);
    std::size_t rowBytes = stripSize > 0 ? std::size_t(stripSize) / rowsPerStrip : 0;
    TBytes samples(rowBytes * d.Height);
    bool ok = rowBytes > 0 && TIFFNumberOfStrips(tif) >= (d.Height + rowsPerStrip - 1) / rowsPerStrip;
    for (std::uint32_t row = 0, strip = 0; ok && row < d.Height; row += rowsPerStrip, ++strip) {
        const std::size_t want = std::min(rowsPerStrip, d.Height - row) * rowBytes;
        ok = TIFFReadEncodedStrip(tif, strip, samples.data() + row * rowBytes, tmsize_t(want)) == tmsize_t(want);
    }
    if (ok && d.PlanarConfig == PLANARCONFIG_SEPARATE && d.SamplesPerPixel > 1) {
        // The first plane is in place; the others follow, then everything is interleaved.
        const std::size_t planeBytes = rowBytes * d.Height;
        TBytes planes(planeBytes * d.SamplesPerPixel);
        std::copy(samples.begin(), samples.end(), planes.begin());
        const std::uint32_t stripsPerPlane = (d.Height + rowsPerStrip - 1) / rowsPerStrip;
        for (unsigned plane = 1; ok && plane < d.SamplesPerPixel; ++plane)
            for (std::uint32_t row = 0, strip = 0; ok && row < d.Height; row += rowsPerStrip, ++strip) {
                const std::size_t want = std::min(rowsPerStrip, d.Height - row) * rowBytes;
                ok = TIFFReadEncodedStrip(tif, plane * stripsPerPlane + strip,
                         planes.data() + plane * planeBytes + row * rowBytes, tmsize_t(want)) == tmsize_t(want);
            }
        const std::size_t planeRowBytes = rowBytes;
        rowBytes = RowBytes(d);
        samples = Interleave(d, planes, planeRowBytes, rowBytes);
    }
    if (ok) {
        d.Samples = std::move(samples);
        d.SampleRowBytes = rowBytes;
    }
    return d;
}

namespace {

std::uint8_t Clamp255(long long v) { return std::uint8_t(std::clamp<long long>(v, 0, 255)); }

// A raw sample: whole bytes from 16 bits up in machine order, smaller depths as bits.
std::uint64_t Sample(const TDecoded& d, std::uint32_t x, std::uint32_t y, unsigned s)
{
    const std::uint8_t* row = d.Samples.data() + std::size_t(y) * d.SampleRowBytes;
    const unsigned bits = d.BitsPerSample;
    const std::size_t index = std::size_t(x) * d.SamplesPerPixel + s;
    if (bits % 8 == 0 && bits >= 16) {
        std::uint64_t v = 0;
        std::memcpy(&v, row + index * (bits / 8), bits / 8); // a little-endian machine
        return v;
    }
    return GetBits(row, index * bits, bits);
}

// Depths and kinds the colour manager does not read are brought to 8 bits by the reader.
bool Reduced(const TDecoded& d)
{
    const unsigned bits = d.BitsPerSample;
    return d.SampleFormat == SAMPLEFORMAT_INT || d.SampleFormat == SAMPLEFORMAT_IEEEFP || (bits != 8 && bits != 16);
}

// A sample on the 8-bit scale: unsigned n-bit v as v × 255 ÷ (2^n − 1) cut off, signed ones
// moved up by 2^(n−1) first, floats 0.0–1.0 rounded and clamped.
std::uint8_t To8(const TDecoded& d, std::uint64_t v)
{
    const unsigned bits = d.BitsPerSample;
    if (d.SampleFormat == SAMPLEFORMAT_IEEEFP) {
        double f = 0;
        if (bits == 16) {
            const int e = int(v >> 10 & 31);
            const double m = double(v & 1023);
            f = e == 0 ? std::ldexp(m, -24) : e == 31 ? (m == 0 ? HUGE_VAL : NAN) : std::ldexp(1024 + m, e - 25);
            if (v & 0x8000)
                f = -f;
        } else if (bits == 32) {
            float single;
            const std::uint32_t word = std::uint32_t(v);
            std::memcpy(&single, &word, 4);
            f = single;
        } else {
            std::memcpy(&f, &v, 8);
        }
        return std::isnan(f) ? 0 : std::uint8_t(std::lround(std::clamp(f, 0.0, 1.0) * 255));
    }
    const std::uint64_t top = bits == 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << bits) - 1;
    if (d.SampleFormat == SAMPLEFORMAT_INT)
        v = (v + (std::uint64_t(1) << (bits - 1))) & top;
    return std::uint8_t(TWide(v) * 255 / top);
}

// The grey level a value of the given depth ends up with: the indexed rescale (2 bits into
// 4) followed by the grey table of the target depth.
std::uint8_t GrayLevel(unsigned bits, std::uint32_t v, bool minIsWhite)
{
    unsigned outBits = bits == 2 ? 4 : bits == 16 ? 8 : bits;
    std::uint32_t index = bits == 16 ? Reduce16(v) : bits == 2 ? v * 15 / 3 : v;
    const std::uint32_t n = 1u << outBits;
    const std::uint32_t step = 255 / (n - 1);
    if (minIsWhite)
        index = n - 1 - index;
    return std::uint8_t(index * step);
}

// (255 − X)(255 − K) / 255 for 8 bits; the 16-bit form reduces to 8 bits at the end.
std::uint8_t Ink(unsigned bits, std::uint32_t v, std::uint32_t k)
{
    if (bits == 16) {
        const std::uint64_t m = std::uint64_t(v) * k / 65535;
        return Clamp255(255 - (long long)((v + k - m) * 255 / 65535));
    }
    return Clamp255((long long)(v * k / 255) - v - k + 255);
}

} // namespace

std::vector<std::optional<TBGRA>> ExpectedColors(const TDecoded& d, const TPinnedColour& pinned)
{
    std::vector<std::optional<TBGRA>> out(std::size_t(d.Width) * d.Height);
    const bool jpeg = d.Compression == COMPRESSION_JPEG;
    for (std::uint32_t y = 0; y < d.Height; ++y)
        for (std::uint32_t x = 0; x < d.Width; ++x) {
            std::optional<TBGRA>& c = out[std::size_t(y) * d.Width + x];
            auto s = [&](unsigned i) { return Sample(d, x, y, i); };
            if (jpeg && d.SamplesPerPixel == 3) { // libtiff hands out RGB
                c = TBGRA { std::uint8_t(s(2)), std::uint8_t(s(1)), std::uint8_t(s(0)), 0 };
                continue;
            }
            switch (d.Photometric) {
            case PHOTOMETRIC_MINISWHITE:
            case PHOTOMETRIC_MINISBLACK: {
                const bool minIsWhite = d.Photometric == PHOTOMETRIC_MINISWHITE;
                const unsigned bits = d.BitsPerSample;
                const bool table = d.SampleFormat != SAMPLEFORMAT_INT && d.SampleFormat != SAMPLEFORMAT_IEEEFP
                    && (bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16);
                const std::uint8_t g = table ? GrayLevel(bits, std::uint32_t(s(0)), minIsWhite) : GrayLevel(8, To8(d, s(0)), minIsWhite);
                c = TBGRA { g, g, g, 0 };
                break;
            }
            case PHOTOMETRIC_PALETTE: {
                const std::uint64_t i = s(0);
                const std::size_t n = d.ColorMap.size() / 3; // red, green and blue planes
                c = i < n ? TBGRA { Reduce16(d.ColorMap[2 * n + i]), Reduce16(d.ColorMap[n + i]), Reduce16(d.ColorMap[i]), 0 }
                          : TBGRA {};
                break;
            }
            case PHOTOMETRIC_RGB:
                c = TBGRA { To8(d, s(2)), To8(d, s(1)), To8(d, s(0)), d.SamplesPerPixel >= 4 ? To8(d, s(3)) : std::uint8_t(0) };
                break;
            case PHOTOMETRIC_SEPARATED:
                if (Reduced(d)) {
                    const auto ink = [&](unsigned i) { return Ink(8, To8(d, s(i)), To8(d, s(3))); };
                    c = TBGRA { ink(2), ink(1), ink(0), 0 };
                } else {
                    c = TBGRA { Ink(d.BitsPerSample, std::uint32_t(s(2)), std::uint32_t(s(3))),
                        Ink(d.BitsPerSample, std::uint32_t(s(1)), std::uint32_t(s(3))),
                        Ink(d.BitsPerSample, std::uint32_t(s(0)), std::uint32_t(s(3))), 0 };
                }
                break;
            case PHOTOMETRIC_CIELAB:
            case PHOTOMETRIC_YCBCR:
                c = pinned(d, { To8(d, s(0)), To8(d, s(1)), To8(d, s(2)) });
                break;
            default:
                c = TBGRA {};
                break;
            }
        }
    return out;
}

} // namespace tifftest
