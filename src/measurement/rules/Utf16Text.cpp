#include "measurement/rules/Utf16Text.h"

#include <unicode/unistr.h>

#include "platform/Unicode.h"

namespace measurement::rules {

std::u16string utf16FromUtf8(std::string_view utf8) {
    const icu::UnicodeString text =
        icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    return std::u16string(text.getBuffer(), static_cast<std::size_t>(text.length()));
}

std::string utf8FromUtf16(std::u16string_view utf16) {
    const icu::UnicodeString text(false, utf16.data(), static_cast<int32_t>(utf16.size()));
    std::string out;
    text.toUTF8String(out);
    return out;
}

bool isWhiteSpaceOrNewline(char16_t unit) {
    // Every white-space character lies in the BMP, so one unit decides.
    return platform::isWhitespaceOrNewline(static_cast<char32_t>(unit));
}

std::u16string_view trimWhiteSpaceAndNewlines(std::u16string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isWhiteSpaceOrNewline(text[begin])) ++begin;
    while (end > begin && isWhiteSpaceOrNewline(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

}  // namespace measurement::rules
