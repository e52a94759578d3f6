#pragma once
#include "imaging/codecs/decoder.h"

// The fixed codes of LZW as TIFF stores it.
namespace tifflzw {
inline constexpr unsigned ClearCode = 256;
inline constexpr unsigned EndCode = 257;
inline constexpr unsigned FirstFreeCode = 258;
} // namespace tifflzw

// LZW as TIFF stores it: codes most significant bit first, early change of the code width,
// 12-bit limit; codes above the next free code are dropped. Data in the older variant of the
// first TIFF writers (recognised by its first two bytes) is decoded as well.
class TTIFFLZWDecoder : public TDecoder {
public:
    void DecodeData(std::uint8_t*& source, std::uint8_t*& dest, std::size_t packedSize,
        std::size_t unpackedSize) override;
    // Decodes one block into all unpackedSize bytes of dest: what the data does not reach is
    // zero. Faster than DecodeData, which leaves the bytes behind the data alone.
    void DecodeStrip(std::uint8_t* source, std::size_t packedSize, std::uint8_t* dest, std::size_t unpackedSize);
};
