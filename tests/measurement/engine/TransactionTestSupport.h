#pragma once
// SQL run on the engine's database file through a connection of the test's
// own, for tests that damage or lock parts of the store.

#include <sqlite3.h>

#include <string>

namespace engine_test {

// Runs `sql` on the database file; SQLite's message when it fails.
inline std::string runSql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    std::string failure;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK || sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
        failure = sqlite3_errmsg(db);
    }
    sqlite3_close(db);
    return failure;
}

}  // namespace engine_test
