#include "imaging/colormanager.h"

#include "imaging/colorroutines.h"

#include <cmath>

using namespace colorrows;

namespace {

bool HasAlphaSample(SampleScheme scheme)
{
    return scheme == schGrayAlpha || scheme == schRGBA || scheme == schBGRA;
}

bool IsRedFirst(SampleScheme scheme)
{
    return scheme == schRGB || scheme == schRGBA;
}

bool IsBlueFirst(SampleScheme scheme)
{
    return scheme == schBGR || scheme == schBGRA;
}

bool IsColorTarget(SampleScheme scheme)
{
    return IsRedFirst(scheme) || IsBlueFirst(scheme);
}

} // namespace

TColorManager::TColorManager()
{
    SetToneCurve(FFileGamma, FDisplayGamma);
}

void TColorManager::SetInSampleBits(std::uint8_t value)
{
    if (value == 0 || value > 16)
        throw EColorConversionError(SBadColorDepth);
    if (value != FInSampleBits) {
        FInSampleBits = value;
        FChanged = true;
    }
}

void TColorManager::SetOutSampleBits(std::uint8_t value)
{
    if (value == 0 || value > 16)
        throw EColorConversionError(SBadColorDepth);
    if (value != FOutSampleBits) {
        FOutSampleBits = value;
        FChanged = true;
    }
}

void TColorManager::SetInSamples(std::uint8_t value)
{
    if (value == 0 || value > 4)
        throw EColorConversionError(SBadSampleCount);
    if (value != FInSamples) {
        FInSamples = value;
        FChanged = true;
    }
}

void TColorManager::SetOutSamples(std::uint8_t value)
{
    if (value == 0 || value > 4)
        throw EColorConversionError(SBadSampleCount);
    if (value != FOutSamples) {
        FOutSamples = value;
        FChanged = true;
    }
}

void TColorManager::SetInScheme(SampleScheme value)
{
    if (value != FInScheme) {
        FInScheme = value;
        FChanged = true;
    }
}

void TColorManager::SetOutScheme(SampleScheme value)
{
    if (value != FOutScheme) {
        FOutScheme = value;
        FChanged = true;
    }
}

TPixelLayout TColorManager::LayoutFor(TConversionSide side) const
{
    using enum TPixelLayout;
    const unsigned bits = side == csSource ? FInSampleBits : FOutSampleBits;
    const unsigned samples = side == csSource ? FInSamples : FOutSamples;
    switch (samples) {
    case 1:
        if (bits == 1)
            return pl1Bit;
        if (bits >= 2 && bits <= 4)
            return pl4Bit;
        if (bits >= 8 && bits <= 16)
            return pl8Bit;
        return plCustom;
    case 3:
        return bits >= 1 && bits <= 5 ? pl15Bit : pl24Bit;
    case 4:
        return bits >= 8 ? pl32Bit : plCustom;
    default:
        return plCustom;
    }
}

void TColorManager::SetToneCurve(float fileGamma, float displayGamma)
{
    // A curve over fewer than 256 entries keeps the rest of the table before it.
    const unsigned outMax = (1u << FOutSampleBits) - 1;
    if (FToneStale && std::min(FInSampleBits < 8 ? outMax : 255u, 255u) < 255)
        BuildToneTable();
    FFileGamma = fileGamma > 0 ? fileGamma : 1.0f;
    FDisplayGamma = displayGamma > 0 ? displayGamma : 2.2f;
    FToneInBits = FInSampleBits;
    FToneOutBits = FOutSampleBits;
    FToneStale = true;
}

void TColorManager::BuildToneTable() const
{
    const unsigned outMax = (1u << FToneOutBits) - 1;
    // The table has 256 entries: a source below 8 bits into a target above 8 bits would ask
    // for more, so the range stops at the table's end.
    const unsigned last = std::min(FToneInBits < 8 ? outMax : 255u, 255u);
    const long double scale = FToneOutBits < 8 ? outMax : 255;
    const long double exponent = 1.0L / (static_cast<long double>(FFileGamma) * FDisplayGamma);
    for (unsigned i = 0; i <= last; ++i) {
        const long double value = scale * std::pow(static_cast<long double>(i) / last, exponent);
        FToneTable[i] = static_cast<std::uint8_t>(RoundClamped(value, 0, 255));
    }
    FToneStale = false;
}

void TColorManager::SetLumaWeights(std::span<const float> weights, std::uint8_t horizontal, std::uint8_t vertical)
{
    for (std::size_t i = 0; i < weights.size() && i < FLumaWeights.size(); ++i)
        FLumaWeights[i] = weights[i];
    const auto valid = [](std::uint8_t value) { return value == 1 || value == 2 || value == 4; };
    if (!valid(horizontal) || !valid(vertical))
        throw EColorConversionError(SBadSubSampling);
    if (vertical > horizontal)
        throw EColorConversionError(SVerticalSubSamplingError);
    FHorizontalSubsampling = horizontal;
    FVerticalSubsampling = vertical;
}

