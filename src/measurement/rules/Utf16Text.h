#pragma once
// The rule engine keeps texts as UTF-16 code units, as programs index and
// count them. These helpers convert at the edges (UTF-8 in the rest of the
// system) and classify white space the way the platform does.

#include <string>
#include <string_view>

namespace measurement::rules {

// Ill-formed input is converted with replacement characters; never fails.
std::u16string utf16FromUtf8(std::string_view utf8);
std::string utf8FromUtf16(std::u16string_view utf16);

// The platform's white space and newline set (Unicode White_Space).
bool isWhiteSpaceOrNewline(char16_t unit);
std::u16string_view trimWhiteSpaceAndNewlines(std::u16string_view text);

}  // namespace measurement::rules
