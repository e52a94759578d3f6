#pragma once
#include <concepts>
#include <initializer_list>
#include <string>
#include <string_view>

// One argument of Fmt: text, or an integer kept in 64 bits with its signedness.
class TFmtArg {
public:
    TFmtArg(const std::string& text) : FText(text), FIsText(true) {}
    TFmtArg(std::string_view text) : FText(text), FIsText(true) {}
    TFmtArg(const char* text) : FText(text ? text : ""), FIsText(true) {}
    template <std::integral T>
    TFmtArg(T value) : FValue(static_cast<long long>(value)), FUnsigned(std::is_unsigned_v<T>)
    {
        if constexpr (std::is_unsigned_v<T>)
            FUValue = static_cast<unsigned long long>(value);
    }
    std::string Text(char conversion) const;

private:
    std::string FText;
    bool FIsText = false;
    long long FValue = 0;
    unsigned long long FUValue = 0;
    bool FUnsigned = false;
};

// Fills %s, %d, %u, %x and %X from left to right; "%%" is a percent sign. A missing
// argument leaves its placeholder as written; surplus arguments are ignored.
std::string FormatMessage(std::string_view pattern, std::initializer_list<TFmtArg> args);

template <typename... Args>
std::string Fmt(std::string_view pattern, const Args&... args)
{
    return FormatMessage(pattern, { TFmtArg(args)... });
}
