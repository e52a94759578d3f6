#include "tests/support/tiffreference.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace tifftest {

// The file behind TIFFClientOpen: bytes written into a growing vector, or read from a span.
struct TTiffInMemory::TFile {
    TBytes Written;
    std::span<const std::uint8_t> Reading;
    bool Writable = false;
    std::uint64_t Position = 0;

    std::span<const std::uint8_t> Bytes() const { return Writable ? std::span<const std::uint8_t>(Written) : Reading; }

    static tmsize_t Read(thandle_t handle, void* buffer, tmsize_t size)
    {
        auto& file = *static_cast<TFile*>(handle);
        const std::span<const std::uint8_t> bytes = file.Bytes();
        if (file.Position >= bytes.size())
            return 0;
        const auto count = std::min<std::uint64_t>(std::uint64_t(size), bytes.size() - file.Position);
        std::memcpy(buffer, bytes.data() + file.Position, count);
        file.Position += count;
        return tmsize_t(count);
    }
    static tmsize_t Write(thandle_t handle, void* buffer, tmsize_t size)
    {
        auto& file = *static_cast<TFile*>(handle);
        if (!file.Writable)
            return -1;
        if (file.Position + size > file.Written.size())
            file.Written.resize(file.Position + size);
        std::memcpy(file.Written.data() + file.Position, buffer, size);
        file.Position += size;
        return size;
    }
    static toff_t Seek(thandle_t handle, toff_t offset, int whence)
    {
        auto& file = *static_cast<TFile*>(handle);
        const std::int64_t base = whence == SEEK_SET ? 0
            : whence == SEEK_CUR                     ? std::int64_t(file.Position)
                                                     : std::int64_t(file.Bytes().size());
        file.Position = std::uint64_t(base + std::int64_t(offset));
        return file.Position;
    }
    static int Close(thandle_t) { return 0; }
    static toff_t Size(thandle_t handle) { return static_cast<TFile*>(handle)->Bytes().size(); }
    static int Map(thandle_t, void**, toff_t*) { return 0; }
    static void Unmap(thandle_t, void*, toff_t) {}

    TIFF* Open(const char* mode)
    {
        return TIFFClientOpen("memory", mode, this, Read, Write, Seek, Close, Size, Map, Unmap);
    }
};

TTiffInMemory::TTiffInMemory(TTiffByteOrder order) : FFile(std::make_unique<TFile>())
{
    FFile->Writable = true;
    FTiff = FFile->Open(order == TTiffByteOrder::boBigEndian ? "wb" : "wl");
}

TTiffInMemory::TTiffInMemory(std::span<const std::uint8_t> bytes) : FFile(std::make_unique<TFile>())
{
    FFile->Reading = bytes;
    FTiff = FFile->Open("rm");
}

TTiffInMemory::~TTiffInMemory()
{
    if (FTiff)
        TIFFClose(FTiff);
}

TBytes TTiffInMemory::Close()
{
    if (FTiff)
        TIFFClose(FTiff);
    FTiff = nullptr;
    return std::move(FFile->Written);
}

void QuietLibTiff()
{
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
}

void CopyBits(const std::uint8_t* source, std::size_t sourceBit, std::uint8_t* target, std::size_t targetBit, std::size_t count)
{
    if (sourceBit % 8 == 0 && targetBit % 8 == 0) {
        std::memcpy(target + targetBit / 8, source + sourceBit / 8, count / 8);
        sourceBit += count / 8 * 8;
        targetBit += count / 8 * 8;
        count %= 8;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t from = sourceBit + i, to = targetBit + i;
        const std::uint8_t mask = std::uint8_t(0x80 >> to % 8);
        if (source[from / 8] & (0x80 >> from % 8))
            target[to / 8] |= mask;
        else
            target[to / 8] &= std::uint8_t(~mask);
    }
}

