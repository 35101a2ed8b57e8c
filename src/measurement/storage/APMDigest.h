#pragma once
// Digests and fingerprints of bytes and texts.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The MD5 digest of the UTF-8 text as 32 lower-case hexadecimal digits.
std::string APMMD5String(std::string_view text);

// The last 8 bytes of the MD5 digest of the bytes, read big-endian, as a
// signed 64-bit integer (the fingerprint of raw-event metadata).
std::int64_t APM64LSBMD5(const std::uint8_t* bytes, std::size_t size);
inline std::int64_t APM64LSBMD5(std::string_view bytes) {
    return APM64LSBMD5(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// The last (up to) 8 bytes read big-endian as an unsigned integer; 0 for
// no bytes.
std::uint64_t APM64LeastSignificantBits(const std::uint8_t* bytes, std::size_t size);
