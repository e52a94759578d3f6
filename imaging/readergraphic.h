#pragma once
#include "base/fmt.h"
#include "imaging/colormanager.h"
#include "raster/bitmap.h"
#include "raster/graphic.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TStream;

inline constexpr const char* SInvalidImageFormat = "Cannot load image. Invalid or unexpected %s image format.";
inline constexpr const char* SPreparing = "Preparing...";
inline constexpr const char* STransfering = "Transfering...";
inline constexpr const char* SLoadingData = "Loading data...";

// How the pixel data of a file is compressed; TIFF Compression values in the comments.
enum CompressionKind : std::uint8_t {
    cmpUndefined = 0, // every value not listed
    cmpNone = 1,      // 1
    cmpPackBits = 3,  // 32773
    cmpLZW = 4,       // 5, and every GIF
    cmpFaxT4 = 5,     // 3
    cmpFaxMH = 6,     // 2
    cmpFaxT6 = 7,     // 4
    cmpFaxRLEW = 8,   // 32771
    cmpDeflate = 9,   // 8 and 32946, and PNG
    cmpJPEG = 10,     // 7
    cmpOldJPEG = 11,  // 6
    cmpThunderScan = 12, // 32809
    cmpNeXT = 13,     // 32766
    cmpIT8CTPAD = 14, // 32895
    cmpIT8LW = 15,    // 32896
    cmpIT8MP = 16,    // 32897
    cmpIT8BL = 17,    // 32898
    cmpPixarFilm = 18, // 32908
    cmpPixarLog = 19, // 32909
    cmpDCS = 20,      // 32947
    cmpJBIG = 21,     // 34661
};

// Bits of TImageProperties::Options.
enum TImageOption : std::uint8_t {
    optTiled = 1,        // the image is tiled
    optBigEndian = 2,    // multi-byte values are big-endian
    optMinIsWhite = 4,   // grey value 0 is white
    optReversedBits = 8, // bits in a byte run from least to most significant (FillOrder 2)
    optGammaApplied = 16, // the colour manager applies a file gamma
};
using TImageOptions = std::uint8_t;

using TCardinalArray = std::vector<std::uint32_t>;
using TByteArray = std::vector<std::uint8_t>;

// What a reader learns from a file's headers. A reader fills the fields its format has; the
// others stay zero (FileGamma 1.0).
struct TImageProperties {
    std::uint32_t Version = 0; // TIFF: 42; GIF: 87 or 89
    TImageOptions Options = 0;
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    SampleScheme ColorScheme = schNone;
    std::uint8_t BitsPerSample = 0;
    std::uint8_t SamplesPerPixel = 0;
    std::uint8_t BitsPerPixel = 0; // SamplesPerPixel × BitsPerSample, truncated to 8 bits
    CompressionKind Compression = cmpUndefined;
    float FileGamma = 1.0f; // 1.0 when the file has none
    float XResolution = 0;  // dots per inch
    float YResolution = 0;
    bool Interlaced = false;
    bool HasAlpha = false;
    std::uint32_t FirstIFD = 0;
    std::uint32_t PlanarConfig = 0; // 0 when absent
    std::uint32_t CurrentRow = 0;   // loading state: next bitmap row to fill
    std::uint32_t TileWidth = 0;
    std::uint32_t TileLength = 0;
    std::uint32_t BytesPerLine = 0; // bytes of one decoded row
    TCardinalArray RowsPerStrip;
    TByteArray YCbCrSubsampling; // horizontal, vertical
    TByteArray JPEGTables;       // abbreviated JPEG table stream
    std::uint32_t JPEGColorMode = 0;
    std::uint32_t JPEGTablesMode = 0;
    std::uint32_t CurrentStrip = 0;
    std::uint32_t StripCount = 0;
    std::uint32_t Predictor = 0; // 0 when absent
    bool LocalColorTable = false; // the first GIF image has its own colour table
    std::uint8_t FilterMode = 0;  // PNG filter method byte

