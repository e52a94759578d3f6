#include "imaging/readergraphic.h"

#include "base/filestream.h"
#include "base/stream.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <unistd.h>

using testing::ElementsAre;
using testing::StrEq;
using testing::ThrowsMessage;

namespace {

// A minimal reader: "TST", width and height as bytes, then RGB rows. Enough to drive the
// common loading frame and the colour manager the way the real readers do.
class TTestReader : public TReaderGraphic {
public:
    std::string ClassName() const override { return "TTestReader"; }

    static bool CanReadStream(TStream& stream)
    {
        const std::int64_t position = stream.Position();
        char signature[3] = {};
        const bool result = stream.Read(signature, 3) == 3 && std::string(signature, 3) == "TST";
        stream.SetPosition(position);
        return result;
    }
    static bool CanReadFile(const std::string& fileName) { return CanReadFileWith(fileName, &TTestReader::CanReadStream); }

    bool ReadImageInfo(TStream& stream, std::uint32_t imageIndex) override
    {
        TReaderGraphic::ReadImageInfo(stream, imageIndex);
        std::uint8_t header[5];
        if (stream.Read(header, 5) != 5 || std::string(reinterpret_cast<char*>(header), 3) != "TST")
            return false;
        Properties().Width = header[3];
        Properties().Height = header[4];
        Properties().ColorScheme = schRGB;
        Properties().BitsPerSample = 8;
        Properties().SamplesPerPixel = 3;
        Properties().BitsPerPixel = 24;
        Properties().Compression = cmpNone;
        return true;
    }

    void LoadStream(TStream& stream) override
    {
        StartLoading(stream, "TST", Area);
        const std::uint32_t width = Properties().Width, height = Properties().Height;
        TColorManager& colors = ColorManager();
        colors.SetInScheme(schRGB);
        colors.SetOutScheme(schBGR);
        NewImage(TBitmapHeader { std::int32_t(width), -std::int32_t(height), 1, 24 }, {});
        ProgressEnd();
        ProgressStart(STransfering);
        std::vector<std::uint8_t> row(width * 3);
        for (std::uint32_t y = 0; y < height; ++y) {
            stream.ReadBuffer(row.data(), row.size());
            colors.TranslateRow(row.data(), RowAddress(int(y)), width);
            ProgressRow(y, height);
        }
        ProgressEnd();
    }

    TProgressArea Area = paImageWidth;
    using TReaderGraphic::ProgressRow;
    using TReaderGraphic::SetProgressRect;
};

struct TProgressCall {
    TProgressStage Stage;
    int Percent;
    bool Redraw;
    TRect Rect;
    std::string Message;
};

std::vector<std::uint8_t> TestFile(std::uint8_t width, std::uint8_t height)
{
    std::vector<std::uint8_t> bytes { 'T', 'S', 'T', width, height };
    for (int i = 0; i < width * height * 3; ++i)
        bytes.push_back(static_cast<std::uint8_t>(i));
    return bytes;
}

} // namespace

TEST(TReaderGraphic, StartsEmptyWithDefaultPropertiesAndColourManager)
{
    TTestReader reader;
    EXPECT_TRUE(reader.IsEmpty());
    EXPECT_EQ(reader.Width(), 0);
    EXPECT_EQ(reader.Properties().Width, 0u);
    EXPECT_EQ(reader.Properties().ColorScheme, schNone);
    EXPECT_FLOAT_EQ(reader.Properties().FileGamma, 1.0f);
    EXPECT_EQ(reader.ColorManager().InScheme(), schRGB);
    EXPECT_EQ(reader.ColorManager().OutScheme(), schBGR);
    EXPECT_EQ(reader.BasePosition(), 0);
    EXPECT_EQ(reader.SourceStream(), nullptr);
}

TEST(TReaderGraphic, BaseReadImageInfoClearsEveryFieldAndAnswersFalse)
{
    TReaderGraphic reader;
    TImageProperties& properties = reader.Properties();
    properties.Width = 7;
    properties.Options = optTiled | optBigEndian;
    properties.FileGamma = 0.45f;
    properties.RowsPerStrip = { 1, 2, 3 };
    properties.JPEGTables = { 0xFF, 0xD8 };
    properties.Compression = cmpLZW;
    properties.LocalColorTable = true;
    TMemoryStream stream;
    EXPECT_FALSE(reader.ReadImageInfo(stream, 0));
    EXPECT_EQ(properties.Width, 0u);
    EXPECT_EQ(properties.Options, 0);
    EXPECT_FLOAT_EQ(properties.FileGamma, 1.0f);
    EXPECT_TRUE(properties.RowsPerStrip.empty());
    EXPECT_TRUE(properties.JPEGTables.empty());
    EXPECT_EQ(properties.Compression, cmpUndefined);
    EXPECT_FALSE(properties.LocalColorTable);
}

