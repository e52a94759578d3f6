#pragma once
#include "base/exception.h"

#include <cstddef>
#include <cstdint>
#include <span>

// Bounded reading of file bytes: every take is checked against what remains and fails
// with the stream read error before touching a byte past the end.
class TByteReader {
public:
    explicit TByteReader(std::span<const std::uint8_t> data) : FData(data) {}

    std::size_t Position() const { return FPos; }
    std::size_t Remaining() const { return FData.size() - FPos; }
    bool AtEnd() const { return FPos == FData.size(); }
    void Seek(std::size_t position)
    {
        if (position > FData.size())
            throw EReadError(SReadError);
        FPos = position;
    }
    void Skip(std::size_t count) { Take(count); }
    std::span<const std::uint8_t> Take(std::size_t count)
    {
        if (count > FData.size() - FPos) // not FPos + count > size(): that sum can wrap
            throw EReadError(SReadError);
        FPos += count;
        return FData.subspan(FPos - count, count);
    }
    std::uint8_t ReadU8() { return Take(1)[0]; }
    std::uint16_t ReadU16LE()
    {
        const auto b = Take(2);
        return static_cast<std::uint16_t>(b[0] | b[1] << 8);
    }
    std::uint16_t ReadU16BE()
    {
        const auto b = Take(2);
        return static_cast<std::uint16_t>(b[0] << 8 | b[1]);
    }
    std::uint32_t ReadU32LE()
    {
        const auto b = Take(4);
        return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
    }
    std::uint32_t ReadU32BE()
    {
        const auto b = Take(4);
        return std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3];
    }

private:
    std::span<const std::uint8_t> FData;
    std::size_t FPos = 0;
};
