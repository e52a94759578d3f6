#include "raster/jpegimage.h"

#include "base/fmt.h"
#include "base/stream.h"
#include "raster/canvas.h"
#include "raster/jpegglue.h"
#include "raster/orientation.h"

#include <jerror.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <vector>

TJPEGDefaults JPEGDefaults;

void InitJPEGDefaults(int displayBitsPerPixel)
{
    JPEGDefaults.DecodeLayout = displayBitsPerPixel <= 8 ? TJPEGDecodeLayout::dlIndexed8 : TJPEGDecodeLayout::dlTrueColor;
}

TJPEGData::TJPEGData() = default;
TJPEGData::~TJPEGData() = default;

bool TJPEGData::HasBytes() const
{
    return CompressedData && CompressedData->Size() > 0;
}

namespace {

// The library may take this much memory for one picture (coefficient buffers of multi-scan
// files, quantiser histograms); a 24-megapixel progressive file needs about 150 MB.
constexpr long MaxLibraryMemory = 1L << 30;

std::uint64_t TickCount()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// CMYK samples of a batch of rows turned into blue, green, red in place (the fourth byte 0).
void ConvertCmykRows(std::uint8_t* row, std::ptrdiff_t step, int rows, int width, bool inverted)
{
    const std::uint8_t flip = inverted ? 0xFF : 0x00;
    for (int r = 0; r < rows; ++r, row += step) {
        std::uint8_t* pixel = row;
        for (int x = 0; x < width; ++x, pixel += 4) {
            const int c = pixel[0] ^ flip, m = pixel[1] ^ flip, y = pixel[2] ^ flip, k = pixel[3] ^ flip;
            pixel[0] = static_cast<std::uint8_t>(255 - std::min(255, y + k));
            pixel[1] = static_cast<std::uint8_t>(255 - std::min(255, m + k));
            pixel[2] = static_cast<std::uint8_t>(255 - std::min(255, c + k));
            pixel[3] = 0;
        }
    }
}

// The decoder's colour map as a colour table: grey maps give red = green = blue, CMYK maps
// go through the same conversion as CMYK pixels.
TColorTable ColorMapTable(const jpeg_decompress_struct& info, bool cmykInverted)
{
    TColorTable table(static_cast<std::size_t>(std::max(0, info.actual_number_of_colors)));
    for (std::size_t i = 0; i < table.size(); ++i) {
        TRGBQuad& entry = table[i];
        if (info.out_color_components == 1) {
            entry.Red = entry.Green = entry.Blue = info.colormap[0][i];
        } else if (info.out_color_components == 4) {
            std::uint8_t pixel[4] = { info.colormap[0][i], info.colormap[1][i], info.colormap[2][i], info.colormap[3][i] };
            ConvertCmykRows(pixel, 0, 1, 1, cmykInverted);
            entry.Blue = pixel[0];
            entry.Green = pixel[1];
            entry.Red = pixel[2];
        } else {
            entry.Red = info.colormap[0][i];
            entry.Green = info.colormap[1][i];
            entry.Blue = info.colormap[2][i];
        }
    }
    return table;
}

// Unwritten rows of a bitmap whose decoding stopped keep the white a resized bitmap starts with.
void FillRowsWhite(TBitmap& bitmap, int firstRow)
{
    const int height = bitmap.Height();
    if (firstRow >= height)
        return;
    std::uint8_t value = 0xFF;
    if (bitmap.PixelLayout() == TPixelLayout::pl8Bit) {
        const TColorTable table = bitmap.ColorTable();
        int best = -1;
        for (std::size_t i = 0; i < table.size(); ++i) {
            const int sum = table[i].Red + table[i].Green + table[i].Blue;
            if (sum > best) {
                best = sum;
                value = static_cast<std::uint8_t>(i);
            }
        }
    }
    for (int row = firstRow; row < height; ++row)
        std::memset(bitmap.RowAddress(row), value, bitmap.RowBytes());
}

} // namespace

// The library's progress fields, followed by what the throttled notifications need.
struct TJPEGProgress {
    jpeg_progress_mgr Pub;
    TJPEGImage* Owner = nullptr;
    int LastPercent = 0;
    std::uint64_t LastTime = 0;
    int LastRow = 0;

    static void Monitor(j_common_ptr info)
    {
        auto* progress = reinterpret_cast<TJPEGProgress*>(info->progress);
        try {
            progress->Step(info);
        } catch (...) { // a handler's EAbort or failure: never through library frames
            LeaveJPEGLibrary(info, std::current_exception());
        }
    }

