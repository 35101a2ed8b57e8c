#pragma once
// Decimal-number texts: the test that a text is a plain decimal number, the
// number it stands for (read as in the "en_US" locale), and the shortest
// decimal text of a double.

#include <optional>
#include <string>

// True when `text` is not empty and matches
// "^[+-]?(([0-9]+\.?)|([0-9]*\.[0-9]+))$". The expression is compiled once;
// when it cannot be, 26000 (level 2) is logged and the answer is false.
bool APMIsDecimalNumberString(const std::string& text);

// The number of a text that passes APMIsDecimalNumberString, or none: a text
// that fails the test logs 26001, one that reads as not-a-number 26002, and
// one whose digits the number cannot hold (the number's text, of its absolute
// value, does not occur in the input with each leading "." read as "0.")
// 26003, all level 2.
[[nodiscard]] std::optional<double> APMDecimalNumberFromString(const std::string& text);

// The shortest fixed-notation text that reads back as `value` ("0.1", "5",
// "-2.25", "100000000000000000000"); "nan", "inf" and "-inf" otherwise.
std::string APMDecimalText(double value);
