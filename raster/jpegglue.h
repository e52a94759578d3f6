#pragma once
// The libjpeg boundary of the JPEG image object: error manager, memory source and
// destination, progress record. Included by .cpp files only.
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio> // jpeglib.h uses FILE and size_t without including their headers
#include <exception>
#include <span>

#include <jpeglib.h>

class TMemoryStream;

inline constexpr int JPEGLibraryVersion = 62;

// Fatal library errors jump back to the guarded call (JPEGGuard), which raises EJPEG with the
// library's message code; warnings and trace messages are dropped. A callback of ours that
// fails keeps its exception here and jumps back the same way, so that no C++ exception ever
// unwinds through library frames.
struct TJPEGErrorManager {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
    int Code = 0;
    std::exception_ptr Pending;
};
void InitJPEGErrorManager(TJPEGErrorManager& error);
// Called from a callback of ours: keeps the exception and leaves the library.
[[noreturn]] void LeaveJPEGLibrary(j_common_ptr info, std::exception_ptr failure);
// Raises what the last jump brought back: the kept exception, else EJPEG.
[[noreturn]] void RaiseJPEGFailure(TJPEGErrorManager& error);

// Runs one or more library calls; a fatal error inside raises EJPEG here. The calls must not
// create anything with a destructor: the jump skips it.
template <typename TCalls>
void JPEGGuard(TJPEGErrorManager& error, TCalls&& calls)
{
    if (setjmp(error.Jump) != 0)
        RaiseJPEGFailure(error);
    calls();
}

// Hands a byte range (which must outlive the decompressor) to the library in one piece: with
// fewer than a few KB in its buffer the library leaves its fast Huffman decoder for the
// byte-by-byte one, so small blocks would cost a tenth of the decoding time. No bytes
// at the first read is the library's fatal "empty input"; running out later is a silent
// warning after which an end-of-image marker is supplied, so a truncated file decodes as far
// as its data goes.
struct TJPEGMemorySource {
    jpeg_source_mgr Pub;
    const JOCTET* Data = nullptr;
    std::size_t Size = 0;
    std::size_t Position = 0;
    bool Started = false;
};
void SetJPEGMemorySource(j_decompress_ptr info, TJPEGMemorySource& source, std::span<const std::uint8_t> bytes);

// Appends the compressed bytes to a memory stream.
struct TJPEGMemoryDestination {
    jpeg_destination_mgr Pub;
    TMemoryStream* Stream = nullptr;
    JOCTET Buffer[16384];
};
void SetJPEGMemoryDestination(j_compress_ptr info, TJPEGMemoryDestination& destination, TMemoryStream& stream);

// A decompressor created with the error manager and reading a byte range; destroyed with
// the object, whatever happened in between.
class TJPEGDecompressor {
public:
    explicit TJPEGDecompressor(std::span<const std::uint8_t> bytes);
    ~TJPEGDecompressor();
    TJPEGDecompressor(const TJPEGDecompressor&) = delete;
    TJPEGDecompressor& operator=(const TJPEGDecompressor&) = delete;

    jpeg_decompress_struct& Info() { return FInfo; }
    TJPEGErrorManager& Error() { return FError; }
    template <typename TCalls>
    void Guarded(TCalls&& calls) { JPEGGuard(FError, calls); }

private:
    jpeg_decompress_struct FInfo {};
    TJPEGErrorManager FError;
    TJPEGMemorySource FSource;
    bool FCreated = false;
};

// A compressor created with the error manager and writing to a memory stream.
class TJPEGCompressor {
public:
    explicit TJPEGCompressor(TMemoryStream& stream);
    ~TJPEGCompressor();
    TJPEGCompressor(const TJPEGCompressor&) = delete;
    TJPEGCompressor& operator=(const TJPEGCompressor&) = delete;

    jpeg_compress_struct& Info() { return FInfo; }
    TJPEGErrorManager& Error() { return FError; }
    template <typename TCalls>
    void Guarded(TCalls&& calls) { JPEGGuard(FError, calls); }

private:
    jpeg_compress_struct FInfo {};
    TJPEGErrorManager FError;
    TJPEGMemoryDestination FDestination;
    bool FCreated = false;
};
