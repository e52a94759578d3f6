#include "tests/support/paramname.h"

#include <cstdio>
#include <utility>

namespace testsupport {

std::string ParamName(std::string_view text)
{
    static constexpr std::pair<char, const char*> Words[] = { { ' ', "Space" }, { '.', "Dot" }, { '/', "Slash" },
        { '\\', "Backslash" }, { '-', "Minus" }, { '+', "Plus" }, { '$', "Dollar" }, { '\'', "Quote" },
        { '"', "DoubleQuote" }, { ',', "Comma" }, { ':', "Colon" }, { '\n', "Newline" }, { '\t', "Tab" },
        { '(', "Open" }, { ')', "Close" }, { '#', "Hash" }, { '*', "Star" }, { '?', "Question" } };
    if (text.empty())
        return "Empty";
    std::string name;
    for (const char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_') {
            name += c;
            continue;
        }
        const char* word = nullptr;
        for (const auto& [character, spelt] : Words)
            if (character == c)
                word = spelt;
        if (word) {
            name += word;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "X%02X", static_cast<unsigned char>(c));
            name += hex;
        }
    }
    return name;
}

} // namespace testsupport
