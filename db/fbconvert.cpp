#include "db/fbconvert.h"

#include "base/fmt.h"
#include "base/text.h"
#include "db/fbclientlib.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// Calendar dates from days since 30 December 1899 and back.
constexpr long long UnixEpochDay = 25569; // 1 January 1970

void DaysToCivil(long long days, int& year, int& month, int& day)
{
    long long z = days - UnixEpochDay + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

long long CivilToDays(int year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yoe = year - era * 400;
    const long long doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 + UnixEpochDay;
}

bool ValidDate(int year, int month, int day)
{
    static constexpr int MonthDays[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1)
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= MonthDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

// Whole days and the time of day in 1/10000 seconds of a date-time value.
void SplitDateTime(TDateTime value, long long& days, long long& time)
{
    const TIscTimestamp stamp = DateTimeToTimestamp(value);
    days = static_cast<long long>(stamp.Date) - DateOffset;
    time = stamp.Time;
}

bool TryTextToDate(const std::string& text, double& value)
{
    int year, month, day, consumed = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%d%n", &year, &month, &day, &consumed) != 3
        || static_cast<std::size_t>(consumed) != text.size() || !ValidDate(year, month, day))
        return false;
    value = static_cast<double>(CivilToDays(year, month, day));
    return true;
}

bool TryTextToTime(const std::string& text, double& value)
{
    int hour, minute, consumed = 0;
    double second = 0;
    if (std::sscanf(text.c_str(), "%d:%d:%lf%n", &hour, &minute, &second, &consumed) != 3) {
        consumed = 0;
        second = 0;
        if (std::sscanf(text.c_str(), "%d:%d%n", &hour, &minute, &consumed) != 2)
            return false;
    }
    if (static_cast<std::size_t>(consumed) != text.size() || hour < 0 || hour > 23 || minute < 0
        || minute > 59 || !(second >= 0 && second < 60))
        return false;
    value = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
    return true;
}

} // namespace

// Text conversions of the runtime: blanks around the text are ignored, "." is the decimal
// separator, and text that does not parse raises EConvertError.
bool TryTextToInt64(const std::string& text, std::int64_t& value)
{
    const std::string trimmed = Trim(text);
    if (trimmed.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long long result = std::strtoll(trimmed.c_str(), &end, 10);
    if (errno != 0 || end != trimmed.c_str() + trimmed.size())
        return false;
    value = result;
    return true;
}

std::int64_t TextToInt64(const std::string& text)
{
    std::int64_t value = 0;
    if (!TryTextToInt64(text, value))
        throw EConvertError(Fmt(SInvalidInteger, text));
    return value;
}

double TextToFloat(const std::string& text)
{
    const std::string trimmed = Trim(text);
    char* end = nullptr;
    const double value = trimmed.empty() ? 0 : std::strtod(trimmed.c_str(), &end);
    if (trimmed.empty() || end != trimmed.c_str() + trimmed.size() || !std::isfinite(value))
        throw EConvertError(Fmt(SInvalidFloat, text));
    return value;
}

std::string FloatToText(double value)
{
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return buffer;
}

std::string DateToText(TDateTime value)
{
    long long days, time;
    SplitDateTime(value, days, time);
    int year, month, day;
    DaysToCivil(days, year, month, day);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", year, month, day);
    return buffer;
}

std::string TimeToText(TDateTime value)
{
    long long days, time;
    SplitDateTime(value, days, time);
    const long long seconds = time / 10000;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
    return buffer;
}

// Date and time; the time is left out at midnight.
std::string DateTimeToText(TDateTime value)
{
    long long days, time;
    SplitDateTime(value, days, time);
    return time == 0 ? DateToText(value) : DateToText(value) + " " + TimeToText(value);
}

TDateTime TextToDate(const std::string& text)
{
    double value;
    if (!TryTextToDate(Trim(text), value))
        throw EConvertError(Fmt(SInvalidDate, text));
    return value;
}

TDateTime TextToTime(const std::string& text)
{
    double value;
    if (!TryTextToTime(Trim(text), value))
        throw EConvertError(Fmt(SInvalidTime, text));
    return value;
}

TDateTime TextToDateTime(const std::string& text)
{
    const std::string trimmed = Trim(text);
    const std::size_t blank = trimmed.find(' ');
    double date = 0, time = 0;
    const bool ok = blank == std::string::npos
        ? TryTextToDate(trimmed, date) || TryTextToTime(trimmed, time)
        : TryTextToDate(trimmed.substr(0, blank), date) && TryTextToTime(Trim(trimmed.substr(blank + 1)), time);
    if (!ok)
        throw EConvertError(Fmt(SInvalidDateTime, text));
    return date + (date < 0 ? -time : time);
}

std::u16string Utf8ToUtf16(const std::string& text)
{
    std::u16string result;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        char32_t code = extra == 0 ? c : extra == 1 ? c & 0x1F : extra == 2 ? c & 0x0F : c & 0x07;
        bool valid = extra >= 0 && i + extra < text.size();
        for (int k = 1; valid && k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = code << 6 | (next & 0x3F);
        }
        if (!valid || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            result += u'\xFFFD'; // a malformed sequence counts as one replaced byte
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            result += static_cast<char16_t>(0xD800 + (code >> 10));
            result += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            result += static_cast<char16_t>(code);
        }
        i += static_cast<std::size_t>(extra) + 1;
    }
    return result;
}

std::string Utf16ToUtf8(const std::u16string& text)
{
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (code >= 0xD800 && code <= 0xDFFF)
            code = 0xFFFD;
        if (code < 0x80) {
            result += static_cast<char>(code);
        } else if (code < 0x800) {
            result += static_cast<char>(0xC0 | code >> 6);
            result += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            result += static_cast<char>(0xE0 | code >> 12);
            result += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            result += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            result += static_cast<char>(0xF0 | code >> 18);
            result += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            result += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            result += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return result;
}
