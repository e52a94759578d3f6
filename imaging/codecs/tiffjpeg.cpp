#include "imaging/codecs/tiffjpeg.h"

#include "base/warning.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <utility>

#include <jpeglib.h>

// libjpeg reports fatal errors through error_exit, which must not return: it jumps back to
// the setjmp of the function that called libjpeg, and that function reports failure. Those
// functions create nothing with a destructor, so the jump skips no clean-up; exceptions are
// thrown only after they have returned.
struct TTIFFJPEGDecoder::TState {
    struct TErrorManager {
        jpeg_error_mgr Manager; // first: libjpeg hands back a pointer to it
        std::jmp_buf Jump;
        char Message[JMSG_LENGTH_MAX];
    };
    jpeg_decompress_struct Info;
    TErrorManager Error;
    jpeg_source_mgr Source;
    bool Created = false;
    bool WarnedEnd = false; // the unexpected end of the current block was reported
    // The strip being decoded: one line of libjpeg's output, the rows still wanted.
    JSAMPARRAY Line = nullptr;
    std::size_t RowsLeft = 0;
};

namespace {

using TState = TTIFFJPEGDecoder::TState;

constexpr JOCTET EndOfImage[2] = {0xFF, JPEG_EOI};

TState& StateOf(j_common_ptr info) { return *static_cast<TState*>(info->client_data); }

void ErrorExit(j_common_ptr info)
{
    TState::TErrorManager& error = StateOf(info).Error;
    (*info->err->format_message)(info, error.Message);
    std::longjmp(error.Jump, 1);
}

void OutputMessage(j_common_ptr info)
{
    char message[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, message);
    ShowWarning(message);
}

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

// More data wanted than the block holds: say so once and end the image.
boolean FillInputBuffer(j_decompress_ptr info)
{
    TState& state = StateOf(reinterpret_cast<j_common_ptr>(info));
    if (!state.WarnedEnd) {
        state.WarnedEnd = true;
        ShowWarning(SJPEGUnexpectedEnd);
    }
    info->src->next_input_byte = EndOfImage;
    info->src->bytes_in_buffer = sizeof EndOfImage;
    return TRUE;
}

void SkipInputData(j_decompress_ptr info, long count)
{
    if (count <= 0)
        return;
    if (static_cast<unsigned long>(count) > info->src->bytes_in_buffer) {
        FillInputBuffer(info);
        return;
    }
    info->src->next_input_byte += count;
    info->src->bytes_in_buffer -= static_cast<std::size_t>(count);
}

void SetSource(TState& state, const std::uint8_t* data, std::size_t length)
{
    state.Source.next_input_byte = data;
    state.Source.bytes_in_buffer = length;
    state.WarnedEnd = false;
}

// Each of these returns false when libjpeg failed, its message in Error.Message.
bool CreateObject(TState& state)
{
    if (setjmp(state.Error.Jump))
        return false;
    jpeg_create_decompress(&state.Info);
    state.Created = true;
    state.Info.client_data = &state;
    state.Info.src = &state.Source;
    return true;
}

bool ReadHeader(TState& state, bool requireImage, int& result)
{
    if (setjmp(state.Error.Jump)) {
        jpeg_abort_decompress(&state.Info);
        return false;
    }
    jpeg_abort_decompress(&state.Info); // any previous image
    result = jpeg_read_header(&state.Info, requireImage ? TRUE : FALSE);
    return true;
}

// Starts decompressing the strip whose header has been read, with a line for its output.
bool StartRows(TState& state, J_COLOR_SPACE jpegSpace, J_COLOR_SPACE outputSpace)
{
    j_decompress_ptr info = &state.Info;
    if (setjmp(state.Error.Jump)) {
        jpeg_abort_decompress(info);
        return false;
    }
    info->jpeg_color_space = jpegSpace;
    info->out_color_space = outputSpace;
    info->raw_data_out = FALSE;
    jpeg_start_decompress(info);
    const std::size_t lineBytes = std::size_t(info->output_width) * info->output_components;
    state.Line = (*info->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE,
        static_cast<JDIMENSION>(lineBytes), 1);
    return true;
}

// Decodes the next rowCount rows into dest, rowStride bytes apart, each cut to rowStride, as
// far as the strip has rows. With last, the strip ends: rows left over are skipped.
bool ReadRows(TState& state, std::uint8_t* dest, std::size_t rowStride, std::size_t rowCount, bool last)
{
    j_decompress_ptr info = &state.Info;
    if (setjmp(state.Error.Jump)) {
        jpeg_abort_decompress(info);
        return false;
    }
    const std::size_t copyBytes = std::min(std::size_t(info->output_width) * info->output_components, rowStride);
    for (std::size_t row = 0; row < rowCount && info->output_scanline < info->output_height; ++row) {
        if (jpeg_read_scanlines(info, state.Line, 1) != 1)
            break;
        std::memcpy(dest + row * rowStride, state.Line[0], copyBytes);
    }
    if (!last)
        return true;
    if (info->output_scanline < info->output_height)
        jpeg_abort_decompress(info); // rows left over: finishing would call it an error
    else
        jpeg_finish_decompress(info);
    return true;
}

std::uint32_t DivideRoundingUp(std::uint32_t value, std::uint32_t divisor)
{
    return divisor == 0 ? value : value / divisor + (value % divisor != 0);
}

}

