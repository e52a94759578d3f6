#pragma once
#include "imaging/codecs/decoder.h"

// ThunderScan 4-bit grey (TIFF Compression 32809); two pixels per output byte, the first in
// the high nibble. width is the image width in pixels.
class TThunderDecoder : public TRowsDecoder {
public:
    explicit TThunderDecoder(std::uint32_t width) : FWidth(width) {}
    void StartStrip(std::uint8_t* source, std::size_t packedSize) override
    {
        FInput = source;
        FInputEnd = source + packedSize;
    }
    // Bytes the data does not reach are left as they are.
    void DecodeRows(std::uint8_t* dest, std::size_t size) override;

private:
    std::uint32_t FWidth;
    const std::uint8_t* FInput = nullptr;
    const std::uint8_t* FInputEnd = nullptr;
};
