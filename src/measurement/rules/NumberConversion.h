#pragma once
// Conversions between rule-engine numbers (IEEE doubles) and texts or
// integers. Texts are UTF-16, as the rule engine counts them.
//
// - numberToString: the shortest decimal that reads back as the same double,
//   in plain digits for magnitudes in [1e-6, 1e21), else "d.ddde+x"/"de-x".
// - stringToNumber: trims white space; "" is 0; "NaN", "Infinity" and
//   "-Infinity" literally; otherwise one whole decimal number or NaN.
// - toInt32/toUint32: modulo 2^32 wrapping of the truncated value (NaN and
//   infinities give 0). toInteger: truncation, NaN gives 0.
// - saturatingInt64: truncation clamped to the int64 range, NaN gives 0; the
//   only safe way from a double to a C++ integer.

#include <cstdint>
#include <string>
#include <string_view>

namespace measurement::rules {

std::u16string numberToString(double value);
double stringToNumber(std::u16string_view text);

std::int32_t toInt32(double value);
std::uint32_t toUint32(double value);
double toInteger(double value);
std::int64_t saturatingInt64(double value);

}  // namespace measurement::rules
