#pragma once
// APMAppMetadata: the bundle and delivery indexes and the bundle time stamps
// of the measurement database's app-metadata row. Both indexes stay within
// the non-negative 32-bit range.

#include <cstdint>

struct APMAppMetadata {
    std::int64_t lastBundleIndex = 0;
    std::int64_t lastDeliveryIndex = 0;
    double lastBundleStartTimestamp = 0;
    double lastBundleEndTimestamp = 0;
    double lastDiagnosticsUploadTimestamp = 0;

    // Adds `count`; a sum of 2147483648 or more wraps to count - 1 and logs
    // 4001 (level 5).
    void increaseLastBundleIndex(std::int64_t count);
    // Adds one; past 2147483647 it restarts at 0 and logs 4002 (level 5).
    void incrementLastDeliveryIndex();

    bool operator==(const APMAppMetadata&) const = default;
};
