#include "imaging/codecs/giflzw.h"

#include "imaging/codecs/lzwstrings.h"

#include <cstdint>
#include <cstring>

namespace {

using lzw::MaxWidth;
using lzw::TableSize;

inline std::uint64_t LoadLittleEndian64(const std::uint8_t* bytes)
{
    std::uint64_t value;
    std::memcpy(&value, bytes, 8);
    return value;
}

}

void TGIFLZWDecoder::DecodeData(std::uint8_t*& source, std::uint8_t*& dest, std::size_t packedSize,
    std::size_t unpackedSize)
{
    // Indices are bytes: code sizes 1 to 8 only; with any other nothing can be decoded.
    if (packedSize == 0 || unpackedSize == 0 || FInitialCodeSize < 1 || FInitialCodeSize > 8)
        return;
    const unsigned clearCode = 1u << FInitialCodeSize;
    const unsigned endCode = clearCode + 1;
    const unsigned firstFreeCode = clearCode + 2;
    const int firstWidth = FInitialCodeSize + 1;

    // Offsets are 32-bit: longer output is cut at 4 GB.
    if (unpackedSize > UINT32_MAX)
        unpackedSize = UINT32_MAX;
    lzw::TEntry table[TableSize]; // entries are written before they are read
    const std::uint8_t* input = source;
    const std::uint8_t* const inputEnd = source + packedSize;
    std::uint8_t* output = dest;
    std::uint8_t* const outputEnd = dest + unpackedSize;

    // Bits are kept right-aligned in bitBuffer, bitCount of them valid.
    std::uint64_t bitBuffer = 0;
    int bitCount = 0;
    int width = firstWidth;
    unsigned nextCode = firstFreeCode;
    bool hasPrevious = false;
    unsigned entryLimit = 0;           // TableSize once there is a previous string, else 0
    unsigned widthLimit = (1u << firstWidth); // next free code at which the width grows
    std::size_t previousStart = 0; // the previous string in the output
    std::size_t previousLength = 0;

    for (;;) {
        if (inputEnd - input >= 8) { // refill without a branch on the bit count
            bitBuffer |= LoadLittleEndian64(input) << bitCount;
            input += (63 - bitCount) >> 3;
            bitCount |= 56;
        } else if (bitCount < width) {
            while (bitCount <= 56 && input < inputEnd) {
                bitBuffer |= std::uint64_t(*input++) << bitCount;
                bitCount += 8;
            }
            if (bitCount < width)
                break; // input used up
        }
        const unsigned code = static_cast<unsigned>(bitBuffer & ((1u << width) - 1));
        bitBuffer >>= width;
        bitCount -= width;

        if (code == clearCode) {
            width = firstWidth;
            nextCode = firstFreeCode;
            hasPrevious = false;
            entryLimit = 0;
            widthLimit = 1u << firstWidth;
            continue;
        }
        if (code == endCode) {
            // Ends the codes of the current byte; any further bytes are decoded on.
            bitBuffer >>= bitCount & 7;
            bitCount &= ~7;
            continue;
        }
        const std::size_t position = static_cast<std::size_t>(output - dest);
        if (code < clearCode) {
            *output++ = static_cast<std::uint8_t>(code);
        } else if (!hasPrevious || code > nextCode || (code == nextCode && nextCode == TableSize)) {
            continue; // not in the table: dropped
        }
        // The new entry is the previous string plus the first byte of the current one, which
        // lies right behind it in the output. For code == nextCode it is the entry itself.
        if (nextCode < entryLimit) {
            table[nextCode] = {static_cast<std::uint32_t>(previousStart), static_cast<std::uint32_t>(previousLength + 1)};
            ++nextCode;
        }
        // No early change; checked after every code, also the first after a clear, which
        // with code size 1 already needs the wider code (the first free code is 4).
        if (nextCode == widthLimit) {
            ++width;
            widthLimit = width < MaxWidth ? 1u << width : TableSize + 1;
        }
        hasPrevious = true;
        entryLimit = TableSize;
        previousStart = position;
        if (code < clearCode) {
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
