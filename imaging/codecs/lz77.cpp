#include "imaging/codecs/lz77.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <memory>

static_assert(TLZ77Decoder::PartialFlush == Z_PARTIAL_FLUSH);
static_assert(TLZ77Decoder::ResultOK == Z_OK && TLZ77Decoder::ResultStreamEnd == Z_STREAM_END);

TLZ77Decoder::TLZ77Decoder(int flushMode, bool autoReset)
    : FStream(std::make_unique<z_stream_s>()), FFlushMode(flushMode), FAutoReset(autoReset)
{
}

TLZ77Decoder::~TLZ77Decoder()
{
    if (FActive)
        inflateEnd(FStream.get());
}

void TLZ77Decoder::BeginDecoding()
{
    if (FActive) // a second start begins a new stream
        inflateEnd(FStream.get());
    *FStream = z_stream_s{};
    FActive = false;
    if (inflateInit(FStream.get()) < 0)
        throw EGraphicCompression(SLZ77DecompressionError);
    FActive = true;
    FZLibResult = Z_OK;
}

void TLZ77Decoder::DecodeData(std::uint8_t*& source, std::uint8_t*& dest, std::size_t packedSize,
    std::size_t unpackedSize)
{
    if (!FActive)
        BeginDecoding();
    z_stream_s& stream = *FStream;
    if (FAutoReset) {
        FZLibResult = inflateReset(&stream);
        if (FZLibResult < 0) {
            FAvailableInput = packedSize;
            FAvailableOutput = unpackedSize;
            return;
        }
    }
    // zlib counts in 32 bits; larger blocks are fed in pieces.
    std::size_t inputLeft = packedSize;
    std::size_t outputLeft = unpackedSize;
    stream.next_in = source;
    stream.next_out = dest;
    for (;;) {
        const uInt inputPiece = static_cast<uInt>(std::min<std::size_t>(inputLeft, UINT_MAX));
        const uInt outputPiece = static_cast<uInt>(std::min<std::size_t>(outputLeft, UINT_MAX));
        stream.avail_in = inputPiece;
        stream.avail_out = outputPiece;
        FZLibResult = inflate(&stream, FFlushMode);
        inputLeft -= inputPiece - stream.avail_in;
        outputLeft -= outputPiece - stream.avail_out;
        if (FZLibResult != Z_OK || inputLeft == 0 || outputLeft == 0
            || (stream.avail_in != 0 && stream.avail_out != 0))
            break;
    }
    FAvailableInput = inputLeft;
    FAvailableOutput = outputLeft;
    source = stream.next_in;
    dest = stream.next_out;
}

void TLZ77Decoder::EndDecoding()
{
    if (!FActive)
        return;
    FActive = false;
    if (inflateEnd(FStream.get()) < 0)
        throw EGraphicCompression(SLZ77DecompressionError);
}

bool TLZ77Decoder::DecodeWhole(const std::uint8_t* source, std::size_t packedSize, std::uint8_t* dest,
    std::size_t unpackedSize, bool allInput)
{
    // One decompressor per thread: it holds only tables and is reused from strip to strip.
    struct TFree {
        void operator()(libdeflate_decompressor* decompressor) const { libdeflate_free_decompressor(decompressor); }
    };
    thread_local const std::unique_ptr<libdeflate_decompressor, TFree> decompressor(libdeflate_alloc_decompressor());
    if (!decompressor || !source || !dest)
        return false;
    std::size_t consumed = 0, produced = 0;
    const libdeflate_result result = libdeflate_zlib_decompress_ex(decompressor.get(), source, packedSize, dest,
        unpackedSize, &consumed, &produced);
    return result == LIBDEFLATE_SUCCESS && produced == unpackedSize && (!allInput || consumed == packedSize);
}
