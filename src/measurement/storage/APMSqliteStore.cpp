#include "measurement/storage/APMSqliteStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string_view>

#include "measurement/storage/APMMonitor.h"

namespace {

// How long a statement waits for a lock held by another connection.
constexpr int kBusyTimeoutMilliseconds = 5000;

enum class OpenOutcome { Ok, Damaged, Failed };

struct OpenResult {
    OpenOutcome outcome = OpenOutcome::Failed;
    int code = SQLITE_OK;
    std::string reason;
};

bool isDamageCode(int code) {
    int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

// Runs a pragma and hands back the text of its first result column.
int pragmaText(sqlite3* db, const char* sql, std::string& text) {
    sqlite3_stmt* statement = nullptr;
    int code = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    if (code == SQLITE_OK) {
        code = sqlite3_step(statement);
        if (code == SQLITE_ROW) {
            const unsigned char* value = sqlite3_column_text(statement, 0);
            text = value ? reinterpret_cast<const char*>(value) : "";
            code = SQLITE_OK;
        } else if (code == SQLITE_DONE) {
            code = SQLITE_OK;
        }
    }
    sqlite3_finalize(statement);
    return code;
}

OpenResult openAndCheck(const std::string& path, sqlite3** db) {
    OpenResult result;
    result.code = sqlite3_open_v2(path.c_str(), db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (*db != nullptr) sqlite3_extended_result_codes(*db, 1);
    if (result.code != SQLITE_OK) {
        result.reason = *db ? sqlite3_errmsg(*db) : sqlite3_errstr(result.code);
        result.outcome = isDamageCode(result.code) ? OpenOutcome::Damaged : OpenOutcome::Failed;
        return result;
    }
    sqlite3_busy_timeout(*db, kBusyTimeoutMilliseconds);
    std::string text;
    const char* setup[] = {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL", "PRAGMA quick_check"};
    for (const char* sql : setup) {
        result.code = pragmaText(*db, sql, text);
        if (result.code != SQLITE_OK) {
            result.reason = sqlite3_errmsg(*db);
            result.outcome = isDamageCode(result.code) ? OpenOutcome::Damaged : OpenOutcome::Failed;
            return result;
        }
    }
    if (text != "ok") {
        result.reason = text;
        result.outcome = OpenOutcome::Damaged;
        return result;
    }
    result.outcome = OpenOutcome::Ok;
    return result;
}

void removeDatabaseFiles(const std::string& path, std::error_code& mainFileError) {
    std::error_code ignored;
    for (const char* suffix : {"-wal", "-shm", "-journal"}) std::filesystem::remove(path + suffix, ignored);
    std::filesystem::remove(path, mainFileError);
}

// Beginning (even exclusively), committing, or opening and releasing a
// savepoint changes no row; rolling back does.
bool beginsOrEndsTransaction(std::string_view sql) {
    const std::size_t start = sql.find_first_not_of(" \t\n");
    if (start == std::string_view::npos) return false;
    sql.remove_prefix(start);
    for (std::string_view keyword : {"BEGIN", "END", "COMMIT", "SAVEPOINT", "RELEASE"}) {
        if (sql.size() >= keyword.size() &&
            std::equal(keyword.begin(), keyword.end(), sql.begin(),
                       [](char a, char b) { return a == std::toupper(static_cast<unsigned char>(b)); })) {
            return true;
        }
    }
    return false;
}

}  // namespace

class APMSqliteStore::Statement {
public:
    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() {
        if (handle == nullptr) return;
        // A write that reported no row (DDL, a table emptied at once, or
        // one that changed nothing) may have changed any table.
        if (store != nullptr && writes && store->rowWrites_ == rowWritesBefore) ++store->unattributedWrites_;
        if (cached) {
            sqlite3_reset(handle);
            sqlite3_clear_bindings(handle);
        } else {
            sqlite3_finalize(handle);
        }
    }

    sqlite3_stmt* handle = nullptr;
    bool cached = false;
    std::shared_ptr<const std::vector<std::string>> names;
    APMSqliteStore* store = nullptr;
    bool writes = false;
    std::uint64_t rowWritesBefore = 0;
};

std::unique_ptr<APMSqliteStore> APMSqliteStore::open(const std::string& path, APMError* error) {
    if (path.empty()) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Cannot open a database without a path");
        return nullptr;
    }
    sqlite3* db = nullptr;
    OpenResult result = openAndCheck(path, &db);
    bool recreated = false;
    if (result.outcome == OpenOutcome::Damaged) {
        sqlite3_close_v2(db);
        db = nullptr;
        APMMonitor::shared()->log(2, 12050, "Database file is damaged. Creating a new one. Path, reason", path,
                                  result.reason);
        std::error_code removal;
        removeDatabaseFiles(path, removal);
        if (removal) {
            APMSetError(error, kAPMDatabaseErrorSQLite,
                        "Unable to delete damaged database " + path + ": " + removal.message());
            return nullptr;
        }
        result = openAndCheck(path, &db);
        recreated = true;
    }
    if (result.outcome != OpenOutcome::Ok) {
        sqlite3_close_v2(db);
        APMSetError(error, kAPMDatabaseErrorSQLite,
                    "Unable to open database " + path + ": " + result.reason + " (" + std::to_string(result.code) + ")");
        return nullptr;
    }
    return std::unique_ptr<APMSqliteStore>(new APMSqliteStore(path, db, recreated));
}

APMSqliteStore::APMSqliteStore(std::string path, sqlite3* db, bool recreated)
    : path_(std::move(path)), db_(db), recreated_(recreated) {
    sqlite3_update_hook(db_, &APMSqliteStore::rowChanged, this);
}

void APMSqliteStore::rowChanged(void* store, int, const char*, const char* table, long long) {
    auto& self = *static_cast<APMSqliteStore*>(store);
    ++self.rowWrites_;
    for (auto& [name, count] : self.tableWrites_) {
        if (name == table) {
            ++count;
            return;
        }
    }
    self.tableWrites_.emplace_back(table, 1);
}

std::uint64_t APMSqliteStore::tableWriteGeneration(std::initializer_list<std::string_view> tables) const {
    std::uint64_t rows = 0;
    for (const auto& [name, count] : tableWrites_) {
        if (std::find(tables.begin(), tables.end(), name) != tables.end()) rows += count;
    }
    return rows + unattributedWrites_ + rollbackCount_ + otherConnectionsCommits_;
}

void APMSqliteStore::noticeOtherConnectionsCommits() {
    if (db_ == nullptr) return;
    if (dataVersionStatement_ == nullptr &&
        sqlite3_prepare_v3(db_, "PRAGMA data_version", -1, SQLITE_PREPARE_PERSISTENT, &dataVersionStatement_,
                           nullptr) != SQLITE_OK) {
        sqlite3_finalize(dataVersionStatement_);
        dataVersionStatement_ = nullptr;
        ++otherConnectionsCommits_;  // unknown: nothing kept may be trusted
        return;
    }
    const int code = sqlite3_step(dataVersionStatement_);
    const std::int64_t version = code == SQLITE_ROW ? sqlite3_column_int64(dataVersionStatement_, 0) : -1;
    sqlite3_reset(dataVersionStatement_);
    if (version == -1 || version != dataVersion_) ++otherConnectionsCommits_;
    dataVersion_ = version;
}

APMSqliteStore::~APMSqliteStore() { closeConnection(); }

void APMSqliteStore::closeConnection() {
    sqlite3_finalize(dataVersionStatement_);
    dataVersionStatement_ = nullptr;
    for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
    statements_.clear();
    columnNames_.clear();
    if (db_ != nullptr) sqlite3_close_v2(db_);
    db_ = nullptr;
    ++unattributedWrites_;
    savepointDepth_ = 0;
}

bool APMSqliteStore::closeAndDeleteDatabase() {
    closeConnection();
    std::error_code removal;
    removeDatabaseFiles(path_, removal);
    return !removal;
}

APMError APMSqliteStore::sqliteError(int code, const std::string& sql) const {
    std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
    return APMError::withCode(kAPMDatabaseErrorSQLite, "SQLite error " + std::to_string(code) + " (" + message +
                                                            ") in statement: " + sql);
}

bool APMSqliteStore::prepare(const std::string& sql, const Parameters& parameters, Statement& statement,
                             APMError* error) {
    if (db_ == nullptr) {
        APMSetError(error, kAPMDatabaseErrorNotOpen, "Database is not open: " + path_);
        return false;
    }
    if (openTransactions_ > 0 && sqlite3_get_autocommit(db_) != 0) {
        // SQLite rolled the transaction back on an earlier failure (an I/O
        // error, a full disk, an interrupt): a statement run now would commit
        // on its own, outside the transaction its caller believes it is in.
        APMSetError(error, kAPMDatabaseErrorRolledBack, "Transaction was rolled back by the database: " + sql);
        return false;
    }
    auto found = statements_.find(sql);
    if (found != statements_.end() && !sqlite3_stmt_busy(found->second)) {
        statement.handle = found->second;
        statement.cached = true;
    } else {
        // A statement already running (a nested read of the same SQL) gets a
        // private copy; otherwise the new one is kept for next time.
        bool keep = found == statements_.end();
        int code = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                                      keep ? SQLITE_PREPARE_PERSISTENT : 0, &statement.handle, nullptr);
        if (code != SQLITE_OK || statement.handle == nullptr) {
            if (error) *error = sqliteError(code == SQLITE_OK ? SQLITE_MISUSE : code, sql);
            sqlite3_finalize(statement.handle);
            statement.handle = nullptr;
            return false;
        }
        statement.cached = keep;
        if (keep) statements_.emplace(sql, statement.handle);
    }
    auto& names = columnNames_[statement.handle];
    const int count = sqlite3_column_count(statement.handle);
    // A schema change (an added column) can change what "*" expands to.
    if (!names || static_cast<int>(names->size()) != count) {
        auto made = std::make_shared<std::vector<std::string>>();
        for (int i = 0; i < count; ++i) made->emplace_back(sqlite3_column_name(statement.handle, i));
        names = std::move(made);
    }
    statement.names = names;
    if (!statement.cached) columnNames_.erase(statement.handle);
    statement.store = this;
    statement.writes = sqlite3_stmt_readonly(statement.handle) == 0 && !beginsOrEndsTransaction(sql);
    statement.rowWritesBefore = rowWrites_;

    if (sqlite3_bind_parameter_count(statement.handle) != static_cast<int>(parameters.size())) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument,
                    "Statement expects " + std::to_string(sqlite3_bind_parameter_count(statement.handle)) +
                        " parameters, got " + std::to_string(parameters.size()) + ": " + sql);
        return false;
    }
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        int index = static_cast<int>(i) + 1;
        const APMSqliteValue& value = parameters[i];
        int code = SQLITE_OK;
        if (const auto* integer = std::get_if<std::int64_t>(&value)) {
            code = sqlite3_bind_int64(statement.handle, index, *integer);
        } else if (const auto* real = std::get_if<double>(&value)) {
            code = sqlite3_bind_double(statement.handle, index, *real);
        } else if (const auto* text = std::get_if<std::string>(&value)) {
            // The parameters outlive the statement's use, so no copy is needed.
            code = sqlite3_bind_text64(statement.handle, index, text->data(), text->size(), SQLITE_STATIC, SQLITE_UTF8);
        } else if (const auto* bytes = std::get_if<APMBytes>(&value)) {
            code = bytes->empty() ? sqlite3_bind_zeroblob(statement.handle, index, 0)
                                  : sqlite3_bind_blob64(statement.handle, index, bytes->data(), bytes->size(),
                                                        SQLITE_STATIC);
        } else {
            code = sqlite3_bind_null(statement.handle, index);
        }
        if (code != SQLITE_OK) {
            if (error) *error = sqliteError(code, sql);
            return false;
        }
    }
    return true;
}

