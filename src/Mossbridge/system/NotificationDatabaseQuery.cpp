#include "Mossbridge/system/NotificationDatabaseQuery.h"

#include <sqlite3.h>

#include <array>
#include <cstdio>

#include "Mossbridge/system/NormalizedName.h"
#include "Mossbridge/system/NotificationRecordDecoding.h"
#include "Mossbridge/model/PerformanceLog.h"
#include "platform/core/Clock.h"
#include "platform/core/Unicode.h"

namespace Mossbridge {

namespace {

const char* const kQuery =
    "select lower(app.identifier), record.rec_id, record.delivered_date, record.data\n"
    "from record\n"
    "left join app on app.app_id = record.app_id\n"
    "where app.identifier is not null\n"
    "order by record.delivered_date desc\n"
    "limit 180;";

// The database counts dates from 2001-01-01T00:00:00Z.
constexpr double kSecondsFrom1970To2001 = 978307200.0;

constexpr std::array<const char*, 4> kCalendarIdentifiers = {
    "com.apple.ical", "com.apple.calendar", "com.apple.calendaragent", "com.apple.mobilecal"};

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

bool isCalendarTarget(const std::string& lowerIdentifier, const std::string& normalized) {
    return lowerIdentifier == "com.apple.ical" || lowerIdentifier == "com.apple.calendar" || normalized == "calendar";
}

bool isCalendarRecord(const std::string& id) {
    for (const char* identifier : kCalendarIdentifiers) {
        if (id == identifier) return true;
    }
    return startsWith(id, "com.apple.ical.") || startsWith(id, "com.apple.calendar.");
}

// Closes the connection and finalizes the statement on every path out.
struct Connection {
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    ~Connection() {
        if (statement) sqlite3_finalize(statement);
        if (db) sqlite3_close(db);
    }
    std::string errorMessage() const {
        const char* message = db ? sqlite3_errmsg(db) : nullptr;
        return message ? message : std::string();
    }
};

NotificationQueryResult failure(std::string error) {
    if (auto message = notificationPrivacyMessage(error)) error = *message;
    return {{}, std::move(error)};
}

double millisecondsSince(std::uint64_t startNanos) {
    return static_cast<double>(platform::systemClock().monotonicNanos() - startNanos) / 1e6;
}

}  // namespace

std::string readOnlyDatabaseURI(const std::filesystem::path& path) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string uri = "file:";
    for (const unsigned char c : path.string()) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
        if (unreserved) {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 0x0F];
        }
    }
    return uri + "?mode=ro";
}

std::optional<std::size_t> matchingTargetIndex(const std::string& id, const std::vector<AppStatusTarget>& targets,
                                               const AppDisplayNameLookup& appDisplayName) {
    for (std::size_t index = 0; index < targets.size(); ++index) {
        const std::string t = platform::toLowerCase(targets[index].bundleIdentifier);
        const std::string n = normalizedName(targets[index].name);
        if (id == t) return index;
        if (isCalendarTarget(t, n) && isCalendarRecord(id)) return index;
        if (startsWith(id, t + ".") || startsWith(t, id + ".")) return index;
        const std::string displayName = normalizedName(appDisplayName ? appDisplayName(id) : id);
        if (!displayName.empty() && displayName == n) return index;
    }
    return std::nullopt;
}

std::optional<std::string> notificationPrivacyMessage(const std::string& error) {
    const std::string lower = platform::toLowerCase(error);
    for (const char* marker : {"authorization denied", "operation not permitted", "permission"}) {
        if (lower.find(marker) != std::string::npos) {
            return "Notification badges blocked by macOS privacy. Add Mossbridge to Full Disk Access; "
                   "if running from Xcode, run standalone or add Xcode too.";
        }
    }
    return std::nullopt;
}

NotificationQueryResult queryNotificationDatabase(const std::string& location,
                                                  const std::vector<AppStatusTarget>& targets,
                                                  const AppDisplayNameLookup& appDisplayName) {
    const std::uint64_t start = platform::systemClock().monotonicNanos();
    Connection connection;
    const int opened =
        sqlite3_open_v2(location.c_str(), &connection.db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    if (opened != SQLITE_OK || !connection.db) {
        std::string message = connection.errorMessage();
        return failure(message.empty() ? "sqlite open failed with code " + std::to_string(opened) : message);
    }
    if (sqlite3_prepare_v2(connection.db, kQuery, -1, &connection.statement, nullptr) != SQLITE_OK) {
        return failure(connection.errorMessage());
    }

    NotificationItemsByApp items;
    std::size_t matched = 0;
    int step;
    while ((step = sqlite3_step(connection.statement)) == SQLITE_ROW) {
        sqlite3_stmt* row = connection.statement;
        const unsigned char* identifier = sqlite3_column_text(row, 0);
        if (!identifier) continue;
        const std::string id = platform::toLowerCase(reinterpret_cast<const char*>(identifier));
        const auto index = matchingTargetIndex(id, targets, appDisplayName);
        if (!index) continue;
        const AppStatusTarget& target = targets[*index];
        auto& list = items[target.bundleIdentifier];
        if (list.size() >= kNotificationsPerApp) continue;

        const std::int64_t recordID = sqlite3_column_int64(row, 1);
        const double delivered = sqlite3_column_double(row, 2) + kSecondsFrom1970To2001;
        if (sqlite3_column_type(row, 3) == SQLITE_NULL) continue;
        const auto* payload = static_cast<const std::uint8_t*>(sqlite3_column_blob(row, 3));
        const int length = sqlite3_column_bytes(row, 3);
        if (auto item = decodeNotificationRecordData(recordID, delivered, payload,
                                                     payload ? static_cast<std::size_t>(length) : 0, target.name)) {
            list.push_back(std::move(*item));
            ++matched;
        }
    }
    if (step != SQLITE_DONE) return failure(connection.errorMessage());

    std::erase_if(items, [](const auto& entry) { return entry.second.empty(); });
    logPerformanceEvent("status.notifications.sqliteRows", [&] {
        char elapsed[32];
        std::snprintf(elapsed, sizeof elapsed, "%.1fms", millisecondsSince(start));
        return std::string(elapsed) + " apps=" + std::to_string(targets.size()) + " matched=" + std::to_string(matched);
    });
    return {std::move(items), std::nullopt};
}

}  // namespace Mossbridge
