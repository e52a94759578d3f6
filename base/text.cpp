#include "base/text.h"

#include <algorithm>

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

} // namespace

std::string Trim(std::string_view text)
{
    std::size_t first = 0, last = text.size();
    while (first < last && IsBlank(text[first]))
        ++first;
    while (last > first && IsBlank(text[last - 1]))
        --last;
    return std::string(text.substr(first, last - first));
}

std::string AsciiLowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), AsciiLower);
    return text;
}

std::string AsciiUpperCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), AsciiUpper);
    return text;
}

bool SameTextAscii(std::string_view left, std::string_view right)
{
    return std::ranges::equal(left, right, [](char a, char b) { return AsciiLower(a) == AsciiLower(b); });
}

std::string TextReplaceAll(const std::string& text, const std::string& oldText, const std::string& newText)
{
    if (oldText.empty())
        return text;
    std::string result;
    std::size_t start = 0;
    for (std::size_t found = text.find(oldText); found != std::string::npos; found = text.find(oldText, start)) {
        result.append(text, start, found - start);
        result += newText;
        start = found + oldText.size();
    }
    result.append(text, start, std::string::npos);
    return result;
}
