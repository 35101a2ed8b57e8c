#pragma once
// Makes one chosen statement or commit fail on the connections a process
// opens to one database file, with no hook in the code under test.
//
// An auto-extension attaches to every connection opened while the injector
// lives. Between `arm` and `disarm` it counts injection points in the order
// SQLite meets them: each statement that starts running (transaction control
// aside: BEGIN, END, COMMIT, ROLLBACK, SAVEPOINT, RELEASE) and each commit of
// a write transaction. At the chosen point a statement is interrupted before
// it changes anything (the progress handler answers non-zero), and a commit
// is turned into a rollback (the commit hook answers non-zero). SQLite then
// reports SQLITE_INTERRUPT or SQLITE_CONSTRAINT_COMMITHOOK, as it would
// report a failed write, and may roll the whole transaction back itself.
//
// One injector at a time (SQLite's auto-extensions are process-wide); test
// thread only.

#include <sqlite3.h>

#include <cctype>
#include <filesystem>
#include <optional>
#include <string>

namespace engine_test {

class SqliteFaultInjector {
public:
    explicit SqliteFaultInjector(const std::filesystem::path& database)
        : path_(std::filesystem::weakly_canonical(database)) {
        current() = this;
        sqlite3_auto_extension(reinterpret_cast<void (*)()>(&attach));
    }
    ~SqliteFaultInjector() {
        sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(&attach));
        current() = nullptr;
    }
    SqliteFaultInjector(const SqliteFaultInjector&) = delete;
    SqliteFaultInjector& operator=(const SqliteFaultInjector&) = delete;

    // Counts from 0; `failAt` none only counts.
    void arm(std::optional<int> failAt) {
        armed_ = true;
        seen_ = 0;
        failAt_ = failAt;
        interrupting_ = false;
        fired_ = false;
    }
    // The number of points met since `arm`.
    int disarm() {
        armed_ = false;
        interrupting_ = false;
        return seen_;
    }
    bool fired() const { return fired_; }
    // The point that fired: the statement's text, or "COMMIT".
    const std::string& firedAt() const { return firedAt_; }

private:
    static SqliteFaultInjector*& current() {
        static SqliteFaultInjector* injector = nullptr;
        return injector;
    }

    static int attach(sqlite3* db, char**, const sqlite3_api_routines*) {
        SqliteFaultInjector* self = current();
        const char* file = sqlite3_db_filename(db, "main");
        if (!self || !file || !*file || std::filesystem::weakly_canonical(file) != self->path_) return SQLITE_OK;
        sqlite3_trace_v2(db, SQLITE_TRACE_STMT, &onTrace, self);
        sqlite3_progress_handler(db, 1, &onProgress, self);
        sqlite3_commit_hook(db, &onCommit, self);
        return SQLITE_OK;
    }

    static bool isTransactionControl(const char* sql) {
        std::string word;
        for (; *sql && std::isspace(static_cast<unsigned char>(*sql)); ++sql) {
        }
        for (; *sql && std::isalpha(static_cast<unsigned char>(*sql)); ++sql) {
            word += static_cast<char>(std::toupper(static_cast<unsigned char>(*sql)));
        }
        return word == "BEGIN" || word == "END" || word == "COMMIT" || word == "ROLLBACK" || word == "SAVEPOINT" ||
               word == "RELEASE";
    }

    bool isChosenPoint(const std::string& what) {
        if (seen_++ != failAt_) return false;
        fired_ = true;
        firedAt_ = what;
        return true;
    }

    static int onTrace(unsigned, void* context, void*, void* text) {
        auto* self = static_cast<SqliteFaultInjector*>(context);
        self->interrupting_ = false;
        const char* sql = static_cast<const char*>(text);
        if (!self->armed_ || !sql || isTransactionControl(sql)) return 0;
        self->interrupting_ = self->isChosenPoint(sql);
        return 0;
    }

    static int onProgress(void* context) { return static_cast<SqliteFaultInjector*>(context)->interrupting_ ? 1 : 0; }

    static int onCommit(void* context) {
        auto* self = static_cast<SqliteFaultInjector*>(context);
        return self->armed_ && self->isChosenPoint("COMMIT") ? 1 : 0;
    }

    const std::filesystem::path path_;
    bool armed_ = false;
    int seen_ = 0;
    std::optional<int> failAt_;
    bool interrupting_ = false;
    bool fired_ = false;
    std::string firedAt_;
};

}  // namespace engine_test