bool APMSqliteStore::forEachRow(const std::string& sql, const Parameters& parameters, const RowVisitor& visitor,
                                APMError* error) {
    Statement statement;
    if (!prepare(sql, parameters, statement, error)) return false;
    const int columns = static_cast<int>(statement.names->size());
    while (true) {
        int code = sqlite3_step(statement.handle);
        if (code == SQLITE_DONE) return true;
        if (code != SQLITE_ROW) {
            if (error) *error = sqliteError(code, sql);
            return false;
        }
        std::vector<APMSqliteValue> values;
        values.reserve(columns);
        for (int i = 0; i < columns; ++i) {
            switch (sqlite3_column_type(statement.handle, i)) {
            case SQLITE_INTEGER:
                values.emplace_back(static_cast<std::int64_t>(sqlite3_column_int64(statement.handle, i)));
                break;
            case SQLITE_FLOAT:
                values.emplace_back(sqlite3_column_double(statement.handle, i));
                break;
            case SQLITE_TEXT: {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement.handle, i));
                values.emplace_back(std::string(text, sqlite3_column_bytes(statement.handle, i)));
                break;
            }
            case SQLITE_BLOB: {
                const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement.handle, i));
                values.emplace_back(APMBytes(bytes, bytes + sqlite3_column_bytes(statement.handle, i)));
                break;
            }
            default:
                values.emplace_back(std::monostate{});
            }
        }
        if (!visitor(APMSqliteRow(statement.names, std::move(values)))) return true;
    }
}

