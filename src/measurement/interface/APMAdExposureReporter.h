#pragma once
// APMAdExposureReporter: how long ads are on screen. An ads library in the
// process announces the start and end of each ad unit's exposure; the
// reporter logs "_xu" per unit and "_xa" for the whole period with at least
// one unit shown (origin "am", "_xt" in milliseconds, at least 1 s, only while
// the app is active). Screen changes, engagement-timer ticks and resigning
// active cut the pending spans, so each event carries the parameters of the
// screen the ads were seen on.
//
// Time is the monotonic clock (seconds since boot): a change of the wall
// clock never lengthens or shortens an exposure. Every field lives on the
// serial queue "APMAdExposureReporter"; the clock and the screen parameters
// are read on the caller's thread, so an end is timed at the call.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "measurement/storage/APMValue.h"
#include "platform/core/Dispatch.h"
#include "platform/core/NotificationCenter.h"

inline constexpr const char* kAPMSessionReporterEngagementTimerDidFire = "kAPMSessionReporterEngagementTimerDidFire";

class APMAdExposureReporter : public std::enable_shared_from_this<APMAdExposureReporter> {
public:
    // What the screen view reporter tells about the current screen; wired
    // by the engine. Either may be empty: no screen parameters, app active.
    struct ScreenSource {
        std::function<APMParameters()> screenParameters;
        std::function<bool()> isAppActive;
    };

    // Observes kAPMSessionReporterEngagementTimerDidFire on `center` while it lives.
    static std::shared_ptr<APMAdExposureReporter> create(
        platform::Dispatcher& dispatcher, ScreenSource screens,
        platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter());
    ~APMAdExposureReporter();

    // The process's reporter, as installed at start-up (none before).
    static std::shared_ptr<APMAdExposureReporter> sharedInstance();
    static void installSharedInstance(std::shared_ptr<APMAdExposureReporter> reporter);

    void beginAdUnitExposure(const std::string& adUnitID);
    void endAdUnitExposure(const std::string& adUnitID);

    // The screen hooks take the screens' parameters ("_si", "_sc", "_sn", "_swui").
    void handleScreenDidChangeFromScreen(const std::optional<APMParameters>& previousScreen);
    void handleEngagementTimer();
    void handleAppDidBecomeActive();
    void handleAppWillResignActiveWithScreen(const std::optional<APMParameters>& screen);
    void logExposureEventsWithScreenParameters(const APMParameters& screenParameters);

    bool isReportingEnabled() const { return reportingEnabled_.load(); }
    void setReportingEnabled(bool enabled) { reportingEnabled_.store(enabled); }

    // Seconds since boot.
    double currentTime() const;

private:
    APMAdExposureReporter(platform::Dispatcher& dispatcher, ScreenSource screens, platform::NotificationCenter& center);
    APMParameters currentScreenParameters() const;
    bool appActive() const;
    void logExposureEventsOnSerialQueue(double endTime, const APMParameters& screenParameters);
    void logAdExposureEventOnSerialQueue(double endTime, const APMParameters& screenParameters);
    void logAdUnitExposureEventOnSerialQueue(const std::string& adUnitID, double endTime,
                                             const APMParameters& screenParameters);
    void updateStartTimesOnSerialQueue(double time);

    platform::Dispatcher& dispatcher_;
    const ScreenSource screens_;
    platform::NotificationCenter& center_;
    platform::NotificationObserverToken observer_;
    platform::QueueRef queue_;
    std::map<std::string, std::int32_t> adUnitCounts_;  // on queue_
    std::map<std::string, double> adUnitStartTimes_;    // on queue_
    double adExposureStartTime_ = 0;                    // on queue_
    std::atomic<bool> reportingEnabled_{true};
};
