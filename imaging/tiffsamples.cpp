#include "imaging/tiffsamples.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

__extension__ typedef unsigned __int128 TWide;

double HalfToDouble(std::uint32_t half)
{
    const int exponent = int(half >> 10 & 0x1F);
    const double mantissa = double(half & 0x3FF);
    double value;
    if (exponent == 0)
        value = std::ldexp(mantissa, -24);
    else if (exponent == 31)
        value = mantissa == 0 ? INFINITY : NAN;
    else
        value = std::ldexp(mantissa + 1024.0, exponent - 25);
    return half & 0x8000 ? -value : value;
}

std::uint8_t FloatTo8(double value)
{
    if (!(value > 0.0)) // NaN and everything up to 0
        return 0;
    if (value >= 1.0)
        return 255;
    return std::uint8_t(std::lround(value * 255.0));
}

std::uint64_t ReadBytes(const std::uint8_t* p, unsigned bytes, bool bigEndian)
{
    std::uint64_t value = 0;
    if (bigEndian)
        for (unsigned i = 0; i < bytes; ++i)
            value = value << 8 | p[i];
    else
        for (unsigned i = bytes; i-- > 0;)
            value = value << 8 | p[i];
    return value;
}

void WriteBytes(std::uint8_t* p, unsigned bytes, bool bigEndian, std::uint64_t value)
{
    for (unsigned i = 0; i < bytes; ++i, value >>= 8)
        p[bigEndian ? bytes - 1 - i : i] = std::uint8_t(value);
}

} // namespace

bool TSampleUnpacker::Readable(unsigned bits, TSampleKind kind)
{
    switch (kind) {
    case TSampleKind::skUnsigned: return (bits >= 1 && bits <= 32) || bits == 64;
    case TSampleKind::skSigned: return (bits >= 2 && bits <= 32) || bits == 64;
    case TSampleKind::skFloat: return bits == 16 || bits == 32 || bits == 64;
    }
    return false;
}

std::uint64_t TSampleUnpacker::Raw(const std::uint8_t* source, std::size_t index) const
{
    if (FBits % 8 == 0)
        return ReadBytes(source + index * (FBits / 8), FBits / 8, FBigEndian);
    // A bit stream: at most 32 bits here, so five bytes hold every sample.
    const std::uint64_t first = std::uint64_t(index) * FBits;
    const std::uint8_t* p = source + first / 8;
    const unsigned skip = unsigned(first % 8);
    const unsigned bytes = (skip + FBits + 7) / 8;
    std::uint64_t value = 0;
    for (unsigned i = 0; i < bytes; ++i)
        value = value << 8 | p[i];
    return value >> (bytes * 8 - skip - FBits) & ((std::uint64_t(1) << FBits) - 1);
}

void TSampleUnpacker::ToEightBits(const std::uint8_t* source, std::uint8_t* target, std::size_t count) const
{
    if (FKind == TSampleKind::skFloat) {
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t raw = Raw(source, i);
            double value;
            if (FBits == 16) {
                value = HalfToDouble(std::uint32_t(raw));
            } else if (FBits == 32) {
                float single;
                const std::uint32_t word = std::uint32_t(raw);
                std::memcpy(&single, &word, 4);
                value = single;
            } else {
                std::memcpy(&value, &raw, 8);
            }
            target[i] = FloatTo8(value);
        }
        return;
    }
    const std::uint64_t top = FBits == 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << FBits) - 1;
    const std::uint64_t bias = FKind == TSampleKind::skSigned ? std::uint64_t(1) << (FBits - 1) : 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t value = (Raw(source, i) ^ bias) & top; // two's complement plus 2^(n-1)
        target[i] = std::uint8_t(TWide(value) * 255 / top);
    }
}

void TSampleUnpacker::ToIndices(const std::uint8_t* source, std::uint32_t* target, std::size_t count) const
{
    for (std::size_t i = 0; i < count; ++i)
        target[i] = std::uint32_t(Raw(source, i));
}

void UndoWidePredictor(std::uint8_t* row, std::size_t samples, unsigned stride, unsigned bytes, bool bigEndian)
{
    for (std::size_t i = stride; i < samples; ++i) {
        std::uint8_t* here = row + i * bytes;
        const std::uint64_t sum = ReadBytes(here, bytes, bigEndian) + ReadBytes(here - std::size_t(stride) * bytes, bytes, bigEndian);
        WriteBytes(here, bytes, bigEndian, sum);
    }
}

void UndoFloatPredictor(std::uint8_t* row, std::size_t samples, unsigned stride, unsigned bytes,
    std::vector<std::uint8_t>& scratch)
{
    const std::size_t total = samples * bytes;
    for (std::size_t i = stride; i < total; ++i)
        row[i] = std::uint8_t(row[i] + row[i - stride]);
    scratch.assign(row, row + total);
    for (std::size_t i = 0; i < samples; ++i)
        for (unsigned b = 0; b < bytes; ++b)
            row[i * bytes + b] = scratch[b * samples + i];
}