APMResult<std::vector<APMSqliteRow>> APMSqliteStore::recordsForQuery(const std::string& sql,
                                                                     const Parameters& parameters) {
    std::vector<APMSqliteRow> rows;
    APMError error;
    bool ran = forEachRow(sql, parameters, [&](const APMSqliteRow& row) {
        rows.push_back(row);
        return true;
    }, &error);
    if (!ran) return APMResult<std::vector<APMSqliteRow>>::failure(std::move(error));
    return APMResult<std::vector<APMSqliteRow>>::success(std::move(rows));
}

APMResult<APMSqliteRow> APMSqliteStore::firstRow(const std::string& sql, const Parameters& parameters) {
    std::optional<APMSqliteRow> first;
    APMError error;
    bool ran = forEachRow(sql, parameters, [&](const APMSqliteRow& row) {
        first = row;
        return false;
    }, &error);
    if (!ran) return APMResult<APMSqliteRow>::failure(std::move(error));
    return first ? APMResult<APMSqliteRow>::success(std::move(*first)) : APMResult<APMSqliteRow>::none();
}

APMResult<std::int64_t> APMSqliteStore::execute(const std::string& sql, const Parameters& parameters) {
    Statement statement;
    APMError error;
    if (!prepare(sql, parameters, statement, &error)) return APMResult<std::int64_t>::failure(std::move(error));
    int code;
    while ((code = sqlite3_step(statement.handle)) == SQLITE_ROW) {
    }
    if (code != SQLITE_DONE) return APMResult<std::int64_t>::failure(sqliteError(code, sql));
    return APMResult<std::int64_t>::success(sqlite3_changes64(db_));
}

