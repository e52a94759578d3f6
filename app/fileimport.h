#pragma once
#include "app/entryoutcome.h"

#include <exception>
#include <string>

struct TImportContext;

inline constexpr const char* SPictureIdOverflow =
    "The generator gen_pixref gave the picture id %s, beyond the largest one a picture can have (2147483647).";

// One entry of the image folder: shows progress, lets events run, and when the name is a
// catalogue number (with an accepted picture extension) that matches a record, inserts the
// images row and, for covers, makes the thumbnail. Entries that do not qualify are passed
// over; database, file and thumbnail errors travel to the pass. The entry's outcome goes to
// the front end either way.
void ProcessImageFile(TImportContext& pass, const std::string& path);

// Why an entry's name keeps it from import (rsNone when it is a candidate): a catalogue number
// with an accepted picture extension, as UTF-8 without line breaks. Depends on the name alone.
TEntryReason NameRejection(const std::string& path);
bool QualifiesForImport(const std::string& path);

// The message of an error that ended the pass at the entry path ("" before any entry).
std::string FailureMessage(const std::exception& error, const std::string& path);
