#pragma once
#include "imaging/codecs/decoder.h"

#include <vector>

// One node of a run-length code tree: the child for a 0 bit, the child for a 1 bit (0 = none)
// and the run value of a code ending here (-1 EOL, -2 invalid).
struct TStateEntry {
    std::int32_t NewState[2];
    std::int32_t RunLength;
};
using TStateArray = std::vector<TStateEntry>;

// Base of the CCITT fax codecs: the white and black code trees of ITU-T T.4, a bit reader
// over the input (bytes bit-reversed in place first when bitReversal is set, TIFF FillOrder 2)
// and a bit writer producing one bit per pixel, 1 = black, rows starting on byte boundaries.
class TCCITTDecoder : public TRowsDecoder {
public:
    TCCITTDecoder(std::uint32_t options, std::uint32_t width, bool wordAligned, bool bitReversal);
    // Rows are decoded into zeros (white).
    void StartStrip(std::uint8_t* source, std::size_t packedSize) override;

    std::uint32_t Options() const { return FOptions; } // T4Options, stored, not evaluated
    std::uint32_t Width() const { return FWidth; }

protected:
    // Bit reader.
    void StartReading(std::uint8_t* source, std::size_t packedSize);
    bool HasInput() const { return FBitsLeft > 0 || FBytesLeft > 0; }
    int NextBit(); // -1 when the input is used up
    void SkipToByteBoundary() { FBitsLeft = 0; }
    void SkipByte();
    std::size_t InputPosition() const { return FSourceSize - FBytesLeft; } // bytes begun
    // Walks the tree of the current colour: the run length (sum of make-up and terminating
    // codes), -1 for EOL, -2 for an invalid code; what was summed so far when input ends.
    std::int32_t ReadRun();

    // Bit writer. Rows are (width + 7) / 8 bytes; nothing is written past unpackedSize.
    void StartWriting(std::uint8_t* dest, std::size_t unpackedSize);
    bool WriteRun(std::int32_t length); // true when the row is complete
    void NextRow();                     // to the start of the next row, white, full width
    bool OutputFull() const { return FRowStart >= FTargetSize; }
    bool IsBlack() const { return FIsBlack; }
    void SwitchColor() { FIsBlack = !FIsBlack; }

    bool WordAligned() const { return FWordAligned; }
    bool FAfterEOL = false; // the last row ended at an EOL, which begins the next one

private:
    int PeekBit();
    std::uint32_t FOptions;
    std::uint32_t FWidth;
    bool FWordAligned;
    bool FBitReversal;
    TStateArray FWhiteStates;
    TStateArray FBlackStates;
    // Reader state.
    const std::uint8_t* FSource = nullptr;
    std::size_t FSourceSize = 0;
    std::size_t FBytesLeft = 0;
    std::uint8_t FCurrentByte = 0;
    int FBitsLeft = 0;
    // Writer state.
    std::uint8_t* FTarget = nullptr;
    std::size_t FTargetSize = 0;
    std::size_t FRowStart = 0;      // byte index of the current row
    std::size_t FBitPosition = 0;   // bit index of the next pixel
    bool FIsBlack = false;
    std::uint32_t FRestWidth = 0;   // pixels left in the row
};

// T.4 one-dimensional coding with EOL codes (TIFF Compression 3, one-dimensional rows only).
class TCCITTFax3Decoder : public TCCITTDecoder {
public:
    using TCCITTDecoder::TCCITTDecoder;
    void DecodeRows(std::uint8_t* dest, std::size_t size) override;
};

// Modified Huffman without EOL codes, rows on byte boundaries, optionally on 16-bit word
// boundaries (TIFF Compression 2 and 32771).
class TCCITTMHDecoder : public TCCITTDecoder {
public:
    using TCCITTDecoder::TCCITTDecoder;
    void DecodeRows(std::uint8_t* dest, std::size_t size) override;
};
