#include "codectestutil.h"

#include "tests/support/gifreference.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <stdexcept>

TBytes GifCompress(const TBytes& indices, int width, int height, int colorBits, int& codeSize)
{
    gifref::TGifImage image;
    image.Width = width;
    image.Height = height;
    image.Version89 = false;
    for (int index = 0; index < 1 << colorBits; ++index)
        image.Colors.push_back({ static_cast<GifByteType>(index), static_cast<GifByteType>(index), 0 });
    for (int y = 0; y < height; ++y)
        image.Rows.emplace_back(indices.begin() + std::ptrdiff_t(y) * width, indices.begin() + std::ptrdiff_t(y + 1) * width);
    return gifref::FirstImageData(gifref::Encode(image), image.Colors.size(), codeSize);
}

TBytes NoisePixels(std::size_t count, std::mt19937& random, int maxValue)
{
    std::uniform_int_distribution<int> value(0, maxValue);
    TBytes pixels(count);
    for (auto& pixel : pixels)
        pixel = static_cast<std::uint8_t>(value(random));
    return pixels;
}

TBytes SmoothPixels(std::uint32_t width, std::uint32_t height, int samples)
{
    TBytes pixels(std::size_t(width) * height * samples);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            for (int sample = 0; sample < samples; ++sample)
                pixels[(std::size_t(y) * width + x) * samples + sample]
                    = static_cast<std::uint8_t>((x * (sample + 1) + y * 2 + (x * y) / 64) & 0xFF);
    return pixels;
}

TBytes BlockPixels(std::size_t count, std::mt19937& random, int maxValue)
{
    std::uniform_int_distribution<int> value(0, maxValue);
    std::geometric_distribution<std::size_t> runLength(0.02);
    TBytes pixels;
    pixels.reserve(count);
    while (pixels.size() < count) {
        const std::size_t run = std::min(count - pixels.size(), runLength(random) + 1);
        pixels.insert(pixels.end(), run, static_cast<std::uint8_t>(value(random)));
    }
    return pixels;
}

std::string CorpusDir()
{
    const std::string folder = IBI_CORPUS_DIR;
    return std::filesystem::is_directory(folder) ? folder : std::string();
}

std::size_t ForEachCorpusStrip(bool (*wanted)(std::uint16_t compression),
    const std::function<void(const TCorpusStrip&)>& visit)
{
    const std::string folder = CorpusDir();
    if (folder.empty())
        return 0;
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder + "/tiff"))
        if (entry.is_regular_file()
            && (entry.path().extension() == ".tif" || entry.path().extension() == ".tiff"))
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::size_t visited = 0;
    for (const auto& path : files) {
        TIFF* tiff = TIFFOpen(path.c_str(), "r");
        if (!tiff)
            continue;
        TCorpusStrip strip;
        strip.File = path.string();
        strip.Layout = tifftest::ReadPlan(tiff);
        TTiffPlan& layout = strip.Layout;
        strip.ByteSwapped = TIFFIsByteSwapped(tiff);
        if (TIFFIsTiled(tiff) || !wanted(layout.Compression)) {
            TIFFClose(tiff);
            continue;
        }
        if (layout.Compression == COMPRESSION_JPEG) {
            if (layout.Photometric == PHOTOMETRIC_YCBCR)
                TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
            else
                layout.SubsamplingH = layout.SubsamplingV = 1; // what the codec is given then
            std::uint32_t tablesLength = 0;
            void* tables = nullptr;
            if (TIFFGetField(tiff, TIFFTAG_JPEGTABLES, &tablesLength, &tables) && tables)
                strip.JPEGTables.assign(static_cast<std::uint8_t*>(tables),
                    static_cast<std::uint8_t*>(tables) + tablesLength);
        }
        strip.StripSize = static_cast<std::size_t>(TIFFStripSize(tiff));
        strip.StripCount = TIFFNumberOfStrips(tiff);
        for (std::uint32_t index = 0; index < strip.StripCount && index < 48; ++index) {
            strip.Strip = index;
            const tmsize_t rawSize = TIFFRawStripSize(tiff, index);
            if (rawSize <= 0 || rawSize > (64 << 20))
                break;
            strip.Raw.assign(static_cast<std::size_t>(rawSize), 0);
            if (TIFFReadRawStrip(tiff, index, strip.Raw.data(), rawSize) != rawSize)
                break;
            strip.Decoded.assign(strip.StripSize, 0);
            const tmsize_t length = TIFFReadEncodedStrip(tiff, index, strip.Decoded.data(),
                static_cast<tmsize_t>(strip.Decoded.size()));
            if (length < 0)
                break; // libtiff itself cannot decode it: nothing to compare with
            strip.Decoded.resize(static_cast<std::size_t>(length));
            visit(strip);
            ++visited;
        }
        TIFFClose(tiff);
    }
    return visited;
}

void UndoPredictor(TBytes& data, std::uint32_t width, int samples)
{
    const std::size_t rowBytes = std::size_t(width) * samples;
    for (std::size_t rowStart = 0; rowStart + rowBytes <= data.size(); rowStart += rowBytes)
        for (std::size_t index = samples; index < rowBytes; ++index)
            data[rowStart + index] = static_cast<std::uint8_t>(data[rowStart + index] + data[rowStart + index - samples]);
}

TBytes DecodeInParts(TPartDecoder& decoder, std::size_t size, std::size_t part)
{
    TBytes output(size, 0xAB);
    for (std::size_t done = 0; done < size; done += part)
        decoder.DecodePart(output.data() + done, std::min(part, size - done));
    return output;
}
