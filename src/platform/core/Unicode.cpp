#include "platform/core/Unicode.h"

#include <unicode/brkiter.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <climits>

namespace platform {

namespace {

constexpr UChar32 kReplacementCharacter = 0xFFFD;

// Calls visit(codePoint, startOffset, endOffset) for each code point of
// `text`, reading each ill-formed sequence as U+FFFD. Offsets are in bytes.
template <typename Visit>
void forEachCodePoint(std::string_view text, Visit visit) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::size_t length = text.size();
    std::size_t offset = 0;
    while (offset < length) {
        const std::size_t start = offset;
        UChar32 c;
        // U8_NEXT's index type is signed; walk in windows that fit it.
        const std::int32_t window = static_cast<std::int32_t>(std::min<std::size_t>(length - start, INT32_MAX));
        std::int32_t i = 0;
        U8_NEXT(bytes + start, i, window, c);
        offset = start + static_cast<std::size_t>(i);
        if (!visit(c < 0 ? kReplacementCharacter : c, start, offset, c < 0)) return;
    }
}

icu::UnicodeString toIcu(std::string_view text) {
    // Ill-formed sequences become U+FFFD.
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
}

std::string fromIcu(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

icu::Locale caseLocale(const std::string& localeId) {
    return localeId.empty() ? icu::Locale::getRoot() : icu::Locale(localeId.c_str());
}

// Byte offsets of the composed-character boundaries of `text`, from 0 to
// its length. Falls back to code-point boundaries should ICU lack its data.
std::vector<std::size_t> composedCharacterBoundaries(std::string_view text) {
    std::vector<std::size_t> boundaries{0};
    if (text.empty()) return boundaries;

    UErrorCode status = U_ZERO_ERROR;
    icu::LocalUTextPointer utext(
        utext_openUTF8(nullptr, text.data(), static_cast<std::int64_t>(text.size()), &status));
    std::unique_ptr<icu::BreakIterator> breaks(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_SUCCESS(status)) breaks->setText(utext.getAlias(), status);
    if (U_FAILURE(status) || !breaks) {
        forEachCodePoint(text, [&](UChar32, std::size_t, std::size_t end, bool) {
            boundaries.push_back(end);
            return true;
        });
        return boundaries;
    }
    // With UTF-8 text the iterator's native indexes are byte offsets.
    for (std::int32_t b = breaks->next(); b != icu::BreakIterator::DONE; b = breaks->next())
        boundaries.push_back(static_cast<std::size_t>(b));
    return boundaries;
}

}  // namespace

// --- Encoding ----------------------------------------------------------------

bool isValidUtf8(std::string_view bytes) {
    bool valid = true;
    forEachCodePoint(bytes, [&](UChar32, std::size_t, std::size_t, bool illFormed) {
        valid = !illFormed;
        return valid;
    });
    return valid;
}

std::optional<std::u16string> utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    bool valid = true;
    forEachCodePoint(utf8, [&](UChar32 c, std::size_t, std::size_t, bool illFormed) {
        if (illFormed) return valid = false;
        if (U_IS_BMP(c)) {
            out.push_back(static_cast<char16_t>(c));
        } else {
            out.push_back(static_cast<char16_t>(U16_LEAD(c)));
            out.push_back(static_cast<char16_t>(U16_TRAIL(c)));
        }
        return true;
    });
    if (!valid) return std::nullopt;
    return out;
}

