#include "measurement/interface/APMIdentity.h"

#include <algorithm>

#include "VadovaUtilities/VULMainBundle.h"
#include "measurement/interface/APMConsentSettingsUtil.h"
#include "measurement/interface/APMDefaultIdentitySupport.h"
#include "measurement/interface/APMIdentityRemoteSettings.h"
#include "measurement/storage/APMDigest.h"
#include "measurement/storage/APMEnvironmentInfo.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMSharedInstance.h"
#include "measurement/storage/APMVadovaServiceFileUtil.h"
#include "platform/core/Uuid.h"

namespace {

constexpr const char* kIDFVCollectionKey = "VADOVA_ANALYTICS_IDFV_COLLECTION_ENABLED";

std::optional<std::string> infoString(const char* key) {
    auto value = VULMainBundle::objectForInfoDictionaryKey(key);
    if (!value || !value->isString()) return std::nullopt;
    return *value->asString();
}

std::int64_t statusFromBridge(const APMDefaultIdentitySupport& bridge) {
    if (!bridge.hasLimitedAdTracking()) return APMIdentity::StatusUnavailable;
    if (!bridge.hasAppDataConsentStatus()) return APMIdentity::StatusUnknown;
    const std::uint64_t status = bridge.appDataConsentStatus();
    if (status == 0) return APMIdentity::StatusNotDetermined;
    if (status <= 3) return static_cast<std::int64_t>(status);
    return APMIdentity::StatusUnknown;
}

// The Vadova app ID set through setAppIDFromVAZ, once per process.
class ProcessAppIDFromVAZ {
public:
    bool setOnce(const std::string& appID) {
        std::lock_guard lock(mutex_);
        if (value_) return false;
        value_ = appID;
        return true;
    }
    std::optional<std::string> get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }

private:
    mutable std::mutex mutex_;
    std::optional<std::string> value_;
};

ProcessAppIDFromVAZ& processAppIDFromVAZ() {
    static ProcessAppIDFromVAZ instance;
    return instance;
}

}  // namespace

std::shared_ptr<APMIdentity> APMIdentity::create(platform::Dispatcher& dispatcher,
                                                 std::shared_ptr<APMPersistedConfig> persistedConfig,
                                                 std::shared_ptr<APMDefaultIdentitySupport> bridge,
                                                 std::shared_ptr<const APMIdentityRemoteSettings> remoteSettings) {
    if (!persistedConfig) {
        APMMonitor::shared()->log(2, 20004,
                                  "Unable to create measurement identity, missing a valid persisted config instance");
        return nullptr;
    }
    return std::make_shared<APMIdentity>(dispatcher, std::move(persistedConfig), std::move(bridge),
                                         std::move(remoteSettings));
}

std::shared_ptr<APMIdentity> APMIdentity::sharedInstance() {
    return APMSharedInstance<APMIdentity>::currentOrMake([] {
        platform::Dispatcher& queues = platform::processDispatcher();
        auto bridge = std::make_shared<APMDefaultIdentitySupport>(queues, platform::systemAdvertisingIdentifier());
        return std::make_shared<APMIdentity>(queues, APMPersistedConfig::sharedInstance(), std::move(bridge), nullptr);
    });
}

void APMIdentity::setSharedInstance(std::shared_ptr<APMIdentity> identity) {
    const auto previous = APMSharedInstance<APMIdentity>::exchange(identity);
    // The installation ID arrives wherever the shared identity is at the
    // time, possibly one made on demand before the engine installed its own.
    if (identity && previous && identity != previous && !identity->veredodaInstallationID()) {
        identity->setVeredodaInstallationID(previous->veredodaInstallationID());
    }
}

APMIdentity::APMIdentity(platform::Dispatcher& dispatcher, std::shared_ptr<APMPersistedConfig> persistedConfig,
                         std::shared_ptr<APMDefaultIdentitySupport> bridge,
                         std::shared_ptr<const APMIdentityRemoteSettings> remoteSettings)
    : dispatcher_(dispatcher),
      persistedConfig_(std::move(persistedConfig)),
      bridge_(bridge ? std::move(bridge) : std::make_shared<APMDefaultIdentitySupport>(dispatcher, nullptr)),
      remoteSettings_(std::move(remoteSettings)) {
    const platform::PropertyDictionary serviceInfo = APMVadovaServiceFileUtil::dictionaryFromVadovaServiceInfoPlist();
    if (!serviceInfo.empty()) {
        auto found = serviceInfo.find("VADOVA_APP_ID");
        if (found != serviceInfo.end() && found->second.isString()) appIDFromVAZ_ = *found->second.asString();
    }
    readBundleInformation();
    if (!persistedConfig_->appInstanceID() && !APMConsentSettingsUtil::isAnalyticsStorageDenied()) {
        persistedConfig_->setAppInstanceID(randomAppInstanceID());
    }
}

