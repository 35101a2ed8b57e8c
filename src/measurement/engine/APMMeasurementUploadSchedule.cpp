// Upload scheduling: when the next upload runs, and arming the upload timer.

#include <cmath>
#include <limits>

#include "measurement/engine/APMMeasurement.h"
#include "measurement/storage/APMAlarm.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMScheduler.h"

namespace {

constexpr double kSuspensionSeconds = 3600;
constexpr double kMinimumTimerDelay = 0.001;
constexpr double kSoonSeconds = 30;
constexpr double kEpsilon = std::numeric_limits<double>::epsilon();

bool isZero(double value) { return std::fabs(value) < kEpsilon; }

}  // namespace

void APMMeasurement::standDown() {
    alarm_->cancel();
    if (network_) network_->setReachabilityDelegate({});
    terminateBackgroundTask();
}

bool APMMeasurement::hasDataToUpload() {
    const auto database = this->database();
    return database && hasDataToUpload(*database, nullptr);
}

bool APMMeasurement::hasDataToUpload(APMDatabase& database, const APMUploadPlanReads* reads) {
    const APMResult<bool> bundlesEmpty = reads ? reads->bundlesEmpty : database.isQueuedBundleTableEmpty();
    if (!bundlesEmpty.value) {
        monitor()->log(1, 23117, "Failed to check if queue table is empty. Error",
                       bundlesEmpty.error.value_or(APMError::withCode(0, "No answer")));
        return false;
    }
    if (!*bundlesEmpty.value) return true;
    const APMResult<bool> rawEventsEmpty = reads ? reads->rawEventsEmpty : database.isRawEventsTableEmpty();
    if (!rawEventsEmpty.value) {
        monitor()->log(1, 23118, "Failed to check if raw events table is empty. Error",
                       rawEventsEmpty.error.value_or(APMError::withCode(0, "No answer")));
        return false;
    }
    return !*rawEventsEmpty.value;
}

bool APMMeasurement::isNetworkReadyForRequest() {
    const bool pending = isNetworkRequestPending_;
    const bool uploading = network_ && network_->hasUploadInProgress();
    if (!pending) return !uploading;
    if (!uploading) monitor()->log(1, 23041, "Analytics is uploading but network is not uploading");
    return false;
}

void APMMeasurement::updateSchedule() {
    (void)scheduler_->checkOnBackgroundThread("updateSchedule");
    const auto& log = monitor();
    if (const double suspended = suspendedUploadTimestamp_; suspended != 0) {
        const double elapsed = std::fabs(uptime() - suspended);
        if (elapsed < kSuspensionSeconds) {
            log->log(3, 23023, "Upload has been suspended. Will update scheduling later. Seconds",
                     kSuspensionSeconds - elapsed);
            standDown();
            return;
        }
        suspendedUploadTimestamp_ = 0;
    }
    // The plan follows every event: its reads share one snapshot of the
    // store, taken by one statement. When that fails, each read runs on its
    // own in a read transaction and reports its own failure.
    bool hasData = false;
    double next = 0;
    if (const auto database = this->database()) {
        auto readPlan = [&](const APMUploadPlanReads* reads) {
            hasData = hasDataToUpload(*database, reads);
            if (hasData) next = nextUploadingTime(*database, reads);
        };
        if (const auto combined = database->uploadPlanReads(); combined.value) {
            readPlan(&*combined.value);
        } else {
            database->performReadTransaction([&] { readPlan(nullptr); });
        }
    }
    if (!hasData) {
        if (auto config = remoteConfigInstance()) (void)config->activateNewSnapshot();  // false: none was waiting
        log->log(8, 23024, "No data to upload. Upload task will not be scheduled");
        standDown();
        return;
    }
    if (isZero(next)) {
        log->log(8, 23025, "No next uploading time. Upload task will not be scheduled");
        standDown();
        return;
    }
    if (!network_ || !network_->isNetworkConnected()) {
        log->log(8, 23026, "No network. Upload task will not be scheduled");
        if (network_) network_->setReachabilityDelegate(weak_from_this());
        alarm_->cancel();
        terminateBackgroundTask();
        return;
    }
    network_->setReachabilityDelegate({});
    const double now = this->now();
    const double backoff =
        uploadTimeNotAfterNow(persistedConfig_->lastBackoffTimestamp(), &APMPersistedConfig::setLastBackoffTimestamp);
    const double backoffInterval = configuration()->uploadingBackoffInterval();
    if (!isZero(backoff) && now - backoff < backoffInterval) next = std::max(next, backoff + backoffInterval);
    if (const std::optional<double> scheduled = alarm_->scheduledTimestamp(); scheduled && !isZero(*scheduled) &&
                                                                              next >= *scheduled) {
        const double seconds = *scheduled - now;
        log->log(8, 23027, "Do not schedule an upload task. Task already exists. Will be executed in seconds", seconds);
        if (seconds > kSoonSeconds) terminateBackgroundTask();
        return;
    }
    double delay = next - now;
    if (isZero(delay)) delay = kMinimumTimerDelay;
    alarm_->runAfterDelay(delay, [weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) return;
        self->scheduleWeakly("APMMeasurement:1813", [](APMMeasurement& engine) {
            engine.uploadData();
        });
    });
    log->log(8, 23028, "Upload task scheduled to be executed in approx. (s)", delay);
    if (delay > kSoonSeconds) terminateBackgroundTask();
}