    void Step(j_common_ptr info)
    {
        const std::uint64_t now = TickCount();
        if (now - LastTime < 500)
            return;
        const std::uint64_t previous = LastTime;
        LastTime = now;
        if (previous == 0)
            return;
        const long limit = std::max(1L, Pub.pass_limit);
        const int total = std::max(1, Pub.total_passes);
        const int percent = static_cast<int>(
            (static_cast<double>(Pub.pass_counter) / static_cast<double>(limit) + Pub.completed_passes) * 100.0 / total);
        if (percent == LastPercent)
            return;
        LastPercent = percent;
        TRect rect;
        if (info->is_decompressor) {
            auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
            const int current = static_cast<int>(decompress->output_scanline);
            rect = TRect { 0, LastRow, static_cast<std::int32_t>(decompress->output_width), current };
            if (current < LastRow) // a new output pass has started
                rect.Bottom = static_cast<std::int32_t>(decompress->output_height);
            LastRow = current;
        }
        Owner->ReportProgress(TProgressStage::psRunning, percent, rect.Height() > 3, rect);
    }
};

TJPEGImage::TJPEGImage()
    : FData(std::make_shared<TJPEGData>())
    , FBlockSmoothing(JPEGDefaults.BlockSmoothing)
    , FGrayOnly(JPEGDefaults.GrayOnly)
    , FDecodeLayout(JPEGDefaults.DecodeLayout)
    , FEncodeQuality(JPEGDefaults.EncodeQuality)
    , FProgressiveShow(JPEGDefaults.ProgressiveShow)
    , FProgressiveSave(JPEGDefaults.ProgressiveSave)
    , FDecodeSpeed(JPEGDefaults.DecodeSpeed)
    , FDecodeScale(JPEGDefaults.DecodeScale)
{
}

TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::NewData()
{
    FData = std::make_shared<TJPEGData>();
    FNeedRecalc = false;
    FScaledWidth = FScaledHeight = 0;
}

void TJPEGImage::FreeBitmap()
{
    FBitmap.reset();
}

int TJPEGImage::Width() const
{
    if (FBitmap)
        return FBitmap->Width();
    if (FDecodeScale == TJPEGScale::ScaleFull)
        return FData->Width;
    CalcOutputDimensions();
    return FScaledWidth;
}

int TJPEGImage::Height() const
{
    if (FBitmap)
        return FBitmap->Height();
    if (FDecodeScale == TJPEGScale::ScaleFull)
        return FData->Height;
    CalcOutputDimensions();
    return FScaledHeight;
}

void TJPEGImage::SetWidth(int)
{
    throw EInvalidGraphicOperation(SChangeJPGSize);
}

void TJPEGImage::SetHeight(int)
{
    throw EInvalidGraphicOperation(SChangeJPGSize);
}

bool TJPEGImage::IsEmpty() const
{
    return !FData->HasBytes() && (!FBitmap || FBitmap->IsEmpty());
}

void TJPEGImage::CalcOutputDimensions() const
{
    if (!FNeedRecalc)
        return;
    FNeedRecalc = false;
    FScaledWidth = FScaledHeight = 0;
    if (!FData->HasBytes())
        return;
    TJPEGDecompressor decompressor(FData->CompressedData->Bytes());
    jpeg_decompress_struct& info = decompressor.Info();
    decompressor.Guarded([&] {
        jpeg_read_header(&info, TRUE);
        info.scale_num = 1;
        info.scale_denom = 1u << static_cast<unsigned>(FDecodeScale);
        jpeg_calc_output_dimensions(&info);
    });
    FProgressiveSave = jpeg_has_multiple_scans(&info) != 0;
    FScaledWidth = static_cast<std::int32_t>(info.output_width);
    FScaledHeight = static_cast<std::int32_t>(info.output_height);
}

void TJPEGImage::LoadStream(TStream& stream)
{
    ReadStream(stream, stream.Size() - stream.Position());
}

void TJPEGImage::ReadData(TStream& stream)
{
    std::uint8_t count[4];
    stream.ReadBuffer(count, sizeof count);
    const std::int64_t size = std::int64_t(count[0]) | std::int64_t(count[1]) << 8 | std::int64_t(count[2]) << 16
        | std::int64_t(count[3]) << 24;
    if (size > stream.Size() - stream.Position()) // before allocating for a count past the end
        throw EReadError(SReadError);
    ReadStream(stream, size);
}

