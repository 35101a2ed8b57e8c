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

// Full Unicode case mapping (the length may change: "\u00DF" upper-cases to
// "SS"): by the default rules, independent of locale, or by the rules of the
// process's current locale. Unpaired surrogates pass through unchanged.
enum class CaseLocale { Default, Current };
std::u16string lowerCased(std::u16string_view text, CaseLocale locale);
std::u16string upperCased(std::u16string_view text, CaseLocale locale);

}  // namespace measurement::rules
