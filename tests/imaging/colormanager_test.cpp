#include "imaging/colormanager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::StrEq;
using testing::ThrowsMessage;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Target bytes start as this value so that untouched places can be told apart.
constexpr std::uint8_t Untouched = 0xEE;

Bytes RandomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes bytes(count);
    for (auto& byte : bytes)
        byte = static_cast<std::uint8_t>(random());
    return bytes;
}

bool MaskBit(std::uint8_t mask, std::uint32_t pixel)
{
    return (mask & (0x80u >> (pixel & 7))) != 0;
}

std::uint32_t SourcePixelCount(std::uint32_t count, std::uint8_t mask)
{
    std::uint32_t result = 0;
    for (std::uint32_t i = 0; i < count; ++i)
        result += MaskBit(mask, i);
    return result;
}

TColorManager Manager(SampleScheme in, SampleScheme out, std::uint8_t inBits, std::uint8_t outBits,
    std::uint8_t inSamples = 3, std::uint8_t outSamples = 3)
{
    TColorManager manager;
    manager.SetInScheme(in);
    manager.SetOutScheme(out);
    manager.SetInSampleBits(inBits);
    manager.SetOutSampleBits(outBits);
    manager.SetInSamples(inSamples);
    manager.SetOutSamples(outSamples);
    return manager;
}

std::uint32_t Get16(const std::uint8_t* p, bool bigEndian)
{
    return bigEndian ? p[0] * 256u + p[1] : p[1] * 256u + p[0];
}

void Put16(std::uint8_t* p, std::uint32_t value, bool bigEndian)
{
    p[bigEndian ? 0 : 1] = static_cast<std::uint8_t>(value >> 8);
    p[bigEndian ? 1 : 0] = static_cast<std::uint8_t>(value & 0xFF);
}

} // namespace

// --- Description checks -------------------------------------------------------------------

struct TBadSetting {
    const char* Name;
    void (*Apply)(TColorManager& manager);
    const char* Message;
};

class TColorManagerRefusesSetting : public testing::TestWithParam<TBadSetting> {};

TEST_P(TColorManagerRefusesSetting, WithItsMessageAndKeepsTheOldValue)
{
    TColorManager manager;
    EXPECT_THAT([&] { GetParam().Apply(manager); }, ThrowsMessage<EColorConversionError>(StrEq(GetParam().Message)));
    EXPECT_EQ(manager.InSampleBits(), 8);
    EXPECT_EQ(manager.OutSampleBits(), 8);
    EXPECT_EQ(manager.InSamples(), 3);
    EXPECT_EQ(manager.OutSamples(), 3);
}