void TJPEGImage::WriteData(TStream& stream)
{
    const std::int64_t size = FData->CompressedData ? FData->CompressedData->Size() : 0;
    if (size > 0xFFFFFFFFLL)
        throw EWriteError(SWriteError);
    const auto count = static_cast<std::uint32_t>(size);
    const std::uint8_t bytes[4] = { std::uint8_t(count), std::uint8_t(count >> 8), std::uint8_t(count >> 16),
        std::uint8_t(count >> 24) };
    stream.WriteBuffer(bytes, sizeof bytes);
    if (size > 0)
        FData->CompressedData->SaveToStream(stream);
}

void TJPEGImage::ReadStream(TStream& stream, std::int64_t size)
{
    NewData();
    FreeBitmap();
    size = std::max<std::int64_t>(size, 0);
    auto bytes = std::make_unique<TMemoryStream>();
    bytes->SetSize(size);
    stream.ReadBuffer(bytes->Memory(), static_cast<std::size_t>(size));
    FData->CompressedData = std::move(bytes);
    if (size > 0) {
        TJPEGDecompressor decompressor(FData->CompressedData->Bytes());
        jpeg_decompress_struct& info = decompressor.Info();
        decompressor.Guarded([&] { jpeg_read_header(&info, TRUE); });
        FData->Width = static_cast<std::int32_t>(info.image_width);
        FData->Height = static_cast<std::int32_t>(info.image_height);
        FData->Grayscale = info.jpeg_color_space == JCS_GRAYSCALE;
        FData->CMYK = info.out_color_space == JCS_CMYK && info.num_components == 4;
        FProgressiveSave = jpeg_has_multiple_scans(&info) != 0;
        FNeedRecalc = true;
    }
    SetPaletteModified(true);
    Changed();
}

void TJPEGImage::SaveStream(TStream& stream)
{
    Encode();
    if (FData->CompressedData)
        FData->CompressedData->SaveToStream(stream);
}

void TJPEGImage::ReportProgress(TProgressStage stage, int percent, bool redrawNow, const TRect& rect)
{
    if (OnProgress)
        Progress(stage, percent, redrawNow, rect, "");
}

TBitmap& TJPEGImage::DecodedBitmap()
{
    Decode();
    return *FBitmap;
}

// What Decode asked of the library, read by the steps after the header.
struct TJPEGImage::TDecodePlan {
    bool CMYK = false; // a four-component CMYK file
    bool Buffered = false; // a multi-scan file shown scan by scan
    bool UsedPalette = false; // the held palette is the colour map
    TPixelLayout Layout = TPixelLayout::pl24Bit;
    // The settings the final pass of a buffered decoding returns to.
    J_DCT_METHOD DctMethod = JDCT_ISLOW;
    boolean TwoPassQuantize = FALSE;
    J_DITHER_MODE DitherMode = JDITHER_FS;
};

// Where decoded rows go: batches of up to 16 rows straight into the bitmap's store.
struct TJPEGRowTarget {
    std::uint8_t* First = nullptr;
    std::ptrdiff_t Step = 0;
    int Width = 0;
    int Batch = 1;
    bool ConvertCmyk = false;
    bool CmykInverted = false;

    void FindRows(TBitmap& bitmap)
    {
        const int height = bitmap.Height();
        First = height > 0 ? bitmap.RowAddress(0) : nullptr;
        Step = height > 1 ? bitmap.RowAddress(1) - First : 0;
    }
};

namespace {

// One output pass: every row from the library's output scanline to the last, into the
// bitmap. rowsDone is the furthest row any pass has reached.
void ReadAllRows(TJPEGDecompressor& decompressor, const TJPEGRowTarget& target, TBitmap& bitmap, int& rowsDone)
{
    jpeg_decompress_struct& info = decompressor.Info();
    std::array<JSAMPROW, 16> rows {};
    std::uint8_t* row = target.First;
    while (info.output_scanline < info.output_height) {
        for (int i = 0; i < target.Batch; ++i)
            rows[static_cast<std::size_t>(i)] = row + i * target.Step;
        JDIMENSION got = 0;
        decompressor.Guarded([&] {
            got = jpeg_read_scanlines(&info, rows.data(), static_cast<JDIMENSION>(target.Batch));
        });
        if (got == 0) { // cannot happen with a source that never suspends
            FillRowsWhite(bitmap, static_cast<int>(info.output_scanline));
            break;
        }
        if (target.ConvertCmyk)
            ConvertCmykRows(row, target.Step, static_cast<int>(got), target.Width, target.CmykInverted);
        row += target.Step * static_cast<std::ptrdiff_t>(got);
        rowsDone = std::max(rowsDone, static_cast<int>(info.output_scanline));
    }
}

} // namespace

