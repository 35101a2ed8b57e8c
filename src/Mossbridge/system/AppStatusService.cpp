#include "Mossbridge/system/AppStatusService.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "Mossbridge/system/BadgeLabels.h"
#include "Mossbridge/model/DiagnosticLine.h"
#include "Mossbridge/system/NotificationDatabaseReader.h"
#include "Mossbridge/model/PerformanceLog.h"

namespace Mossbridge {

namespace {

constexpr double kReadIntervalWithBadges = 2.0;
constexpr double kReadIntervalWithoutBadges = 6.0;
constexpr double kSlowReadMilliseconds = 5.0;

double millisecondsBetween(std::uint64_t start, std::uint64_t end) {
    return static_cast<double>(end - start) / 1e6;
}

template <typename Map>
void keepOnly(Map& map, const std::set<std::string>& keys) {
    std::erase_if(map, [&](const auto& entry) { return !keys.contains(entry.first); });
}

void removeUpTo(std::vector<AppNotificationItem>& items, std::int64_t recordID) {
    std::erase_if(items, [&](const AppNotificationItem& item) { return item.recordID <= recordID; });
}

AppStatusService::Sources withRealSources(AppStatusService::Sources sources) {
    if (!sources.badges) {
        sources.badges = badgeSource(BadgeLabelReader());
    }
    if (!sources.notifications) {
        sources.notifications = [reader = NotificationDatabaseReader()](const std::vector<AppStatusTarget>& targets) {
            return reader.readNotificationItems(targets);
        };
    }
    return sources;
}

}  // namespace

std::map<std::string, std::int64_t> loadClearedNotificationRecordIDs(const platform::UserDefaults& defaults) {
    std::map<std::string, std::int64_t> cleared;
    const auto stored = defaults.object(kClearedNotificationRecordIDsKey);
    const platform::PropertyDictionary* dictionary = stored ? stored->asDictionary() : nullptr;
    if (!dictionary) return cleared;
    for (const auto& [bundleIdentifier, value] : *dictionary) {
        if (auto number = value.asInteger()) cleared[bundleIdentifier] = *number;
        else if (auto flag = value.asBoolean()) cleared[bundleIdentifier] = *flag ? 1 : 0;  // a Boolean is a number too
    }
    return cleared;
}

AppStatusService::AppStatusService() : AppStatusService({}, platform::systemClock(), nullptr) {}

AppStatusService::AppStatusService(Sources sources, const platform::Clock& clock,
                                   std::shared_ptr<platform::UserDefaults> defaults)
    : sources_(withRealSources(std::move(sources))),
      clock_(clock),
      defaults_(defaults ? std::move(defaults) : platform::UserDefaults::standard()),
      clearedNotificationRecordIDs_(loadClearedNotificationRecordIDs(*defaults_)) {}

std::string AppStatusService::notificationDatabaseFolderStatus() {
    return resolveNotificationDatabaseFolderBookmark(*platform::UserDefaults::standard()) ? "Selected" : "Default";
}

void AppStatusService::refresh(const std::vector<AppStatusTarget>& targets) {
    const std::uint64_t start = clock_.monotonicNanos();
    pruneToTargets(targets);

    // Intervals run on the monotonic clock, so setting the wall clock back
    // cannot stop the reads.
    const double interval = cachedSystemBadges_.empty() ? kReadIntervalWithoutBadges : kReadIntervalWithBadges;
    const bool due = !lastBadgeRefresh_ ||
                     static_cast<double>(clock_.monotonicNanos() - *lastBadgeRefresh_) / 1e9 > interval;
    if (due) {
        const std::string apps = "apps=" + std::to_string(targets.size());
        std::uint64_t before = clock_.monotonicNanos();
        cachedSystemBadges_ = sources_.badges(targets);
        double elapsed = millisecondsBetween(before, clock_.monotonicNanos());
        if (elapsed >= kSlowReadMilliseconds) logPerformanceDuration("status.badges", elapsed, apps);

        before = clock_.monotonicNanos();
        refreshNotifications(targets);
        elapsed = millisecondsBetween(before, clock_.monotonicNanos());
        if (elapsed >= kSlowReadMilliseconds) logPerformanceDuration("status.notifications", elapsed, apps);

        lastBadgeRefresh_ = clock_.monotonicNanos();
    }

    for (const auto& target : targets) {
        AppStatus status;
        if (auto badge = cachedSystemBadges_.find(target.bundleIdentifier); badge != cachedSystemBadges_.end()) {
            status.badgeText = badge->second;
        }
        if (auto items = cachedNotifications_.find(target.bundleIdentifier); items != cachedNotifications_.end()) {
            status.notifications = items->second;
        }
        if (auto pending = pendingNewNotifications_.find(target.bundleIdentifier);
            pending != pendingNewNotifications_.end()) {
            status.newNotification = std::move(pending->second);
            pendingNewNotifications_.erase(pending);
        }
        lastStatuses_[target.bundleIdentifier] = std::move(status);
    }

    logPerformanceEvent("status.refresh.finish", [&] {
        std::size_t notifications = 0;
        for (const auto& [bundleIdentifier, items] : cachedNotifications_) notifications += items.size();
        char elapsed[32];
        std::snprintf(elapsed, sizeof elapsed, "%.1fms", millisecondsBetween(start, clock_.monotonicNanos()));
        return std::string(elapsed) + " apps=" + std::to_string(targets.size()) +
               " badges=" + std::to_string(cachedSystemBadges_.size()) +
               " notifications=" + std::to_string(notifications) + " activities=0";
    });
}

void AppStatusService::pruneToTargets(const std::vector<AppStatusTarget>& targets) {
    std::set<std::string> running;
    for (const auto& target : targets) running.insert(target.bundleIdentifier);
    keepOnly(lastStatuses_, running);
    keepOnly(cachedSystemBadges_, running);
    keepOnly(cachedNotifications_, running);
    keepOnly(pendingNewNotifications_, running);
    keepOnly(latestNotificationRecordIDs_, running);
    keepOnly(clearedNotificationRecordIDs_, running);
}

void AppStatusService::refreshNotifications(const std::vector<AppStatusTarget>& targets) {
    auto read = sources_.notifications(targets);
    if (read.error) {
        printDiagnosticLine("Notification list unavailable: " + *read.error);
        return;
    }

    NotificationItemsByApp fresh;
    for (auto& [bundleIdentifier, items] : read.items) {
        removeUpTo(items, clearedRecordID(bundleIdentifier));
        if (!items.empty()) fresh[bundleIdentifier] = std::move(items);
    }
    cachedNotifications_ = std::move(fresh);

    for (const auto& target : targets) {
        const auto list = cachedNotifications_.find(target.bundleIdentifier);
        if (list == cachedNotifications_.end()) continue;
        const AppNotificationItem& newest = list->second.front();
        const auto previous = latestNotificationRecordIDs_.find(target.bundleIdentifier);
        const bool announce = didSeedNotificationRecordIDs_ && previous != latestNotificationRecordIDs_.end() &&
                              previous->second < newest.recordID;
        latestNotificationRecordIDs_[target.bundleIdentifier] = newest.recordID;
        if (announce) pendingNewNotifications_[target.bundleIdentifier] = newest;
    }
    didSeedNotificationRecordIDs_ = true;
}

void AppStatusService::clearNotifications(const std::string& bundleIdentifier, std::int64_t recordID) {
    auto& cleared = clearedNotificationRecordIDs_[bundleIdentifier];
    cleared = std::max(cleared, recordID);
    saveClearedNotificationRecordIDs();

    auto& cached = cachedNotifications_[bundleIdentifier];
    removeUpTo(cached, recordID);

    if (auto pending = pendingNewNotifications_.find(bundleIdentifier);
        pending != pendingNewNotifications_.end() && pending->second.recordID <= recordID) {
        pendingNewNotifications_.erase(pending);
    }

    auto& latest = latestNotificationRecordIDs_[bundleIdentifier];
    latest = std::max(latest, recordID);

    if (auto status = lastStatuses_.find(bundleIdentifier); status != lastStatuses_.end()) {
        removeUpTo(status->second.notifications, recordID);
        if (status->second.newNotification && status->second.newNotification->recordID <= recordID) {
            status->second.newNotification.reset();
        }
    }
}

std::int64_t AppStatusService::clearedRecordID(const std::string& bundleIdentifier) const {
    const auto cleared = clearedNotificationRecordIDs_.find(bundleIdentifier);
    return cleared == clearedNotificationRecordIDs_.end() ? 0 : cleared->second;
}

void AppStatusService::saveClearedNotificationRecordIDs() const {
    platform::PropertyDictionary stored;
    for (const auto& [bundleIdentifier, recordID] : clearedNotificationRecordIDs_) {
        stored[bundleIdentifier] = platform::PropertyValue(static_cast<long long>(recordID));
    }
    // A failed file write keeps the value in memory for the defaults' next write.
    (void)defaults_->set(kClearedNotificationRecordIDsKey, platform::PropertyValue(std::move(stored)));
}

}  // namespace Mossbridge
