#pragma once
#include "imaging/readergraphic.h"

#include <cstdint>
#include <string>

class TStream;

inline constexpr const char* SGIFFormatName = "GIF";
inline constexpr const char* SGIFInvalidVersion = "'%s' is not a valid integer value";

// Reads the first image of a GIF file (87a or 89a) into an 8-bit indexed bitmap: the global
// colour table, replaced entry by entry by a local one, LZW through TGIFLZWDecoder, and the
// four passes of an interlaced image put back in row order. Extensions are skipped, so
// transparency, delays and further frames have no effect; the image's position on the logical
// screen is ignored.
class TGIFGraphic : public TReaderGraphic {
public:
    std::string ClassName() const override { return "TGIFGraphic"; }

    // More than 22 bytes remain and the next three are "GIF" in either case; the position is
    // kept.
    static bool CanReadStream(TStream& stream);
    static bool CanReadFile(const std::string& fileName) { return CanReadFileWith(fileName, &TGIFGraphic::CanReadStream); }

    // Version, colour depth, and the first image's size, local table and interlacing.
    // imageIndex is ignored. A version whose first two characters are not digits fails with
    // "'%s' is not a valid integer value".
    bool ReadImageInfo(TStream& stream, std::uint32_t imageIndex) override;
    void LoadStream(TStream& stream) override;

private:
    // The decoded indices, width × height of them, into the bitmap's rows.
    void StoreRows(const std::uint8_t* source);
};
