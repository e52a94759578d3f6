#pragma once
// Text, number and date conversions of the database layer: blanks around a text are ignored,
// "." is the decimal separator, dates are written year-month-day, and text that does not
// parse raises EConvertError.
#include <cstdint>
#include <string>

// Days since 30 December 1899, with the time of day as fraction.
using TDateTime = double;

bool TryTextToInt64(const std::string& text, std::int64_t& value);
std::int64_t TextToInt64(const std::string& text);
double TextToFloat(const std::string& text);
std::string FloatToText(double value);

std::string DateToText(TDateTime value);
std::string TimeToText(TDateTime value);
std::string DateTimeToText(TDateTime value); // the time is left out at midnight
TDateTime TextToDate(const std::string& text);
TDateTime TextToTime(const std::string& text);
TDateTime TextToDateTime(const std::string& text);

// Malformed UTF-8 becomes U+FFFD per byte; a lone surrogate becomes U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const std::u16string& text);
