#include "measurement/rules/Utf16Text.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include "platform/core/Unicode.h"

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

namespace {

icu::UnicodeString icuText(std::u16string_view text) {
    return icu::UnicodeString(text.data(), static_cast<int32_t>(text.size()));
}

std::u16string fromIcu(const icu::UnicodeString& text) {
    return std::u16string(text.getBuffer(), static_cast<std::size_t>(text.length()));
}

const icu::Locale& caseLocale(CaseLocale locale) {
    return locale == CaseLocale::Current ? icu::Locale::getDefault() : icu::Locale::getRoot();
}

}  // namespace

std::u16string lowerCased(std::u16string_view text, CaseLocale locale) {
    icu::UnicodeString mapped = icuText(text);
    return fromIcu(mapped.toLower(caseLocale(locale)));
}

std::u16string upperCased(std::u16string_view text, CaseLocale locale) {
    icu::UnicodeString mapped = icuText(text);
    return fromIcu(mapped.toUpper(caseLocale(locale)));
}

}  // namespace measurement::rules
