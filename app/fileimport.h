#pragma once
#include <string>

struct TImportContext;

inline constexpr const char* SPictureIdOverflow =
    "The generator gen_pixref gave the picture id %s, beyond the largest one a picture can have (2147483647).";

// One entry of the image folder: shows progress, lets events run, and when the name is a
// catalogue number (with an accepted picture extension) that matches a record, inserts the
// images row and, for covers, makes the thumbnail. Entries that do not qualify are passed
// over silently; database, file and thumbnail errors travel to the pass.
void ProcessImageFile(TImportContext& pass, const std::string& path);

// Whether an entry's name makes it a candidate for import: a catalogue number with an
// accepted picture extension, as UTF-8 without line breaks. Depends on the name alone.
bool QualifiesForImport(const std::string& path);
