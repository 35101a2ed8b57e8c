// Audience results: folding a verdict into a result, collecting the results
// for a bundle, and clearing session-scoped filters at a session start.
#include <algorithm>
#include <utility>

#include "measurement/audiences/APMAudience.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMMonitor.h"

namespace {

// Slots of AudienceLeafFilterResult (tag minus one).
constexpr int kLeafAudienceIDSlot = 0;
constexpr int kLeafCurrentDataSlot = 1;
constexpr int kLeafPreviousDataSlot = 2;
constexpr int kLeafNewAudienceSlot = 3;

std::shared_ptr<APMMonitor> monitor() { return APMMonitor::shared(); }

APMError errorOr(const std::optional<APMError>& error) {
    return error.value_or(APMError::withCode(0, "Unknown database error"));
}

// An unchanged audience sends only the last time of its first sequence
// filter; true when the data was shortened.
bool shortenFirstSequence(APMAudienceResultData& data) {
    if (data.sequenceFilterTimestamps.empty()) return false;
    std::vector<std::int64_t>& times = data.sequenceFilterTimestamps.front().evalTimestamps;
    if (times.size() < 2) return false;
    times.erase(times.begin(), times.end() - 1);
    return true;
}

}  // namespace

bool APMAudience::isFilterResult(const std::optional<APMFilterResult>& result, std::int32_t filterID) {
    if (!result || result->currentResults.empty()) return false;
    std::optional<APMAudienceResultData> data = APMAudienceResultData::decode(result->currentResults);
    if (!data) return false;
    if (data->status.empty() || data->results.empty()) {
        monitor()->log(2, 6023,
                       "Audience filter result is non-nil and is missing status or results array. Audience result "
                       "will not be bundled. Audience ID, result data",
                       result->audienceID, static_cast<unsigned long>(result->currentResults.size()));
        return false;
    }
    return data->isTrue(filterID);
}

APMFilterResult APMAudience::updatedFilterResult(std::int32_t filterID, std::int32_t audienceID,
                                                 const std::optional<APMFilterResult>& currentResult,
                                                 std::optional<bool> newEvaluationResult,
                                                 const APMAudienceTimestampsCache& cache) {
    APMAudienceResultData data;
    if (currentResult) {
        if (auto stored = APMAudienceResultData::decode(currentResult->currentResults)) {
            data.status = std::move(stored->status);
            data.results = std::move(stored->results);
        }
    }
    data.setVerdict(filterID, newEvaluationResult);
    data.dynamicFilterTimestamps = cache.dynamicTimestampsForAudienceID(audienceID);
    if (auto sequences = cache.sequenceTimestampsForAudienceID(audienceID)) {
        data.sequenceFilterTimestamps = std::move(*sequences);
    }
    return {audienceID, data.encoded(), currentResult ? currentResult->previousResults : APMBytes{}};
}

bool APMAudience::resultsForBundling(std::vector<std::shared_ptr<APMPBAudienceLeafFilterResult>>* results) {
    if (results) results->clear();
    auto stored = database_->allFilterResults();
    if (stored.failed() || !stored.value) {
        monitor()->log(1, 6019, "Unable to query Audience filter results. Audience results will not be bundled. Error",
                       errorOr(stored.error));
        return false;
    }
    std::vector<std::shared_ptr<APMPBAudienceLeafFilterResult>> leaves;
    std::vector<APMFilterResult> rotated;
    for (const auto& [audienceID, result] : *stored.value) {
        std::optional<APMAudienceResultData> current = APMAudienceResultData::decode(result.currentResults);
        if (!current) {
            monitor()->log(2, 6020, "Current result data is nil. Audience result will not be bundled. Audience ID",
                           audienceID);
            continue;
        }
        if (!current->hasAnyStatusBit()) {
            monitor()->log(2, 6021, "Current result status is 0. Audience result will not be bundled. Audience ID",
                           audienceID);
            continue;
        }
        auto leaf = APMPBAudienceLeafFilterResult::initWithMessageInfo(nullptr);
        APMPBSetInt32(*leaf, kLeafAudienceIDSlot, audienceID);
        APMBytes currentBytes = result.currentResults;
        if (!result.previousResults.empty()) {
            APMPBSetBool(*leaf, kLeafNewAudienceSlot, false);
            std::optional<APMAudienceResultData> previous = APMAudienceResultData::decode(result.previousResults);
            if (previous && *previous == *current) {
                if (shortenFirstSequence(*current)) currentBytes = current->encoded();
            } else if (previous) {
                APMPBSetMessage(*leaf, kLeafPreviousDataSlot, previous->message().get());
            }
        } else {
            APMPBSetBool(*leaf, kLeafNewAudienceSlot, true);
        }
        APMPBSetMessage(*leaf, kLeafCurrentDataSlot, current->message().get());
        leaves.push_back(std::move(leaf));
        rotated.push_back({audienceID, std::move(currentBytes), result.currentResults});
    }
    APMError error;
    if (!rotated.empty() && !database_->updateFilterResults(rotated, &error)) {
        monitor()->log(1, 6022,
                       "Unable to save updated Audience filter results. Audience results will not be bundled. Error",
                       error);
        return false;
    }
    if (results) *results = std::move(leaves);
    return true;
}

bool APMAudience::clearEvaluationResultsForSessionScopedFilters() {
    auto sessionScoped = database_->allSessionScopedFilters();
    if (sessionScoped.failed() || !sessionScoped.value) {
        monitor()->log(1, 6040,
                       "Unable to query all session scoped filters. Session scoped results will not be cleared. Error",
                       errorOr(sessionScoped.error));
        return false;
    }
    auto stored = database_->allFilterResults();
    if (stored.failed() || !stored.value) {
        monitor()->log(1, 6041, "Unable to query all filter results. Session scoped results will not be cleared. Error",
                       errorOr(stored.error));
        return false;
    }
    for (const auto& [audienceID, filterIDs] : *sessionScoped.value) {
        auto found = stored.value->find(audienceID);
        if (found == stored.value->end()) continue;
        const APMFilterResult& result = found->second;
        std::optional<APMAudienceResultData> data = APMAudienceResultData::decode(result.currentResults);
        if (!data) continue;
        for (std::int32_t filterID : filterIDs) data->clearFilter(filterID);
        APMError error;
        if (data->hasAnyStatusBit()) {
            auto isSessionScoped = [&](std::int32_t filterID) {
                return std::find(filterIDs.begin(), filterIDs.end(), filterID) != filterIDs.end();
            };
            std::erase_if(data->dynamicFilterTimestamps,
                          [&](const auto& entry) { return isSessionScoped(entry.filterID); });
            std::erase_if(data->sequenceFilterTimestamps,
                          [&](const auto& entry) { return isSessionScoped(entry.filterID); });
            if (!database_->updateFilterResults({{audienceID, data->encoded(), result.currentResults}}, &error)) {
                monitor()->log(2, 6043, "Unable to update filter results. Session scoped results will not be cleared. "
                                        "Error",
                               error);
                return false;
            }
        } else if (!database_->deleteFilterResults({result}, &error)) {
            monitor()->log(1, 6042,
                           "Unable to delete filter results. Session scoped results will not be cleared. Error",
                           error);
            return false;
        }
    }
    return true;
}
