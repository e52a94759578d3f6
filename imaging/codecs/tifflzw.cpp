#include "imaging/codecs/tifflzw.h"

#include "imaging/codecs/giflzw.h"

#include "imaging/codecs/lzwstrings.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace {

constexpr unsigned ClearCode = 256;
constexpr unsigned EndCode = 257;
constexpr unsigned FirstFreeCode = 258;
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

// Codes most significant bit first, read 9 to 12 bits at a time.
class TCodeReader {
public:
    TCodeReader(const std::uint8_t* source, std::size_t packedSize) : FInput(source), FInputEnd(source + packedSize) {}

    // The next code of width bits into code; false when the input is used up.
    bool Next(int width, unsigned& code)
    {
        if (FInputEnd - FInput >= 8) { // refill without a branch on the bit count
            FBits |= LoadBigEndian64(FInput) >> FCount;
            FInput += (63 - FCount) >> 3;
            FCount |= 56;
        } else if (FCount < width) {
            while (FCount <= 56 && FInput < FInputEnd) {
                FBits |= std::uint64_t(*FInput++) << (56 - FCount);
                FCount += 8;
            }
            if (FCount < width)
                return false;
        }
        code = static_cast<unsigned>(FBits >> (64 - width));
        FBits <<= width;
        FCount -= width;
        return true;
    }

private:
    const std::uint8_t* FInput;
    const std::uint8_t* const FInputEnd;
    std::uint64_t FBits = 0; // left-aligned, FCount of them valid
    int FCount = 0;
};

// Writes the string of code (length bytes at from) at output and moves output past it; false
// when the output is full. With Scratch, strings are copied in blocks of 16 bytes while that
// many fit behind them.
template <bool Scratch>
bool WriteString(std::uint8_t*& output, std::uint8_t* const outputEnd, unsigned code, const std::uint8_t* from,
    std::uint32_t length, bool repeat)
{
    const std::size_t room = static_cast<std::size_t>(outputEnd - output);
    if (Scratch && room >= std::size_t(length) + BlockSize - 1) {
        // Each block is read before it is written and lies at least one block behind when
        // the string is longer than one; a repeated string's last byte, read before it was
        // written, is put right afterwards.
        CopyBlock(output, from);
        for (std::uint32_t done = BlockSize; done < length; done += BlockSize)
            CopyBlock(output + done, from + done);
        if (repeat)
            output[length - 1] = from[0];
        output += length;
        return true;
    }
    if (code < 256)
        *output = static_cast<std::uint8_t>(code);
    else
        lzw::CopyString(output, from, length, room);
    if (length >= room) {
        output = outputEnd;
        return false;
    }
    output += length;
    return true;
}

// Decodes TIFF LZW into dest and returns the bytes written. With Scratch, up to 15 bytes
// behind the written ones may change; without, nothing behind them does.
template <bool Scratch>
std::size_t DecodeTIFFLZW(const std::uint8_t* source, std::size_t packedSize, std::uint8_t* dest, std::size_t unpackedSize)
{
    // Offsets are 32-bit: longer output is cut at 4 GB.
    if (unpackedSize > UINT32_MAX)
        unpackedSize = UINT32_MAX;
    // Every code names a string: the literal ones in the table above, the others an earlier
    // place in the output (entries are written before they are read).
    const std::uint8_t* strings[TableSize];
    std::uint32_t lengths[TableSize];
    for (unsigned code = 0; code < 256; ++code) {
        strings[code] = Literals.data() + code;
        lengths[code] = 1;
    }
    TCodeReader codes(source, packedSize);
    std::uint8_t* output = dest;
    std::uint8_t* const outputEnd = dest + unpackedSize;

    int width = 9;
    unsigned nextCode = FirstFreeCode;
    bool hasPrevious = false;
    unsigned entryLimit = 0;   // TableSize once there is a previous string, else 0
    unsigned widthLimit = 511; // next free code at which the width grows
    const std::uint8_t* previous = dest; // the previous string in the output
    std::uint32_t previousLength = 0;

    unsigned code;
    while (codes.Next(width, code)) {
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
        previous = output;
        previousLength = lengths[code];
        if (!WriteString<Scratch>(output, outputEnd, code, strings[code], previousLength, repeat))
            break;
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
