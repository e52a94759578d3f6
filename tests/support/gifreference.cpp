#include "tests/support/gifreference.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace gifref {

TBytes Encode(const TGifImage& image)
{
    TBytes out;
    int error = 0;
    GifFileType* file = EGifOpen(&out, [](GifFileType* target, const GifByteType* data, int count) {
        auto& bytes = *static_cast<TBytes*>(target->UserData);
        bytes.insert(bytes.end(), data, data + count);
        return count;
    }, &error);
    if (!file)
        throw std::runtime_error("giflib cannot open a file in memory");
    const int colors = static_cast<int>(image.Colors.size());
    ColorMapObject* map = GifMakeMapObject(colors, image.Colors.data());
    EGifSetGifVersion(file, image.Version89);
    bool ok = EGifPutScreenDesc(file, image.Width, image.Height, GifBitSize(colors), 0, image.LocalTable ? nullptr : map)
            == GIF_OK
        && EGifPutImageDesc(file, 0, 0, image.Width, image.Height, image.Interlaced, image.LocalTable ? map : nullptr)
            == GIF_OK;
    // Interlaced rows are stored in four passes: every 8th row from 0, from 4, every 4th
    // from 2, every 2nd from 1.
    const int starts[] = { 0, 4, 2, 1 }, steps[] = { 8, 8, 4, 2 };
    for (int pass = 0; pass < (image.Interlaced ? 4 : 1); ++pass)
        for (int y = image.Interlaced ? starts[pass] : 0; ok && y < image.Height; y += image.Interlaced ? steps[pass] : 1)
            ok = EGifPutLine(file, const_cast<GifPixelType*>(image.Rows[y].data()), image.Width) == GIF_OK;
    ok = EGifCloseFile(file, &error) == GIF_OK && ok;
    GifFreeMapObject(map);
    if (!ok)
        throw std::runtime_error("giflib refused the image");
    return out;
}

TBytes FirstImageData(const TBytes& file, std::size_t colorCount, int& codeSize)
{
    // Header and screen descriptor, the global table, the image descriptor, then the data.
    std::size_t position = 13 + 3 * colorCount + 10;
    codeSize = file.at(position++);
    TBytes data;
    while (const std::uint8_t length = file.at(position++)) {
        data.insert(data.end(), file.begin() + position, file.begin() + position + length);
        position += length;
    }
    return data;
}

TGifReader::TGifReader(std::span<const std::uint8_t> bytes) : FBytes(bytes)
{
    int error = 0;
    FFile = DGifOpen(this, [](GifFileType* file, GifByteType* out, int count) {
        auto& reader = *static_cast<TGifReader*>(file->UserData);
        const std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(count), reader.FBytes.size() - reader.FPosition);
        std::memcpy(out, reader.FBytes.data() + reader.FPosition, take);
        reader.FPosition += take;
        return static_cast<int>(take);
    }, &error);
}

const SavedImage* TGifReader::FirstImage() const
{
    return FFile && DGifSlurp(FFile) == GIF_OK && FFile->ImageCount > 0 ? &FFile->SavedImages[0] : nullptr;
}

const ColorMapObject* TGifReader::FirstImageColors() const
{
    if (!FFile || FFile->ImageCount == 0)
        return nullptr;
    const ColorMapObject* own = FFile->SavedImages[0].ImageDesc.ColorMap;
    return own ? own : FFile->SColorMap;
}

TGifReader::~TGifReader()
{
    int error = 0;
    if (FFile)
        DGifCloseFile(FFile, &error);
}

} // namespace gifref
