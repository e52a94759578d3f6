#pragma once
#include <string>
#include <string_view>

namespace testsupport {

// A parameterised test's name made from the text the case is about: letters, digits and
// underscores kept, every other character spelt out ("1234.jpg" gives "1234Dotjpg", a byte
// outside ASCII "XC3"), and "Empty" for no text; so that ctest lists cases by what they hold.
std::string ParamName(std::string_view text);

} // namespace testsupport
