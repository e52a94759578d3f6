// The JPEG image object on arbitrary bytes: the EXIF orientation, header, decoding with
// settings taken from the first byte (twice, under different store poison: the two pictures
// must be the same), and encoding the decoded picture again. Only EJPEG (and the stream read error) may come out;
// anything else, a crash or a sanitizer report is a finding.
#include "base/exception.h"
#include "base/stream.h"
#include "raster/bitmap.h"
#include "raster/jpegimage.h"
#include "raster/orientation.h"
#include "tests/fuzz/poisonedtwice.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace {

const TBitmap* Decode(TJPEGImage& image, const std::uint8_t* data, std::size_t size)
{
    const std::uint8_t flags = data[0];
    TMemoryStream stream(std::span<const std::uint8_t>(data + 1, size - 1));
    try {
        image.SetGrayOnly(flags & 0x01);
        image.SetDecodeLayout(flags & 0x02 ? TJPEGDecodeLayout::dlIndexed8 : TJPEGDecodeLayout::dlTrueColor);
        image.SetDecodeSpeed(flags & 0x04 ? TJPEGDecodeSpeed::dsFast : TJPEGDecodeSpeed::dsAccurate);
        image.SetProgressiveShow(flags & 0x08);
        image.SetBlockSmoothing(!(flags & 0x10));
        image.SetDecodeScale(static_cast<TJPEGScale>((flags >> 5) & 3));
        image.SetCmykInverted(!(flags & 0x80));
        image.LoadStream(stream);
        // Large pictures decode correctly but slowly under the sanitizers: headers only.
        if (std::uint64_t(image.Data().Width) * std::uint64_t(image.Data().Height) > 1u << 20)
            return nullptr;
        const TBitmap& bitmap = image.DecodedBitmap();
        (void)image.Width();
        return &bitmap;
    } catch (const EJPEG&) {
    } catch (const EReadError&) {
    }
    return nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    // The EXIF block's reader on every input, whatever the decoding below reaches.
    if (const int orientation = ExifOrientation(std::span<const std::uint8_t>(data + 1, size - 1));
        orientation < 1 || orientation > 8)
        __builtin_trap();
    TJPEGImage first, second;
    const TBitmap* picture = nullptr;
    if (!poisoned::SameBothTimes(first, second, [&](TJPEGImage& image) {
            const TBitmap* decoded = Decode(image, data, size);
            if (&image == &first)
                picture = decoded;
            return decoded;
        }))
        __builtin_trap();
    if (!picture)
        return 0;
    const TBitmap& bitmap = *picture;
    if (bitmap.Width() > 0 && bitmap.Width() * bitmap.Height() <= 1 << 16) {
        try {
            TJPEGImage copy;
            copy.CopyContentFrom(bitmap);
            TMemoryStream encoded;
            copy.SaveStream(encoded);
        } catch (const EJPEG&) {
        }
    }
    return 0;
}
