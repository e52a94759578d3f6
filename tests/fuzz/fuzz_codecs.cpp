// Drives every decompression codec. Input layout:
//   byte 0     codec (value modulo 8)
//   byte 1     flags: bit 0 bit reversal, bit 1 word alignment, bit 2 automatic reset,
//              bit 3 three samples (JPEG), bit 4 YCbCr (JPEG), bit 5 2x2 subsampling (JPEG),
//              bit 6 separate planes (JPEG)
//   bytes 2-3  width in pixels (little-endian)
//   bytes 4-5  output bytes; for JPEG the height in rows
//   bytes 6-7  GIF: initial code size; deflate: piece and part size; JPEG: length of the tables
//   rest       compressed data
// Every buffer has exactly its size, so a codec reading or writing past it is caught.
#include "imaging/codecs/ccitt.h"
#include "imaging/codecs/giflzw.h"
#include "imaging/codecs/lz77.h"
#include "imaging/codecs/packbits.h"
#include "imaging/codecs/partdecoders.h"
#include "imaging/codecs/thunder.h"
#include "imaging/codecs/tiffjpeg.h"
#include "imaging/codecs/tifflzw.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr std::size_t HeaderSize = 8;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void DecodeOnce(TDecoder& decoder, std::vector<std::uint8_t>& input, std::size_t outputSize)
{
    auto output = std::make_unique<std::uint8_t[]>(outputSize == 0 ? 1 : outputSize);
    std::uint8_t* source = input.data();
    std::uint8_t* dest = output.get();
    decoder.BeginDecoding();
    decoder.DecodeData(source, dest, input.size(), outputSize);
    Check(source == input.data() && dest == output.get());
    decoder.EndDecoding();
}

// Deflate is fed in pieces, as the PNG reader feeds it chunk by chunk and row by row.
void DecodeInPieces(TLZ77Decoder& decoder, std::vector<std::uint8_t>& input, std::size_t outputSize,
    std::size_t pieceSize)
{
    auto output = std::make_unique<std::uint8_t[]>(outputSize == 0 ? 1 : outputSize);
    std::uint8_t* source = input.data();
    std::uint8_t* dest = output.get();
    std::uint8_t* const inputEnd = input.data() + input.size();
    std::uint8_t* const outputEnd = output.get() + outputSize;
    decoder.BeginDecoding();
    for (int round = 0; round < 10000 && source < inputEnd && dest < outputEnd; ++round) {
        const std::size_t packed = std::min<std::size_t>(pieceSize, inputEnd - source);
        const std::size_t unpacked = std::min<std::size_t>(pieceSize * 2, outputEnd - dest);
        std::uint8_t* const before = source;
        std::uint8_t* const beforeDest = dest;
        decoder.DecodeData(source, dest, packed, unpacked);
        Check(source >= before && source <= before + packed);
        Check(dest >= beforeDest && dest <= beforeDest + unpacked);
        Check(decoder.AvailableInput() == packed - std::size_t(source - before));
        if (decoder.ZLibResult() != TLZ77Decoder::ResultOK)
            break;
    }
    decoder.EndDecoding();
}

// A large TIFF strip is inflated in parts: whatever the data, the parts give what one call gives.
void DeflatePartsAsWhole(std::vector<std::uint8_t>& input, std::size_t outputSize, std::size_t part)
{
    std::vector<std::uint8_t> whole(outputSize, 0), parts(outputSize, 0xAB);
    TLZ77Decoder decoder(TLZ77Decoder::PartialFlush, false);
    std::uint8_t* source = input.data();
    std::uint8_t* dest = whole.data();
    decoder.BeginDecoding();
    decoder.DecodeData(source, dest, input.size(), outputSize);
    decoder.EndDecoding();
    TDeflatePartDecoder inParts(input.data(), input.size());
    for (std::size_t done = 0; done < outputSize; done += part)
        inParts.DecodePart(parts.data() + done, std::min(part, outputSize - done));
    Check(parts == whole);
}

