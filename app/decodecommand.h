#pragma once
#include <string>
#include <vector>

// images-by-id decode IMAGE OUT.ppm: loads IMAGE exactly as the import does (by extension)
// and writes the picture as a binary PPM (P6, maxval 255, top row first, indexed pixels
// through their colour table, the fourth byte of 32-bit pixels dropped). args are what
// follows the word "decode". Exit status 0 on success; 1 with a message on standard error
// when the picture cannot be opened, decoded or written; 2 for a usage error.
int RunDecodeCommand(const std::vector<std::string>& args);

class TBitmap;
class TStream;

// The PPM form of a bitmap (an empty bitmap gives a 0 × 0 picture).
void WriteBitmapPpm(const TBitmap& bitmap, TStream& stream);
