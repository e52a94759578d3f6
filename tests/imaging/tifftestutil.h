#pragma once
// libtiff on both sides of the TIFF reader's tests: writing files into memory, and reading
// them back as raw decoded samples from which the expected bitmap colours are computed.
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace tifftest {

// A growable in-memory file for TIFFClientOpen.
struct TMemFile {
    std::vector<std::uint8_t> Bytes;
    std::uint64_t Pos = 0;

    static tmsize_t Read(thandle_t handle, void* buffer, tmsize_t size)
    {
        auto& file = *static_cast<TMemFile*>(handle);
        if (file.Pos >= file.Bytes.size())
            return 0;
        const auto count = std::min<std::uint64_t>(std::uint64_t(size), file.Bytes.size() - file.Pos);
        std::memcpy(buffer, file.Bytes.data() + file.Pos, count);
        file.Pos += count;
        return tmsize_t(count);
    }
    static tmsize_t Write(thandle_t handle, void* buffer, tmsize_t size)
    {
        auto& file = *static_cast<TMemFile*>(handle);
        if (file.Pos + size > file.Bytes.size())
            file.Bytes.resize(file.Pos + size);
        std::memcpy(file.Bytes.data() + file.Pos, buffer, size);
        file.Pos += size;
        return size;
    }
    static toff_t Seek(thandle_t handle, toff_t offset, int whence)
    {
        auto& file = *static_cast<TMemFile*>(handle);
        const std::int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? std::int64_t(file.Pos)
                                                                                  : std::int64_t(file.Bytes.size());
        file.Pos = std::uint64_t(base + std::int64_t(offset));
        return file.Pos;
    }
    static int Close(thandle_t) { return 0; }
    static toff_t Size(thandle_t handle) { return static_cast<TMemFile*>(handle)->Bytes.size(); }
    static int Map(thandle_t, void**, toff_t*) { return 0; }
    static void Unmap(thandle_t, void*, toff_t) {}
};

inline void QuietLibTiff()
{
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
}

// What to write. Samples hold the packed rows (16-bit samples in machine order), the image
// as libtiff's TIFFWriteEncodedStrip takes it.
struct TTiffPlan {
    std::uint32_t Width = 8, Height = 8;
    std::uint16_t BitsPerSample = 8, SamplesPerPixel = 1;
    std::uint16_t Photometric = PHOTOMETRIC_MINISBLACK;
    std::uint16_t Compression = COMPRESSION_NONE;
    std::uint16_t Predictor = 0; // 0: no tag
    std::uint16_t FillOrder = 0; // 0: no tag
    std::uint32_t RowsPerStrip = 0; // 0: the whole image in one strip
    bool BigEndian = false;
    std::vector<std::uint16_t> ColorMap;
    std::vector<std::uint16_t> ExtraSamples;
    std::uint16_t SubsamplingH = 0, SubsamplingV = 0; // 0: no YCbCrSubsampling tag
    std::uint32_t TileWidth = 0, TileLength = 0;
    std::uint32_t T4Options = 0;
    bool Planar = false; // separate planes (8 and 16 bits only)
    int JpegQuality = 90;
    std::vector<std::uint8_t> Samples;
};

inline std::size_t RowBytes(const TTiffPlan& plan)
{
    return (std::size_t(plan.Width) * plan.BitsPerSample * plan.SamplesPerPixel + 7) / 8;
}

// Deterministic sample bytes of a plan's size: smooth gradients plus noise, so predictor and
// codec paths see runs as well as detail.
inline std::vector<std::uint8_t> Pattern(const TTiffPlan& plan, std::uint32_t seed = 1)
{
    std::vector<std::uint8_t> bytes(RowBytes(plan) * plan.Height);
    std::uint32_t state = seed * 2654435761u + 12345;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        state = state * 1103515245u + 12345u;
        const std::size_t row = i / std::max<std::size_t>(RowBytes(plan), 1);
        const std::size_t column = i % std::max<std::size_t>(RowBytes(plan), 1);
        bytes[i] = (i % 7 == 0) ? std::uint8_t(state >> 16) : std::uint8_t(row * 3 + column * 5);
    }
    return bytes;
}

