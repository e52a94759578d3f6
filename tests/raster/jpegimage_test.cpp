#include "raster/jpegimage.h"

#include "base/filestream.h"
#include "base/fmt.h"
#include "base/stream.h"
#include "raster/bitmap.h"
#include "tests/support/files.h"
#include "tests/support/jpegreference.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <jerror.h>

#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;
using jpegref::TDecodeSettings;
using jpegref::TMakeSettings;

namespace {

std::vector<std::uint8_t> Bytes(TJPEGImage& image)
{
    TMemoryStream stream;
    image.SaveStream(stream);
    const auto bytes = stream.Bytes();
    return { bytes.begin(), bytes.end() };
}

void Load(TJPEGImage& image, const std::vector<std::uint8_t>& bytes)
{
    TMemoryStream stream(bytes);
    image.LoadStream(stream);
}

// The bitmap in the library's terms: RGB for 24/32-bit (CMYK already converted), indices for 8-bit.
jpegref::TDecoded Packed(const TBitmap& bitmap)
{
    jpegref::TDecoded out;
    out.Ok = true;
    out.Width = bitmap.Width();
    out.Height = bitmap.Height();
    const TPixelLayout layout = bitmap.PixelLayout();
    out.Components = layout == TPixelLayout::pl8Bit ? 1 : 3;
    const int step = layout == TPixelLayout::pl8Bit ? 1 : layout == TPixelLayout::pl24Bit ? 3 : 4;
    for (int y = 0; y < out.Height; ++y) {
        const std::uint8_t* row = bitmap.RowAddress(y);
        for (int x = 0; x < out.Width; ++x) {
            const std::uint8_t* pixel = row + x * step;
            if (step == 1)
                out.Pixels.push_back(pixel[0]);
            else
                out.Pixels.insert(out.Pixels.end(), { pixel[2], pixel[1], pixel[0] });
        }
    }
    for (const TRGBQuad& entry : bitmap.ColorTable())
        out.ColorMap.push_back({ entry.Red, entry.Green, entry.Blue });
    return out;
}

// The library's output in the same terms: CMYK through the documented conversion, grey maps
// widened to three components.
jpegref::TDecoded Expected(jpegref::TDecoded reference, bool cmykInverted = true)
{
    if (reference.Cmyk && reference.Components == 4) {
        std::vector<std::uint8_t> rgb;
        for (std::size_t i = 0; i < reference.Pixels.size(); i += 4) {
            int ink[4];
            for (int c = 0; c < 4; ++c)
                ink[c] = cmykInverted ? 255 - reference.Pixels[i + c] : reference.Pixels[i + c];
            rgb.insert(rgb.end(), { std::uint8_t(255 - std::min(255, ink[0] + ink[3])),
                std::uint8_t(255 - std::min(255, ink[1] + ink[3])), std::uint8_t(255 - std::min(255, ink[2] + ink[3])) });
        }
        reference.Pixels = rgb;
        reference.Components = 3;
    }
    for (auto& entry : reference.ColorMap)
        if (entry.size() == 1)
            entry = { entry[0], entry[0], entry[0] };
    reference.Cmyk = false;
    return reference;
}

void ExpectSamePicture(const jpegref::TDecoded& ours, const jpegref::TDecoded& expected, const std::string& what)
{
    ASSERT_EQ(ours.Width, expected.Width) << what;
    ASSERT_EQ(ours.Height, expected.Height) << what;
    ASSERT_EQ(ours.Components, expected.Components) << what;
    EXPECT_EQ(ours.ColorMap, expected.ColorMap) << what;
    ASSERT_EQ(ours.Pixels.size(), expected.Pixels.size()) << what;
    const auto mismatch = std::mismatch(ours.Pixels.begin(), ours.Pixels.end(), expected.Pixels.begin());
    EXPECT_TRUE(mismatch.first == ours.Pixels.end())
        << what << ": first difference at byte " << (mismatch.first - ours.Pixels.begin());
}

TPixelLayout ExpectedLayout(const jpegref::TDecoded& reference)
{
    if (!reference.ColorMap.empty())
        return TPixelLayout::pl8Bit;
    return reference.Cmyk ? TPixelLayout::pl32Bit : TPixelLayout::pl24Bit;
}

struct TMadeCase {
    const char* Name;
    TMakeSettings Settings;
};

class TJPEGImageDecodes : public testing::TestWithParam<TMadeCase> {};

// Every kind of file decodes exactly as the library decodes it with the same settings.
TEST_P(TJPEGImageDecodes, LikeTheLibrary)
{
    const auto bytes = jpegref::Make(GetParam().Settings);
    ASSERT_FALSE(bytes.empty());
    TJPEGImage image;
    Load(image, bytes);
    EXPECT_EQ(image.Width(), GetParam().Settings.Width);
    EXPECT_EQ(image.Height(), GetParam().Settings.Height);
    EXPECT_FALSE(image.HasDecodedBitmap()); // the header only, until pixels are needed
    EXPECT_EQ(image.ProgressiveSave(), GetParam().Settings.Progressive);
    const auto reference = jpegref::Decode(bytes);
    ASSERT_TRUE(reference.Ok);
    const TBitmap& bitmap = image.DecodedBitmap();
    EXPECT_EQ(bitmap.PixelLayout(), ExpectedLayout(reference));
    ExpectSamePicture(Packed(bitmap), Expected(reference), GetParam().Name);
    // The store is not cleared before decoding; its row padding still is.
    const std::size_t used = std::size_t(bitmap.Width()) * bitmap.Header().BitsPerPixel / 8;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (std::size_t i = used; i < bitmap.RowBytes(); ++i)
            ASSERT_EQ(bitmap.RowAddress(y)[i], 0) << "row " << y << ", byte " << i;
}

INSTANTIATE_TEST_SUITE_P(Made, TJPEGImageDecodes,
    testing::Values(TMadeCase { "Baseline420", { 64, 48, 3 } },
        TMadeCase { "Baseline444OddSize", { 37, 23, 3, 90, false, 0, false } },
        TMadeCase { "OnePixel", { 1, 1, 3 } }, TMadeCase { "OneRow", { 50, 1, 3 } },
        TMadeCase { "Progressive", { 80, 61, 3, 75, true } },
        TMadeCase { "RestartMarkers", { 71, 40, 3, 85, false, 1 } },
        TMadeCase { "Grey", { 40, 33, 1 } }, TMadeCase { "GreyProgressive", { 40, 33, 1, 80, true } },
        TMadeCase { "Cmyk", { 30, 20, 4 } }),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

struct TSettingsCase {
    const char* Name;
    std::function<void(TJPEGImage&)> Apply;
    TDecodeSettings Reference;
};

class TJPEGImageSettings : public testing::TestWithParam<TSettingsCase> {};

TEST_P(TJPEGImageSettings, DriveTheLibraryTheSameWay)
{
    const auto bytes = jpegref::Make({ 93, 57, 3, 85, true });
    TJPEGImage image;
    Load(image, bytes);
    GetParam().Apply(image);
    const auto reference = jpegref::Decode(bytes, GetParam().Reference);
    ASSERT_TRUE(reference.Ok);
    EXPECT_EQ(image.Width(), reference.Width); // scaled size before decoding
    ExpectSamePicture(Packed(image.DecodedBitmap()), Expected(reference), GetParam().Name);
}

INSTANTIATE_TEST_SUITE_P(Settings, TJPEGImageSettings,
    testing::Values(
        TSettingsCase { "GrayOnly", [](TJPEGImage& i) { i.SetGrayOnly(true); }, { .ForceGray = true } },
        TSettingsCase { "Indexed", [](TJPEGImage& i) { i.SetDecodeLayout(TJPEGDecodeLayout::dlIndexed8); },
            { .Quantize236 = true } },
        TSettingsCase { "Fast", [](TJPEGImage& i) { i.SetDecodeSpeed(TJPEGDecodeSpeed::dsFast); }, { .Fast = true } },
        TSettingsCase { "Half", [](TJPEGImage& i) { i.SetDecodeScale(TJPEGScale::ScaleHalf); }, { .ScaleDenom = 2 } },
        TSettingsCase { "Eighth", [](TJPEGImage& i) { i.SetDecodeScale(TJPEGScale::ScaleEighth); },
            { .ScaleDenom = 8 } },
        TSettingsCase { "NoSmoothing", [](TJPEGImage& i) { i.SetBlockSmoothing(false); }, { .BlockSmoothing = false } },
        // Shown scan by scan, the last pass is the full decode.
        TSettingsCase { "ProgressiveShow", [](TJPEGImage& i) { i.SetProgressiveShow(true); }, {} }),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

// Shown scan by scan, a grey file gets its table again for the last pass (once a crash: the
// rows of the replaced store were still written).
TEST(TJPEGImage, ProgressiveShowOfGreyEndsLikeTheFullDecode)
{
    const auto bytes = jpegref::Make({ 45, 38, 1, 80, true });
    TJPEGImage image;
    image.SetProgressiveShow(true);
    Load(image, bytes);
    ExpectSamePicture(Packed(image.DecodedBitmap()), Expected(jpegref::Decode(bytes)), "grey progressive");
}

TEST(TJPEGImage, CmykSamplesOf255AreWhite)
{
    jpegref::TMakeSettings settings { 16, 8, 4, 100 };
    const auto bytes = jpegref::Encode(std::vector<std::uint8_t>(16 * 8 * 4, 255), settings);
    TJPEGImage image;
    Load(image, bytes);
    const TBitmap& bitmap = image.DecodedBitmap();
    ASSERT_EQ(bitmap.PixelLayout(), TPixelLayout::pl32Bit);
    EXPECT_EQ(bitmap.Pixel(5, 5), (TRGBQuad { 255, 255, 255, 0 }));
    EXPECT_EQ(bitmap.RowAddress(3)[7], 0); // the fourth byte is cleared

    TJPEGImage plain;
    plain.SetCmykInverted(false);
    Load(plain, bytes);
    EXPECT_EQ(plain.DecodedBitmap().Pixel(5, 5), (TRGBQuad { 0, 0, 0, 0 }));
}

TEST(TJPEGImage, GreyDecodesTo236GreyLevels)
{
    TJPEGImage image;
    Load(image, jpegref::Make({ 20, 20, 1 }));
    EXPECT_TRUE(image.Grayscale());
    const TColorTable table = image.DecodedBitmap().ColorTable();
    ASSERT_EQ(table.size(), 236u);
    EXPECT_EQ(table.front(), (TRGBQuad { 0, 0, 0, 0 }));
    EXPECT_EQ(table.back(), (TRGBQuad { 255, 255, 255, 0 }));
    for (const TRGBQuad& entry : table)
        EXPECT_TRUE(entry.Red == entry.Green && entry.Green == entry.Blue);
}

TEST(TJPEGImage, TruncatedFileDecodesAsFarAsItsData)
{
    auto bytes = jpegref::Make({ 120, 90, 3, 90 });
    bytes.resize(bytes.size() * 2 / 3);
    TJPEGImage image;
    Load(image, bytes);
    EXPECT_EQ(image.Width(), 120);
    const auto reference = jpegref::Decode(bytes);
    ASSERT_TRUE(reference.Ok);
    ExpectSamePicture(Packed(image.DecodedBitmap()), Expected(reference), "truncated");
}

struct TBadCase {
    const char* Name;
    std::vector<std::uint8_t> Bytes;
    int Code;
};

class TJPEGImageRefuses : public testing::TestWithParam<TBadCase> {};

// The header is refused with the library's code; the bytes stay, the size is 0.
TEST_P(TJPEGImageRefuses, WithTheLibrarysCode)
{
    TJPEGImage image;
    TMemoryStream stream(GetParam().Bytes);
    EXPECT_THAT([&] { image.LoadStream(stream); },
        testing::ThrowsMessage<EJPEG>(testing::StrEq(Fmt(SJPEGError, GetParam().Code))));
    EXPECT_EQ(image.Data().CompressedData->Size(), static_cast<std::int64_t>(GetParam().Bytes.size()));
    EXPECT_EQ(image.Width(), 0);
    EXPECT_EQ(image.Height(), 0);
    EXPECT_EQ(jpegref::Decode(GetParam().Bytes).Code, GetParam().Code);
}

INSTANTIATE_TEST_SUITE_P(Malformed, TJPEGImageRefuses,
    testing::Values(TBadCase { "NotAJpeg", { 0x89, 'P', 'N', 'G', 13, 10 }, JERR_NO_SOI },
        TBadCase { "OnlyTheMarker", { 0xFF, 0xD8 }, JERR_NO_IMAGE },
        TBadCase { "NoFrame", { 0xFF, 0xD8, 0xFF, 0xD9 }, JERR_NO_IMAGE }),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

TEST(TJPEGImage, EmptyStreamFailsOnDecodeWithTheEmptyInputCode)
{
    TJPEGImage image;
    TMemoryStream empty;
    image.LoadStream(empty);
    EXPECT_THAT([&] { image.Decode(); },
        testing::ThrowsMessage<EJPEG>(testing::StrEq(Fmt(SJPEGError, static_cast<int>(JERR_INPUT_EMPTY)))));
}

TEST(TJPEGImage, NewImageIsEmptyAndSavesAnEmptyFile)
{
    TJPEGImage image;
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(image.Width(), 0);
    const fs::path path = fs::temp_directory_path() / ("jpegimage_empty_" + std::to_string(getpid()) + ".jpg");
    image.SaveFile(path.string());
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0u);
    fs::remove(path);
    EXPECT_THAT([&] { image.SaveFile("/nonexistent-folder/x.jpg"); },
        testing::ThrowsMessage<EFCreateError>(testing::StartsWith("Cannot create file \"/nonexistent-folder/x.jpg\". ")));
}

TEST(TJPEGImage, ThumbnailIsBaselineQuality90WithTrueColours)
{
    // A 318 × 238 bitmap with red on the left and blue on the right.
    TBitmap bitmap;
    bitmap.SetPixelLayout(TPixelLayout::pl24Bit);
    bitmap.ResizeTo(318, 238);
    std::vector<std::uint8_t> rgb;
    for (int y = 0; y < 238; ++y) {
        std::uint8_t* row = bitmap.RowAddress(y);
        for (int x = 0; x < 318; ++x) {
            const std::uint8_t red = x < 159 ? 230 : 10, green = static_cast<std::uint8_t>(y), blue = x < 159 ? 20 : 240;
            row[x * 3] = blue;
            row[x * 3 + 1] = green;
            row[x * 3 + 2] = red;
            rgb.insert(rgb.end(), { red, green, blue });
        }
    }
    TJPEGImage image;
    image.CopyContentFrom(bitmap);
    EXPECT_FALSE(image.Data().CompressedData); // no encoding yet
    EXPECT_EQ(image.Width(), 318);
    const auto bytes = Bytes(image);
    // Exactly what the library writes for these pixels with its defaults at quality 90.
    EXPECT_EQ(bytes, jpegref::Encode(rgb, { 318, 238, 3, 90 }));
    ASSERT_GT(bytes.size(), 4u);
    const std::uint8_t startOfBaselineFrame[] = { 0xFF, 0xC0 };
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), std::begin(startOfBaselineFrame), std::end(startOfBaselineFrame)),
        bytes.end());
    const auto decoded = jpegref::Decode(bytes);
    ASSERT_TRUE(decoded.Ok);
    EXPECT_EQ(decoded.Components, 3);
    EXPECT_GT(decoded.Pixels[(100 * 318 + 20) * 3], 200);     // red stays red
    EXPECT_GT(decoded.Pixels[(100 * 318 + 300) * 3 + 2], 200); // blue stays blue
}