// The decoding settings of this image given to the library, after the header is read.
TJPEGImage::TDecodePlan TJPEGImage::PlanDecoding(TJPEGDecompressor& decompressor)
{
    jpeg_decompress_struct& info = decompressor.Info();
    TDecodePlan plan;
    plan.CMYK = info.out_color_space == JCS_CMYK && info.num_components == 4;
    info.scale_num = 1;
    info.scale_denom = 1u << static_cast<unsigned>(FDecodeScale);
    info.do_block_smoothing = FBlockSmoothing;
    if (FGrayOnly)
        info.out_color_space = JCS_GRAYSCALE;
    const bool indexed = FDecodeLayout == TJPEGDecodeLayout::dlIndexed8 || info.out_color_space == JCS_GRAYSCALE;
    if (indexed) {
        info.quantize_colors = TRUE;
        info.desired_number_of_colors = 236;
    }
    if (FDecodeSpeed == TJPEGDecodeSpeed::dsFast) {
        info.dct_method = JDCT_IFAST;
        info.two_pass_quantize = FALSE;
        info.do_fancy_upsampling = FALSE;
        info.dither_mode = JDITHER_ORDERED;
    }
    plan.DctMethod = info.dct_method;
    plan.TwoPassQuantize = info.two_pass_quantize;
    plan.DitherMode = info.dither_mode;
    plan.Buffered = FProgressiveShow && jpeg_has_multiple_scans(&info);
    if (plan.Buffered) {
        info.enable_2pass_quant = plan.TwoPassQuantize;
        info.dct_method = JDCT_IFAST;
        info.two_pass_quantize = FALSE;
        info.dither_mode = JDITHER_ORDERED;
        info.buffered_image = TRUE;
    }

    // Rows land in the bitmap as they are: blue, green, red for colour, cyan, magenta, yellow,
    // black for CMYK (converted batch by batch), indices for quantised output. Colour spaces
    // the library cannot turn into these fail in jpeg_start_decompress instead of overrunning
    // rows.
    if (indexed) {
        plan.Layout = TPixelLayout::pl8Bit;
        if (info.out_color_space != JCS_GRAYSCALE && !plan.CMYK)
            info.out_color_space = JCS_RGB; // the colour map reads red from component 0
    } else if (plan.CMYK) {
        plan.Layout = TPixelLayout::pl32Bit;
    } else {
        info.out_color_space = JCS_EXT_BGR;
    }
    return plan;
}

// Indexed colour decoding with a held palette quantises to that palette; true colour
// decoding drops it. True when the palette became the library's colour map.
bool TJPEGImage::UseHeldPalette(TJPEGDecompressor& decompressor)
{
    jpeg_decompress_struct& info = decompressor.Info();
    if (FTempPalette && FDecodeLayout == TJPEGDecodeLayout::dlIndexed8 && !FTempPalette->empty()
        && info.out_color_space == JCS_RGB) {
        const TColorTable& palette = *FTempPalette;
        const auto count = static_cast<JDIMENSION>(std::min<std::size_t>(palette.size(), 256));
        decompressor.Guarded([&] {
            info.colormap = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE, count, 3);
        });
        for (JDIMENSION i = 0; i < count; ++i) {
            info.colormap[0][i] = palette[i].Red;
            info.colormap[1][i] = palette[i].Green;
            info.colormap[2][i] = palette[i].Blue;
        }
        info.actual_number_of_colors = static_cast<int>(count);
        return true;
    }
    if (FDecodeLayout == TJPEGDecodeLayout::dlTrueColor)
        FTempPalette.reset();
    return false;
}

