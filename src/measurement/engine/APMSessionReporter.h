#pragma once
// APMSessionReporter: decides when a session has timed out, starts sessions
// (the internal event "_s" with the user properties "_sid" and "_sno") and
// reports the time the application is in use as "_e" events with "_et" in
// milliseconds: every engagement interval from the "Engagement timer", when
// the application resigns active and when the screen changes.
//
// Two clocks: the wall clock for session activity (persisted) and the uptime
// clock for engagement (in memory; -1.0 when unknown).
//
// Threads: the timer and the screen-view reporter's handlers run on the main
// queue, the engine's session tests on its worker queue. The engagement
// starts, the reporting switch and the time-out are guarded by `mutex_`,
// which also makes each read-and-update of the persisted activity time one
// step; nothing is logged and no facade call is made while it is held.
//
// The reporters log events and set user properties through the analytics
// facade, which sits above the engine: it installs its calls here
// (APMSetReporterFacade) when it creates the engine.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "measurement/storage/APMAlarm.h"
#include "measurement/storage/APMUserAttribute.h"
#include "measurement/storage/APMValue.h"
#include "platform/core/Dispatch.h"
#include "platform/core/NotificationCenter.h"

class APMPersistedConfig;
class APMRemoteConfig;
struct APMScreen;

inline constexpr const char* kAPMEngagementTimerName = "Engagement timer";

// The facade's calls the reporters make. An empty logInternalEvent falls
// back to the lower layers' internal-event logger; the others do nothing
// while empty.
struct APMReporterFacade {
    std::function<void(const std::string& origin, const std::string& name, const APMParameters& parameters)>
        logInternalEvent;
    std::function<void(const std::string& origin, const std::string& name, double timestamp,
                       const APMParameters& parameters)>
        logInternalEventWithTimestamp;
    // A value of none removes the property.
    std::function<void(const std::optional<APMValue>& value, const std::string& name, const std::string& origin)>
        setInternalUserProperty;
};

// Installs the facade's calls (empty members uninstall) and returns the previous ones.
APMReporterFacade APMSetReporterFacade(APMReporterFacade facade);
// Each hands its call to the installed facade, outside any lock of this layer.
void APMReporterLogInternalEvent(const std::string& origin, const std::string& name, const APMParameters& parameters);
void APMReporterLogInternalEvent(const std::string& origin, const std::string& name, double timestamp,
                                 const APMParameters& parameters);
void APMReporterSetInternalUserProperty(const std::optional<APMValue>& value, const std::string& name,
                                        const std::string& origin);

// What a reporter is built on; empty members take the process's defaults.
struct APMSessionReporterEnvironment {
    platform::Dispatcher* dispatcher = nullptr;  // required
    // The remote configuration, read at each use; default APMMeasurement::remoteConfig().
    std::function<std::shared_ptr<APMRemoteConfig>()> configuration;
    // Seconds since boot, -1.0 when unknown; default the dispatcher's monotonic clock.
    std::function<double()> uptime;
    // Default APMIsAppActive.
    std::function<bool()> isAppActive;
    platform::NotificationCenter* notificationCenter = nullptr;  // default: the default centre
};

class APMSessionReporter : public std::enable_shared_from_this<APMSessionReporter> {
public:
    // A stored one-time time-out is used (and removed from `persistedConfig`),
    // else the remote default. Reporting starts off.
    static std::shared_ptr<APMSessionReporter> create(std::shared_ptr<APMPersistedConfig> persistedConfig,
                                                      APMSessionReporterEnvironment environment);
    ~APMSessionReporter();
    APMSessionReporter(const APMSessionReporter&) = delete;
    APMSessionReporter& operator=(const APMSessionReporter&) = delete;

    void setReportingEnabled(bool enabled);
    bool isReportingEnabled() const;
    // A negative time-out logs 33001 and becomes 0; an expired session's
    // activity time is cleared under the old time-out first.
    void setTimeoutSessionInterval(double seconds);
    double timeoutSessionInterval() const;

    // More than the time-out since the last activity (none counts as 0).
    bool hasReachedSessionTimeout() const;
    bool shouldStartNewSession() const { return hasReachedSessionTimeout(); }
    // False while active; an expired session found inactive has its activity time reset to 0.
    bool isSessionExpired();
    // Marks activity now unless the session has expired; true when extended.
    bool extendSession();

    APMUserAttribute sessionIDPropertyWithTimestamp(double timestamp) const;
    // "_sno" = `sessionNumber`, set now.
    APMUserAttribute sessionNumberProperty(std::int64_t sessionNumber) const;
    // Session number + 1, activity now.
    void updatePropertiesForNewSessionStart();
    // Sets "_sid" then "_sno" (origin "auto"); none removes.
    void setSessionID(const std::optional<APMValue>& sessionID, const std::optional<APMValue>& sessionNumber);

    void logSessionStartEvent();
    void logUserEngagementEvent();
    // The engagement since the last cut, capped at one hour, as "_et" (ms);
    // 0 and nothing logged while inactive or not reporting.
    std::int64_t logEngagementEventAndReturnTimeWithScreen(const APMScreen* screen, bool isRedundant);

    void handleAppDidBecomeActive();
    void handleAppWillResignActiveWithScreen(const APMScreen* screen);
    void handleScreenDidChangeFromScreen(const APMScreen* previousScreen, const APMScreen* newScreen);

    void rescheduleUserEngagementTimer();

    double currentUptime() const;
    double currentClockTime() const;
    // Seconds since the engagement start in force; never negative (33004).
    double incurredEngagementTime() const;
    // 0 unless efficient engagement reporting is on; then the free-ride
    // engagement in ms, its start moved to now.
    std::int64_t cutFreerideEngagementTimeMillis();

    bool efficientEngagementReportingEnabled() const;
    bool redundantEngagementRemovalEnabled() const;
    const std::shared_ptr<APMAlarm>& userEngagementTimer() const { return userEngagementTimer_; }

private:
    APMSessionReporter(std::shared_ptr<APMPersistedConfig> persistedConfig, APMSessionReporterEnvironment environment);
    std::shared_ptr<APMRemoteConfig> configuration() const;
    bool appActive() const;
    bool hasReachedSessionTimeoutLocked(double timeout) const;
    bool expireSessionLocked(double timeout);
    // The engagement since the start in force, negative when the clock went back.
    double rawIncurredEngagementTimeLocked(bool efficient, double uptime) const;
    static double nonNegativeEngagement(double seconds);

    const std::shared_ptr<APMPersistedConfig> persistedConfig_;
    const APMSessionReporterEnvironment environment_;
    const std::shared_ptr<APMAlarm> userEngagementTimer_;

    mutable std::mutex mutex_;
    double engagementStartUptime_ = 0;          // under mutex_
    double freerideEngagementStartUptime_ = 0;  // under mutex_
    bool reportingEnabled_ = false;             // under mutex_
    double timeoutSessionInterval_ = 0;         // under mutex_
};
