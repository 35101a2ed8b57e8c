// Event aggregates: one events row per event name, and the snapshot copy
// kept while analytics storage is denied.

#include "measurement/storage/APMDatabase.h"

namespace {

constexpr const char* kAggregateColumns =
    "name, lifetime_count, current_bundle_count, current_session_count, last_fire_timestamp, "
    "last_bundled_timestamp, last_bundled_day, last_sampling_rate, last_sampled_complex_event_id, "
    "last_exempt_from_sampling";

std::optional<APMEventAggregates> aggregatesFromRow(const APMSqliteRow& row) {
    auto name = row.text("name");
    auto lifetime = row.integer("lifetime_count");
    auto bundle = row.integer("current_bundle_count");
    auto session = row.integer("current_session_count");
    auto lastFire = row.real("last_fire_timestamp");
    if (!name || !lifetime || !bundle || !session || !lastFire) return std::nullopt;
    APMEventAggregates aggregates(std::move(*name), *lifetime, *bundle, *session, *lastFire);
    aggregates.lastBundledTimestamp = row.real("last_bundled_timestamp").value_or(0);
    aggregates.lastBundledDay = static_cast<std::int32_t>(row.integer("last_bundled_day").value_or(0));
    aggregates.lastSamplingRate = static_cast<std::int32_t>(row.integer("last_sampling_rate").value_or(0));
    aggregates.lastSampledComplexEventID = row.integer("last_sampled_complex_event_id");
    aggregates.lastExemptFromSampling = row.integer("last_exempt_from_sampling").value_or(0) != 0;
    return aggregates;
}

}  // namespace

APMResult<APMEventAggregates> APMDatabase::eventAggregatesWithName(const std::string& name) {
    return keptRead(keptAggregates_, "events", name, [&] {
        auto row = store_->firstRow(std::string("SELECT ") + kAggregateColumns + " FROM events WHERE name = ?", {name});
        if (row.failed()) return APMResult<APMEventAggregates>::failure(*row.error);
        if (!row.value) return APMResult<APMEventAggregates>::none();
        auto aggregates = aggregatesFromRow(*row.value);
        if (!aggregates) {
            return APMResult<APMEventAggregates>::failure(APMError::withCode(
                kAPMDatabaseErrorInvalidData, "Event aggregates row has missing or mistyped columns"));
        }
        return APMResult<APMEventAggregates>::success(std::move(*aggregates));
    });
}

bool APMDatabase::updateEventAggregates(const APMEventAggregates& aggregates, APMError* error) {
    if (aggregates.name().empty()) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Received event aggregates with empty name");
        return false;
    }
    const auto& sampled = aggregates.lastSampledComplexEventID;
    return run(std::string("INSERT OR REPLACE INTO events (") + kAggregateColumns +
                   ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
               {aggregates.name(), aggregates.lifetimeCount(), aggregates.currentBundleCount(),
                aggregates.currentSessionCount(), aggregates.lastFireTimestamp, aggregates.lastBundledTimestamp,
                std::int64_t{aggregates.lastBundledDay}, std::int64_t{aggregates.lastSamplingRate},
                sampled ? APMSqliteValue(*sampled) : APMSqliteValue(), std::int64_t{aggregates.lastExemptFromSampling}},
               error);
}

APMResult<std::vector<APMEventAggregates>> APMDatabase::allEventAggregates() {
    using Result = APMResult<std::vector<APMEventAggregates>>;
    auto rows = store_->recordsForQuery(std::string("SELECT ") + kAggregateColumns + " FROM events ORDER BY rowid", {});
    if (rows.failed()) return Result::failure(*rows.error);
    std::vector<APMEventAggregates> all;
    for (const auto& row : *rows.value) {
        if (auto aggregates = aggregatesFromRow(row)) all.push_back(std::move(*aggregates));
    }
    return Result::success(std::move(all));
}

APMResult<std::int64_t> APMDatabase::publicEventCount() {
    auto count = queryInteger("SELECT COUNT(*) FROM events WHERE substr(name, 1, 1) != '_'", {});
    return count.value || count.failed() ? count : APMResult<std::int64_t>::success(0);
}

bool APMDatabase::clearCurrentSessionCounts(APMError* error) {
    return run("UPDATE events SET current_session_count = 0", {}, error);
}

bool APMDatabase::createEventsSnapshotTable(APMError* error) {
    return runInTransaction(error, [&](APMError* failure) {
        return run("DELETE FROM events_snapshot", {}, failure) &&
               run(std::string("INSERT INTO events_snapshot (") + kAggregateColumns + ") SELECT " + kAggregateColumns +
                       " FROM events",
                   {}, failure);
    });
}

bool APMDatabase::restoreFromEventsSnapshotTable(APMError* error) {
    return runInTransaction(error, [&](APMError* failure) {
        return run("DELETE FROM events", {}, failure) &&
               run(std::string("INSERT INTO events (") + kAggregateColumns + ") SELECT " + kAggregateColumns +
                       " FROM events_snapshot",
                   {}, failure);
    });
}
