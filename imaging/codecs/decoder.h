#pragma once
#include "base/exception.h"

#include <cstddef>
#include <cstdint>

// Failure of a decompression codec.
class EGraphicCompression : public Exception { using Exception::Exception; };

inline constexpr const char* SLZ77DecompressionError = "LZ77 decompression error.";
inline constexpr const char* SBogusJPEGTables = "Bogus JPEG tables field.";
inline constexpr const char* SImproperJPEGStripSize = "Improper JPEG strip/tile size.";
inline constexpr const char* SImproperJPEGComponentCount = "Improper JPEG component count.";
inline constexpr const char* SImproperJPEGDataPrecision = "Improper JPEG data precision.";
inline constexpr const char* SImproperJPEGSamplingFactors = "Improper JPEG sampling factors.";
inline constexpr const char* SFractionalJPEGScanline = "Fractional JPEG scanline unsupported.";
inline constexpr const char* SJPEGUnexpectedEnd = "JPEG decompression error. Unexpected end of input.";

// Base of the decompression codecs. A codec turns one block of compressed bytes into at most
// unpackedSize output bytes; the caller owns both buffers. Life cycle for one load:
// BeginDecoding, any number of DecodeData calls, EndDecoding.
//
// source and dest are in/out: only the deflate codec advances them (to where it stopped); the
// others leave them as they were. The fax codecs may rewrite the input bytes in place (bit
// reversal), hence the non-const source.
class TDecoder {
public:
    TDecoder() = default;
    TDecoder(const TDecoder&) = delete;
    TDecoder& operator=(const TDecoder&) = delete;
    virtual ~TDecoder() = default;

    virtual void DecodeData(std::uint8_t*& source, std::uint8_t*& dest, std::size_t packedSize,
        std::size_t unpackedSize) = 0;
    virtual void EndDecoding() {}
    virtual void BeginDecoding() {}
    // No codec compresses: the encoding operations do nothing.
    virtual void EncodeData(const std::uint8_t* source, std::uint8_t* dest, std::size_t count,
        std::size_t& bytesStored)
    {
        (void)source, (void)dest, (void)count;
        bytesStored = 0;
    }
    virtual void BeginEncoding() {}
    virtual void EndEncoding() {}
};

// A codec whose strips are rows coded one after another (the fax codecs, ThunderScan), which
// can therefore decode a strip in parts of whole rows: StartStrip once, then DecodeRows for
// each part in order, the codec keeping its place in the input. DecodeData is the two at once.
class TRowsDecoder : public TDecoder {
public:
    virtual void StartStrip(std::uint8_t* source, std::size_t packedSize) = 0;
    // The next size bytes (whole rows, the last one of the strip possibly short).
    virtual void DecodeRows(std::uint8_t* dest, std::size_t size) = 0;
    void DecodeData(std::uint8_t*& source, std::uint8_t*& dest, std::size_t packedSize, std::size_t unpackedSize) final
    {
        StartStrip(source, packedSize);
        DecodeRows(dest, unpackedSize);
    }
};
