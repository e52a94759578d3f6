#pragma once
#include "raster/bitmap.h"

// Draws the whole picture scaled onto the whole thumbnail, as viewers show the picture. The
// thumbnail is white before drawing.
void DrawThumbnail(const TBitmap& picture, TBitmap& thumbnail);
