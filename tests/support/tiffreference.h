#pragma once
// libtiff writing TIFF files into memory from a plan and reading their strips back, and
// libtiff on bytes in memory: the reference side of the TIFF reader's and the codecs' tests
// and benchmarks.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

typedef struct tiff TIFF;

namespace tifftest {

using TBytes = std::vector<std::uint8_t>;

// What to write, in the numbers of the TIFF tags; an optional tag left at 0 is not written.
struct TTiffPlan {
    std::uint32_t Width = 8, Height = 8;
    std::uint32_t RowsPerStrip = 0; // 0: the whole image in one strip
    std::uint16_t BitsPerSample = 8, SamplesPerPixel = 1;
    std::uint16_t Photometric = 1;  // MinIsBlack
    std::uint16_t Compression = 1;  // none
    std::uint16_t Predictor = 0;
    std::uint16_t FillOrder = 0;
    std::uint16_t PlanarConfig = 1; // 2: separate planes (8 and 16 bits only)
    std::uint16_t SampleFormat = 1; // 2: signed, 3: floating point
    std::uint32_t Group3Options = 0; // written with Group 3 fax compression only
    std::uint16_t SubsamplingH = 0, SubsamplingV = 0; // YCbCr only
    std::vector<float> LumaWeights; // YCbCrCoefficients
    std::uint32_t TileWidth = 0, TileLength = 0; // the samples cut into tiles
    std::vector<std::uint16_t> ColorMap, ExtraSamples;
    std::uint16_t Orientation = 0;
    bool BigEndian = false;
    int JpegQuality = 90;
    TBytes Samples; // packed rows, samples of 16, 24, 32 and 64 bits in machine order
};

std::size_t RowBytes(const TTiffPlan& plan);
// count bits from bit sourceBit of source to bit targetBit of target, most significant bit
// first; the other bits of target are kept.
void CopyBits(const std::uint8_t* source, std::size_t sourceBit, std::uint8_t* target, std::size_t targetBit, std::size_t count);
// Deterministic samples of the plan's size: smooth gradients plus noise, so that predictor and
// codec paths see runs as well as detail.
TBytes Pattern(const TTiffPlan& plan, std::uint32_t seed = 1);
// The file libtiff writes for the plan; empty when libtiff refuses.
TBytes WriteTiff(const TTiffPlan& plan);

// An 8-bit RGB file of the packed rows given, in strips of rowsPerStrip rows (0: one strip);
// throws std::runtime_error when libtiff refuses.
TBytes WriteRgbTiff(std::uint32_t width, std::uint32_t height, TBytes rgb, std::uint16_t compression,
    std::uint32_t rowsPerStrip, std::uint16_t predictor = 0);

// The strips of a file as stored and as libtiff decodes them (JPEG YCbCr as RGB).
struct TTiffStrips {
    std::vector<TBytes> Raw;
    std::vector<TBytes> Decoded; // empty where libtiff failed
    TBytes JPEGTables;
    std::size_t StripSize = 0;   // bytes of a full strip
};
// Writes the pixels (packed rows of the plan) and reads the strips back. Throws
// std::runtime_error when libtiff refuses.
TTiffStrips TiffRoundTrip(const TTiffPlan& plan, const TBytes& pixels);
// The same with ready-made compressed strips (TIFFWriteRawStrip).
TTiffStrips TiffRawRoundTrip(const TTiffPlan& plan, const std::vector<TBytes>& strips);

// The tags of the current directory as a plan would write them (no samples). Without the
// Photometric tag, Photometric stays 1; without luma weights, LumaWeights stays empty.
TTiffPlan ReadPlan(TIFF* tif);

// Silences libtiff's warnings and errors on the standard error stream.
void QuietLibTiff();

enum class TTiffByteOrder { boLittleEndian, boBigEndian };

// libtiff on a file in memory: a new one to write, or bytes to read that outlive this object.
// The file is closed when this object goes.
class TTiffInMemory {
public:
    explicit TTiffInMemory(TTiffByteOrder order = TTiffByteOrder::boLittleEndian);
    explicit TTiffInMemory(std::span<const std::uint8_t> bytes);
    ~TTiffInMemory();
    TTiffInMemory(const TTiffInMemory&) = delete;
    TTiffInMemory& operator=(const TTiffInMemory&) = delete;
    TIFF* Tiff() const { return FTiff; } // null when libtiff refused
    // Closes the file; the bytes written.
    TBytes Close();

private:
    struct TFile;
    std::unique_ptr<TFile> FFile;
    TIFF* FTiff = nullptr;
};

} // namespace tifftest