std::size_t RowBytes(const TTiffPlan& plan)
{
    return (std::size_t(plan.Width) * plan.BitsPerSample * plan.SamplesPerPixel + 7) / 8;
}

TBytes Pattern(const TTiffPlan& plan, std::uint32_t seed)
{
    TBytes bytes(RowBytes(plan) * plan.Height);
    std::uint32_t state = seed * 2654435761u + 12345;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        state = state * 1103515245u + 12345u;
        const std::size_t row = i / std::max<std::size_t>(RowBytes(plan), 1);
        const std::size_t column = i % std::max<std::size_t>(RowBytes(plan), 1);
        bytes[i] = (i % 7 == 0) ? std::uint8_t(state >> 16) : std::uint8_t(row * 3 + column * 5);
    }
    return bytes;
}

namespace {

void SetTags(TIFF* tif, const TTiffPlan& plan)
{
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, plan.Width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, plan.Height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, plan.BitsPerSample);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, plan.SamplesPerPixel);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, plan.Photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, plan.PlanarConfig);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, plan.Compression);
    if (plan.Predictor)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, plan.Predictor);
    if (plan.SampleFormat != SAMPLEFORMAT_UINT)
        TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, plan.SampleFormat);
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
        if (plan.Photometric == PHOTOMETRIC_YCBCR) // libtiff converts the RGB rows it is given
            TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (plan.Photometric == PHOTOMETRIC_YCBCR && plan.SubsamplingH)
        TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, plan.SubsamplingH, plan.SubsamplingV);
    if (plan.LumaWeights.size() == 3)
        TIFFSetField(tif, TIFFTAG_YCBCRCOEFFICIENTS, plan.LumaWeights.data());
    if (plan.Compression == COMPRESSION_CCITTFAX3)
        TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, plan.Group3Options);
    if (plan.Orientation != 0)
        TIFFSetField(tif, TIFFTAG_ORIENTATION, plan.Orientation);
}

// The plan's samples cut into tiles, plane by plane with separate planes; the parts of edge
// tiles beyond the picture are 0xA5, which a reader must never show.
bool WriteTiles(TIFF* tif, const TTiffPlan& plan)
{
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, plan.TileWidth);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, plan.TileLength);
    const bool planar = plan.PlanarConfig == PLANARCONFIG_SEPARATE;
    const unsigned planes = planar ? plan.SamplesPerPixel : 1;
    const std::size_t sampleBits = plan.BitsPerSample, pixelBits = sampleBits * (planar ? 1 : plan.SamplesPerPixel);
    const std::size_t rowBytes = RowBytes(plan);
    const std::size_t tileRowBytes = (plan.TileWidth * pixelBits + 7) / 8;
    TBytes tile(tileRowBytes * plan.TileLength);
    bool ok = plan.Samples.size() >= rowBytes * plan.Height;
    for (unsigned plane = 0; ok && plane < planes; ++plane)
        for (std::uint32_t y = 0; ok && y < plan.Height; y += plan.TileLength)
            for (std::uint32_t x = 0; ok && x < plan.Width; x += plan.TileWidth) {
                std::fill(tile.begin(), tile.end(), 0xA5);
                const std::uint32_t rows = std::min(plan.TileLength, plan.Height - y);
                const std::uint32_t columns = std::min(plan.TileWidth, plan.Width - x);
                for (std::uint32_t row = 0; row < rows; ++row) {
                    const std::uint8_t* source = plan.Samples.data() + (y + row) * rowBytes;
                    std::uint8_t* target = tile.data() + row * tileRowBytes;
                    if (!planar) {
                        CopyBits(source, x * pixelBits, target, 0, columns * pixelBits);
                        continue;
                    }
                    for (std::uint32_t column = 0; column < columns; ++column)
                        CopyBits(source, ((x + column) * std::size_t(plan.SamplesPerPixel) + plane) * sampleBits, target,
                            column * sampleBits, sampleBits);
                }
                ok = TIFFWriteEncodedTile(tif, TIFFComputeTile(tif, x, y, 0, tsample_t(plane)), tile.data(), tmsize_t(tile.size())) >= 0;
            }
    return ok;
}

