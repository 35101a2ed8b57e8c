// User properties, the user ID, the collection switch and its persistence,
// the session entries, reset and consent across a restart.

#include "AnalyticsTestSupport.h"
#include "measurement/interface/APMConsentSettingsStore.h"

namespace analytics_test {
namespace {

class UserStateTest : public AnalyticsFixture {
protected:
    APMUserPropertyList userProperties() {
        APMUserPropertyList answer;
        APMAnalytics::userPropertiesIncludingInternal(true, answers,
                                                      [&](APMUserPropertyList properties) { answer = properties; });
        dispatcher.drain();
        return answer;
    }
    const APMValue* userProperty(const APMUserPropertyList& properties, const std::string& name) {
        for (const auto& [key, value] : properties) {
            if (key == name) return &value;
        }
        return nullptr;
    }

    platform::QueueRef answers = dispatcher.makeSerialQueue("answers");
};

TEST_F(UserStateTest, TheCollectionSwitchSurvivesARestart) {
    startFacade();
    RADOdodavazi::setAnalyticsCollectionEnabled(false);
    dispatcher.drain();
    EXPECT_EQ(persisted->measurementEnabledState(), 2);

    restart();
    startFacade();
    EXPECT_FALSE(APMAnalytics::isEnabled());
    EXPECT_FALSE(engine->isEnabled());
    APMAnalytics::logEventWithName("while_off", std::nullopt);
    dispatcher.drain();
    EXPECT_TRUE(heard.empty());
}

TEST_F(UserStateTest, PublicUserPropertiesAreCheckedThenStoredOrRemoved) {
    startFacade();
    APMAnalytics::setUserPropertyString(std::optional<std::string>("gold"), "tier");
    APMAnalytics::setUserPropertyString(std::optional<std::string>(std::string(37, 'x')), "too_long");
    APMAnalytics::setUserPropertyString(std::optional<std::string>("x"), "va_tier");
    dispatcher.drain();
    auto properties = userProperties();
    ASSERT_TRUE(userProperty(properties, "tier"));
    EXPECT_EQ(*userProperty(properties, "tier")->stringValue(), "gold");
    EXPECT_FALSE(userProperty(properties, "too_long"));
    std::vector<std::int64_t> codes;
    for (const auto& event : heard) {
        if (event.name == "_err") codes.push_back(event.parameters.find("_err")->int64Value());
    }
    EXPECT_EQ(codes, (std::vector<std::int64_t>{7, 15}));

    APMAnalytics::setUserPropertyString(std::nullopt, "tier");
    dispatcher.drain();
    EXPECT_FALSE(userProperty(userProperties(), "tier"));
}

// The personalized-ads switch decides "_npa"; taking it back leaves no source,
// so the property goes.
TEST_F(UserStateTest, ThePersonalizedAdsSwitchWritesNpa) {
    startFacade();
    APMAnalytics::setUserPropertyString(std::optional<std::string>("false"), "allow_personalized_ads");
    dispatcher.drain();
    const auto properties = userProperties();
    const APMValue* npa = userProperty(properties, "_npa");
    ASSERT_TRUE(npa);
    EXPECT_EQ(npa->int64Value(), 1);
    APMAnalytics::setUserPropertyString(std::nullopt, "allow_personalized_ads");
    dispatcher.drain();
    EXPECT_FALSE(userProperty(userProperties(), "_npa"));
}

TEST_F(UserStateTest, UserIDAndOriginChecks) {
    startFacade();
    APMAnalytics::setUserID(platform::PropertyValue("user-1"));
    dispatcher.drain();
    EXPECT_TRUE(userProperty(userProperties(), "_id"));
    APMAnalytics::setUserID(std::nullopt);
    APMAnalytics::setUserID(platform::PropertyValue(42));
    APMAnalytics::sharedInstance()->setInternalUserProperty(APMObject(APMValue("v")), "prop", std::string(33, 'o'));
    dispatcher.drain();
    EXPECT_FALSE(userProperty(userProperties(), "_id"));
    EXPECT_EQ(monitor.linesWithCode(25004).size(), 1u);
    EXPECT_EQ(monitor.linesWithCode(25005).size(), 1u);
}

TEST_F(UserStateTest, SessionEntriesBeforeTheEngineExists) {
    APMAnalytics::setSessionTimeoutInterval(-1);
    APMAnalytics::setSessionTimeoutInterval(600);
    std::optional<APMError> error;
    APMAnalytics::sessionIDWithCompletion([&](std::int64_t, std::optional<APMError> given) { error = given; });
    dispatcher.drain();
    EXPECT_EQ(monitor.linesWithCode(25060).size(), 1u);
    EXPECT_EQ(persisted->sessionTimeoutValue(), 600);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, 13);
    EXPECT_EQ(error->description, "Analytics uninitialized");
}

TEST_F(UserStateTest, ResetKeepsItsRetryCountUntilTheEngineHasReset) {
    startFacade();
    bool engineResets = false;
    std::optional<std::string> givenID;
    APMAnalyticsEngineBridge::engineSeams().resetAnalyticsDataWithAppInstanceID =
        [&](const std::optional<std::string>& id) {
            givenID = id;
            return engineResets;
        };
    APMAnalytics::resetAnalyticsData();
    const auto newID = APMAnalytics::appInstanceID();
    ASSERT_TRUE(newID);
    EXPECT_EQ(newID->size(), 32u);
    dispatcher.drain();
    EXPECT_EQ(givenID, newID);
    EXPECT_EQ(suite->integerForKey("reset_retry_count"), 1);
    EXPECT_TRUE(suite->boolForKey("need_first_open_after_reset"));
    EXPECT_EQ(monitor.linesWithCode(25037).size(), 1u);

    engineResets = true;
    APMAnalytics::resetAnalyticsData();
    dispatcher.drain();
    EXPECT_FALSE(suite->numberForKey("reset_retry_count"));
    EXPECT_FALSE(suite->stringForKey("app_instance_id_after_reset"));
}

TEST_F(UserStateTest, APublicConsentDenialSurvivesARestartAfterTCFConsent) {
    startFacade();
    APMAnalytics::setConsent({{"analytics_storage", "granted"}, {"ad_storage", "granted"}}, kAPMConsentSettingsTCFKey);
    RADOdodavazi::setConsent({{"analytics_storage", "denied"}});
    ASSERT_TRUE(APMConsentSettingsUtil::isAnalyticsStorageDenied());

    restart();
    startFacade();
    EXPECT_TRUE(APMConsentSettingsUtil::isAnalyticsStorageDenied());
    EXPECT_FALSE(APMConsentSettingsUtil::isAdStorageDenied());
    EXPECT_FALSE(APMAnalytics::appInstanceID());
}

}  // namespace
}  // namespace analytics_test
