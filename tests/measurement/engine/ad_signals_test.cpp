// The ad-personalization answer takes the first source that has one (stored
// switch, current consent, Info.plist switch, default consent); the ad
// network registration follows a numeric Info.plist switch only.

#include <fstream>

#include "EngineTestSupport.h"
#include "VadovaUtilities/VULMainBundle.h"
#include "measurement/interface/APMConsentSettingsUtil.h"

namespace engine_test {
namespace {

using platform::PropertyValue;

std::optional<APMConsentSettings> adPersonalization(std::optional<const char*> status) {
    if (!status) return std::nullopt;
    return APMConsentSettings{{kAPMConsentTypeAdPersonalization, PropertyValue(*status)}};
}

struct AdSignalsCase {
    const char* what;
    std::optional<bool> storedAllow;
    std::optional<const char*> consent;
    std::optional<PropertyValue> plist;
    std::optional<const char*> defaultConsent;
    std::optional<std::int64_t> disable;
    bool plistFlag;
};

class AdSignals : public EngineFixture {
protected:
    void SetUp() override { start(); }
};

TEST_F(AdSignals, DisableAdPersonalizationTakesTheFirstSourceThatAnswers) {
    const AdSignalsCase cases[] = {
        {"nothing anywhere", {}, {}, {}, {}, std::nullopt, false},
        {"stored allow", true, "denied", PropertyValue(false), "denied", 0, false},
        {"stored disallow", false, "granted", PropertyValue(true), "granted", 1, false},
        {"consent granted", {}, "granted", PropertyValue(false), "denied", 0, false},
        {"consent denied", {}, "denied", PropertyValue(true), "granted", 1, false},
        {"plist Boolean NO", {}, {}, PropertyValue(false), "granted", 1, true},
        {"plist Boolean YES", {}, {}, PropertyValue(true), "denied", 0, true},
        {"plist integer 0", {}, {}, PropertyValue(0), {}, 1, true},
        {"plist string is not a number", {}, {}, PropertyValue("NO"), "denied", 0, false},
        {"default denied in capitals", {}, {}, {}, "DENIED", 1, false},
        {"default granted", {}, {}, {}, "Granted", 0, false},
        {"default of another word", {}, {}, {}, "unknown", std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        engine.reset();
        APMConsentSettingsUtil::resetForTesting();
        writeInfoPlist({});  // the start reads the switch too: none left from the case before
        start();
        persisted->setAllowPersonalizedAds(c.storedAllow);
        APMConsentSettingsUtil::setConsentSettings(adPersonalization(c.consent));
        APMConsentSettingsUtil::setDefaultSettings(adPersonalization(c.defaultConsent));
        writeInfoPlist(c.plist ? platform::PropertyDictionary{{"VADOVA_ANALYTICS_DEFAULT_ALLOW_AD_PERSONALIZATION_SIGNALS",
                                                               *c.plist}}
                               : platform::PropertyDictionary{});
        EXPECT_EQ(engine->shouldDisableAdPersonalization(), c.disable);
        EXPECT_EQ(engine->foundAdPersonalizationPlistFlag(), c.plistFlag);
    }
}

TEST_F(AdSignals, AdNetworkRegistrationFollowsOnlyANumericSwitch) {
    const std::pair<std::optional<PropertyValue>, bool> cases[] = {
        {std::nullopt, true}, {PropertyValue(false), false}, {PropertyValue(0), false},
        {PropertyValue(true), true}, {PropertyValue("NO"), true},
    };
    for (const auto& [value, allowed] : cases) {
        writeInfoPlist(value ? platform::PropertyDictionary{{"VADOVA_ANALYTICS_REGISTRATION_WITH_AD_NETWORK_ENABLED", *value}}
                             : platform::PropertyDictionary{});
        EXPECT_EQ(engine->shouldAllowAdNetworkRegistration(), allowed) << (value ? platform::propertyKindName(value->kind()) : "absent");
    }
}

}  // namespace
}  // namespace engine_test
