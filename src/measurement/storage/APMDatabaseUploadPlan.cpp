// What the upload plan reads of the store: whether anything waits, the
// latest times and the real-time flags, each on its own or all in one
// statement (one snapshot without a transaction).

#include <algorithm>

#include "measurement/storage/APMDatabase.h"

namespace {

constexpr const char* kQueuedBundleExists = "SELECT EXISTS (SELECT 1 FROM queue)";
constexpr const char* kRawEventExists = "SELECT EXISTS (SELECT 1 FROM raw_events)";
constexpr const char* kLatestRawEventTime = "SELECT MAX(timestamp) FROM raw_events";
constexpr const char* kLatestBundleTime = "SELECT MAX(bundle_end_timestamp) FROM queue";
constexpr const char* kRealtimeBundleExists = "SELECT EXISTS (SELECT 1 FROM queue WHERE is_realtime = 1)";
constexpr const char* kRealtimeRawEventExists = "SELECT EXISTS (SELECT 1 FROM raw_events WHERE realtime = 1)";

APMResult<bool> isEmpty(const APMResult<std::int64_t>& exists) {
    if (exists.failed()) return APMResult<bool>::failure(*exists.error);
    return APMResult<bool>::success(exists.value.value_or(0) == 0);
}

APMResult<bool> isNotEmpty(const APMResult<std::int64_t>& exists) {
    if (exists.failed()) return APMResult<bool>::failure(*exists.error);
    return APMResult<bool>::success(exists.value.value_or(0) != 0);
}

APMResult<double> secondsFromMilliseconds(const APMResult<std::int64_t>& latest) {
    if (latest.failed()) return APMResult<double>::failure(*latest.error);
    if (!latest.value) return APMResult<double>::none();
    return APMResult<double>::success(static_cast<double>(*latest.value) / 1000.0);
}

}  // namespace

APMResult<bool> APMDatabase::isQueuedBundleTableEmpty() { return isEmpty(queryInteger(kQueuedBundleExists, {})); }

APMResult<bool> APMDatabase::isRawEventsTableEmpty() { return isEmpty(queryInteger(kRawEventExists, {})); }

APMResult<double> APMDatabase::queryLatestRawEventTime() { return queryReal(kLatestRawEventTime, {}); }

APMResult<double> APMDatabase::queryLatestBundleTime() {
    return secondsFromMilliseconds(queryInteger(kLatestBundleTime, {}));
}

APMResult<bool> APMDatabase::containsRealtimeBundles() { return isNotEmpty(queryInteger(kRealtimeBundleExists, {})); }

APMResult<bool> APMDatabase::containsRealtimeRawEvents() {
    return isNotEmpty(queryInteger(kRealtimeRawEventExists, {}));
}

std::uint64_t APMDatabase::uploadPlanGeneration() const {
    return store_->tableWriteGeneration({"queue", "raw_events"});
}

// Asked after every event: kept while neither table changes, and carried
// over the event's own raw-event row by the writer.
APMResult<APMUploadPlanReads> APMDatabase::uploadPlanReads() {
    return keptRead(keptUploadPlan_, uploadPlanGeneration(), "", [&] { return readUploadPlan(); });
}

void APMDatabase::carryUploadPlanOverRawEvent(std::uint64_t before, double timestamp, bool isRealtime) {
    // Exactly one row of one of the two tables changed: the one inserted.
    const std::uint64_t after = uploadPlanGeneration();
    if (after != before + 1) return;
    keptUploadPlan_.carryOver("", before, after, [&](APMUploadPlanReads& plan) {
        if (plan.bundlesEmpty.failed() || plan.rawEventsEmpty.failed() || plan.latestRawEventTime.failed() ||
            plan.latestBundleTime.failed() || plan.realtimeBundles.failed() || plan.realtimeRawEvents.failed()) {
            return false;
        }
        plan.rawEventsEmpty = APMResult<bool>::success(false);
        plan.latestRawEventTime =
            APMResult<double>::success(std::max(plan.latestRawEventTime.value.value_or(timestamp), timestamp));
        if (isRealtime) plan.realtimeRawEvents = APMResult<bool>::success(true);
        return true;
    });
}

APMResult<APMUploadPlanReads> APMDatabase::readUploadPlan() {
    const char* const queries[] = {kQueuedBundleExists, kRawEventExists,       kLatestRawEventTime,
                                   kLatestBundleTime,   kRealtimeBundleExists, kRealtimeRawEventExists};
    std::string sql = "SELECT ";
    for (const char* query : queries) sql += std::string(sql.size() > 7 ? ", (" : "(") + query + ")";
    auto row = store_->firstRow(sql, {});
    if (row.failed()) return APMResult<APMUploadPlanReads>::failure(*row.error);
    if (!row.value || row.value->size() != std::size(queries)) return APMResult<APMUploadPlanReads>::none();
    // Each column answers as its own query would.
    auto integer = [&](std::size_t column) { return integerValue(*row.value, column, queries[column]); };
    APMUploadPlanReads reads{isEmpty(integer(0)),
                             isEmpty(integer(1)),
                             realValue(*row.value, 2, queries[2]),
                             secondsFromMilliseconds(integer(3)),
                             isNotEmpty(integer(4)),
                             isNotEmpty(integer(5))};
    return APMResult<APMUploadPlanReads>::success(std::move(reads));
}
