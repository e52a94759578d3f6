#include "imaging/codecs/partdecoders.h"

#include "imaging/codecs/tifflzw.h"

#include <algorithm>
#include <cstring>

namespace {

using tifflzw::ClearCode;
using tifflzw::EndCode;
using tifflzw::FirstFreeCode;
using lzw::MaxWidth;

} // namespace

// Data in the older variant starts with a clear code stored least significant bit first:
// 0x00, then an odd byte.
TLZWPartDecoder::TLZWPartDecoder(const std::uint8_t* source, std::size_t packedSize)
    : FInput(source), FInputEnd(source + packedSize), FOldStyle(packedSize >= 2 && source[0] == 0 && (source[1] & 1) != 0)
{
    FDone = packedSize == 0;
    Reset();
}

void TLZWPartDecoder::Reset()
{
    FWidth = 9;
    FNextCode = FirstFreeCode;
    FWidthLimit = FOldStyle ? 512 : 511; // the newer variant widens one code early
    FHasPrevious = false;
}

bool TLZWPartDecoder::NextCode(unsigned& code)
{
    if (FOldStyle) { // bits right-aligned
        while (FBitCount < FWidth && FInput < FInputEnd) {
            FBits |= std::uint64_t(*FInput++) << FBitCount;
            FBitCount += 8;
        }
        if (FBitCount < FWidth)
            return false;
        code = unsigned(FBits & ((1u << FWidth) - 1));
        FBits >>= FWidth;
    } else { // bits left-aligned
        while (FBitCount < FWidth && FInput < FInputEnd) {
            FBits |= std::uint64_t(*FInput++) << (56 - FBitCount);
            FBitCount += 8;
        }
        if (FBitCount < FWidth)
            return false;
        code = unsigned(FBits >> (64 - FWidth));
        FBits <<= FWidth;
    }
    FBitCount -= FWidth;
    return true;
}

// The new entry is the previous string followed by first, the first byte of the current one.
void TLZWPartDecoder::AddEntry(unsigned first)
{
    const unsigned entry = FNextCode++;
    FPrefix[entry] = std::uint16_t(FPrevious);
    FSuffix[entry] = std::uint8_t(first);
    FLength[entry] = std::uint16_t((FPrevious < ClearCode ? 1 : FLength[FPrevious]) + 1);
    FFirst[entry] = FPrevious < ClearCode ? std::uint8_t(FPrevious) : FFirst[FPrevious];
    if (FNextCode == FWidthLimit) {
        ++FWidth;
        FWidthLimit = FWidth < MaxWidth ? (1u << FWidth) - (FOldStyle ? 0 : 1) : TableSize + 1;
    }
}

// Reads codes up to the next one that names a string and puts that string in FString; false
// when the data ends.
bool TLZWPartDecoder::DecodeCode()
{
    unsigned code;
    for (;;) {
        if (!NextCode(code))
            return false;
        if (code < ClearCode)
            break;
        if (code == ClearCode) {
            Reset();
            continue;
        }
        if (code == EndCode) {
            if (!FOldStyle)
                return false;
            FBits >>= FBitCount & 7; // the older variant goes on at the next byte
            FBitCount &= ~7;
            continue;
        }
        if (FHasPrevious && (code < FNextCode || (code == FNextCode && FNextCode < TableSize)))
            break;
        // not in the table: dropped
    }
    if (FHasPrevious && FNextCode < TableSize) {
        const unsigned current = code == FNextCode ? FPrevious : code; // a repeat starts as the previous string
        AddEntry(current < ClearCode ? current : FFirst[current]);
    }
    const std::size_t length = code < ClearCode ? 1 : FLength[code];
    std::uint8_t* at = FString + length;
    unsigned link = code;
    for (; link >= FirstFreeCode; link = FPrefix[link])
        *--at = FSuffix[link];
    *--at = std::uint8_t(link);
    FStringLength = length;
    FPending = length;
    FPrevious = code;
    FHasPrevious = true;
    return true;
}

void TLZWPartDecoder::DecodePart(std::uint8_t* dest, std::size_t size)
{
    while (size > 0) {
        if (FPending > 0 && FLeft > 0) {
            const std::size_t count = std::size_t(std::min<std::uint64_t>(std::min(FPending, size), FLeft));
            std::memcpy(dest, FString + FStringLength - FPending, count);
            dest += count;
            size -= count;
            FPending -= count;
            FLeft -= count;
            continue;
        }
        if (FDone || FLeft == 0 || !DecodeCode()) {
            FDone = true;
            std::memset(dest, 0, size);
            return;
        }
    }
}

void TPackBitsPartDecoder::DecodePart(std::uint8_t* dest, std::size_t size)
{
    while (size > 0) {
        if (FCopy > 0 || FRepeat > 0) {
            const std::size_t count = std::min(FCopy > 0 ? FCopy : FRepeat, size);
            if (FCopy > 0) {
                std::memcpy(dest, FInput, count);
                FInput += count;
                FCopy -= count;
            } else {
                std::memset(dest, FByte, count);
                FRepeat -= count;
            }
            dest += count;
            size -= count;
            continue;
        }
        if (FInput == FInputEnd)
            break;
        const int count = static_cast<std::int8_t>(*FInput++);
        if (count >= 0) { // copy the next count + 1 bytes, as far as there are any
            FCopy = std::min(std::size_t(count) + 1, std::size_t(FInputEnd - FInput));
        } else if (count != -128) { // repeat the next byte 1 - count times
            if (FInput == FInputEnd)
                break;
            FByte = *FInput++;
            FRepeat = std::size_t(1 - count);
        }
    }
    std::memset(dest, 0, size);
}

TDeflatePartDecoder::TDeflatePartDecoder(std::uint8_t* source, std::size_t packedSize)
    : FInflater(TLZ77Decoder::PartialFlush, false), FSource(source), FLeft(packedSize)
{
    FInflater.BeginDecoding();
}

void TDeflatePartDecoder::DecodePart(std::uint8_t* dest, std::size_t size)
{
    std::memset(dest, 0, size); // what the stream does not reach is zero
    if (FEnded)
        return;
    FInflater.DecodeData(FSource, dest, FLeft, size);
    FLeft = FInflater.AvailableInput();
    // The end of the stream or an error ends the data: the later parts stay zero. With the input
    // used up, the inflater may still hold the rest of a match for the next part: only room left
    // over here says it has nothing more.
    FEnded = FInflater.ZLibResult() != TLZ77Decoder::ResultOK || (FLeft == 0 && FInflater.AvailableOutput() > 0);
}

void TRowsPartDecoder::DecodePart(std::uint8_t* dest, std::size_t size)
{
    std::memset(dest, 0, size); // rows the data does not reach
    FCodec.DecodeRows(dest, size);
}

TJPEGPartDecoder::TJPEGPartDecoder(TTIFFJPEGDecoder& codec, bool own, const std::uint8_t* source, std::size_t packedSize,
    std::size_t unpackedSize, std::uint32_t currentRow, std::uint32_t strip, std::uint32_t stripCount)
    : FOwn(own ? std::make_unique<TTIFFJPEGDecoder>(codec.Settings()) : nullptr), FDecoder(own ? *FOwn : codec)
{
    if (own)
        FDecoder.BeginDecoding();
    FDecoder.SetStripPosition(currentRow, strip, stripCount);
    FDecoder.StartStrip(source, packedSize, unpackedSize);
}

void TJPEGPartDecoder::DecodePart(std::uint8_t* dest, std::size_t size)
{
    std::memset(dest, 0, size); // rows the strip does not have
    FDecoder.DecodeRows(dest, size);
}
