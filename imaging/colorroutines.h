#pragma once
// Row routines of the colour manager and the small pieces they share. Internal to imaging/.
#include "imaging/colormanager.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace colorrows {

using TRowJob = TColorManager::TRowJob;

// Indexed values (also gray below 16 bits), packed most significant bits first.
void Indexed16To16(const TRowJob& job);
void Indexed16ToN(const TRowJob& job);
void IndexedNTo16(const TRowJob& job);
void IndexedNToM(const TRowJob& job);
// Gray (with or without alpha) at 8 or 16 bits.
void GrayCopy(const TRowJob& job);
// Three colour samples (and alpha) in the source's or the reversed order.
void ColorCopySameOrder(const TRowJob& job);
void ColorCopyReversedOrder(const TRowJob& job);
// The colour-space families, one per target order (red first or blue first).
void CMYKToRGB(const TRowJob& job);
void CMYKToBGR(const TRowJob& job);
void LabToRGB(const TRowJob& job);
void LabToBGR(const TRowJob& job);
void YCbCrToRGB(const TRowJob& job);
void YCbCrToBGR(const TRowJob& job);
void PhotoYCCToRGB(const TRowJob& job);
void PhotoYCCToBGR(const TRowJob& job);

// 16-bit samples are least significant byte first unless the source is swapped.
inline std::uint32_t Read16(const std::uint8_t* p, bool bigEndian)
{
    return bigEndian ? std::uint32_t(p[0]) << 8 | p[1] : std::uint32_t(p[1]) << 8 | p[0];
}

inline void Write16(std::uint8_t* p, std::uint32_t value, bool bigEndian)
{
    if (bigEndian) {
        p[0] = static_cast<std::uint8_t>(value >> 8);
        p[1] = static_cast<std::uint8_t>(value);
    } else {
        p[0] = static_cast<std::uint8_t>(value);
        p[1] = static_cast<std::uint8_t>(value >> 8);
    }
}

// v × 255 ÷ 65535, fraction cut off: only 65535 gives 255.
inline std::uint8_t Reduce16(std::uint32_t value)
{
    return static_cast<std::uint8_t>(value * 255 / 65535);
}

// v × 65535 ÷ 255.
inline std::uint32_t Expand8(std::uint32_t value)
{
    return value * 257;
}

inline std::uint8_t Clamp8(std::int32_t value)
{
    return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

// Rounds to the nearest integer, ties to even, and clamps into the range; NaN counts as 0.
inline std::int32_t RoundClamped(long double value, std::int32_t low, std::int32_t high)
{
    if (std::isnan(value))
        return std::clamp(0, low, high);
    if (value < low)
        return low;
    if (value > high)
        return high;
    return static_cast<std::int32_t>(std::nearbyint(value));
}

// Calls pixel(targetIndex, sourceIndex) for every target pixel whose mask bit is set. Bit 7
// stands for pixel 0, bit 6 for pixel 1, repeating every 8 pixels; the source holds only the
// pixels whose bit is set.
template <typename TPixel>
inline void ForEachPixel(std::uint32_t count, std::uint8_t mask, TPixel pixel)
{
    if (mask == 0xFF) {
        for (std::uint32_t i = 0; i < count; ++i)
            pixel(i, i);
        return;
    }
    std::uint32_t source = 0;
    for (std::uint32_t i = 0; i < count; ++i)
        if ((mask & (0x80u >> (i & 7))) != 0)
            pixel(i, source++);
}

// How many source pixels a row of count target pixels consumes under the mask.
inline std::uint32_t SourcePixels(std::uint32_t count, std::uint8_t mask)
{
    std::uint32_t result = (count / 8) * static_cast<std::uint32_t>(std::popcount(mask));
    for (std::uint32_t i = 0; i < (count & 7); ++i)
        if ((mask & (0x80u >> i)) != 0)
            ++result;
    return result;
}

// The sample addresses of a source pixel: sample k of pixel j is Sample[k] + j × Step.
// Interleaved data gives k × sample size as the sample's offset, planar data one plane each.
struct TSourceSamples {
    const std::uint8_t* Sample[4] = {};
    std::size_t Step = 0;
};

// Planar when the job gives more than one plane (or, with exactPlanes, exactly samples
// planes); a planar source with fewer planes than it needs cannot be converted.
TSourceSamples SourceSamples(const TRowJob& job, unsigned samples, unsigned bytesPerSample, bool exactPlanes = false);

} // namespace colorrows
