#include "measurement/audiences/APMExperimentDatabase.h"

#include <exception>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/storage/APMFilePaths.h"

namespace {

constexpr std::int64_t kTableLimit = 100000;
constexpr const char* kSDKNameColumn = "sdk_name";
constexpr const char* kProtoColumn = "snapshotProto";
constexpr const char* kTimestampColumn = "timestamp";
constexpr const char* kManualColumn = "manually_activated";

const APMSqliteStore::ColumnInfo& snapshotColumns() {
    static const APMSqliteStore::ColumnInfo columns = {{kSDKNameColumn, "TEXT NOT NULL PRIMARY KEY"},
                                                       {kProtoColumn, "BLOB NOT NULL"},
                                                       {kTimestampColumn, "REAL NOT NULL"},
                                                       {kManualColumn, "INTEGER"}};
    return columns;
}

APMError notOpenError() {
    return APMError{kAPMErrorDomain, kAPMDatabaseErrorNotOpen, "The experiment database is not open"};
}

std::string withContext(const std::string& format, const std::string& context) {
    std::string text = format;
    const auto at = text.find("%@");
    if (at != std::string::npos) text.replace(at, 2, context);
    return text;
}

}  // namespace

std::unique_ptr<APMEDatabase> APMEDatabase::open(const std::string& path, platform::Clock& clock) {
    if (path.empty()) {
        APMEMonitor::shared().log(1, 810000, "Cannot initialize the database with invalid path");
        return nullptr;
    }
    auto database = std::make_unique<APMEDatabase>(path, clock);
    if (!database->initializeDatabaseResources("Init")) return nullptr;
    return database;
}

APMEDatabase::~APMEDatabase() = default;

bool APMEDatabase::initializeDatabaseResources(const std::string& context) {
    APMError error;
    store_ = APMSqliteStore::open(path_, &error);
    if (store_ == nullptr) {
        APMEMonitor::shared().log(1, 810001, withContext("Failed to open database (%@)", context), error);
        return false;
    }
    if (ensureAllTables(nullptr)) return true;
    APMEMonitor::shared().log(1, 810002, withContext("Failed to create or validate required database tables (%@)", context));
    // The store is closed before its file goes, so nothing writes it again.
    store_.reset();
    APMError deletion;
    if (!APMDeleteFile(path_, &deletion)) {
        APMEMonitor::shared().log(
            4, 810003, withContext("Failed to delete old database file after failed validation. Error (%@)", context),
            deletion);
    }
    return false;
}

bool APMEDatabase::ensureAllTables(APMError* error) {
    if (!isOpen()) {
        if (error) *error = notOpenError();
        return false;
    }
    for (const char* table : {kAPMEPendingSnapshotTable, kAPMEActivatedSnapshotTable, kAPMELaunchedSnapshotTable}) {
        APMError failure;
        if (!store_->ensureTable(table, snapshotColumns(), {}, &failure)) {
            APMEMonitor::shared().log(1, 810004, "Failed to ensure table. Table, error", table, failure);
            if (error) *error = std::move(failure);
            return false;
        }
    }
    return true;
}

void APMEDatabase::closeAndDelete() {
    if (store_ == nullptr) return;
    if (!store_->closeAndDeleteDatabase()) APMEMonitor::shared().log(4, 810005, "Failed to delete database data");
}

void APMEDatabase::reset() {
    closeAndDelete();
    store_.reset();
    if (!initializeDatabaseResources("Reset")) APMEMonitor::shared().log(1, 810006, "Cannot re-initialize the database");
}

bool APMEDatabase::performTransaction(const std::function<bool()>& block) {
    APMError error = notOpenError();
    bool committed = false;
    if (isOpen()) {
        try {
            committed = store_->performTransaction(&error, block);
        } catch (const std::exception& exception) {
            error = APMError{kAPMErrorDomain, kAPMDatabaseErrorRolledBack, exception.what()};
        } catch (...) {
            error = APMError{kAPMErrorDomain, kAPMDatabaseErrorRolledBack, "Unknown exception"};
        }
    }
    if (!committed) APMEMonitor::shared().log(1, 810007, "Transaction failed. %@", error.description);
    return committed;
}

