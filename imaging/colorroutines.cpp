// Row routines for indexed, gray and RGB data.
#include "imaging/colorroutines.h"

#include <bit>
#include <cstring>

namespace colorrows {

TSourceSamples SourceSamples(const TRowJob& job, unsigned samples, unsigned bytesPerSample, bool exactPlanes)
{
    TSourceSamples result;
    const bool planar = exactPlanes ? job.Sources.size() == samples : job.Sources.size() > 1;
    if (planar) {
        if (job.Sources.size() < samples)
            throw EColorConversionError(SConversionFailed);
        for (unsigned k = 0; k < samples; ++k)
            result.Sample[k] = job.Sources[k];
        result.Step = bytesPerSample;
    } else {
        for (unsigned k = 0; k < samples; ++k)
            result.Sample[k] = job.Sources[0] + k * bytesPerSample;
        result.Step = std::size_t(samples) * bytesPerSample;
    }
    return result;
}

namespace {

// Reads width bits (1 to 16) at bit position, most significant bits first, touching only
// the bytes that hold them.
inline std::uint32_t GetBits(const std::uint8_t* data, std::uint64_t position, unsigned width)
{
    std::uint32_t value = 0;
    while (width > 0) {
        const unsigned offset = static_cast<unsigned>(position & 7);
        const unsigned available = 8 - offset;
        const unsigned take = std::min(available, width);
        const unsigned bits = (data[position >> 3] >> (available - take)) & ((1u << take) - 1);
        value = value << take | bits;
        position += take;
        width -= take;
    }
    return value;
}

// Writes width bits (1 to 16) at bit position, most significant bits first, keeping the
// other bits of the bytes touched.
inline void PutBits(std::uint8_t* data, std::uint64_t position, unsigned width, std::uint32_t value)
{
    while (width > 0) {
        const unsigned offset = static_cast<unsigned>(position & 7);
        const unsigned available = 8 - offset;
        const unsigned take = std::min(available, width);
        const unsigned shift = available - take;
        const unsigned fieldMask = ((1u << take) - 1) << shift;
        const unsigned bits = (value >> (width - take)) & ((1u << take) - 1);
        std::uint8_t& byte = data[position >> 3];
        byte = static_cast<std::uint8_t>((byte & ~fieldMask) | (bits << shift));
        position += take;
        width -= take;
    }
}

inline std::uint32_t Rescale(std::uint32_t value, std::uint32_t fromMax, std::uint32_t toMax)
{
    return static_cast<std::uint32_t>(std::uint64_t(value) * toMax / fromMax);
}

} // namespace

void Indexed16To16(const TRowJob& job)
{
    const std::uint8_t* source = job.Sources[0];
    std::uint8_t* target = job.Target;
    if ((job.Manager.InFlags() & cfSwapOrder) == 0) {
        if (job.Mask == 0xFF) {
            std::memcpy(target, source, std::size_t(job.Count) * 2);
            return;
        }
        ForEachPixel(job.Count, job.Mask, [&](std::uint32_t i, std::uint32_t k) {
            std::memcpy(target + std::size_t(i) * 2, source + std::size_t(k) * 2, 2);
        });
        return;
    }
    ForEachPixel(job.Count, job.Mask, [&](std::uint32_t i, std::uint32_t k) {
        target[std::size_t(i) * 2] = source[std::size_t(k) * 2 + 1];
        target[std::size_t(i) * 2 + 1] = source[std::size_t(k) * 2];
    });
}

void Indexed16ToN(const TRowJob& job)
{
    const bool swap = (job.Manager.InFlags() & cfSwapOrder) != 0;
    const unsigned outBits = job.Manager.OutBits();
    const std::uint32_t outMax = (1u << outBits) - 1;
    const std::uint8_t* source = job.Sources[0];
    ForEachPixel(job.Count, job.Mask, [&](std::uint32_t i, std::uint32_t k) {
        const std::uint32_t value = Read16(source + std::size_t(k) * 2, swap);
        PutBits(job.Target, std::uint64_t(i) * outBits, outBits, Rescale(value, 65535, outMax));
    });
}

void IndexedNTo16(const TRowJob& job)
{
    const bool swap = (job.Manager.InFlags() & cfSwapOrder) != 0;
    const unsigned inBits = job.Manager.InBits();
    const std::uint32_t inMax = (1u << inBits) - 1;
    const std::uint8_t* source = job.Sources[0];
    ForEachPixel(job.Count, job.Mask, [&](std::uint32_t i, std::uint32_t k) {
        const std::uint32_t value = GetBits(source, std::uint64_t(k) * inBits, inBits);
        Write16(job.Target + std::size_t(i) * 2, Rescale(value, inMax, 65535), swap);
    });
}

void IndexedNToM(const TRowJob& job)
{
    const unsigned inBits = job.Manager.InBits(), outBits = job.Manager.OutBits();
    const std::uint8_t* source = job.Sources[0];
    std::uint8_t* target = job.Target;
    if (inBits == outBits && job.Mask == 0xFF) {
        std::memcpy(target, source, (std::size_t(job.Count) * inBits + 7) / 8);
        return;
    }
    if (inBits == 8 && outBits == 8) {
        ForEachPixel(job.Count, job.Mask, [&](std::uint32_t i, std::uint32_t k) { target[i] = source[k]; });
        return;
    }
    // Neither depth is 16 here. Sources up to 8 bits rescale through a table of every
    // value; deeper ones (9 to 15 bits) compute each value.
    const std::uint32_t inMax = (1u << inBits) - 1, outMax = (1u << outBits) - 1;
    if (inBits > 8) {
        ForEachPixel(job.Count, job.Mask, [&](std::uint32_t i, std::uint32_t k) {
            const std::uint32_t value = GetBits(source, std::uint64_t(k) * inBits, inBits);
            PutBits(target, std::uint64_t(i) * outBits, outBits, Rescale(value, inMax, outMax));
        });
        return;
    }
    std::uint16_t scaled[256];
    for (std::uint32_t value = 0; value <= inMax; ++value)
        scaled[value] = static_cast<std::uint16_t>(Rescale(value, inMax, outMax));
    if (inBits == 8) {
        ForEachPixel(job.Count, job.Mask, [&](std::uint32_t i, std::uint32_t k) {
            PutBits(target, std::uint64_t(i) * outBits, outBits, scaled[source[k]]);
        });
        return;
    }
    if (outBits == 8) {
        ForEachPixel(job.Count, job.Mask, [&](std::uint32_t i, std::uint32_t k) {
            target[i] = static_cast<std::uint8_t>(scaled[GetBits(source, std::uint64_t(k) * inBits, inBits)]);
        });
        return;
    }
    ForEachPixel(job.Count, job.Mask, [&](std::uint32_t i, std::uint32_t k) {
        const std::uint32_t value = GetBits(source, std::uint64_t(k) * inBits, inBits);
        PutBits(target, std::uint64_t(i) * outBits, outBits, scaled[value]);
    });
}

void GrayCopy(const TRowJob& job)
{
    const unsigned inBits = job.Manager.InBits(), outBits = job.Manager.OutBits();
    if ((inBits != 8 && inBits != 16) || (outBits != 8 && outBits != 16))
        return;
    const bool swap = (job.Manager.InFlags() & cfSwapOrder) != 0;
    const unsigned inBytes = inBits / 8;
    // Gray, then alpha when there is one; a planar source gives the gray plane first.
    const TSourceSamples samples = SourceSamples(job, (job.Manager.InFlags() & cfHasAlpha) != 0 ? 2 : 1, inBytes);
    const std::size_t step = samples.Step;
    const std::uint8_t* source = samples.Sample[0];
    std::uint8_t* target = job.Target;
    if (inBits == 8 && outBits == 8) {
        if (step == 1 && job.Mask == 0xFF)
            std::memcpy(target, source, job.Count);
        else
            ForEachPixel(job.Count, job.Mask, [&](std::uint32_t i, std::uint32_t k) { target[i] = source[k * step]; });
    } else if (inBits == 8) {
        ForEachPixel(job.Count, job.Mask, [&](std::uint32_t i, std::uint32_t k) {
            Write16(target + std::size_t(i) * 2, Expand8(source[k * step]), false);
        });
    } else if (outBits == 8) {
        ForEachPixel(job.Count, job.Mask, [&](std::uint32_t i, std::uint32_t k) {
            target[i] = Reduce16(Read16(source + k * step, swap));
        });
    } else {
        ForEachPixel(job.Count, job.Mask, [&](std::uint32_t i, std::uint32_t k) {
            Write16(target + std::size_t(i) * 2, Read16(source + k * step, swap), false);
        });
    }
}

namespace {

// 8 → 8 from interleaved samples, the shape of nearly every picture: the steps are
// compile-time constants so the loop compiles to plain byte moves.
template <unsigned SourceStep, unsigned TargetStep, bool Reverse, bool Curve>
void CopyInterleaved8(const TRowJob& job, const std::uint8_t* table)
{
    constexpr bool CopyAlpha = SourceStep == 4 && TargetStep == 4;
    constexpr unsigned First = Reverse ? 2 : 0, Last = Reverse ? 0 : 2;
    const std::uint8_t* source = job.Sources[0];
    std::uint8_t* target = job.Target;
    const auto map = [table](std::uint8_t value) { return Curve ? table[value] : value; };
    if constexpr (CopyAlpha && Reverse && !Curve && std::endian::native == std::endian::little) {
        if (job.Mask == 0xFF) {
            // Two pixels per 64-bit word: swap the first and third byte of each, keep the
            // others.
            std::uint32_t i = 0;
            for (; i + 2 <= job.Count; i += 2) {
                std::uint64_t pair;
                std::memcpy(&pair, source + std::size_t(i) * 4, 8);
                pair = (pair & 0xFF00FF00FF00FF00u) | (pair >> 16 & 0x000000FF000000FFu)
                    | (pair & 0x000000FF000000FFu) << 16;
                std::memcpy(target + std::size_t(i) * 4, &pair, 8);
            }
            for (; i < job.Count; ++i) {
                const std::uint8_t* s = source + std::size_t(i) * 4;
                std::uint8_t* t = target + std::size_t(i) * 4;
                const std::uint8_t first = s[0];
                t[0] = s[2], t[1] = s[1], t[2] = first, t[3] = s[3];
            }
            return;
        }
    }
    if (job.Mask == 0xFF) {
        // The samples are read before any is written: the compiler cannot tell the rows apart.
        const std::uint8_t* s = source;
        std::uint8_t* t = target;
        for (std::uint32_t n = job.Count; n != 0; --n, s += SourceStep, t += TargetStep) {
            const std::uint8_t first = s[First], second = s[1], third = s[Last];
            std::uint8_t alpha = 0;
            if constexpr (CopyAlpha)
                alpha = s[3];
            t[0] = map(first);
            t[1] = map(second);
            t[2] = map(third);
            if constexpr (CopyAlpha)
                t[3] = alpha;
        }
        return;
    }
    ForEachPixel(job.Count, job.Mask, [&](std::uint32_t i, std::uint32_t k) {
        const std::uint8_t* s = source + std::size_t(k) * SourceStep;
        std::uint8_t* t = target + std::size_t(i) * TargetStep;
        t[0] = map(s[First]);
        t[1] = map(s[1]);
        t[2] = map(s[Last]);
        if constexpr (CopyAlpha)
            t[3] = s[3];
    });
}

template <bool Reverse, bool Curve>
void CopyInterleaved8(const TRowJob& job, unsigned sourceStep, unsigned targetStep, const std::uint8_t* table)
{
    if (sourceStep == 3)
        targetStep == 3 ? CopyInterleaved8<3, 3, Reverse, Curve>(job, table)
                        : CopyInterleaved8<3, 4, Reverse, Curve>(job, table);
    else
        targetStep == 3 ? CopyInterleaved8<4, 3, Reverse, Curve>(job, table)
                        : CopyInterleaved8<4, 4, Reverse, Curve>(job, table);
}

// Every other arrangement and depth: the samples are read through their addresses.
template <bool Reverse>
void CopyGeneral(const TRowJob& job)
{
    const TColorManager& manager = job.Manager;
    const unsigned inBits = manager.InBits(), outBits = manager.OutBits();
    const bool sourceAlpha = (manager.InFlags() & cfHasAlpha) != 0;
    const bool targetAlpha = (manager.OutFlags() & cfHasAlpha) != 0;
    const bool copyAlpha = sourceAlpha && targetAlpha;
    const bool swap = (manager.InFlags() & cfSwapOrder) != 0;
    const bool curve = (manager.OutFlags() & cfApplyCurve) != 0;
    const std::uint8_t* table = manager.ToneTable().data();
    const unsigned inBytes = inBits / 8, outBytes = outBits / 8;
    const TSourceSamples samples = SourceSamples(job, sourceAlpha ? 4 : 3, inBytes);
    const std::size_t targetStep = std::size_t(targetAlpha ? 4 : 3) * outBytes;
    constexpr unsigned Order[3] = { Reverse ? 2u : 0u, 1u, Reverse ? 0u : 2u };
    std::uint8_t* target = job.Target;

    const auto each = [&](auto convert) {
        ForEachPixel(job.Count, job.Mask, [&](std::uint32_t i, std::uint32_t k) {
            std::uint8_t* t = target + i * targetStep;
            const std::size_t offset = k * samples.Step;
            for (unsigned j = 0; j < 3; ++j)
                convert(t + j * outBytes, samples.Sample[Order[j]] + offset, true);
            if (copyAlpha)
                convert(t + 3 * outBytes, samples.Sample[3] + offset, false);
        });
    };
    if (inBits == 8 && outBits == 8)
        each([&](std::uint8_t* t, const std::uint8_t* s, bool colour) { *t = curve && colour ? table[*s] : *s; });
    else if (inBits == 16 && outBits == 8)
        each([&](std::uint8_t* t, const std::uint8_t* s, bool colour) {
            const std::uint8_t value = Reduce16(Read16(s, swap));
            *t = curve && colour ? table[value] : value;
        });
    else if (inBits == 8 && outBits == 16)
        each([&](std::uint8_t* t, const std::uint8_t* s, bool colour) {
            Write16(t, Expand8(curve && colour ? table[*s] : *s), swap);
        });
    else if (inBits == 16 && outBits == 16)
        each([&](std::uint8_t* t, const std::uint8_t* s, bool) { Write16(t, Read16(s, swap), false); });
}

template <bool Reverse>
void ColorCopy(const TRowJob& job)
{
    const TColorManager& manager = job.Manager;
    if (manager.InBits() == 8 && manager.OutBits() == 8 && job.Sources.size() == 1) {
        const unsigned sourceStep = (manager.InFlags() & cfHasAlpha) != 0 ? 4 : 3;
        const unsigned targetStep = (manager.OutFlags() & cfHasAlpha) != 0 ? 4 : 3;
        const std::uint8_t* table = manager.ToneTable().data();
        if ((manager.OutFlags() & cfApplyCurve) != 0)
            CopyInterleaved8<Reverse, true>(job, sourceStep, targetStep, table);
        else if (!Reverse && sourceStep == targetStep && job.Mask == 0xFF)
            std::memcpy(job.Target, job.Sources[0], std::size_t(job.Count) * sourceStep);
        else
            CopyInterleaved8<Reverse, false>(job, sourceStep, targetStep, table);
        return;
    }
    CopyGeneral<Reverse>(job);
}

} // namespace

void ColorCopySameOrder(const TRowJob& job)
{
    ColorCopy<false>(job);
}

void ColorCopyReversedOrder(const TRowJob& job)
{
    ColorCopy<true>(job);
}

} // namespace colorrows