std::optional<std::string> utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    std::size_t i = 0;
    while (i < utf16.size()) {
        UChar32 c = utf16[i++];
        if (U16_IS_LEAD(c) && i < utf16.size() && U16_IS_TRAIL(utf16[i])) {
            c = U16_GET_SUPPLEMENTARY(c, utf16[i]);
            ++i;
        } else if (U_IS_SURROGATE(c)) {
            return std::nullopt;
        }
        char buffer[U8_MAX_LENGTH];
        std::int32_t n = 0;
        U8_APPEND_UNSAFE(buffer, n, c);
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

// --- Counting ------------------------------------------------------------------

std::size_t utf16Length(std::string_view text) {
    std::size_t units = 0;
    forEachCodePoint(text, [&](UChar32 c, std::size_t, std::size_t, bool) {
        units += U16_LENGTH(c);
        return true;
    });
    return units;
}

std::size_t codePointCount(std::string_view text) {
    std::size_t count = 0;
    forEachCodePoint(text, [&](UChar32, std::size_t, std::size_t, bool) {
        ++count;
        return true;
    });
    return count;
}

std::u32string codePoints(std::string_view text) {
    std::u32string out;
    forEachCodePoint(text, [&](UChar32 c, std::size_t, std::size_t, bool) {
        out.push_back(static_cast<char32_t>(c));
        return true;
    });
    return out;
}

std::vector<std::string> composedCharacters(std::string_view text) {
    const auto boundaries = composedCharacterBoundaries(text);
    std::vector<std::string> characters;
    characters.reserve(boundaries.size() - 1);
    for (std::size_t i = 1; i < boundaries.size(); ++i)
        characters.emplace_back(text.substr(boundaries[i - 1], boundaries[i] - boundaries[i - 1]));
    return characters;
}

std::size_t composedCharacterCount(std::string_view text) {
    return composedCharacterBoundaries(text).size() - 1;
}

std::string composedCharacterPrefix(std::string_view text, std::size_t count) {
    const auto boundaries = composedCharacterBoundaries(text);
    if (count >= boundaries.size()) return std::string(text);
    return std::string(text.substr(0, boundaries[count]));
}

// --- White space -----------------------------------------------------------------

bool isWhitespaceOrNewline(char32_t codePoint) { return u_isUWhiteSpace(static_cast<UChar32>(codePoint)); }

std::string trimWhitespaceAndNewlines(std::string_view text) {
    std::size_t first = text.size();
    std::size_t last = 0;
    forEachCodePoint(text, [&](UChar32 c, std::size_t start, std::size_t end, bool illFormed) {
        if (illFormed || !u_isUWhiteSpace(c)) {
            if (first == text.size()) first = start;
            last = end;
        }
        return true;
    });
    if (first == text.size()) return {};
    return std::string(text.substr(first, last - first));
}

// --- Case ------------------------------------------------------------------------

std::string toLowerCase(std::string_view text, const std::string& localeId) {
    auto s = toIcu(text);
    return fromIcu(s.toLower(caseLocale(localeId)));
}

std::string toUpperCase(std::string_view text, const std::string& localeId) {
    auto s = toIcu(text);
    return fromIcu(s.toUpper(caseLocale(localeId)));
}

int caseInsensitiveCompare(std::string_view a, std::string_view b) {
    return toIcu(a).caseCompare(toIcu(b), U_FOLD_CASE_DEFAULT);
}

// --- Character classes -------------------------------------------------------------

bool isLetter(char32_t codePoint) { return u_isalpha(static_cast<UChar32>(codePoint)); }
bool isDecimalDigit(char32_t codePoint) { return u_isdigit(static_cast<UChar32>(codePoint)); }
bool isAlphanumeric(char32_t codePoint) { return u_isalnum(static_cast<UChar32>(codePoint)); }

// --- Regular expressions -------------------------------------------------------------

struct Regex::Compiled {
    std::unique_ptr<icu::RegexPattern> pattern;
    RegexOptions options;
};

namespace {

RegexError searchError(UErrorCode status) {
    std::string message;
    switch (status) {
    case U_REGEX_TIME_OUT:
        message = "The regular expression search exceeded its time limit.";
        break;
    case U_REGEX_STACK_OVERFLOW:
        message = "The regular expression search exceeded its stack limit.";
        break;
    default:
        message = std::string("The regular expression search failed: ") + u_errorName(status) + ".";
        break;
    }
    return RegexError{u_errorName(status), std::move(message)};
}

// A matcher over `input` (which must outlive it) with the pattern's limits.
std::unique_ptr<icu::RegexMatcher> makeMatcher(const icu::RegexPattern& pattern, const RegexOptions& options,
                                               const icu::UnicodeString& input, UErrorCode& status) {
    std::unique_ptr<icu::RegexMatcher> matcher(pattern.matcher(input, status));
    if (U_FAILURE(status)) return nullptr;
    matcher->setTimeLimit(options.timeLimit > 0 ? options.timeLimit : 0, status);
    matcher->setStackLimit(options.stackLimitBytes > 0 ? options.stackLimitBytes : 0, status);
    return U_SUCCESS(status) ? std::move(matcher) : nullptr;
}

}  // namespace

Regex::Regex(std::shared_ptr<const Compiled> compiled) : compiled_(std::move(compiled)) {}

std::optional<Regex> Regex::compile(std::string_view pattern, RegexError& error, const RegexOptions& options) {
    error = {};
    UParseError parseError{};
    UErrorCode status = U_ZERO_ERROR;
    const std::uint32_t flags = options.caseInsensitive ? UREGEX_CASE_INSENSITIVE : 0;
    std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(toIcu(pattern), flags, parseError, status));
    if (U_FAILURE(status) || !compiled) {
        error.name = u_errorName(status);
        error.message = "Invalid regular expression \u201c" + std::string(pattern) + "\u201d: " + error.name;
        if (parseError.offset >= 0)
            error.message += " at line " + std::to_string(parseError.line) + ", offset " + std::to_string(parseError.offset);
        error.message += ".";
        return std::nullopt;
    }
    return Regex(std::make_shared<const Compiled>(Compiled{std::move(compiled), options}));
}

