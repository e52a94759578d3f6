#include "raster/thumbnaildrawing.h"

#include "raster/canvas.h"

void DrawThumbnail(const TBitmap& picture, TBitmap& thumbnail)
{
    thumbnail.Canvas().DrawStretched(TRect { 0, 0, thumbnail.Width(), thumbnail.Height() }, &picture);
}