INSTANTIATE_TEST_SUITE_P(Descriptions, TColorManagerRefusesSetting,
    testing::Values(
        TBadSetting { "InBits0", [](TColorManager& m) { m.SetInSampleBits(0); }, SBadColorDepth },
        TBadSetting { "InBits17", [](TColorManager& m) { m.SetInSampleBits(17); }, SBadColorDepth },
        TBadSetting { "OutBits0", [](TColorManager& m) { m.SetOutSampleBits(0); }, SBadColorDepth },
        TBadSetting { "OutBits255", [](TColorManager& m) { m.SetOutSampleBits(255); }, SBadColorDepth },
        TBadSetting { "InSamples0", [](TColorManager& m) { m.SetInSamples(0); }, SBadSampleCount },
        TBadSetting { "InSamples5", [](TColorManager& m) { m.SetInSamples(5); }, SBadSampleCount },
        TBadSetting { "OutSamples0", [](TColorManager& m) { m.SetOutSamples(0); }, SBadSampleCount },
        TBadSetting { "OutSamples5", [](TColorManager& m) { m.SetOutSamples(5); }, SBadSampleCount },
        TBadSetting { "Subsampling3", [](TColorManager& m) { m.SetLumaWeights(std::span<const float>(), 3, 1); }, SBadSubSampling },
        TBadSetting { "Subsampling0", [](TColorManager& m) { m.SetLumaWeights(std::span<const float>(), 2, 0); }, SBadSubSampling },
        TBadSetting { "VerticalAboveHorizontal", [](TColorManager& m) { m.SetLumaWeights(std::span<const float>(), 2, 4); },
            SVerticalSubSamplingError }),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

TEST(TColorManager, MessagesAreTheFixedTexts)
{
    EXPECT_STREQ(SBadColorDepth, "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.");
    EXPECT_STREQ(SBadSampleCount, "Sample count per pixel does not correspond to the given color scheme.");
    EXPECT_STREQ(SIndexedNotSupported, "Conversion between indexed and non-indexed pixel formats is not supported.");
    EXPECT_STREQ(SConversionFailed, "Color conversion failed. Could not find a proper method.");
    EXPECT_STREQ(SBadSubSampling, "Subsampling value is invalid. Allowed are 1, 2 and 4.");
    EXPECT_STREQ(SVerticalSubSamplingError, "Vertical subsampling value must be <= horizontal subsampling value.");
}

TEST(TColorManager, LumaWeightsAreStoredEvenWhenTheSubsamplingIsRefused)
{
    TColorManager manager;
    EXPECT_THROW(manager.SetLumaWeights({ 0.2126f, 0.7152f }, 4, 8), EColorConversionError);
    EXPECT_FLOAT_EQ(manager.LumaWeights()[0], 0.2126f);
    EXPECT_FLOAT_EQ(manager.LumaWeights()[1], 0.7152f);
    EXPECT_FLOAT_EQ(manager.LumaWeights()[2], 0.114f);
    EXPECT_EQ(manager.HorizontalSubsampling(), 1);
    manager.SetLumaWeights({ 0.3f, 0.6f, 0.1f, 0.9f }, 4, 2);
    EXPECT_FLOAT_EQ(manager.LumaWeights()[2], 0.1f);
    EXPECT_EQ(manager.HorizontalSubsampling(), 4);
    EXPECT_EQ(manager.VerticalSubsampling(), 2);
}

struct TLayoutCase {
    std::uint8_t Bits, Samples;
    TPixelLayout Layout;
};

class TColorManagerLayout : public testing::TestWithParam<TLayoutCase> {};

TEST_P(TColorManagerLayout, FollowsDepthAndSamplesOnBothSides)
{
    const auto& c = GetParam();
    TColorManager manager;
    manager.SetInSampleBits(c.Bits);
    manager.SetInSamples(c.Samples);
    EXPECT_EQ(manager.LayoutFor(csSource), c.Layout);
    manager.SetOutSampleBits(c.Bits);
    manager.SetOutSamples(c.Samples);
    EXPECT_EQ(manager.LayoutFor(csTarget), c.Layout);
}

INSTANTIATE_TEST_SUITE_P(Layouts, TColorManagerLayout,
    testing::Values(TLayoutCase { 1, 1, TPixelLayout::pl1Bit }, TLayoutCase { 2, 1, TPixelLayout::pl4Bit },
        TLayoutCase { 4, 1, TPixelLayout::pl4Bit }, TLayoutCase { 5, 1, TPixelLayout::plCustom },
        TLayoutCase { 8, 1, TPixelLayout::pl8Bit }, TLayoutCase { 16, 1, TPixelLayout::pl8Bit },
        TLayoutCase { 8, 2, TPixelLayout::plCustom }, TLayoutCase { 5, 3, TPixelLayout::pl15Bit },
        TLayoutCase { 1, 3, TPixelLayout::pl15Bit }, TLayoutCase { 6, 3, TPixelLayout::pl24Bit },
        TLayoutCase { 16, 3, TPixelLayout::pl24Bit }, TLayoutCase { 8, 4, TPixelLayout::pl32Bit },
        TLayoutCase { 16, 4, TPixelLayout::pl32Bit }, TLayoutCase { 4, 4, TPixelLayout::plCustom }),
    [](const auto& testInfo) {
        return std::to_string(testInfo.param.Bits) + "Bits" + std::to_string(testInfo.param.Samples) + "Samples";
    });

// --- Selection ----------------------------------------------------------------------------

struct TBadSelection {
    const char* Name;
    SampleScheme In, Out;
    std::uint8_t InBits, OutBits;
    const char* Message;
};

class TColorManagerRefusesConversion : public testing::TestWithParam<TBadSelection> {};

TEST_P(TColorManagerRefusesConversion, AtTheFirstRowAndAgainAtTheNext)
{
    const auto& c = GetParam();
    TColorManager manager = Manager(c.In, c.Out, c.InBits, c.OutBits);
    Bytes source(64), target(64, Untouched);
    for (int attempt = 0; attempt < 2; ++attempt)
        EXPECT_THAT([&] { manager.TranslateRow(source.data(), target.data(), 2); },
            ThrowsMessage<EColorConversionError>(StrEq(c.Message)));
    EXPECT_THAT(target, testing::Each(Untouched));
}

INSTANTIATE_TEST_SUITE_P(Selections, TColorManagerRefusesConversion,
    testing::Values(TBadSelection { "GrayToRGB", schGray, schRGB, 8, 8, SIndexedNotSupported },
        TBadSelection { "IndexedToBGR", schIndexed, schBGR, 8, 8, SIndexedNotSupported },
        TBadSelection { "GrayAlphaToBGRA", schGrayAlpha, schBGRA, 8, 8, SIndexedNotSupported },
        TBadSelection { "RGBToGray", schRGB, schGray, 8, 8, SIndexedNotSupported },
        TBadSelection { "CMYKToIndexed", schCMYK, schIndexed, 8, 8, SIndexedNotSupported },
        TBadSelection { "CMYToRGB", schCMY, schRGB, 8, 8, SConversionFailed },
        TBadSelection { "NoneToBGR", schNone, schBGR, 8, 8, SConversionFailed },
        TBadSelection { "RGBToGrayAlpha", schRGB, schGrayAlpha, 8, 8, SConversionFailed },
        TBadSelection { "RGBToCMYK", schRGB, schCMYK, 8, 8, SConversionFailed },
        TBadSelection { "LabToLab", schLab, schLab, 8, 8, SConversionFailed },
        TBadSelection { "Gray4To16", schGray, schGray, 4, 16, SConversionFailed },
        TBadSelection { "Gray16To2", schGray, schIndexed, 16, 2, SConversionFailed },
        TBadSelection { "GrayAlpha4To8", schGrayAlpha, schGray, 4, 8, SConversionFailed },
        // Depths no routine reads are refused rather than converted into nothing.
        TBadSelection { "Gray12To16", schGray, schGray, 12, 16, SConversionFailed },
        TBadSelection { "RGB12To8", schRGB, schBGR, 12, 8, SConversionFailed },
        TBadSelection { "CMYK10To8", schCMYK, schBGR, 10, 8, SConversionFailed },
        TBadSelection { "YCbCr8To12", schYCbCr, schBGR, 8, 12, SConversionFailed }),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

TEST(TColorManager, ConvertsAfterARefusedSelectionIsCorrected)
{
    TColorManager manager = Manager(schCMY, schBGR, 8, 8);
    const Bytes source { 10, 20, 30 };
    Bytes target(3);
    EXPECT_THROW(manager.TranslateRow(source.data(), target.data(), 1), EColorConversionError);
    manager.SetInScheme(schRGB);
    manager.TranslateRow(source.data(), target.data(), 1);
    EXPECT_THAT(target, ElementsAre(30, 20, 10));
}

TEST(TColorManager, FreshManagerTurnsRGBIntoBGR)
{
    TColorManager manager;
    const Bytes source { 10, 20, 30, 40, 50, 60 };
    Bytes target(6);
    manager.TranslateRow(source.data(), target.data(), 2, 255);
    EXPECT_THAT(target, ElementsAre(30, 20, 10, 60, 50, 40));
}

TEST(TColorManager, SelectsAgainAfterADepthChangeButReadsFlagsOnEveryRow)
{
    TColorManager manager;
    const Bytes source { 0x00, 0x10, 0x00, 0x20, 0x00, 0x30 };
    Bytes target(6, Untouched);
    manager.TranslateRow(source.data(), target.data(), 1);
    EXPECT_THAT(target, ElementsAre(0x00, 0x10, 0x00, Untouched, Untouched, Untouched));
    manager.SetInSampleBits(16);
    manager.TranslateRow(source.data(), target.data(), 1);
    // Little-endian 0x1000, 0x2000, 0x3000 reduced: 15, 31, 47 (blue first).
    EXPECT_THAT(target, ElementsAre(47, 31, 15, Untouched, Untouched, Untouched));
    manager.InFlags() |= cfSwapOrder;
    manager.TranslateRow(source.data(), target.data(), 1);
    EXPECT_THAT(target, ElementsAre(0, 0, 0, Untouched, Untouched, Untouched));
}

TEST(TColorManager, SetsTheAlphaFlagsFromTheSchemesAtSelection)
{
    TColorManager manager = Manager(schRGBA, schBGR, 8, 8, 4, 3);
    manager.SetOutFlags(cfHasAlpha | cfApplyCurve);
    Bytes source(4), target(3);
    manager.TranslateRow(source.data(), target.data(), 1);
    EXPECT_EQ(manager.InFlags(), cfHasAlpha);
    EXPECT_EQ(manager.OutFlags(), cfApplyCurve);
}

TEST(TColorManager, RefusesPlanarSourcesWithTooFewPlanes)
{
    TColorManager manager;
    const Bytes red { 1 }, green { 2 };
    Bytes target(3, Untouched);
    EXPECT_THAT([&] { manager.TranslateRow({ red.data(), green.data() }, target.data(), 1); },
        ThrowsMessage<EColorConversionError>(StrEq(SConversionFailed)));
    EXPECT_THAT(target, testing::Each(Untouched));
}

// --- The mask walk --------------------------------------------------------------------------

TEST(TColorManager, MaskAAWritesEveryOtherTargetPixelFromConsecutiveSourcePixels)
{
    TColorManager manager;
    const Bytes source { 1, 2, 3, 11, 12, 13, 21, 22, 23, 31, 32, 33 };
    Bytes target(8 * 3, Untouched);
    manager.TranslateRow(source.data(), target.data(), 8, 0xAA);
    EXPECT_THAT(target, ElementsAre(3, 2, 1, Untouched, Untouched, Untouched, 13, 12, 11, Untouched, Untouched,
                            Untouched, 23, 22, 21, Untouched, Untouched, Untouched, 33, 32, 31, Untouched,
                            Untouched, Untouched));
}

TEST(TColorManager, MaskRepeatsEveryEightPixelsAndKeepsOtherBitsOfPackedTargets)
{
    // 1-bit indexed, mask 0x41 (pixels 1 and 7 of every 8), 16 pixels: 4 source pixels.
    TColorManager manager = Manager(schIndexed, schIndexed, 1, 1, 1, 1);
    const Bytes source { 0xA0 }; // 1, 0, 1, 0
    Bytes target { 0x00, 0xFF };
    manager.TranslateRow(source.data(), target.data(), 16, 0x41);
    EXPECT_THAT(target, ElementsAre(0x40, 0xFE));
}

// --- Colour copy against a per-pixel model --------------------------------------------------

struct TCopyCase {
    SampleScheme In, Out;
    std::uint8_t InBits, OutBits;
    bool Planar, Swap, Curve;
    std::uint8_t Mask;
};

class TColorManagerColorCopy : public testing::TestWithParam<TCopyCase> {};

TEST_P(TColorManagerColorCopy, MatchesThePerPixelRules)
{
    const TCopyCase c = GetParam();
    const bool inAlpha = c.In == schRGBA || c.In == schBGRA;
    const bool outAlpha = c.Out == schRGBA || c.Out == schBGRA;
    const bool inRedFirst = c.In == schRGB || c.In == schRGBA;
    const bool outRedFirst = c.Out == schRGB || c.Out == schRGBA;
    const unsigned inSamples = inAlpha ? 4 : 3, outSamples = outAlpha ? 4 : 3;
    const unsigned inBytes = c.InBits / 8, outBytes = c.OutBits / 8;
    constexpr std::uint32_t Count = 21;
    const std::uint32_t sourcePixels = SourcePixelCount(Count, c.Mask);

    TColorManager manager = Manager(c.In, c.Out, c.InBits, c.OutBits, inSamples, outSamples);
    manager.SetToneCurve(1.0f, 1.8f);
    if (c.Swap)
        manager.InFlags() |= cfSwapOrder;
    if (c.Curve)
        manager.OutFlags() |= cfApplyCurve;
    const auto& tone = manager.ToneTable();

    const Bytes interleaved = RandomBytes(sourcePixels * inSamples * inBytes, c.InBits * 7 + c.Mask);
    std::vector<Bytes> planes(inSamples, Bytes(sourcePixels * inBytes));
    for (std::uint32_t k = 0; k < sourcePixels; ++k)
        for (unsigned s = 0; s < inSamples; ++s)
            for (unsigned b = 0; b < inBytes; ++b)
                planes[s][k * inBytes + b] = interleaved[(k * inSamples + s) * inBytes + b];
    std::vector<const std::uint8_t*> addresses;
    for (const auto& plane : planes)
        addresses.push_back(plane.data());

    Bytes target(Count * outSamples * outBytes, Untouched);
    if (c.Planar)
        manager.TranslateRow(std::span<const std::uint8_t* const>(addresses), target.data(), Count, c.Mask);
    else
        manager.TranslateRow(interleaved.data(), target.data(), Count, c.Mask);

    Bytes expected(target.size(), Untouched);
    std::uint32_t k = 0;
    for (std::uint32_t i = 0; i < Count; ++i) {
        if (!MaskBit(c.Mask, i))
            continue;
        const std::uint8_t* pixel = &interleaved[k++ * inSamples * inBytes];
        std::uint8_t* out = &expected[i * outSamples * outBytes];
        // Source samples as red, green, blue, alpha.
        const unsigned order[4] = { inRedFirst ? 0u : 2u, 1u, inRedFirst ? 2u : 0u, 3u };
        for (unsigned j = 0; j < 4; ++j) {
            if (j == 3 && !(inAlpha && outAlpha))
                break;
            const unsigned targetIndex = j == 3 ? 3 : (outRedFirst ? j : 2 - j);
            const std::uint8_t* in = pixel + order[j] * inBytes;
            std::uint8_t* to = out + targetIndex * outBytes;
            const bool curve = c.Curve && j < 3;
            if (c.InBits == 8 && c.OutBits == 8)
                *to = curve ? tone[*in] : *in;
            else if (c.InBits == 16 && c.OutBits == 8) {
                const std::uint8_t v = static_cast<std::uint8_t>(Get16(in, c.Swap) * 255 / 65535);
                *to = curve ? tone[v] : v;
            } else if (c.InBits == 8)
                Put16(to, (curve ? tone[*in] : *in) * 257u, c.Swap);
            else
                Put16(to, Get16(in, c.Swap), false);
        }
    }
    EXPECT_EQ(target, expected);
}

std::vector<TCopyCase> CopyCases()
{
    std::vector<TCopyCase> cases;
    const SampleScheme schemes[] = { schRGB, schRGBA, schBGR, schBGRA };
    for (SampleScheme in : schemes)
        for (SampleScheme out : schemes)
            for (std::uint8_t inBits : { 8, 16 })
                for (std::uint8_t outBits : { 8, 16 })
                    for (bool planar : { false, true })
                        for (std::uint8_t mask : { 0xFF, 0xAA, 0x5C })
                            cases.push_back({ in, out, inBits, outBits, planar, inBits == 16 && mask == 0xAA,
                                outBits == 8 ? mask != 0x5C : mask == 0xFF, mask });
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllOrders, TColorManagerColorCopy, testing::ValuesIn(CopyCases()),
    [](const auto& testInfo) {
        const auto scheme = [](SampleScheme value) {
            return value == schRGB ? "RGB" : value == schRGBA ? "RGBA" : value == schBGR ? "BGR" : "BGRA";
        };
        const TCopyCase& c = testInfo.param;
        return scheme(c.In) + std::to_string(c.InBits) + "To" + scheme(c.Out) + std::to_string(c.OutBits)
            + (c.Planar ? "Planar" : "") + "Mask" + std::to_string(c.Mask);
    });

// --- Gray ---------------------------------------------------------------------------------

TEST(TColorManager, SixteenBitGrayIsReducedByTruncationAfterTheSwap)
{
    TColorManager manager = Manager(schGray, schGray, 16, 8, 1, 1);
    const Bytes source { 0x12, 0x34, 0xFF, 0xFF, 0xFE, 0xFF };
    Bytes target(3);
    manager.InFlags() |= cfSwapOrder;
    manager.TranslateRow(source.data(), target.data(), 3);
    // 0x1234 × 255 ÷ 65535 = 18; 0xFFFF gives 255; 0xFEFF gives 254.
    EXPECT_THAT(target, ElementsAre(0x12, 255, 254));
    manager.InFlags() &= ~cfSwapOrder;
    manager.TranslateRow(source.data(), target.data(), 3);
    // Least significant byte first: 0x3412 gives 51, 0xFFFF 255, 0xFFFE 254.
    EXPECT_THAT(target, ElementsAre(51, 255, 254));
}

struct TGrayCase {
    const char* Name;
    SampleScheme In;
    std::uint8_t InBits, OutBits;
    bool Swap;
    Bytes Source, Expected;
};

class TColorManagerGrayCopy : public testing::TestWithParam<TGrayCase> {};

TEST_P(TColorManagerGrayCopy, TakesTheGraySampleAndSkipsAlpha)
{
    const auto& c = GetParam();
    TColorManager manager = Manager(c.In, schGray, c.InBits, c.OutBits, c.In == schGrayAlpha ? 2 : 1, 1);
    if (c.Swap)
        manager.InFlags() |= cfSwapOrder;
    manager.OutFlags() |= cfApplyCurve; // gray copies never use the tone table
    Bytes target(c.Expected.size(), Untouched);
    manager.TranslateRow(c.Source.data(), target.data(), 2);
    EXPECT_EQ(target, c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Depths, TColorManagerGrayCopy,
    testing::Values(TGrayCase { "Alpha8To8", schGrayAlpha, 8, 8, false, { 10, 99, 20, 98 }, { 10, 20 } },
        TGrayCase { "Alpha8To16", schGrayAlpha, 8, 16, false, { 0x10, 99, 0xFF, 98 }, { 0x10, 0x10, 0xFF, 0xFF } },
        TGrayCase { "Alpha16To8", schGrayAlpha, 16, 8, true, { 0x80, 0, 9, 9, 0xFF, 0xFF, 9, 9 }, { 127, 255 } },
        TGrayCase { "Alpha16To16Swapped", schGrayAlpha, 16, 16, true, { 0x12, 0x34, 9, 9, 0xAB, 0xCD, 9, 9 },
            { 0x34, 0x12, 0xCD, 0xAB } },
        TGrayCase { "Alpha16To16", schGrayAlpha, 16, 16, false, { 0x12, 0x34, 9, 9, 0xAB, 0xCD, 9, 9 },
            { 0x12, 0x34, 0xAB, 0xCD } },
        TGrayCase { "Plain8To16", schGray, 8, 16, false, { 0x01, 0x80 }, { 0x01, 0x01, 0x80, 0x80 } },
        TGrayCase { "Plain16To8", schGray, 16, 8, false, { 0x00, 0x80, 0xFF, 0x01 }, { 127, 1 } },
        TGrayCase { "Plain16To16Swapped", schGray, 16, 16, true, { 1, 2, 3, 4 }, { 2, 1, 4, 3 } }),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

// --- Indexed --------------------------------------------------------------------------------

struct TIndexedCase {
    const char* Name;
    SampleScheme In;
    std::uint8_t InBits, OutBits;
    bool Swap;
    std::uint32_t Count;
    std::uint8_t Mask;
    Bytes Source, Before, Expected;
};

class TColorManagerIndexed : public testing::TestWithParam<TIndexedCase> {};

TEST_P(TColorManagerIndexed, RescalesAndPacksMostSignificantBitsFirst)
{
    const auto& c = GetParam();
    TColorManager manager = Manager(c.In, schIndexed, c.InBits, c.OutBits, 1, 1);
    if (c.Swap)
        manager.InFlags() |= cfSwapOrder;
    Bytes target = c.Before;
    manager.TranslateRow(c.Source.data(), target.data(), c.Count, c.Mask);
    EXPECT_EQ(target, c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Depths, TColorManagerIndexed,
    testing::Values(
        // 2 bits 0,1,2,3 into 4 bits: v × 15 ÷ 3.
        TIndexedCase { "Two2Four", schIndexed, 2, 4, false, 4, 0xFF, { 0x1B }, { 0, 0 }, { 0x05, 0xAF } },
        // 4 bits into 1: v × 1 ÷ 15, only 15 gives 1.
        TIndexedCase { "Four2One", schIndexed, 4, 1, false, 4, 0xFF, { 0xF7, 0xEF }, { 0x0F }, { 0x9F } },
        // 1 bit into 8 (gray): 0 or 255.
        TIndexedCase { "GrayOne2Eight", schGray, 1, 8, false, 3, 0xFF, { 0xA0 }, { 7, 7, 7 }, { 255, 0, 255 } },
        TIndexedCase { "GrayFour2Eight", schGray, 4, 8, false, 2, 0xFF, { 0x3C }, { 7, 7 }, { 51, 204 } },
        // Equal depths with a full mask copy whole bytes, the partial last byte included.
        TIndexedCase { "Four2FourCopy", schIndexed, 4, 4, false, 3, 0xFF, { 0x12, 0x34 }, { 0, 0 }, { 0x12, 0x34 } },
        TIndexedCase { "Four2FourMasked", schIndexed, 4, 4, false, 4, 0x50, { 0x9A }, { 0x00, 0x00 }, { 0x09, 0x0A } },
        TIndexedCase { "Eight2EightMasked", schIndexed, 8, 8, false, 4, 0x60, { 5, 6 }, { 0, 0, 0, 0 }, { 0, 5, 6, 0 } },
        TIndexedCase { "Eight2Two", schIndexed, 8, 2, false, 4, 0xFF, { 0, 85, 170, 255 }, { 0 }, { 0x1B } },
        // Depths that are not powers of two are packed across byte borders.
        TIndexedCase { "Three2Five", schIndexed, 3, 5, false, 2, 0xFF, { 0xE0 }, { 0x00, 0x00 }, { 0xF8, 0x00 } },
        TIndexedCase { "Twelve2Eight", schIndexed, 12, 8, false, 2, 0xFF, { 0xFF, 0xF8, 0x00 }, { 0, 0 }, { 255, 127 } },
        TIndexedCase { "Sixteen2SixteenSwapped", schIndexed, 16, 16, true, 2, 0xFF, { 1, 2, 3, 4 }, { 0, 0, 0, 0 },
            { 2, 1, 4, 3 } },
        TIndexedCase { "Sixteen2SixteenCopy", schIndexed, 16, 16, false, 2, 0xFF, { 1, 2, 3, 4 }, { 0, 0, 0, 0 },
            { 1, 2, 3, 4 } },
        TIndexedCase { "Sixteen2SixteenMasked", schIndexed, 16, 16, false, 2, 0x40, { 1, 2 }, { 9, 9, 9, 9 },
            { 9, 9, 1, 2 } },
        TIndexedCase { "Sixteen2Eight", schIndexed, 16, 8, true, 2, 0xFF, { 0x12, 0x34, 0xFF, 0xFF }, { 0, 0 },
            { 0x12, 255 } },
        TIndexedCase { "Sixteen2Four", schIndexed, 16, 4, false, 2, 0xFF, { 0xFF, 0xFF, 0x00, 0x80 }, { 0 },
            { 0xF7 } },
        // n → 16 writes most significant byte first when the source is swapped.
        TIndexedCase { "Four2Sixteen", schIndexed, 4, 16, false, 2, 0xFF, { 0x1F }, { 0, 0, 0, 0 },
            { 0x11, 0x11, 0xFF, 0xFF } },
        TIndexedCase { "Two2SixteenSwapped", schIndexed, 2, 16, true, 2, 0xFF, { 0x40 }, { 0, 0, 0, 0 },
            { 0x55, 0x55, 0x00, 0x00 } }),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

// --- Tone table -----------------------------------------------------------------------------

TEST(TColorManager, ToneTableIsTheIdentityForAPNGGammaOfOneOverTwoPointTwo)
{
    TColorManager manager;
    manager.SetToneCurve(0.45455f, 2.2f);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(manager.ToneTable()[i], i);
}

TEST(TColorManager, DefaultToneTableRaisesToOneOverTwoPointTwo)
{
    TColorManager manager;
    EXPECT_FLOAT_EQ(manager.FileGamma(), 1.0f);
    EXPECT_FLOAT_EQ(manager.DisplayGamma(), 2.2f);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(manager.ToneTable()[i], std::nearbyint(255 * std::pow(i / 255.0, 1 / double(2.2f)))) << i;
    manager.SetToneCurve(-1, 0);
    EXPECT_FLOAT_EQ(manager.FileGamma(), 1.0f);
    EXPECT_FLOAT_EQ(manager.DisplayGamma(), 2.2f);
}

TEST(TColorManager, ToneTableBelowEightBitsCoversOnlyTheTargetRange)
{
    TColorManager manager;
    manager.SetToneCurve(1.0f, 1.0f);
    manager.SetInSampleBits(2);
    manager.SetOutSampleBits(4);
    manager.SetToneCurve(2.0f, 1.0f);
    // c = m = 15: entry i = 15 × (i / 15)^0.5; the entries above stay as they were.
    for (int i = 0; i <= 15; ++i)
        EXPECT_EQ(manager.ToneTable()[i], std::nearbyint(15 * std::sqrt(i / 15.0))) << i;
    EXPECT_EQ(manager.ToneTable()[200], 200);
}

TEST(TColorManager, ToneTableForAShallowSourceAndADeepTargetStaysInsideTheTable)
{
    TColorManager manager;
    manager.SetInSampleBits(4);
    manager.SetOutSampleBits(16);
    manager.SetToneCurve(1.0f, 1.0f); // would ask for 65536 entries
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(manager.ToneTable()[i], i);
}

// --- CMYK, L*a*b*, YCbCr, PhotoYCC -------------------------------------------------------

std::uint8_t ReferenceCMYK(int x, int k)
{
    return static_cast<std::uint8_t>((255 - x) * (255 - k) / 255);
}

TEST(TColorManager, CMYKZeroIsWhiteAndFullBlackIsBlackInBothOrders)
{
    for (SampleScheme out : { schRGB, schBGR }) {
        TColorManager manager = Manager(schCMYK, out, 8, 8, 4, 3);
        const Bytes source { 0, 0, 0, 0, 0, 0, 0, 255, 255, 0, 0, 0 };
        Bytes target(9);
        manager.TranslateRow(source.data(), target.data(), 3);
        const std::uint8_t cyanRed = 0, cyanBlue = 255;
        EXPECT_THAT(target, ElementsAre(255, 255, 255, 0, 0, 0, out == schRGB ? cyanRed : cyanBlue, 255,
                                out == schRGB ? cyanBlue : cyanRed));
    }
}

TEST(TColorManager, CMYKMatchesTheProductFormulaAtEveryDepth)
{
    const Bytes source = RandomBytes(4 * 2 * 50, 11);
    for (std::uint8_t inBits : { 8, 16 })
        for (std::uint8_t outBits : { 8, 16 })
            for (bool planar : { false, true }) {
                TColorManager manager = Manager(schCMYK, schRGBA, inBits, outBits, 4, 4);
                const unsigned inBytes = inBits / 8, outBytes = outBits / 8;
                std::vector<Bytes> planes(4);
                for (unsigned k = 0; k < 50; ++k)
                    for (unsigned s = 0; s < 4; ++s)
                        for (unsigned b = 0; b < inBytes; ++b)
                            planes[s].push_back(source[(k * 4 + s) * inBytes + b]);
                Bytes target(50 * 4 * outBytes, Untouched);
                if (planar)
                    manager.TranslateRow({ planes[0].data(), planes[1].data(), planes[2].data(), planes[3].data() },
                        target.data(), 50);
                else
                    manager.TranslateRow(source.data(), target.data(), 50);
                for (unsigned k = 0; k < 50; ++k) {
                    const std::uint8_t* s = &source[k * 4 * inBytes];
                    const std::uint8_t* t = &target[k * 4 * outBytes];
                    for (unsigned j = 0; j < 3; ++j) {
                        std::int64_t expected;
                        if (inBits == 8 && outBits == 8)
                            expected = ReferenceCMYK(s[j], s[3]);
                        else if (inBits == 8)
                            expected = ReferenceCMYK(s[j], s[3]) * 257;
                        else {
                            const std::int64_t x = Get16(s + 2 * j, false), black = Get16(s + 6, false);
                            expected = outBits == 8 ? 255 - (x + black - x * black / 65535) * 255 / 65535
                                                    : x * black / 65535 - x - black + 65535;
                        }
                        const std::uint32_t actual = outBits == 8 ? t[j] : Get16(t + 2 * j, false);
                        ASSERT_EQ(actual, expected) << int(inBits) << "->" << int(outBits) << " pixel " << k;
                    }
                    for (unsigned b = 0; b < outBytes; ++b)
                        ASSERT_EQ(t[3 * outBytes + b], Untouched); // target alpha untouched
                }
            }
}

std::uint8_t ReferenceLabChannel(double value)
{
    return static_cast<std::uint8_t>(std::clamp(std::nearbyint(value * 255), 0.0, 255.0));
}

// The L*a*b* formulas, written out independently in double precision.
std::array<std::uint8_t, 3> ReferenceLab(double l, double a, double b)
{
    double x, y, z;
    if (l < 7.9996) {
        y = l / 903.3;
        x = y + a / 3893.5;
        z = y - b / 1557.4;
    } else {
        const double f = (l + 16) / 116;
        x = std::pow(f + a / 500, 3);
        y = std::pow(f, 3);
        z = std::pow(f - b / 200, 3);
    }
    return { ReferenceLabChannel(2.998 * x - 1.458 * y - 0.541 * z),
        ReferenceLabChannel(-0.952 * x + 1.893 * y + 0.059 * z),
        ReferenceLabChannel(0.099 * x - 0.198 * y + 1.099 * z) };
}

TEST(TColorManager, LabLightnessZeroIsBlackAndFullLightnessIsWhite)
{
    TColorManager manager = Manager(schLab, schBGR, 8, 8);
    const Bytes source { 0, 0, 0, 100, 0, 0 };
    Bytes target(6);
    manager.TranslateRow(source.data(), target.data(), 2);
    EXPECT_THAT(target, ElementsAre(0, 0, 0, 255, 255, 255));
}

TEST(TColorManager, LabFollowsTheFormulaForSignedBiasedAndScaledSamples)
{
    std::mt19937 random(3);
    for (int flags : std::initializer_list<int> { 0, cfChromaBiased, cfLightness255, cfLightness255 | cfChromaBiased }) {
        TColorManager manager = Manager(schLab, schRGB, 8, 8);
        manager.SetInFlags(static_cast<TConversionFlags>(flags));
        Bytes source(3 * 64);
        for (unsigned i = 0; i < 64; ++i) {
            source[i * 3] = static_cast<std::uint8_t>(i < 8 ? i : random() % ((flags & cfLightness255) ? 256 : 101));
            source[i * 3 + 1] = static_cast<std::uint8_t>(random());
            source[i * 3 + 2] = static_cast<std::uint8_t>(random());
        }
        Bytes target(source.size());
        manager.TranslateRow(source.data(), target.data(), 64);
        for (unsigned i = 0; i < 64; ++i) {
            double l = source[i * 3];
            if (flags & cfLightness255)
                l /= 2.55;
            const auto chroma = [&](std::uint8_t raw) {
                return (flags & cfChromaBiased) ? raw - 128.0 : double(static_cast<std::int8_t>(raw));
            };
            const auto expected = ReferenceLab(l, chroma(source[i * 3 + 1]), chroma(source[i * 3 + 2]));
            for (unsigned j = 0; j < 3; ++j)
                EXPECT_NEAR(target[i * 3 + j], expected[j], 1) << "flags " << int(flags) << " pixel " << i;
        }
    }
}

TEST(TColorManager, LabExpandsForASixteenBitTarget)
{
    TColorManager manager = Manager(schLab, schRGB, 8, 16);
    const Bytes source { 100, 0, 0 };
    Bytes target(6);
    manager.TranslateRow(source.data(), target.data(), 1);
    EXPECT_THAT(target, testing::Each(0xFF));
}

// Chroma tables computed in the test from the luma weights, as 32-bit floats.
struct TReferenceChroma {
    int CrToRed[256], CbToBlue[256], CrToGreen[256], CbToGreen[256];
    TReferenceChroma(float kr, float kg, float kb, bool photo)
    {
        const float cr = 2 - 2 * kr, cb = 2 - 2 * kb, gr = kr * cr / kg, gb = kb * cb / kg;
        for (int i = 0; i < 256; ++i) {
            const float e = float(photo ? i - 137 : i - 128), f = float(photo ? i - 156 : i - 128);
            CrToRed[i] = int(std::nearbyint(cr * e));
            CbToBlue[i] = int(std::nearbyint(cb * f));
            CrToGreen[i] = -int(std::nearbyint(gr * e));
            CbToGreen[i] = -int(std::nearbyint(gb * f));
        }
    }
};

struct TYCCCase {
    const char* Name;
    SampleScheme In, Out;
    std::uint8_t InBits, OutBits;
    bool Planar;
    std::array<float, 3> Weights;
};

class TColorManagerYCC : public testing::TestWithParam<TYCCCase> {};

TEST_P(TColorManagerYCC, MatchesTheChromaTableFormula)
{
    const auto& c = GetParam();
    TColorManager manager = Manager(c.In, c.Out, c.InBits, c.OutBits);
    manager.SetLumaWeights(std::span<const float>(c.Weights), 2, 2);
    manager.InFlags() |= cfSwapOrder;
    const TReferenceChroma chroma(c.Weights[0], c.Weights[1], c.Weights[2], c.In == schPhotoYCC);
    const unsigned inBytes = c.InBits / 8, outBytes = c.OutBits / 8;
    constexpr unsigned Count = 300;
    Bytes source = RandomBytes(Count * 3 * inBytes, 17);
    source[0] = 255, source[inBytes] = 0, source[2 * inBytes] = 255; // clamps
    std::vector<Bytes> planes(3);
    for (unsigned k = 0; k < Count; ++k)
        for (unsigned s = 0; s < 3; ++s)
            for (unsigned b = 0; b < inBytes; ++b)
                planes[s].push_back(source[(k * 3 + s) * inBytes + b]);
    Bytes target(Count * 3 * outBytes);
    if (c.Planar)
        manager.TranslateRow({ planes[0].data(), planes[1].data(), planes[2].data() }, target.data(), Count);
    else
        manager.TranslateRow(source.data(), target.data(), Count);
    const bool redFirst = c.Out == schRGB || c.Out == schRGBA;
    for (unsigned k = 0; k < Count; ++k) {
        const auto sample = [&](unsigned s) {
            const std::uint8_t* p = &source[(k * 3 + s) * inBytes];
            return inBytes == 1 ? int(*p) : int(Get16(p, true) * 255 / 65535);
        };
        const int y = sample(0), cb = sample(1), cr = sample(2);
        const int red = std::clamp(y + chroma.CrToRed[cr], 0, 255);
        const int green = std::clamp(y + chroma.CbToGreen[cb] + chroma.CrToGreen[cr], 0, 255);
        const int blue = std::clamp(y + chroma.CbToBlue[cb], 0, 255);
        const int expected[3] = { redFirst ? red : blue, green, redFirst ? blue : red };
        for (unsigned j = 0; j < 3; ++j) {
            const std::uint8_t* t = &target[(k * 3 + j) * outBytes];
            const int actual = outBytes == 1 ? *t : int(Get16(t, false));
            ASSERT_EQ(actual, outBytes == 1 ? expected[j] : expected[j] * 257) << "pixel " << k << " sample " << j;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Schemes, TColorManagerYCC,
    testing::Values(TYCCCase { "YCbCrRGB", schYCbCr, schRGB, 8, 8, false, { 0.299f, 0.587f, 0.114f } },
        TYCCCase { "YCbCrBGR", schYCbCr, schBGR, 8, 8, true, { 0.299f, 0.587f, 0.114f } },
        TYCCCase { "YCbCrRec709", schYCbCr, schBGR, 8, 8, false, { 0.2126f, 0.7152f, 0.0722f } },
        TYCCCase { "YCbCr16To8", schYCbCr, schRGB, 16, 8, false, { 0.299f, 0.587f, 0.114f } },
        TYCCCase { "YCbCr8To16", schYCbCr, schBGR, 8, 16, true, { 0.299f, 0.587f, 0.114f } },
        TYCCCase { "YCbCr16To16", schYCbCr, schRGB, 16, 16, false, { 0.299f, 0.587f, 0.114f } },
        TYCCCase { "PhotoYCCRGB", schPhotoYCC, schRGB, 8, 8, false, { 0.299f, 0.587f, 0.114f } },
        TYCCCase { "PhotoYCC16To8", schPhotoYCC, schBGR, 16, 8, true, { 0.299f, 0.587f, 0.114f } }),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

TEST(TColorManager, DefaultChromaFactorsAreThoseOfTheStandardWeights)
{
    TColorManager manager = Manager(schYCbCr, schBGR, 8, 8);
    const Bytes source { 0, 0, 0 };
    Bytes target(3);
    manager.TranslateRow(source.data(), target.data(), 1);
    // cR = 1.402, cB = 1.772, gR ≈ 0.714, gB ≈ 0.344 at e = f = 127.
    EXPECT_EQ(manager.CrToRed()[255], 178);
    EXPECT_EQ(manager.CbToBlue()[255], 225);
    EXPECT_EQ(manager.CrToGreen()[255], -91);
    EXPECT_EQ(manager.CbToGreen()[255], -44);
}

TEST(TColorManager, ZeroGreenWeightGivesBoundedTablesInsteadOfOverflow)
{
    TColorManager manager = Manager(schYCbCr, schBGR, 8, 8);
    manager.SetLumaWeights({ 0.5f, 0.0f, 0.5f }, 1, 1);
    const Bytes source { 128, 0, 255, 128, 128, 128 };
    Bytes target(6);
    manager.TranslateRow(source.data(), target.data(), 2);
    EXPECT_EQ(target[3], 128); // no chroma: gray stays gray
    EXPECT_EQ(target[4], 128);
    EXPECT_EQ(target[5], 128);
}

TEST(TColorManager, PhotoYCCSixteenBitsUsesTheFullPrecisionFormula)
{
    for (SampleScheme out : { schRGB, schBGRA }) {
        TColorManager manager = Manager(schPhotoYCC, out, 16, 16);
        const Bytes source = RandomBytes(3 * 2 * 40, 23);
        Bytes target(40 * (out == schRGB ? 6 : 8), Untouched);
        manager.TranslateRow(source.data(), target.data(), 40);
        for (unsigned k = 0; k < 40; ++k) {
            const double u = 1.3584 * Get16(&source[k * 6], false);
            const double t = Get16(&source[k * 6 + 2], false) - 40092.0;
            const double v = Get16(&source[k * 6 + 4], false) - 35209.0;
            const auto clamp16 = [](double value) { return std::clamp(std::nearbyint(value), 0.0, 65535.0); };
            const double red = clamp16(u + 1.8215 * v), green = clamp16(u - 0.9271435 * v - 0.4302726 * t);
            const double blue = clamp16(u + 2.2179 * t);
            const std::uint8_t* p = &target[k * (out == schRGB ? 6 : 8)];
            EXPECT_NEAR(Get16(p, false), out == schRGB ? red : blue, 1) << k;
            EXPECT_NEAR(Get16(p + 2, false), green, 1) << k;
            EXPECT_NEAR(Get16(p + 4, false), out == schRGB ? blue : red, 1) << k;
            if (out == schBGRA) {
                EXPECT_THAT(Bytes(p + 6, p + 8), ElementsAre(Untouched, Untouched));
            }
        }
    }
}

// --- Palettes -----------------------------------------------------------------------------

std::vector<int> Grays(const TColorTable& palette)
{
    std::vector<int> result;
    for (const auto& entry : palette) {
        EXPECT_EQ(entry.Red, entry.Green);
        EXPECT_EQ(entry.Red, entry.Blue);
        EXPECT_EQ(entry.Reserved, 0);
        result.push_back(entry.Red);
    }
    return result;
}

TEST(TColorManager, GrayPaletteRampsInBothDirections)
{
    TColorManager manager;
    manager.SetOutSampleBits(4);
    manager.SetOutSamples(1);
    std::vector<int> ramp;
    for (int i = 0; i < 16; ++i)
        ramp.push_back(i * 17);
    EXPECT_THAT(Grays(manager.MakeGrayPalette(false)), ElementsAreArray(ramp));
    std::reverse(ramp.begin(), ramp.end());
    EXPECT_THAT(Grays(manager.MakeGrayPalette(true)), ElementsAreArray(ramp));
}

TEST(TColorManager, GrayPaletteSizesFollowTheTargetBits)
{
    TColorManager manager;
    manager.SetOutSamples(1);
    manager.SetOutSampleBits(1);
    EXPECT_THAT(Grays(manager.MakeGrayPalette(false)), ElementsAre(0, 255));
    manager.SetOutSampleBits(2);
    EXPECT_THAT(Grays(manager.MakeGrayPalette(true)), ElementsAre(255, 170, 85, 0));
    manager.SetOutSampleBits(16);
    EXPECT_EQ(manager.MakeGrayPalette(false).size(), 256u);
    manager.SetOutSampleBits(3);
    manager.SetOutSamples(2); // 6 bits: 64 entries, step 4
    const auto palette = Grays(manager.MakeGrayPalette(false));
    ASSERT_EQ(palette.size(), 64u);
    EXPECT_EQ(palette[63], 252);
}

TEST(TColorManager, GrayPaletteGoesThroughTheToneTableWithTheCurveFlag)
{
    TColorManager manager;
    manager.SetOutSampleBits(2);
    manager.SetOutSamples(1);
    manager.OutFlags() |= cfApplyCurve;
    const auto& tone = manager.ToneTable();
    EXPECT_THAT(Grays(manager.MakeGrayPalette(false)), ElementsAre(tone[0], tone[85], tone[170], tone[255]));
}

TEST(TColorManager, RawPaletteSpreadsTwoBitEntriesOverAFourBitIndex)
{
    TColorManager manager;
    manager.SetInSampleBits(2);
    manager.SetOutSampleBits(4);
    const Bytes rgb { 1, 2, 3, 11, 12, 13, 21, 22, 23, 31, 32, 33 };
    const TColorTable palette = manager.MakeRawPalette(rgb.data(), rpInterleaved8Triple, 4, false);
    ASSERT_EQ(palette.size(), 16u);
    EXPECT_EQ(palette[15], (TRGBQuad { 33, 32, 31, 0 }));
    EXPECT_EQ(palette[5], (TRGBQuad { 13, 12, 11, 0 }));
    EXPECT_EQ(palette[0], (TRGBQuad { 3, 2, 1, 0 }));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(palette[i].Red, rgb[(i * 3 / 15) * 3]) << i;
}

TEST(TColorManager, RawPaletteSpreadsDownwardsToTheIndexedRescaling)
{
    TColorManager manager;
    manager.SetInSampleBits(8);
    manager.SetOutSampleBits(4);
    Bytes planes[3];
    for (int i = 0; i < 256; ++i)
        for (auto& plane : planes)
            plane.push_back(static_cast<std::uint8_t>(i));
    const TColorTable palette = manager.MakeRawPalette({ planes[0].data(), planes[1].data(), planes[2].data() },
        rpPlanar8Triple, 256, false);
    ASSERT_EQ(palette.size(), 16u);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(palette[i].Red, i * 17);
}

TEST(TColorManager, RawPaletteForSixteenBitIndicesSpreadsWithoutLeavingItsData)
{
    // A palette image with 16-bit indices into an 8-bit target: target index i shows
    // source index i × 65535 ÷ 255, read from the 65536-entry colour map itself.
    TColorManager manager;
    manager.SetInSampleBits(16);
    manager.SetOutSampleBits(8);
    std::vector<std::uint8_t> red(65536 * 2), green(65536 * 2), blue(65536 * 2);
    for (unsigned i = 0; i < 65536; ++i) {
        Put16(&red[i * 2], i, false);
        Put16(&green[i * 2], 65535 - i, false);
        Put16(&blue[i * 2], i, false);
    }
    const TColorTable palette = manager.MakeRawPalette({ red.data(), green.data(), blue.data() }, rpPlanar16Triple,
        65536, false);
    ASSERT_EQ(palette.size(), 256u);
    for (unsigned i = 0; i < 256; ++i) {
        EXPECT_EQ(palette[i].Red, i);
        EXPECT_EQ(palette[i].Green, 255 - i);
    }
}

TEST(TColorManager, RawPaletteReadsEntriesPastItsCountAsBlack)
{
    TColorManager manager;
    manager.SetInSampleBits(4);
    manager.SetOutSampleBits(4);
    const Bytes rgb { 9, 9, 9, 8, 8, 8 };
    const TColorTable palette = manager.MakeRawPalette(rgb.data(), rpInterleaved8Triple, 2, false);
    EXPECT_EQ(palette.size(), 2u);
    manager.SetInSampleBits(1);
    const TColorTable spread = manager.MakeRawPalette(rgb.data(), rpInterleaved8Triple, 1, false);
    ASSERT_EQ(spread.size(), 16u);
    EXPECT_EQ(spread[0], (TRGBQuad { 9, 9, 9, 0 }));
    EXPECT_EQ(spread[15], TRGBQuad {});
}

struct TRawCase {
    const char* Name;
    RawPaletteKind Kind;
    bool BlueFirst, Swap, Curve;
    TRGBQuad First; // entry 0 as blue, green, red
};

class TColorManagerRawPalette : public testing::TestWithParam<TRawCase> {};

TEST_P(TColorManagerRawPalette, ReadsEveryKind)
{
    const auto& c = GetParam();
    // Eight bytes per entry position: interleaved data reads the first 3 or 4 samples;
    // planar data takes one plane per colour.
    const Bytes data { 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80 };
    const Bytes plane1 { 0xA0, 0xA1 }, plane2 { 0xB0, 0xB1 };
    TColorManager manager;
    manager.SetToneCurve(1.0f, 2.0f);
    if (c.Swap)
        manager.InFlags() |= cfSwapOrder;
    if (c.Curve)
        manager.OutFlags() |= cfApplyCurve;
    const TColorTable palette = manager.MakeRawPalette({ data.data(), plane1.data(), plane2.data() }, c.Kind, 1,
        c.BlueFirst);
    ASSERT_EQ(palette.size(), 1u);
    TRGBQuad expected = c.First;
    if (c.Curve) {
        expected.Red = manager.ToneTable()[expected.Red];
        expected.Green = manager.ToneTable()[expected.Green];
        expected.Blue = manager.ToneTable()[expected.Blue];
    }
    EXPECT_EQ(palette[0], expected);
}

INSTANTIATE_TEST_SUITE_P(Kinds, TColorManagerRawPalette,
    testing::Values(TRawCase { "Triple8", rpInterleaved8Triple, false, false, false, { 0x30, 0x20, 0x10, 0 } },
        TRawCase { "Triple8BlueFirst", rpInterleaved8Triple, true, false, false, { 0x10, 0x20, 0x30, 0 } },
        TRawCase { "Quad8", rpInterleaved8Quad, false, false, true, { 0x30, 0x20, 0x10, 0 } },
        TRawCase { "Planar8", rpPlanar8Triple, true, false, false, { 0xB0, 0xA0, 0x10, 0 } },
        TRawCase { "Planar8Quad", rpPlanar8Quad, false, false, true, { 0xB0, 0xA0, 0x10, 0 } },
        // 16-bit: least significant byte first, reduced; swapped most significant first.
        TRawCase { "Triple16", rpInterleaved16Triple, false, false, false, { 0x5F, 0x3F, 0x1F, 0 } },
        TRawCase { "Triple16Swapped", rpInterleaved16Triple, false, true, false, { 0x50, 0x30, 0x10, 0 } },
        TRawCase { "Triple16BlueFirst", rpInterleaved16Triple, true, false, false, { 0x1F, 0x3F, 0x5F, 0 } },
        TRawCase { "Quad16", rpInterleaved16Quad, false, true, true, { 0x50, 0x30, 0x10, 0 } },
        TRawCase { "Planar16", rpPlanar16Triple, false, false, false, { 0xB0, 0xA0, 0x1F, 0 } },
        TRawCase { "Planar16Quad", rpPlanar16Quad, false, true, false, { 0xB0, 0xA0, 0x10, 0 } }),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

TEST(TColorManager, RawPaletteCutsAtTwoHundredFiftySixEntriesAndRefusesMissingPlanes)
{
    TColorManager manager;
    const Bytes rgb(300 * 3, 7);
    EXPECT_EQ(manager.MakeRawPalette(rgb.data(), rpInterleaved8Triple, 300, false).size(), 256u);
    EXPECT_THAT([&] { manager.MakeRawPalette(rgb.data(), rpPlanar8Triple, 2, false); },
        ThrowsMessage<EColorConversionError>(StrEq(SConversionFailed)));
    EXPECT_THAT([&] { manager.MakeRawPalette(rgb.data(), static_cast<RawPaletteKind>(8), 2, false); },
        ThrowsMessage<EColorConversionError>(StrEq(SConversionFailed)));
}

TEST(TColorManager, PlanarGrayWithAlphaReadsOnlyTheGrayPlane)
{
    // Found by fuzzing: the gray plane was walked two samples per pixel.
    TColorManager manager = Manager(schGrayAlpha, schGray, 8, 8, 2, 1);
    const Bytes gray { 10, 20, 30 }, alpha { 1, 2, 3 };
    Bytes target(3);
    manager.TranslateRow({ gray.data(), alpha.data() }, target.data(), 3);
    EXPECT_THAT(target, ElementsAre(10, 20, 30));
}
