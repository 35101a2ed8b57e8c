#include "measurement/storage/APMDecimalNumber.h"

#include <charconv>
#include <cmath>
#include <memory>
#include <mutex>

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include "measurement/storage/APMMonitor.h"

namespace {

// The compiled expression, or null when it could not be compiled (logged once).
const icu::RegexPattern* decimalPattern() {
    static std::once_flag once;
    static std::unique_ptr<icu::RegexPattern> pattern;
    std::call_once(once, [] {
        UErrorCode status = U_ZERO_ERROR;
        UParseError parseError{};
        pattern.reset(icu::RegexPattern::compile(
            icu::UnicodeString::fromUTF8(R"(^[+-]?(([0-9]+\.?)|([0-9]*\.[0-9]+))$)"), parseError, status));
        if (U_FAILURE(status)) {
            pattern.reset();
            APMMonitor::shared()->log(2, 26000, "Unable to initialize decimal number regexp. Regex, error",
                                      "decimal number", u_errorName(status));
        }
    });
    return pattern.get();
}

}  // namespace

bool APMIsDecimalNumberString(const std::string& text) {
    if (text.empty()) return false;
    const icu::RegexPattern* pattern = decimalPattern();
    if (!pattern) return false;
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString input = icu::UnicodeString::fromUTF8(text);
    std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(input, status));
    if (U_FAILURE(status) || !matcher) return false;
    bool matched = matcher->matches(status);
    return U_SUCCESS(status) && matched;
}

std::string APMDecimalText(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[400];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    std::string text(buffer, result.ptr);
    return text == "-0" ? "0" : text;
}

std::optional<double> APMDecimalNumberFromString(const std::string& text) {
    auto monitor = APMMonitor::shared();
    if (!APMIsDecimalNumberString(text)) {
        monitor->log(2, 26001, "String value does not represent a numeric value. Value", text);
        return std::nullopt;
    }
    // The test above guarantees a plain decimal text; only a leading "+"
    // needs removing before reading it locale-independently.
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (*first == '+') ++first;
    double value = 0;
    auto parsed = std::from_chars(first, last, value, std::chars_format::fixed);
    if (parsed.ec != std::errc() || parsed.ptr != last || std::isnan(value)) {
        monitor->log(2, 26002, "Unable to create a NSDecimalNumber from string value. Value", text);
        return std::nullopt;
    }
    std::string padded = text;
    if (padded.starts_with("+.") || padded.starts_with("-.") || padded.starts_with(".")) {
        std::string replaced;
        for (char c : padded) {
            if (c == '.') replaced += "0.";
            else replaced += c;
        }
        padded = replaced;
    }
    if (padded.find(APMDecimalText(std::fabs(value))) == std::string::npos) {
        monitor->log(2, 26003, "Unable to create a NSDecimalNumber from string value: loss of precision. Value",
                     text);
        return std::nullopt;
    }
    return value;
}
