// The session-identifier query, user data, the configuration diagnostics,
// the first-open time stamp, and the reset and wipe of all analytics data.

#include "VadovaUtilities/VULAppDelegateSwizzler.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMOnDeviceConversion.h"
#include "measurement/engine/APMPSMContext.h"
#include "measurement/interface/APMConsentSettingsUtil.h"
#include "measurement/interface/APMIdentity.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMEnvironmentInfo.h"
#include "measurement/storage/APMFilePaths.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMScheduler.h"

namespace {

constexpr long kSessionIDErrorCode = 13;

std::optional<std::string> stringEntry(const platform::PropertyDictionary& dictionary, const char* key) {
    const auto found = dictionary.find(key);
    const std::string* text = found == dictionary.end() ? nullptr : found->second.asString();
    return text ? std::optional<std::string>(*text) : std::nullopt;
}

std::optional<std::vector<std::uint8_t>> dataEntry(const platform::PropertyDictionary& dictionary, const char* key) {
    const auto found = dictionary.find(key);
    const platform::PropertyData* data = found == dictionary.end() ? nullptr : found->second.asData();
    return data ? std::optional<std::vector<std::uint8_t>>(*data) : std::nullopt;
}

}  // namespace

// MARK: - Session identifier

void APMMeasurement::sessionIDWithCompletion(SessionIDCompletion completion) {
    if (!completion) return;
    scheduler_->scheduleOnWorkerQueue("APMMeasurement:3359", [weak = weak_from_this(), completion] {
        const auto fail = [&completion](const char* description) {
            completion(0, APMError::withCode(kSessionIDErrorCode, description));
        };
        const auto self = weak.lock();
        if (!self) return fail("Analytics deallocated");
        if (!self->isEnabled()) return fail("Analytics disabled");
        if (self->isSessionExpired()) return fail("Session expired");
        const auto database = self->database();
        if (database) {
            const APMResult<APMUserAttribute> stored = database->userAttributeWithName("_sid");
            if (stored.value) return completion(stored.value->value().int64Value(), std::nullopt);
        }
        fail("Session ID not found");
    });
}

// MARK: - User data and diagnostics

void APMMeasurement::setUserData(const platform::PropertyDictionary& userData) {
    scheduleWeakly("APMMeasurement:3366", [userData](APMMeasurement& self) { self.setUserDataOnWorkerQueue(userData); });
}

void APMMeasurement::setUserDataOnWorkerQueue(const platform::PropertyDictionary& userData) {
    (void)scheduler_->checkOnBackgroundThread("setUserDataOnWorkerQueue");
    APMUserData data;
    data.emailAddress = stringEntry(userData, "email_address");
    data.phoneNumber = stringEntry(userData, "phone_number");
    data.hashedEmailAddress = dataEntry(userData, "hashed_email_address");
    data.hashedPhoneNumber = dataEntry(userData, "hashed_phone_number");
    initiateODM1ProtocolWithUserData(data);
}

void APMMeasurement::checkAppConfigDiagnosticsOnWorkerQueue() {
    (void)scheduler_->checkOnBackgroundThread("checkAppConfigDiagnosticsOnWorkerQueue");
    if (!configuration()->appConfigDiagnosticsEnabled()) return;
    // Automatic screen reporting does not exist here.
    incrementOnWorkerQueueDiagnosticsSignal("auto_screen", "disabled");
    incrementOnWorkerQueueDiagnosticsSignal("appdelegate_proxy",
                                            VULAppDelegateSwizzler::isAppDelegateProxyEnabled() ? "enabled" : "disabled");
    // No platform attribution client exists here, so "aaa_version" is never sent.
    const std::string& osVersion = APMEnvironmentInfo::sharedInstance().deviceOSVersion();
    const auto identity = this->identity();
    if (!identity) return;
    if (identity->hasLimitedAdTracking()) incrementOnWorkerQueueDiagnosticsSignal("asi_version", osVersion);
    // The identity reports these two statuses when the platform gives no
    // app-data consent status.
    const std::int64_t status = identity->appleConsentStatus();
    if (status != APMIdentity::StatusUnavailable && status != APMIdentity::StatusUnknown) {
        incrementOnWorkerQueueDiagnosticsSignal("att_version", osVersion);
    }
}

