#pragma once
#include "raster/bitmap.h"
#include "raster/graphic.h"

#include <cstdint>
#include <memory>
#include <string>

class TJPEGDecompressor;
class TMemoryStream;
class TStream;
struct TJPEGRowTarget;

// Any fatal error of the JPEG library, with the library's message code.
class EJPEG : public EInvalidGraphic { using EInvalidGraphic::EInvalidGraphic; };
// Raised by a progress handler to stop coding quietly.
class EAbort : public Exception { using Exception::Exception; };

inline constexpr const char* SJPEGError = "JPEG error #%d";
inline constexpr const char* SChangeJPGSize = "Cannot change the size of a JPEG image";

enum class TJPEGDecodeLayout : std::uint8_t { dlTrueColor, dlIndexed8 };
enum class TJPEGDecodeSpeed : std::uint8_t { dsAccurate, dsFast };
// Decode-time reduction: the denominator is 2 to the power of the value.
enum class TJPEGScale : std::uint8_t { ScaleFull, ScaleHalf, ScaleQuarter, ScaleEighth };
using TJPEGQuality = std::uint8_t; // 1 ... 100

// The settings every new JPEG image starts with, process-wide. Written once at program
// start (InitJPEGDefaults), before any image exists; read-only afterwards.
struct TJPEGDefaults {
    TJPEGQuality EncodeQuality = 90;
    bool GrayOnly = false;
    TJPEGDecodeSpeed DecodeSpeed = TJPEGDecodeSpeed::dsAccurate;
    TJPEGDecodeLayout DecodeLayout = TJPEGDecodeLayout::dlTrueColor;
    bool ProgressiveShow = false;
    bool ProgressiveSave = false;
    TJPEGScale DecodeScale = TJPEGScale::ScaleFull;
    bool BlockSmoothing = true;
};
extern TJPEGDefaults JPEGDefaults;
// Indexed decoding only for a display of 8 bits per pixel or fewer (ours has 32).
void InitJPEGDefaults(int displayBitsPerPixel);

// The compressed form of a JPEG picture with the facts of its header, shared by every image
// that copied it.
struct TJPEGData {
    std::unique_ptr<TMemoryStream> CompressedData; // the whole file, or none
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    bool Grayscale = false; // one component
    bool CMYK = false;      // decodes to four components, cyan, magenta, yellow, black

    TJPEGData();
    ~TJPEGData();
    bool HasBytes() const;
};

// A JPEG picture held as compressed bytes, as a decoded bitmap, or both; each is made from the
// other when first needed. Loading parses only the header; pixels are decoded on first use
// and bytes encoded (baseline, EncodeQuality) on first save.
class TJPEGImage : public TGraphic {
public:
    TJPEGImage();
    ~TJPEGImage() override;

    std::string ClassName() const override { return "TJPEGImage"; }
    int Width() const override;
    int Height() const override;
    // Always fails: "Cannot change the size of a JPEG image".
    [[noreturn]] void SetWidth(int width);
    [[noreturn]] void SetHeight(int height);
    bool IsEmpty() const override;

    // Takes the bytes from the stream's position to its end and reads their header. A header
    // the library refuses raises EJPEG; the bytes stay, with width and height 0.
    void LoadStream(TStream& stream) override;
    // Writes the compressed bytes, encoding the decoded bitmap first when there are none.
    void SaveStream(TStream& stream) override;
    // The stored-property form: a 32-bit little-endian byte count, then the bytes.
    void ReadData(TStream& stream);
    void WriteData(TStream& stream);

    // From a JPEG image: shares its compressed data and decoded pixels. From a bitmap: shares
    // its pixels, drops the bytes (encoded when next saved).
    void CopyContentFrom(const TGraphic& source) override;
    // Into a bitmap: decodes if needed and lets the bitmap share the decoded pixels.
    void CopyContentInto(TGraphic& target) const override;
    void DrawInto(TCanvas& canvas, const TRect& rect) const override;
    // Same picture: both written streams equal, or one shared compressed data.
    bool Equals(const TGraphic& other) const;

