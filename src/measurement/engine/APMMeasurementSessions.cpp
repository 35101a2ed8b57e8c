// The engine's side of sessions and screens: it owns the session reporter,
// makes it at the start, replaces it at reset, switches its reporting with
// the engine and answers the event road's session questions through it.

#include <utility>

#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMRemoteConfig.h"
#include "measurement/engine/APMSessionReporter.h"

std::shared_ptr<APMSessionReporter> APMMeasurement::sessionReporter() const {
    std::lock_guard lock(sessionReporterMutex_);
    return sessionReporter_;
}

void APMMeasurement::createSessionReporterOnWorkerQueue() {
    if (sessionReporter()) return;
    APMSessionReporterEnvironment environment;
    environment.dispatcher = &dispatcher_;
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    // The reporter outlives no engine it reads from: a gone engine answers
    // with the defaults.
    environment.configuration = [weak] {
        const auto self = weak.lock();
        return self ? self->configuration() : APMRemoteConfig::defaultInstance();
    };
    environment.uptime = [weak] {
        const auto self = weak.lock();
        return self ? self->uptime() : -1.0;
    };
    environment.notificationCenter = &notificationCenter_;
    auto reporter = APMSessionReporter::create(persistedConfig_, std::move(environment));
    std::lock_guard lock(sessionReporterMutex_);
    sessionReporter_ = std::move(reporter);
}

void APMMeasurement::resetSessionReporterOnWorkerQueue() {
    std::shared_ptr<APMSessionReporter> old;
    {
        std::lock_guard lock(sessionReporterMutex_);
        old = std::move(sessionReporter_);
    }
    // The old reporter's timer is cancelled when it goes, outside the lock.
    old.reset();
    createSessionReporterOnWorkerQueue();
    setSessionReportingEnabled(isEnabled());
}

void APMMeasurement::setSessionReportingEnabled(bool enabled) {
    if (const auto reporter = sessionReporter()) reporter->setReportingEnabled(enabled);
}

bool APMMeasurement::isSessionExpired() {
    const auto reporter = sessionReporter();
    return reporter && reporter->isSessionExpired();
}

bool APMMeasurement::extendSession() {
    const auto reporter = sessionReporter();
    return reporter && reporter->extendSession();
}

void APMMeasurement::setSessionTimeoutInterval(double seconds) {
    scheduleWeakly("APMMeasurement:1631", [seconds](APMMeasurement& self) {
        if (const auto reporter = self.sessionReporter()) reporter->setTimeoutSessionInterval(seconds);
    });
}
