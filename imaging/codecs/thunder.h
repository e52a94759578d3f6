#pragma once
#include "imaging/codecs/decoder.h"

// ThunderScan 4-bit grey (TIFF Compression 32809); two pixels per output byte, the first in
// the high nibble. width is the image width in pixels.
class TThunderDecoder : public TDecoder {
public:
    explicit TThunderDecoder(std::uint32_t width) : FWidth(width) {}
    void DecodeData(std::uint8_t*& source, std::uint8_t*& dest, std::size_t packedSize,
        std::size_t unpackedSize) override;

private:
    std::uint32_t FWidth;
};