double APMMeasurement::firstOpenTimestamp() {
    const auto database = this->database();
    if (!database) return 0;
    const auto& log = monitor();
    const APMResult<std::vector<APMUserAttribute>> stored = database->userAttributesIncludingInternal(true);
    if (!stored.value) {
        if (stored.error) log->log(1, 23123, "Unable to query current user properties. Error", *stored.error);
        return 0;
    }
    if (stored.value->empty()) {
        log->log(2, 23124, "Cannot extract first open timestamp. Empty user properties");
        return 0;
    }
    double earliest = stored.value->front().lastSetTimestamp();
    for (const auto& attribute : *stored.value) {
        if (attribute.name() == "_fot") return attribute.lastSetTimestamp();
        earliest = std::min(earliest, attribute.lastSetTimestamp());
    }
    return earliest;
}

// MARK: - Reset and wipe

bool APMMeasurement::resetAnalyticsDataWithAppInstanceID(const std::string& appInstanceID) {
    (void)scheduler_->checkOnBackgroundThread("resetAnalyticsData");
    const auto& log = monitor();
    if (appInstanceID.empty()) {
        if (!APMConsentSettingsUtil::isAnalyticsStorageDenied()) {
            log->log(1, 23167, "Cannot reset with an empty app instance ID");
            return false;
        }
        log->log(7, 23218, "Resetting with an empty app instance ID");
    }
    const double loadTimestamp = facade_->loadTimestamp();
    bool reset = false;
    // Waits for the worker queue; a caller already on it (a completion of
    // this engine) runs the work inline instead of waiting for itself.
    scheduler_->dispatchSyncOnWorkerQueue("APMMeasurement:3463", [&] {
        if (!wipeoutAnalyticsDataAndResetComponents()) return;
        persistedConfig_->setAppInstanceID(appInstanceID.empty() ? std::nullopt
                                                                 : std::optional<std::string>(appInstanceID));
        updatePersistedAppIDFromVAZ();
        log->log(6, 23168, "Analytics data has been reset");
        if (!isAnalyticsCollectionDeactivated() && !facade_->deferredAnalyticsCollection()) {
            facade_->setDeferredAnalyticsCollection(isEnabled() ? 0 : 1);
        }
        initTimestamp_ = loadTimestamp;
        persistedConfig_->setLoadTimestampValue(loadTimestamp);
        if (isEnabled()) {
            setPersonalizedAdsUserPropertyOnWorkerQueue();
            reportFirstOpenOnWorkerQueue();
        }
        reset = true;
    });
    return reset;
}

bool APMMeasurement::wipeoutAnalyticsDataAndResetComponents() {
    (void)scheduler_->checkOnBackgroundThread("wipeoutAnalyticsDataAndResetComponents");
    const auto& log = monitor();
    log->log(6, 23171, "Resetting App Measurement data");
    ODM1Context_ = std::make_shared<APMPSMContext>();
    ODM1GroupContext_ = std::make_shared<APMGroupContext>();
    previousVAZAppID_ = persistedConfig_->appIDFromVAZ().value_or("");
    persistedConfig_->clearValues();
    monitor()->clearMonitoringData();
    if (APMConsentSettingsUtil::adPersonalization()) {
        APMConsentSettingsUtil::unsetAdPersonalization();
        APMConsentSettingsUtil::setDefaultSettings(std::nullopt);
        APMConsentSettingsUtil::setDelegatedSettings(std::nullopt);
    }
    if (const auto database = this->database()) {
        APMError error;
        if (!database->reset(&error)) {
            log->log(1, 23209, "Failed to reset database", error);
            return false;
        }
        if (const auto config = remoteConfigInstance()) config->reset();
        resetSessionReporterOnWorkerQueue();
    } else {
        // The database could not be opened: its file goes, so that the next
        // start begins with an empty one.
        APMError error;
        if (!APMDeleteFile(APMMeasurementFilePath(databaseName_), &error) && !error.domain.empty()) {
            log->log(1, 23014, "Failed to delete old database file. Error", error);
        }
    }
    if (const auto identity = this->identity()) {
        identity->updateIdentifiersAndWait();
        identity->resetEphemeralAppInstanceID();
        identity->resetSessionStitchingToken();
    }
    resetAndWipeAdsOnDeviceConversionData();
    return true;
}
