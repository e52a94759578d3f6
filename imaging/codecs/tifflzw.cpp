#include "imaging/codecs/tifflzw.h"

#include "imaging/codecs/giflzw.h"

#include <cstring>

namespace {

constexpr unsigned ClearCode = 256;
constexpr unsigned EndCode = 257;
constexpr unsigned FirstFreeCode = 258;
constexpr unsigned TableSize = 4096;
constexpr int MaxWidth = 12;

// The string table: entry = (prefix code, suffix byte); Length lets a string be written
// backwards straight into the output, last byte first.
struct TLZWTable {
    std::uint16_t Prefix[TableSize];
    std::uint16_t Length[TableSize];
    std::uint8_t Suffix[TableSize];
};

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
    TLZWTable table; // entries below next free code are always initialised before use
    for (unsigned code = 0; code < 256; ++code) {
        table.Prefix[code] = 0;
        table.Length[code] = 1;
        table.Suffix[code] = static_cast<std::uint8_t>(code);
    }

    const std::uint8_t* input = source;
    const std::uint8_t* const inputEnd = source + packedSize;
    std::uint8_t* output = dest;
    std::uint8_t* const outputEnd = dest + unpackedSize;

    // Bits are kept left-aligned in bitBuffer, bitCount of them valid.
    std::uint64_t bitBuffer = 0;
    int bitCount = 0;
    int width = 9;
    unsigned nextCode = FirstFreeCode;
    unsigned previousCode = TableSize; // none
    std::uint8_t* previousString = nullptr;
    const auto AddEntry = [&](std::uint8_t firstByte) {
        table.Prefix[nextCode] = static_cast<std::uint16_t>(previousCode);
        table.Suffix[nextCode] = firstByte;
        table.Length[nextCode] = static_cast<std::uint16_t>(table.Length[previousCode] + 1);
        ++nextCode;
        if (nextCode + 1 == (1u << width) && width < MaxWidth) // one code early
            ++width;
    };

    for (;;) {
        if (bitCount < width) {
            if (inputEnd - input >= 8) {
                bitBuffer |= LoadBigEndian64(input) >> bitCount;
                input += (63 - bitCount) >> 3;
                bitCount |= 56;
            } else {
                while (bitCount <= 56 && input < inputEnd) {
                    bitBuffer |= std::uint64_t(*input++) << (56 - bitCount);
                    bitCount += 8;
                }
                if (bitCount < width)
                    break; // input used up
            }
        }
        unsigned code = static_cast<unsigned>(bitBuffer >> (64 - width));
        bitBuffer <<= width;
        bitCount -= width;

        if (code == ClearCode) {
            width = 9;
            nextCode = FirstFreeCode;
            previousCode = TableSize;
            continue;
        }
        if (code == EndCode)
            break;
        if (previousCode == TableSize) { // first code after a clear: a single byte
            if (code >= 256)
                continue; // no such entry yet: dropped
            *output = static_cast<std::uint8_t>(code);
            previousString = output++;
            previousCode = code;
            if (output == outputEnd)
                break;
            continue;
        }
        if (code > nextCode)
            continue; // not in the table: dropped
        // The new entry is the previous string plus the first byte of the current one; for
        // code == nextCode that is the previous string's own first byte, and the entry must
        // exist before the string is written.
        const bool isNewCode = code == nextCode;
        if (isNewCode)
            AddEntry(*previousString);

        if (code < 256) {
            *output++ = static_cast<std::uint8_t>(code);
            if (!isNewCode && nextCode < TableSize)
                AddEntry(static_cast<std::uint8_t>(code));
            previousCode = code;
            previousString = output - 1;
            if (output == outputEnd)
                break;
            continue;
        }
        // Write the string backwards from its last byte; a string that does not fit is cut
        // at the end of the output.
        const std::size_t length = table.Length[code];
        const std::size_t room = static_cast<std::size_t>(outputEnd - output);
        unsigned walk = code;
        std::size_t position = length - 1;
        for (; position >= room; --position)
            walk = table.Prefix[walk];
        for (; position > 0; --position) {
            output[position] = table.Suffix[walk];
            walk = table.Prefix[walk];
        }
        output[0] = static_cast<std::uint8_t>(walk);
        if (!isNewCode && nextCode < TableSize)
            AddEntry(output[0]);
        if (length >= room)
            break;
        previousCode = code;
        previousString = output;
        output += length;
    }
}