std::string Regex::escapedPattern(std::string_view text) {
    static constexpr std::string_view kSpecial = "\\^$.|?*+()[]{}/-#&~";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (kSpecial.find(c) != std::string_view::npos) out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

std::optional<RegexMatch> Regex::firstMatch(std::string_view text, RegexError& error) const {
    error = {};
    const auto input = toIcu(text);
    UErrorCode status = U_ZERO_ERROR;
    auto matcher = makeMatcher(*compiled_->pattern, compiled_->options, input, status);
    const bool found = matcher && matcher->find(status);
    if (U_FAILURE(status)) {
        error = searchError(status);
        return std::nullopt;
    }
    if (!found) return std::nullopt;

    RegexMatch match;
    const std::int32_t groups = matcher->groupCount();
    for (std::int32_t g = 0; g <= groups; ++g) {
        const std::int32_t start = matcher->start(g, status);
        const std::int32_t end = matcher->end(g, status);
        if (U_FAILURE(status) || start < 0) {
            status = U_ZERO_ERROR;
            match.captures.emplace_back(std::nullopt);
            continue;
        }
        match.captures.emplace_back(RegexCapture{static_cast<std::size_t>(start), static_cast<std::size_t>(end - start),
                                                 fromIcu(input.tempSubStringBetween(start, end))});
    }
    return match;
}

std::optional<std::string> Regex::replaceAll(std::string_view text, std::string_view replacement,
                                             RegexError& error) const {
    error = {};
    const auto input = toIcu(text);
    UErrorCode status = U_ZERO_ERROR;
    auto matcher = makeMatcher(*compiled_->pattern, compiled_->options, input, status);
    // Not the engine's own replaceAll: it searches without reporting errors,
    // so a search stopped at a limit would pass for "no more matches".
    const auto replacementText = toIcu(replacement);
    icu::UnicodeString result;
    while (matcher && matcher->find(status) && U_SUCCESS(status)) matcher->appendReplacement(result, replacementText, status);
    if (matcher && U_SUCCESS(status)) matcher->appendTail(result);
    if (U_FAILURE(status)) {
        error = searchError(status);
        return std::nullopt;
    }
    return fromIcu(result);
}

}  // namespace platform
