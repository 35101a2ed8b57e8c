#pragma once
// The evaluation times kept while one bundle is built (or for one call when
// the caller gives no cache): per audience, the latest time of each dynamic
// or session-scoped filter and the list of times of each sequence filter.
// An audience's stored times are loaded once, on its first use; from then on
// the cache's view replaces the stored times in every updated result.
// Not locked: used on the measurement worker queue only.

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "measurement/audiences/APMAudienceResultData.h"
#include "measurement/storage/APMAudienceFilters.h"

// The times of the sequence filters of one audience.
class APMSequenceTimestampsCache {
public:
    explicit APMSequenceTimestampsCache(std::int32_t audienceID) : audienceID_(audienceID) {}

    std::int32_t audienceID() const { return audienceID_; }
    // A copy of the filter's list; none when the filter has none.
    std::optional<std::vector<double>> sequenceTimestampsForFilterID(std::int32_t filterID) const;
    // Appends `timestamp` unless the last time has the same whole-second
    // value; an earlier time than the last logs 42000 (level 5) and is still
    // appended.
    void addEventFilterTimestamp(double timestamp, std::int32_t filterID);
    // The list becomes exactly [timestamp]; an earlier time than the last
    // logs 42001 (level 5).
    void setUserPropertyTimestamp(double timestamp, std::int32_t filterID);
    // One entry per filter in ascending ID order, times sorted ascending.
    std::vector<APMAudienceSequenceTimestamps> sequenceFilterResultTimestamps() const;

private:
    std::int32_t audienceID_;
    std::map<std::int32_t, std::vector<double>> timestamps_;
};

class APMAudienceTimestampsCache {
public:
    // Loads the audience's stored times once per cache: the dynamic times as
    // they are, and of each sequence list only its last time. Later calls for
    // the same audience change nothing.
    void populateCachedTimestamps(const std::optional<APMFilterResult>& currentResult, std::int32_t audienceID);
    // Records a true verdict's time: a sequence filter adds (event filter) or
    // sets (property filter) it; a dynamic or session-scoped filter keeps the
    // later of the stored and the new time (an earlier or equal one logs
    // 6037, level 5); any other filter keeps nothing.
    void addEvaluationTimestamp(double timestamp, const APMEventFilter& filter);
    void addEvaluationTimestamp(double timestamp, const APMPropertyFilter& filter);

    // In ascending filter ID order; empty when the audience has none.
    std::vector<APMAudienceDynamicTimestamp> dynamicTimestampsForAudienceID(std::int32_t audienceID) const;
    // None when the cache has no sequence entry for the audience.
    std::optional<std::vector<APMAudienceSequenceTimestamps>> sequenceTimestampsForAudienceID(
        std::int32_t audienceID) const;

private:
    void addDynamicTimestamp(double timestamp, std::int32_t audienceID, std::int32_t filterID);
    APMSequenceTimestampsCache& sequenceCache(std::int32_t audienceID);

    std::map<std::int32_t, std::map<std::int32_t, double>> dynamicTimestamps_;
    std::map<std::int32_t, APMSequenceTimestampsCache> sequenceCaches_;
};
