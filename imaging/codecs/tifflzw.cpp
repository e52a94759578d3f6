#include "imaging/codecs/tifflzw.h"

#include "imaging/codecs/giflzw.h"

#include "imaging/codecs/lzwstrings.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr unsigned ClearCode = 256;
constexpr unsigned EndCode = 257;
constexpr unsigned FirstFreeCode = 258;
using lzw::MaxWidth;
using lzw::TableSize;

inline std::uint64_t LoadBigEndian64(const std::uint8_t* bytes)
{
    std::uint64_t value;
    std::memcpy(&value, bytes, 8);
    return __builtin_bswap64(value);
}

}

void TTIFFLZWDecoder::DecodeData(std::uint8_t*& source, std::uint8_t*& dest, std::size_t packedSize,
    std::size_t unpackedSize)
{
    if (packedSize == 0 || unpackedSize == 0)
        return;
    // Files of old writers use the GIF-like variant (codes least significant bit first, no
    // early change); their data starts with a clear code stored that way: 0x00, then an odd byte.
    if (packedSize >= 2 && source[0] == 0 && (source[1] & 1) != 0) {
        TGIFLZWDecoder(8).DecodeData(source, dest, packedSize, unpackedSize);
        return;
    }
    // Offsets are 32-bit: longer output is cut at 4 GB.
    if (unpackedSize > UINT32_MAX)
        unpackedSize = UINT32_MAX;
    lzw::TEntry table[TableSize]; // entries are written before they are read
    const std::uint8_t* input = source;
    const std::uint8_t* const inputEnd = source + packedSize;
    std::uint8_t* output = dest;
    std::uint8_t* const outputEnd = dest + unpackedSize;

    // Bits are kept left-aligned in bitBuffer, bitCount of them valid.
    std::uint64_t bitBuffer = 0;
    int bitCount = 0;
    int width = 9;
    unsigned nextCode = FirstFreeCode;
    bool hasPrevious = false;
    unsigned entryLimit = 0;           // TableSize once there is a previous string, else 0
    unsigned widthLimit = 511; // next free code at which the width grows
    std::size_t previousStart = 0; // the previous string in the output
    std::size_t previousLength = 0;

    for (;;) {
        if (inputEnd - input >= 8) { // refill without a branch on the bit count
            bitBuffer |= LoadBigEndian64(input) >> bitCount;
            input += (63 - bitCount) >> 3;
            bitCount |= 56;
        } else if (bitCount < width) {
            while (bitCount <= 56 && input < inputEnd) {
                bitBuffer |= std::uint64_t(*input++) << (56 - bitCount);
                bitCount += 8;
            }
            if (bitCount < width)
                break; // input used up
        }
        unsigned code = static_cast<unsigned>(bitBuffer >> (64 - width));
        bitBuffer <<= width;
        bitCount -= width;

        if (code == ClearCode) {
            width = 9;
            nextCode = FirstFreeCode;
            hasPrevious = false;
            entryLimit = 0;
            widthLimit = 511;
            continue;
        }
        if (code == EndCode)
            break;
        const std::size_t position = static_cast<std::size_t>(output - dest);
        if (code < 256) {
            *output++ = static_cast<std::uint8_t>(code);
        } else if (!hasPrevious || code > nextCode || (code == nextCode && nextCode == TableSize)) {
            continue; // not in the table: dropped
        }
        // The new entry is the previous string plus the first byte of the current one, which
        // lies right behind it in the output. For code == nextCode it is the entry itself.
        if (nextCode < entryLimit) {
            table[nextCode] = {static_cast<std::uint32_t>(previousStart), static_cast<std::uint32_t>(previousLength + 1)};
            ++nextCode;
            if (nextCode == widthLimit) { // one code early
                ++width;
                widthLimit = width < MaxWidth ? (1u << width) - 1 : TableSize + 1;
            }
        }
        hasPrevious = true;
        entryLimit = TableSize;
        previousStart = position;
        if (code < 256) {
            previousLength = 1;
            if (output == outputEnd)
                break;
            continue;
        }
        const lzw::TEntry entry = table[code];
        const std::size_t room = static_cast<std::size_t>(outputEnd - output);
        lzw::CopyString(output, dest + entry.Offset, entry.Length, room);
        if (entry.Length >= room)
            break;
        previousLength = entry.Length;
        output += entry.Length;
    }
}
