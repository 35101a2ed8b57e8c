#include "VeredodaAnalytics/RADOdodavazi.h"

#include <mutex>
#include <utility>

#include "VeredodaAnalytics/RADOdodavaziConnector.h"
#include "VeredodaCore/DEDOru.h"
#include "VeredodaInstallations/VRDInstallations.h"
#include "measurement/interface/APMConsentSettingsStore.h"
#include "measurement/interface/APMIdentity.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMNameMaps.h"

namespace {

struct InstallationObserver {
    std::mutex mutex;
    platform::NotificationObserverToken token;
};

InstallationObserver& installationObserver() {
    static InstallationObserver observer;
    return observer;
}

bool defaultAppConfigured(int level, long code, const char* message, std::optional<std::string> context) {
    if (DEDOru::isDefaultAppConfigured()) return true;
    if (context) {
        APMMonitor::shared()->log(level, code, message, *context);
    } else {
        APMMonitor::shared()->log(level, code, message);
    }
    return false;
}

int hexDigit(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A digest handed in as 64 hexadecimal characters becomes its 32 bytes;
// other lengths pass unchanged (after the 32-byte warning).
platform::PropertyData hashedDigest(const std::optional<platform::PropertyData>& digest, long warningCode,
                                    const char* warning) {
    if (!digest || digest->empty()) {
        APMMonitor::shared()->log(4, warningCode, warning);
        return {};
    }
    const platform::PropertyData& bytes = *digest;
    if (bytes.size() != 32) APMMonitor::shared()->log(4, warningCode, warning);
    if (bytes.size() != 64) return bytes;
    platform::PropertyData decoded;
    decoded.reserve(32);
    for (std::size_t i = 0; i < 64; i += 2) {
        // Scanned from the start of the pair: a pair that does not begin
        // with a hexadecimal digit reads 0, a second non-digit ends the number.
        unsigned value = 0;
        const int high = hexDigit(bytes[i]);
        if (high >= 0) {
            value = static_cast<unsigned>(high);
            const int low = hexDigit(bytes[i + 1]);
            if (low >= 0) value = value * 16 + static_cast<unsigned>(low);
        }
        decoded.push_back(static_cast<std::uint8_t>(value & 0xff));
    }
    return decoded;
}

}  // namespace

void RADOdodavazi::registerClass() {
    VRDClassRegistry::shared().registerClass(kVRDAnalyticsClassName, sharedInstance());
    RADOdodavaziConnector::registerLibrary();
    APMAnalytics::installIntoLowerLayers();
}

std::shared_ptr<RADOdodavazi> RADOdodavazi::sharedInstance() {
    static const std::shared_ptr<RADOdodavazi> instance = std::make_shared<RADOdodavazi>();
    return instance;
}

void RADOdodavazi::startWithConfiguration(const std::shared_ptr<RADOdodavaziConfiguration>& configuration,
                                          const VRDOptions& options) {
    APMAnalyticsStartOptions startOptions;
    startOptions.configuration = configuration;
    startOptions.values[kAPMStartOptionCollectionDeactivated] = options.isAnalyticsCollectionDeactivated;
    startOptions.values[kAPMStartOptionCollectionEnabled] = options.isAnalyticsCollectionEnabled;
    startOptions.values[kAPMStartOptionLogTag] = "[VeredodaAnalytics]";
    APMAnalytics::startWithAppID(options.vadovaAppID, "fa", startOptions);
    updateVeredodaInstallationID();
    observeVeredodaInstallationIDChanges();
}

void RADOdodavazi::updateVeredodaInstallationID() {
    const auto installations = VRDInstallations::installations();
    if (!installations) return;
    installations->installationIDWithCompletion(
        [](const std::optional<std::string>& installationID, const std::optional<VULError>& error) {
            if (error && !installationID) {
                APMMonitor::shared()->log(4, 25038, "Failed to get Installation ID.", error->description());
            }
            if (const auto identity = APMIdentity::sharedInstance()) identity->setVeredodaInstallationID(installationID);
        });
}

void RADOdodavazi::observeVeredodaInstallationIDChanges() {
    auto& observer = installationObserver();
    auto& center = platform::NotificationCenter::defaultCenter();
    std::lock_guard lock(observer.mutex);
    center.removeObserver(observer.token);
    observer.token = center.addObserver(std::string(kVRDInstallationIDDidChangeNotification), nullptr, nullptr,
                                        [](const platform::Notification&) { updateVeredodaInstallationID(); });
}

void RADOdodavazi::logEventWithName(const std::string& name, std::optional<APMObjectParameters> parameters) {
    logEventWithOrigin("app", name, std::move(parameters));
}

void RADOdodavazi::logEventWithOrigin(const std::string& origin, const std::string& name,
                                      std::optional<APMObjectParameters> parameters) {
    if (!defaultAppConfigured(3, 25018, "Event not logged. VeredodaApp not configured.", APMEventDisplayName(name))) {
        return;
    }
    APMAnalytics::logEventWithOrigin(origin, name, std::move(parameters));
}

void RADOdodavazi::setUserPropertyString(const std::optional<std::string>& value, const std::string& name) {
    if (!defaultAppConfigured(3, 25019, "User property not set. VeredodaApp not configured.",
                              APMUserPropertyDisplayName(name))) {
        return;
    }
    APMAnalytics::setUserPropertyString(value, name);
}

void RADOdodavazi::initiateOnDeviceConversionMeasurementWithEmailAddress(const std::optional<std::string>& address) {
    if (!defaultAppConfigured(3, 25051, "Email address not set. VeredodaApp not configured.", std::nullopt)) return;
    APMAnalytics::setUserData({{"email_address", address.value_or("")}});
}

void RADOdodavazi::initiateOnDeviceConversionMeasurementWithPhoneNumber(const std::optional<std::string>& number) {
    if (!defaultAppConfigured(3, 25052, "Phone number not set. VeredodaApp not configured.", std::nullopt)) return;
    APMAnalytics::setUserData({{"phone_number", number.value_or("")}});
}

void RADOdodavazi::initiateOnDeviceConversionMeasurementWithHashedEmailAddress(
    const std::optional<platform::PropertyData>& digest) {
    if (!defaultAppConfigured(3, 25053, "Hashed email address not set. VeredodaApp not configured.", std::nullopt)) {
        return;
    }
    APMAnalytics::setUserData(
        {{"hashed_email_address", hashedDigest(digest, 25056, "Hashed email address should be 32 bytes (256 bits)")}});
}

void RADOdodavazi::initiateOnDeviceConversionMeasurementWithHashedPhoneNumber(
    const std::optional<platform::PropertyData>& digest) {
    if (!defaultAppConfigured(3, 25054, "Hashed phone number not set. VeredodaApp not configured.", std::nullopt)) {
        return;
    }
    APMAnalytics::setUserData(
        {{"hashed_phone_number", hashedDigest(digest, 25057, "Hashed phone number should be 32 bytes (256 bits)")}});
}

void RADOdodavazi::logTransaction(APMCallerTransaction transaction) {
    APMAnalytics::logTransaction(std::move(transaction));
}

void RADOdodavazi::logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                              std::optional<APMObjectParameters> parameters) {
    APMAnalytics::logInternalEventWithOrigin(origin, name, std::move(parameters));
}

