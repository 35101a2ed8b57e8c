#include "measurement/rules/NumberConversion.h"

#include "measurement/storage/APMSaturatingConversion.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "measurement/rules/Utf16Text.h"

namespace measurement::rules {
namespace {

std::u16string widen(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// Lays the shortest round-trip digits of a finite, non-zero double out the
// way programs expect to see them.
std::string formatFinite(double value) {
    char buffer[64];
    // Scientific form of the shortest digits: "d[.ddd]e[+-]xx".
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                   std::chars_format::scientific);
    std::string scientific(buffer, ec == std::errc() ? end : buffer);

    std::string sign;
    std::size_t pos = 0;
    if (!scientific.empty() && scientific[0] == '-') {
        sign = "-";
        pos = 1;
    }
    const std::size_t ePos = scientific.find('e');
    std::string digits;
    for (std::size_t i = pos; i < ePos; ++i) {
        if (scientific[i] != '.') digits += scientific[i];
    }
    const int exponent = std::stoi(scientific.substr(ePos + 1));

    const double magnitude = std::fabs(value);
    if (magnitude >= 1e21 || magnitude < 1e-6) {
        std::string out = sign + digits.substr(0, 1);
        if (digits.size() > 1) out += "." + digits.substr(1);
        out += exponent < 0 ? "e-" : "e+";
        out += std::to_string(exponent < 0 ? -exponent : exponent);
        return out;
    }
    // Plain decimal: the point goes after (exponent + 1) digits.
    const int pointAt = exponent + 1;
    const int count = static_cast<int>(digits.size());
    if (pointAt <= 0) {
        return sign + "0." + std::string(static_cast<std::size_t>(-pointAt), '0') + digits;
    }
    if (pointAt >= count) {
        return sign + digits + std::string(static_cast<std::size_t>(pointAt - count), '0');
    }
    return sign + digits.substr(0, static_cast<std::size_t>(pointAt)) + "." +
           digits.substr(static_cast<std::size_t>(pointAt));
}

// Checks the decimal grammar: [+-] (digits [. digits?] | . digits) [(e|E) [+-] digits].
bool isDecimalNumber(std::string_view text) {
    std::size_t i = 0;
    const auto digitsFrom = [&](std::size_t at) {
        std::size_t j = at;
        while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
        return j - at;
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t mantissaDigits = digitsFrom(i);
    i += mantissaDigits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        const std::size_t fraction = digitsFrom(i);
        i += fraction;
        mantissaDigits += fraction;
    }
    if (mantissaDigits == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        const std::size_t exponentDigits = digitsFrom(i);
        if (exponentDigits == 0) return false;
        i += exponentDigits;
    }
    return i == text.size();
}

// from_chars reports values beyond the double range without a value; decide
// between overflow (an infinity) and underflow (a zero) from the text.
double outOfRangeValue(std::string_view text, bool negative) {
    long long exponent = 0;
    const std::size_t ePos = text.find_first_of("eE");
    if (ePos != std::string_view::npos) {
        std::string_view digits = text.substr(ePos + 1);
        bool negativeExponent = false;
        if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) {
            negativeExponent = digits[0] == '-';
            digits.remove_prefix(1);
        }
        for (char c : digits) {
            exponent = std::min<long long>(exponent * 10 + (c - '0'), 1'000'000'000LL);
        }
        if (negativeExponent) exponent = -exponent;
    }
    // Position of the first significant digit relative to the decimal point.
    const std::string_view mantissa = text.substr(0, ePos);
    long long integerDigits = 0;
    long long leadingFractionZeros = 0;
    bool seenPoint = false;
    bool seenSignificant = false;
    for (char c : mantissa) {
        if (c == '.') {
            seenPoint = true;
        } else if (c >= '0' && c <= '9') {
            if (c != '0') seenSignificant = true;
            if (!seenPoint && seenSignificant) ++integerDigits;
            if (seenPoint && !seenSignificant) ++leadingFractionZeros;
        }
    }
    const long long order = integerDigits > 0 ? integerDigits + exponent
                                              : exponent - leadingFractionZeros;
    const double magnitude = order > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -magnitude : magnitude;
}

}  // namespace

std::u16string numberToString(double value) {
    if (std::isnan(value)) return u"NaN";
    if (std::isinf(value)) return value > 0 ? u"Infinity" : u"-Infinity";
    if (value == 0) return u"0";
    return widen(formatFinite(value));
}

double stringToNumber(std::u16string_view text) {
    const std::u16string_view trimmed = trimWhiteSpaceAndNewlines(text);
    if (trimmed.empty()) return 0;
    if (trimmed == u"NaN") return std::numeric_limits<double>::quiet_NaN();
    if (trimmed == u"Infinity") return std::numeric_limits<double>::infinity();
    if (trimmed == u"-Infinity") return -std::numeric_limits<double>::infinity();

    std::string ascii;
    ascii.reserve(trimmed.size());
    for (char16_t unit : trimmed) {
        if (unit > 0x7F) return std::numeric_limits<double>::quiet_NaN();
        ascii += static_cast<char>(unit);
    }
    if (!isDecimalNumber(ascii)) return std::numeric_limits<double>::quiet_NaN();

    const bool negative = ascii[0] == '-';
    std::string_view unsignedText(ascii);
    if (ascii[0] == '+' || ascii[0] == '-') unsignedText.remove_prefix(1);
    double magnitude = 0;
    const auto [end, ec] = std::from_chars(unsignedText.data(),
                                           unsignedText.data() + unsignedText.size(),
                                           magnitude, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) return outOfRangeValue(unsignedText, negative);
    if (ec != std::errc() || end != unsignedText.data() + unsignedText.size()) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return negative ? -magnitude : magnitude;
}

std::int32_t toInt32(double value) {
    return static_cast<std::int32_t>(toUint32(value));
}

std::uint32_t toUint32(double value) {
    if (!std::isfinite(value)) return 0;
    const double truncated = std::trunc(value);
    double wrapped = std::fmod(truncated, 4294967296.0);
    if (wrapped < 0) wrapped += 4294967296.0;
    return static_cast<std::uint32_t>(wrapped);
}

double toInteger(double value) {
    if (std::isnan(value)) return 0;
    if (std::isinf(value) || value == 0) return value;
    return std::trunc(value);
}

std::int64_t saturatingInt64(double value) { return apm_saturatingInt64(value); }

}  // namespace measurement::rules
