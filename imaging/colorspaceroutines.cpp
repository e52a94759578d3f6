// Row routines for CMYK, CIE L*a*b*, YCbCr and PhotoYCC sources into RGB or BGR targets.
#include "imaging/colorroutines.h"

namespace colorrows {

namespace {

// The target side shared by the colour-space families: 8 or 16 bits per sample, 3 samples
// or 4 with an alpha sample that stays untouched; red first or blue first.
struct TTargetPixels {
    std::uint8_t* Row;
    std::size_t Step;
    bool Wide;

    explicit TTargetPixels(const TRowJob& job)
        : Row(job.Target),
          Step(std::size_t((job.Manager.OutFlags() & cfHasAlpha) != 0 ? 4 : 3) * (job.Manager.OutBits() / 8)),
          Wide(job.Manager.OutBits() == 16)
    {
    }

    // 8-bit results, expanded for a 16-bit target.
    template <bool RedFirst>
    void Put8(std::uint32_t index, std::uint8_t red, std::uint8_t green, std::uint8_t blue) const
    {
        std::uint8_t* t = Row + index * Step;
        const std::uint8_t first = RedFirst ? red : blue, last = RedFirst ? blue : red;
        if (Wide) {
            Write16(t, Expand8(first), false);
            Write16(t + 2, Expand8(green), false);
            Write16(t + 4, Expand8(last), false);
        } else {
            t[0] = first;
            t[1] = green;
            t[2] = last;
        }
    }

