#pragma once
// APMDatabase: the measurement database, "vadova-app-measurement.sql" in the
// measurement folder. It keeps the upload queue, raw events with their
// metadata, user properties, event aggregates, the app-metadata row (bundle
// indexes, daily counts, remote configuration), diagnostics signals,
// subscriptions and purchase fingerprints, on-device measurement values,
// conditional user properties and audience filters and results.
//
// Every operation runs on the caller's thread (the measurement worker queue)
// and reports failure through its result or an APMError out-parameter; a
// damaged row or blob fails only the operation that meets it. Encoded
// messages are stored as bytes; what the database must know of them it asks
// the installed APMStoredMessageCodec.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "measurement/storage/APMAppMetadata.h"
#include "measurement/storage/APMAudienceFilters.h"
#include "measurement/storage/APMDailyCounts.h"
#include "measurement/storage/APMDatabaseRecords.h"
#include "measurement/storage/APMError.h"
#include "measurement/storage/APMEventAggregates.h"
#include "measurement/storage/APMKeptReads.h"
#include "measurement/storage/APMSqliteStore.h"
#include "measurement/storage/APMUserAttribute.h"

namespace platform {
class Clock;
}

class APMStoredMessageCodec;

// The largest encoded bundle the upload queue stores or reads back (8 MiB,
// far above what a bundle of the largest permitted event count reaches): a
// larger bundle is refused, and a stored row that inflates past it is
// unreadable.
inline constexpr std::size_t kAPMMaxQueuedBundleBytes = 8u << 20;

struct APMUploadPlanReads {
    APMResult<bool> bundlesEmpty;             // isQueuedBundleTableEmpty
    APMResult<bool> rawEventsEmpty;           // isRawEventsTableEmpty
    APMResult<double> latestRawEventTime;     // queryLatestRawEventTime
    APMResult<double> latestBundleTime;       // queryLatestBundleTime
    APMResult<bool> realtimeBundles;          // containsRealtimeBundles
    APMResult<bool> realtimeRawEvents;        // containsRealtimeRawEvents
};

class APMDatabase {
public:
    // The file name the engine opens.
    static constexpr const char* kDatabaseName = "vadova-app-measurement.sql";

    // Opens or creates the named file in the measurement folder.
    static std::unique_ptr<APMDatabase> open(const std::string& databaseName, APMError* error);
    // Opens or creates the file at `path`; `clock` (default: the system
    // clock) gives "now" to the time-based operations.
    static std::unique_ptr<APMDatabase> openAtPath(const std::string& path, APMError* error,
                                                   platform::Clock* clock = nullptr);
    ~APMDatabase();
    // Closes the file for the end of the process; later operations fail.
    void close() { store_->close(); }

    const std::string& databasePath() const { return store_->databasePath(); }
    // The limits of the remote configuration, asked each time they are needed
    // (default: the built-in defaults).
    void setStorageLimitsProvider(std::function<APMStorageLimits()> provider);

    // Transactions and whole-database operations.
    // Runs the block in one exclusive transaction: its true commits; its
    // false, or a failure to begin or end, rolls back, logs 12056 (level 1)
    // and answers false. An exception rolls back and is rethrown.
    [[nodiscard]] bool performTransaction(const std::function<bool()>& block);
    // Runs the block's reads against one snapshot (see APMSqliteStore).
    void performReadTransaction(const std::function<void()>& block) { store_->performReadTransaction(block); }
    // Rewrites the row whose `column` equals `value`; a new row is inserted
    // only while the table holds fewer than `tableLimit` rows.
    [[nodiscard]]
    bool upsertDataType(const APMSqliteRow& record, const std::string& table, const std::string& column,
                        const APMSqliteValue& value, std::int64_t tableLimit, APMError* error);
    // Empties every measurement table.
    [[nodiscard]] bool reset(APMError* error);
    APMResult<bool> isQueuedBundleTableEmpty();
    APMResult<bool> isRawEventsTableEmpty();
    // The six reads of the upload plan in one statement, so from one
    // snapshot without a transaction; each member answers as its own query
    // (the functions named beside it) would. Fails whole when the statement fails.
    APMResult<APMUploadPlanReads> uploadPlanReads();

