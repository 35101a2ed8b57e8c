#include "Mossbridge/app/NotificationDatabaseFixture.h"

#include <sqlite3.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <system_error>

#include <nlohmann/json.hpp>

#include "platform/core/PropertyList.h"

namespace Mossbridge {

namespace {

using json = nlohmann::json;

// The notification centre counts dates from 2001-01-01T00:00:00Z.
constexpr double kSecondsFrom1970To2001 = 978307200.0;

const char* const kSchema =
    "create table app (app_id integer primary key, identifier text);"
    "create table record (rec_id integer primary key, app_id integer, delivered_date real, data blob);";

struct Record {
    std::string app;
    std::int64_t recordID = 0;
    double delivered = 0;
    platform::PropertyData payload;
};

struct Failure {
    std::string message;
};

std::optional<std::string> optionalText(const json& record, const char* key, const std::string& path) {
    const auto found = record.find(key);
    if (found == record.end() || found->is_null()) return std::nullopt;
    if (!found->is_string()) throw Failure{path + "." + key + ": expected a string"};
    return found->get<std::string>();
}

std::vector<Record> readRecords(const json& root) {
    if (!root.is_object() || !root.contains("records") || !root.at("records").is_array()) {
        throw Failure{"records: expected an array"};
    }
    std::vector<Record> records;
    const json& list = root.at("records");
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string path = "records[" + std::to_string(i) + "]";
        const json& entry = list[i];
        if (!entry.is_object()) throw Failure{path + ": expected an object"};
        Record record;
        const auto app = optionalText(entry, "app", path);
        if (!app || app->empty()) throw Failure{path + ".app: expected an application identifier"};
        record.app = *app;
        if (!entry.contains("recordID") || !entry.at("recordID").is_number_integer()) {
            throw Failure{path + ".recordID: expected an integer"};
        }
        record.recordID = entry.at("recordID").get<std::int64_t>();
        if (entry.contains("delivered")) {
            if (!entry.at("delivered").is_number()) throw Failure{path + ".delivered: expected a number"};
            record.delivered = entry.at("delivered").get<double>();
        }
        platform::PropertyDictionary request;
        if (auto text = optionalText(entry, "title", path)) request["titl"] = platform::PropertyValue(*text);
        if (auto text = optionalText(entry, "subtitle", path)) request["subt"] = platform::PropertyValue(*text);
        if (auto text = optionalText(entry, "body", path)) request["body"] = platform::PropertyValue(*text);
        auto payload = platform::serializePropertyList(
            platform::PropertyValue(platform::PropertyDictionary{{"req", platform::PropertyValue(request)}}),
            platform::PropertyListFormat::Binary);
        if (!payload) throw Failure{path + ": the payload could not be encoded"};
        record.payload = std::move(*payload);
        records.push_back(std::move(record));
    }
    return records;
}

// Closes the connection and the statement on every path out.
struct Database {
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    ~Database() {
        if (statement) sqlite3_finalize(statement);
        if (db) sqlite3_close(db);
    }
    [[noreturn]] void fail(const std::string& what) const {
        throw Failure{what + ": " + (db ? sqlite3_errmsg(db) : "no connection")};
    }
    void prepare(const char* sql) {
        if (statement) sqlite3_finalize(statement);
        statement = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) fail("prepare");
    }
    void step() {
        if (sqlite3_step(statement) != SQLITE_DONE) fail("insert");
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    }
};

void writeDatabase(const std::vector<Record>& records, const std::filesystem::path& path, double start) {
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path.string() + suffix, ignored);

    Database database;
    if (sqlite3_open_v2(path.c_str(), &database.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        database.fail("open " + path.string());
    }
    if (sqlite3_exec(database.db, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) database.fail("schema");

    std::map<std::string, std::int64_t> appIDs;
    database.prepare("insert into app (app_id, identifier) values (?, ?)");
    for (const Record& record : records) {
        if (appIDs.contains(record.app)) continue;
        const auto id = static_cast<std::int64_t>(appIDs.size() + 1);
        appIDs[record.app] = id;
        sqlite3_bind_int64(database.statement, 1, id);
        sqlite3_bind_text(database.statement, 2, record.app.c_str(), -1, SQLITE_TRANSIENT);
        database.step();
    }
    database.prepare("insert into record (rec_id, app_id, delivered_date, data) values (?, ?, ?, ?)");
    for (const Record& record : records) {
        sqlite3_bind_int64(database.statement, 1, record.recordID);
        sqlite3_bind_int64(database.statement, 2, appIDs.at(record.app));
        sqlite3_bind_double(database.statement, 3, start + record.delivered - kSecondsFrom1970To2001);
        sqlite3_bind_blob(database.statement, 4, record.payload.data(), static_cast<int>(record.payload.size()),
                          SQLITE_TRANSIENT);
        database.step();
    }
}

std::vector<Record> readFixture(const std::filesystem::path& fixture) {
    std::ifstream file(fixture, std::ios::binary);
    if (!file) throw Failure{"cannot read " + fixture.string()};
    std::stringstream text;
    text << file.rdbuf();
    try {
        return readRecords(json::parse(text.str()));
    } catch (const json::exception& error) {
        throw Failure{fixture.string() + ": not valid JSON: " + error.what()};
    } catch (const Failure& failure) {
        throw Failure{fixture.string() + ": " + failure.message};
    }
}

}  // namespace

std::optional<std::string> buildNotificationDatabase(const std::filesystem::path& fixture,
                                                     const std::filesystem::path& database, double startWallSeconds,
                                                     double elapsedSeconds) {
    const std::filesystem::path written = database.string() + ".new";
    try {
        std::vector<Record> records = readFixture(fixture);
        std::erase_if(records, [&](const Record& record) { return record.delivered > elapsedSeconds; });
        writeDatabase(records, written, startWallSeconds);
    } catch (const Failure& failure) {
        return failure.message;
    }
    std::error_code error;
    std::filesystem::rename(written, database, error);
    if (error) return "cannot replace " + database.string() + ": " + error.message();
    return std::nullopt;
}

std::vector<double> notificationArrivalTimes(const std::filesystem::path& fixture) {
    std::set<double> times;
    try {
        for (const Record& record : readFixture(fixture)) {
            if (record.delivered > 0) times.insert(record.delivered);
        }
    } catch (const Failure&) {
        return {};
    }
    return {times.begin(), times.end()};
}

}  // namespace Mossbridge