// The bitmap the rows are decoded into, at the output size the library settled on.
TBitmapHeader TJPEGImage::MakeDecodeTarget(TJPEGDecompressor& decompressor, const TDecodePlan& plan)
{
    const jpeg_decompress_struct& info = decompressor.Info();
    TBitmapHeader header;
    header.Width = static_cast<std::int32_t>(info.output_width);
    header.Height = -static_cast<std::int32_t>(info.output_height); // top-down: one forward pass
    header.BitsPerPixel = static_cast<std::uint16_t>(LayoutBits(plan.Layout));
    TColorTable table;
    if (plan.UsedPalette)
        table = FTempPalette->size() > 256 ? TColorTable(FTempPalette->begin(), FTempPalette->begin() + 256) : *FTempPalette;
    else if (plan.Layout == TPixelLayout::pl8Bit && info.colormap)
        table = ColorMapTable(info, FCmykInverted);
    // Every row is written below (or filled white on failure), so the store need not be
    // cleared first; a progress handler may look at the rows before they are decoded.
    FBitmap->NewImage(header, table, OnProgress ? TStoreFill::sfZeroed : TStoreFill::sfUnset);
    if (plan.Layout == TPixelLayout::pl8Bit && !table.empty())
        SetPaletteModified(true);
    return header;
}

// A buffered decoding: one output pass per completed scan, then the final pass at full
// quality is started (its rows are read by the caller).
void TJPEGImage::ShowScans(TJPEGDecompressor& decompressor, const TDecodePlan& plan, const TBitmapHeader& header,
    TJPEGRowTarget& target, int& rowsDone)
{
    jpeg_decompress_struct& info = decompressor.Info();
    int status = JPEG_SUSPENDED;
    while (status != JPEG_REACHED_EOI) {
        decompressor.Guarded([&] { jpeg_start_output(&info, info.input_scan_number); });
        ReadAllRows(decompressor, target, *FBitmap, rowsDone);
        decompressor.Guarded([&] {
            jpeg_finish_output(&info);
            do
                status = jpeg_consume_input(&info);
            while (status != JPEG_REACHED_EOI && status != JPEG_SCAN_COMPLETED);
        });
    }
    info.dct_method = plan.DctMethod;
    info.dither_mode = plan.DitherMode;
    if (plan.TwoPassQuantize) {
        info.two_pass_quantize = TRUE;
        info.colormap = nullptr;
    }
    decompressor.Guarded([&] { jpeg_start_output(&info, info.input_scan_number); });
    if (plan.TwoPassQuantize && info.colormap && plan.Layout == TPixelLayout::pl8Bit && !plan.UsedPalette) {
        // The final pass rewrites every row: a new store with the new table, and the row
        // pointers of that store.
        FBitmap->NewImage(header, ColorMapTable(info, FCmykInverted));
        target.FindRows(*FBitmap);
        SetPaletteModified(true);
    }
}

void TJPEGImage::DecodeRows(TJPEGDecompressor& decompressor, const TDecodePlan& plan, int& rowsDone)
{
    jpeg_decompress_struct& info = decompressor.Info();
    decompressor.Guarded([&] { jpeg_calc_output_dimensions(&info); });
    if (info.output_width != 0 && std::uint64_t(info.output_height) > MaxImagePixels / std::uint64_t(info.output_width))
        throw EJPEG(Fmt(SJPEGError, static_cast<int>(JERR_IMAGE_TOO_BIG)));
    decompressor.Guarded([&] { jpeg_start_decompress(&info); });
    const TBitmapHeader header = MakeDecodeTarget(decompressor, plan);

    TJPEGRowTarget target;
    target.FindRows(*FBitmap);
    target.Width = FBitmap->Width();
    target.Batch = std::clamp(info.rec_outbuf_height, 1, 16);
    target.ConvertCmyk = plan.CMYK && FConvertCmyk && plan.Layout == TPixelLayout::pl32Bit;
    target.CmykInverted = FCmykInverted;
    if (plan.Buffered)
        ShowScans(decompressor, plan, header, target, rowsDone);
    ReadAllRows(decompressor, target, *FBitmap, rowsDone);
    decompressor.Guarded([&] {
        if (plan.Buffered)
            jpeg_finish_output(&info);
        jpeg_finish_decompress(&info);
    });
}