bool WriteStrips(TIFF* tif, const TTiffPlan& plan)
{
    const std::size_t rowBytes = RowBytes(plan);
    const std::uint32_t rowsPerStrip = plan.RowsPerStrip ? plan.RowsPerStrip : plan.Height;
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    const std::uint32_t stripsPerPlane = (plan.Height + rowsPerStrip - 1) / rowsPerStrip;
    const bool planar = plan.PlanarConfig == PLANARCONFIG_SEPARATE;
    const unsigned planes = planar ? plan.SamplesPerPixel : 1;
    const std::size_t sampleBytes = plan.BitsPerSample / 8;
    bool ok = plan.Samples.size() >= rowBytes * plan.Height;
    for (unsigned plane = 0; ok && plane < planes; ++plane)
        for (std::uint32_t row = 0, strip = 0; ok && row < plan.Height; row += rowsPerStrip, ++strip) {
            const std::uint32_t rows = std::min(rowsPerStrip, plan.Height - row);
            TBytes data(plan.Samples.begin() + row * rowBytes, plan.Samples.begin() + (row + rows) * rowBytes);
            if (planar) { // this plane's samples out of the interleaved rows
                TBytes planeData;
                for (std::size_t i = plane * sampleBytes; i < data.size(); i += sampleBytes * plan.SamplesPerPixel)
                    planeData.insert(planeData.end(), data.begin() + i, data.begin() + i + sampleBytes);
                data = std::move(planeData);
            }
            ok = TIFFWriteEncodedStrip(tif, plane * stripsPerPlane + strip, data.data(), tmsize_t(data.size())) >= 0;
        }
    return ok;
}

} // namespace

TTiffPlan ReadPlan(TIFF* tif)
{
    TTiffPlan plan;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &plan.Width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &plan.Height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &plan.RowsPerStrip);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &plan.BitsPerSample);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &plan.SamplesPerPixel);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &plan.Photometric);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &plan.Compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PREDICTOR, &plan.Predictor);
    TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &plan.FillOrder);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &plan.PlanarConfig);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &plan.SampleFormat);
    TIFFGetField(tif, TIFFTAG_GROUP3OPTIONS, &plan.Group3Options);
    if (plan.Photometric == PHOTOMETRIC_YCBCR) {
        TIFFGetFieldDefaulted(tif, TIFFTAG_YCBCRSUBSAMPLING, &plan.SubsamplingH, &plan.SubsamplingV);
        float* weights = nullptr;
        if (TIFFGetField(tif, TIFFTAG_YCBCRCOEFFICIENTS, &weights) == 1 && weights)
            plan.LumaWeights.assign(weights, weights + 3);
    }
    if (TIFFIsTiled(tif)) {
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &plan.TileWidth);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &plan.TileLength);
    }
    std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (plan.Photometric == PHOTOMETRIC_PALETTE && plan.BitsPerSample <= 16
        && TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) == 1) {
        const std::size_t n = std::size_t(1) << plan.BitsPerSample;
        for (const std::uint16_t* plane : { red, green, blue })
            plan.ColorMap.insert(plan.ColorMap.end(), plane, plane + n);
    }
    std::uint16_t extraCount = 0;
    std::uint16_t* extra = nullptr;
    if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) == 1)
        plan.ExtraSamples.assign(extra, extra + extraCount);
    plan.BigEndian = TIFFIsBigEndian(tif);
    return plan;
}