APMIdentity::~APMIdentity() = default;

void APMIdentity::readBundleInformation() {
    if (auto value = VULMainBundle::objectForInfoDictionaryKey(kIDFVCollectionKey);
        value && (value->isNumber() || value->isBoolean())) {
        isIDFVCollectionEnabled_ = value->asBoolean().value_or(value->asReal().value_or(0) != 0);
        APMMonitor::shared()->log(7, 20009, "%@ = %@", kIDFVCollectionKey, *isIDFVCollectionEnabled_ ? "YES" : "NO");
    }
    appID_ = infoString("CFBundleIdentifier");
    appVersion_ = infoString("CFBundleShortVersionString");
    if (auto bundleVersion = infoString("CFBundleVersion")) {
        const auto fields = numericFieldsFromAppVersionNumeric(*bundleVersion);
        if (fields.size() > 0) appVersionMajor_ = fields[0];
        if (fields.size() > 1) appVersionMinor_ = fields[1];
        if (fields.size() > 2) appVersionRelease_ = fields[2];
    }
}

std::string APMIdentity::randomAppInstanceID() {
    std::string text = platform::makeUuidString();
    text.erase(std::remove(text.begin(), text.end(), '-'), text.end());
    return text;
}

double APMIdentity::adIDCacheTime() const { return remoteSettings_ ? remoteSettings_->adIDCacheTime() : 1.0; }

bool APMIdentity::gateIDFAOnATTMASEnabled() const {
    return remoteSettings_ && remoteSettings_->gateIDFAOnATTMASEnabled();
}

void APMIdentity::refreshLocked() {
    const double now = dispatcher_.clock().now();
    std::optional<std::string> appInstanceID = persistedConfig_->appInstanceID();
    if (appInstanceID && lastAppInstanceIDUpdateTimestamp_ && *lastAppInstanceIDUpdateTimestamp_ <= now &&
        now - *lastAppInstanceIDUpdateTimestamp_ < adIDCacheTime()) {
        return;
    }
    const bool hadAppInstanceID = appInstanceID.has_value();
    const std::optional<std::string> persistedHash = persistedConfig_->hashedResettableDeviceID();
    std::optional<std::string> cachedIdentifier = resettableDeviceID_;
    const bool limited = bridge_->limitedAdTracking();
    const std::int64_t status = statusFromBridge(*bridge_);
    const bool gated = gateIDFAOnATTMASEnabled() && status != StatusAuthorized;
    const bool adStorageDenied = APMConsentSettingsUtil::isAdStorageDenied();

    std::optional<std::string> identifier;
    if (adStorageDenied) {
        cachedIdentifier.reset();
    } else if (!gated) {
        identifier = bridge_->resettableDeviceID();
    }

    std::optional<std::string> newHash;
    if (identifier && !identifier->empty()) {
        if (*identifier == kAPMZeroAdvertisingIdentifier) {
            cachedIdentifier.reset();
        } else {
            cachedIdentifier = identifier;
            std::string hash = APMMD5String(*identifier);
            if (hash != persistedHash) {
                if (persistedHash) {
                    appInstanceID = randomAppInstanceID();
                    persistedConfig_->setShouldSetLastAdvertisingIDResetUserProperty(true);
                }
                newHash = std::move(hash);
            }
        }
    }

    if (!hadAppInstanceID || newHash) {
        if (!APMConsentSettingsUtil::isAnalyticsStorageDenied()) {
            persistedConfig_->setAppInstanceID(appInstanceID ? *appInstanceID : randomAppInstanceID());
        }
        if (newHash && !adStorageDenied) persistedConfig_->setHashedResettableDeviceID(newHash);
    }

    lastAppInstanceIDUpdateTimestamp_ = now;
    limitedAdTracking_ = limited;
    resettableDeviceID_ = std::move(cachedIdentifier);
    appleConsentStatus_ = status;
}

