#pragma once
#include "raster/bitmap.h"

// Draws the whole picture scaled onto the whole thumbnail, as viewers show the picture: the
// parts the picture's transparency (TAlphaForm) leaves see-through show the thumbnail's white,
// partly transparent pixels are blended with it. The thumbnail is white before drawing.
void DrawThumbnail(const TBitmap& picture, TBitmap& thumbnail);
