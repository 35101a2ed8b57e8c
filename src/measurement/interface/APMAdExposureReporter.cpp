#include "measurement/interface/APMAdExposureReporter.h"

#include <cmath>
#include <mutex>

#include "measurement/interface/APMErrorEventLogging.h"
#include "measurement/storage/APMMonitor.h"

namespace {

constexpr std::size_t kMaxAdUnits = 100;

std::int64_t milliseconds(double seconds) {
    const double ms = std::trunc(seconds * 1000.0);
    if (!(ms > -9.2e18 && ms < 9.2e18)) return 0;
    return static_cast<std::int64_t>(ms);
}

struct SharedSlot {
    std::mutex mutex;
    std::shared_ptr<APMAdExposureReporter> reporter;
};

SharedSlot& sharedSlot() {
    static SharedSlot slot;
    return slot;
}

}  // namespace

std::shared_ptr<APMAdExposureReporter> APMAdExposureReporter::create(platform::Dispatcher& dispatcher,
                                                                     ScreenSource screens,
                                                                     platform::NotificationCenter& center) {
    std::shared_ptr<APMAdExposureReporter> reporter(new APMAdExposureReporter(dispatcher, std::move(screens), center));
    std::weak_ptr<APMAdExposureReporter> weak = reporter;
    reporter->observer_ = center.addObserver(kAPMSessionReporterEngagementTimerDidFire, nullptr, nullptr,
                                             [weak](const platform::Notification&) {
                                                 if (const auto self = weak.lock()) self->handleEngagementTimer();
                                             });
    return reporter;
}

APMAdExposureReporter::APMAdExposureReporter(platform::Dispatcher& dispatcher, ScreenSource screens,
                                             platform::NotificationCenter& center)
    : dispatcher_(dispatcher),
      screens_(std::move(screens)),
      center_(center),
      queue_(dispatcher.makeSerialQueue("APMAdExposureReporter")),
      adExposureStartTime_(currentTime()) {}

APMAdExposureReporter::~APMAdExposureReporter() { center_.removeObserver(observer_); }

std::shared_ptr<APMAdExposureReporter> APMAdExposureReporter::sharedInstance() {
    auto& slot = sharedSlot();
    std::lock_guard lock(slot.mutex);
    return slot.reporter;
}

void APMAdExposureReporter::installSharedInstance(std::shared_ptr<APMAdExposureReporter> reporter) {
    auto& slot = sharedSlot();
    std::lock_guard lock(slot.mutex);
    slot.reporter = std::move(reporter);
}

double APMAdExposureReporter::currentTime() const { return dispatcher_.clock().uptime(); }

APMParameters APMAdExposureReporter::currentScreenParameters() const {
    return screens_.screenParameters ? screens_.screenParameters() : APMParameters{};
}

bool APMAdExposureReporter::appActive() const { return screens_.isAppActive ? screens_.isAppActive() : true; }

void APMAdExposureReporter::beginAdUnitExposure(const std::string& adUnitID) {
    if (adUnitID.empty()) {
        APMMonitor::shared()->log(5, 1000, "Ignoring call to begin ad unit exposure. Received empty ad unit ID");
        return;
    }
    const double now = currentTime();
    std::weak_ptr<APMAdExposureReporter> weak = weak_from_this();
    queue_->async([weak, adUnitID, now] {
        const auto self = weak.lock();
        if (!self) return;
        if (self->adUnitCounts_.size() >= kMaxAdUnits) {
            APMMonitor::shared()->log(5, 1002, "Reached limit on ad units. Ignoring ad unit with ID", adUnitID);
            return;
        }
        if (self->adUnitCounts_.empty()) self->adExposureStartTime_ = now;
        if (!self->adUnitCounts_.count(adUnitID)) self->adUnitStartTimes_[adUnitID] = now;
        ++self->adUnitCounts_[adUnitID];
    });
}

