#pragma once
// Index keys: a number or string value whose number form is integral,
// finite and not negative (minus zero counts as 0) addresses a slot of an
// array or a unit of a string.

#include <cstddef>
#include <optional>

#include "measurement/rules/APMPRuntimeValue.h"

namespace measurement::rules {

bool isIntegerValue(const APMPRuntimeValue& value);

// The index such a key names, saturated to SIZE_MAX for numbers beyond it;
// none for any other key.
std::optional<std::size_t> indexFromKey(const APMPRuntimeValue& key);

// Position arguments of string and array methods, given as integers
// (ToInteger results, infinities possible) and clamped to [0, length];
// relativePosition first counts a negative position from the end.
std::size_t clampedPosition(double position, std::size_t length);
std::size_t relativePosition(double position, std::size_t length);

}  // namespace measurement::rules
