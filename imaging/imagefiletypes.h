#pragma once
#include "imaging/fileformatlist.h"

#include <span>
#include <string_view>

// One kind of picture file, by its extension: how the format registry describes it, the
// class that reads it, and whether the import takes files of this kind.
struct TImageFileType {
    const char* Extension;             // lower case, without the dot, as registered
    const char* CommonDescription;     // "" for none
    const char* IndividualDescription; // "" for none
    TFormatKinds Kinds;
    const TGraphicClass& (*ReaderClass)();
    bool Imported;
};

// Every extension the library knows, in the order of the start-up registrations.
std::span<const TImageFileType> ImageFileTypes();

// The type of an extension that the import takes, given in lower case with its dot (".jpg");
// none for anything else, upper case included. The seven: ".bmp", ".jpg", ".jpeg", ".tif",
// ".tiff", ".gif" and ".png".
const TImageFileType* ImportedFileType(std::string_view extension);
