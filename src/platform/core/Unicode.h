#pragma once
// Unicode text operations as the rest of the system counts and compares
// characters: lengths in UTF-16 units or code points, composed characters
// (extended grapheme clusters), white space and newline trimming, case
// mapping and folding, and character classes. Text is UTF-8 std::string;
// where a function takes UTF-8 that is ill-formed, each ill-formed sequence
// is read as U+FFFD, so no input can make these functions fail.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// --- Encoding --------------------------------------------------------------

bool isValidUtf8(std::string_view bytes);
// Strict conversions: none when the input is ill-formed (bad UTF-8, or
// UTF-16 with an unpaired surrogate).
[[nodiscard]] std::optional<std::u16string> utf8ToUtf16(std::string_view utf8);
[[nodiscard]] std::optional<std::string> utf16ToUtf8(std::u16string_view utf16);

// --- Counting ----------------------------------------------------------------

std::size_t utf16Length(std::string_view text);
std::size_t codePointCount(std::string_view text);
std::u32string codePoints(std::string_view text);

// Composed characters: what a reader sees as one character, e.g. a flag,
// a family emoji joined by ZWJ, or a letter with its combining marks.
std::vector<std::string> composedCharacters(std::string_view text);
std::size_t composedCharacterCount(std::string_view text);
// The first `count` composed characters (all of the text when it has fewer).
std::string composedCharacterPrefix(std::string_view text, std::size_t count);

// --- White space -------------------------------------------------------------

// Unicode White_Space: space separators, tab, line and paragraph
// separators, U+000A-U+000D, U+0085 and the no-break spaces.
bool isWhitespaceOrNewline(char32_t codePoint);
std::string trimWhitespaceAndNewlines(std::string_view text);

// --- Case --------------------------------------------------------------------

// Full case mapping (lengths may change: "ß" upper-cases to "SS"). The
// empty locale identifier means the root locale, independent of the device;
// otherwise an identifier such as "tr_TR" selects that language's rules.
std::string toLowerCase(std::string_view text, const std::string& localeId = {});
std::string toUpperCase(std::string_view text, const std::string& localeId = {});

// Compares after full case folding ("STRASSE" equals "straße"), ordering by
// UTF-16 code units. Negative, zero or positive like strcmp.
int caseInsensitiveCompare(std::string_view a, std::string_view b);
inline bool equalsIgnoringCase(std::string_view a, std::string_view b) { return caseInsensitiveCompare(a, b) == 0; }

// --- Character classes (by Unicode general category) -------------------------

bool isLetter(char32_t codePoint);          // L*: letters, without combining marks
bool isDecimalDigit(char32_t codePoint);    // Nd: decimal digits of every script
bool isAlphanumeric(char32_t codePoint);    // a letter or a decimal digit

// --- Regular expressions ----------------------------------------------------
// ICU syntax and semantics. Positions and lengths are UTF-16 units of the
// searched text. A compiled Regex is immutable and may be shared between
// threads. Patterns from outside should set time and stack limits: a search
// that exceeds them is abandoned with an error rather than hanging.

struct [[nodiscard]] RegexError {
    std::string name;     // the engine's error name, e.g. "U_REGEX_MISMATCHED_PAREN"
    std::string message;  // a sentence for logs
    explicit operator bool() const { return !name.empty(); }
};

struct RegexOptions {
    bool caseInsensitive = false;
    // Work allowed per search, in the engine's steps (each a fraction of a
    // millisecond on a current machine); 0 means no limit.
    std::int32_t timeLimit = 0;
    // Memory for the backtracking stack, in bytes; 0 means no limit.
    std::int32_t stackLimitBytes = 8 * 1024 * 1024;
};

struct RegexCapture {
    std::size_t location = 0;  // UTF-16 offset in the searched text
    std::size_t length = 0;    // UTF-16 units
    std::string text;
};

struct RegexMatch {
    // [0] is the whole match, [n] group n; none for a group that took no part.
    std::vector<std::optional<RegexCapture>> captures;
    const RegexCapture& whole() const { return *captures.front(); }
};

class Regex {
public:
    // None, with `error` set, when the engine rejects the pattern.
    [[nodiscard]]
    static std::optional<Regex> compile(std::string_view pattern, RegexError& error, const RegexOptions& options = {});
    // The pattern that matches `text` literally.
    static std::string escapedPattern(std::string_view text);

    // The first match anywhere in `text`. None when there is none, or when the
    // search was abandoned at a limit (then `error` is set; else it is cleared).
    [[nodiscard]] std::optional<RegexMatch> firstMatch(std::string_view text, RegexError& error) const;
    // `text` with every match replaced by `replacement`, in which $n stands
    // for group n and a backslash makes the next character literal. None, with
    // `error` set, when the search was abandoned or the replacement is malformed.
    [[nodiscard]]
    std::optional<std::string> replaceAll(std::string_view text, std::string_view replacement, RegexError& error) const;

private:
    struct Compiled;
    explicit Regex(std::shared_ptr<const Compiled> compiled);
    std::shared_ptr<const Compiled> compiled_;
};

}  // namespace platform
