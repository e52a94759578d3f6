#pragma once
#include <cstdint>
#include <span>

class TBitmap;
class TStream;

// Reads a Windows BMP file (the bytes from the stream's position to its end) into the bitmap.
// No bytes: the bitmap becomes empty. Malformed: EInvalidGraphic "Bitmap image is not valid".
void LoadBmpStream(TBitmap& bitmap, TStream& stream);
void LoadBmpBytes(TBitmap& bitmap, std::span<const std::uint8_t> bytes);
// Writes the bitmap as an uncompressed BMP file (info header, bit-fields when the layout has
// them, colour table for indexed layouts, rows bottom-up). An empty bitmap writes nothing.
void SaveBmpStream(const TBitmap& bitmap, TStream& stream);