void TJPEGImage::Decode()
{
    if (FBitmap)
        return;
    FBitmap = std::make_unique<TBitmap>();
    if (!FData->CompressedData) // nothing was ever loaded: an empty picture
        return;

    TJPEGDecompressor decompressor(FData->CompressedData->Bytes());
    jpeg_decompress_struct& info = decompressor.Info();
    info.mem->max_memory_to_use = MaxLibraryMemory;
    TJPEGProgress progress {};
    if (OnProgress) {
        progress.Pub.progress_monitor = &TJPEGProgress::Monitor;
        progress.Owner = this;
        info.progress = &progress.Pub;
    }
    decompressor.Guarded([&] { jpeg_read_header(&info, TRUE); });
    TDecodePlan plan = PlanDecoding(decompressor);
    plan.UsedPalette = UseHeldPalette(decompressor);

    bool ended = false;
    const auto endProgress = [&](int percent) {
        if (!ended) {
            ended = true;
            ReportProgress(TProgressStage::psEnding, percent, PaletteModified(), TRect {});
        }
    };
    int rowsDone = 0;
    try {
        ReportProgress(TProgressStage::psStarting, 0, false, TRect {});
        DecodeRows(decompressor, plan, rowsDone);
    } catch (const EAbort&) {
        // Stopped by a progress handler: the rows decoded so far stay.
        FillRowsWhite(*FBitmap, rowsDone);
        endProgress(0);
        return;
    } catch (...) {
        FillRowsWhite(*FBitmap, rowsDone);
        endProgress(0);
        throw;
    }
    FBitmap->SetOrientation(ExifOrientation(FData->CompressedData->Bytes()));
    endProgress(100);
    if (PaletteModified())
        Changed();
}

void TJPEGImage::Encode()
{
    if (FData->CompressedData)
        return;
    if (FData.use_count() > 1) { // another image shares the data: its settings may differ
        auto own = std::make_shared<TJPEGData>();
        own->Width = FData->Width;
        own->Height = FData->Height;
        own->Grayscale = FData->Grayscale;
        own->CMYK = FData->CMYK;
        FData = std::move(own);
    }
    FData->CompressedData = std::make_unique<TMemoryStream>();
    TJPEGCompressor compressor(*FData->CompressedData);
    jpeg_compress_struct& info = compressor.Info();
    if (!FBitmap || FBitmap->Width() <= 0 || FBitmap->Height() <= 0)
        return; // nothing to encode: the compressed data stays empty

    TJPEGProgress progress {};
    if (OnProgress) {
        progress.Pub.progress_monitor = &TJPEGProgress::Monitor;
        progress.Owner = this;
        info.progress = &progress.Pub;
    }
    FData->Width = FBitmap->Width();
    FData->Height = FBitmap->Height();
    info.image_width = static_cast<JDIMENSION>(FBitmap->Width());
    info.image_height = static_cast<JDIMENSION>(FBitmap->Height());
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR; // the bitmap's byte order; the file holds the true colours
    TBitmap source;
    source.CopyContentFrom(*FBitmap);
    source.SetPixelLayout(TPixelLayout::pl24Bit); // shares the store when it is 24-bit already

    const int height = source.Height();
    const TBitmap& rows = source; // reading access: no copy of a shared store
    const std::uint8_t* const first = rows.RowAddress(0);
    const std::ptrdiff_t step = height > 1 ? rows.RowAddress(1) - first : 0;
    const int batch = height / 10 + 1;
    std::vector<JSAMPROW> pointers(static_cast<std::size_t>(batch));

    try {
        ReportProgress(TProgressStage::psStarting, 0, false, TRect {});
        compressor.Guarded([&] {
            jpeg_set_defaults(&info);
            jpeg_set_quality(&info, FEncodeQuality, TRUE);
            if (FGrayOnly)
                jpeg_set_colorspace(&info, JCS_GRAYSCALE);
            if (FProgressiveSave)
                jpeg_simple_progression(&info);
        });
        if (FGrayOnly)
            FData->Grayscale = true;
        compressor.Guarded([&] { jpeg_start_compress(&info, TRUE); });
        const std::uint8_t* row = first;
        while (info.next_scanline < info.image_height) {
            const int wanted = std::min<int>(batch, static_cast<int>(info.image_height - info.next_scanline));
            for (int i = 0; i < wanted; ++i)
                pointers[static_cast<std::size_t>(i)] = const_cast<JSAMPROW>(row + i * step);
            JDIMENSION written = 0;
            compressor.Guarded([&] {
                written = jpeg_write_scanlines(&info, pointers.data(), static_cast<JDIMENSION>(wanted));
            });
            if (written == 0)
                break; // cannot happen with a destination that never suspends
            row += step * static_cast<std::ptrdiff_t>(written);
        }
        compressor.Guarded([&] { jpeg_finish_compress(&info); });
    } catch (const EAbort&) {
        // Stopped by a progress handler: no compressed bytes.
        NewData();
        ReportProgress(TProgressStage::psEnding, 0, false, TRect {});
        return;
    } catch (...) {
        ReportProgress(TProgressStage::psEnding, 0, false, TRect {});
        throw;
    }
    ReportProgress(TProgressStage::psEnding, 100, false, TRect {});
}