std::optional<std::vector<APMSqliteRow>> APMEDatabase::allDataTypesFromTable(const std::string& table,
                                                                             std::int64_t limit, APMError* error) {
    if (!isOpen()) {
        if (error) *error = notOpenError();
        return std::nullopt;
    }
    auto rows = store_->recordsForQuery(
        "SELECT rowid, * FROM " + table + " ORDER BY rowid LIMIT " + std::to_string(limit), {});
    if (rows.failed()) {
        if (error) *error = *rows.error;
        return std::nullopt;
    }
    return std::move(rows.value);
}

std::shared_ptr<APMESnapshot> APMEDatabase::snapshotFromRow(const APMSqliteRow& row) const {
    const std::optional<APMBytes> bytes = row.blob(kProtoColumn);
    if (!bytes) return nullptr;
    auto message = APMPBSnapshot::initWithBuffer(*bytes);
    if (message == nullptr) return nullptr;
    return APMESnapshot::fromProto(*message, clock_.now());
}

std::optional<APMESnapshotList> APMEDatabase::fetchAllSnapshots(const std::string& table, APMError* error) {
    auto rows = allDataTypesFromTable(table, kTableLimit, error);
    if (!rows) return std::nullopt;
    APMESnapshotList snapshots;
    for (const APMSqliteRow& row : *rows) {
        auto snapshot = snapshotFromRow(row);
        if (snapshot == nullptr) return std::nullopt;
        if (auto timestamp = row.real(kTimestampColumn)) snapshot->setTimestamp(*timestamp);
        if (auto manual = row.integer(kManualColumn)) snapshot->setManuallyActivated(*manual != 0);
        snapshots.push_back(std::move(snapshot));
    }
    return snapshots;
}

std::optional<APMESnapshotList> APMEDatabase::fetchAllActivatedSnapshots(APMError* error) {
    return fetchAllSnapshots(kAPMEActivatedSnapshotTable, error);
}

std::optional<APMESnapshotList> APMEDatabase::fetchAllPendingSnapshots(APMError* error) {
    return fetchAllSnapshots(kAPMEPendingSnapshotTable, error);
}

std::optional<APMESnapshotList> APMEDatabase::fetchAllLaunchedSnapshots(APMError* error) {
    return fetchAllSnapshots(kAPMELaunchedSnapshotTable, error);
}

bool APMEDatabase::upsertSnapshot(const APMPBSnapshot& snapshot, const std::string& table, double timestamp,
                                  std::optional<bool> manuallyActivated, APMError* error) {
    if (!isOpen()) {
        if (error) *error = notOpenError();
        return false;
    }
    const std::optional<APMPBData> encoded = snapshot.protoBuffer();
    if (!encoded) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Cannot encode the snapshot");
        return false;
    }
    APMSqliteRow record{{kSDKNameColumn, APMPBGetString(snapshot, SnapshotSlot::SDKName).value_or("")},
                        {kTimestampColumn, timestamp},
                        {kProtoColumn, encoded->toVector()}};
    if (manuallyActivated) record.set(kManualColumn, std::int64_t{*manuallyActivated ? 1 : 0});
    return store_->upsertRecord(record, table, error);
}

bool APMEDatabase::upsertPendingExperimentSnapshots(const APMESnapshotList& snapshots, APMError* error) {
    for (const auto& snapshot : snapshots) {
        if (snapshot == nullptr) {
            APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Received nil pending snapshot");
            return false;
        }
        if (!upsertSnapshot(*snapshot->proto(), kAPMEPendingSnapshotTable, snapshot->timestamp(),
                            snapshot->manuallyActivated(), error)) {
            return false;
        }
    }
    return true;
}

