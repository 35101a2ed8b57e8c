#include "Mossbridge/model/JsonNumberOverflow.h"

#include <charconv>
#include <algorithm>
#include <cstdint>
#include <optional>

namespace Mossbridge {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isNumberChar(char c) { return isDigit(c) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E'; }

// -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
bool isJsonNumber(std::string_view token) {
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t start = i;
        while (i < token.size() && isDigit(token[i])) ++i;
        return i > start;
    };
    if (i < token.size() && token[i] == '-') ++i;
    if (i < token.size() && token[i] == '0') {
        ++i;
    } else if (!digits()) {
        return false;
    }
    if (i < token.size() && token[i] == '.') {
        ++i;
        if (!digits()) return false;
    }
    if (i < token.size() && (token[i] == 'e' || token[i] == 'E')) {
        ++i;
        if (i < token.size() && (token[i] == '+' || token[i] == '-')) ++i;
        if (!digits()) return false;
    }
    return i == token.size();
}

// The decimal exponent k of a well-formed number d.ddd x 10^k (its leading
// non-zero digit), saturated far beyond the range of a double; none for zero.
std::optional<std::int64_t> decimalExponent(std::string_view token) {
    constexpr std::int64_t saturation = 1'000'000'000;
    const std::size_t mark = std::min(token.find_first_of("eE"), token.size());
    const std::string_view mantissa = token.substr(0, mark);

    std::int64_t integerDigits = 0;
    std::int64_t digitIndex = 0;
    std::optional<std::int64_t> leading;
    bool pastPoint = false;
    for (char c : mantissa) {
        if (c == '.') pastPoint = true;
        if (!isDigit(c)) continue;
        if (!pastPoint) ++integerDigits;
        if (!leading && c != '0') leading = digitIndex;
        if (digitIndex < saturation) ++digitIndex;
    }
    if (!leading) return std::nullopt;

    std::int64_t exponent = 0;
    if (mark < token.size()) {
        std::size_t i = mark + 1;
        const bool negative = token[i] == '-';
        if (token[i] == '-' || token[i] == '+') ++i;
        for (; i < token.size(); ++i) exponent = std::min(saturation, exponent * 10 + (token[i] - '0'));
        if (negative) exponent = -exponent;
    }
    return std::min(integerDigits, saturation) - 1 - *leading + exponent;
}

bool overflowsDouble(std::string_view token) {
    double value = 0;
    const auto parsed = std::from_chars(token.data(), token.data() + token.size(), value);
    if (parsed.ec != std::errc::result_out_of_range) return false;
    const auto exponent = decimalExponent(token);
    return exponent && *exponent > 0;  // out of range the other way is an underflow to zero
}

std::string marker(bool negative) {
    return std::string("{\"\\u0000overflow\":\"") + (negative ? "-" : "+") + "\"}";
}

}  // namespace

std::string rewriteOverflowingJsonNumbers(std::string_view json) {
    std::string result;
    result.reserve(json.size());
    bool inString = false;
    for (std::size_t i = 0; i < json.size();) {
        const char c = json[i];
        if (inString) {
            const std::size_t step = (c == '\\' && i + 1 < json.size()) ? 2 : 1;
            if (c == '"') inString = false;
            result.append(json.substr(i, step));
            i += step;
        } else if (c == '"') {
            inString = true;
            result += c;
            ++i;
        } else if (c == '-' || isDigit(c)) {
            std::size_t end = i;
            while (end < json.size() && isNumberChar(json[end])) ++end;
            const std::string_view token = json.substr(i, end - i);
            result += isJsonNumber(token) && overflowsDouble(token) ? marker(c == '-') : std::string(token);
            i = end;
        } else {
            result += c;
            ++i;
        }
    }
    return result;
}

}  // namespace Mossbridge
