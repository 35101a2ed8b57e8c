#pragma once
// Regular-expression search for string methods: the pattern is compiled
// with no options (case-sensitive; "." does not match line terminators; "^"
// and "$" match only at the ends of the whole text) and only the first match
// is used. Patterns come from remote programs, so every search runs with
// time and stack limits; a search stopped at a limit fails rather than
// answering "no match".
//
// Failures carry the regular-expression engine's error, not a pixie code:
// domain kRegularExpressionErrorDomain, code 1 for a pattern the engine
// rejects, 2 for a search abandoned at a limit; the description names the
// engine's error.

#include <cstddef>
#include <optional>
#include <string_view>

#include "measurement/rules/PixieError.h"

namespace measurement::rules {

inline constexpr const char* kRegularExpressionErrorDomain = "com.vadova.vaz.measurement.pixie.RegularExpression";

struct TextRange {
    std::size_t location = 0;  // UTF-16 units
    std::size_t length = 0;
};

// None without an error when nothing matches.
[[nodiscard]]
std::optional<TextRange> firstRegularExpressionMatch(std::u16string_view pattern, std::u16string_view text,
                                                     ErrorSlot& error);

}  // namespace measurement::rules
