#pragma once
#include "raster/bitmap.h"

#include <cstddef>
#include <cstdint>

// Pixel access on a bitmap store, shared by the bitmap, the canvas and the BMP reader.
namespace pixels {

// Byte offset of row (counted from the top) in the store's pixel memory.
std::size_t RowOffset(const TBitmapImage& image, int row);
// The stored value of pixel x of a row of the given depth (index or packed colour).
std::uint32_t RawPixel(const std::uint8_t* row, int x, int bits);
void PutRawPixel(std::uint8_t* row, int x, int bits, std::uint32_t value);
// A stored value as a colour (through the table; indices past it are black) and back
// (indexed stores take the nearest table colour).
TRGBQuad DecodeValue(const TBitmapImage& image, std::uint32_t value);
std::uint32_t EncodeValue(const TBitmapImage& image, TRGBQuad colour);
std::uint32_t NearestIndex(const TColorTable& table, TRGBQuad colour);
TRGBQuad ColorToQuad(TColor colour);
void CopyRowPixels(std::uint8_t* target, const std::uint8_t* source, int count, int bits);
void FillImage(TBitmapImage& image, TRGBQuad colour);

} // namespace pixels