    // Upload queue (table "queue").
    // Refuses a bundle without app ID, with an end time below 1 or larger
    // than kAPMMaxQueuedBundleBytes (kAPMDatabaseErrorTooLarge; a failed
    // compression is kAPMDatabaseErrorCompression); stores it
    // gzip-compressed with its end time, real-time flag, retry count (field
    // 39) and event count.
    [[nodiscard]] bool insertBundle(const APMBytes& encodedBundle, bool isRealtime, APMError* error);
    // Oldest first, at most `countLimit`; the first bundle is always taken,
    // later ones while the total encoded size stays within `sizeLimit`; the
    // scan stops at the first that does not fit. A row that does not inflate
    // within kAPMMaxQueuedBundleBytes or does not decode is deleted, does not
    // count against the limits, and is reported in `error` beside the bundles
    // read and in `*discardedRows` (their number).
    APMResult<std::vector<APMQueuedBundle>> queryBundlesWithCountLimit(std::int64_t countLimit, std::int64_t sizeLimit,
                                                                       std::int64_t* discardedRows = nullptr);
    // retry_count + 1 for the rows below the 32-bit ceiling; an empty list fails.
    [[nodiscard]] bool incrementRetryCounterForBundlesWithIDs(const std::vector<std::int64_t>& rowIDs, APMError* error);
    [[nodiscard]] bool deleteBundlesWithRowIDs(const std::vector<std::int64_t>& rowIDs, APMError* error);
    APMResult<double> queryLatestBundleTime();  // seconds since 1970; none when empty
    APMResult<bool> containsRealtimeBundles();

    // Raw events and their metadata.
    // An empty name or event is refused.
    [[nodiscard]]
    bool insertRawEvent(const std::string& name, double timestamp, const APMBytes& encodedEvent,
                        std::int64_t metadataFingerprint, bool isRealtime, APMError* error);
    // Rewrites name, time stamp and data of the row `record.rowID`.
    [[nodiscard]] bool updateRawEvent(const APMRawEventRecord& record, APMError* error);
    APMResult<std::vector<APMRawEventRecord>> allRawEvents();
    // Offers each row of the fingerprint (oldest first, at most `limit`) to
    // the filter with the number accepted so far; the first false ends the
    // read. Rows that cannot be read back are left out.
    using RawEventFilter = std::function<bool(const APMSqliteRow& row, std::size_t acceptedCount)>;
    APMResult<std::vector<APMRawEventRecord>> rawEventsWithMetadataFingerprint(std::int64_t fingerprint,
                                                                               std::int64_t limit,
                                                                               const RawEventFilter& filter);
    static APMResult<APMRawEventRecord> rawEventRecordFromRow(const APMSqliteRow& row);
    // The fingerprint of the oldest raw event; none when there is none.
    APMResult<std::int64_t> nextMetadataFingerprintToProcess();
    [[nodiscard]] bool deleteRawEventsWithMaxRowID(std::int64_t maxRowID, APMError* error);
    // Removal of rows that can never be bundled (an event that does not
    // decode, a fingerprint without metadata): one row, or every row of a
    // fingerprint (the number deleted).
    [[nodiscard]] bool deleteRawEventWithRowID(std::int64_t rowID, APMError* error);
    APMResult<std::int64_t> deleteRawEventsWithMetadataFingerprint(std::int64_t fingerprint);
    APMResult<bool> containsRawEventWithMetadataFingerprint(std::int64_t fingerprint);
    // Stores the encoded MeasurementBundle under its fingerprint unless
    // present (table limit 100000); empty bytes are refused. The
    // fingerprint goes to `*fingerprint` when given.
    [[nodiscard]] bool insertIfNotExistsRawEventMetadata(const APMBytes& encodedBundle, APMError* error,
                                                         std::int64_t* fingerprint = nullptr);
    APMResult<APMBytes> queryRawEventsMetadataWithFingerprint(std::int64_t fingerprint);
    [[nodiscard]] bool deleteRawEventMetadataWithMetadataFingerprint(std::int64_t fingerprint, APMError* error);
    // Keeps the newest maxEventsStored - 1 raw events (never a negative
    // count) and deletes metadata left without events; the number deleted.
    APMResult<std::int64_t> deleteRawEventsOverAbsoluteLimit();
    APMResult<double> queryLatestRawEventTime();  // seconds since 1970; none when empty
    APMResult<bool> containsRealtimeRawEvents();
    // At most once per stale-data interval: deletes raw events and bundles
    // older than the maximum queue time (and metadata left without events);
    // true after a deletion, false when not yet due.
    APMResult<bool> maybeDeleteStaleData();

