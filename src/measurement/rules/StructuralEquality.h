#pragma once
// Structural equality of runtime values (isEqualToRuntimeValue): same kind,
// then equal contents; numbers treat NaN as equal to NaN and 0 as -0; maps
// compare names and values, arrays their slots, functions their non-empty
// names. Containers that contain themselves compare without recursing
// forever; nesting past kMaxNestingDepth counts as unequal.

#include "measurement/rules/APMPRuntimeValue.h"

namespace measurement::rules {

bool structurallyEqual(const APMPRuntimeValue& a, const APMPRuntimeValue& b);

}  // namespace measurement::rules