    // 16-bit results into a 16-bit target.
    template <bool RedFirst>
    void Put16(std::uint32_t index, std::uint32_t red, std::uint32_t green, std::uint32_t blue) const
    {
        std::uint8_t* t = Row + index * Step;
        Write16(t, RedFirst ? red : blue, false);
        Write16(t + 2, green, false);
        Write16(t + 4, RedFirst ? blue : red, false);
    }
};

bool SupportedDepths(const TRowJob& job)
{
    const unsigned in = job.Manager.InBits(), out = job.Manager.OutBits();
    return (in == 8 || in == 16) && (out == 8 || out == 16);
}

// (255 − X)(255 − K) / 255 on 8-bit samples.
inline std::uint8_t CMYK8(std::int32_t x, std::int32_t k)
{
    return Clamp8(x * k / 255 - x - k + 255);
}

inline std::uint8_t CMYK16To8(std::int64_t x, std::int64_t k)
{
    const std::int64_t m = x * k / 65535;
    return static_cast<std::uint8_t>(std::clamp<std::int64_t>(255 - (x + k - m) * 255 / 65535, 0, 255));
}

inline std::uint32_t CMYK16(std::int64_t x, std::int64_t k)
{
    return static_cast<std::uint32_t>((x * k / 65535 - x - k + 65535) & 0xFFFF);
}

template <bool RedFirst>
void CMYK(const TRowJob& job)
{
    if (!SupportedDepths(job))
        return;
    const unsigned in = job.Manager.InBits(), out = job.Manager.OutBits();
    const bool swap = (job.Manager.InFlags() & cfSwapOrder) != 0;
    // Planar only with exactly one plane per sample.
    const TSourceSamples samples = SourceSamples(job, 4, in / 8, true);
    const TTargetPixels target(job);
    if (in == 8) {
        ForEachPixel(job.Count, job.Mask, [&](std::uint32_t i, std::uint32_t k) {
            const std::size_t offset = k * samples.Step;
            const std::int32_t black = samples.Sample[3][offset];
            target.Put8<RedFirst>(i, CMYK8(samples.Sample[0][offset], black), CMYK8(samples.Sample[1][offset], black),
                CMYK8(samples.Sample[2][offset], black));
        });
        return;
    }
    ForEachPixel(job.Count, job.Mask, [&](std::uint32_t i, std::uint32_t k) {
        const std::size_t offset = k * samples.Step;
        const std::int64_t c = Read16(samples.Sample[0] + offset, swap);
        const std::int64_t m = Read16(samples.Sample[1] + offset, swap);
        const std::int64_t y = Read16(samples.Sample[2] + offset, swap);
        const std::int64_t black = Read16(samples.Sample[3] + offset, swap);
        if (out == 8)
            target.Put8<RedFirst>(i, CMYK16To8(c, black), CMYK16To8(m, black), CMYK16To8(y, black));
        else
            target.Put16<RedFirst>(i, CMYK16(c, black), CMYK16(m, black), CMYK16(y, black));
    });
}

// L*a*b* to RGB in extended precision; the results are 8-bit.
inline void LabToRGB8(long double l, long double a, long double b, std::uint8_t& red, std::uint8_t& green,
    std::uint8_t& blue)
{
    long double x, y, z;
    if (l < 7.9996L) {
        y = l / 903.3L;
        x = y + a / 3893.5L;
        z = y - b / 1557.4L;
    } else {
        const long double f = (l + 16) / 116;
        const long double fx = f + a / 500, fz = f - b / 200;
        x = fx * fx * fx;
        y = f * f * f;
        z = fz * fz * fz;
    }
    blue = static_cast<std::uint8_t>(RoundClamped((0.099L * x - 0.198L * y + 1.099L * z) * 255, 0, 255));
    green = static_cast<std::uint8_t>(RoundClamped((-0.952L * x + 1.893L * y + 0.059L * z) * 255, 0, 255));
    red = static_cast<std::uint8_t>(RoundClamped((2.998L * x - 1.458L * y - 0.541L * z) * 255, 0, 255));
}

template <bool RedFirst>
void Lab(const TRowJob& job)
{
    if (!SupportedDepths(job))
        return;
    const TColorManager& manager = job.Manager;
    const unsigned in = manager.InBits();
    const bool swap = (manager.InFlags() & cfSwapOrder) != 0;
    const bool lightness255 = (manager.InFlags() & cfLightness255) != 0;
    const bool biased = (manager.InFlags() & cfChromaBiased) != 0;
    const TSourceSamples samples = SourceSamples(job, 3, in / 8);
    const TTargetPixels target(job);
    ForEachPixel(job.Count, job.Mask, [&](std::uint32_t i, std::uint32_t k) {
        const std::size_t offset = k * samples.Step;
        long double l, a, b;
        if (in == 8) {
            l = samples.Sample[0][offset];
            if (lightness255)
                l /= 2.55L;
            const std::uint8_t rawA = samples.Sample[1][offset], rawB = samples.Sample[2][offset];
            a = biased ? rawA - 128 : static_cast<std::int8_t>(rawA);
            b = biased ? rawB - 128 : static_cast<std::int8_t>(rawB);
        } else {
            // 16-bit L* runs over 0 … 65535 for 0 … 100; a* and b* carry 8 fraction bits.
            l = Read16(samples.Sample[0] + offset, swap) * 100.0L / 65535;
            const std::uint32_t rawA = Read16(samples.Sample[1] + offset, swap);
            const std::uint32_t rawB = Read16(samples.Sample[2] + offset, swap);
            a = (biased ? std::int32_t(rawA) - 32768 : static_cast<std::int16_t>(rawA)) / 256.0L;
            b = (biased ? std::int32_t(rawB) - 32768 : static_cast<std::int16_t>(rawB)) / 256.0L;
        }
        std::uint8_t red, green, blue;
        LabToRGB8(l, a, b, red, green, blue);
        target.Put8<RedFirst>(i, red, green, blue);
    });
}

// YCbCr and PhotoYCC through the chroma tables; 16-bit samples are reduced first.
template <bool RedFirst>
void ChromaTables(const TRowJob& job)
{
    const TColorManager& manager = job.Manager;
    const unsigned in = manager.InBits();
    const bool swap = (manager.InFlags() & cfSwapOrder) != 0;
    const TSourceSamples samples = SourceSamples(job, 3, in / 8);
    const TTargetPixels target(job);
    const auto& crToRed = manager.CrToRed();
    const auto& cbToBlue = manager.CbToBlue();
    const auto& crToGreen = manager.CrToGreen();
    const auto& cbToGreen = manager.CbToGreen();
    const auto put = [&](std::uint32_t i, std::int32_t y, std::uint8_t cb, std::uint8_t cr) {
        target.Put8<RedFirst>(i, Clamp8(y + crToRed[cr]), Clamp8(y + cbToGreen[cb] + crToGreen[cr]),
            Clamp8(y + cbToBlue[cb]));
    };
    if (in == 8)
        ForEachPixel(job.Count, job.Mask, [&](std::uint32_t i, std::uint32_t k) {
            const std::size_t offset = k * samples.Step;
            put(i, samples.Sample[0][offset], samples.Sample[1][offset], samples.Sample[2][offset]);
        });
    else
        ForEachPixel(job.Count, job.Mask, [&](std::uint32_t i, std::uint32_t k) {
            const std::size_t offset = k * samples.Step;
            put(i, Reduce16(Read16(samples.Sample[0] + offset, swap)), Reduce16(Read16(samples.Sample[1] + offset, swap)),
                Reduce16(Read16(samples.Sample[2] + offset, swap)));
        });
}

template <bool RedFirst>
void YCbCr(const TRowJob& job)
{
    if (SupportedDepths(job))
        ChromaTables<RedFirst>(job);
}

template <bool RedFirst>
void PhotoYCC(const TRowJob& job)
{
    if (!SupportedDepths(job))
        return;
    const TColorManager& manager = job.Manager;
    if (manager.InBits() != 16 || manager.OutBits() != 16) {
        ChromaTables<RedFirst>(job);
        return;
    }
    // Full precision: u = 1.3584 Y, t = C1 − 40092, v = C2 − 35209.
    const bool swap = (manager.InFlags() & cfSwapOrder) != 0;
    const TSourceSamples samples = SourceSamples(job, 3, 2);
    const TTargetPixels target(job);
    ForEachPixel(job.Count, job.Mask, [&](std::uint32_t i, std::uint32_t k) {
        const std::size_t offset = k * samples.Step;
        const long double u = 1.3584L * Read16(samples.Sample[0] + offset, swap);
        const long double t = static_cast<long double>(Read16(samples.Sample[1] + offset, swap)) - 40092;
        const long double v = static_cast<long double>(Read16(samples.Sample[2] + offset, swap)) - 35209;
        target.Put16<RedFirst>(i, static_cast<std::uint32_t>(RoundClamped(u + 1.8215L * v, 0, 65535)),
            static_cast<std::uint32_t>(RoundClamped(u - 0.9271435L * v - 0.4302726L * t, 0, 65535)),
            static_cast<std::uint32_t>(RoundClamped(u + 2.2179L * t, 0, 65535)));
    });
}

} // namespace

void CMYKToRGB(const TRowJob& job) { CMYK<true>(job); }
void CMYKToBGR(const TRowJob& job) { CMYK<false>(job); }
void LabToRGB(const TRowJob& job) { Lab<true>(job); }
void LabToBGR(const TRowJob& job) { Lab<false>(job); }
void YCbCrToRGB(const TRowJob& job) { YCbCr<true>(job); }
void YCbCrToBGR(const TRowJob& job) { YCbCr<false>(job); }
void PhotoYCCToRGB(const TRowJob& job) { PhotoYCC<true>(job); }
void PhotoYCCToBGR(const TRowJob& job) { PhotoYCC<false>(job); }

} // namespace colorrows
