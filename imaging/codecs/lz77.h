#pragma once
#include "imaging/codecs/decoder.h"

#include <cstddef>
#include <memory>

struct z_stream_s;

// Deflate (zlib stream) decoding over zlib's inflate. Without automatic reset one stream runs
// across all DecodeData calls, so the input may arrive in pieces (PNG: chunk by chunk, row by
// row); with automatic reset every call starts a new stream (TIFF: one per strip).
// DecodeData advances source and dest to where inflate stopped and keeps inflate's result for
// the caller to judge: 0 ok, 1 end of stream, negative an error.
class TLZ77Decoder : public TDecoder {
public:
    static constexpr int PartialFlush = 1; // zlib's Z_PARTIAL_FLUSH
    static constexpr int ResultOK = 0;     // Z_OK
    static constexpr int ResultStreamEnd = 1; // Z_STREAM_END

    TLZ77Decoder(int flushMode, bool autoReset);
    ~TLZ77Decoder() override;

    void BeginDecoding() override;
    void DecodeData(std::uint8_t*& source, std::uint8_t*& dest, std::size_t packedSize,
        std::size_t unpackedSize) override;
    void EndDecoding() override;

    std::size_t AvailableInput() const { return FAvailableInput; }   // input of the last call not consumed
    std::size_t AvailableOutput() const { return FAvailableOutput; } // output of the last call still wanted
    int ZLibResult() const { return FZLibResult; }

    // Inflates one complete zlib stream of exactly unpackedSize bytes in a single pass. False,
    // with dest holding undefined bytes, when the stream is damaged, truncated, yields a
    // different size, fails its checksum or (with allInput) ends before the input does; the
    // caller then uses the streaming path.
    static bool DecodeWhole(const std::uint8_t* source, std::size_t packedSize, std::uint8_t* dest,
        std::size_t unpackedSize, bool allInput = false);

private:
    std::unique_ptr<z_stream_s> FStream;
    int FFlushMode;
    bool FAutoReset;
    bool FActive = false; // inflate initialised and not yet ended
    int FZLibResult = 0;
    std::size_t FAvailableInput = 0;
    std::size_t FAvailableOutput = 0;
};
