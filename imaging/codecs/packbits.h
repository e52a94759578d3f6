#pragma once
#include "imaging/codecs/decoder.h"

// PackBits run-length decoding (TIFF Compression 32773).
class TPackbitsRLEDecoder : public TDecoder {
public:
    void DecodeData(std::uint8_t*& source, std::uint8_t*& dest, std::size_t packedSize,
        std::size_t unpackedSize) override;
};
