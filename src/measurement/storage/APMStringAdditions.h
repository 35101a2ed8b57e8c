#pragma once
// Small operations on UTF-8 texts: lengths and bytes in UTF-32, and reading
// a text of "0"s and "1"s as a bit field.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The length in code points (the UTF-32 byte length divided by 4).
std::size_t APMUTF32Length(std::string_view text);
// At most `maxBytes` bytes of the text's UTF-32 little-endian form.
std::vector<std::uint8_t> APMUTF32Bytes(std::string_view text, std::size_t maxBytes);
// True when `index` is not negative, lies below the text's length and the
// character there is "1".
bool APMIsBitEnabledAtIndex(std::string_view bits, long long index);
