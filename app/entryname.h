#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// Reads a whole text as a 32-bit signed integer: optional leading blanks, an optional sign,
// then decimal digits or a hexadecimal number after "$", "x", "X", "0x" or "0X". Anything
// else, trailing characters, an empty text or a value outside 32 bits gives fallback.
std::int32_t TextToIntDef(std::string_view text, std::int32_t fallback);

// What a folder entry's name says about the picture: the catalogue number (-1 when the name
// holds none) and the suffix type (the number after the first "_" plus one, -1 without "_").
struct TEntryName {
    std::int32_t Number = -1;
    std::int64_t SuffixType = -1;
};

// name is the entry name with its extension (1234_1.jpg gives 1234 and 2).
TEntryName ParseEntryName(const std::string& name);

// True for the seven extensions the pass imports, given in lower case with the dot.
bool IsAcceptedExtension(std::string_view extension);

// The value stored in images."imgtype" for a kind index of the dialog: the index itself for
// the four plain kinds; for "Both Covers" the suffix type when it names a kind, else front cover.
int PictureTypeValue(int kindIndex, std::int64_t suffixType);

// True when the text is well-formed UTF-8 (no overlong forms, surrogates or values above U+10FFFF).
bool IsValidUtf8(std::string_view text);