void DecodeJPEG(const std::uint8_t* header, std::vector<std::uint8_t>& input)
{
    TTIFFJPEGSettings settings;
    const std::uint8_t flags = header[1];
    settings.Width = std::max(1, (header[2] | header[3] << 8) % 513);
    settings.Height = std::max(1, (header[4] | header[5] << 8) % 513);
    settings.RowsPerStrip = settings.Height;
    settings.SamplesPerPixel = flags & 8 ? 3 : 1;
    settings.BitsPerSample = 8;
    settings.PlanarConfig = flags & 64 ? 2 : 1;
    settings.YCbCr = flags & 16;
    settings.HorizontalSampling = settings.VerticalSampling = flags & 32 ? 2 : 1;
    settings.BytesPerLine = settings.Width * (settings.PlanarConfig == 2 ? 1 : settings.SamplesPerPixel);
    const std::size_t tablesLength = std::min<std::size_t>(header[6] | header[7] << 8, input.size());
    settings.JPEGTables.assign(input.begin(), input.begin() + tablesLength);
    std::vector<std::uint8_t> strip(input.begin() + tablesLength, input.end());
    TTIFFJPEGDecoder decoder(settings);
    const std::size_t outputSize = std::size_t(settings.BytesPerLine) * settings.Height;
    auto output = std::make_unique<std::uint8_t[]>(outputSize);
    try {
        decoder.BeginDecoding();
        for (int pass = 0; pass < 2; ++pass) { // the second pass reuses the object
            std::uint8_t* source = strip.data();
            std::uint8_t* dest = output.get();
            decoder.SetStripPosition(0, 0, 1);
            try {
                decoder.DecodeData(source, dest, strip.size(), outputSize);
            } catch (const EGraphicCompression&) {
            }
        }
        decoder.EndDecoding();
    } catch (const EGraphicCompression&) {
    }
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < HeaderSize)
        return 0;
    const std::uint8_t* header = data;
    std::vector<std::uint8_t> input(data + HeaderSize, data + size);
    const std::uint8_t flags = header[1];
    const std::uint32_t width = (header[2] | header[3] << 8) % 8193;
    const std::size_t outputSize = header[4] | header[5] << 8;
    const std::uint32_t parameter = header[6] | header[7] << 8;
    const bool bitReversal = flags & 1;
    const bool wordAligned = flags & 2;
    switch (header[0] % 8) {
    case 0: {
        TTIFFLZWDecoder decoder;
        DecodeOnce(decoder, input, outputSize);
        break;
    }
    case 1: {
        TGIFLZWDecoder decoder(static_cast<std::uint8_t>(parameter % 13));
        DecodeOnce(decoder, input, outputSize);
        break;
    }
    case 2: {
        TPackbitsRLEDecoder decoder;
        DecodeOnce(decoder, input, outputSize);
        break;
    }
    case 3: {
        TCCITTFax3Decoder decoder(parameter, width, wordAligned, bitReversal);
        DecodeOnce(decoder, input, outputSize);
        break;
    }
    case 4: {
        TCCITTMHDecoder decoder(parameter, width, wordAligned, bitReversal);
        DecodeOnce(decoder, input, outputSize);
        break;
    }
    case 5: {
        TLZ77Decoder decoder(TLZ77Decoder::PartialFlush, flags & 4);
        DecodeInPieces(decoder, input, outputSize, std::max<std::uint32_t>(1, parameter % 4096));
        DeflatePartsAsWhole(input, outputSize, std::max<std::uint32_t>(1, parameter % 4096));
        break;
    }
    case 6:
        DecodeJPEG(header, input);
        break;
    default: {
        TThunderDecoder decoder(width);
        DecodeOnce(decoder, input, outputSize);
        break;
    }
    }
    return 0;
}
