// Raw events (one row per stored event) and their metadata (one encoded
// MeasurementBundle per fingerprint, shared by the events written under it).

#include "measurement/storage/APMDatabase.h"

#include "measurement/storage/APMDigest.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMSaturatingConversion.h"

namespace {

constexpr std::int64_t kRawEventMetadataTableLimit = 100000;
constexpr const char* kRawEventColumns = "rowid, name, timestamp, metadata_fingerprint, data, realtime";

}  // namespace

bool APMDatabase::insertRawEvent(const std::string& name, double timestamp, const APMBytes& encodedEvent,
                                 std::int64_t metadataFingerprint, bool isRealtime, APMError* error) {
    if (name.empty() || encodedEvent.empty()) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Received empty event to insert into raw events");
        return false;
    }
    const std::uint64_t before = uploadPlanGeneration();
    if (!run("INSERT INTO raw_events (name, timestamp, metadata_fingerprint, data, realtime) VALUES (?, ?, ?, ?, ?)",
             {name, timestamp, metadataFingerprint, encodedEvent, std::int64_t{isRealtime}}, error)) {
        return false;
    }
    carryUploadPlanOverRawEvent(before, timestamp, isRealtime);
    return true;
}

bool APMDatabase::updateRawEvent(const APMRawEventRecord& record, APMError* error) {
    if (record.name.empty() || record.data.empty()) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Received empty raw event to update");
        return false;
    }
    auto changed = store_->execute("UPDATE raw_events SET name = ?, timestamp = ?, data = ? WHERE rowid = ?",
                                   {record.name, record.timestamp, record.data, record.rowID});
    if (changed.failed()) {
        if (error) *error = *changed.error;
        return false;
    }
    if (*changed.value == 0) {
        APMSetError(error, kAPMDatabaseErrorRowMissing, "No raw event with row ID " + std::to_string(record.rowID));
        return false;
    }
    return true;
}

APMResult<APMRawEventRecord> APMDatabase::rawEventRecordFromRow(const APMSqliteRow& row) {
    auto rowID = row.integer("rowid");
    auto name = row.text("name");
    auto timestamp = row.real("timestamp");
    auto fingerprint = row.integer("metadata_fingerprint");
    auto data = row.blob("data");
    if (!rowID || !name || !timestamp || !fingerprint || !data) {
        return APMResult<APMRawEventRecord>::failure(APMError::withCode(
            kAPMDatabaseErrorInvalidData, "Raw event row has missing or mistyped columns"));
    }
    return APMResult<APMRawEventRecord>::success(APMRawEventRecord{
        *rowID, std::move(*name), *timestamp, *fingerprint, std::move(*data), row.integer("realtime").value_or(0) != 0});
}

APMResult<std::vector<APMRawEventRecord>> APMDatabase::allRawEvents() {
    std::vector<APMRawEventRecord> events;
    APMError error;
    bool ran = store_->forEachRow(std::string("SELECT ") + kRawEventColumns + " FROM raw_events ORDER BY rowid ASC", {},
                                  [&](const APMSqliteRow& row) {
                                      auto record = rawEventRecordFromRow(row);
                                      if (record.value) events.push_back(std::move(*record.value));
                                      return true;
                                  },
                                  &error);
    if (!ran) return APMResult<std::vector<APMRawEventRecord>>::failure(error);
    return APMResult<std::vector<APMRawEventRecord>>::success(std::move(events));
}

APMResult<std::vector<APMRawEventRecord>> APMDatabase::rawEventsWithMetadataFingerprint(std::int64_t fingerprint,
                                                                                        std::int64_t limit,
                                                                                        const RawEventFilter& filter) {
    std::vector<APMRawEventRecord> events;
    std::size_t accepted = 0;
    bool sawRow = false;
    APMError error;
    bool ran = store_->forEachRow(
        "SELECT rowid, * FROM raw_events WHERE metadata_fingerprint = ? ORDER BY rowid ASC LIMIT ?",
        {fingerprint, std::max<std::int64_t>(limit, 0)},
        [&](const APMSqliteRow& row) {
            sawRow = true;
            if (filter && !filter(row, accepted)) return false;
            ++accepted;
            auto record = rawEventRecordFromRow(row);
            if (record.value) events.push_back(std::move(*record.value));
            return true;
        },
        &error);
    if (!ran) return APMResult<std::vector<APMRawEventRecord>>::failure(error);
    if (sawRow && accepted == 0) {
        APMMonitor::shared()->log(4, 34005, "Database contains records that were all filtered out");
    }
    return APMResult<std::vector<APMRawEventRecord>>::success(std::move(events));
}

