#pragma once
#include "base/exception.h"
#include "raster/bitmap.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>

// A conversion the colour manager cannot do, or a description it refuses.
class EColorConversionError : public Exception { using Exception::Exception; };

inline constexpr const char* SBadColorDepth = "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.";
inline constexpr const char* SBadSampleCount = "Sample count per pixel does not correspond to the given color scheme.";
inline constexpr const char* SIndexedNotSupported = "Conversion between indexed and non-indexed pixel formats is not supported.";
inline constexpr const char* SConversionFailed = "Color conversion failed. Could not find a proper method.";
inline constexpr const char* SBadSubSampling = "Subsampling value is invalid. Allowed are 1, 2 and 4.";
inline constexpr const char* SVerticalSubSamplingError = "Vertical subsampling value must be <= horizontal subsampling value.";

// Colour scheme of a pixel; the samples lie in the order of the name (schBGR: blue, green,
// red). The 24- and 32-bit bitmap layouts are schBGR and schBGRA. A plain enum, so both
// schRGB and SampleScheme::schRGB read well.
enum SampleScheme : std::uint8_t {
    schNone,
    schIndexed,
    schGray,
    schGrayAlpha,
    schRGB,
    schRGBA,
    schBGR,
    schBGRA,
    schCMY,
    schCMYK,
    schLab, // CIE L*a*b*
    schYCbCr,
    schPhotoYCC,
};

// Conversion flags, bits of InFlags and OutFlags.
enum TConversionFlag : std::uint8_t {
    cfHasAlpha = 1,      // set and cleared at selection from the scheme
    cfApplyCurve = 2,    // target: 8-bit results pass through the tone table
    cfSwapOrder = 4,     // source: 16-bit samples are most significant byte first
    cfLightness255 = 8,  // source: L* is stored as 0..255
    cfChromaBiased = 16, // source: a* and b* are unsigned with a bias of 128
};
using TConversionFlags = std::uint8_t;

// Which side of the conversion LayoutFor describes.
enum TConversionSide : std::uint8_t { csSource = 0, csTarget = 1 };

// How the data of MakeRawPalette is arranged.
enum RawPaletteKind : std::uint8_t {
    rpInterleaved8Triple = 0,  // r g b (or b g r when blue first)
    rpInterleaved8Quad = 1,    // r g b x
    rpPlanar8Triple = 2,       // three planes red, green, blue
    rpPlanar8Quad = 3,         // the same; a fourth plane is ignored
    rpInterleaved16Triple = 4, // 16-bit samples
    rpInterleaved16Quad = 5,
    rpPlanar16Triple = 6,
    rpPlanar16Quad = 7,
};

// Converts rows of decoded samples of any scheme, depth and arrangement into bitmap rows.
// A reader describes source and target, asks LayoutFor for the bitmap layout and hands
// every row to TranslateRow. The row routine is chosen at the first row after a change.
class TColorManager {
public:
    TColorManager();

    std::uint8_t InSampleBits() const { return FInSampleBits; }
    std::uint8_t OutSampleBits() const { return FOutSampleBits; }
    std::uint8_t InSamples() const { return FInSamples; }
    std::uint8_t OutSamples() const { return FOutSamples; }
    // 0 or above 16: SBadColorDepth.
    void SetInSampleBits(std::uint8_t value);
    void SetOutSampleBits(std::uint8_t value);
    // 0 or above 4: SBadSampleCount.
    void SetInSamples(std::uint8_t value);
    void SetOutSamples(std::uint8_t value);

    SampleScheme InScheme() const { return FInScheme; }
    SampleScheme OutScheme() const { return FOutScheme; }
    void SetInScheme(SampleScheme value);
    void SetOutScheme(SampleScheme value);

    // Read and written directly by the readers; a flag change does not trigger a new
    // selection, the routines read the flags on every row.
    TConversionFlags& InFlags() { return FInFlags; }
    TConversionFlags InFlags() const { return FInFlags; }
    TConversionFlags& OutFlags() { return FOutFlags; }
    TConversionFlags OutFlags() const { return FOutFlags; }
    void SetInFlags(TConversionFlags value) { FInFlags = value; }
    void SetOutFlags(TConversionFlags value) { FOutFlags = value; }

    float FileGamma() const { return FFileGamma; }
    float DisplayGamma() const { return FDisplayGamma; }
    std::uint8_t HorizontalSubsampling() const { return FHorizontalSubsampling; }
    std::uint8_t VerticalSubsampling() const { return FVerticalSubsampling; }
    std::array<float, 3> LumaWeights() const { return FLumaWeights; }
    // Built on first use after SetToneCurve: most pictures never apply the curve.
    const std::array<std::uint8_t, 256>& ToneTable() const
    {
        if (FToneStale)
            BuildToneTable();
        return FToneTable;
    }

    // The bitmap layout that fits the source (csSource) or the target (csTarget).
    TPixelLayout LayoutFor(TConversionSide side) const;

