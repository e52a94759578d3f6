#pragma once
// The string table shared by the two LZW decoders. Every string of the table has been written
// to the output before: an entry is the previous string followed by the first byte of the
// string after it, and both lie side by side in the output. So an entry is kept as the place
// and length of that earlier copy, and decoding a code is a copy within the output.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace lzw {

constexpr unsigned TableSize = 4096;
constexpr int MaxWidth = 12;

struct TEntry {
    std::uint32_t Offset; // from the start of the output
    std::uint32_t Length;
};

// Copies length bytes (at most room) from earlier output to target, never writing past them.
// The one overlap possible is a code that repeats the string just written plus its first
// byte: source + length - 1 == target.
inline void CopyString(std::uint8_t* target, const std::uint8_t* source, std::size_t length, std::size_t room)
{
    if (length > room)
        length = room;
    const std::size_t distance = static_cast<std::size_t>(target - source);
    std::size_t separate = length <= distance ? length : distance; // bytes without overlap
    if (separate >= 16) {
        std::memcpy(target, source, separate);
    } else if (separate >= 8) { // two overlapping 8-byte moves cover 8 to 15 bytes
        std::uint64_t head, tail;
        std::memcpy(&head, source, 8);
        std::memcpy(&tail, source + separate - 8, 8);
        std::memcpy(target, &head, 8);
        std::memcpy(target + separate - 8, &tail, 8);
    } else if (separate >= 4) {
        std::uint32_t head, tail;
        std::memcpy(&head, source, 4);
        std::memcpy(&tail, source + separate - 4, 4);
        std::memcpy(target, &head, 4);
        std::memcpy(target + separate - 4, &tail, 4);
    } else {
        for (std::size_t index = 0; index < separate; ++index)
            target[index] = source[index];
    }
    for (; separate < length; ++separate) // overlapping rest, byte by byte
        target[separate] = source[separate];
}

}
