#include "measurement/engine/APMSessionReporter.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "measurement/engine/APMEngineWiring.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMRemoteConfig.h"
#include "measurement/engine/APMScreenViewReporter.h"
#include "measurement/interface/APMAdExposureReporter.h"
#include "measurement/interface/APMErrorEventLogging.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMSaturatingConversion.h"

namespace {

constexpr double kMaxEngagementSecondsPerEvent = 3600;

std::mutex& facadeMutex() {
    static std::mutex mutex;
    return mutex;
}

APMReporterFacade& facadeSlot() {
    static APMReporterFacade facade;
    return facade;
}

APMReporterFacade installedFacade() {
    std::lock_guard lock(facadeMutex());
    return facadeSlot();
}

}  // namespace

// MARK: - Facade calls

APMReporterFacade APMSetReporterFacade(APMReporterFacade facade) {
    std::lock_guard lock(facadeMutex());
    return std::exchange(facadeSlot(), std::move(facade));
}

void APMReporterLogInternalEvent(const std::string& origin, const std::string& name, const APMParameters& parameters) {
    const APMReporterFacade facade = installedFacade();
    if (facade.logInternalEvent) {
        facade.logInternalEvent(origin, name, parameters);
    } else {
        APMLogInternalEvent(origin, name, parameters);
    }
}

void APMReporterLogInternalEvent(const std::string& origin, const std::string& name, double timestamp,
                                 const APMParameters& parameters) {
    const APMReporterFacade facade = installedFacade();
    if (facade.logInternalEventWithTimestamp) facade.logInternalEventWithTimestamp(origin, name, timestamp, parameters);
}

void APMReporterSetInternalUserProperty(const std::optional<APMValue>& value, const std::string& name,
                                        const std::string& origin) {
    const APMReporterFacade facade = installedFacade();
    if (facade.setInternalUserProperty) facade.setInternalUserProperty(value, name, origin);
}

// MARK: - Construction

std::shared_ptr<APMSessionReporter> APMSessionReporter::create(std::shared_ptr<APMPersistedConfig> persistedConfig,
                                                               APMSessionReporterEnvironment environment) {
    if (!persistedConfig || !environment.dispatcher) return nullptr;
    return std::shared_ptr<APMSessionReporter>(new APMSessionReporter(std::move(persistedConfig), std::move(environment)));
}

APMSessionReporter::APMSessionReporter(std::shared_ptr<APMPersistedConfig> persistedConfig,
                                       APMSessionReporterEnvironment environment)
    : persistedConfig_(std::move(persistedConfig)),
      environment_(std::move(environment)),
      userEngagementTimer_(std::make_shared<APMAlarm>(*environment_.dispatcher, environment_.dispatcher->mainQueue(),
                                                      kAPMEngagementTimerName)) {
    // A time-out set before the engine existed applies once.
    if (const std::optional<double> stored = persistedConfig_->sessionTimeoutValue()) {
        timeoutSessionInterval_ = std::max(*stored, 0.0);
        persistedConfig_->setSessionTimeoutValue(std::nullopt);
    } else {
        timeoutSessionInterval_ = configuration()->sessionDefaultTimeoutInterval();
    }
    engagementStartUptime_ = freerideEngagementStartUptime_ = currentUptime();
}

APMSessionReporter::~APMSessionReporter() { userEngagementTimer_->cancel(); }

std::shared_ptr<APMRemoteConfig> APMSessionReporter::configuration() const {
    if (environment_.configuration) {
        if (auto config = environment_.configuration()) return config;
    }
    return APMMeasurement::remoteConfig();
}

bool APMSessionReporter::appActive() const {
    return environment_.isAppActive ? environment_.isAppActive() : APMIsAppActive();
}

bool APMSessionReporter::efficientEngagementReportingEnabled() const {
    return configuration()->efficientEngagementReportingEnabled();
}

bool APMSessionReporter::redundantEngagementRemovalEnabled() const {
    return configuration()->redundantEngagementRemovalEnabled();
}

double APMSessionReporter::currentUptime() const {
    return environment_.uptime ? environment_.uptime() : environment_.dispatcher->clock().uptime();
}

double APMSessionReporter::currentClockTime() const { return environment_.dispatcher->clock().now(); }

// MARK: - Switches

void APMSessionReporter::setReportingEnabled(bool enabled) {
    {
        std::lock_guard lock(mutex_);
        reportingEnabled_ = enabled;
    }
    if (!enabled) {
        userEngagementTimer_->cancel();
        return;
    }
    if (!appActive()) return;
    if (shouldStartNewSession()) logSessionStartEvent();
    if (!userEngagementTimer_->scheduledTimestamp()) rescheduleUserEngagementTimer();
}