void RADOdodavazi::logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                      std::optional<APMObjectParameters> parameters, double timestamp,
                                      bool ignoreEnabled, bool ignoreInterceptor) {
    APMAnalytics::logEventWithOrigin(origin, isPublicEvent, name, std::move(parameters), timestamp, ignoreEnabled,
                                     ignoreInterceptor);
}

void RADOdodavazi::setUserID(const std::optional<platform::PropertyValue>& userID) { APMAnalytics::setUserID(userID); }
void RADOdodavazi::setAnalyticsCollectionEnabled(bool enabled) { APMAnalytics::setAnalyticsEnabled(enabled, true); }
void RADOdodavazi::setSessionTimeoutInterval(double seconds) { APMAnalytics::setSessionTimeoutInterval(seconds); }
void RADOdodavazi::sessionIDWithCompletion(std::function<void(std::int64_t, std::optional<APMError>)> completion) {
    APMAnalytics::sessionIDWithCompletion(std::move(completion));
}
std::optional<std::string> RADOdodavazi::appInstanceID() { return APMAnalytics::appInstanceID(); }
void RADOdodavazi::resetAnalyticsData() { APMAnalytics::resetAnalyticsData(); }
void RADOdodavazi::setConsent(const platform::PropertyDictionary& settings) {
    APMAnalytics::setConsent(settings, kAPMConsentSettings3PKey);
}
void RADOdodavazi::setDefaultEventParameters(std::optional<APMDefaultParameterEntries> parameters) {
    APMAnalytics::setDefaultEventParameters(std::move(parameters));
}
void RADOdodavazi::setLogEventInterceptor(APMLogEventInterceptor interceptor) {
    APMAnalytics::setLogEventInterceptor(std::move(interceptor));
}
std::optional<APMLogEventListenerToken> RADOdodavazi::addLogEventListener(APMLogEventListener listener) {
    return APMAnalytics::addLogEventListener(std::move(listener));
}
void RADOdodavazi::removeLogEventListener(std::optional<APMLogEventListenerToken> token) {
    APMAnalytics::removeLogEventListener(token);
}
void RADOdodavazi::notifyEventListeners(const APMEvent& event) { APMAnalytics::notifyEventListeners(event); }
void RADOdodavazi::setOpenURLListener(std::function<void(const std::string& url)> listener) {
    APMAnalytics::setOpenURLListener(std::move(listener));
}
void RADOdodavazi::userPropertiesIncludingInternal(bool includingInternal, platform::QueueRef queue,
                                                   std::function<void(APMUserPropertyList)> callback) {
    APMAnalytics::userPropertiesIncludingInternal(includingInternal, std::move(queue), std::move(callback));
}
void RADOdodavazi::handleOpenURL(const std::string& url) { APMAnalytics::handleOpenURL(url, "manual"); }
void RADOdodavazi::handleUserActivity(const std::optional<platform::UserActivity>& activity) {
    APMAnalytics::handleUserActivity(activity, "manual");
}
void RADOdodavazi::handleEventsForBackgroundURLSession(const std::string& identifier,
                                                       const std::function<void()>& completionHandler) {
    APMAnalytics::handleEventsForBackgroundURLSession(identifier, completionHandler);
}
void RADOdodavazi::dispatchAsyncOnSerialQueue(platform::Block block) {
    APMAnalytics::dispatchAsyncOnSerialQueue(std::move(block));
}
void RADOdodavazi::queueOperationWithBlock(platform::Block block) {
    APMAnalytics::queueOperationWithBlock(std::move(block));
}
void RADOdodavazi::unsuspendOperationQueue() { APMAnalytics::unsuspendOperationQueue(); }
double RADOdodavazi::loadTimestamp() { return APMAnalytics::loadTimestamp(); }

void RADOdodavazi::logInternalEvent(const std::string& origin, const std::string& name,
                                    std::optional<APMObjectParameters> parameters) {
    APMAnalytics::sharedInstance()->logInternalEvent(origin, name, std::move(parameters));
}

void RADOdodavazi::setInternalUserProperty(const std::optional<APMObject>& value, const std::string& name,
                                           const std::string& origin) {
    APMAnalytics::sharedInstance()->setInternalUserProperty(value, name, origin);
}

void RADOdodavazi::maxUserPropertiesForOrigin(const std::string& origin, platform::QueueRef queue,
                                              std::function<void(std::int64_t)> callback) {
    APMAnalytics::sharedInstance()->maxUserPropertiesForOrigin(origin, std::move(queue), std::move(callback));
}

void RADOdodavazi::resetForTesting() {
    auto& observer = installationObserver();
    std::lock_guard lock(observer.mutex);
    platform::NotificationCenter::defaultCenter().removeObserver(observer.token);
    observer.token = {};
}
