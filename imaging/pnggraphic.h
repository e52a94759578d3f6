#pragma once
#include "imaging/readergraphic.h"

#include <cstdint>
#include <string>

class TStream;

inline constexpr const char* SPNGFormatName = "PNG";
inline constexpr const char* SCRCError = "Cannot load image. CRC error found in %s file.";
inline constexpr const char* SCompressionNotSupported = "Cannot load image. %s not supported for %s files.";
inline constexpr const char* SCompressionScheme = "The compression scheme is";
inline constexpr const char* SInvalidColorFormat = "Invalid color format in %s file.";
inline constexpr const char* SInvalidPalette = "Cannot load image. Palette in %s file is invalid.";
inline constexpr const char* SUnknownCriticalChunk = "Cannot load PNG image. Unexpected but critical chunk detected.";
inline constexpr const char* SCompressionError = "Cannot load image. Compression error found in %s file.";
inline constexpr const char* SExtraCompressedData = "Cannot load image. Extra compressed data found in %s file.";

// Reads the first image of a PNG file into its own bitmap: CRC-checked chunks, deflate through
// TLZ77Decoder, the five row filters, Adam7, and rows converted by the colour manager into a
// 1-, 4-, 8-, 24- or 32-bit bitmap. Understands IHDR, PLTE, IDAT, IEND, gAMA, bKGD and tRNS;
// skips other ancillary chunks and refuses other critical ones.
class TPNGGraphic : public TReaderGraphic {
public:
    std::string ClassName() const override { return "TPNGGraphic"; }

    // More than 8 bytes remain and the next 8 are the PNG signature; the position is kept.
    static bool CanReadStream(TStream& stream);
    static bool CanReadFile(const std::string& fileName) { return CanReadFileWith(fileName, &TPNGGraphic::CanReadStream); }

    // Header, colour type and depth, interlacing, and the file gamma when a gAMA chunk comes
    // before IEND. imageIndex is ignored.
    bool ReadImageInfo(TStream& stream, std::uint32_t imageIndex) override;
    void LoadStream(TStream& stream) override;

private:
    friend class TPNGLoad;
};