    // User properties (table "user_attributes").
    APMResult<APMUserAttribute> userAttributeWithName(const std::string& name);
    APMResult<bool> containsUserAttributeWithName(const std::string& name);
    APMResult<bool> containsUserAttributeWithAnyName(const std::vector<std::string>& names);
    [[nodiscard]] bool deleteUserAttributeWithName(const std::string& name, APMError* error);
    // Upsert by name; an array value is refused.
    [[nodiscard]] bool updateUserAttribute(const APMUserAttribute& attribute, APMError* error);
    APMResult<std::int64_t> publicUserAttributeCount();
    APMResult<std::int64_t> userAttributeCountForOrigin(const std::string& origin);
    // At most 1000; "_" names only when `includingInternal`.
    APMResult<std::vector<APMUserAttribute>> userAttributesIncludingInternal(bool includingInternal);
    // The "_ltv_" properties, newest first.
    APMResult<std::vector<APMUserAttribute>> allLifetimeValueUserAttributes();

    // Event aggregates (tables "events" and "events_snapshot").
    APMResult<APMEventAggregates> eventAggregatesWithName(const std::string& name);
    [[nodiscard]] bool updateEventAggregates(const APMEventAggregates& aggregates, APMError* error);
    APMResult<std::vector<APMEventAggregates>> allEventAggregates();
    APMResult<std::int64_t> publicEventCount();
    [[nodiscard]] bool clearCurrentSessionCounts(APMError* error);
    [[nodiscard]] bool createEventsSnapshotTable(APMError* error);
    [[nodiscard]] bool restoreFromEventsSnapshotTable(APMError* error);

    // The app-metadata row; an update that finds no row fails.
    APMResult<APMDailyCounts> dailyCounts();
    [[nodiscard]] bool updateDailyCounts(const APMDailyCounts& counts, APMError* error);
    APMResult<APMAppMetadata> queryAppMetadata();
    [[nodiscard]] bool updateAppMetadata(const APMAppMetadata& metadata, APMError* error);
    // Stores the encoded MeasurementConfig and now as its time.
    [[nodiscard]] bool updateRemoteConfig(const APMBytes& encodedConfig, APMError* error);
    // None when nothing is stored; "Remote config data is corrupted" when
    // the stored bytes do not decode.
    APMResult<APMBytes> queryMeasurementConfig();
    APMResult<double> lastRemoteConfigUpdateTimestamp();
    [[nodiscard]] bool updateRemoteConfigSuccessfulTimestamp(double timestamp, APMError* error);

    // Diagnostics signals (table "diagnostics_signals").
    [[nodiscard]]
    bool incrementDiagnosticsSignalCountBy(std::int64_t count, const std::string& name, const std::string& metadata,
                                           APMError* error);
    // The pending signals, removed from the table.
    APMResult<std::vector<APMDiagnosticsSignal>> consumeDiagnosticsSignals();

    // Subscriptions and purchase fingerprints.
    // True when stored now, false for an empty or known ID.
    APMResult<bool> insertIfNotDuplicateSubscriptionID(const std::string& subscriptionID);
    // Keeps the newest 1000; the number deleted.
    APMResult<std::int64_t> deleteSubscriptionsOverLimit();
    // True when stored now, false for a known fingerprint; keeps the newest 1000.
    APMResult<bool> insertIfNotDuplicatePurchaseFingerprint(const std::string& fingerprint);
    // Whether the fingerprint is already stored (nothing is written).
    APMResult<bool> containsPurchaseFingerprint(const std::string& fingerprint);

