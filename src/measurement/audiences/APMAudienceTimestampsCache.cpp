#include "measurement/audiences/APMAudienceTimestampsCache.h"

#include <algorithm>
#include <cmath>

#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMSaturatingConversion.h"

namespace {

// Times travel as whole seconds: the fraction is cut off.
std::int64_t wholeSeconds(double timestamp) { return apm_saturatingInt64(timestamp); }

}  // namespace

std::optional<std::vector<double>> APMSequenceTimestampsCache::sequenceTimestampsForFilterID(
    std::int32_t filterID) const {
    auto found = timestamps_.find(filterID);
    if (found == timestamps_.end()) return std::nullopt;
    return found->second;
}

void APMSequenceTimestampsCache::addEventFilterTimestamp(double timestamp, std::int32_t filterID) {
    std::vector<double>& times = timestamps_[filterID];
    if (!times.empty() && times.back() > timestamp) {
        APMMonitor::shared()->log(5, 42000, "Adding a sequence timestamp less than the last added timestamp");
    }
    if (!times.empty() && std::trunc(times.back()) == std::trunc(timestamp)) return;
    times.push_back(timestamp);
}

void APMSequenceTimestampsCache::setUserPropertyTimestamp(double timestamp, std::int32_t filterID) {
    std::vector<double>& times = timestamps_[filterID];
    if (!times.empty() && times.back() > timestamp) {
        APMMonitor::shared()->log(5, 42001, "Setting a sequence timestamp less than the last set timestamp");
    }
    times.assign(1, timestamp);
}

std::vector<APMAudienceSequenceTimestamps> APMSequenceTimestampsCache::sequenceFilterResultTimestamps() const {
    std::vector<APMAudienceSequenceTimestamps> entries;
    for (const auto& [filterID, times] : timestamps_) {
        APMAudienceSequenceTimestamps entry{filterID, {}};
        for (double time : times) entry.evalTimestamps.push_back(wholeSeconds(time));
        std::sort(entry.evalTimestamps.begin(), entry.evalTimestamps.end());
        entries.push_back(std::move(entry));
    }
    return entries;
}

void APMAudienceTimestampsCache::populateCachedTimestamps(const std::optional<APMFilterResult>& currentResult,
                                                          std::int32_t audienceID) {
    const bool needsDynamic = !dynamicTimestamps_.contains(audienceID);
    const bool needsSequence = !sequenceCaches_.contains(audienceID);
    if (!needsDynamic && !needsSequence) return;
    std::optional<APMAudienceResultData> stored;
    if (currentResult) stored = APMAudienceResultData::decode(currentResult->currentResults);
    if (needsDynamic) {
        std::map<std::int32_t, double>& dynamic = dynamicTimestamps_[audienceID];
        if (stored) {
            for (const auto& entry : stored->dynamicFilterTimestamps) {
                dynamic[entry.filterID] = static_cast<double>(entry.evalTimestamp);
            }
        }
    }
    if (needsSequence) {
        APMSequenceTimestampsCache& sequence = sequenceCache(audienceID);
        if (stored) {
            for (const auto& entry : stored->sequenceFilterTimestamps) {
                if (!entry.evalTimestamps.empty()) {
                    sequence.addEventFilterTimestamp(static_cast<double>(entry.evalTimestamps.back()), entry.filterID);
                }
            }
        }
    }
}

void APMAudienceTimestampsCache::addEvaluationTimestamp(double timestamp, const APMEventFilter& filter) {
    if (filter.isSequence) {
        sequenceCache(filter.audienceID).addEventFilterTimestamp(timestamp, filter.filterID);
    } else if (filter.isDynamic || filter.isSessionScoped) {
        addDynamicTimestamp(timestamp, filter.audienceID, filter.filterID);
    }
}

void APMAudienceTimestampsCache::addEvaluationTimestamp(double timestamp, const APMPropertyFilter& filter) {
    if (filter.isSequence) {
        sequenceCache(filter.audienceID).setUserPropertyTimestamp(timestamp, filter.filterID);
    } else if (filter.isDynamic || filter.isSessionScoped) {
        addDynamicTimestamp(timestamp, filter.audienceID, filter.filterID);
    }
}

void APMAudienceTimestampsCache::addDynamicTimestamp(double timestamp, std::int32_t audienceID,
                                                     std::int32_t filterID) {
    std::map<std::int32_t, double>& dynamic = dynamicTimestamps_[audienceID];
    auto stored = dynamic.find(filterID);
    const double current = stored == dynamic.end() ? 0 : stored->second;
    if (timestamp > current) {
        dynamic[filterID] = timestamp;
    } else {
        APMMonitor::shared()->log(5, 6037,
                                  "Candidate evaluation timestamp is earlier than cached evaluation timestamp");
    }
}

APMSequenceTimestampsCache& APMAudienceTimestampsCache::sequenceCache(std::int32_t audienceID) {
    return sequenceCaches_.try_emplace(audienceID, audienceID).first->second;
}

std::vector<APMAudienceDynamicTimestamp> APMAudienceTimestampsCache::dynamicTimestampsForAudienceID(
    std::int32_t audienceID) const {
    std::vector<APMAudienceDynamicTimestamp> entries;
    auto found = dynamicTimestamps_.find(audienceID);
    if (found == dynamicTimestamps_.end()) return entries;
    for (const auto& [filterID, time] : found->second) entries.push_back({filterID, wholeSeconds(time)});
    return entries;
}

std::optional<std::vector<APMAudienceSequenceTimestamps>> APMAudienceTimestampsCache::sequenceTimestampsForAudienceID(
    std::int32_t audienceID) const {
    auto found = sequenceCaches_.find(audienceID);
    if (found == sequenceCaches_.end()) return std::nullopt;
    return found->second.sequenceFilterResultTimestamps();
}
