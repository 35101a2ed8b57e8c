#pragma once
// Badge labels and delivered notifications per running application, turned
// into one AppStatus each. The two slow sources are read at most every 2 s
// while any badge is known and every 6 s otherwise (on the monotonic clock);
// refreshes in between reassemble from the caches. A notification that
// arrives after an application was first seen is handed out as
// `newNotification` in exactly one status; what the user cleared stays
// cleared across launches ("Mossbridge.ClearedNotificationRecordIDs").
// Created on the main thread; every other call runs on the status
// refresher's serial executor.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Mossbridge/model/AppStatus.h"
#include "Mossbridge/system/NotificationDatabaseQuery.h"
#include "platform/core/Clock.h"
#include "platform/core/UserDefaults.h"

namespace Mossbridge {

inline constexpr const char* kClearedNotificationRecordIDsKey = "Mossbridge.ClearedNotificationRecordIDs";

class AppStatusService {
public:
    using BadgeSource = std::function<std::map<std::string, std::string>(const std::vector<AppStatusTarget>&)>;
    using NotificationSource = std::function<NotificationQueryResult(const std::vector<AppStatusTarget>&)>;

    // Null sources stand for the real ones (lsappinfo, the notification database).
    struct Sources {
        BadgeSource badges;
        NotificationSource notifications;
    };

    AppStatusService();
    AppStatusService(Sources sources, const platform::Clock& clock, std::shared_ptr<platform::UserDefaults> defaults);

    void refresh(const std::vector<AppStatusTarget>& targets);
    // Hides every notification of the application up to `recordID`, now and
    // after relaunches.
    void clearNotifications(const std::string& bundleIdentifier, std::int64_t recordID);

    // The statuses of the last refresh, adjusted by later clears.
    const AppStatusMap& lastStatuses() const { return lastStatuses_; }

    // "Selected" while a chosen database folder resolves, else "Default".
    static std::string notificationDatabaseFolderStatus();

private:
    void pruneToTargets(const std::vector<AppStatusTarget>& targets);
    void refreshNotifications(const std::vector<AppStatusTarget>& targets);
    std::int64_t clearedRecordID(const std::string& bundleIdentifier) const;
    void saveClearedNotificationRecordIDs() const;

    Sources sources_;
    const platform::Clock& clock_;
    std::shared_ptr<platform::UserDefaults> defaults_;

    AppStatusMap lastStatuses_;
    std::map<std::string, std::string> cachedSystemBadges_;
    NotificationItemsByApp cachedNotifications_;
    std::map<std::string, AppNotificationItem> pendingNewNotifications_;
    std::map<std::string, std::int64_t> latestNotificationRecordIDs_;
    std::map<std::string, std::int64_t> clearedNotificationRecordIDs_;
    bool didSeedNotificationRecordIDs_ = false;
    // Monotonic nanoseconds at the end of the last read; none: never read.
    std::optional<std::uint64_t> lastBadgeRefresh_;
};

// The persisted cleared record identifiers; an absent or malformed value
// reads as empty, and entries that are not numbers are skipped.
std::map<std::string, std::int64_t> loadClearedNotificationRecordIDs(const platform::UserDefaults& defaults);

}  // namespace Mossbridge
