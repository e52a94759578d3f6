#include "imaging/codecs/tiffjpeg.h"

#include "base/warning.h"
#include "codectestutil.h"

#include <gtest/gtest.h>
#include <tiffio.h>

namespace {

// Collects warnings while alive; restores silence afterwards.
class TWarningCollector {
public:
    TWarningCollector() { SetWarningHandler([this](const std::string& text) { Texts.push_back(text); }); }
    ~TWarningCollector() { SetWarningHandler(nullptr); }
    std::vector<std::string> Texts;
};

TTiffPlan JPEGLayout(std::uint16_t photometric, std::uint16_t horizontal, std::uint16_t vertical,
    std::uint32_t width, std::uint32_t height, std::uint32_t rowsPerStrip)
{
    TTiffPlan layout;
    layout.Width = width;
    layout.Height = height;
    layout.RowsPerStrip = rowsPerStrip;
    layout.SamplesPerPixel = photometric == PHOTOMETRIC_MINISBLACK ? 1 : 3;
    layout.Photometric = photometric;
    layout.Compression = COMPRESSION_JPEG;
    layout.SubsamplingH = horizontal;
    layout.SubsamplingV = vertical;
    return layout;
}

// What the TIFF reader hands the codec for this layout.
TTIFFJPEGSettings SettingsFor(const TTiffPlan& layout, const TBytes& tables)
{
    TTIFFJPEGSettings settings;
    settings.Width = layout.Width;
    settings.Height = layout.Height;
    settings.RowsPerStrip = layout.RowsPerStrip;
    settings.SamplesPerPixel = static_cast<std::uint8_t>(layout.SamplesPerPixel);
    settings.BitsPerSample = 8;
    settings.BytesPerLine = layout.Width * layout.SamplesPerPixel;
    settings.PlanarConfig = layout.PlanarConfig;
    settings.YCbCr = layout.Photometric == PHOTOMETRIC_YCBCR;
    if (settings.YCbCr) {
        settings.HorizontalSampling = static_cast<std::uint8_t>(layout.SubsamplingH);
        settings.VerticalSampling = static_cast<std::uint8_t>(layout.SubsamplingV);
    }
    settings.JPEGTables = tables;
    return settings;
}

TBytes DecodeStrip(TTIFFJPEGDecoder& decoder, TBytes input, std::size_t unpackedSize)
{
    TBytes output(unpackedSize, 0xCD);
    std::uint8_t* source = input.data();
    std::uint8_t* dest = output.data();
    decoder.DecodeData(source, dest, input.size(), output.size());
    EXPECT_EQ(source, input.data());
    EXPECT_EQ(dest, output.data());
    return output;
}

void SwapRedBlue(TBytes& pixels)
{
    for (std::size_t index = 0; index + 2 < pixels.size(); index += 3)
        std::swap(pixels[index], pixels[index + 2]);
}

struct TJPEGCase {
    const char* Name;
    std::uint16_t Photometric;
    std::uint16_t Horizontal, Vertical;
    std::uint32_t Width, Height, RowsPerStrip;
};

class TIFFJPEGAgainstLibtiff : public testing::TestWithParam<TJPEGCase> {};

TEST_P(TIFFJPEGAgainstLibtiff, DecodesStripsAsLibtiffDoesInBlueGreenRedOrder)
{
    const TJPEGCase& test = GetParam();
    const TTiffPlan layout = JPEGLayout(test.Photometric, test.Horizontal, test.Vertical, test.Width,
        test.Height, test.RowsPerStrip);
    const TTiffStrips strips = TiffRoundTrip(layout, SmoothPixels(test.Width, test.Height, layout.SamplesPerPixel));
    TWarningCollector warnings;
    TTIFFJPEGDecoder decoder(SettingsFor(layout, strips.JPEGTables));
    decoder.BeginDecoding();
    for (std::size_t strip = 0; strip < strips.Raw.size(); ++strip) {
        // The reader asks for a full strip also at the image's end.
        TBytes ours = DecodeStrip(decoder, strips.Raw[strip], strips.StripSize);
        ours.resize(strips.Decoded[strip].size());
        if (layout.SamplesPerPixel == 3)
            SwapRedBlue(ours);
        ASSERT_EQ(ours, strips.Decoded[strip]) << "strip " << strip;
    }
    decoder.EndDecoding();
    EXPECT_TRUE(warnings.Texts.empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, TIFFJPEGAgainstLibtiff, testing::Values(
    TJPEGCase{"YCbCr22", PHOTOMETRIC_YCBCR, 2, 2, 101, 45, 16},
    TJPEGCase{"YCbCr21", PHOTOMETRIC_YCBCR, 2, 1, 64, 40, 8},
    TJPEGCase{"YCbCr11", PHOTOMETRIC_YCBCR, 1, 1, 33, 17, 8},
    TJPEGCase{"YCbCrOneStrip", PHOTOMETRIC_YCBCR, 2, 2, 320, 240, 240},
    TJPEGCase{"RGB", PHOTOMETRIC_RGB, 1, 1, 77, 50, 24},
    TJPEGCase{"Gray", PHOTOMETRIC_MINISBLACK, 1, 1, 90, 31, 16}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

// One strip of a 16-row image with its settings, for the checks below.
struct TStripFixture {
    TTiffPlan Layout = JPEGLayout(PHOTOMETRIC_YCBCR, 2, 2, 48, 16, 16);
    TTiffStrips Strips = TiffRoundTrip(Layout, SmoothPixels(48, 16, 3));
    TTIFFJPEGSettings Settings = SettingsFor(Layout, Strips.JPEGTables);
    std::size_t StripBytes() const { return std::size_t(Settings.BytesPerLine) * 16; }
};

void ExpectFailure(const TTIFFJPEGSettings& settings, const TBytes& strip, std::size_t unpackedSize, const char* text)
{
    TTIFFJPEGDecoder decoder(settings);
    decoder.BeginDecoding();
    try {
        DecodeStrip(decoder, strip, unpackedSize);
        ADD_FAILURE() << "no error, expected " << text;
    } catch (const EGraphicCompression& error) {
        EXPECT_STREQ(error.what(), text);
    }
    decoder.EndDecoding();
}

TEST(TIFFJPEG, StripOfSixteenRowsWhoseHeaderSaysEightFails)
{
    const TTiffPlan layout = JPEGLayout(PHOTOMETRIC_YCBCR, 2, 1, 48, 16, 8);
    const TTiffStrips strips = TiffRoundTrip(layout, SmoothPixels(48, 16, 3));
    TTIFFJPEGSettings settings = SettingsFor(layout, strips.JPEGTables);
    settings.RowsPerStrip = 16;
    ExpectFailure(settings, strips.Raw[0], 48 * 3 * 16, SImproperJPEGStripSize);
}

TEST(TIFFJPEG, GeometryAndFormatMismatchesFailWithTheirTexts)
{
    TStripFixture fixture;
    const TBytes& strip = fixture.Strips.Raw[0];
    {
        TTIFFJPEGSettings settings = fixture.Settings;
        settings.Width = 47;
        ExpectFailure(settings, strip, 47 * 3 * 16, SImproperJPEGStripSize);
    }
    {
        TTIFFJPEGSettings settings = fixture.Settings;
        settings.SamplesPerPixel = 4;
        ExpectFailure(settings, strip, fixture.StripBytes(), SImproperJPEGComponentCount);
    }
    {
        TTIFFJPEGSettings settings = fixture.Settings;
        settings.BitsPerSample = 12;
        ExpectFailure(settings, strip, fixture.StripBytes(), SImproperJPEGDataPrecision);
    }
    {
        TTIFFJPEGSettings settings = fixture.Settings;
        settings.HorizontalSampling = settings.VerticalSampling = 1;
        ExpectFailure(settings, strip, fixture.StripBytes(), SImproperJPEGSamplingFactors);
    }
    ExpectFailure(fixture.Settings, strip, fixture.StripBytes() + 1, SFractionalJPEGScanline);
    {
        TTIFFJPEGSettings settings = fixture.Settings;
        settings.BytesPerLine = 0;
        ExpectFailure(settings, strip, fixture.StripBytes(), SFractionalJPEGScanline);
    }
}

TEST(TIFFJPEG, TablesThatHoldAnImageAreBogus)
{
    TStripFixture fixture;
    TTIFFJPEGSettings settings = fixture.Settings;
    settings.JPEGTables = fixture.Strips.Raw[0];
    TTIFFJPEGDecoder decoder(settings);
    try {
        decoder.BeginDecoding();
        ADD_FAILURE() << "tables accepted";
    } catch (const EGraphicCompression& error) {
        EXPECT_STREQ(error.what(), SBogusJPEGTables);
    }
}

TEST(TIFFJPEG, LibraryFailuresBecomeErrorsWithItsMessage)
{
    TStripFixture fixture;
    TTIFFJPEGDecoder decoder(fixture.Settings);
    decoder.BeginDecoding();
    try {
        DecodeStrip(decoder, TBytes{0x12, 0x34, 0x56}, fixture.StripBytes());
        ADD_FAILURE() << "garbage accepted";
    } catch (const EGraphicCompression& error) {
        EXPECT_NE(std::string(error.what()).find("Not a JPEG file"), std::string::npos) << error.what();
    }
    // The object stays usable for the next strip.
    decoder.SetStripPosition(0, 0, 1);
    TBytes decoded = DecodeStrip(decoder, fixture.Strips.Raw[0], fixture.StripBytes());
    SwapRedBlue(decoded);
    EXPECT_EQ(decoded, fixture.Strips.Decoded[0]);
}

TEST(TIFFJPEG, TruncatedStripWarnsOnceAndEndsOnAnEndMarker)
{
    TStripFixture fixture;
    const TBytes& full = fixture.Strips.Raw[0];
    const TBytes truncated(full.begin(), full.begin() + full.size() * 2 / 3);
    {
        TWarningCollector warnings;
        TTIFFJPEGDecoder decoder(fixture.Settings);
        decoder.BeginDecoding();
        TBytes decoded;
        EXPECT_NO_THROW(decoded = DecodeStrip(decoder, truncated, fixture.StripBytes()));
        ASSERT_FALSE(warnings.Texts.empty());
        EXPECT_EQ(warnings.Texts[0], SJPEGUnexpectedEnd);
        EXPECT_EQ(std::count(warnings.Texts.begin(), warnings.Texts.end(), std::string(SJPEGUnexpectedEnd)), 1);
        // The first blocks are intact.
        SwapRedBlue(decoded);
        EXPECT_EQ(TBytes(decoded.begin(), decoded.begin() + 12 * 3), TBytes(fixture.Strips.Decoded[0].begin(), fixture.Strips.Decoded[0].begin() + 12 * 3));
        decoder.EndDecoding();
    }
    // Without a handler nothing is shown and decoding still ends normally.
    TTIFFJPEGDecoder decoder(fixture.Settings);
    decoder.BeginDecoding();
    EXPECT_NO_THROW(DecodeStrip(decoder, truncated, fixture.StripBytes()));
    decoder.SetStripPosition(0, 0, 1);
    EXPECT_THROW(DecodeStrip(decoder, TBytes(), fixture.StripBytes()), EGraphicCompression); // no image
}

TEST(TIFFJPEG, StripPositionCanBeSetByTheCaller)
{
    const TTiffPlan layout = JPEGLayout(PHOTOMETRIC_RGB, 1, 1, 40, 20, 8);
    const TTiffStrips strips = TiffRoundTrip(layout, SmoothPixels(40, 20, 3));
    ASSERT_EQ(strips.Raw.size(), 3u);
    TTIFFJPEGDecoder decoder(SettingsFor(layout, strips.JPEGTables));
    decoder.BeginDecoding();
    decoder.SetStripPosition(16, 2, 3); // the last strip (4 rows) first
    TBytes last = DecodeStrip(decoder, strips.Raw[2], 40 * 3 * 8);
    last.resize(strips.Decoded[2].size());
    SwapRedBlue(last);
    EXPECT_EQ(last, strips.Decoded[2]);
    decoder.SetStripPosition(0, 0, 3);
    TBytes first = DecodeStrip(decoder, strips.Raw[0], 40 * 3 * 8);
    SwapRedBlue(first);
    EXPECT_EQ(first, strips.Decoded[0]);
}

TEST(TIFFJPEG, WithoutTablesAFullJPEGPerStripDecodes)
{
    // Strips that carry their own tables (tables written into every strip).
    TStripFixture fixture;
    TBytes complete = fixture.Strips.JPEGTables;
    complete.resize(complete.size() - 2); // without the tables' end marker
    complete.insert(complete.end(), fixture.Strips.Raw[0].begin() + 2, fixture.Strips.Raw[0].end());
    TTIFFJPEGSettings settings = fixture.Settings;
    settings.JPEGTables.clear();
    TTIFFJPEGDecoder decoder(settings);
    decoder.BeginDecoding();
    TBytes decoded = DecodeStrip(decoder, complete, fixture.StripBytes());
    SwapRedBlue(decoded);
    EXPECT_EQ(decoded, fixture.Strips.Decoded[0]);
}

TEST(TIFFJPEG, CorpusStripsDecodeAsLibtiffDoes)
{
    if (CorpusDir().empty())
        GTEST_SKIP() << "corpus absent";
    ForEachCorpusStrip([](std::uint16_t compression) { return compression == COMPRESSION_JPEG; },
        [](const TCorpusStrip& strip) {
            const TTiffPlan& layout = strip.Layout;
            if (layout.BitsPerSample != 8 || layout.PlanarConfig != 1
                || (layout.SamplesPerPixel != 1 && layout.SamplesPerPixel != 3))
                return;
            TTIFFJPEGSettings settings = SettingsFor(layout, strip.JPEGTables);
            settings.HorizontalSampling = static_cast<std::uint8_t>(layout.SubsamplingH);
            settings.VerticalSampling = static_cast<std::uint8_t>(layout.SubsamplingV);
            TTIFFJPEGDecoder decoder(settings);
            decoder.BeginDecoding();
            decoder.SetStripPosition(strip.Strip * layout.RowsPerStrip, strip.Strip, strip.StripCount);
            TBytes ours = DecodeStrip(decoder, strip.Raw, strip.StripSize);
            ours.resize(strip.Decoded.size());
            if (layout.SamplesPerPixel == 3)
                SwapRedBlue(ours);
            ASSERT_EQ(ours, strip.Decoded) << strip.File << " strip " << strip.Strip;
        });
}

TEST(WarningHook, DeliversTextsToTheInstalledHandlerOnly)
{
    EXPECT_NO_THROW(ShowWarning("nobody listens"));
    std::vector<std::string> texts;
    SetWarningHandler([&](const std::string& text) { texts.push_back(text); });
    ShowWarning("first");
    SetWarningHandler(nullptr);
    ShowWarning("second");
    EXPECT_EQ(texts, std::vector<std::string>{"first"});
}

}
