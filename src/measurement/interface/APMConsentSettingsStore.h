#pragma once
// APMConsentSettingsStore: the facade's consent operations. It keeps consent
// settings per source in the analytics suite of user defaults, loads them
// back after a restart, and applies consent updates (validation, the source's
// priority, the merge and its persistence as one step).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "measurement/interface/APMConsentTypes.h"

class APMConsentFacade;
class APMUserDefaults;

inline constexpr const char* kAPMAnalyticsSuiteName = "APMAnalyticsSuiteName";

inline constexpr const char* kAPMConsentSettingsKey = "consent_settings";          // sources 30, 40
inline constexpr const char* kAPMConsentSettings3PKey = "consent_settings_3p";     // sources 10, 20
inline constexpr const char* kAPMConsentSettingsTCFKey = "consent_settings_tcf";   // source 5
inline constexpr const char* kAPMConsentSettingsOnStartKey = "consent_settings_on_start";
inline constexpr const char* kAPMConsentSourceKey = "consent_source";
inline constexpr const char* kAPMDeferredConsentResetKey = "deferred_consent_reset";

class APMConsentSettingsStore {
public:
    // `facade` may be null: then no event, user property or signal is sent.
    APMConsentSettingsStore(std::shared_ptr<APMUserDefaults> suite, std::shared_ptr<APMConsentFacade> facade);

    // Exactly 5: the TCF key; below 21: the third-party key; else "consent_settings".
    static std::string keyForSource(std::int64_t source);

    void persistConsentSettings(const APMConsentSettings& settings, std::int64_t source);
    // 100 when nothing was persisted.
    std::int64_t persistedConsentSource() const;
    // Makes the persisted settings current: the first of the TCF, third-party
    // and first-party copies, its source capped at 5, 20 or 40.
    void loadPersistedConsentSettings();

    std::optional<APMConsentSettings> consentSettingsTCF() const;
    std::optional<APMConsentSettings> consentSettings3P() const;
    std::optional<APMConsentSettings> consentSettings1P() const;
    std::optional<APMConsentSettings> consentSettings1PStart() const;
    std::optional<platform::PropertyValue> deferredResetOnDeniedConsent() const;
    void removeStartUpConsentSettings();
    void removeDeferredResetOnDeniedConsent();
    // Removes every persisted consent key and clears the consent state.
    void clearConsent();

    // An update of source 30.
    void setConsent(const platform::PropertyDictionary& settings);
    // An update whose source follows from the key: the TCF key 5, the
    // third-party key 10, any other 30. Unknown types and statuses other than
    // "granted" and "denied" are dropped; a lower-priority update is ignored.
    void setConsent(const platform::PropertyDictionary& settings, const std::string& key);

private:
    std::optional<APMConsentSettings> dictionaryForKey(const char* key) const;

    std::shared_ptr<APMUserDefaults> suite_;
    std::shared_ptr<APMConsentFacade> facade_;
};
