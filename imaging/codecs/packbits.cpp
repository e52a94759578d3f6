#include "imaging/codecs/packbits.h"

#include <algorithm>
#include <cstring>

void TPackbitsRLEDecoder::DecodeData(std::uint8_t*& source, std::uint8_t*& dest, std::size_t packedSize,
    std::size_t unpackedSize)
{
    const std::uint8_t* input = source;
    const std::uint8_t* const inputEnd = source + packedSize;
    std::uint8_t* output = dest;
    std::size_t room = unpackedSize;
    // While a longest run (128 bytes) fits in both buffers, copy and fill in fixed blocks of
    // 128 bytes: bytes past the run are overwritten by the following runs, or cleared at the
    // end when the data stops first (the last block reaches at most 127 bytes past them).
    constexpr std::size_t Block = 128;
    while (room >= Block && static_cast<std::size_t>(inputEnd - input) > Block) {
        const int count = static_cast<std::int8_t>(*input++);
        if (count >= 0) {
            const std::size_t length = std::size_t(count) + 1;
            std::memcpy(output, input, Block);
            input += length;
            output += length;
            room -= length;
        } else if (count != -128) {
            const std::size_t length = std::size_t(1 - count);
            std::memset(output, *input++, Block);
            output += length;
            room -= length;
        }
    }
    const std::uint8_t* const scratchEnd = output == dest ? dest : output + std::min(Block - 1, room);
    while (room > 0 && input < inputEnd) {
        const int count = static_cast<std::int8_t>(*input++);
        if (count >= 0) { // copy the next count + 1 bytes
            const std::size_t length = std::min({std::size_t(count) + 1, room,
                static_cast<std::size_t>(inputEnd - input)});
            std::memcpy(output, input, length);
            input += length;
            output += length;
            room -= length;
        } else if (count != -128) { // repeat the next byte 1 - count times
            if (input == inputEnd)
                break;
            const std::size_t length = std::min(std::size_t(1 - count), room);
            std::memset(output, *input++, length);
            output += length;
            room -= length;
        }
    }
    if (scratchEnd > output)
        std::memset(output, 0, std::size_t(scratchEnd - output));
}
