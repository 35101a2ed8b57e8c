#pragma once
// Random numbers from the system's secure random source.

#include <cstdint>

struct APMNumericUtil {
    // A random signed 64-bit integer; when the source fails, 26004 (level 1)
    // is logged and the answer is 0.
    static std::int64_t randomInt64();
};
