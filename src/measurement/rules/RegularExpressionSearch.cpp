#include "measurement/rules/RegularExpressionSearch.h"

#include "measurement/rules/Utf16Text.h"
#include "platform/core/Unicode.h"

namespace measurement::rules {
namespace {

// In the engine's steps, each a fraction of a millisecond: a pathological
// pattern gives up well within a second.
constexpr std::int32_t kSearchTimeLimit = 200;
constexpr std::int32_t kSearchStackLimitBytes = 1024 * 1024;

enum : long { kPatternRejected = 1, kSearchAbandoned = 2 };

void failWith(ErrorSlot& error, long code, const platform::RegexError& cause) {
    error = APMError{kRegularExpressionErrorDomain, code, cause.message};
}

}  // namespace

std::optional<TextRange> firstRegularExpressionMatch(std::u16string_view pattern, std::u16string_view text,
                                                     ErrorSlot& error) {
    platform::RegexOptions options;
    options.timeLimit = kSearchTimeLimit;
    options.stackLimitBytes = kSearchStackLimitBytes;
    platform::RegexError cause;
    const std::optional<platform::Regex> regex = platform::Regex::compile(utf8FromUtf16(pattern), cause, options);
    if (!regex) {
        failWith(error, kPatternRejected, cause);
        return std::nullopt;
    }
    // An unpaired surrogate reads as one replacement character, so UTF-16
    // positions in the converted text are positions in the original.
    const std::optional<platform::RegexMatch> match = regex->firstMatch(utf8FromUtf16(text), cause);
    if (cause) {
        failWith(error, kSearchAbandoned, cause);
        return std::nullopt;
    }
    if (!match) return std::nullopt;
    return TextRange{match->whole().location, match->whole().length};
}

}  // namespace measurement::rules
