#pragma once
// APMDailyCounts: the engine's per-day event counters. Every increment first
// starts a new day (all counts zero) when the given day differs from the
// stored one.

#include <cstdint>

class APMDailyCounts {
public:
    APMDailyCounts(std::int32_t day, std::int32_t conversionsCount, std::int32_t allEventsCount,
                   std::int32_t publicEventsCount, std::int32_t errorEventsCount, std::int32_t realtimeCount,
                   std::int32_t dcuRealtimeCount);

    std::int32_t day() const { return day_; }
    std::int32_t conversionsCount() const { return conversionsCount_; }
    std::int32_t allEventsCount() const { return allEventsCount_; }
    std::int32_t publicEventsCount() const { return publicEventsCount_; }
    std::int32_t errorEventsCount() const { return errorEventsCount_; }
    std::int32_t realtimeCount() const { return realtimeCount_; }
    std::int32_t dcuRealtimeCount() const { return dcuRealtimeCount_; }

    // Sets the day and zeroes every count.
    void resetWithNewDay(std::int32_t day);
    // conversions += 1 when a conversion; all += n; public += n when public.
    void incrementCountsForCurrentDay(std::int32_t day, bool isPublicEvent, bool isConversion,
                                      std::int32_t effectiveEventCount = 1);
    // error += 1 and all += 1.
    void incrementErrorEventsCountForCurrentDay(std::int32_t day);
    void incrementRealtimeCountsForCurrentDay(std::int32_t day);
    void incrementDCURealtimeCountsForCurrentDay(std::int32_t day);
    // all = max(all, 1) - 1.
    void decrementAllEventsCount();

    bool operator==(const APMDailyCounts&) const = default;

private:
    void startDay(std::int32_t day);

    std::int32_t day_;
    std::int32_t conversionsCount_;
    std::int32_t allEventsCount_;
    std::int32_t publicEventsCount_;
    std::int32_t errorEventsCount_;
    std::int32_t realtimeCount_;
    std::int32_t dcuRealtimeCount_;
};