bool APMSqliteStore::executeScript(const std::string& sql, APMError* error) {
    if (db_ == nullptr) {
        APMSetError(error, kAPMDatabaseErrorNotOpen, "Database is not open: " + path_);
        return false;
    }
    int code = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
    ++unattributedWrites_;
    if (code != SQLITE_OK) {
        if (error) *error = sqliteError(code, sql);
        return false;
    }
    return true;
}

std::int64_t APMSqliteStore::lastInsertRowID() const { return db_ ? sqlite3_last_insert_rowid(db_) : 0; }

bool APMSqliteStore::isInTransaction() const { return db_ != nullptr && sqlite3_get_autocommit(db_) == 0; }

void APMSqliteStore::performReadTransaction(const std::function<void()>& block) {
    // A failure to begin leaves every read in its own snapshot, as without
    // this call; nothing is lost but the saving.
    if (isInTransaction() || execute("BEGIN DEFERRED TRANSACTION", {}).failed()) {
        block();
        return;
    }
    noticeOtherConnectionsCommits();  // and takes the snapshot
    try {
        block();
    } catch (...) {
        (void)executeScript("ROLLBACK TRANSACTION", nullptr);
        throw;
    }
    if (execute("END TRANSACTION", {}).failed()) (void)executeScript("ROLLBACK TRANSACTION", nullptr);
}