namespace {

TTiffStrips ReadStrips(const TBytes& bytes)
{
    TTiffInMemory file(bytes);
    TIFF* tif = file.Tiff();
    if (!tif)
        throw std::runtime_error("libtiff cannot read its own file");
    std::uint16_t compression = COMPRESSION_NONE, photometric = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    if (compression == COMPRESSION_JPEG && photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    TTiffStrips result;
    result.StripSize = static_cast<std::size_t>(TIFFStripSize(tif));
    std::uint32_t tablesLength = 0;
    void* tables = nullptr;
    if (compression == COMPRESSION_JPEG && TIFFGetField(tif, TIFFTAG_JPEGTABLES, &tablesLength, &tables) && tables)
        result.JPEGTables.assign(static_cast<std::uint8_t*>(tables), static_cast<std::uint8_t*>(tables) + tablesLength);
    const tstrip_t strips = TIFFNumberOfStrips(tif);
    for (tstrip_t strip = 0; strip < strips; ++strip) {
        TBytes raw(static_cast<std::size_t>(TIFFRawStripSize(tif, strip)));
        if (TIFFReadRawStrip(tif, strip, raw.data(), static_cast<tmsize_t>(raw.size())) < 0)
            throw std::runtime_error("TIFFReadRawStrip failed");
        TBytes decoded(result.StripSize);
        const tmsize_t length = TIFFReadEncodedStrip(tif, strip, decoded.data(), static_cast<tmsize_t>(decoded.size()));
        decoded.resize(length < 0 ? 0 : static_cast<std::size_t>(length));
        result.Raw.push_back(std::move(raw));
        result.Decoded.push_back(std::move(decoded));
    }
    return result;
}

} // namespace

TBytes WriteTiff(const TTiffPlan& plan)
{
    QuietLibTiff();
    TTiffInMemory file(plan.BigEndian ? TTiffByteOrder::boBigEndian : TTiffByteOrder::boLittleEndian);
    TIFF* tif = file.Tiff();
    if (!tif)
        return {};
    SetTags(tif, plan);
    const bool ok = (plan.TileWidth ? WriteTiles(tif, plan) : WriteStrips(tif, plan)) && TIFFWriteDirectory(tif);
    TBytes bytes = file.Close();
    return ok ? bytes : TBytes();
}

TBytes WriteRgbTiff(std::uint32_t width, std::uint32_t height, TBytes rgb, std::uint16_t compression,
    std::uint32_t rowsPerStrip, std::uint16_t predictor)
{
    TTiffPlan plan;
    plan.Width = width;
    plan.Height = height;
    plan.SamplesPerPixel = 3;
    plan.Photometric = PHOTOMETRIC_RGB;
    plan.Compression = compression;
    plan.Predictor = predictor;
    plan.RowsPerStrip = rowsPerStrip;
    plan.Samples = std::move(rgb);
    TBytes bytes = WriteTiff(plan);
    if (bytes.empty())
        throw std::runtime_error("libtiff refused to write an RGB file");
    return bytes;
}

TTiffStrips TiffRoundTrip(const TTiffPlan& plan, const TBytes& pixels)
{
    TTiffPlan written = plan;
    written.Samples = pixels;
    const TBytes bytes = WriteTiff(written);
    if (bytes.empty())
        throw std::runtime_error("libtiff refused to write the plan");
    return ReadStrips(bytes);
}

TTiffStrips TiffRawRoundTrip(const TTiffPlan& plan, const std::vector<TBytes>& strips)
{
    QuietLibTiff();
    TTiffInMemory file(plan.BigEndian ? TTiffByteOrder::boBigEndian : TTiffByteOrder::boLittleEndian);
    TIFF* tif = file.Tiff();
    if (!tif)
        throw std::runtime_error("libtiff cannot open a file in memory");
    SetTags(tif, plan);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, plan.RowsPerStrip ? plan.RowsPerStrip : plan.Height);
    for (std::size_t strip = 0; strip < strips.size(); ++strip) {
        TBytes copy = strips[strip]; // libtiff takes a non-const buffer
        TIFFWriteRawStrip(tif, static_cast<tstrip_t>(strip), copy.data(), static_cast<tmsize_t>(copy.size()));
    }
    return ReadStrips(file.Close());
}

} // namespace tifftest
