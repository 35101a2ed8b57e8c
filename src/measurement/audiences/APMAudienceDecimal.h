#pragma once
// Exact decimal numbers for audience number filters. Bounds arrive as text
// ("0.1", "-12.50", "+3.") and values as text or 64-bit integers; both are
// compared digit by digit, so no bound is rounded to the nearest binary
// fraction and no integer is narrowed or overflows on the way.

#include <cstdint>
#include <optional>
#include <string>

class APMAudienceDecimal {
public:
    // The number of a plain decimal text (optional sign, digits with at most
    // one point, no exponent), or none: a text that fails the decimal-string
    // test logs 26001 (level 2), as the stored-value parser does.
    [[nodiscard]] static std::optional<APMAudienceDecimal> fromString(const std::string& text);
    static APMAudienceDecimal fromInt64(std::int64_t value);

    // Negative, zero or positive, as `*this` is below, equal to or above `other`.
    int compare(const APMAudienceDecimal& other) const;
    bool operator==(const APMAudienceDecimal& other) const { return compare(other) == 0; }
    bool operator<(const APMAudienceDecimal& other) const { return compare(other) < 0; }
    bool operator<=(const APMAudienceDecimal& other) const { return compare(other) <= 0; }

    // Canonical text ("-0.5", "12", "0"), for log lines.
    std::string text() const;

private:
    APMAudienceDecimal(bool negative, std::string integerDigits, std::string fractionDigits);

    // Zero is never negative; integer digits carry no leading zeros and
    // fraction digits no trailing ones, so equal numbers have equal fields.
    bool negative_ = false;
    std::string integerDigits_;
    std::string fractionDigits_;
};
