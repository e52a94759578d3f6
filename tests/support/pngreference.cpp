#include "tests/support/pngreference.h"

#include <cstring>
#include <stdexcept>

namespace pngref {

namespace {

[[noreturn]] void ThrowPngError(png_structp, png_const_charp message) { throw std::runtime_error(message); }
void IgnorePngWarning(png_structp, png_const_charp) {}

void WriteToBytes(png_structp png, png_bytep data, png_size_t count)
{
    auto& target = *static_cast<TBytes*>(png_get_io_ptr(png));
    target.insert(target.end(), data, data + count);
}

} // namespace

TBytes Encode(const TPngImage& image)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, ThrowPngError, IgnorePngWarning);
    png_infop info = png_create_info_struct(png);
    struct TCleanup {
        png_structp& Png;
        png_infop& Info;
        ~TCleanup() { png_destroy_write_struct(&Png, &Info); }
    } cleanup { png, info };
    TBytes out;
    png_set_write_fn(png, &out, WriteToBytes, nullptr);
    png_set_IHDR(png, info, image.Width, image.Height, image.Depth, image.ColorType,
        image.Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
        PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    for (const auto& [red, green, blue] : image.Palette)
        palette.push_back({ red, green, blue });
    if (!palette.empty())
        png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (image.Gamma)
        png_set_gAMA_fixed(png, info, static_cast<png_fixed_point>(image.Gamma));
    if (image.Filters >= 0)
        png_set_filter(png, PNG_FILTER_TYPE_BASE, image.Filters);
    if (image.CompressionLevel >= 0)
        png_set_compression_level(png, image.CompressionLevel);
    png_write_info(png, info);
    std::vector<png_bytep> pointers;
    for (const TBytes& row : image.Rows)
        pointers.push_back(const_cast<png_bytep>(row.data())); // libpng only reads them
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    return out;
}

TPngReader::TPngReader(std::span<const std::uint8_t> bytes) : FBytes(bytes)
{
    FPng = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, ThrowPngError, IgnorePngWarning);
    FInfo = png_create_info_struct(FPng);
    png_set_read_fn(FPng, this, [](png_structp png, png_bytep out, png_size_t count) {
        auto& reader = *static_cast<TPngReader*>(png_get_io_ptr(png));
        if (count > reader.FBytes.size() - reader.FPosition)
            png_error(png, "end of data");
        std::memcpy(out, reader.FBytes.data() + reader.FPosition, count);
        reader.FPosition += count;
    });
}

TPngReader::~TPngReader() { png_destroy_read_struct(&FPng, &FInfo, nullptr); }

} // namespace pngref
