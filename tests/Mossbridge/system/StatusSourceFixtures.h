#pragma once
// Fixtures for the status sources: a scratch folder, real notification
// databases with the notification centre's tables, real binary property-list
// payloads, and standard output capture.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/PropertyList.h"
#include "platform/core/Uuid.h"

namespace Mossbridge::testing {

// A folder of its own under the test's temporary directory, removed at the end.
class ScratchFolder {
public:
    ScratchFolder()
        : path_(std::filesystem::path(::testing::TempDir()) / ("mossbridge-" + platform::makeUuidString())) {
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Dates in the database count seconds from 2001-01-01T00:00:00Z.
inline constexpr double kUnixTimeOf2001 = 978307200.0;

// A notification-centre database with its two tables.
class NotificationDatabaseBuilder {
public:
    explicit NotificationDatabaseBuilder(const std::filesystem::path& file) {
        std::filesystem::create_directories(file.parent_path());
        EXPECT_EQ(sqlite3_open(file.c_str(), &db_), SQLITE_OK);
        exec("pragma synchronous = off");  // fixtures need no durability
        exec("create table app (app_id integer primary key, identifier text);"
             "create table record (rec_id integer primary key, app_id integer, delivered_date real, data blob);");
    }
    ~NotificationDatabaseBuilder() { sqlite3_close(db_); }

    void exec(const std::string& sql) {
        char* message = nullptr;
        EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
        sqlite3_free(message);
    }

    // Answers the new application's app_id.
    std::int64_t addApp(const std::optional<std::string>& identifier) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db_, "insert into app (identifier) values (?)", -1, &statement, nullptr);
        if (identifier) sqlite3_bind_text(statement, 1, identifier->c_str(), -1, SQLITE_TRANSIENT);
        EXPECT_EQ(sqlite3_step(statement), SQLITE_DONE);
        sqlite3_finalize(statement);
        return sqlite3_last_insert_rowid(db_);
    }

    void addRecord(std::int64_t recordID, std::int64_t appID, double deliveredSince2001,
                   const std::optional<platform::PropertyData>& payload) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db_, "insert into record (rec_id, app_id, delivered_date, data) values (?, ?, ?, ?)", -1,
                           &statement, nullptr);
        sqlite3_bind_int64(statement, 1, recordID);
        sqlite3_bind_int64(statement, 2, appID);
        sqlite3_bind_double(statement, 3, deliveredSince2001);
        if (payload) sqlite3_bind_blob(statement, 4, payload->data(), static_cast<int>(payload->size()), SQLITE_TRANSIENT);
        EXPECT_EQ(sqlite3_step(statement), SQLITE_DONE);
        sqlite3_finalize(statement);
    }

    sqlite3* handle() const { return db_; }

private:
    sqlite3* db_ = nullptr;
};

// A record payload whose "req" dictionary holds the given texts.
inline platform::PropertyData requestPayload(const std::optional<std::string>& title,
                                             const std::optional<std::string>& subtitle,
                                             const std::optional<std::string>& body) {
    platform::PropertyDictionary request;
    if (title) request["titl"] = *title;
    if (subtitle) request["subt"] = *subtitle;
    if (body) request["body"] = *body;
    platform::PropertyDictionary top{{"app", "ignored"}, {"req", platform::PropertyValue(std::move(request))}};
    auto data = platform::serializePropertyList(platform::PropertyValue(std::move(top)),
                                                platform::PropertyListFormat::Binary);
    EXPECT_TRUE(data) << "a payload text that no property list can hold";
    return data.value_or(platform::PropertyData{});
}

inline platform::PropertyData bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

// What `body` wrote to standard output.
template <typename Body>
std::string capturedOutput(Body body) {
    ::testing::internal::CaptureStdout();
    body();
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

}  // namespace Mossbridge::testing
