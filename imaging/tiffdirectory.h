#pragma once
#include <cstdint>
#include <vector>

class TStream;

// TIFF 6.0 tag numbers the reader uses.
namespace tifftag {
inline constexpr std::uint16_t ImageWidth = 256;
inline constexpr std::uint16_t ImageLength = 257;
inline constexpr std::uint16_t BitsPerSample = 258;
inline constexpr std::uint16_t Compression = 259;
inline constexpr std::uint16_t PhotometricInterpretation = 262;
inline constexpr std::uint16_t FillOrder = 266;
inline constexpr std::uint16_t Orientation = 274;
inline constexpr std::uint16_t StripOffsets = 273;
inline constexpr std::uint16_t SamplesPerPixel = 277;
inline constexpr std::uint16_t RowsPerStrip = 278;
inline constexpr std::uint16_t StripByteCounts = 279;
inline constexpr std::uint16_t XResolution = 282;
inline constexpr std::uint16_t YResolution = 283;
inline constexpr std::uint16_t PlanarConfiguration = 284;
inline constexpr std::uint16_t T4Options = 292;
inline constexpr std::uint16_t ResolutionUnit = 296;
inline constexpr std::uint16_t Predictor = 317;
inline constexpr std::uint16_t ColorMap = 320;
inline constexpr std::uint16_t TileWidth = 322;
inline constexpr std::uint16_t TileLength = 323;
inline constexpr std::uint16_t TileOffsets = 324;
inline constexpr std::uint16_t TileByteCounts = 325;
inline constexpr std::uint16_t ExtraSamples = 338;
inline constexpr std::uint16_t SampleFormat = 339;
inline constexpr std::uint16_t JPEGTables = 347;
inline constexpr std::uint16_t YCbCrCoefficients = 529;
inline constexpr std::uint16_t YCbCrSubSampling = 530;
inline constexpr std::uint16_t YCbCrPositioning = 531;
} // namespace tifftag

// One 12-byte directory entry in machine byte order. Value holds the value field: an offset
// (as one 32-bit number) when the value is longer than 4 bytes, else the values themselves in
// file order, each converted by its own width.
struct TTIFFEntry {
    std::uint16_t Tag = 0;
    std::uint16_t Type = 0;
    std::uint32_t Count = 0;
    std::uint8_t Value[4] = {};

    std::uint32_t RawValue() const; // the value field as one machine-order number
};

// The entries of one image file directory, sorted by tag, and typed access to their values.
// Values stored at an offset are read from the stream, offsets counted from the base
// position; reads past the end of the stream fail with the stream read error before anything
// is allocated.
class TTIFFDirectory {
public:
    TTIFFDirectory(TStream& stream, std::int64_t basePosition, bool bigEndian);

    // Reads the 8-byte header at the base position: false when the byte order mark is neither
    // "II" nor "MM". Sets the byte order.
    bool ReadHeader(std::uint16_t& version, std::uint32_t& firstOffset);
    // Walks the chain from firstOffset to directory number index and reads its entries; false
    // when the chain ends (or loops) first.
    bool ReadDirectory(std::uint32_t firstOffset, std::uint32_t index);

    bool BigEndian() const { return FBigEndian; }
    const TTIFFEntry* Find(std::uint16_t tag) const;
    bool Has(std::uint16_t tag) const { return Find(tag) != nullptr; }

    // A single integer: count 1 of BYTE, SHORT, SSHORT, LONG or SLONG; another type gives the
    // default, another count the raw value field.
    std::uint32_t Integer(std::uint16_t tag, std::uint32_t defaultValue) const;
    std::vector<std::uint32_t> IntegerArray(std::uint16_t tag) const;
    // The low byte of each value; byte-sized values at an offset are read in one block.
    std::vector<std::uint8_t> ByteArray(std::uint16_t tag) const;
    float Float(std::uint16_t tag, float defaultValue) const;
    std::vector<float> FloatArray(std::uint16_t tag) const;
    // count 16-bit values starting at value number first, as the file stores them (no byte
    // order conversion). Empty when the entry is not SHORT or has fewer values.
    std::vector<std::uint8_t> RawShorts(std::uint16_t tag, std::uint32_t first, std::uint32_t count) const;

    std::uint32_t Convert32(std::uint32_t value) const;
    std::uint16_t Convert16(std::uint16_t value) const;

private:
    // Positions the stream at base + offset after checking that size bytes follow there.
    void SeekChecked(std::uint64_t offset, std::uint64_t size) const;
    std::uint16_t Read16() const;
    std::uint32_t Read32() const;
    std::uint32_t ValueAt(const TTIFFEntry& entry, std::uint32_t index, const std::uint8_t* block) const;
    std::vector<std::uint8_t> ValueBlock(const TTIFFEntry& entry, std::uint32_t valueSize) const;

    TStream& FStream;
    std::int64_t FBasePosition;
    bool FBigEndian;
    std::vector<TTIFFEntry> FEntries;
};

// Bytes of one value of an entry type (0 for unknown types).
std::uint32_t TIFFTypeSize(std::uint16_t type);