TEST(TJPEGImage, EncodesIndexedAndGreyOnly)
{
    TJPEGImage source;
    Load(source, jpegref::Make({ 33, 21, 1 }));
    TBitmap bitmap;
    source.CopyContentInto(bitmap);
    ASSERT_EQ(bitmap.PixelLayout(), TPixelLayout::pl8Bit);
    TJPEGImage again;
    again.CopyContentFrom(bitmap);
    again.SetGrayOnly(true);
    TJPEGImage check;
    Load(check, Bytes(again));
    EXPECT_TRUE(check.Grayscale());
    EXPECT_EQ(check.Width(), 33);
}

TEST(TJPEGImage, SizeCannotBeChanged)
{
    TJPEGImage image;
    EXPECT_THAT([&] { image.SetHeight(5); },
        testing::ThrowsMessage<EInvalidGraphicOperation>(testing::StrEq("Cannot change the size of a JPEG image")));
    EXPECT_THROW(image.SetWidth(5), EInvalidGraphicOperation);
}

TEST(TJPEGImage, CopiesShareDataAndKeepTheirSettings)
{
    const auto bytes = jpegref::Make({ 24, 16, 3 });
    TJPEGImage first;
    Load(first, bytes);
    first.Decode();
    TJPEGImage second;
    second.SetEncodeQuality(40);
    second.CopyContentFrom(first);
    EXPECT_TRUE(second.Equals(first));
    EXPECT_EQ(second.EncodeQuality(), 40);
    EXPECT_EQ(second.DecodedBitmap().Image(), first.DecodedBitmap().Image()); // one pixel store
    EXPECT_EQ(Bytes(second), bytes);

    TJPEGImage other;
    Load(other, jpegref::Make({ 24, 16, 3, 50 }));
    EXPECT_FALSE(other.Equals(first));
    EXPECT_FALSE(first.Equals(TBitmap()));
    EXPECT_THAT([&] { first.CopyContentInto(other); },
        testing::ThrowsMessage<Exception>(testing::StrEq("Cannot assign a TJPEGImage to a TJPEGImage")));
}

