#pragma once
#include "imaging/readergraphic.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TStream;
class TTIFFDirectory;

// Reads the first image (directory 0) of a TIFF 6.0 file, either byte order, strip by strip or
// tile by tile through the codec its Compression names, into its own bitmap. Writing a TIFF
// writes nothing.
class TTIFFGraphic : public TReaderGraphic {
public:
    std::string ClassName() const override { return "TTIFFGraphic"; }

    // More than 8 bytes, "II" or "MM", 42, and a first directory inside the stream.
    static bool CanReadStream(TStream& stream);
    static bool CanReadFile(const std::string& fileName) { return CanReadFileWith(fileName, &TTIFFGraphic::CanReadStream); }

    // Properties of directory imageIndex (0 = first); false for a wrong header, a chain that
    // ends first, or a width or height of 0.
    bool ReadImageInfo(TStream& stream, std::uint32_t imageIndex) override;
    void LoadStream(TStream& stream) override;
    void SaveStream(TStream& stream) override;

    // YCbCr tags of the last ReadImageInfo (kept, positioning is not used for decoding).
    std::uint32_t YCbCrPositioning() const { return FYCbCrPositioning; }
    const std::array<float, 3>& YCbCrCoefficients() const { return FYCbCrCoefficients; }

    // For tests: compressed strips decoding to more than partedStripBytes are decoded in parts
    // of about partBytes (uncompressed strips are read in such parts too). The defaults are
    // 16 MiB and 1 MiB.
    static void SetStripPartsForTesting(std::uint64_t partedStripBytes, std::uint64_t partBytes);

private:
    void FillProperties(const TTIFFDirectory& directory);

    // The steps of decoding the strips (tiffgraphic.cpp).
    struct TRowPlan;
    struct TStripCodec;
    class TStripReader;
    struct TStripRows;
    void DecodeStrips(TStream& stream, const TTIFFDirectory& directory);
    TRowPlan SetUpColors();
    void PlanSamples(TRowPlan& plan);
    void SetUpColorTable(const TTIFFDirectory& directory, TRowPlan& plan);
    void PlanRows(TRowPlan& plan);
    TStripCodec ChooseCodec(const TTIFFDirectory& directory, const TRowPlan& plan);
    void CheckStripData(const TStripReader& reader, const TRowPlan& plan);
    void DecodeRawStrip(const TRowPlan& plan, TStripReader& reader, TStripRows& strip, std::uint64_t stripRow,
        std::uint64_t stripsPerPlane, std::uint32_t rows, std::uint8_t* firstRow, std::ptrdiff_t rowStep);
    void DecodeStripRows(const TRowPlan& plan, TStripReader& reader, TStripCodec& codec);
    bool DecodedInParts(const TRowPlan& plan, const TStripCodec& codec, std::uint32_t rows) const;
    void DecodeStripInParts(const TRowPlan& plan, TStripReader& reader, const TStripCodec& codec, TStripRows& strip,
        std::uint64_t stripRow, std::uint64_t stripsPerPlane, std::uint32_t rows, std::uint8_t* firstRow,
        std::ptrdiff_t rowStep);
    // Tiles go through the same steps as strips of one tile each (tiffgraphic.cpp, at the end).
    class TTileScope;
    void CheckTileSize(std::uint32_t tileWidth, std::uint32_t tileLength) const;
    void CheckTileData(const TStripReader& reader, const TRowPlan& plan, std::uint32_t width, std::uint32_t height);
    void DecodeTile(const TRowPlan& plan, TStripReader& reader, TStripCodec& codec, TStripRows& strip, std::uint64_t tile,
        std::uint64_t tilesPerPlane, std::uint32_t rows, std::uint8_t* firstRow, std::ptrdiff_t rowStep);
    void DecodeTileRows(const TRowPlan& plan, TStripReader& reader, TStripCodec& codec, std::uint32_t width,
        std::uint32_t height, std::uint32_t& doneRows);
    const std::uint8_t* FetchStrip(TStripReader& reader, TStripCodec& codec, std::uint64_t strip,
        std::uint64_t stripBytes, std::vector<std::uint8_t>& buffer);
    void UndoPredictors(const TRowPlan& plan, TStripRows& strip, std::uint32_t row);
    void ConvertRows(const TRowPlan& plan, TStripRows& strip, std::uint32_t rows, std::uint8_t* firstRow,
        std::ptrdiff_t rowStep);
    // The store of the layout and table set, at the image's size; true when its pixels are
    // left unset for the decoding to write.
    bool MakeStore(std::uint32_t width, std::uint32_t height);
    // Rows first and below get the fill a new size gets (rows the strips never reached).
    void FillRowsFrom(std::uint32_t first);

    std::uint32_t FYCbCrPositioning = 1;
    std::uint32_t FSampleFormat = 1;
    std::array<float, 3> FYCbCrCoefficients { 0.299f, 0.587f, 0.114f };
};
