#pragma once
// Reference data for the codec tests: images compressed by libtiff and giflib, strips of the
// public TIFF corpus, pictures that compress in different ways.
#include "imaging/codecs/partdecoders.h"
#include "tests/support/tiffreference.h"

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

using TBytes = std::vector<std::uint8_t>;

using tifftest::TiffRawRoundTrip;
using tifftest::TiffRoundTrip;
using tifftest::TTiffPlan;
using tifftest::TTiffStrips;

// Compresses indices with giflib (EGifPutLine); returns the image's LZW sub-block data
// gathered into one block, and the minimum code size.
TBytes GifCompress(const TBytes& indices, int width, int height, int colorBits, int& codeSize);

// Pictures that compress in different ways: noise, smooth gradients, flat areas.
TBytes NoisePixels(std::size_t count, std::mt19937& random, int maxValue = 255);
TBytes SmoothPixels(std::uint32_t width, std::uint32_t height, int samples);
TBytes BlockPixels(std::size_t count, std::mt19937& random, int maxValue = 255);

std::string CorpusDir(); // public corpora, empty when absent

// One strip of a real TIFF file of the public corpus, as stored and as libtiff decodes it.
struct TCorpusStrip {
    std::string File;
    TTiffPlan Layout;      // Width, Height, RowsPerStrip, samples, bits, photometric, ...
    std::uint32_t Strip = 0;
    std::uint32_t StripCount = 0;
    std::size_t StripSize = 0; // bytes of a full strip
    bool ByteSwapped = false;
    TBytes Raw;
    TBytes Decoded;
    TBytes JPEGTables;
};

// Calls visit for every strip (up to a few dozen per file) of the corpus TIFF files whose
// Compression value passes wanted; returns the number of strips visited.
std::size_t ForEachCorpusStrip(bool (*wanted)(std::uint16_t compression),
    const std::function<void(const TCorpusStrip&)>& visit);

// Undoes TIFF's horizontal predictor (8-bit samples) in place, row by row.
void UndoPredictor(TBytes& data, std::uint32_t width, int samples);

// Everything decoder delivers for a strip of size bytes, asked for in parts of part bytes.
TBytes DecodeInParts(TPartDecoder& decoder, std::size_t size, std::size_t part);
