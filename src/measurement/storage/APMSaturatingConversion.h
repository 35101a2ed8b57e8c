#pragma once
// Double-to-integer conversions that are defined for every input. Remote
// configuration, stored rows and rule programs can hand us NaN, infinities or
// values far outside the int64 range; a plain cast of those is undefined
// behaviour. Truncation toward zero, clamped to the int64 range; NaN gives 0.

#include <cmath>
#include <cstdint>
#include <limits>

inline std::int64_t apm_saturatingInt64(double value) {
    if (std::isnan(value)) return 0;
    // 2^63 is exactly representable; anything at or above it saturates.
    if (value >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    if (value <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

// Seconds (as the platform's time intervals) to whole milliseconds, truncated.
inline std::int64_t apm_millisecondsFromSeconds(double seconds) {
    return apm_saturatingInt64(seconds * 1000.0);
}
