#pragma once
#include "raster/bitmap.h"

#include <cstdint>
#include <span>

// How a stored picture is shown, in the values of the EXIF and TIFF Orientation tag: 1 as
// stored, 2 mirrored left to right, 3 turned half round, 4 mirrored top to bottom, 5 mirrored
// along the main diagonal, 6 turned a quarter clockwise, 7 mirrored along the other diagonal,
// 8 turned a quarter anticlockwise.
inline constexpr int OrientationAsStored = 1;

// The value a tag gives, 1 for anything outside 1..8.
int SaneOrientation(std::uint32_t value);

// The Orientation of the first EXIF block (APP1 "Exif\0\0") of a JPEG file, read up to the
// first scan; 1 when there is none or it is malformed.
int ExifOrientation(std::span<const std::uint8_t> jpeg);

// Whether the picture's shown width is its stored height.
inline bool OrientationSwapsSides(int orientation) { return orientation >= 5 && orientation <= 8; }

// The picture as shown: a new store of the same form, table and transparency, turned and
// mirrored by the picture's Orientation (itself as stored: 1).
void OrientedCopy(const TBitmap& picture, TBitmap& shown);
