#pragma once
// One read of a notification-centre database: the newest 180 delivered
// records, filed under the running applications they belong to (at most 6
// each, newest first). The database is only ever opened read-only.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Mossbridge/model/AppStatus.h"

namespace Mossbridge {

// Items per target bundle identifier (as the target carries it).
using NotificationItemsByApp = std::map<std::string, std::vector<AppNotificationItem>>;

struct [[nodiscard]] NotificationQueryResult {
    NotificationItemsByApp items;
    std::optional<std::string> error;  // set: the read failed and `items` is empty
};

// The display name of the installed application with a bundle identifier;
// the identifier itself when no such application is known.
using AppDisplayNameLookup = std::function<std::string(const std::string& bundleIdentifier)>;

inline constexpr std::size_t kNotificationRowLimit = 180;
inline constexpr std::size_t kNotificationsPerApp = 6;

// Opens `location` (a "file:" URI or a plain path) read-only and reads it.
NotificationQueryResult queryNotificationDatabase(const std::string& location,
                                                  const std::vector<AppStatusTarget>& targets,
                                                  const AppDisplayNameLookup& appDisplayName);

// The read-only URI of a database file; the path is percent-encoded so that
// "?", "#" and "%" in folder names stay part of the path.
std::string readOnlyDatabaseURI(const std::filesystem::path& path);

// The index of the first target a record of the (lower-cased) application
// identifier `id` belongs to, or none.
std::optional<std::size_t> matchingTargetIndex(const std::string& id, const std::vector<AppStatusTarget>& targets,
                                               const AppDisplayNameLookup& appDisplayName);

// The user-facing explanation for an error text that means the system's
// privacy protection refused the read; none for other errors.
std::optional<std::string> notificationPrivacyMessage(const std::string& error);

}  // namespace Mossbridge
