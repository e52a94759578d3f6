#pragma once
#include "raster/bitmap.h"

#include <cstdint>

// How a thumbnail pixel is taken from the picture: the one picture pixel under its centre, or
// the average of every picture pixel it covers (see DrawAreaAverage).
enum class TThumbnailSampling : std::uint8_t { tsNearest, tsSmooth };

// Draws the whole picture scaled onto the whole thumbnail, as viewers show the picture: the
// parts the picture's transparency (TAlphaForm) leaves see-through show the thumbnail's white,
// partly transparent pixels are blended with it. The thumbnail is white before drawing.
void DrawThumbnail(const TBitmap& picture, TBitmap& thumbnail,
    TThumbnailSampling sampling = TThumbnailSampling::tsNearest);

// One stored value of the picture as the colour it shows over white.
TRGBQuad ShownColour(const TBitmapImage& image, std::uint32_t value);
