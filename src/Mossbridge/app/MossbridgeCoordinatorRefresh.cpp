// The refresh cycle: running applications at once on the main thread, the
// status task on the refresher's queue (one at a time), the pets synced with
// what is known meanwhile, and the settings window's live update.

#include <cstdio>

#include "Mossbridge/app/MossbridgeCoordinator.h"
#include "Mossbridge/model/PerformanceLog.h"

namespace Mossbridge {

namespace {

double millisecondsSince(const platform::Clock& clock, std::uint64_t start) {
    return static_cast<double>(clock.monotonicNanos() - start) / 1e6;
}

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

void MossbridgeCoordinator::refresh() {
    const std::uint64_t passStart = clock_.monotonicNanos();

    const std::uint64_t appsStart = clock_.monotonicNanos();
    runningApps_->refresh();
    if (const double ms = millisecondsSince(clock_, appsStart); ms >= slowStepMilliseconds) {
        logPerformanceDuration("refresh.runningApps", ms);
    }

    updateCalendarMonitoring();

    std::vector<AppStatusTarget> targets;
    targets.reserve(runningApps_->apps().size());
    for (const RunningApp& app : runningApps_->apps()) {
        targets.push_back({app.bundleIdentifier, app.name, app.processIdentifier});
    }
    if (statusRefreshTask_) {
        logPerformanceStatusTaskSkip(targets.size());
    } else {
        startStatusTask(std::move(targets));
    }

    const std::uint64_t syncStart = clock_.monotonicNanos();
    petController_->sync(latestStatuses_);
    if (const double ms = millisecondsSince(clock_, syncStart); ms >= slowStepMilliseconds) {
        logPerformanceDuration("refresh.syncPets.cached", ms, countsDetails());
    }

    settingsLiveUpdate();

    logPerformanceEvent("refresh.total", [&] {
        char total[32];
        std::snprintf(total, sizeof total, "%.1fms", millisecondsSince(clock_, passStart));
        return std::string(total) + " apps=" + std::to_string(runningApps_->apps().size());
    });
}

void MossbridgeCoordinator::settingsLiveUpdate() {
    const std::uint64_t now = clock_.monotonicNanos();
    const auto interval = static_cast<std::uint64_t>(settingsLiveUpdateInterval * 1e9);
    if (lastSettingsReload_ && now - *lastSettingsReload_ <= interval) return;
    if (settingsWindow_ && settingsViewController_) settingsViewController_->refreshLiveState();
    if (const double ms = millisecondsSince(clock_, now); ms >= slowStepMilliseconds) {
        logPerformanceDuration("refresh.settings.liveUpdate", ms);
    }
    lastSettingsReload_ = clock_.monotonicNanos();
}

void MossbridgeCoordinator::startStatusTask(std::vector<AppStatusTarget> targets) {
    const std::uint64_t task = nextStatusTask_++;
    statusRefreshTask_ = task;
    std::weak_ptr<MossbridgeCoordinator> weakSelf = weak_from_this();
    const platform::QueueRef mainQueue = mainQueue_;
    mainQueue_->async([weakSelf, mainQueue, task, targets = std::move(targets)]() mutable {
        const auto self = weakSelf.lock();
        if (!self) return;
        self->statusRefresher_->refresh(std::move(targets), [weakSelf, mainQueue, task](auto statuses) {
            mainQueue->async([weakSelf, task, statuses = std::move(statuses)]() mutable {
                if (const auto self = weakSelf.lock()) self->applyStatuses(task, std::move(statuses));
            });
        });
    });
}

void MossbridgeCoordinator::applyStatuses(std::uint64_t task, std::optional<AppStatusMap> statuses) {
    if (statuses) {
        const std::uint64_t start = clock_.monotonicNanos();
        const std::size_t gathered = statuses->size();
        latestStatuses_ = mergeLiveInfo(std::move(*statuses));
        petController_->sync(latestStatuses_);
        if (const double ms = millisecondsSince(clock_, start); ms >= slowStepMilliseconds) {
            logPerformanceDuration("refresh.status.apply", ms, "statuses=" + std::to_string(gathered));
        }
    }
    if (statusRefreshTask_ == task) statusRefreshTask_.reset();
}

void MossbridgeCoordinator::updateCalendarMonitoring() {
    for (const AppAssignment& assignment : store_->assignments) {
        if (assignment.category == AppCategory::calendar) {
            calendarEventMonitor_->start();
            return;
        }
    }
    calendarEventMonitor_->stop();
    latestCalendarEvent_.reset();
}

AppStatusMap MossbridgeCoordinator::mergeLiveInfo(AppStatusMap statuses) const {
    for (const AppAssignment& assignment : store_->assignments) {
        if (assignment.category != AppCategory::calendar) continue;
        AppStatus status = AppStatus::empty;
        if (const auto found = statuses.find(assignment.bundleIdentifier); found != statuses.end()) {
            status = found->second;
        }
        status.calendarEvent = latestCalendarEvent_;
        if (latestCalendarEvent_) {
            status.activityText = calendarActivityText(*latestCalendarEvent_, clock_);
            if (!status.badgeText) status.badgeText = "!";
        } else if (status.activityText &&
                   (startsWith(*status.activityText, "Event ") || startsWith(*status.activityText, "In event:"))) {
            status.activityText.reset();
        }
        statuses[assignment.bundleIdentifier] = std::move(status);
    }
    for (const auto& [bundleIdentifier, playback] : latestMediaPlayback_) {
        AppStatus& status = statuses[bundleIdentifier];
        status.mediaPlayback = playback;
        status.activityText = mediaActivityText(playback);
    }
    return statuses;
}

}  // namespace Mossbridge
