#pragma once
// APMEDatabase: the experiment store, "vadova_experimentation_database.sql",
// three snapshot tables with the same columns (sdk_name TEXT NOT NULL PRIMARY
// KEY, snapshotProto BLOB NOT NULL, timestamp REAL NOT NULL,
// manually_activated INTEGER): pending (fetched, awaiting activation),
// activated (experiments other than 0) and launched (experiment 0 alone).
//
// Opening goes through APMSqliteStore, which replaces a damaged file; a file
// whose tables cannot be made is deleted and no store is made. Operations
// that can fail answer false (or none) with `*error` set from the wrapper or
// with a measurement error of code 1 (bad argument) or 2 (unreadable row).
//
// Threads: not thread-safe; the fetch scheduler calls it from its worker
// queue only.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/audiences/APMExperimentModel.h"
#include "measurement/storage/APMError.h"
#include "measurement/storage/APMSqliteStore.h"
#include "platform/core/Clock.h"

inline constexpr const char* kAPMEDatabaseFileName = "vadova_experimentation_database.sql";
inline constexpr const char* kAPMEPendingSnapshotTable = "pending_snapshot_table";
inline constexpr const char* kAPMEActivatedSnapshotTable = "activated_snapshot_table";
inline constexpr const char* kAPMELaunchedSnapshotTable = "launched_snapshot_table";
// Activated rows at most this old are deleted at start.
inline constexpr double kAPMEStaleSnapshotAge = 259200;

class APMEDatabase {
public:
    // Null after 810001 / 810002 when the file cannot be opened or its tables
    // cannot be made (the file is then deleted).
    static std::unique_ptr<APMEDatabase> open(const std::string& path, platform::Clock& clock);
    ~APMEDatabase();
    APMEDatabase(const APMEDatabase&) = delete;
    APMEDatabase& operator=(const APMEDatabase&) = delete;

    const std::string& path() const { return path_; }
    bool isOpen() const { return store_ != nullptr && store_->isOpen(); }

    [[nodiscard]] bool ensureAllTables(APMError* error);
    // Deletes the file; later operations fail with the wrapper's errors.
    void closeAndDelete();
    // Deletes and re-creates the file at the same path.
    void reset();
    // Runs the block in an exclusive transaction: false or an exception rolls
    // back (810007) and answers false.
    [[nodiscard]] bool performTransaction(const std::function<bool()>& block);

    // The rows of a table as snapshots, in row order; none when the query
    // fails (with `*error`) or any row cannot be read (no error).
    std::optional<APMESnapshotList> fetchAllActivatedSnapshots(APMError* error);
    std::optional<APMESnapshotList> fetchAllPendingSnapshots(APMError* error);
    std::optional<APMESnapshotList> fetchAllLaunchedSnapshots(APMError* error);
    std::optional<std::vector<APMSqliteRow>> allDataTypesFromTable(const std::string& table, std::int64_t limit,
                                                                   APMError* error);

    // INSERT OR REPLACE of one row; `manuallyActivated` is written only when given.
    [[nodiscard]] bool upsertSnapshot(const APMPBSnapshot& snapshot, const std::string& table, double timestamp,
                                      std::optional<bool> manuallyActivated, APMError* error);
    // Each snapshot into the pending table with its own time and mark; stops
    // at the first failure.
    [[nodiscard]] bool upsertPendingExperimentSnapshots(const APMESnapshotList& snapshots, APMError* error);
    // Splits the snapshot: experiment 0 into the launched table, the others
    // into the activated table (the activated row stays when there are none),
    // both stamped `timestamp`; then deletes the SDK's pending rows written at
    // or before `timestamp`.
    [[nodiscard]] bool activateSnapshot(const std::shared_ptr<APMESnapshot>& snapshot, double timestamp,
                                        APMError* error);
    // Activates every pending row whose mark is 0, stamped with its own time.
    [[nodiscard]] bool activatePendingSnapshotsAutomatically(APMError* error);
    // Deletes activated rows whose time is at most now - 259200 s.
    [[nodiscard]] bool deleteStaleActivatedSnapshots(APMError* error);

    [[nodiscard]] bool deleteExperimentsOfSDKName(const std::string& name, const std::string& table, APMError* error);
    [[nodiscard]] bool deleteActivatedExperimentsOfSDKName(const std::string& name, APMError* error);
    [[nodiscard]] bool deletePendingExperimentsOfSDKName(const std::string& name, APMError* error);
    [[nodiscard]] bool deleteLaunchedExperimentsOfSDKName(const std::string& name, APMError* error);

    APMEDatabase(std::string path, platform::Clock& clock) : path_(std::move(path)), clock_(clock) {}

private:
    [[nodiscard]] bool initializeDatabaseResources(const std::string& context);
    std::optional<APMESnapshotList> fetchAllSnapshots(const std::string& table, APMError* error);
    std::shared_ptr<APMESnapshot> snapshotFromRow(const APMSqliteRow& row) const;

    const std::string path_;
    platform::Clock& clock_;
    std::unique_ptr<APMSqliteStore> store_;
};
