#include "measurement/rules/ValueIndex.h"

#include <cmath>
#include <limits>

namespace measurement::rules {
namespace {

std::optional<double> integralNumberForm(const APMPRuntimeValue& value) {
    if (value.kind() != ValueKind::Number && value.kind() != ValueKind::String) return std::nullopt;
    ErrorSlot error;
    const double number = value.doubleValueOrError(error);
    if (error || !std::isfinite(number) || number != std::trunc(number) || number < 0) {
        return std::nullopt;
    }
    return number;
}

}  // namespace

bool isIntegerValue(const APMPRuntimeValue& value) { return integralNumberForm(value).has_value(); }

std::optional<std::size_t> indexFromKey(const APMPRuntimeValue& key) {
    const std::optional<double> number = integralNumberForm(key);
    if (!number) return std::nullopt;
    // 2^64 is exactly representable; anything at or above it saturates.
    if (*number >= 18446744073709551616.0) return std::numeric_limits<std::size_t>::max();
    return static_cast<std::size_t>(*number);
}

std::size_t clampedPosition(double position, std::size_t length) {
    if (!(position > 0)) return 0;  // also NaN
    const double limit = static_cast<double>(length);
    return position >= limit ? length : static_cast<std::size_t>(position);
}

std::size_t relativePosition(double position, std::size_t length) {
    return clampedPosition(position < 0 ? position + static_cast<double>(length) : position, length);
}

}  // namespace measurement::rules