bool APMSqliteStore::performTransaction(APMError* error, const std::function<bool()>& block) {
    // Inside an open transaction the block becomes a savepoint, so nested
    // work rolls back on its own without ending the outer transaction.
    const bool nested = isInTransaction();
    const std::string name = "apm_savepoint_" + std::to_string(savepointDepth_);
    const std::string begin = nested ? "SAVEPOINT " + name : "BEGIN EXCLUSIVE TRANSACTION";
    const std::string commit = nested ? "RELEASE " + name : "END TRANSACTION";
    const std::string rollback = nested ? "ROLLBACK TO " + name + "; RELEASE " + name : "ROLLBACK TRANSACTION";

    auto step = [&](const std::string& sql, APMError* failure) {
        // Prepared once and cached: beginning and ending is on every write's path.
        auto ran = execute(sql, {});
        if (ran.failed() && failure) *failure = *ran.error;
        return !ran.failed();
    };
    if (!step(begin, error)) return false;
    if (!nested) noticeOtherConnectionsCommits();
    if (nested) ++savepointDepth_;
    ++openTransactions_;
    auto undo = [&] {
        if (nested) --savepointDepth_;
        --openTransactions_;
        ++rollbackCount_;
        // The block's or the commit's failure is what the caller hears; a
        // rollback that finds nothing to undo (SQLite may have rolled back
        // already) leaves nothing more to report.
        (void)executeScript(rollback, nullptr);
    };
    bool answer;
    try {
        answer = block();
    } catch (...) {
        undo();
        throw;
    }
    if (!answer) {
        undo();
        APMSetError(error, kAPMDatabaseErrorRolledBack, "Transaction was rolled back");
        return false;
    }
    APMError failure;
    if (!step(commit, &failure)) {
        undo();
        if (error) *error = std::move(failure);
        return false;
    }
    if (nested) --savepointDepth_;
    --openTransactions_;
    return true;
}

bool APMSqliteStore::ensureTable(const std::string& table, const ColumnInfo& elementaryColumns,
                                 const ColumnInfo& addOnColumns, APMError* error) {
    if (table.empty() || elementaryColumns.empty()) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Cannot ensure a table without name or columns");
        return false;
    }
    std::string sql = "CREATE TABLE IF NOT EXISTS " + table + " (";
    for (std::size_t i = 0; i < elementaryColumns.size(); ++i) {
        if (i > 0) sql += ", ";
        sql += elementaryColumns[i].first + " " + elementaryColumns[i].second;
    }
    sql += ")";
    if (!executeScript(sql, error)) return false;

    auto existing = recordsForQuery("PRAGMA table_info(" + table + ")", {});
    if (existing.failed()) {
        if (error) *error = *existing.error;
        return false;
    }
    auto hasColumn = [&](const std::string& column) {
        for (const auto& row : *existing.value) {
            if (row.text("name") == column) return true;
        }
        return false;
    };
    for (const auto& [column, type] : elementaryColumns) {
        if (!hasColumn(column)) {
            APMSetError(error, kAPMDatabaseErrorInvalidData, "Table " + table + " lacks column " + column);
            return false;
        }
    }
    for (const auto& [column, type] : addOnColumns) {
        if (!hasColumn(column) && !executeScript("ALTER TABLE " + table + " ADD COLUMN " + column + " " + type, error)) {
            return false;
        }
    }
    return true;
}

bool APMSqliteStore::upsertRecord(const APMSqliteRow& record, const std::string& table, APMError* error) {
    if (table.empty() || record.size() == 0) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Cannot upsert an empty record or into an unnamed table");
        return false;
    }
    std::string columns;
    std::string placeholders;
    Parameters parameters;
    for (std::size_t i = 0; i < record.size(); ++i) {
        columns += (i ? ", " : "") + record.nameAt(i);
        placeholders += i ? ", ?" : "?";
        parameters.push_back(record.valueAt(i));
    }
    auto result = execute("INSERT OR REPLACE INTO " + table + " (" + columns + ") VALUES (" + placeholders + ")",
                          parameters);
    if (result.failed() && error) *error = *result.error;
    return !result.failed();
}

bool APMSqliteStore::deleteRecordFromTable(const std::string& table, const std::string& column,
                                           const APMSqliteValue& value, APMError* error) {
    if (table.empty() || column.empty() || std::holds_alternative<std::monostate>(value)) {
        APMSetError(error, kAPMDatabaseErrorInvalidArgument, "Cannot delete a record without table, column or value");
        return false;
    }
    auto result = execute("DELETE FROM " + table + " WHERE " + column + "=?", {value});
    if (result.failed() && error) *error = *result.error;
    return !result.failed();
}

APMResult<std::int64_t> APMSqliteStore::deleteRecordsFromTable(const std::string& table, const std::string& condition,
                                                               const Parameters& parameters) {
    if (table.empty() || condition.empty()) {
        return APMResult<std::int64_t>::failure(
            APMError::withCode(kAPMDatabaseErrorInvalidArgument, "Cannot delete records without table or condition"));
    }
    return execute("DELETE FROM " + table + " WHERE " + condition, parameters);
}
