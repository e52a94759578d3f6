#include "raster/jpegglue.h"

#include "base/fmt.h"
#include "base/stream.h"
#include "raster/jpegimage.h"

#include <jerror.h>

#include <algorithm>

namespace {

void ErrorExit(j_common_ptr info)
{
    auto* error = reinterpret_cast<TJPEGErrorManager*>(info->err);
    error->Code = info->err->msg_code;
    std::longjmp(error->Jump, 1);
}

void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}
void FormatMessage(j_common_ptr, char* buffer) { buffer[0] = '\0'; }

void ResetErrorManager(j_common_ptr info)
{
    info->err->num_warnings = 0;
    info->err->msg_code = 0;
}

const JOCTET EndOfImage[2] = { 0xFF, JPEG_EOI };

void InitSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr info)
{
    auto* source = reinterpret_cast<TJPEGMemorySource*>(info->src);
    const bool first = !source->Started;
    source->Started = true;
    const std::size_t block = source->Size - source->Position;
    if (block == 0) {
        if (first)
            ERREXIT(info, JERR_INPUT_EMPTY);
        WARNMS(info, JWRN_JPEG_EOF);
        source->Pub.next_input_byte = EndOfImage;
        source->Pub.bytes_in_buffer = sizeof EndOfImage;
        return TRUE;
    }
    source->Pub.next_input_byte = source->Data + source->Position;
    source->Pub.bytes_in_buffer = block;
    source->Position += block;
    return TRUE;
}

void SkipInputData(j_decompress_ptr info, long count)
{
    if (count <= 0)
        return;
    auto* source = &info->src[0];
    auto remaining = static_cast<std::size_t>(count);
    while (remaining > source->bytes_in_buffer) {
        remaining -= source->bytes_in_buffer;
        FillInputBuffer(info); // never suspends: at the end it supplies an end-of-image marker
    }
    source->next_input_byte += remaining;
    source->bytes_in_buffer -= remaining;
}

void TermSource(j_decompress_ptr) {}

void InitDestination(j_compress_ptr info)
{
    auto* destination = reinterpret_cast<TJPEGMemoryDestination*>(info->dest);
    destination->Pub.next_output_byte = destination->Buffer;
    destination->Pub.free_in_buffer = sizeof destination->Buffer;
}

void FlushDestination(j_compress_ptr info, std::size_t count)
{
    auto* destination = reinterpret_cast<TJPEGMemoryDestination*>(info->dest);
    try {
        destination->Stream->WriteBuffer(destination->Buffer, count);
    } catch (...) {
        LeaveJPEGLibrary(reinterpret_cast<j_common_ptr>(info), std::current_exception());
    }
    destination->Pub.next_output_byte = destination->Buffer;
    destination->Pub.free_in_buffer = sizeof destination->Buffer;
}

boolean EmptyOutputBuffer(j_compress_ptr info)
{
    // The library calls this with the whole buffer full, whatever free_in_buffer says.
    FlushDestination(info, sizeof reinterpret_cast<TJPEGMemoryDestination*>(info->dest)->Buffer);
    return TRUE;
}

void TermDestination(j_compress_ptr info)
{
    auto* destination = reinterpret_cast<TJPEGMemoryDestination*>(info->dest);
    FlushDestination(info, sizeof destination->Buffer - destination->Pub.free_in_buffer);
}

} // namespace

void InitJPEGErrorManager(TJPEGErrorManager& error)
{
    jpeg_std_error(&error.Pub);
    error.Pub.error_exit = ErrorExit;
    error.Pub.emit_message = EmitMessage;
    error.Pub.output_message = OutputMessage;
    error.Pub.format_message = FormatMessage;
    error.Pub.reset_error_mgr = ResetErrorManager;
    error.Code = 0;
    error.Pending = nullptr;
}

void LeaveJPEGLibrary(j_common_ptr info, std::exception_ptr failure)
{
    auto* error = reinterpret_cast<TJPEGErrorManager*>(info->err);
    error->Pending = std::move(failure);
    std::longjmp(error->Jump, 1);
}

void RaiseJPEGFailure(TJPEGErrorManager& error)
{
    if (error.Pending) {
        std::exception_ptr failure = std::move(error.Pending);
        error.Pending = nullptr;
        std::rethrow_exception(failure);
    }
    throw EJPEG(Fmt(SJPEGError, error.Code));
}

void SetJPEGMemorySource(j_decompress_ptr info, TJPEGMemorySource& source, std::span<const std::uint8_t> bytes)
{
    source.Pub.init_source = InitSource;
    source.Pub.fill_input_buffer = FillInputBuffer;
    source.Pub.skip_input_data = SkipInputData;
    source.Pub.resync_to_restart = jpeg_resync_to_restart;
    source.Pub.term_source = TermSource;
    source.Pub.next_input_byte = nullptr;
    source.Pub.bytes_in_buffer = 0;
    source.Data = bytes.data();
    source.Size = bytes.size();
    source.Position = 0;
    source.Started = false;
    info->src = &source.Pub;
}

void SetJPEGMemoryDestination(j_compress_ptr info, TJPEGMemoryDestination& destination, TMemoryStream& stream)
{
    destination.Pub.init_destination = InitDestination;
    destination.Pub.empty_output_buffer = EmptyOutputBuffer;
    destination.Pub.term_destination = TermDestination;
    destination.Stream = &stream;
    info->dest = &destination.Pub;
}

TJPEGDecompressor::TJPEGDecompressor(std::span<const std::uint8_t> bytes)
{
    InitJPEGErrorManager(FError);
    FInfo.err = &FError.Pub;
    Guarded([&] {
        jpeg_CreateDecompress(&FInfo, JPEGLibraryVersion, sizeof FInfo);
        FCreated = true;
    });
    SetJPEGMemorySource(&FInfo, FSource, bytes);
}

TJPEGDecompressor::~TJPEGDecompressor()
{
    if (FCreated)
        jpeg_destroy_decompress(&FInfo);
}

TJPEGCompressor::TJPEGCompressor(TMemoryStream& stream)
{
    InitJPEGErrorManager(FError);
    FInfo.err = &FError.Pub;
    Guarded([&] {
        jpeg_CreateCompress(&FInfo, JPEGLibraryVersion, sizeof FInfo);
        FCreated = true;
    });
    SetJPEGMemoryDestination(&FInfo, FDestination, stream);
}

TJPEGCompressor::~TJPEGCompressor()
{
    if (FCreated)
        jpeg_destroy_compress(&FInfo);
}