TTIFFJPEGDecoder::TTIFFJPEGDecoder(TTIFFJPEGSettings settings)
    : FSettings(std::move(settings))
{
}

TTIFFJPEGDecoder::~TTIFFJPEGDecoder()
{
    if (FState && FState->Created)
        jpeg_destroy_decompress(&FState->Info);
}

void TTIFFJPEGDecoder::BeginDecoding()
{
    EndDecoding();
    FState = std::make_unique<TState>();
    TState& state = *FState;
    std::memset(&state.Info, 0, sizeof state.Info);
    state.Info.err = jpeg_std_error(&state.Error.Manager);
    state.Error.Manager.error_exit = ErrorExit;
    state.Error.Manager.output_message = OutputMessage;
    state.Source.init_source = InitSource;
    state.Source.fill_input_buffer = FillInputBuffer;
    state.Source.skip_input_data = SkipInputData;
    state.Source.resync_to_restart = jpeg_resync_to_restart;
    state.Source.term_source = TermSource;
    state.Info.client_data = &state; // for an error inside creation
    if (!CreateObject(state))
        throw EGraphicCompression(state.Error.Message);
    if (!FSettings.JPEGTables.empty()) {
        SetSource(state, FSettings.JPEGTables.data(), FSettings.JPEGTables.size());
        int result = 0;
        if (!ReadHeader(state, false, result))
            throw EGraphicCompression(state.Error.Message);
        if (result != JPEG_HEADER_TABLES_ONLY)
            throw EGraphicCompression(SBogusJPEGTables);
    }
    SetSource(state, nullptr, 0);
    FCurrentRow = 0;
    FCurrentStrip = 0;
}

void TTIFFJPEGDecoder::SetStripPosition(std::uint32_t currentRow, std::uint32_t currentStrip,
    std::uint32_t stripCount)
{
    FCurrentRow = currentRow;
    FCurrentStrip = currentStrip;
    FStripCount = stripCount;
}

void TTIFFJPEGDecoder::DecodeData(std::uint8_t*& source, std::uint8_t*& dest, std::size_t packedSize,
    std::size_t unpackedSize)
{
    StartStrip(source, packedSize, unpackedSize);
    DecodeRows(dest, unpackedSize);
}

void TTIFFJPEGDecoder::DecodeRows(std::uint8_t* dest, std::size_t size)
{
    TState& state = *FState;
    const std::size_t rows = std::min(size / FSettings.BytesPerLine, state.RowsLeft);
    state.RowsLeft -= rows;
    if (!ReadRows(state, dest, FSettings.BytesPerLine, rows, state.RowsLeft == 0))
        throw EGraphicCompression(state.Error.Message);
}