bool APMSessionReporter::isReportingEnabled() const {
    std::lock_guard lock(mutex_);
    return reportingEnabled_;
}

void APMSessionReporter::setTimeoutSessionInterval(double seconds) {
    if (seconds < 0) {
        APMMonitor::shared()->log(3, 33001, "Received negative timeout session duration. Setting to 0.0 instead.");
    }
    const bool active = appActive();
    std::lock_guard lock(mutex_);
    // The session that has already run out under the old time-out stays over.
    if (!active) (void)expireSessionLocked(timeoutSessionInterval_);
    timeoutSessionInterval_ = std::max(seconds, 0.0);
}

double APMSessionReporter::timeoutSessionInterval() const {
    std::lock_guard lock(mutex_);
    return timeoutSessionInterval_;
}

// MARK: - Session tests

bool APMSessionReporter::hasReachedSessionTimeoutLocked(double timeout) const {
    return std::fabs(currentClockTime() - persistedConfig_->lastSessionActivityClockTime()) > timeout;
}

bool APMSessionReporter::expireSessionLocked(double timeout) {
    if (!hasReachedSessionTimeoutLocked(timeout)) return false;
    if (persistedConfig_->lastSessionActivityClockTime() > 0) persistedConfig_->setLastSessionActivityClockTime(0);
    return true;
}

bool APMSessionReporter::hasReachedSessionTimeout() const {
    std::lock_guard lock(mutex_);
    return hasReachedSessionTimeoutLocked(timeoutSessionInterval_);
}

bool APMSessionReporter::isSessionExpired() {
    if (appActive()) return false;
    std::lock_guard lock(mutex_);
    return expireSessionLocked(timeoutSessionInterval_);
}

bool APMSessionReporter::extendSession() {
    const bool active = appActive();
    std::lock_guard lock(mutex_);
    // The test and the refresh are one step, so a concurrent expiry cannot
    // slip between them.
    if (!active && expireSessionLocked(timeoutSessionInterval_)) return false;
    persistedConfig_->setLastSessionActivityClockTime(currentClockTime());
    return true;
}

// MARK: - Session properties

APMUserAttribute APMSessionReporter::sessionIDPropertyWithTimestamp(double timestamp) const {
    return APMUserAttribute("auto", "_sid", APMValue(apm_saturatingInt64(timestamp)), timestamp);
}

APMUserAttribute APMSessionReporter::sessionNumberProperty(std::int64_t sessionNumber) const {
    return APMUserAttribute("auto", "_sno", APMValue(sessionNumber), currentClockTime());
}

void APMSessionReporter::updatePropertiesForNewSessionStart() {
    std::lock_guard lock(mutex_);
    persistedConfig_->setSessionNumber(persistedConfig_->sessionNumber() + 1);
    persistedConfig_->setLastSessionActivityClockTime(currentClockTime());
}

void APMSessionReporter::setSessionID(const std::optional<APMValue>& sessionID,
                                      const std::optional<APMValue>& sessionNumber) {
    APMReporterSetInternalUserProperty(sessionID, "_sid", "auto");
    APMReporterSetInternalUserProperty(sessionNumber, "_sno", "auto");
}

// MARK: - Events

void APMSessionReporter::logSessionStartEvent() {
    if (!appActive()) {
        APMMonitor::shared()->log(7, 33005, "Session start event not logged. Application is not active");
        return;
    }
    std::int64_t sessionID = 0;
    std::int64_t sessionNumber = 0;
    {
        std::lock_guard lock(mutex_);
        if (!reportingEnabled_) return;
        // The new number and its identifier are taken together, so two
        // starts racing on two queues never share a number.
        const double now = currentClockTime();
        sessionNumber = persistedConfig_->sessionNumber() + 1;
        persistedConfig_->setSessionNumber(sessionNumber);
        persistedConfig_->setLastSessionActivityClockTime(now);
        sessionID = apm_saturatingInt64(now);
    }
    APMParameters parameters;
    parameters.set("_sid", APMValue(sessionID));
    parameters.set("_sno", APMValue(sessionNumber));
    setSessionID(APMValue(sessionID), APMValue(sessionNumber));
    APMReporterLogInternalEvent("auto", "_s", parameters);
}

void APMSessionReporter::logUserEngagementEvent() { (void)logEngagementEventAndReturnTimeWithScreen(nullptr, false); }

