#include "imaging/codecs/tifflzw.h"

#include "imaging/codecs/giflzw.h"

#include "imaging/codecs/lzwstrings.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace {

using tifflzw::ClearCode;
using tifflzw::EndCode;
using tifflzw::FirstFreeCode;
using lzw::MaxWidth;
using lzw::TableSize;

// Slack behind the last byte of a string that whole-block copies may write.
constexpr std::size_t BlockSize = 16;

// The strings of the literal codes, one byte each, with room behind for block reads.
constexpr auto Literals = [] {
    std::array<std::uint8_t, 256 + BlockSize> bytes {};
    for (unsigned i = 0; i < 256; ++i)
        bytes[i] = static_cast<std::uint8_t>(i);
    return bytes;
}();

inline std::uint64_t LoadBigEndian64(const std::uint8_t* bytes)
{
    std::uint64_t value;
    std::memcpy(&value, bytes, 8);
    return __builtin_bswap64(value);
}

inline void CopyBlock(std::uint8_t* target, const std::uint8_t* source)
{
    std::uint8_t block[BlockSize];
    std::memcpy(block, source, BlockSize);
    std::memcpy(target, block, BlockSize);
}

// Old-style data (codes least significant bit first, no early change) starts with a clear
// code stored that way: 0x00, then an odd byte.
bool IsOldStyle(const std::uint8_t* source, std::size_t packedSize)
{
    return packedSize >= 2 && source[0] == 0 && (source[1] & 1) != 0;
}

// Copies a string of earlier output in blocks of 16 bytes, writing up to 15 bytes behind it.
// Each block is read before it is written and lies at least one block behind when the string
// is longer than one; a repeated string's last byte, read before it was written, is put
// right afterwards.
inline void CopyStringInBlocks(std::uint8_t* output, const std::uint8_t* from, std::uint32_t length, bool repeat)
{
    CopyBlock(output, from);
    for (std::uint32_t done = BlockSize; done < length; done += BlockSize)
        CopyBlock(output + done, from + done);
    if (repeat)
        output[length - 1] = from[0];
}

// Every code names a string: the literal ones in the table above, the others an earlier
// place in the output (entries are written before they are read). The table starts with
// the literal ones.
inline void SetLiteralStrings(const std::uint8_t** strings, std::uint32_t* lengths)
{
    for (unsigned code = 0; code < 256; ++code) {
        strings[code] = Literals.data() + code;
        lengths[code] = 1;
    }
}

// Decodes TIFF LZW into dest and returns the bytes written. With Scratch, strings are copied
// in blocks of 16 bytes while that many fit: up to 15 bytes behind the written ones may then
// change; without, nothing behind them does.
template <bool Scratch>
std::size_t DecodeTIFFLZW(const std::uint8_t* source, std::size_t packedSize, std::uint8_t* dest, std::size_t unpackedSize)
{
    // Offsets are 32-bit: longer output is cut at 4 GB.
    if (unpackedSize > UINT32_MAX)
        unpackedSize = UINT32_MAX;
    const std::uint8_t* strings[TableSize];
    std::uint32_t lengths[TableSize];
    SetLiteralStrings(strings, lengths);
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
    unsigned entryLimit = 0;   // TableSize once there is a previous string, else 0
    unsigned widthLimit = 511; // next free code at which the width grows
    const std::uint8_t* previous = dest; // the previous string in the output
    std::uint32_t previousLength = 0;

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
        const unsigned code = static_cast<unsigned>(bitBuffer >> (64 - width));
        bitBuffer <<= width;
        bitCount -= width;

        if (code >= ClearCode) {
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
            if (!hasPrevious || code > nextCode || (code == nextCode && nextCode == TableSize))
                continue; // not in the table: dropped
        }
        // The new entry is the previous string plus the first byte of the current one, which
        // lies right behind it in the output. For code == nextCode it is the entry itself:
        // the previous string and its own first byte.
        const bool repeat = code == nextCode;
        if (nextCode < entryLimit) {
            strings[nextCode] = previous;
            lengths[nextCode] = previousLength + 1;
            ++nextCode;
            if (nextCode == widthLimit) { // one code early
                ++width;
                widthLimit = width < MaxWidth ? (1u << width) - 1 : TableSize + 1;
            }
        }
        hasPrevious = true;
        entryLimit = TableSize;
        const std::uint8_t* const from = strings[code];
        const std::uint32_t length = lengths[code];
        previous = output;
        previousLength = length;
        const std::size_t room = static_cast<std::size_t>(outputEnd - output);
        if (Scratch && room >= std::size_t(length) + BlockSize - 1) {
            CopyStringInBlocks(output, from, length, repeat);
            output += length;
            continue;
        }
        if (code < 256)
            *output = static_cast<std::uint8_t>(code);
        else
            lzw::CopyString(output, from, length, room);
        if (length >= room) {
            output = outputEnd;
            break;
        }
        output += length;
    }
    return static_cast<std::size_t>(output - dest);
}

} // namespace

void TTIFFLZWDecoder::DecodeData(std::uint8_t*& source, std::uint8_t*& dest, std::size_t packedSize,
    std::size_t unpackedSize)
{
    if (packedSize == 0 || unpackedSize == 0)
        return;
    if (IsOldStyle(source, packedSize)) {
        TGIFLZWDecoder(8).DecodeData(source, dest, packedSize, unpackedSize);
        return;
    }
    DecodeTIFFLZW<false>(source, packedSize, dest, unpackedSize);
}

void TTIFFLZWDecoder::DecodeStrip(std::uint8_t* source, std::size_t packedSize, std::uint8_t* dest,
    std::size_t unpackedSize)
{
    if (unpackedSize == 0)
        return;
    std::size_t written = 0;
    if (packedSize > 0 && IsOldStyle(source, packedSize)) {
        std::memset(dest, 0, unpackedSize);
        TGIFLZWDecoder(8).DecodeData(source, dest, packedSize, unpackedSize);
        return;
    }
    if (packedSize > 0)
        written = DecodeTIFFLZW<true>(source, packedSize, dest, unpackedSize);
    std::memset(dest + written, 0, unpackedSize - written);
}