void TJPEGImage::CopyContentFrom(const TGraphic& source)
{
    if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(&source)) {
        if (jpeg == this)
            return;
        FData = jpeg->FData;
        FCmykInverted = jpeg->FCmykInverted;
        FNeedRecalc = FData->HasBytes();
        if (jpeg->FBitmap) {
            auto bitmap = std::make_unique<TBitmap>();
            bitmap->CopyContentFrom(*jpeg->FBitmap);
            FBitmap = std::move(bitmap);
        } else {
            FreeBitmap();
        }
    } else if (const auto* bitmap = dynamic_cast<const TBitmap*>(&source)) {
        auto copy = std::make_unique<TBitmap>();
        copy->CopyContentFrom(*bitmap);
        NewData();
        FBitmap = std::move(copy);
    } else {
        TGraphic::CopyContentFrom(source);
        return;
    }
    SetPaletteModified(true);
    Changed();
}

void TJPEGImage::CopyContentInto(TGraphic& target) const
{
    auto* bitmap = dynamic_cast<TBitmap*>(&target);
    if (!bitmap) {
        TGraphic::CopyContentInto(target);
        return;
    }
    // Decoding fills a cache; the picture itself does not change.
    auto& self = const_cast<TJPEGImage&>(*this);
    self.Decode();
    bitmap->CopyContentFrom(*FBitmap);
}

void TJPEGImage::DrawInto(TCanvas& canvas, const TRect& rect) const
{
    auto& self = const_cast<TJPEGImage&>(*this);
    self.Decode();
    FBitmap->DrawInto(canvas, rect);
}

bool TJPEGImage::Equals(const TGraphic& other) const
{
    const auto* jpeg = dynamic_cast<const TJPEGImage*>(&other);
    if (!jpeg)
        return false;
    if (FData->HasBytes() && jpeg->FData->HasBytes()) {
        const auto mine = FData->CompressedData->Bytes();
        const auto theirs = jpeg->FData->CompressedData->Bytes();
        return std::equal(mine.begin(), mine.end(), theirs.begin(), theirs.end());
    }
    return FData == jpeg->FData;
}

TColorTable TJPEGImage::ColorTable() const
{
    if (FBitmap)
        return FBitmap->ColorTable();
    if (FTempPalette)
        return *FTempPalette;
    return {};
}

void TJPEGImage::SetColorTable(const TColorTable& table)
{
    // A bitmap with another table is decoded again with this one; one that cannot be decoded
    // again (made from a bitmap, no bytes) is kept.
    if (FBitmap && FData->HasBytes() && FBitmap->ColorTable() != table)
        FreeBitmap();
    FTempPalette = std::make_unique<TColorTable>(table);
    SetPaletteModified(true);
    Changed();
}

void TJPEGImage::SetEncodeQuality(TJPEGQuality quality)
{
    FEncodeQuality = std::clamp<TJPEGQuality>(quality, 1, 100);
}

// Changing a decoding setting drops pixels decoded from bytes, so that the next use decodes
// with it; pixels that came from a bitmap are kept.
template <typename T>
void TJPEGImage::ChangeDecodeSetting(T& field, T value)
{
    if (field == value)
        return;
    field = value;
    if (FBitmap && FData->HasBytes())
        FreeBitmap();
    FNeedRecalc = FData->HasBytes();
}

void TJPEGImage::SetGrayOnly(bool value) { ChangeDecodeSetting(FGrayOnly, value); }
void TJPEGImage::SetDecodeLayout(TJPEGDecodeLayout layout) { ChangeDecodeSetting(FDecodeLayout, layout); }
void TJPEGImage::SetDecodeSpeed(TJPEGDecodeSpeed speed) { ChangeDecodeSetting(FDecodeSpeed, speed); }
void TJPEGImage::SetDecodeScale(TJPEGScale scale) { ChangeDecodeSetting(FDecodeScale, scale); }
void TJPEGImage::SetBlockSmoothing(bool value) { ChangeDecodeSetting(FBlockSmoothing, value); }