std::int64_t APMSessionReporter::logEngagementEventAndReturnTimeWithScreen(const APMScreen* screen, bool isRedundant) {
    if (!appActive()) {
        APMMonitor::shared()->log(7, 33006, "User engagement event not logged. Application is not active");
        return 0;
    }
    const bool efficient = efficientEngagementReportingEnabled();
    const double uptime = currentUptime();
    bool reporting = false;
    double incurred = 0;
    {
        // The measured period and the restart of measuring are one step: a
        // timer tick and a screen change never report the same time twice.
        std::lock_guard lock(mutex_);
        reporting = reportingEnabled_;
        incurred = rawIncurredEngagementTimeLocked(efficient, uptime);
        engagementStartUptime_ = uptime;
        if (!isRedundant && efficient) freerideEngagementStartUptime_ = uptime;
        persistedConfig_->setLastSessionActivityClockTime(currentClockTime());
    }
    std::int64_t milliseconds = 0;
    if (reporting) {
        const double seconds = std::min(nonNegativeEngagement(incurred), kMaxEngagementSecondsPerEvent);
        milliseconds = apm_millisecondsFromSeconds(seconds);
        APMParameters parameters;
        parameters.set("_et", APMValue(milliseconds));
        if (screen) {
            for (const auto& [name, value] : APMScreenParameters(*screen)) parameters.set(name, value);
        }
        if (isRedundant && efficient) parameters.set("_fr", APMValue(std::int64_t{1}));
        APMReporterLogInternalEvent("auto", "_e", parameters);
    }
    rescheduleUserEngagementTimer();
    return milliseconds;
}

// MARK: - Application state

void APMSessionReporter::handleAppDidBecomeActive() {
    {
        std::lock_guard lock(mutex_);
        engagementStartUptime_ = freerideEngagementStartUptime_ = currentUptime();
    }
    rescheduleUserEngagementTimer();
    if (appActive() && shouldStartNewSession() && isReportingEnabled()) {
        setSessionID(std::nullopt, std::nullopt);
        logSessionStartEvent();
    }
}

void APMSessionReporter::handleAppWillResignActiveWithScreen(const APMScreen* screen) {
    (void)logEngagementEventAndReturnTimeWithScreen(screen, false);
    userEngagementTimer_->cancel();
}

void APMSessionReporter::handleScreenDidChangeFromScreen(const APMScreen* previousScreen, const APMScreen*) {
    if (!previousScreen || incurredEngagementTime() < 1) return;
    const bool efficient = efficientEngagementReportingEnabled();
    if (efficient && redundantEngagementRemovalEnabled()) return;
    // The time is charged to the screen being left.
    (void)logEngagementEventAndReturnTimeWithScreen(previousScreen, efficient);
}

void APMSessionReporter::rescheduleUserEngagementTimer() {
    platform::NotificationCenter* center = environment_.notificationCenter;
    if (!center) center = &platform::NotificationCenter::defaultCenter();
    userEngagementTimer_->runAfterDelay(configuration()->sessionEventUserEngagementInterval(),
                                        [weak = weak_from_this(), center] {
                                            center->post(kAPMSessionReporterEngagementTimerDidFire);
                                            if (const auto self = weak.lock()) self->logUserEngagementEvent();
                                        });
}

// MARK: - Engagement time

double APMSessionReporter::rawIncurredEngagementTimeLocked(bool efficient, double uptime) const {
    return uptime - (efficient ? freerideEngagementStartUptime_ : engagementStartUptime_);
}

double APMSessionReporter::nonNegativeEngagement(double seconds) {
    if (seconds >= 0) return seconds;
    APMMonitor::shared()->log(4, 33004, "Incurred engagement time is negative. Setting to 0.0 instead");
    return 0;
}

double APMSessionReporter::incurredEngagementTime() const {
    const bool efficient = efficientEngagementReportingEnabled();
    const double uptime = currentUptime();
    double raw = 0;
    {
        std::lock_guard lock(mutex_);
        raw = rawIncurredEngagementTimeLocked(efficient, uptime);
    }
    return nonNegativeEngagement(raw);
}

std::int64_t APMSessionReporter::cutFreerideEngagementTimeMillis() {
    if (!efficientEngagementReportingEnabled()) return 0;
    const double uptime = currentUptime();
    double raw = 0;
    {
        std::lock_guard lock(mutex_);
        raw = rawIncurredEngagementTimeLocked(true, uptime);
        freerideEngagementStartUptime_ = uptime;
    }
    return apm_millisecondsFromSeconds(nonNegativeEngagement(raw));
}