TEST(TReaderGraphic, CanReadStreamLeavesThePositionWhereItWas)
{
    std::vector<std::uint8_t> bytes { 0, 0 };
    const auto file = TestFile(1, 1);
    bytes.insert(bytes.end(), file.begin(), file.end());
    TMemoryStream stream(bytes);
    for (std::int64_t position : { 0, 2, 4, 20 }) {
        stream.SetPosition(position);
        EXPECT_EQ(TTestReader::CanReadStream(stream), position == 2);
        EXPECT_EQ(stream.Position(), position);
        EXPECT_FALSE(TReaderGraphic::CanReadStream(stream));
        EXPECT_EQ(stream.Position(), position);
    }
}

TEST(TReaderGraphic, CanReadFileOpensTheFileAndAsksItsClass)
{
    const std::string folder = testing::TempDir();
    const std::string name = folder + "readergraphic_test_" + std::to_string(getpid()) + ".tst";
    {
        TFileStream file(name, fmCreate);
        const auto bytes = TestFile(2, 2);
        file.WriteBuffer(bytes.data(), bytes.size());
    }
    EXPECT_TRUE(TTestReader::CanReadFile(name));
    EXPECT_FALSE(TReaderGraphic::CanReadFile(name));
    std::filesystem::remove(name);
    EXPECT_THROW(TTestReader::CanReadFile(name), EFOpenError);
}

TEST(TReaderGraphic, LoadsThroughTheCommonFrameFromTheStreamsPosition)
{
    std::vector<std::uint8_t> bytes { 9, 9, 9 };
    const auto file = TestFile(3, 2);
    bytes.insert(bytes.end(), file.begin(), file.end());
    TMemoryStream stream(bytes);
    stream.SetPosition(3);
    TTestReader reader;
    std::vector<TProgressCall> calls;
    reader.OnProgress = [&](TGraphic&, TProgressStage stage, int percent, bool redraw, const TRect& rect,
                            const std::string& message) { calls.push_back({ stage, percent, redraw, rect, message }); };
    reader.LoadStream(stream);
    EXPECT_EQ(reader.BasePosition(), 3);
    EXPECT_EQ(reader.SourceStream(), &stream);
    EXPECT_EQ(reader.Width(), 3);
    EXPECT_EQ(reader.Height(), 2);
    EXPECT_EQ(reader.PixelLayout(), TPixelLayout::pl24Bit);
    EXPECT_EQ(reader.Pixel(0, 0), (TRGBQuad { 2, 1, 0, 0 }));
    EXPECT_EQ(reader.Pixel(2, 1), (TRGBQuad { 17, 16, 15, 0 }));

    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[0].Stage, TProgressStage::psStarting);
    EXPECT_EQ(calls[0].Message, "Preparing...");
    EXPECT_EQ(calls[0].Rect, (TRect { 0, 0, 3, 1 }));
    EXPECT_EQ(calls[1].Stage, TProgressStage::psEnding);
    EXPECT_EQ(calls[2].Message, "Transfering...");
    EXPECT_EQ(calls[3].Stage, TProgressStage::psRunning);
    EXPECT_TRUE(calls[3].Redraw);
    EXPECT_EQ(calls[3].Percent, 0);
    EXPECT_EQ(calls[3].Rect, (TRect { 0, 0, 3, 1 }));
    EXPECT_EQ(calls[4].Percent, 50);
    EXPECT_EQ(calls[4].Rect, (TRect { 0, 1, 3, 2 }));
    EXPECT_EQ(calls[5].Stage, TProgressStage::psEnding);
}

TEST(TReaderGraphic, ABadSignatureFailsWithTheFormatsNameAndEmptiesTheBitmap)
{
    TMemoryStream good(TestFile(2, 2));
    TTestReader reader;
    reader.LoadStream(good);
    ASSERT_FALSE(reader.IsEmpty());
    TMemoryStream bad(std::vector<std::uint8_t> { 'T', 'S', 'X', 1, 1 });
    EXPECT_THAT([&] { reader.LoadStream(bad); },
        ThrowsMessage<EInvalidGraphic>(StrEq("Cannot load image. Invalid or unexpected TST image format.")));
    EXPECT_TRUE(reader.IsEmpty());
}

