#pragma once
// Whether bytes are well-formed UTF-8, as the platform requires to make a
// string of them (no overlong forms, no surrogates, nothing above U+10FFFF).

#include <cstddef>
#include <cstdint>

namespace measurement::messages {

bool isWellFormedUtf8(const std::uint8_t* bytes, std::size_t length);

}  // namespace measurement::messages