    // On-device measurement values (table "odm_values").
    APMResult<APMODMValue> ODMValueWithName(const std::string& name);
    // Whether any value is stored.
    APMResult<bool> containsODMValues();
    [[nodiscard]]
    bool updateODMValue(const std::string& value, const std::string& name, double setTimestamp, APMError* error);
    [[nodiscard]] bool deleteODMValueWithName(const std::string& name, APMError* error);

    // Conditional user properties (table "conditional_properties", at most 1000 rows).
    APMResult<APMConditionalUserPropertyRecord> conditionalUserPropertyWithName(const std::string& name);
    APMResult<bool> containsConditionalUserProperties();
    [[nodiscard]] bool updateConditionalUserProperty(const APMConditionalUserPropertyRecord& property, APMError* error);
    [[nodiscard]] bool deleteConditionalUserPropertyWithName(const std::string& name, APMError* error);
    APMResult<std::vector<APMConditionalUserPropertyRecord>> timedOutConditionalUserProperties();
    APMResult<std::vector<APMConditionalUserPropertyRecord>> expiredConditionalUserProperties();
    APMResult<std::vector<APMConditionalUserPropertyRecord>> triggeredConditionalUserPropertiesWithEventName(
        const std::string& eventName);
    // Names starting with `prefix` and origins equal to `origin` (each only
    // when not empty), compared without ASCII case; "%" and "_" match themselves.
    APMResult<std::vector<APMConditionalUserPropertyRecord>> conditionalUserPropertiesWithPrefix(
        const std::string& prefix, const std::string& origin);
    // "SELECT rowid, * FROM conditional_properties WHERE <condition>"; one
    // unreadable row fails the query.
    APMResult<std::vector<APMConditionalUserPropertyRecord>> conditionalUserPropertiesWithCondition(
        const std::string& condition, const APMSqliteStore::Parameters& parameters);

    // Audience filters and results.
    APMResult<std::vector<APMEventFilter>> eventFiltersForEventName(const std::string& eventName);
    APMResult<std::vector<APMPropertyFilter>> propertyFiltersForPropertyName(const std::string& propertyName);
    // Rows with missing or mistyped columns are left out of both reads and
    // counted in `*damagedRows`; they never fail the read.
    APMResult<APMFilterResult> filterResultForAudienceID(std::int32_t audienceID, std::int64_t* damagedRows = nullptr);
    APMResult<std::map<std::int32_t, APMFilterResult>> allFilterResults(std::int64_t* damagedRows = nullptr);
    APMResult<std::vector<std::int32_t>> allAudienceIDs();
    APMResult<std::map<std::int32_t, std::vector<std::int32_t>>> allSessionScopedFilters();
    [[nodiscard]] bool updateFilterResults(const std::vector<APMFilterResult>& results, APMError* error);
    [[nodiscard]] bool deleteFilterResults(const std::vector<APMFilterResult>& results, APMError* error);
    [[nodiscard]] bool updateEventFilters(const std::vector<APMEventFilter>& filters, APMError* error);
    [[nodiscard]] bool updatePropertyFilters(const std::vector<APMPropertyFilter>& filters, APMError* error);
    [[nodiscard]] bool deleteAllEventFilters(APMError* error);
    [[nodiscard]] bool deleteAllPropertyFilters(APMError* error);
    // Changes whenever the filter tables may have changed: at each write or
    // delete of filters, each reset and each rollback. Equal values mean the
    // filter rows read at the first still stand.
    std::uint64_t audienceFiltersGeneration() const {
        return store_->tableWriteGeneration({"event_filters", "property_filters"});
    }

private:
    APMDatabase(std::unique_ptr<APMSqliteStore> store, platform::Clock& clock);