TEST(TJPEGImage, StoredPropertyRoundTripsAndRefusesCountsPastTheEnd)
{
    const auto bytes = jpegref::Make({ 24, 16, 3 });
    TJPEGImage image;
    Load(image, bytes);
    TMemoryStream stored;
    image.WriteData(stored);
    ASSERT_EQ(stored.Size(), static_cast<std::int64_t>(bytes.size() + 4));
    stored.SetPosition(0);
    TJPEGImage copy;
    copy.ReadData(stored);
    EXPECT_EQ(Bytes(copy), bytes);

    TMemoryStream lying(std::vector<std::uint8_t> { 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xD8 });
    EXPECT_THROW(copy.ReadData(lying), EReadError);
}

TEST(TJPEGImage, ProgressHandlerCanStopDecodingAndEncoding)
{
    TJPEGImage image;
    Load(image, jpegref::Make({ 24, 16, 3 }));
    std::vector<TProgressStage> stages;
    image.OnProgress = [&](TGraphic&, TProgressStage stage, int percent, bool, const TRect&, const std::string&) {
        stages.push_back(stage);
        EXPECT_EQ(percent, stage == TProgressStage::psStarting ? 0 : 100);
    };
    image.Decode();
    EXPECT_EQ(stages, (std::vector { TProgressStage::psStarting, TProgressStage::psEnding }));

    TJPEGImage stopped;
    Load(stopped, jpegref::Make({ 24, 16, 3 }));
    stopped.OnProgress = [](TGraphic&, TProgressStage stage, int, bool, const TRect&, const std::string&) {
        if (stage == TProgressStage::psStarting)
            throw EAbort("");
    };
    EXPECT_NO_THROW(stopped.Decode());
    EXPECT_TRUE(stopped.HasDecodedBitmap());

    TJPEGImage encoder;
    encoder.CopyContentFrom(image.DecodedBitmap());
    encoder.OnProgress = stopped.OnProgress;
    EXPECT_TRUE(Bytes(encoder).empty()); // stopped: no compressed bytes
}