void TColorManager::BuildChromaTables()
{
    const float kr = FLumaWeights[0], kg = FLumaWeights[1], kb = FLumaWeights[2];
    const float cr = 2 - 2 * kr;
    const float cb = 2 - 2 * kb;
    const float gr = kr * cr / kg;
    const float gb = kb * cb / kg;
    const bool photo = FInScheme == schPhotoYCC;
    // Odd weights (a green weight of 0 gives infinities) must not overflow the sums of
    // the row routines; any entry beyond this bound clamps the result anyway.
    constexpr std::int32_t Bound = 1 << 20;
    for (int i = 0; i < 256; ++i) {
        const float e = static_cast<float>(photo ? i - 137 : i - 128);
        const float f = static_cast<float>(photo ? i - 156 : i - 128);
        FCrToRed[i] = RoundClamped(cr * e, -Bound, Bound);
        FCbToBlue[i] = RoundClamped(cb * f, -Bound, Bound);
        FCrToGreen[i] = -RoundClamped(gr * e, -Bound, Bound);
        FCbToGreen[i] = -RoundClamped(gb * f, -Bound, Bound);
    }
}

void TColorManager::PickRowRoutine()
{
    FRowRoutine = nullptr;
    const bool sourceIndexed = FInScheme == schIndexed || FInScheme == schGray || FInScheme == schGrayAlpha;
    const bool targetIndexed = FOutScheme == schIndexed || FOutScheme == schGray;
    if (sourceIndexed != targetIndexed)
        throw EColorConversionError(SIndexedNotSupported);

    const unsigned in = FInSampleBits, out = FOutSampleBits;
    // Samples of whole pixels are read as 8 or 16 bits only; a routine never leaves a row
    // unwritten for another depth.
    const bool bytesOnly = FInScheme != schIndexed && (FInScheme != schGray || in == 16 || out == 16);
    if (bytesOnly && ((in != 8 && in != 16) || (out != 8 && out != 16)))
        throw EColorConversionError(SConversionFailed);
    TRowRoutine routine = nullptr;
    switch (FInScheme) {
    case schIndexed:
        if (in == 16 && out == 16)
            routine = Indexed16To16;
        else if (in == 16)
            routine = Indexed16ToN;
        else if (out == 16)
            routine = IndexedNTo16;
        else
            routine = IndexedNToM;
        break;
    case schGray:
        if (in != 16 && out != 16)
            routine = IndexedNToM;
        else
            routine = GrayCopy;
        break;
    case schGrayAlpha:
        if ((in == 8 || in == 16) && (out == 8 || out == 16))
            routine = GrayCopy;
        break;
    case schRGB:
    case schRGBA:
        if (IsRedFirst(FOutScheme))
            routine = ColorCopySameOrder;
        else if (IsBlueFirst(FOutScheme))
            routine = ColorCopyReversedOrder;
        break;
    case schBGR:
    case schBGRA:
        if (IsRedFirst(FOutScheme))
            routine = ColorCopyReversedOrder;
        else if (IsBlueFirst(FOutScheme))
            routine = ColorCopySameOrder;
        break;
    case schCMYK:
        if (IsColorTarget(FOutScheme))
            routine = IsRedFirst(FOutScheme) ? CMYKToRGB : CMYKToBGR;
        break;
    case schLab:
        if (IsColorTarget(FOutScheme))
            routine = IsRedFirst(FOutScheme) ? LabToRGB : LabToBGR;
        break;
    case schYCbCr:
        if (IsColorTarget(FOutScheme)) {
            BuildChromaTables();
            routine = IsRedFirst(FOutScheme) ? YCbCrToRGB : YCbCrToBGR;
        }
        break;
    case schPhotoYCC:
        if (IsColorTarget(FOutScheme)) {
            BuildChromaTables();
            routine = IsRedFirst(FOutScheme) ? PhotoYCCToRGB : PhotoYCCToBGR;
        }
        break;
    default:
        break;
    }
    if (routine == nullptr)
        throw EColorConversionError(SConversionFailed);

    // The alpha flags follow the schemes; set only once a routine exists, so a failed
    // selection leaves the flags as they were.
    FInFlags = HasAlphaSample(FInScheme) ? FInFlags | cfHasAlpha : FInFlags & ~cfHasAlpha;
    FOutFlags = HasAlphaSample(FOutScheme) ? FOutFlags | cfHasAlpha : FOutFlags & ~cfHasAlpha;
    FRowRoutine = routine;
    FChanged = false;
}

