#include "tests/imaging/tiffexpected.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>

namespace tifftest {

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
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &d.SampleFormat);
    d.HasAlpha = !d.ExtraSamples.empty()
        && std::all_of(d.ExtraSamples.begin(), d.ExtraSamples.end(), [](std::uint16_t v) { return v <= 2; });
    if (d.Compression == COMPRESSION_JPEG && d.Photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    d.SampleRowBytes = RowBytes(d);
    const bool sane = d.TileWidth == 0 && d.Width > 0 && d.Height > 0 && std::uint64_t(d.Width) * d.Height <= (1u << 24)
        && (d.PlanarConfig == PLANARCONFIG_CONTIG || d.BitsPerSample == 8 || d.BitsPerSample == 16) && d.BitsPerSample <= 16;
    if (!sane)
        return d;
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
        const std::size_t sampleBytes = d.BitsPerSample / 8;
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
        samples.assign(planes.size(), 0);
        const std::size_t pixels = std::size_t(d.Width) * d.Height;
        for (std::size_t pixel = 0; pixel < pixels; ++pixel)
            for (unsigned plane = 0; plane < d.SamplesPerPixel; ++plane)
                std::memcpy(samples.data() + (pixel * d.SamplesPerPixel + plane) * sampleBytes,
                    planes.data() + plane * planeBytes + pixel * sampleBytes, sampleBytes);
        rowBytes *= d.SamplesPerPixel;
    }
    if (ok) {
        d.Samples = std::move(samples);
        d.SampleRowBytes = rowBytes;
    }
    return d;
}

namespace {

std::uint8_t Clamp255(long long v) { return std::uint8_t(std::clamp<long long>(v, 0, 255)); }

std::uint32_t Sample(const TDecoded& d, std::uint32_t x, std::uint32_t y, unsigned s)
{
    const std::uint8_t* row = d.Samples.data() + std::size_t(y) * d.SampleRowBytes;
    const unsigned bits = d.BitsPerSample;
    const std::size_t index = std::size_t(x) * d.SamplesPerPixel + s;
    if (bits == 8)
        return row[index];
    if (bits == 16) {
        std::uint16_t v;
        std::memcpy(&v, row + index * 2, 2);
        return v;
    }
    const std::size_t bit = index * bits;
    return (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}

std::uint8_t To8(const TDecoded& d, std::uint32_t v)
{
    return d.BitsPerSample == 16 ? Reduce16(v) : std::uint8_t(v);
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
std::uint8_t Ink(const TDecoded& d, std::uint32_t v, std::uint32_t k)
{
    if (d.BitsPerSample == 16) {
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
                const std::uint8_t g = GrayLevel(d.BitsPerSample, s(0), d.Photometric == PHOTOMETRIC_MINISWHITE);
                c = TBGRA { g, g, g, 0 };
                break;
            }
            case PHOTOMETRIC_PALETTE: {
                const std::uint32_t i = s(0);
                const std::size_t n = d.ColorMap.size() / 3; // red, green and blue planes
                c = i < n ? TBGRA { Reduce16(d.ColorMap[2 * n + i]), Reduce16(d.ColorMap[n + i]), Reduce16(d.ColorMap[i]), 0 }
                          : TBGRA {};
                break;
            }
            case PHOTOMETRIC_RGB:
                c = TBGRA { To8(d, s(2)), To8(d, s(1)), To8(d, s(0)), d.SamplesPerPixel >= 4 ? To8(d, s(3)) : std::uint8_t(0) };
                break;
            case PHOTOMETRIC_SEPARATED:
                c = TBGRA { Ink(d, s(2), s(3)), Ink(d, s(1), s(3)), Ink(d, s(0), s(3)), 0 };
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
