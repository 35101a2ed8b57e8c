#include "measurement/interface/APMConsentSettingsUtil.h"

#include <gtest/gtest.h>

#include "ConsentTestSupport.h"

using consent_test::ConsentTest;
using consent_test::settings;
using Util = APMConsentSettingsUtil;

namespace {

struct ConsentSettingsUtilTest : ConsentTest {};

TEST_F(ConsentSettingsUtilTest, TypeAndStatusCodesConvertBothWaysAndRejectUnknowns) {
    EXPECT_EQ(APMConsentTypeString(3), "ad_user_data");
    EXPECT_EQ(APMConsentTypeString(5), "");
    EXPECT_EQ(APMConsentStatusString(2), "denied");
    EXPECT_EQ(APMConsentTypeFromString("ad_personalization"), 4);
    EXPECT_EQ(APMConsentTypeFromString("AD_STORAGE"), 0);
    EXPECT_EQ(APMConsentStatusFromString("granted"), 1);
    EXPECT_EQ(APMConsentStatusFromString("eu_consent_policy"), 0);
}

TEST_F(ConsentSettingsUtilTest, StoredStatusesMatchIgnoringCaseButOnlyAsStrings) {
    Util::setConsentSettings(settings({{"ad_storage", "DENIED"}, {"analytics_storage", 2}}));
    EXPECT_TRUE(Util::isAdStorageDenied());
    EXPECT_FALSE(Util::isAnalyticsStorageDenied());
    EXPECT_EQ(Util::consentSignals(), "G10-");
}

TEST_F(ConsentSettingsUtilTest, SignalsReadOnlyTheCurrentStorageValues) {
    EXPECT_EQ(Util::consentSignals(), "G1--");
    Util::setDefaultSettings(settings({{"ad_storage", "denied"}}));
    EXPECT_EQ(Util::consentSignals(), "G1--");
    Util::updateSettings(settings({{"ad_storage", "granted"}, {"analytics_storage", "denied"}}));
    EXPECT_EQ(Util::consentSignals(), "G110");
}

TEST_F(ConsentSettingsUtilTest, PriorityTable) {
    struct Case {
        std::int64_t current;
        std::int64_t incoming;
        bool equal;
        bool higher;
    };
    const Case cases[] = {
        {100, 40, false, true}, {40, 40, true, true},  {40, 30, false, true}, {30, 40, false, false},
        {5, 10, true, true},    {10, 5, true, true},   {5, 30, false, false}, {10, 20, false, false},
        {20, 10, false, true},  {5, 100, false, false},
    };
    for (const Case& c : cases) {
        Util::setConsentSource(c.current);
        EXPECT_EQ(Util::isConsentSourceEqualPriority(c.incoming), c.equal) << c.current << " vs " << c.incoming;
        EXPECT_EQ(Util::isConsentSourceHigherPriority(c.incoming), c.higher) << c.current << " vs " << c.incoming;
    }
}

TEST_F(ConsentSettingsUtilTest, AdUserDataFollowsRegionalPolicyThenDelegationThenDefault) {
    struct Case {
        const char* name;
        APMConsentSettings current;
        std::optional<APMConsentSettings> defaults;
        std::optional<APMConsentSettings> delegated;
        std::optional<APMConsentSettings> regional;
        bool denied;
    };
    const Case cases[] = {
        {"nothing anywhere", {}, std::nullopt, std::nullopt, std::nullopt, false},
        {"current wins", settings({{"ad_user_data", "granted"}}), settings({{"ad_user_data", "denied"}}),
         std::nullopt, std::nullopt, false},
        {"delegated type denied", settings({{"ad_storage", "denied"}}), settings({{"ad_user_data", "granted"}}),
         settings({{"ad_user_data", "ad_storage"}}), std::nullopt, true},
        {"delegated type absent: default decides", {}, settings({{"ad_user_data", "denied"}}),
         settings({{"ad_user_data", "ad_storage"}}), std::nullopt, true},
        {"policy without regional default", settings({{"ad_user_data", "eu_consent_policy"}}), std::nullopt,
         std::nullopt, std::nullopt, true},
        {"policy with regional grant", settings({{"ad_user_data", "EU_Consent_Policy"}}), std::nullopt, std::nullopt,
         settings({{"ad_user_data", "granted"}}), false},
    };
    for (const Case& c : cases) {
        Util::resetForTesting();
        Util::setConsentSettings(c.current);
        Util::setDefaultSettings(c.defaults);
        Util::setDelegatedSettings(c.delegated);
        Util::setRegionalDefaults(c.regional);
        EXPECT_EQ(Util::isAdUserDataDenied(), c.denied) << c.name;
    }
}

TEST_F(ConsentSettingsUtilTest, AdPersonalizationIgnoresDelegation) {
    Util::setConsentSettings(settings({{"ad_storage", "denied"}}));
    Util::setDelegatedSettings(settings({{"ad_personalization", "ad_storage"}}));
    EXPECT_EQ(Util::adPersonalization(), std::nullopt);
    Util::setDefaultSettings(settings({{"ad_personalization", "granted"}}));
    EXPECT_EQ(Util::adPersonalization(), 1);
    Util::updateSettings(settings({{"ad_personalization", "eu_consent_policy"}}));
    EXPECT_EQ(Util::adPersonalization(), 0);
    Util::unsetAdPersonalization();
    EXPECT_EQ(Util::adPersonalization(), 1);
}

TEST_F(ConsentSettingsUtilTest, DiagnosticsDigitsFollowSourcesDefaultsAndDelegation) {
    EXPECT_EQ(Util::consentDiagnostics(), "19999");

    Util::updateSettings(settings({{"ad_storage", "granted"}}), APMConsentSourceAPI);
    Util::setDefaultSettings(settings({{"analytics_storage", "denied"}, {"ad_personalization", "denied"}}));
    Util::setDelegatedSettings(settings({{"ad_user_data", "ad_storage"}}));
    // A default of a storage type does not count: 9.
    EXPECT_EQ(Util::consentDiagnostics(), "15921");

    Util::updateSettings(settings({{"ad_user_data", "eu_consent_policy"}}), APMConsentSourcePlist);
    EXPECT_EQ(Util::consentDiagnostics(), "15981");
    Util::updateSettings(settings({{"analytics_storage", "granted"}}), APMConsentSourceTCF);
    EXPECT_EQ(Util::consentDiagnostics(), "15781");
    Util::setDiagnosticSource(3, "ad_personalization");
    Util::updateSettings(settings({{"ad_personalization", "granted"}}));
    EXPECT_EQ(Util::consentDiagnostics(), "15783");
}

TEST_F(ConsentSettingsUtilTest, DigitsOfAnUpdateBeforeAnyDiagnosticsArriveWithTheNextRefreshFromSource) {
    Util::updateSettings(settings({{"ad_storage", "granted"}}), APMConsentSourceStartOptions);
    EXPECT_EQ(Util::consentDiagnostics(), "10999");
    Util::setConsentSource(APMConsentSourceStartOptions);
    EXPECT_EQ(Util::consentDiagnostics(), "14999");
}

TEST_F(ConsentSettingsUtilTest, SourceDigits) {
    const std::pair<std::int64_t, std::int64_t> digits[] = {{5, 7}, {10, 5}, {20, 3}, {30, 5}, {40, 4}, {100, 0}, {7, 0}};
    for (auto [source, digit] : digits) EXPECT_EQ(APMConsentDiagnosticDigitForSource(source), digit) << source;
}

TEST_F(ConsentSettingsUtilTest, ClearingSettingsReturnsToNoSourceAndZeroDigits) {
    Util::updateSettings(settings({{"ad_storage", "granted"}}), APMConsentSourceStartOptions);
    Util::setConsentSettings(std::nullopt);
    EXPECT_EQ(Util::consentSource(), 100);
    Util::setVersion(2);
    Util::setDefaultSettings(settings({{"ad_user_data", "granted"}}));
    Util::clearAllSettings();
    EXPECT_EQ(Util::consentSource(), 100);
    EXPECT_EQ(Util::defaultSettings(), std::nullopt);
    EXPECT_EQ(Util::consentSettings(), std::nullopt);
    EXPECT_EQ(Util::version(), 2);
    EXPECT_EQ(Util::consentDiagnostics(), "19999");
}

TEST_F(ConsentSettingsUtilTest, VersionTakesOnlyOneOrTwo) {
    Util::setVersion(2);
    Util::setVersion(3);
    Util::setVersion(0);
    EXPECT_EQ(Util::version(), 2);
}

TEST_F(ConsentSettingsUtilTest, DescriptionPrintsStorageAlwaysAndOthersWhenPresent) {
    EXPECT_EQ(Util::description(), "ad_storage is granted. analytics_storage is granted.");
    Util::setConsentSettings(settings({{"analytics_storage", "denied"}, {"ad_user_data", "eu_consent_policy"},
                                       {"ad_personalization", "granted"}}));
    Util::setRegionalDefaults(settings({{"ad_user_data", "granted"}}));
    EXPECT_EQ(Util::description(),
              "ad_storage is granted. analytics_storage is denied. ad_user_data is granted (eu_consent_policy). "
              "ad_personalization is granted.");
}

TEST_F(ConsentSettingsUtilTest, DictionaryFilterKeepsOnlyTheFourTypes) {
    auto filtered = Util::consentSettingsFromDictionary(
        {{"ad_storage", "maybe"}, {"analytics", "granted"}, {"ad_user_data", 1}});
    EXPECT_EQ(filtered, settings({{"ad_storage", "maybe"}, {"ad_user_data", 1}}));
}

TEST_F(ConsentSettingsUtilTest, InfoPlistDefaults) {
    writeInfoPlist({
        {"VADOVA_ANALYTICS_DEFAULT_ALLOW_AD_STORAGE", "eu_consent_policy"},
        {"VADOVA_ANALYTICS_DEFAULT_ALLOW_ANALYTICS_STORAGE", "NO"},
        {"VADOVA_ANALYTICS_DEFAULT_ALLOW_AD_USER_DATA", "EU_CONSENT_POLICY"},
        {"VADOVA_ANALYTICS_DEFAULT_ALLOW_AD_PERSONALIZATION_SIGNALS", true},
    });
    EXPECT_EQ(Util::consentSettingsFromPlist(),
              settings({{"analytics_storage", "denied"}, {"ad_user_data", "eu_consent_policy"}}));

    writeInfoPlist({
        {"VADOVA_ANALYTICS_DEFAULT_ALLOW_AD_STORAGE", true},
        {"VADOVA_ANALYTICS_DEFAULT_ALLOW_ANALYTICS_STORAGE", 0},
        {"VADOVA_ANALYTICS_DEFAULT_ALLOW_AD_USER_DATA", platform::PropertyArray{}},
        {"VADOVA_ANALYTICS_DEFAULT_ALLOW_AD_PERSONALIZATION_SIGNALS", " 0042"},
    });
    EXPECT_EQ(Util::consentSettingsFromPlist(), settings({{"ad_storage", "granted"}, {"analytics_storage", "denied"},
                                                          {"ad_personalization", "granted"}}));
}

TEST_F(ConsentSettingsUtilTest, RegionalPolicyFromInfoPlistDeniesAdUserDataWithDigitEight) {
    writeInfoPlist({{"VADOVA_ANALYTICS_DEFAULT_ALLOW_AD_USER_DATA", "eu_consent_policy"}});
    Util::updateSettings(Util::consentSettingsFromPlist(), APMConsentSourcePlist);
    EXPECT_TRUE(Util::isAdUserDataDenied());
    EXPECT_EQ(Util::consentDiagnostics(), "19989");
}

}  // namespace