void APMAdExposureReporter::endAdUnitExposure(const std::string& adUnitID) {
    if (adUnitID.empty()) {
        APMMonitor::shared()->log(5, 1003, "Ignoring call to end ad unit exposure. Received empty ad unit ID");
        return;
    }
    const double now = currentTime();
    const auto screen = currentScreenParameters();
    queue_->sync([&] {
        const auto count = adUnitCounts_.find(adUnitID);
        if (count == adUnitCounts_.end()) {
            APMMonitor::shared()->log(5, 1004, "Unknown ad unit. Ignoring ad unit with ID", adUnitID);
            return;
        }
        if (count->second >= 2) {
            --count->second;
            return;
        }
        logAdUnitExposureEventOnSerialQueue(adUnitID, now, screen);
        adUnitCounts_.erase(count);
        adUnitStartTimes_.erase(adUnitID);
        if (adUnitCounts_.empty()) {
            logAdExposureEventOnSerialQueue(now, screen);
            adExposureStartTime_ = now;
        }
    });
}

void APMAdExposureReporter::logExposureEventsOnSerialQueue(double endTime, const APMParameters& screenParameters) {
    for (const auto& [id, count] : adUnitCounts_) logAdUnitExposureEventOnSerialQueue(id, endTime, screenParameters);
    if (adUnitCounts_.empty()) return;
    logAdExposureEventOnSerialQueue(endTime, screenParameters);
    updateStartTimesOnSerialQueue(endTime);
}

void APMAdExposureReporter::logAdExposureEventOnSerialQueue(double endTime, const APMParameters& screenParameters) {
    auto& monitor = *APMMonitor::shared();
    if (!isReportingEnabled()) {
        monitor.log(5, 1005, "Ad exposure not logged. Reporting is disabled.");
        return;
    }
    if (!appActive()) {
        monitor.log(8, 1010, "Ad exposure not logged. App is not active.");
        return;
    }
    const auto ms = milliseconds(endTime - adExposureStartTime_);
    if (ms <= 999) {
        monitor.log(8, 1006, "Ad exposure not logged. Exposure time was less than 1 sec");
        return;
    }
    auto parameters = screenParameters;
    parameters.set("_xt", APMValue(ms));
    APMLogInternalEvent("am", "_xa", parameters);
}

void APMAdExposureReporter::logAdUnitExposureEventOnSerialQueue(const std::string& adUnitID, double endTime,
                                                                const APMParameters& screenParameters) {
    auto& monitor = *APMMonitor::shared();
    if (!isReportingEnabled()) {
        monitor.log(5, 1007, "Ad unit exposure not logged. Reporting is disabled.");
        return;
    }
    if (adUnitID.empty()) {
        monitor.log(5, 1008, "Ad unit exposure not logged. Received empty ad unit ID");
        return;
    }
    if (!appActive()) {
        monitor.log(8, 1011, "Ad unit exposure not logged. App is not active.");
        return;
    }
    const auto start = adUnitStartTimes_.find(adUnitID);
    const auto ms = milliseconds(endTime - (start == adUnitStartTimes_.end() ? endTime : start->second));
    if (ms <= 999) {
        monitor.log(8, 1009, "Ad unit exposure not logged. Exposure time was less than 1 sec");
        return;
    }
    auto parameters = screenParameters;
    parameters.set("_ai", APMValue(adUnitID));
    parameters.set("_xt", APMValue(ms));
    APMLogInternalEvent("am", "_xu", parameters);
}

void APMAdExposureReporter::updateStartTimesOnSerialQueue(double time) {
    for (auto& [id, start] : adUnitStartTimes_) start = time;
    adExposureStartTime_ = time;
}

void APMAdExposureReporter::logExposureEventsWithScreenParameters(const APMParameters& screenParameters) {
    const double now = currentTime();
    queue_->sync([&] { logExposureEventsOnSerialQueue(now, screenParameters); });
}

void APMAdExposureReporter::handleScreenDidChangeFromScreen(const std::optional<APMParameters>& previousScreen) {
    if (previousScreen) logExposureEventsWithScreenParameters(*previousScreen);
}

void APMAdExposureReporter::handleEngagementTimer() { logExposureEventsWithScreenParameters(currentScreenParameters()); }

void APMAdExposureReporter::handleAppDidBecomeActive() {
    const double now = currentTime();
    queue_->sync([&] { updateStartTimesOnSerialQueue(now); });
}

void APMAdExposureReporter::handleAppWillResignActiveWithScreen(const std::optional<APMParameters>& screen) {
    logExposureEventsWithScreenParameters(screen && !screen->empty() ? *screen : currentScreenParameters());
}