bool APMEDatabase::activateSnapshot(const std::shared_ptr<APMESnapshot>& snapshot, double timestamp,
                                    APMError* error) {
    if (snapshot == nullptr) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Received nil pending snapshot");
        return false;
    }
    std::shared_ptr<APMEExperiment> launched;
    std::vector<std::shared_ptr<APMEExperiment>> others;
    for (auto& experiment : snapshot->experiments()) {
        if (experiment->experimentID() == 0) {
            launched = std::move(experiment);
        } else {
            others.push_back(std::move(experiment));
        }
    }
    const std::string& name = snapshot->SDKName();
    if (launched) {
        auto launchedSnapshot = APMESnapshot::create(name, {launched}, timestamp);
        if (launchedSnapshot == nullptr ||
            !upsertSnapshot(*launchedSnapshot->proto(), kAPMELaunchedSnapshotTable, timestamp, std::nullopt, error)) {
            return false;
        }
    }
    if (!others.empty()) {
        auto activated = APMESnapshot::create(name, others, timestamp);
        if (activated == nullptr ||
            !upsertSnapshot(*activated->proto(), kAPMEActivatedSnapshotTable, timestamp, std::nullopt, error)) {
            return false;
        }
    }
    auto deleted = store_->deleteRecordsFromTable(kAPMEPendingSnapshotTable,
                                                  std::string(kSDKNameColumn) + " = ? AND " + kTimestampColumn + " <= ?",
                                                  {name, timestamp});
    if (deleted.failed()) {
        if (error) *error = *deleted.error;
        return false;
    }
    return true;
}

bool APMEDatabase::activatePendingSnapshotsAutomatically(APMError* error) {
    if (!isOpen()) {
        if (error) *error = notOpenError();
        return false;
    }
    auto rows = store_->recordsForQuery(
        "SELECT rowid,* FROM pending_snapshot_table WHERE NOT manually_activated = ? ORDER BY rowid",
        {std::int64_t{1}});
    if (rows.failed()) {
        if (error) *error = *rows.error;
        return false;
    }
    for (const APMSqliteRow& row : *rows.value) {
        auto snapshot = snapshotFromRow(row);
        const std::optional<double> timestamp = row.real(kTimestampColumn);
        if (snapshot == nullptr || !timestamp) {
            APMSetError(error, kAPMDatabaseErrorInvalidData, "Received an invalid snapshot from database");
            return false;
        }
        if (!activateSnapshot(snapshot, *timestamp, error)) return false;
        if (!deletePendingExperimentsOfSDKName(snapshot->SDKName(), error)) return false;
    }
    return true;
}

bool APMEDatabase::deleteStaleActivatedSnapshots(APMError* error) {
    if (!isOpen()) {
        if (error) *error = notOpenError();
        return false;
    }
    auto deleted = store_->deleteRecordsFromTable(kAPMEActivatedSnapshotTable, std::string(kTimestampColumn) + " <= ?",
                                                  {clock_.now() - kAPMEStaleSnapshotAge});
    if (deleted.failed()) {
        if (error) *error = *deleted.error;
        return false;
    }
    return true;
}

bool APMEDatabase::deleteExperimentsOfSDKName(const std::string& name, const std::string& table, APMError* error) {
    if (!isOpen()) {
        if (error) *error = notOpenError();
        return false;
    }
    return store_->deleteRecordFromTable(table, kSDKNameColumn, name, error);
}

bool APMEDatabase::deleteActivatedExperimentsOfSDKName(const std::string& name, APMError* error) {
    if (name.empty()) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Received empty SDK Name");
        return false;
    }
    return deleteExperimentsOfSDKName(name, kAPMEActivatedSnapshotTable, error);
}

bool APMEDatabase::deletePendingExperimentsOfSDKName(const std::string& name, APMError* error) {
    return deleteExperimentsOfSDKName(name, kAPMEPendingSnapshotTable, error);
}

bool APMEDatabase::deleteLaunchedExperimentsOfSDKName(const std::string& name, APMError* error) {
    return deleteExperimentsOfSDKName(name, kAPMELaunchedSnapshotTable, error);
}
