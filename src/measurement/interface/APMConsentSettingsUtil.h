#pragma once
// APMConsentSettingsUtil: the process's one holder of consent state: the
// current settings and their source, the remote defaults, delegations and
// regional defaults, and a diagnostic digit per type. Every call is atomic
// with respect to every other, from any thread; readers return copies, and
// a read after a write sees the write. Nothing here is persisted.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "measurement/interface/APMConsentTypes.h"

class APMConsentSettingsUtil {
public:
    static std::optional<APMConsentSettings> consentSettings();
    static std::optional<APMConsentSettings> defaultSettings();
    static std::optional<APMConsentSettings> delegatedSettings();  // type name -> type name
    static std::optional<APMConsentSettings> regionalDefaults();

    // Replaces the current settings; none also sets the source to 100 and
    // refreshes the diagnostic digits from it.
    static void setConsentSettings(std::optional<APMConsentSettings> settings);
    static void setDefaultSettings(std::optional<APMConsentSettings> settings);
    static void setDelegatedSettings(std::optional<APMConsentSettings> settings);
    static void setRegionalDefaults(std::optional<APMConsentSettings> settings);

    static std::int64_t consentSource();
    // Also refreshes the diagnostic digits of the types set from the source.
    static void setConsentSource(std::int64_t source);
    static std::int64_t version();
    static void setVersion(std::int64_t version);  // only 1 or 2 are taken

    // Puts every entry of `settings` over the current settings.
    static void updateSettings(const APMConsentSettings& settings);
    // The same, then sets the source and records its digit for each key.
    static void updateSettings(const APMConsentSettings& settings, std::int64_t source);
    // The consent update's critical section: when `source` may replace the
    // current source, notes whether ad user data is denied now, merges as
    // updateSettings(settings, source) and hands the merged settings to
    // `persist` before any other caller can touch the state. `persist` must
    // not call back into this class. Answers whether the update was taken.
    static bool updateSettingsWhenOfPriority(const APMConsentSettings& settings, std::int64_t source,
                                             const std::function<void(const APMConsentSettings&)>& persist,
                                             bool& adUserDataWasDenied);

    static bool isAdStorageDenied();
    static bool isAnalyticsStorageDenied();
    // From the effective value: regional default for "eu_consent_policy",
    // then the delegated type, then the remote default.
    static bool isAdUserDataDenied();
    // 0 when the effective value is denied, 1 when granted, none otherwise.
    static std::optional<int> adPersonalization();
    static bool didAdUserDataConsentChange(bool previouslyDenied);

    static bool isConsentSourceEqualPriority(std::int64_t source);
    // True when settings of `source` may replace the current ones.
    static bool isConsentSourceHigherPriority(std::int64_t source);

    // "G1" and one character each for ad and analytics storage: "0" denied,
    // "1" granted, "-" otherwise.
    static std::string consentSignals();
    // "1" and one digit per type in the fixed order.
    static std::string consentDiagnostics();
    static void setDiagnosticSource(std::int64_t digit, const std::string& consentType);

    // Removes "ad_personalization" from the current settings (digit 0).
    static void unsetAdPersonalization();
    static std::string description();
    // Back to the initial state, except the version.
    static void clearAllSettings();

    static APMConsentSettings consentSettingsFromDictionary(const platform::PropertyDictionary& dictionary);
    // The defaults of the application's Info.plist.
    static APMConsentSettings consentSettingsFromPlist();

    // Test hook: the initial state, version included.
    static void resetForTesting();
};