    // The decoded picture, decoding first if needed: pl24Bit blue-green-red for colour files,
    // pl8Bit with 236 grey levels for grey ones, pl32Bit for CMYK files.
    TBitmap& DecodedBitmap();
    bool HasDecodedBitmap() const { return FBitmap != nullptr; }
    // Makes the bitmap from the bytes, once.
    void Decode();
    // Makes the bytes from the bitmap when there are none.
    void Encode();
    // The bytes and header facts (shared; never absent).
    const TJPEGData& Data() const { return *FData; }
    bool Grayscale() const { return FData->Grayscale; }

    // The decoded bitmap's colour table; otherwise the palette held for indexed decoding.
    TColorTable ColorTable() const;
    // Holds the table for indexed decoding and drops a decoded bitmap with another table.
    void SetColorTable(const TColorTable& table);

    TJPEGQuality EncodeQuality() const { return FEncodeQuality; }
    void SetEncodeQuality(TJPEGQuality quality);
    bool GrayOnly() const { return FGrayOnly; }
    void SetGrayOnly(bool value);
    TJPEGDecodeLayout DecodeLayout() const { return FDecodeLayout; }
    void SetDecodeLayout(TJPEGDecodeLayout layout);
    TJPEGDecodeSpeed DecodeSpeed() const { return FDecodeSpeed; }
    void SetDecodeSpeed(TJPEGDecodeSpeed speed);
    TJPEGScale DecodeScale() const { return FDecodeScale; }
    void SetDecodeScale(TJPEGScale scale);
    bool ProgressiveShow() const { return FProgressiveShow; }
    void SetProgressiveShow(bool value) { FProgressiveShow = value; }
    // Encode as progressive; after reading, whether the file has several scans.
    bool ProgressiveSave() const { return FProgressiveSave; }
    void SetProgressiveSave(bool value) { FProgressiveSave = value; }
    bool BlockSmoothing() const { return FBlockSmoothing; }
    void SetBlockSmoothing(bool value);
    bool CmykInverted() const { return FCmykInverted; }
    void SetCmykInverted(bool value) { FCmykInverted = value; }
    bool ConvertCmyk() const { return FConvertCmyk; }
    void SetConvertCmyk(bool value) { FConvertCmyk = value; }

private:
    friend struct TJPEGProgress;
    void NewData();
    void FreeBitmap();
    void ReadStream(TStream& stream, std::int64_t size);
    void CalcOutputDimensions() const;
    void ReportProgress(TProgressStage stage, int percent, bool redrawNow, const TRect& rect);
    // The steps of Decode (jpegimage.cpp).
    struct TDecodePlan;
    TDecodePlan PlanDecoding(TJPEGDecompressor& decompressor);
    bool UseHeldPalette(TJPEGDecompressor& decompressor);
    void DecodeRows(TJPEGDecompressor& decompressor, const TDecodePlan& plan, int& rowsDone);
    TBitmapHeader MakeDecodeTarget(TJPEGDecompressor& decompressor, const TDecodePlan& plan);
    void ShowScans(TJPEGDecompressor& decompressor, const TDecodePlan& plan, const TBitmapHeader& header,
        TJPEGRowTarget& target, int& rowsDone);
    template <typename T>
    void ChangeDecodeSetting(T& field, T value);

    std::shared_ptr<TJPEGData> FData;
    std::unique_ptr<TBitmap> FBitmap;
    mutable std::int32_t FScaledWidth = 0;
    mutable std::int32_t FScaledHeight = 0;
    mutable bool FNeedRecalc = false;
    std::unique_ptr<TColorTable> FTempPalette;
    bool FBlockSmoothing;
    bool FGrayOnly;
    TJPEGDecodeLayout FDecodeLayout;
    TJPEGQuality FEncodeQuality;
    bool FProgressiveShow;
    mutable bool FProgressiveSave;
    TJPEGDecodeSpeed FDecodeSpeed;
    TJPEGScale FDecodeScale;
    bool FCmykInverted = true;
    bool FConvertCmyk = true;
};
