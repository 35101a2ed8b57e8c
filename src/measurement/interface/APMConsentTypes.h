#pragma once
// Consent types, statuses and sources. A consent setting maps a type name to
// a status string; values read back from storage may be of any kind, and
// only a string whose lower-case form equals a status matches that status.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "measurement/messages/ConsentNames.h"
#include "platform/core/PropertyList.h"

inline constexpr const char* kAPMConsentTypeAdStorage = "ad_storage";                  // code 1
inline constexpr const char* kAPMConsentTypeAnalyticsStorage = "analytics_storage";    // code 2
inline constexpr const char* kAPMConsentTypeAdUserData = "ad_user_data";               // code 3
inline constexpr const char* kAPMConsentTypeAdPersonalization = "ad_personalization";  // code 4

inline constexpr const char* kAPMConsentStatusGranted = "granted";  // code 1
inline constexpr const char* kAPMConsentStatusDenied = "denied";    // code 2
// Stands for "use the regional default"; only ad user data and ad
// personalization may hold it.
inline constexpr const char* kAPMConsentStatusEUConsentPolicy = "eu_consent_policy";

using APMConsentSettings = platform::PropertyDictionary;

// The four types in the order every walk over them uses.
inline constexpr std::array<const char*, 4> kAPMConsentTypesInOrder = {
    kAPMConsentTypeAdStorage, kAPMConsentTypeAnalyticsStorage, kAPMConsentTypeAdUserData,
    kAPMConsentTypeAdPersonalization};

// Where settings came from; a lower number has higher priority (5 and 10 rank equal).
enum APMConsentSource : std::int64_t {
    APMConsentSourceTCF = 5,
    APMConsentSourceThirdParty = 10,
    APMConsentSourcePlist = 20,
    APMConsentSourceAPI = 30,
    APMConsentSourceStartOptions = 40,
    APMConsentSourceNone = 100,
};

// Name -> code (APMConsentTypeString and APMConsentStatusString go the other
// way); an unknown name gives 0.
std::int64_t APMConsentTypeFromString(std::string_view name);
std::int64_t APMConsentStatusFromString(std::string_view name);

// True when `value` is a string equal to `status` ignoring case.
bool APMConsentValueIs(const platform::PropertyValue* value, std::string_view status);

// The diagnostic digit of a source: 5 -> 7, 10 and 30 -> 5, 20 -> 3, 40 -> 4, else 0.
std::int64_t APMConsentDiagnosticDigitForSource(std::int64_t source);

// A stored value as log lines and descriptions print it.
std::string APMConsentValueDescription(const platform::PropertyValue& value);

// The entries of the four type names only (values unchanged, not checked).
APMConsentSettings APMConsentSettingsFromDictionary(const platform::PropertyDictionary& dictionary);
