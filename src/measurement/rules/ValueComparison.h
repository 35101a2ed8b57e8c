#pragma once
// The program's comparisons: == (loose), === (strict) and ordering.
//
// - looseEquals: undefined equals null and nothing else; a number or boolean
//   compares by number forms; a string by string forms; maps, arrays and
//   functions only by identity against one another.
// - strictEquals: same kind; numbers and booleans by number, strings by
//   text, everything else by identity.
// - compareValues: -1, 0 or 1; string-like pairs by string form (UTF-16
//   code units), else by number (1 when either is NaN).
// Conversions may fail (values without forms); the error is then set.

#include <string>

#include "measurement/rules/APMPRuntimeValue.h"

namespace measurement::rules {

bool stringValuesEqual(const APMPRuntimeValue& a, const APMPRuntimeValue& b, ErrorSlot& error);
bool numberValuesEqual(const APMPRuntimeValue& a, const APMPRuntimeValue& b, ErrorSlot& error);
bool strictEquals(const APMPRuntimeValue& a, const APMPRuntimeValue& b, ErrorSlot& error);
bool looseEquals(const APMPRuntimeValue& a, const APMPRuntimeValue& b, ErrorSlot& error);
int compareValues(const APMPRuntimeValue& x, const APMPRuntimeValue& y, ErrorSlot& error);

}  // namespace measurement::rules