inline std::vector<std::uint8_t> WriteTiff(const TTiffPlan& plan)
{
    QuietLibTiff();
    TMemFile file;
    TIFF* tif = TIFFClientOpen("mem", plan.BigEndian ? "wb" : "wl", &file, TMemFile::Read, TMemFile::Write,
        TMemFile::Seek, TMemFile::Close, TMemFile::Size, TMemFile::Map, TMemFile::Unmap);
    if (!tif)
        return {};
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, plan.Width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, plan.Height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, plan.BitsPerSample);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, plan.SamplesPerPixel);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, plan.Photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, plan.Planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, plan.Compression);
    if (plan.Predictor)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, plan.Predictor);
    if (plan.FillOrder)
        TIFFSetField(tif, TIFFTAG_FILLORDER, plan.FillOrder);
    if (!plan.ColorMap.empty()) {
        const std::size_t n = plan.ColorMap.size() / 3;
        TIFFSetField(tif, TIFFTAG_COLORMAP, plan.ColorMap.data(), plan.ColorMap.data() + n, plan.ColorMap.data() + 2 * n);
    }
    if (!plan.ExtraSamples.empty())
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, std::uint16_t(plan.ExtraSamples.size()), plan.ExtraSamples.data());
    if (plan.Compression == COMPRESSION_JPEG) {
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, plan.JpegQuality);
        if (plan.Photometric == PHOTOMETRIC_YCBCR)
            TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (plan.SubsamplingH)
        TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, plan.SubsamplingH, plan.SubsamplingV);
    if (plan.Compression == COMPRESSION_CCITTFAX3)
        TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, plan.T4Options);
    const std::size_t rowBytes = RowBytes(plan);
    bool ok = true;
    if (plan.TileWidth) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, plan.TileWidth);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, plan.TileLength);
        const std::size_t tileRow = (std::size_t(plan.TileWidth) * plan.BitsPerSample * plan.SamplesPerPixel + 7) / 8;
        std::vector<std::uint8_t> tile(tileRow * plan.TileLength);
        for (std::uint32_t y = 0; y < plan.Height; y += plan.TileLength)
            for (std::uint32_t x = 0; x < plan.Width; x += plan.TileWidth) {
                std::fill(tile.begin(), tile.end(), 0x55);
                ok = ok && TIFFWriteTile(tif, tile.data(), x, y, 0, 0) >= 0;
            }
    } else {
        const std::uint32_t rowsPerStrip = plan.RowsPerStrip ? plan.RowsPerStrip : plan.Height;
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
        const std::uint32_t stripsPerPlane = (plan.Height + rowsPerStrip - 1) / rowsPerStrip;
        const unsigned planes = plan.Planar ? plan.SamplesPerPixel : 1;
        const std::size_t sampleBytes = plan.BitsPerSample / 8;
        for (unsigned plane = 0; plane < planes; ++plane)
            for (std::uint32_t row = 0, strip = 0; row < plan.Height; row += rowsPerStrip, ++strip) {
                const std::uint32_t rows = std::min(rowsPerStrip, plan.Height - row);
                std::vector<std::uint8_t> data(plan.Samples.begin() + row * rowBytes,
                    plan.Samples.begin() + (row + rows) * rowBytes);
                if (plan.Planar) { // pick this plane's samples out of the interleaved rows
                    std::vector<std::uint8_t> planeData;
                    for (std::size_t i = plane * sampleBytes; i < data.size(); i += sampleBytes * plan.SamplesPerPixel)
                        planeData.insert(planeData.end(), data.begin() + i, data.begin() + i + sampleBytes);
                    data = std::move(planeData);
                }
                ok = ok && TIFFWriteEncodedStrip(tif, plane * stripsPerPlane + strip, data.data(), tmsize_t(data.size())) >= 0;
            }
    }
    ok = ok && TIFFWriteDirectory(tif);
    TIFFClose(tif);
    if (!ok)
        return {};
    return std::move(file.Bytes);
}

