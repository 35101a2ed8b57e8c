// The consent defaults an application declares in its Info.plist.

#include <cctype>
#include <optional>
#include <string_view>

#include "VadovaUtilities/VULMainBundle.h"
#include "measurement/interface/APMConsentSettingsUtil.h"
#include "platform/core/Unicode.h"

namespace {

// A string's Boolean reading: leading white space skipped, then "Y", "y",
// "T" or "t", or a number (sign and leading zeros allowed) that starts with
// a non-zero digit, is true; anything else is false.
bool booleanOfText(std::string_view text) {
    std::size_t index = 0;
    while (index < text.size() && std::isspace(static_cast<unsigned char>(text[index]))) ++index;
    if (index < text.size() && std::string_view("YyTt").find(text[index]) != std::string_view::npos) return true;
    if (index < text.size() && (text[index] == '+' || text[index] == '-')) ++index;
    while (index < text.size() && text[index] == '0') ++index;
    return index < text.size() && text[index] >= '1' && text[index] <= '9';
}

std::optional<bool> booleanOf(const platform::PropertyValue& value) {
    if (auto flag = value.asBoolean()) return flag;
    if (auto number = value.asReal()) return *number != 0;
    if (const std::string* text = value.asString()) return booleanOfText(*text);
    return std::nullopt;
}

std::optional<std::string> statusFromPlistValue(const platform::PropertyValue& value, bool mayUseRegionalPolicy) {
    if (const std::string* text = value.asString();
        text && platform::equalsIgnoringCase(*text, kAPMConsentStatusEUConsentPolicy)) {
        if (!mayUseRegionalPolicy) return std::nullopt;
        return kAPMConsentStatusEUConsentPolicy;
    }
    auto flag = booleanOf(value);
    if (!flag) return std::nullopt;
    return *flag ? kAPMConsentStatusGranted : kAPMConsentStatusDenied;
}

struct PlistDefault {
    const char* key;
    const char* type;
    bool mayUseRegionalPolicy;
    bool stringsOnly;  // a Boolean here is the personalized-ads switch, not consent
};

constexpr PlistDefault kPlistDefaults[] = {
    {"VADOVA_ANALYTICS_DEFAULT_ALLOW_AD_STORAGE", kAPMConsentTypeAdStorage, false, false},
    {"VADOVA_ANALYTICS_DEFAULT_ALLOW_ANALYTICS_STORAGE", kAPMConsentTypeAnalyticsStorage, false, false},
    {"VADOVA_ANALYTICS_DEFAULT_ALLOW_AD_USER_DATA", kAPMConsentTypeAdUserData, true, false},
    {"VADOVA_ANALYTICS_DEFAULT_ALLOW_AD_PERSONALIZATION_SIGNALS", kAPMConsentTypeAdPersonalization, true, true},
};

}  // namespace

APMConsentSettings APMConsentSettingsUtil::consentSettingsFromPlist() {
    APMConsentSettings settings;
    for (const PlistDefault& entry : kPlistDefaults) {
        auto value = VULMainBundle::objectForInfoDictionaryKey(entry.key);
        if (!value || (entry.stringsOnly && !value->isString())) continue;
        if (auto status = statusFromPlistValue(*value, entry.mayUseRegionalPolicy)) settings.emplace(entry.type, *status);
    }
    return settings;
}
