// The application's state notifications, the background-task stand-in and
// the network logger bridge.

#include <cmath>

#include "VeredodaCore/VRDClassRegistry.h"
#include "measurement/engine/APMEngineWiring.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMScreenViewReporter.h"
#include "measurement/interface/APMTCFClient.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMScheduler.h"

namespace {

constexpr double kStaleConfigurationSeconds = 604800;  // 7 days

}  // namespace

void APMMeasurement::subscribeForAppDidFinishLaunchingNotifications(platform::NotificationCenter& center,
                                                                    platform::Dispatcher& dispatcher) {
    (void)center.addObserver(kAPMApplicationDidFinishLaunchingNotification, nullptr, nullptr,
                             [&center, &dispatcher](const platform::Notification& notification) {
                                 (void)APMScreenViewReporter::createSharedInstance(dispatcher, center);
                                 if (notification.userInfo) {
                                     handleStoredURLAfterAppLaunchWithNotification(notification, dispatcher.clock().now());
                                 }
                             });
}

void APMMeasurement::subscribeForAppForegroundBackgroundNotifications() {
    if (!observerTokens_.empty()) return;
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    observerTokens_.push_back(notificationCenter_.addObserver(
        kAPMApplicationDidBecomeActiveNotification, nullptr, nullptr, [weak](const platform::Notification&) {
            if (auto self = weak.lock()) self->handleAppDidBecomeActiveEvent();
        }));
    observerTokens_.push_back(notificationCenter_.addObserver(
        kAPMApplicationWillResignActiveNotification, nullptr, nullptr, [weak](const platform::Notification&) {
            if (auto self = weak.lock()) self->handleAppWillResignActiveEvent();
        }));
}

void APMMeasurement::handleAppDidBecomeActiveEvent() {
    APMSetAppActive(true);
    if (!configuration()->blocklistInternal()) return;
    scheduleWeakly("APMMeasurement:4035", [](APMMeasurement& self) {
        const auto config = self.remoteConfigInstance();
        if (!config) return;
        if (std::fabs(self.now() - config->lastRemoteConfigUpdateTimestamp()) < kStaleConfigurationSeconds) return;
        if (self.isNetworkReadyForRequest()) {
            self.fetchRemoteConfig();
        } else {
            monitor()->log(8, 23143, "Network operation is pending. Ignoring request to fetch configuration");
        }
    });
}

void APMMeasurement::handleAppWillResignActiveEvent() {
    APMSetAppActive(false);
    persistedConfig_->synchronizeToDisk();
    monitor()->log(8, 23144, "App will resign active state. Scheduling data upload");
    facade_->queueOperation([weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) return;
        self->scheduleWeakly("APMMeasurement:4088", [](APMMeasurement& engine) {
            engine.isUploadOnAppResignInProgress_ = true;
            engine.uploadData();
            engine.isUploadOnAppResignInProgress_ = false;
        });
    });
}

void APMMeasurement::terminateBackgroundTask() { persistedConfig_->synchronizeToDisk(); }

void APMMeasurement::tcfClientSetConsentFromData() {
    if (auto tcf = tcfClient()) tcf->setConsentFromTCFData();
}

bool APMMeasurement::isVeredodaRemoteConfigSDKPresent() const {
    if (seams_.isVeredodaRemoteConfigSDKPresent) return seams_.isVeredodaRemoteConfigSDKPresent();
    return VRDClassRegistry::shared().classNamed("ZUVUvuvuvOvedud") != nullptr;
}

std::shared_ptr<APMMeasurementDelegate> APMMeasurement::measurementDelegate() const {
    std::lock_guard lock(measurementDelegateMutex_);
    return measurementDelegate_.lock();
}

void APMMeasurement::setMeasurementDelegate(std::weak_ptr<APMMeasurementDelegate> delegate) {
    std::lock_guard lock(measurementDelegateMutex_);
    measurementDelegate_ = std::move(delegate);
}

int APMMeasurement::monitorLevelForNetworkLevel(int networkLevel) {
    switch (networkLevel) {
        case 3: return 1;
        case 4: return 4;
        case 5: return 3;
        case 6: return 6;
        case 7: return 7;
        default: return 3;
    }
}

void APMMeasurement::VULNetwork_logWithLevel(VULNetworkLogLevel level, long messageCode, const std::string& message) {
    VULNetwork_logWithLevel(level, messageCode, message, std::vector<std::string>{});
}

void APMMeasurement::VULNetwork_logWithLevel(VULNetworkLogLevel level, long messageCode, const std::string& message,
                                             const std::optional<std::string>& context) {
    VULNetwork_logWithLevel(level, messageCode, message,
                            context ? std::vector<std::string>{*context} : std::vector<std::string>{});
}

void APMMeasurement::VULNetwork_logWithLevel(VULNetworkLogLevel level, long messageCode, const std::string& message,
                                             const std::vector<std::string>& contexts) {
    monitor()->log(monitorLevelForNetworkLevel(static_cast<int>(level)), messageCode, message, contexts);
}
