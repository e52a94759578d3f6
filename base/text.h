#pragma once
#include <string>
#include <string_view>

// Small text operations on 8-bit strings. Case folding touches only the ASCII letters: the
// other bytes, UTF-8 sequences included, stay as they are.

// The text without the characters up to and including the blank (controls and spaces) at
// either end.
std::string Trim(std::string_view text);
std::string AsciiLowerCase(std::string text);
std::string AsciiUpperCase(std::string text);
// Equal texts when ASCII letters are compared without regard to case.
bool SameTextAscii(std::string_view left, std::string_view right);
// Every occurrence of oldText (left to right, no overlap, exact case) replaced by newText;
// an empty oldText replaces nothing.
std::string TextReplaceAll(const std::string& text, const std::string& oldText, const std::string& newText);
