#include "base/fmt.h"

#include <cstdio>

std::string TFmtArg::Text(char conversion) const
{
    if (FIsText)
        return FText;
    char buffer[32];
    switch (conversion) {
    case 'x':
        std::snprintf(buffer, sizeof buffer, "%llx", FUnsigned ? FUValue : static_cast<unsigned long long>(FValue));
        break;
    case 'X':
        std::snprintf(buffer, sizeof buffer, "%llX", FUnsigned ? FUValue : static_cast<unsigned long long>(FValue));
        break;
    default:
        if (FUnsigned)
            std::snprintf(buffer, sizeof buffer, "%llu", FUValue);
        else
            std::snprintf(buffer, sizeof buffer, "%lld", FValue);
    }
    return buffer;
}

std::string FormatMessage(std::string_view pattern, std::initializer_list<TFmtArg> args)
{
    std::string result;
    result.reserve(pattern.size() + 32);
    auto next = args.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c != '%' || i + 1 == pattern.size()) {
            result += c;
            continue;
        }
        const char conversion = pattern[i + 1];
        if (conversion == '%') {
            result += '%';
            ++i;
        } else if ((conversion == 's' || conversion == 'd' || conversion == 'u' || conversion == 'x' || conversion == 'X')
            && next != args.end()) {
            result += (next++)->Text(conversion);
            ++i;
        } else {
            result += c;
        }
    }
    return result;
}