APMResult<std::int64_t> APMDatabase::nextMetadataFingerprintToProcess() {
    auto row = store_->firstRow("SELECT metadata_fingerprint, MIN(rowid) FROM raw_events", {});
    if (row.failed()) return APMResult<std::int64_t>::failure(*row.error);
    auto fingerprint = row.value ? row.value->integer("metadata_fingerprint") : std::nullopt;
    return fingerprint ? APMResult<std::int64_t>::success(*fingerprint) : APMResult<std::int64_t>::none();
}

bool APMDatabase::deleteRawEventsWithMaxRowID(std::int64_t maxRowID, APMError* error) {
    return run("DELETE FROM raw_events WHERE rowid <= ?", {maxRowID}, error);
}

bool APMDatabase::deleteRawEventWithRowID(std::int64_t rowID, APMError* error) {
    return run("DELETE FROM raw_events WHERE rowid = ?", {rowID}, error);
}

APMResult<std::int64_t> APMDatabase::deleteRawEventsWithMetadataFingerprint(std::int64_t fingerprint) {
    return store_->execute("DELETE FROM raw_events WHERE metadata_fingerprint = ?", {fingerprint});
}

APMResult<bool> APMDatabase::containsRawEventWithMetadataFingerprint(std::int64_t fingerprint) {
    return queryExists("SELECT EXISTS (SELECT 1 FROM raw_events WHERE metadata_fingerprint = ? LIMIT 1)", {fingerprint});
}

bool APMDatabase::insertIfNotExistsRawEventMetadata(const APMBytes& encodedBundle, APMError* error,
                                                     std::int64_t* fingerprintOut) {
    if (encodedBundle.empty()) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Received empty raw event metadata to insert");
        return false;
    }
    // Events in a row mostly carry the same metadata: its hash is kept.
    if (lastHashedMetadata_.first != encodedBundle) {
        lastHashedMetadata_ = {encodedBundle, APM64LSBMD5(encodedBundle.data(), encodedBundle.size())};
    }
    const std::int64_t fingerprint = lastHashedMetadata_.second;
    if (fingerprintOut) *fingerprintOut = fingerprint;
    auto exists = existsInTable("raw_events_metadata",
                                "SELECT EXISTS (SELECT 1 FROM raw_events_metadata WHERE metadata_fingerprint = ?)",
                                {fingerprint});
    if (exists.failed()) {
        if (error) *error = *exists.error;
        return false;
    }
    if (!*exists.value &&
        !upsertDataType(APMSqliteRow{{"metadata_fingerprint", fingerprint}, {"metadata", encodedBundle}},
                        "raw_events_metadata", "metadata_fingerprint", fingerprint, kRawEventMetadataTableLimit,
                        error)) {
        return false;
    }
    lastEnsuredMetadataFingerprint_ = fingerprint;
    return true;
}

APMResult<APMBytes> APMDatabase::queryRawEventsMetadataWithFingerprint(std::int64_t fingerprint) {
    auto row = store_->firstRow("SELECT metadata FROM raw_events_metadata WHERE metadata_fingerprint = ?", {fingerprint});
    if (row.failed()) return APMResult<APMBytes>::failure(*row.error);
    if (!row.value) return APMResult<APMBytes>::none();
    auto metadata = row.value->blob("metadata");
    if (!metadata) {
        return APMResult<APMBytes>::failure(
            APMError::withCode(kAPMDatabaseErrorInvalidData, "Raw event metadata is not a blob"));
    }
    return APMResult<APMBytes>::success(std::move(*metadata));
}

bool APMDatabase::deleteRawEventMetadataWithMetadataFingerprint(std::int64_t fingerprint, APMError* error) {
    return run("DELETE FROM raw_events_metadata WHERE metadata_fingerprint == ?", {fingerprint}, error);
}

