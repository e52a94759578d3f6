#pragma once
// Decoders that deliver one strip in consecutive parts, their state carried from part to part,
// so that a large strip never needs a buffer of its own size. The parts together are the
// bytes the codec's whole-strip decoding gives: the decoded data, zeros after it.
#include "imaging/codecs/decoder.h"
#include "imaging/codecs/lz77.h"
#include "imaging/codecs/lzwstrings.h"
#include "imaging/codecs/tiffjpeg.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class TPartDecoder {
public:
    TPartDecoder() = default;
    TPartDecoder(const TPartDecoder&) = delete;
    TPartDecoder& operator=(const TPartDecoder&) = delete;
    virtual ~TPartDecoder() = default;
    // Writes the next size bytes of the strip to dest.
    virtual void DecodePart(std::uint8_t* dest, std::size_t size) = 0;
};

// TIFF LZW, both variants, with a string table of its own (prefix code, last byte, length):
// 28 KiB whatever the data. The source must outlive the decoder.
class TLZWPartDecoder : public TPartDecoder {
public:
    TLZWPartDecoder(const std::uint8_t* source, std::size_t packedSize);
    void DecodePart(std::uint8_t* dest, std::size_t size) override;

private:
    bool NextCode(unsigned& code);
    bool DecodeCode();
    void AddEntry(unsigned first);
    void Reset();

    static constexpr unsigned TableSize = lzw::TableSize;
    const std::uint8_t* FInput;
    const std::uint8_t* FInputEnd;
    bool FOldStyle; // codes least significant bit first, no early change, end code goes on
    bool FDone = false;
    std::uint64_t FLeft = UINT32_MAX; // the whole-strip decoders cut their output at 4 GB
    std::uint64_t FBits = 0;
    int FBitCount = 0;
    int FWidth = 9;
    unsigned FNextCode = 258;
    unsigned FWidthLimit = 511;
    bool FHasPrevious = false;
    unsigned FPrevious = 0;
    std::uint16_t FPrefix[TableSize];
    std::uint16_t FLength[TableSize];
    std::uint8_t FSuffix[TableSize];
    std::uint8_t FFirst[TableSize];
    // The string of the last code (written back to front), its last FPending bytes still to go.
    std::uint8_t FString[TableSize];
    std::size_t FStringLength = 0;
    std::size_t FPending = 0;
};

// PackBits; the source must outlive the decoder.
class TPackBitsPartDecoder : public TPartDecoder {
public:
    TPackBitsPartDecoder(const std::uint8_t* source, std::size_t packedSize)
        : FInput(source), FInputEnd(source + packedSize)
    {
    }
    void DecodePart(std::uint8_t* dest, std::size_t size) override;

private:
    const std::uint8_t* FInput;
    const std::uint8_t* FInputEnd;
    std::size_t FCopy = 0; // literal bytes of the current run still to copy
    std::size_t FRepeat = 0; // repeats of FByte still to write
    std::uint8_t FByte = 0;
};

// A codec of rows coded one after another (fax, ThunderScan) over one strip, in parts of
// whole rows; the codec keeps its place in the source, which must outlive the decoder.
class TRowsPartDecoder : public TPartDecoder {
public:
    TRowsPartDecoder(TRowsDecoder& codec, std::uint8_t* source, std::size_t packedSize) : FCodec(codec)
    {
        codec.StartStrip(source, packedSize);
    }
    void DecodePart(std::uint8_t* dest, std::size_t size) override;

private:
    TRowsDecoder& FCodec;
};

// New-style JPEG, in parts of whole rows, through codec or, with own, a decoder of its own
// with codec's settings (planes after the first, decoded beside it); the strip's header is
// read and checked at once.
class TJPEGPartDecoder : public TPartDecoder {
public:
    TJPEGPartDecoder(TTIFFJPEGDecoder& codec, bool own, const std::uint8_t* source, std::size_t packedSize,
        std::size_t unpackedSize, std::uint32_t currentRow, std::uint32_t strip, std::uint32_t stripCount);
    void DecodePart(std::uint8_t* dest, std::size_t size) override;

private:
    std::unique_ptr<TTIFFJPEGDecoder> FOwn;
    TTIFFJPEGDecoder& FDecoder;
};

// Deflate: one zlib stream across the parts; the end of the stream or an error ends the data.
class TDeflatePartDecoder : public TPartDecoder {
public:
    TDeflatePartDecoder(std::uint8_t* source, std::size_t packedSize);
    void DecodePart(std::uint8_t* dest, std::size_t size) override;

private:
    TLZ77Decoder FInflater;
    std::uint8_t* FSource;
    std::size_t FLeft;
    bool FEnded = false;
};