double APMMeasurement::uploadTimeNotAfterNow(double stored, void (APMPersistedConfig::*store)(double)) {
    const double now = this->now();
    if (stored <= now) return stored;
    ((*persistedConfig_).*store)(now);
    return now;
}

double APMMeasurement::nextUploadingTime() {
    const auto database = this->database();
    return database ? nextUploadingTime(*database, nullptr) : 0;
}

double APMMeasurement::nextUploadingTime(APMDatabase& database, const APMUploadPlanReads* reads) {
    const auto& log = monitor();
    const auto config = configuration();
    const double lastSuccess = uploadTimeNotAfterNow(persistedConfig_->lastSuccessfulUploadTimestamp(),
                                                     &APMPersistedConfig::setLastSuccessfulUploadTimestamp);
    const double lastFailure = uploadTimeNotAfterNow(persistedConfig_->lastFailedUploadTimestamp(),
                                                     &APMPersistedConfig::setLastFailedUploadTimestamp);
    const APMResult<double> rawEventTime = reads ? reads->latestRawEventTime : database.queryLatestRawEventTime();
    if (rawEventTime.error) log->log(5, 23029, "Failed to query latest raw event time. Error", *rawEventTime.error);
    const APMResult<double> bundleTime = reads ? reads->latestBundleTime : database.queryLatestBundleTime();
    if (bundleTime.error) log->log(5, 23030, "Failed to query latest bundle time. Error", *bundleTime.error);
    const double latest = std::max(rawEventTime.value.value_or(0), bundleTime.value.value_or(0));
    if (isZero(latest)) return 0;

    double interval = config->uploadingInterval();
    if (log->isDebugModeEnabled()) {
        interval = config->uploadingRealTimeInterval();
    } else {
        const APMResult<bool> realtimeBundles = reads ? reads->realtimeBundles : database.containsRealtimeBundles();
        if (realtimeBundles.error) {
            log->log(5, 23031, "Failed to query for real-time bundle indicator. Error", *realtimeBundles.error);
        }
        bool realtime = realtimeBundles.value.value_or(false);
        if (!realtime) {
            const APMResult<bool> realtimeEvents = reads ? reads->realtimeRawEvents : database.containsRealtimeRawEvents();
            if (realtimeEvents.error) {
                log->log(5, 23032, "Failed to query for real-time raw event indicator. Error", *realtimeEvents.error);
            }
            realtime = realtimeEvents.value.value_or(false);
        }
        if (realtime) interval = config->uploadingRealTimeInterval();
    }

    const double now = this->now();
    const double latestInPast = now - std::fabs(latest - now);
    double next = std::fabs(now - lastSuccess) < interval ? lastSuccess + interval
                                                          : latestInPast + config->uploadingInitialDelayInterval();
    if (lastFailure >= latestInPast) {
        // Retry steps of 1, 2, 4, ... retry intervals; the count is read at each step.
        for (std::int32_t step = 0; step < config->uploadingRetryCount(); ++step) {
            next += static_cast<double>(static_cast<std::int32_t>(1u << (step & 31))) * config->uploadingRetryInterval();
            if (next > lastFailure) return next;
        }
        return 0;
    }
    if (log->isDebugModeEnabled()) return std::min(next, latestInPast + config->uploadingDebugModeInterval());
    return next;
}

void APMMeasurement::uploadDataOrRegisterAlarm() {
    if (network_ && network_->isNetworkConnected() && hasDataToUpload()) {
        uploadData();
        return;
    }
    updateSchedule();
}
