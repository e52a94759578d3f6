#pragma once
#include "raster/bitmap.h"

// Draws the whole picture onto the whole thumbnail by area averaging: each thumbnail pixel is
// the mean of the picture's pixels under it, each weighted by the share of it the thumbnail
// pixel covers (a box filter, down the columns, then along the rows). Colours are averaged as
// they show over white (see ShownColour). The picture and the thumbnail have pixels.
void DrawAreaAverage(const TBitmapImage& picture, TBitmap& thumbnail);