    // Builds the tone table for the current depths; a gamma of 0 or below takes the default
    // (file 1.0, display 2.2).
    void SetToneCurve(float fileGamma, float displayGamma);
    // Stores up to three luma weights (red, green, blue), then checks and stores the chroma
    // subsampling (1, 2 or 4; vertical not above horizontal).
    void SetLumaWeights(std::span<const float> weights, std::uint8_t horizontal, std::uint8_t vertical);
    void SetLumaWeights(std::initializer_list<float> weights, std::uint8_t horizontal, std::uint8_t vertical)
    {
        SetLumaWeights(std::span<const float>(weights.begin(), weights.size()), horizontal, vertical);
    }

    // Converts count target pixels' worth of source pixels. One source address means
    // interleaved samples, several mean one plane per sample. Bit 7 of mask stands for pixel
    // 0, bit 6 for pixel 1 and so on, repeating every 8 pixels; a pixel with a clear bit is
    // left untouched in the target and takes no source pixel. 255 converts every pixel.
    void TranslateRow(std::span<const std::uint8_t* const> sources, void* target, std::uint32_t count,
        std::uint8_t mask = 0xFF);
    void TranslateRow(std::initializer_list<const std::uint8_t*> sources, void* target, std::uint32_t count,
        std::uint8_t mask = 0xFF)
    {
        TranslateRow(std::span<const std::uint8_t* const>(sources.begin(), sources.size()), target, count, mask);
    }
    void TranslateRow(const void* source, void* target, std::uint32_t count, std::uint8_t mask = 0xFF)
    {
        const std::uint8_t* planes[1] = { static_cast<const std::uint8_t*>(source) };
        TranslateRow(std::span<const std::uint8_t* const>(planes, 1), target, count, mask);
    }

    // A gray ramp of 2^min(OutSampleBits × OutSamples, 8) entries; inverted: entry 0 is white.
    TColorTable MakeGrayPalette(bool inverted) const;
    // A palette from raw colour data (at most 256 entries), spread to match the index
    // rescaling of indexed rows when the depths differ.
    TColorTable MakeRawPalette(std::span<const std::uint8_t* const> data, RawPaletteKind kind,
        std::uint32_t count, bool blueFirst) const;
    TColorTable MakeRawPalette(std::initializer_list<const std::uint8_t*> data, RawPaletteKind kind,
        std::uint32_t count, bool blueFirst) const
    {
        return MakeRawPalette(std::span<const std::uint8_t* const>(data.begin(), data.size()), kind, count, blueFirst);
    }
    TColorTable MakeRawPalette(const void* data, RawPaletteKind kind, std::uint32_t count, bool blueFirst) const
    {
        const std::uint8_t* planes[1] = { static_cast<const std::uint8_t*>(data) };
        return MakeRawPalette(std::span<const std::uint8_t* const>(planes, 1), kind, count, blueFirst);
    }

    // Everything a row routine reads; public so the routine families can live in files of
    // their own.
    struct TRowJob {
        std::span<const std::uint8_t* const> Sources;
        std::uint8_t* Target;
        std::uint32_t Count;
        std::uint8_t Mask;
        const TColorManager& Manager;
    };
    using TRowRoutine = void (*)(const TRowJob& job);
    using TChromaTable = std::array<std::int32_t, 256>;

    // Used by the row routines.
    std::uint8_t InBits() const { return FInSampleBits; }
    std::uint8_t OutBits() const { return FOutSampleBits; }
    const TChromaTable& CrToRed() const { return FCrToRed; }
    const TChromaTable& CbToBlue() const { return FCbToBlue; }
    const TChromaTable& CrToGreen() const { return FCrToGreen; }
    const TChromaTable& CbToGreen() const { return FCbToGreen; }

private:
    void PickRowRoutine();
    void BuildChromaTables();

    void BuildToneTable() const;
    bool FChanged = true;
    std::uint8_t FInSampleBits = 8;
    std::uint8_t FOutSampleBits = 8;
    std::uint8_t FInSamples = 3;
    std::uint8_t FOutSamples = 3;
    float FFileGamma = 1.0f;
    float FDisplayGamma = 2.2f;
    mutable std::array<std::uint8_t, 256> FToneTable {};
    mutable bool FToneStale = true;
    std::uint8_t FToneInBits = 8, FToneOutBits = 8; // the depths when the curve was set
    std::array<float, 3> FLumaWeights { 0.299f, 0.587f, 0.114f };
    std::uint8_t FHorizontalSubsampling = 1;
    std::uint8_t FVerticalSubsampling = 1;
    TChromaTable FCrToRed {};   // T_R
    TChromaTable FCbToBlue {};  // T_B
    TChromaTable FCrToGreen {}; // T_RG
    TChromaTable FCbToGreen {}; // T_BG
    SampleScheme FInScheme = schRGB;
    SampleScheme FOutScheme = schBGR;
    TRowRoutine FRowRoutine = nullptr;
    TConversionFlags FInFlags = 0;
    TConversionFlags FOutFlags = 0;
};