// Every JPEG of the public corpora: the same pixels as the library, or the same error code.
TEST(TJPEGImageCorpus, DecodesLikeTheLibraryAndDjpeg)
{
    const fs::path folder = fs::path(IBI_CORPUS_DIR) / "jpeg";
    if (!fs::is_directory(folder))
        GTEST_SKIP() << "no corpus at " << folder;
    const bool djpeg = jpegref::HaveDjpeg();
    const fs::path work = fs::temp_directory_path() / ("jpegimage_corpus_" + std::to_string(getpid()));
    fs::create_directories(work);
    int files = 0, compared = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || (ext != ".jpg" && ext != ".jpeg"))
            continue;
        ++files;
        const auto bytes = testsupport::ReadFile(entry.path());
        const std::string name = entry.path().string();
        TJPEGImage image;
        try {
            Load(image, bytes);
            image.Decode();
        } catch (const EJPEG& error) {
            if (error.what() == Fmt(SJPEGError, static_cast<int>(JERR_IMAGE_TOO_BIG)) && image.Data().Width > 0) {
                // Refused before the library spends its time on it.
                EXPECT_GT(std::uint64_t(image.Data().Width) * std::uint64_t(image.Data().Height), MaxImagePixels) << name;
                continue;
            }
            const auto reference = jpegref::Decode(bytes);
            EXPECT_FALSE(reference.Ok) << name << ": " << error.what();
            EXPECT_EQ(error.what(), Fmt(SJPEGError, reference.Code)) << name;
            continue;
        }
        const auto reference = jpegref::Decode(bytes);
        ASSERT_TRUE(reference.Ok) << name << " decodes here, not in the library";
        const auto ours = Packed(image.DecodedBitmap());
        ExpectSamePicture(ours, Expected(reference), name);
        // djpeg converts CMYK its own way; one process per file is slow, so the crash suites
        // (compared with the library above) are left out.
        if (!djpeg || reference.Cmyk || name.find("/crashtest/") != std::string::npos)
            continue;
        const bool grey = !reference.ColorMap.empty();
        const auto pnm = jpegref::Djpeg(entry.path(), grey ? "-colors 236" : "", work);
        ASSERT_TRUE(pnm) << name;
        std::vector<std::uint8_t> expanded;
        for (std::uint8_t index : ours.Pixels)
            if (grey)
                expanded.push_back(ours.ColorMap.at(index)[0]);
        EXPECT_EQ(pnm->Pixels, grey ? expanded : ours.Pixels) << name << " differs from djpeg";
        ++compared;
    }
    fs::remove_all(work);
    EXPECT_GT(files, 100);
    if (djpeg) {
        EXPECT_GT(compared, 50);
    }
}

} // namespace
