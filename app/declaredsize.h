#pragma once
#include <cstdint>
#include <string>

// What loading the picture file at path will hold at least, as its header tells it cheaply:
// the file's bytes (read whole into memory) and a 4-byte pixel for every pixel its first
// picture declares (at most MaxImagePixels). Reads a few headers only (BMP, PNG, GIF, JPEG up to
// its frame header, TIFF's first directory), never waits for a file held by another program and
// opens nothing but regular files. 0 when the header tells nothing: the caller then accounts
// for the picture once it is decoded.
std::uint64_t DeclaredPictureBytes(const std::string& path);