// A file read back with libtiff: its first directory and all its rows as raw samples.
struct TDecoded {
    std::uint32_t Width = 0, Height = 0;
    std::uint16_t BitsPerSample = 1, SamplesPerPixel = 1, Photometric = 0, Compression = 1, Planar = 1;
    std::uint16_t Predictor = 1, FillOrder = 1, InkSet = 1, SampleFormat = 1;
    std::uint32_t T4Options = 0;
    bool Tiled = false, HasCompressionTag = false, HasAlpha = false;
    std::uint16_t SubsamplingH = 1, SubsamplingV = 1;
    std::vector<std::uint16_t> Red, Green, Blue;
    std::vector<float> LumaWeights { 0.299f, 0.587f, 0.114f };
    std::vector<std::uint8_t> Samples; // rows of RowBytes, 16-bit samples in machine order
    std::size_t RowBytes = 0;
};

// Reads the first directory and its strips. Samples stays empty when libtiff cannot decode
// every strip or the file is tiled.
inline std::optional<TDecoded> ReadWithLibTiff(const std::vector<std::uint8_t>& bytes)
{
    QuietLibTiff();
    TMemFile file { bytes, 0 };
    TIFF* tif = TIFFClientOpen("mem", "rm", &file, TMemFile::Read, TMemFile::Write, TMemFile::Seek,
        TMemFile::Close, TMemFile::Size, TMemFile::Map, TMemFile::Unmap);
    if (!tif)
        return std::nullopt;
    TDecoded d;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &d.Width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &d.Height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &d.BitsPerSample);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &d.SamplesPerPixel);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &d.Planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PREDICTOR, &d.Predictor);
    TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &d.FillOrder);
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &d.InkSet);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &d.SampleFormat);
    d.HasCompressionTag = TIFFGetField(tif, TIFFTAG_COMPRESSION, &d.Compression) == 1;
    if (!d.HasCompressionTag)
        TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &d.Compression);
    if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &d.Photometric) != 1)
        d.Photometric = 0;
    TIFFGetField(tif, TIFFTAG_GROUP3OPTIONS, &d.T4Options);
    d.Tiled = TIFFIsTiled(tif);
    std::uint16_t extraCount = 0;
    std::uint16_t* extra = nullptr;
    if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) == 1 && extraCount > 0)
        d.HasAlpha = std::all_of(extra, extra + extraCount, [](std::uint16_t v) { return v <= 2; });
    if (d.Photometric == PHOTOMETRIC_YCBCR) {
        TIFFGetFieldDefaulted(tif, TIFFTAG_YCBCRSUBSAMPLING, &d.SubsamplingH, &d.SubsamplingV);
        float* weights = nullptr;
        if (TIFFGetField(tif, TIFFTAG_YCBCRCOEFFICIENTS, &weights) == 1 && weights)
            d.LumaWeights.assign(weights, weights + 3);
    }
    std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (d.Photometric == PHOTOMETRIC_PALETTE && d.BitsPerSample <= 16
        && TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) == 1) {
        const std::size_t n = std::size_t(1) << d.BitsPerSample;
        d.Red.assign(red, red + n);
        d.Green.assign(green, green + n);
        d.Blue.assign(blue, blue + n);
    }
    if (d.Compression == COMPRESSION_JPEG && d.Photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    d.RowBytes = (std::size_t(d.Width) * d.BitsPerSample * d.SamplesPerPixel + 7) / 8;
    const bool sane = !d.Tiled && d.Width > 0 && d.Height > 0 && std::uint64_t(d.Width) * d.Height <= (1u << 24)
        && (d.Planar == PLANARCONFIG_CONTIG || d.BitsPerSample == 8 || d.BitsPerSample == 16) && d.BitsPerSample <= 16;
    if (sane) {
        std::uint32_t rowsPerStrip = d.Height;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        rowsPerStrip = std::min(std::max(rowsPerStrip, 1u), d.Height);
        // The JPEG colour mode changes the strip size, so ask libtiff for it.
        const tmsize_t stripSize = TIFFStripSize(tif);
        std::size_t rowBytes = stripSize > 0 ? std::size_t(stripSize) / rowsPerStrip : 0;
        std::vector<std::uint8_t> samples(rowBytes * d.Height);
        bool ok = rowBytes > 0 && TIFFNumberOfStrips(tif) >= (d.Height + rowsPerStrip - 1) / rowsPerStrip;
        for (std::uint32_t row = 0, strip = 0; ok && row < d.Height; row += rowsPerStrip, ++strip) {
            const std::size_t want = std::min(rowsPerStrip, d.Height - row) * rowBytes;
            ok = TIFFReadEncodedStrip(tif, strip, samples.data() + row * rowBytes, tmsize_t(want)) == tmsize_t(want);
        }
        if (ok && d.Planar == PLANARCONFIG_SEPARATE && d.SamplesPerPixel > 1) {
            // The first plane is in place; the others follow, then everything is interleaved.
            const std::size_t sampleBytes = d.BitsPerSample / 8;
            const std::size_t planeBytes = rowBytes * d.Height;
            std::vector<std::uint8_t> planes(planeBytes * d.SamplesPerPixel);
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
            d.RowBytes = rowBytes;
        }
    }
    TIFFClose(tif);
    return d;
}