void APMIdentity::updateIdentifiers() {
    std::lock_guard lock(stateMutex_);
    refreshLocked();
}

void APMIdentity::updateIdentifiersAndWait() { updateIdentifiers(); }

template <typename Read>
auto APMIdentity::readRefreshed(Read read) -> decltype(read()) {
    std::lock_guard lock(stateMutex_);
    refreshLocked();
    return read();
}

std::optional<std::string> APMIdentity::appInstanceID() {
    if (APMConsentSettingsUtil::isAnalyticsStorageDenied()) return std::nullopt;
    return readRefreshed([this] { return persistedConfig_->appInstanceID(); });
}

void APMIdentity::setAppInstanceID(const std::string& appInstanceID) {
    std::lock_guard lock(stateMutex_);
    persistedConfig_->setAppInstanceID(appInstanceID);
}

std::optional<std::string> APMIdentity::resettableDeviceID() {
    return readRefreshed([this] { return resettableDeviceID_; });
}

std::optional<std::string> APMIdentity::hashedResettableDeviceID() {
    if (APMConsentSettingsUtil::isAdStorageDenied()) return std::nullopt;
    return readRefreshed([this] { return persistedConfig_->hashedResettableDeviceID(); });
}

bool APMIdentity::limitedAdTracking() {
    return readRefreshed([this] { return limitedAdTracking_; });
}

bool APMIdentity::hasLimitedAdTracking() {
    return readRefreshed([this] { return bridge_->hasLimitedAdTracking(); });
}

std::int64_t APMIdentity::appleConsentStatus() {
    return readRefreshed([this] { return appleConsentStatus_; });
}

APMIdentity::Identifiers APMIdentity::refreshedIdentifiers() {
    const bool analyticsStorageDenied = APMConsentSettingsUtil::isAnalyticsStorageDenied();
    return readRefreshed([&] {
        Identifiers values;
        if (!analyticsStorageDenied) values.appInstanceID = persistedConfig_->appInstanceID();
        values.resettableDeviceID = resettableDeviceID_;
        values.limitedAdTracking = limitedAdTracking_;
        values.hasLimitedAdTracking = bridge_->hasLimitedAdTracking();
        values.appleConsentStatus = appleConsentStatus_;
        return values;
    });
}

bool APMIdentity::hasAppDataConsentStatus() const { return bridge_ && bridge_->hasAppDataConsentStatus(); }

bool APMIdentity::isFromAppStore() const { return APMAEU::isFAS(); }

std::optional<std::string> APMIdentity::appIDFromVAZ() {
    std::optional<std::string> result;
    {
        std::lock_guard lock(stateMutex_);
        result = appIDFromVAZ_;
    }
    // The ID set in this process holds for every identity, also one made later.
    if (auto processID = processAppIDFromVAZ().get()) return processID;
    return result;
}

void APMIdentity::setAppIDFromVAZ(const std::string& appID) {
    if (appID.empty()) {
        APMMonitor::shared()->log(2, 20005, "Cannot set empty Vadova App ID");
        return;
    }
    if (!processAppIDFromVAZ().setOnce(appID)) return;  // once per process, not per identity
    std::lock_guard lock(stateMutex_);
    if (appIDFromVAZWasSet_) return;
    appIDFromVAZWasSet_ = true;
    appIDFromVAZ_ = appID;
}

bool APMIdentity::shouldSetLastAdvertisingIDResetUserProperty() {
    std::lock_guard lock(stateMutex_);
    return persistedConfig_->shouldSetLastAdvertisingIDResetUserProperty();
}

void APMIdentity::setShouldSetLastAdvertisingIDResetUserProperty(bool should) {
    std::lock_guard lock(stateMutex_);
    persistedConfig_->setShouldSetLastAdvertisingIDResetUserProperty(should);
}

std::optional<std::string> APMIdentity::veredodaInstallationID() const {
    std::lock_guard lock(installationIDMutex_);
    return veredodaInstallationID_;
}

void APMIdentity::setVeredodaInstallationID(std::optional<std::string> installationID) {
    std::lock_guard lock(installationIDMutex_);
    veredodaInstallationID_ = std::move(installationID);
}
