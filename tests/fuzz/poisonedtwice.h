#pragma once
// Decoding twice, every new pixel store filled with a different poison byte each time: a
// decoder that leaves a pixel unwritten gives two different pictures. Used by the fuzz targets
// and the corpus test.
#include "raster/bitmap.h"
#include "raster/storepool.h"

#include <cstdint>
#include <cstring>

namespace poisoned {

inline constexpr int FirstPoison = 0xA5, SecondPoison = 0x5A;

// Whether both bitmaps have the same size, form, table and visible pixels (the bytes of each
// row that hold its width's pixels; the unused bits of a last partial byte are not compared).
inline bool SamePicture(const TBitmap& a, const TBitmap& b)
{
    const TBitmapHeader &ha = a.Header(), &hb = b.Header();
    if (a.Width() != b.Width() || a.Height() != b.Height() || ha.BitsPerPixel != hb.BitsPerPixel
        || ha.Compression != hb.Compression || ha.RedMask != hb.RedMask || ha.GreenMask != hb.GreenMask
        || ha.BlueMask != hb.BlueMask || a.ColorTable() != b.ColorTable())
        return false;
    if (a.IsEmpty())
        return true;
    const std::size_t bits = std::size_t(a.Width()) * ha.BitsPerPixel;
    const std::size_t whole = bits / 8;
    const auto lastMask = static_cast<std::uint8_t>(0xFF00u >> (bits % 8));
    for (int y = 0; y < a.Height(); ++y) {
        const std::uint8_t *ra = a.RowAddress(y), *rb = b.RowAddress(y);
        if (std::memcmp(ra, rb, whole) != 0 || (lastMask != 0 && ((ra[whole] ^ rb[whole]) & lastMask) != 0))
            return false;
    }
    return true;
}

// Runs decode(first) with the first poison and decode(second) with the second, poison off
// afterwards. decode returns the picture it loaded into its target, or nullptr. True when
// neither loaded, or both did with the same picture.
template <class TTarget, class TDecode>
bool SameBothTimes(TTarget& first, TTarget& second, TDecode decode)
{
    struct TPoisonOff {
        ~TPoisonOff() { storepool::SetStorePoison(storepool::StorePoisonOff); }
    } off;
    storepool::SetStorePoison(FirstPoison);
    const TBitmap* a = decode(first);
    storepool::SetStorePoison(SecondPoison);
    const TBitmap* b = decode(second);
    if (!a || !b)
        return !a && !b;
    return SamePicture(*a, *b);
}

} // namespace poisoned
