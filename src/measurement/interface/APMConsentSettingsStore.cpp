#include "measurement/interface/APMConsentSettingsStore.h"

#include <algorithm>
#include <utility>

#include "measurement/interface/APMConsentFacade.h"
#include "measurement/interface/APMConsentSettingsUtil.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMUserDefaults.h"

namespace {

std::int64_t sourceForKey(const std::string& key) {
    if (key == kAPMConsentSettingsTCFKey) return APMConsentSourceTCF;
    if (key == kAPMConsentSettings3PKey) return APMConsentSourceThirdParty;
    return APMConsentSourceAPI;
}

bool isValidStatus(const platform::PropertyValue& value) {
    const std::string* text = value.asString();
    return text && (*text == kAPMConsentStatusGranted || *text == kAPMConsentStatusDenied);
}

}  // namespace

APMConsentSettingsStore::APMConsentSettingsStore(std::shared_ptr<APMUserDefaults> suite,
                                                 std::shared_ptr<APMConsentFacade> facade)
    : suite_(std::move(suite)), facade_(std::move(facade)) {}

std::string APMConsentSettingsStore::keyForSource(std::int64_t source) {
    if (source == APMConsentSourceTCF) return kAPMConsentSettingsTCFKey;
    if (source < 21) return kAPMConsentSettings3PKey;
    return kAPMConsentSettingsKey;
}

void APMConsentSettingsStore::persistConsentSettings(const APMConsentSettings& settings, std::int64_t source) {
    suite_->setObject(platform::PropertyValue(settings), keyForSource(source));
    suite_->setInteger(source, kAPMConsentSourceKey);
}

std::int64_t APMConsentSettingsStore::persistedConsentSource() const {
    if (!suite_->numberForKey(kAPMConsentSourceKey)) return APMConsentSourceNone;
    return suite_->integerForKey(kAPMConsentSourceKey);
}

void APMConsentSettingsStore::loadPersistedConsentSettings() {
    const std::int64_t source = persistedConsentSource();
    if (source == APMConsentSourceNone) return;
    const std::pair<const char*, std::int64_t> copies[] = {
        {kAPMConsentSettingsTCFKey, APMConsentSourceTCF},
        {kAPMConsentSettings3PKey, APMConsentSourcePlist},
        {kAPMConsentSettingsKey, APMConsentSourceStartOptions},
    };
    for (const auto& [key, cap] : copies) {
        if (auto settings = dictionaryForKey(key)) {
            APMConsentSettingsUtil::setConsentSettings(std::move(settings));
            APMConsentSettingsUtil::setConsentSource(std::min(source, cap));
            return;
        }
    }
    APMConsentSettingsUtil::setConsentSource(source);
}

std::optional<APMConsentSettings> APMConsentSettingsStore::dictionaryForKey(const char* key) const {
    auto value = suite_->objectForKey(key);
    if (!value || !value->asDictionary()) return std::nullopt;
    return *value->asDictionary();
}

std::optional<APMConsentSettings> APMConsentSettingsStore::consentSettingsTCF() const {
    return dictionaryForKey(kAPMConsentSettingsTCFKey);
}

std::optional<APMConsentSettings> APMConsentSettingsStore::consentSettings3P() const {
    return dictionaryForKey(kAPMConsentSettings3PKey);
}

std::optional<APMConsentSettings> APMConsentSettingsStore::consentSettings1P() const {
    return dictionaryForKey(kAPMConsentSettingsKey);
}

std::optional<APMConsentSettings> APMConsentSettingsStore::consentSettings1PStart() const {
    return dictionaryForKey(kAPMConsentSettingsOnStartKey);
}

std::optional<platform::PropertyValue> APMConsentSettingsStore::deferredResetOnDeniedConsent() const {
    return suite_->objectForKey(kAPMDeferredConsentResetKey);
}

void APMConsentSettingsStore::removeStartUpConsentSettings() { suite_->removeObjectForKey(kAPMConsentSettingsOnStartKey); }

void APMConsentSettingsStore::removeDeferredResetOnDeniedConsent() {
    suite_->removeObjectForKey(kAPMDeferredConsentResetKey);
}

void APMConsentSettingsStore::clearConsent() {
    for (const char* key : {kAPMConsentSourceKey, kAPMConsentSettings3PKey, kAPMConsentSettingsKey,
                            kAPMConsentSettingsOnStartKey, kAPMDeferredConsentResetKey, kAPMConsentSettingsTCFKey}) {
        suite_->removeObjectForKey(key);
    }
    APMConsentSettingsUtil::clearAllSettings();
}

void APMConsentSettingsStore::setConsent(const platform::PropertyDictionary& settings) {
    setConsent(settings, kAPMConsentSettingsKey);
}

void APMConsentSettingsStore::setConsent(const platform::PropertyDictionary& settings, const std::string& key) {
    if (APMConsentSettingsUtil::consentSource() == APMConsentSourceNone) loadPersistedConsentSettings();

    if (facade_) {
        for (const auto& entry : settings) {
            if (APMConsentTypeFromString(entry.first) == 0) facade_->incrementDiagnosticsSignal("invalid_consent_type");
        }
    }
    APMConsentSettings valid;
    for (const auto& [type, value] : APMConsentSettingsFromDictionary(settings)) {
        if (isValidStatus(value)) {
            valid.emplace(type, value);
            continue;
        }
        APMMonitor::shared()->log(4, 25042,
                                  "Valid consent values are 'granted' and 'denied'. Ignoring invalid consent setting",
                                  APMConsentValueDescription(value));
        if (facade_) facade_->incrementDiagnosticsSignal("invalid_consent_status");
    }
    if (valid.empty()) {
        APMMonitor::shared()->log(4, 25041, "Discarding empty consent settings");
        return;
    }

    // Priority check, merge and persistence happen as one step, so an update
    // of lower priority can never land over one that was taken meanwhile.
    const std::int64_t source = sourceForKey(key);
    bool adUserDataWasDenied = false;
    const bool taken = APMConsentSettingsUtil::updateSettingsWhenOfPriority(
        valid, source, [&](const APMConsentSettings& merged) { persistConsentSettings(merged, source); },
        adUserDataWasDenied);
    if (!taken) {
        APMMonitor::shared()->log(4, 25043, "Ignoring lower priority consent settings");
        return;
    }

    if (source == APMConsentSourceThirdParty) APMMonitor::shared()->log(8, 25055, "%@", APMConsentSettingsUtil::description());
    if (!facade_) return;
    if (facade_->hasRemoteConsentDefaults() && APMConsentSettingsUtil::didAdUserDataConsentChange(adUserDataWasDenied)) {
        facade_->logInternalEvent("auto", "_dcu", APMParameters{{"_r", APMValue(1)}});
    }
    if (valid.count(kAPMConsentTypeAdPersonalization)) {
        if (auto personalization = APMConsentSettingsUtil::adPersonalization()) {
            facade_->setUserPropertyString(*personalization == 1 ? "YES" : "NO", "allow_personalized_ads");
        }
    }
}