    // Every field zero, the arrays released, FileGamma 1.0.
    void Clear() { *this = TImageProperties(); }
};

// Which width the first progress area of a load has.
enum TProgressArea : std::uint8_t { paImageWidth, paEmpty };

// Base of the file readers: a bitmap that owns a colour manager and the properties of the
// image it reads. A reader decodes straight into its own rows; after LoadStream it is a
// finished bitmap.
class TReaderGraphic : public TBitmap {
public:
    TReaderGraphic();
    ~TReaderGraphic() override;

    std::string ClassName() const override { return "TReaderGraphic"; }

    // Class-level format checks. CanReadStream is true when the bytes at the stream's
    // position carry the format's signature and leaves the position unchanged; the base
    // answers false. Every reader declares its own static CanReadStream and a CanReadFile
    // that passes it to CanReadFileWith.
    static bool CanReadStream(TStream& stream);
    static bool CanReadFile(const std::string& fileName) { return CanReadFileWith(fileName, &TReaderGraphic::CanReadStream); }
    // Opens the file read-only (denying other writers) and asks canReadStream; a file that
    // cannot be opened fails with the stream's open error.
    static bool CanReadFileWith(const std::string& fileName, bool (*canReadStream)(TStream& stream));

    // Fills Properties for image imageIndex from the headers, without decoding pixels. The
    // base clears the record and answers false; readers call it first.
    virtual bool ReadImageInfo(TStream& stream, std::uint32_t imageIndex);

    // From a reader the properties are copied first; then the bitmap copy.
    void CopyContentFrom(const TGraphic& source) override;

    TColorManager& ColorManager() { return FColorManager; }
    const TColorManager& ColorManager() const { return FColorManager; }
    TImageProperties& Properties() { return FProperties; }
    const TImageProperties& Properties() const { return FProperties; }

    // Stream position at which LoadStream started; TIFF offsets are relative to it. Kept in
    // 64 bits so that position + offset cannot wrap.
    std::int64_t BasePosition() const { return FBasePosition; }
    // The stream being read; meaningful during loading only.
    TStream* SourceStream() const { return FSourceStream; }
    const TRect& ProgressRect() const { return FProgressRect; }
    void SetProgressRect(const TRect& rect) { FProgressRect = rect; }

    // Raises EInvalidGraphic with the message, or with the pattern filled in from the
    // (string) arguments.
    [[noreturn]] static void RaiseGraphicError(std::string_view message)
    {
        throw EInvalidGraphic(std::string(message));
    }
    template <typename... Args>
        requires(sizeof...(Args) > 0)
    [[noreturn]] static void RaiseGraphicError(std::string_view pattern, const Args&... args)
    {
        throw EInvalidGraphic(Fmt(pattern, args...));
    }

protected:
    // The common start of every LoadStream: empties the bitmap, remembers the stream and
    // its position, reads the image information (false: SInvalidImageFormat with
    // formatName, "PNG", "GIF" or "TIF/TIFF"), sets ProgressRect to (0, 0, w, 1) (w the
    // image width, or 0 for paEmpty) and reports stage starting with "Preparing...".
    void StartLoading(TStream& stream, std::string_view formatName, TProgressArea area = paImageWidth);
    // Stage notifications with ProgressRect: starting reports 0 percent, ending 100.
    void ProgressStart(const std::string& message);
    void ProgressEnd(const std::string& message = std::string());
    // One finished row: stage running, percent = row × 100 ÷ height rounded to nearest,
    // redraw requested; afterwards ProgressRect moves down one row.
    void ProgressRow(std::uint32_t row, std::uint32_t height);

    std::int64_t FBasePosition = 0;
    TStream* FSourceStream = nullptr;
    TRect FProgressRect;

private:
    TColorManager FColorManager;
    TImageProperties FProperties;
};
