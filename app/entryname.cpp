#include "app/entryname.h"

#include "imaging/imagefiletypes.h"

#include <limits>

std::int32_t TextToIntDef(std::string_view text, std::int32_t fallback)
{
    std::size_t pos = 0;
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
        negative = text[pos++] == '-';
    unsigned base = 10;
    if (pos < text.size() && (text[pos] == '$' || text[pos] == 'x' || text[pos] == 'X')) {
        base = 16;
        ++pos;
    } else if (pos + 1 < text.size() && text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
        base = 16;
        pos += 2;
    }
    if (pos == text.size())
        return fallback;
    // The magnitude may reach 2^31 for the negative limit; anything above fails early.
    constexpr std::uint64_t Limit = std::uint64_t(std::numeric_limits<std::int32_t>::max()) + 1;
    std::uint64_t value = 0;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = unsigned(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = unsigned(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = unsigned(c - 'A' + 10);
        else
            return fallback;
        value = value * base + digit;
        if (value > Limit)
            return fallback;
    }
    if (!negative && value == Limit)
        return fallback;
    return negative ? std::int32_t(-std::int64_t(value)) : std::int32_t(value);
}

TEntryName ParseEntryName(const std::string& name)
{
    // The name without its extension: up to the last dot.
    const std::size_t dot = name.rfind('.');
    const std::string_view stem = std::string_view(name).substr(0, dot);
    TEntryName result;
    result.Number = TextToIntDef(stem, -1);
    if (result.Number >= 0)
        return result;
    const std::size_t underscore = name.find('_');
    if (underscore == std::string::npos)
        return result;
    result.Number = TextToIntDef(std::string_view(name).substr(0, underscore), -1);
    // The suffix is read from the name without its extension; an underscore inside the
    // extension leaves nothing, which reads as the default.
    const std::string_view suffix = underscore < stem.size() ? stem.substr(underscore + 1) : std::string_view();
    result.SuffixType = std::int64_t(TextToIntDef(suffix, 1)) + 1;
    return result;
}

bool IsAcceptedExtension(std::string_view extension)
{
    return ImportedFileType(extension) != nullptr;
}

int PictureTypeValue(int kindIndex, std::int64_t suffixType)
{
    if (kindIndex < 4)
        return kindIndex;
    return suffixType >= 0 && suffixType <= 3 ? int(suffixType) : 2;
}

bool IsValidUtf8(std::string_view text)
{
    std::size_t pos = 0;
    while (pos < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[pos]);
        std::size_t length;
        std::uint32_t codePoint;
        if (lead < 0x80) {
            ++pos;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            codePoint = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            codePoint = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            codePoint = lead & 0x07u;
        } else {
            return false;
        }
        if (length > text.size() - pos)
            return false;
        for (std::size_t i = 1; i < length; ++i) {
            const unsigned char next = static_cast<unsigned char>(text[pos + i]);
            if ((next & 0xC0u) != 0x80u)
                return false;
            codePoint = codePoint << 6 | (next & 0x3Fu);
        }
        if ((length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000)
            || (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF)
            return false;
        pos += length;
    }
    return true;
}
