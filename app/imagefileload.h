#pragma once
#include "base/exception.h"
#include "raster/jpegimage.h"
#include "raster/thumbnaildrawing.h"

#include <chrono>
#include <string>

class TBitmap;

// The memory left does not hold the picture.
class ENotEnoughMemory : public Exception { using Exception::Exception; };
inline constexpr const char* SNotEnoughMemoryToLoad = "Not enough memory to load \"%s\"";

// Loads the image file into the bitmap, choosing the decoder by the lower-cased extension:
// ".bmp" bitmap, ".tif"/".tiff" TIFF, ".jpg"/".jpeg" JPEG, ".gif" GIF, ".png" PNG. The content
// is not examined to choose. True when the bitmap now holds the picture; false for a missing
// file, a folder, a FIFO, socket or device (never opened), any other extension, and any
// decoding or conversion failure. A regular file that cannot be opened or read raises
// "Cannot open file "%s". %s"; running out of memory raises ENotEnoughMemory "Not enough
// memory to load "%s"".
bool LoadImageFile(const std::string& path, TBitmap& bitmap);

// The same, adding the time spent reading the file into memory to *readTime (if given). For a
// smooth thumbnail (tsSmooth) a JPEG picture is decoded at the scale SmoothDecodeScale
// chooses, its own size kept in the bitmap's FullWidth and FullHeight.
bool LoadImageFileTimed(const std::string& path, TBitmap& bitmap, std::chrono::nanoseconds* readTime,
    TThumbnailSampling sampling = TThumbnailSampling::tsNearest);

// The largest DCT scale (1/2, 1/4, 1/8) at which a JPEG picture of width × height as stored,
// shown turned by orientation, decodes at least as large as its thumbnail on both sides.
TJPEGScale SmoothDecodeScale(int width, int height, int orientation);
