#pragma once
#include "imaging/codecs/decoder.h"

// LZW as GIF stores it: codes least significant bit first, no early change, 12-bit limit.
// The caller passes the image's sub-block data gathered into one block.
class TGIFLZWDecoder : public TDecoder {
public:
    explicit TGIFLZWDecoder(std::uint8_t initialCodeSize) : FInitialCodeSize(initialCodeSize) {}
    void DecodeData(std::uint8_t*& source, std::uint8_t*& dest, std::size_t packedSize,
        std::size_t unpackedSize) override;
    std::uint8_t InitialCodeSize() const { return FInitialCodeSize; }

private:
    std::uint8_t FInitialCodeSize;
};
