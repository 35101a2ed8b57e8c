#include "measurement/audiences/APMAudienceDecimal.h"

#include <utility>

#include "measurement/storage/APMDecimalNumber.h"
#include "measurement/storage/APMMonitor.h"

APMAudienceDecimal::APMAudienceDecimal(bool negative, std::string integerDigits, std::string fractionDigits)
    : integerDigits_(std::move(integerDigits)), fractionDigits_(std::move(fractionDigits)) {
    const auto firstSignificant = integerDigits_.find_first_not_of('0');
    integerDigits_.erase(0, firstSignificant == std::string::npos ? integerDigits_.size() : firstSignificant);
    const auto lastSignificant = fractionDigits_.find_last_not_of('0');
    fractionDigits_.erase(lastSignificant == std::string::npos ? 0 : lastSignificant + 1);
    negative_ = negative && !(integerDigits_.empty() && fractionDigits_.empty());
}

std::optional<APMAudienceDecimal> APMAudienceDecimal::fromString(const std::string& text) {
    if (!APMIsDecimalNumberString(text)) {
        APMMonitor::shared()->log(2, 26001, "String value does not represent a numeric value. Value", text);
        return std::nullopt;
    }
    std::string_view rest = text;
    bool negative = false;
    if (rest.front() == '+' || rest.front() == '-') {
        negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    const auto point = rest.find('.');
    std::string integerDigits(rest.substr(0, point));
    std::string fractionDigits(point == std::string_view::npos ? std::string_view() : rest.substr(point + 1));
    return APMAudienceDecimal(negative, std::move(integerDigits), std::move(fractionDigits));
}

APMAudienceDecimal APMAudienceDecimal::fromInt64(std::int64_t value) {
    // The magnitude is taken in unsigned arithmetic: the lowest int64 has no
    // positive twin.
    const bool negative = value < 0;
    std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    return APMAudienceDecimal(negative, std::to_string(magnitude), {});
}

int APMAudienceDecimal::compare(const APMAudienceDecimal& other) const {
    if (negative_ != other.negative_) return negative_ ? -1 : 1;
    int magnitude = 0;
    if (integerDigits_.size() != other.integerDigits_.size()) {
        magnitude = integerDigits_.size() < other.integerDigits_.size() ? -1 : 1;
    } else if (int byInteger = integerDigits_.compare(other.integerDigits_); byInteger != 0) {
        magnitude = byInteger < 0 ? -1 : 1;
    } else if (int byFraction = fractionDigits_.compare(other.fractionDigits_); byFraction != 0) {
        // Without trailing zeros a lexicographic order of the fraction digits
        // is the numeric order ("5" < "51" as 0.5 < 0.51).
        magnitude = byFraction < 0 ? -1 : 1;
    }
    return negative_ ? -magnitude : magnitude;
}

std::string APMAudienceDecimal::text() const {
    std::string text = negative_ ? "-" : "";
    text += integerDigits_.empty() ? "0" : integerDigits_;
    if (!fractionDigits_.empty()) text += "." + fractionDigits_;
    return text;
}
