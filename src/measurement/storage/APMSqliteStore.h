#pragma once
// APMSqliteStore: one SQLite database file, opened for reading and writing.
//
// Opening creates the file when missing, switches it to write-ahead logging
// with synchronous=NORMAL (a committed transaction survives the process being
// killed at any instant; only an operating-system crash or power loss can
// lose the last commits, never the file's consistency) and runs a quick
// integrity check; a file that is not a database or fails the check is
// deleted and created afresh. Prepared statements are cached per SQL text.
// One thread at a time: callers serialise access (the worker queues do).

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "measurement/storage/APMError.h"
#include "measurement/storage/APMSqliteRow.h"

struct sqlite3;
struct sqlite3_stmt;

// Codes of the errors reported by the store and the measurement database.
enum APMDatabaseErrorCode : long {
    kAPMDatabaseErrorInvalidArgument = 1,  // empty names, missing values, refused records
    kAPMDatabaseErrorInvalidData = 2,      // stored data that cannot be read back
    kAPMDatabaseErrorSQLite = 3,           // SQLite refused a statement
    kAPMDatabaseErrorNotOpen = 4,          // the store has been closed
    kAPMDatabaseErrorTableFull = 5,        // a table limit was reached
    kAPMDatabaseErrorRowMissing = 6,       // an update found no row to change
    kAPMDatabaseErrorRolledBack = 7,       // a transaction block answered NO
    kAPMDatabaseErrorTooLarge = 8,         // a record larger than its table takes
    kAPMDatabaseErrorCompression = 9,      // compressing a record failed (memory)
};

class APMSqliteStore {
public:
    using Parameters = std::vector<APMSqliteValue>;
    // (column name, declared type) pairs.
    using ColumnInfo = std::vector<std::pair<std::string, std::string>>;
    // Receives each row; false stops the read.
    using RowVisitor = std::function<bool(const APMSqliteRow&)>;

    // Opens or creates the file; null with `*error` set when it cannot.
    static std::unique_ptr<APMSqliteStore> open(const std::string& path, APMError* error);
    ~APMSqliteStore();
    APMSqliteStore(const APMSqliteStore&) = delete;
    APMSqliteStore& operator=(const APMSqliteStore&) = delete;

    const std::string& databasePath() const { return path_; }
    bool isOpen() const { return db_ != nullptr; }
    // True when opening found a damaged file and replaced it.
    bool wasRecreated() const { return recreated_; }

    // "CREATE TABLE IF NOT EXISTS" with the elementary columns; an existing
    // table must have them all. Add-on columns missing from an existing table
    // are added.
    [[nodiscard]]
    bool ensureTable(const std::string& table, const ColumnInfo& elementaryColumns, const ColumnInfo& addOnColumns,
                     APMError* error);
    // Closes the connection and deletes the file with its log files; the
    // store stays closed. False when the file could not be deleted.
    [[nodiscard]] bool closeAndDeleteDatabase();
    // Closes the connection for the end of the process; later operations
    // fail with kAPMDatabaseErrorNotOpen.
    void close() { closeConnection(); }

    // Runs the block in one exclusive transaction (a savepoint when one is
    // already open): true commits, false rolls back and answers false with a
    // kAPMDatabaseErrorRolledBack error. An exception rolls back and is
    // rethrown.
    [[nodiscard]] bool performTransaction(APMError* error, const std::function<bool()>& block);
    // The rollbacks (of transactions and savepoints) performTransaction has
    // run, so that a reader keeping rows can tell that writes it saw were undone.
    std::uint64_t rollbackCount() const { return rollbackCount_; }
    // A count that moves whenever rows of `table` may have changed: through
    // this connection its own rows written, and every change SQLite does not
    // report row by row (schema changes, a table emptied at once, scripts),
    // rollbacks and closing; and the commits of other connections to the
    // file (another process of the application), noticed as each outermost
    // transaction begins. A reader may keep what it read of the table while
    // the count stands still: within a transaction exactly, outside one until
    // the next transaction begins. Several tables take one count.
    std::uint64_t tableWriteGeneration(std::initializer_list<std::string_view> tables) const;
    std::uint64_t tableWriteGeneration(std::string_view table) const { return tableWriteGeneration({table}); }
    // The commits of other connections to the file noticed so far.
    std::uint64_t otherConnectionsCommits() const { return otherConnectionsCommits_; }
    bool isInTransaction() const;
    // Runs the block's reads against one snapshot of the file (a deferred
    // transaction that is ended, never committed with changes); inside an
    // open transaction the block just runs. Several reads in a row cost one
    // snapshot instead of one each.
    void performReadTransaction(const std::function<void()>& block);

    // All rows of the query, in the order SQLite gives them.
    APMResult<std::vector<APMSqliteRow>> recordsForQuery(const std::string& sql, const Parameters& parameters);
    // The first row, none when there is no row.
    APMResult<APMSqliteRow> firstRow(const std::string& sql, const Parameters& parameters);
    [[nodiscard]]
    bool forEachRow(const std::string& sql, const Parameters& parameters, const RowVisitor& visitor, APMError* error);
    // Runs one statement; the number of rows it changed.
    APMResult<std::int64_t> execute(const std::string& sql, const Parameters& parameters);
    // Runs several statements without parameters.
    [[nodiscard]] bool executeScript(const std::string& sql, APMError* error);
    std::int64_t lastInsertRowID() const;

    // "INSERT OR REPLACE" of the record's columns.
    [[nodiscard]] bool upsertRecord(const APMSqliteRow& record, const std::string& table, APMError* error);
    // "DELETE FROM <table> WHERE <column>=?"; true when the statement ran,
    // whatever it deleted.
    [[nodiscard]]
    bool deleteRecordFromTable(const std::string& table, const std::string& column, const APMSqliteValue& value,
                               APMError* error);
    // "DELETE FROM <table> WHERE <condition>"; the number of deleted rows.
    APMResult<std::int64_t> deleteRecordsFromTable(const std::string& table, const std::string& condition,
                                                   const Parameters& parameters);

private:
    class Statement;
    APMSqliteStore(std::string path, sqlite3* db, bool recreated);

    [[nodiscard]]
    bool prepare(const std::string& sql, const Parameters& parameters, Statement& statement, APMError* error);
    APMError sqliteError(int code, const std::string& sql) const;
    void closeConnection();
    // Reads the file's data version, which moves with each commit of another
    // connection, and counts it when it moved.
    void noticeOtherConnectionsCommits();
    static void rowChanged(void* store, int operation, const char* database, const char* table, long long rowid);

    std::string path_;
    sqlite3* db_;
    bool recreated_;
    std::unordered_map<std::string, sqlite3_stmt*> statements_;
    std::unordered_map<sqlite3_stmt*, std::shared_ptr<const std::vector<std::string>>> columnNames_;
    int savepointDepth_ = 0;
    // Transactions and savepoints performTransaction has open.
    int openTransactions_ = 0;
    std::uint64_t rollbackCount_ = 0;
    // Rows written per table, every row written, and the writes no table
    // can be named for (see tableWriteGeneration).
    std::vector<std::pair<std::string, std::uint64_t>> tableWrites_;
    std::uint64_t rowWrites_ = 0;
    std::uint64_t unattributedWrites_ = 0;
    // The file's data version as last read, and the times it had moved.
    sqlite3_stmt* dataVersionStatement_ = nullptr;
    std::int64_t dataVersion_ = 0;
    std::uint64_t otherConnectionsCommits_ = 0;
};