bool APMDatabase::deleteOrphanedRawEventMetadata(APMError* error) {
    return run("DELETE FROM raw_events_metadata WHERE metadata_fingerprint != ? AND NOT EXISTS "
               "(SELECT 1 FROM raw_events WHERE raw_events.metadata_fingerprint = raw_events_metadata.metadata_fingerprint)",
               {lastEnsuredMetadataFingerprint_ ? APMSqliteValue(*lastEnsuredMetadataFingerprint_) : APMSqliteValue()},
               error);
}

namespace {

// The number of raw events, kept by this connection in a temporary table that
// triggers on raw_events maintain. Temporary objects belong to the
// connection and take part in its transactions: a rolled-back write undoes
// its count, and a write that created the counter and was rolled back takes
// the counter with it, so the next call simply creates it again (one full
// count per connection, then constant cost per write). Rows other
// connections write fire no trigger here: after their commits, and after a
// rollback that may have undone a count, the script counts again.
constexpr const char* kRawEventCounterScript = R"sql(
CREATE TEMP TABLE IF NOT EXISTS raw_events_count (n INTEGER NOT NULL);
CREATE TEMP TRIGGER IF NOT EXISTS raw_events_count_insert AFTER INSERT ON main.raw_events
BEGIN UPDATE raw_events_count SET n = n + 1; END;
CREATE TEMP TRIGGER IF NOT EXISTS raw_events_count_delete AFTER DELETE ON main.raw_events
BEGIN UPDATE raw_events_count SET n = n - 1; END;
DELETE FROM raw_events_count;
INSERT INTO raw_events_count (n) SELECT COUNT(*) FROM main.raw_events;
)sql";

constexpr const char* kRawEventCountQuery = "SELECT n FROM temp.raw_events_count";

}  // namespace

APMResult<std::int64_t> APMDatabase::deleteRawEventsOverAbsoluteLimit() {
    using Result = APMResult<std::int64_t>;
    // A limit of 0 (or less) keeps no old event rather than all of them.
    const std::int64_t keep = std::max<std::int64_t>(storageLimits().maxEventsStored - 1, 0);
    const std::uint64_t countedAt = store_->otherConnectionsCommits() + store_->rollbackCount();
    auto count = countedAt == rawEventsCountedAt_ ? queryInteger(kRawEventCountQuery, {}) : Result::none();
    if (!count.value) {
        APMError error;
        if (!store_->executeScript(kRawEventCounterScript, &error)) return Result::failure(error);
        rawEventsCountedAt_ = countedAt;
        count = queryInteger(kRawEventCountQuery, {});
        if (!count.value) {
            return Result::failure(count.error.value_or(
                APMError::withCode(kAPMDatabaseErrorInvalidData, "Raw event count is unavailable")));
        }
    }
    if (*count.value <= keep) return Result::success(0);

    // Only the rows to delete are stepped over, never the kept ones.
    auto deleted = store_->execute("DELETE FROM raw_events WHERE rowid <= "
                                   "(SELECT rowid FROM raw_events ORDER BY rowid ASC LIMIT 1 OFFSET ?)",
                                   {*count.value - keep - 1});
    if (deleted.failed()) return deleted;
    APMError error;
    if (*deleted.value > 0 && !deleteOrphanedRawEventMetadata(&error)) return Result::failure(error);
    return deleted;
}

APMResult<bool> APMDatabase::maybeDeleteStaleData() {
    using Result = APMResult<bool>;
    const APMStorageLimits limits = storageLimits();
    const double current = now();
    auto last = queryReal("SELECT last_stale_data_deletion_timestamp FROM app_metadata WHERE rowid = 1", {});
    if (last.failed()) return Result::failure(*last.error);
    // A clock set back counts as due, so a wrong future time cannot block deletion.
    const double elapsed = current - last.value.value_or(0);
    if (elapsed >= 0 && elapsed < limits.staleDataDeletionInterval) return Result::success(false);

    const double cutoff = current - limits.maxQueueTime;
    APMError error;
    bool deleted = runInTransaction(&error, [&](APMError* failure) {
        return run("DELETE FROM raw_events WHERE timestamp < ?", {cutoff}, failure) &&
               run("DELETE FROM queue WHERE bundle_end_timestamp < ?", {apm_millisecondsFromSeconds(cutoff)}, failure) &&
               deleteOrphanedRawEventMetadata(failure) &&
               updateAppMetadataRow("last_stale_data_deletion_timestamp = ?", {current}, failure);
    });
    if (!deleted) return Result::failure(error);
    return Result::success(true);
}