// Colour of a pixel as blue, green, red, alpha (alpha 0 where the target has none).
struct TBGRA {
    std::uint8_t B = 0, G = 0, R = 0, A = 0;
    bool operator==(const TBGRA&) const = default;
};

inline std::uint8_t Clamp255(long long v) { return std::uint8_t(std::clamp<long long>(v, 0, 255)); }
inline std::uint8_t Reduce16(std::uint32_t v) { return std::uint8_t(v * 255 / 65535); }

inline std::uint32_t Sample(const TDecoded& d, std::uint32_t x, std::uint32_t y, unsigned s)
{
    const std::uint8_t* row = d.Samples.data() + std::size_t(y) * d.RowBytes;
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

inline std::uint8_t To8(const TDecoded& d, std::uint32_t v)
{
    return d.BitsPerSample == 16 ? Reduce16(v) : std::uint8_t(v);
}

// The grey level a value of the given depth ends up with: the indexed rescale (2 bits into
// 4) followed by the grey table of the target depth.
inline std::uint8_t GrayLevel(unsigned bits, std::uint32_t v, bool minIsWhite)
{
    unsigned outBits = bits == 2 ? 4 : bits == 16 ? 8 : bits;
    std::uint32_t index = bits == 16 ? Reduce16(v) : bits == 2 ? v * 15 / 3 : v;
    const std::uint32_t n = 1u << outBits;
    const std::uint32_t step = 255 / (n - 1);
    if (minIsWhite)
        index = n - 1 - index;
    return std::uint8_t(index * step);
}

inline std::uint8_t RoundToEven(long double v)
{
    return Clamp255(std::llround(std::nearbyint(v)));
}

inline TBGRA LabToBGR(std::uint32_t lRaw, std::uint32_t aRaw, std::uint32_t bRaw)
{
    const long double l = lRaw / 2.55L;
    const long double a = std::int8_t(aRaw), b = std::int8_t(bRaw);
    long double x, y, z;
    if (l < 7.9996L) {
        y = l / 903.3L;
        x = y + a / 3893.5L;
        z = y - b / 1557.4L;
    } else {
        const long double f = (l + 16) / 116;
        x = std::pow(f + a / 500, 3.0L);
        y = f * f * f;
        z = std::pow(f - b / 200, 3.0L);
    }
    TBGRA c;
    c.B = RoundToEven((0.099L * x - 0.198L * y + 1.099L * z) * 255);
    c.G = RoundToEven((-0.952L * x + 1.893L * y + 0.059L * z) * 255);
    c.R = RoundToEven((2.998L * x - 1.458L * y - 0.541L * z) * 255);
    return c;
}

struct TChroma {
    int R[256], B[256], RG[256], BG[256];
    explicit TChroma(const std::vector<float>& w)
    {
        const float cR = 2 - 2 * w[0], cB = 2 - 2 * w[2];
        const float gR = w[0] * cR / w[1], gB = w[2] * cB / w[1];
        for (int i = 0; i < 256; ++i) {
            const int e = i - 128;
            R[i] = int(std::nearbyint(cR * e));
            B[i] = int(std::nearbyint(cB * e));
            RG[i] = -int(std::nearbyint(gR * e));
            BG[i] = -int(std::nearbyint(gB * e));
        }
    }
};

// The colours the reader must produce for every pixel, from libtiff's raw samples and the
// conversion rules: truncating 16-to-8 reduction, the CMYK, L*a*b* and YCbCr formulas, grey
// tables inverted for MinIsWhite, palettes reduced to 8 bits.
inline std::vector<TBGRA> ExpectedColors(const TDecoded& d)
{
    std::vector<TBGRA> out(std::size_t(d.Width) * d.Height);
    const bool jpeg = d.Compression == COMPRESSION_JPEG;
    std::optional<TChroma> chroma;
    if (d.Photometric == PHOTOMETRIC_YCBCR && !jpeg)
        chroma.emplace(d.LumaWeights);
    for (std::uint32_t y = 0; y < d.Height; ++y)
        for (std::uint32_t x = 0; x < d.Width; ++x) {
            TBGRA& c = out[std::size_t(y) * d.Width + x];
            auto s = [&](unsigned i) { return Sample(d, x, y, i); };
            if (jpeg && d.SamplesPerPixel == 3) { // libtiff hands out RGB
                c = { std::uint8_t(s(2)), std::uint8_t(s(1)), std::uint8_t(s(0)), 0 };
                continue;
            }
            switch (d.Photometric) {
            case PHOTOMETRIC_MINISWHITE:
            case PHOTOMETRIC_MINISBLACK: {
                const std::uint8_t g = GrayLevel(d.BitsPerSample, s(0), d.Photometric == PHOTOMETRIC_MINISWHITE);
                c = { g, g, g, 0 };
                break;
            }
            case PHOTOMETRIC_PALETTE: {
                const std::uint32_t i = s(0);
                if (i < d.Red.size())
                    c = { Reduce16(d.Blue[i]), Reduce16(d.Green[i]), Reduce16(d.Red[i]), 0 };
                break;
            }
            case PHOTOMETRIC_RGB:
                c = { To8(d, s(2)), To8(d, s(1)), To8(d, s(0)), 0 };
                if (d.SamplesPerPixel >= 4)
                    c.A = To8(d, s(3));
                break;
            case PHOTOMETRIC_SEPARATED: {
                auto ink = [&](std::uint32_t v, std::uint32_t k) -> std::uint8_t {
                    if (d.BitsPerSample == 16) {
                        const std::uint64_t m = std::uint64_t(v) * k / 65535;
                        return Clamp255(255 - (long long)((v + k - m) * 255 / 65535));
                    }
                    return Clamp255((long long)(v * k / 255) - v - k + 255);
                };
                c = { ink(s(2), s(3)), ink(s(1), s(3)), ink(s(0), s(3)), 0 };
                break;
            }
            case PHOTOMETRIC_CIELAB:
                c = LabToBGR(s(0), s(1), s(2));
                break;
            case PHOTOMETRIC_YCBCR: {
                const int luma = To8(d, s(0)), cb = To8(d, s(1)), cr = To8(d, s(2));
                c.R = Clamp255(luma + chroma->R[cr]);
                c.G = Clamp255(luma + chroma->BG[cb] + chroma->RG[cr]);
                c.B = Clamp255(luma + chroma->B[cb]);
                break;
            }
            default:
                break;
            }
        }
    return out;
}

// Small files across byte orders, depths, photometrics and compressions: the fuzzer's seeds.
inline std::vector<std::pair<std::string, TTiffPlan>> SeedPlans()
{
    std::vector<std::pair<std::string, TTiffPlan>> plans;
    auto add = [&](std::string name, TTiffPlan plan) {
        plan.Samples = Pattern(plan, std::uint32_t(plans.size() + 1));
        plans.emplace_back(std::move(name), std::move(plan));
    };
    TTiffPlan base;
    base.Width = 13;
    base.Height = 7;
    base.RowsPerStrip = 3;
    for (int bits : { 1, 2, 4, 8, 16 }) {
        TTiffPlan gray = base;
        gray.BitsPerSample = std::uint16_t(bits);
        gray.Photometric = bits == 1 ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK;
        gray.BigEndian = bits == 16;
        add("gray" + std::to_string(bits) + ".tif", gray);
    }
    for (int bits : { 2, 4, 8 }) {
        TTiffPlan palette = base;
        palette.BitsPerSample = std::uint16_t(bits);
        palette.Photometric = PHOTOMETRIC_PALETTE;
        palette.Compression = COMPRESSION_PACKBITS;
        for (int i = 0; i < 3 << bits; ++i)
            palette.ColorMap.push_back(std::uint16_t(i * 4099));
        add("palette" + std::to_string(bits) + ".tif", palette);
    }
    const std::pair<const char*, std::uint16_t> compressions[] = { { "none", COMPRESSION_NONE },
        { "lzw", COMPRESSION_LZW }, { "deflate", COMPRESSION_ADOBE_DEFLATE }, { "packbits", COMPRESSION_PACKBITS } };
    for (const auto& [name, compression] : compressions) {
        TTiffPlan rgb = base;
        rgb.SamplesPerPixel = 3;
        rgb.Photometric = PHOTOMETRIC_RGB;
        rgb.Compression = compression;
        rgb.Predictor = compression == COMPRESSION_LZW || compression == COMPRESSION_ADOBE_DEFLATE ? 2 : 0;
        rgb.BigEndian = compression == COMPRESSION_LZW;
        add(std::string("rgb-") + name + ".tif", rgb);
    }
    TTiffPlan rgba = base;
    rgba.SamplesPerPixel = 4;
    rgba.Photometric = PHOTOMETRIC_RGB;
    rgba.ExtraSamples = { EXTRASAMPLE_ASSOCALPHA };
    rgba.BitsPerSample = 16;
    rgba.Compression = COMPRESSION_LZW;
    rgba.Predictor = 2;
    add("rgba16-lzw.tif", rgba);
    TTiffPlan grayAlpha = base;
    grayAlpha.SamplesPerPixel = 2;
    grayAlpha.ExtraSamples = { EXTRASAMPLE_UNASSALPHA };
    add("gray-alpha.tif", grayAlpha);
    TTiffPlan cmyk = base;
    cmyk.SamplesPerPixel = 4;
    cmyk.Photometric = PHOTOMETRIC_SEPARATED;
    add("cmyk.tif", cmyk);
    TTiffPlan lab = base;
    lab.SamplesPerPixel = 3;
    lab.Photometric = PHOTOMETRIC_CIELAB;
    add("lab.tif", lab);
    TTiffPlan ycbcr = base;
    ycbcr.SamplesPerPixel = 3;
    ycbcr.Photometric = PHOTOMETRIC_YCBCR;
    ycbcr.SubsamplingH = ycbcr.SubsamplingV = 1;
    ycbcr.BigEndian = true;
    add("ycbcr.tif", ycbcr);
    ycbcr.SubsamplingH = ycbcr.SubsamplingV = 2; // one strip of blocks (and some spare bytes)
    ycbcr.RowsPerStrip = 0;
    ycbcr.Compression = COMPRESSION_LZW;
    add("ycbcr-blocks.tif", ycbcr);
    TTiffPlan jpeg = base;
    jpeg.Width = 24;
    jpeg.Height = 16;
    jpeg.RowsPerStrip = 16;
    jpeg.SamplesPerPixel = 3;
    jpeg.Photometric = PHOTOMETRIC_YCBCR;
    jpeg.Compression = COMPRESSION_JPEG;
    jpeg.SubsamplingH = jpeg.SubsamplingV = 2;
    add("ycbcr-jpeg.tif", jpeg);
    const std::pair<const char*, std::uint16_t> faxes[] = { { "g3", COMPRESSION_CCITTFAX3 },
        { "mh", COMPRESSION_CCITTRLE }, { "rlew", COMPRESSION_CCITTRLEW } };
    for (const auto& [name, compression] : faxes) {
        TTiffPlan fax = base;
        fax.Width = 40;
        fax.BitsPerSample = 1;
        fax.Photometric = PHOTOMETRIC_MINISWHITE;
        fax.Compression = compression;
        fax.FillOrder = compression == COMPRESSION_CCITTFAX3 ? FILLORDER_LSB2MSB : 0;
        add(std::string("fax-") + name + ".tif", fax);
    }
    TTiffPlan tiled = base;
    tiled.TileWidth = tiled.TileLength = 16;
    add("tiled.tif", tiled);
    return plans;
}

inline void WriteSeedCorpus(const std::string& folder)
{
    for (const auto& [name, plan] : SeedPlans()) {
        const std::vector<std::uint8_t> bytes = WriteTiff(plan);
        std::ofstream(folder + "/" + name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
}

} // namespace tifftest