void TColorManager::TranslateRow(std::span<const std::uint8_t* const> sources, void* target, std::uint32_t count,
    std::uint8_t mask)
{
    if (FChanged)
        PickRowRoutine();
    if (FRowRoutine == nullptr)
        throw EColorConversionError(SConversionFailed);
    if (count == 0 || mask == 0)
        return;
    if (sources.empty() || target == nullptr)
        throw EColorConversionError(SConversionFailed);
    for (const std::uint8_t* plane : sources)
        if (plane == nullptr)
            throw EColorConversionError(SConversionFailed);
    FRowRoutine(TRowJob { sources, static_cast<std::uint8_t*>(target), count, mask, *this });
}

TColorTable TColorManager::MakeGrayPalette(bool inverted) const
{
    const unsigned bits = std::min(unsigned(FOutSampleBits) * FOutSamples, 8u);
    const unsigned entries = 1u << bits;
    const unsigned step = 255 / (entries - 1);
    const bool curve = (FOutFlags & cfApplyCurve) != 0;
    TColorTable palette(entries);
    for (unsigned i = 0; i < entries; ++i) {
        const unsigned level = i * step;
        const std::uint8_t value = curve ? ToneTable()[level] : static_cast<std::uint8_t>(level);
        auto& entry = palette[inverted ? entries - 1 - i : i];
        entry.Red = entry.Green = entry.Blue = value;
        entry.Reserved = 0;
    }
    return palette;
}

TColorTable TColorManager::MakeRawPalette(std::span<const std::uint8_t* const> data, RawPaletteKind kind,
    std::uint32_t count, bool blueFirst) const
{
    if (kind > rpPlanar16Quad || data.empty())
        throw EColorConversionError(SConversionFailed);
    const bool planar = kind == rpPlanar8Triple || kind == rpPlanar8Quad || kind == rpPlanar16Triple
        || kind == rpPlanar16Quad;
    if (planar && data.size() < 3)
        throw EColorConversionError(SConversionFailed);
    for (const std::uint8_t* plane : data.first(planar ? 3 : 1))
        if (plane == nullptr)
            throw EColorConversionError(SConversionFailed);

    const bool wide = kind >= rpInterleaved16Triple;
    const bool swap = (FInFlags & cfSwapOrder) != 0;
    const bool curve = (FOutFlags & cfApplyCurve) != 0;
    const unsigned bytes = wide ? 2 : 1;
    const unsigned stride = (kind == rpInterleaved8Quad || kind == rpInterleaved16Quad) ? 4 : 3;
    const auto sample = [&](const std::uint8_t* p) {
        const std::uint8_t value = wide ? Reduce16(Read16(p, swap)) : *p;
        return curve ? ToneTable()[value] : value;
    };
    // Entry index of the raw data; an index at or past count reads as black.
    const auto entryAt = [&](std::uint32_t index) {
        TRGBQuad entry;
        if (index >= count)
            return entry;
        std::uint8_t first, second, third;
        if (planar) {
            first = sample(data[0] + std::size_t(index) * bytes);
            second = sample(data[1] + std::size_t(index) * bytes);
            third = sample(data[2] + std::size_t(index) * bytes);
        } else {
            const std::uint8_t* p = data[0] + std::size_t(index) * stride * bytes;
            first = sample(p);
            second = sample(p + bytes);
            third = sample(p + 2 * bytes);
        }
        entry.Green = second;
        entry.Red = !planar && blueFirst ? third : first;
        entry.Blue = !planar && blueFirst ? first : third;
        return entry;
    };

    const unsigned inBits = FInSampleBits, outBits = FOutSampleBits;
    const std::uint32_t sourceMax = (1u << inBits) - 1;
    const std::uint32_t targetMax = (1u << outBits) - 1;
    TColorTable palette;
    if (outBits <= 8 && sourceMax != targetMax) {
        // Spread the entries to match the index rescaling of indexed rows: target index i
        // shows source index i × S ÷ T. Read from the raw data directly, so sources with
        // more than 8 bits of index are spread too without leaving the 256-entry table.
        palette.resize(targetMax + 1);
        for (std::uint32_t i = 0; i <= targetMax; ++i)
            palette[i] = entryAt(static_cast<std::uint32_t>(std::uint64_t(i) * sourceMax / targetMax));
    } else {
        palette.resize(std::min<std::uint32_t>(count, 256));
        for (std::uint32_t i = 0; i < palette.size(); ++i)
            palette[i] = entryAt(i);
    }
    return palette;
}