    double now() const;
    APMStorageLimits storageLimits() const;
    std::shared_ptr<const APMStoredMessageCodec> codec(APMError* error) const;
    // The readable audience_filter_values rows `condition` selects, by audience.
    APMResult<std::map<std::int32_t, APMFilterResult>> filterResultsWhere(const std::string& condition,
                                                                          const APMSqliteStore::Parameters& parameters,
                                                                          std::int64_t* damagedRows);
    // A transaction whose block reports its own failure: `*error` gets the
    // block's error, or the transaction's when the block set none.
    [[nodiscard]] bool runInTransaction(APMError* error, const std::function<bool(APMError* failure)>& block);
    // Runs one statement; false with `*error` set on failure.
    [[nodiscard]] bool run(const std::string& sql, const APMSqliteStore::Parameters& parameters, APMError* error);
    // The first column of the first row as an integer (or a real); none
    // when there is no row or the column is NULL.
    APMResult<std::int64_t> queryInteger(const std::string& sql, const APMSqliteStore::Parameters& parameters);
    APMResult<double> queryReal(const std::string& sql, const APMSqliteStore::Parameters& parameters);
    APMResult<bool> queryExists(const std::string& sql, const APMSqliteStore::Parameters& parameters);
    // "SELECT EXISTS (...)" over `table` alone, answered from the last read
    // while the table is unwritten.
    APMResult<bool> existsInTable(const std::string& table, const std::string& sql,
                                  const APMSqliteStore::Parameters& parameters);
    // `read()`'s answer, or the one kept from the last read of `key` while
    // `table` is unwritten (never once the store is closed).
    template <class Value, class Read>
    APMResult<Value> keptRead(APMKeptReads<Value>& kept, const std::string& table, const std::string& key,
                              Read&& read) {
        return keptRead(kept, store_->tableWriteGeneration(table), key, std::forward<Read>(read));
    }
    template <class Value, class Read>
    APMResult<Value> keptRead(APMKeptReads<Value>& kept, std::uint64_t generation, const std::string& key,
                              Read&& read) {
        if (!store_->isOpen()) return read();
        return kept.answer(key, generation, std::forward<Read>(read));
    }
    // Moves whenever the queue or the raw events may have changed.
    std::uint64_t uploadPlanGeneration() const;
    APMResult<APMUploadPlanReads> readUploadPlan();
    // Keeps the upload plan read at `before` across the raw event just inserted.
    void carryUploadPlanOverRawEvent(std::uint64_t before, double timestamp, bool isRealtime);
    // Column `column` of `row` as queryInteger / queryReal answer it (errors name `sql`).
    static APMResult<std::int64_t> integerValue(const APMSqliteRow& row, std::size_t column, const std::string& sql);
    static APMResult<double> realValue(const APMSqliteRow& row, std::size_t column, const std::string& sql);
    // "UPDATE app_metadata SET <assignments> WHERE rowid = 1", failing
    // when the row is missing.
    [[nodiscard]]
    bool updateAppMetadataRow(const std::string& assignments, const APMSqliteStore::Parameters& parameters,
                              APMError* error);
    APMResult<APMSqliteRow> appMetadataRow();
    // Deletes metadata rows that no raw event refers to, sparing the one the
    // writer has just ensured for the event it is about to insert.
    [[nodiscard]] bool deleteOrphanedRawEventMetadata(APMError* error);
    APMResult<std::vector<APMConditionalUserPropertyRecord>> conditionalUserProperties(
        const std::string& condition, const APMSqliteStore::Parameters& parameters);
    // "?, ?, ..." for the IDs, which are appended to `parameters`.
    static std::string bindList(const std::vector<std::int64_t>& ids, APMSqliteStore::Parameters& parameters);

    std::unique_ptr<APMSqliteStore> store_;
    platform::Clock& clock_;
    std::function<APMStorageLimits()> limitsProvider_;
    std::optional<std::int64_t> lastEnsuredMetadataFingerprint_;
    // The metadata last hashed, and its fingerprint.
    std::pair<APMBytes, std::int64_t> lastHashedMetadata_;
    // When the temporary count of raw events was last made (the store's
    // other-connection commits plus rollbacks then); none yet.
    std::optional<std::uint64_t> rawEventsCountedAt_;
    APMKeptReads<bool> keptExists_;
    APMKeptReads<std::vector<APMUserAttribute>> keptAttributeLists_;
    APMKeptReads<APMUserAttribute> keptAttributes_;
    APMKeptReads<APMUploadPlanReads> keptUploadPlan_;
    APMKeptReads<APMEventAggregates> keptAggregates_;
};
