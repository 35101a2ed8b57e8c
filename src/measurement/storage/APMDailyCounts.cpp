#include "measurement/storage/APMDailyCounts.h"

#include <algorithm>

APMDailyCounts::APMDailyCounts(std::int32_t day, std::int32_t conversionsCount, std::int32_t allEventsCount,
                               std::int32_t publicEventsCount, std::int32_t errorEventsCount,
                               std::int32_t realtimeCount, std::int32_t dcuRealtimeCount)
    : day_(day), conversionsCount_(conversionsCount), allEventsCount_(allEventsCount),
      publicEventsCount_(publicEventsCount), errorEventsCount_(errorEventsCount), realtimeCount_(realtimeCount),
      dcuRealtimeCount_(dcuRealtimeCount) {}

void APMDailyCounts::resetWithNewDay(std::int32_t day) {
    day_ = day;
    conversionsCount_ = allEventsCount_ = publicEventsCount_ = errorEventsCount_ = realtimeCount_ =
        dcuRealtimeCount_ = 0;
}

void APMDailyCounts::startDay(std::int32_t day) {
    if (day != day_) resetWithNewDay(day);
}

void APMDailyCounts::incrementCountsForCurrentDay(std::int32_t day, bool isPublicEvent, bool isConversion,
                                                  std::int32_t effectiveEventCount) {
    startDay(day);
    if (isConversion) ++conversionsCount_;
    allEventsCount_ += effectiveEventCount;
    if (isPublicEvent) publicEventsCount_ += effectiveEventCount;
}

void APMDailyCounts::incrementErrorEventsCountForCurrentDay(std::int32_t day) {
    startDay(day);
    ++errorEventsCount_;
    ++allEventsCount_;
}

void APMDailyCounts::incrementRealtimeCountsForCurrentDay(std::int32_t day) {
    startDay(day);
    ++realtimeCount_;
}

void APMDailyCounts::incrementDCURealtimeCountsForCurrentDay(std::int32_t day) {
    startDay(day);
    ++dcuRealtimeCount_;
}

void APMDailyCounts::decrementAllEventsCount() { allEventsCount_ = std::max(allEventsCount_, 1) - 1; }