void TTIFFJPEGDecoder::StartStrip(const std::uint8_t* source, std::size_t packedSize, std::size_t unpackedSize)
{
    if (!FState || !FState->Created)
        BeginDecoding();
    TState& state = *FState;
    const TTIFFJPEGSettings& settings = FSettings;

    // Where this strip lies: with separate planes the strips of each plane follow each other,
    // and the planes after the first hold subsampled components.
    const std::uint32_t rowsPerStrip = settings.RowsPerStrip == 0
        ? settings.Height : std::min(settings.RowsPerStrip, settings.Height);
    const bool separatePlanes = settings.PlanarConfig == 2;
    const std::uint32_t stripsPerPlane = std::max<std::uint32_t>(1, DivideRoundingUp(settings.Height, rowsPerStrip));
    const std::uint32_t strip = FCurrentStrip;
    std::uint32_t firstRow = FCurrentRow;
    if (separatePlanes && rowsPerStrip > 0)
        firstRow = (strip % stripsPerPlane) * rowsPerStrip;
    std::uint32_t expectedWidth = settings.Width;
    std::uint32_t expectedRows = firstRow < settings.Height ? std::min(rowsPerStrip, settings.Height - firstRow) : 0;
    if (separatePlanes && strip / stripsPerPlane > 0) {
        expectedWidth = DivideRoundingUp(expectedWidth, settings.HorizontalSampling);
        expectedRows = DivideRoundingUp(expectedRows, settings.VerticalSampling);
    }
    ++FCurrentStrip;
    FCurrentRow = firstRow + expectedRows;

    SetSource(state, source, packedSize);
    int result = 0;
    if (!ReadHeader(state, true, result))
        throw EGraphicCompression(state.Error.Message);
    const jpeg_decompress_struct& info = state.Info;
    if (info.image_width != expectedWidth || info.image_height != expectedRows)
        throw EGraphicCompression(SImproperJPEGStripSize);
    const int components = separatePlanes ? 1 : settings.SamplesPerPixel;
    if (info.num_components != components)
        throw EGraphicCompression(SImproperJPEGComponentCount);
    if (info.data_precision != settings.BitsPerSample)
        throw EGraphicCompression(SImproperJPEGDataPrecision);
    const jpeg_component_info* component = info.comp_info;
    if (!separatePlanes) {
        bool proper = component[0].h_samp_factor == settings.HorizontalSampling
            && component[0].v_samp_factor == settings.VerticalSampling;
        for (int index = 1; index < info.num_components; ++index)
            proper = proper && component[index].h_samp_factor == 1 && component[index].v_samp_factor == 1;
        if (!proper)
            throw EGraphicCompression(SImproperJPEGSamplingFactors);
    } else if (component[0].h_samp_factor != 1 || component[0].v_samp_factor != 1)
        throw EGraphicCompression(SImproperJPEGSamplingFactors);

    // Three components come out as blue, green, red; others as they are stored.
    J_COLOR_SPACE jpegSpace = JCS_UNKNOWN;
    J_COLOR_SPACE outputSpace = JCS_UNKNOWN;
    if (components == 3) {
        jpegSpace = settings.YCbCr ? JCS_YCbCr : JCS_RGB;
        outputSpace = JCS_EXT_BGR;
    } else if (components == 1) {
        jpegSpace = JCS_GRAYSCALE;
        outputSpace = JCS_GRAYSCALE;
    }
    if (settings.BytesPerLine == 0 || unpackedSize % settings.BytesPerLine != 0) {
        jpeg_abort_decompress(&state.Info);
        throw EGraphicCompression(SFractionalJPEGScanline);
    }
    if (!StartRows(state, jpegSpace, outputSpace))
        throw EGraphicCompression(state.Error.Message);
    state.RowsLeft = unpackedSize / settings.BytesPerLine;
}

void TTIFFJPEGDecoder::EndDecoding()
{
    if (FState && FState->Created) {
        FState->Created = false;
        jpeg_destroy_decompress(&FState->Info);
    }
}