TEST(TReaderGraphic, ATruncatedStreamFailsWithTheReadError)
{
    auto bytes = TestFile(4, 4);
    bytes.pop_back();
    TMemoryStream stream(bytes);
    TTestReader reader;
    EXPECT_THROW(reader.LoadStream(stream), EReadError);
}

TEST(TReaderGraphic, AnEmptyProgressAreaStartsWithWidthZero)
{
    TMemoryStream stream(TestFile(5, 1));
    TTestReader reader;
    reader.Area = paEmpty;
    TRect first { 9, 9, 9, 9 };
    reader.OnProgress = [&](TGraphic&, TProgressStage stage, int, bool, const TRect& rect, const std::string&) {
        if (stage == TProgressStage::psStarting && first.Left == 9)
            first = rect;
    };
    reader.LoadStream(stream);
    EXPECT_EQ(first, (TRect { 0, 0, 0, 1 }));
}

TEST(TReaderGraphic, RowProgressRoundsToNearestWithTiesToEven)
{
    TTestReader reader;
    std::vector<int> percents;
    reader.OnProgress = [&](TGraphic&, TProgressStage, int percent, bool, const TRect&, const std::string&) {
        percents.push_back(percent);
    };
    // 1/8 = 12.5 → 12, 3/8 = 37.5 → 38, 5/8 = 62.5 → 62, 1/3 = 33.3 → 33, 2/3 = 66.7 → 67.
    reader.ProgressRow(1, 8);
    reader.ProgressRow(3, 8);
    reader.ProgressRow(5, 8);
    reader.ProgressRow(1, 3);
    reader.ProgressRow(2, 3);
    reader.ProgressRow(4000000000u, 4000000000u);
    EXPECT_THAT(percents, ElementsAre(12, 38, 62, 33, 67, 100));
    EXPECT_EQ(reader.ProgressRect().Top, 6);
}

TEST(TReaderGraphic, CopyContentFromAReaderTakesItsPropertiesAndFromABitmapKeepsThem)
{
    TMemoryStream stream(TestFile(2, 3));
    TTestReader source;
    source.LoadStream(stream);
    source.Properties().RowsPerStrip = { 3 };

    TReaderGraphic target;
    target.Properties().Version = 89;
    TBitmap plain;
    plain.NewImage(TBitmapHeader { 1, 1, 1, 24 }, {});
    target.CopyContentFrom(plain);
    EXPECT_EQ(target.Properties().Version, 89u);
    EXPECT_EQ(target.Width(), 1);

    target.CopyContentFrom(source);
    EXPECT_EQ(target.Properties().Version, 0u);
    EXPECT_EQ(target.Properties().Width, 2u);
    EXPECT_EQ(target.Properties().Height, 3u);
    EXPECT_THAT(target.Properties().RowsPerStrip, ElementsAre(3u));
    EXPECT_EQ(target.Pixel(1, 2), source.Pixel(1, 2));
    // The copy owns its arrays.
    source.Properties().RowsPerStrip[0] = 9;
    EXPECT_THAT(target.Properties().RowsPerStrip, ElementsAre(3u));

    // A plain bitmap takes the pixels of a reader.
    TBitmap copy;
    copy.CopyContentFrom(source);
    EXPECT_EQ(copy.Height(), 3);
}

TEST(TReaderGraphic, RaiseGraphicErrorFillsInOnlyWhenGivenArguments)
{
    EXPECT_THAT([] { TReaderGraphic::RaiseGraphicError("100% broken %s"); },
        ThrowsMessage<EInvalidGraphic>(StrEq("100% broken %s")));
    EXPECT_THAT([] { TReaderGraphic::RaiseGraphicError(SInvalidImageFormat, "GIF"); },
        ThrowsMessage<EInvalidGraphic>(StrEq("Cannot load image. Invalid or unexpected GIF image format.")));
    EXPECT_THAT([] { TReaderGraphic::RaiseGraphicError("%s not supported for %s files.", "LZW", std::string("TIF/TIFF")); },
        ThrowsMessage<EInvalidGraphic>(StrEq("LZW not supported for TIF/TIFF files.")));
}
