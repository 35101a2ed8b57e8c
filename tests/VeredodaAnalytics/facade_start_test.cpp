// The facade's start: once per process, the held operations released after
// the engine's creation, the options, and the start by class name.

#include "AnalyticsTestSupport.h"

namespace analytics_test {
namespace {

using FacadeStartTest = AnalyticsFixture;

TEST_F(FacadeStartTest, CallsMadeBeforeTheStartReachTheEngineInOrderAfterIt) {
    APMAnalytics::logEventWithName("first", APMObjectParameters{});
    APMAnalytics::logEventWithName("second", std::nullopt);
    APMAnalytics::logInternalEventWithOrigin("auto", "_third", std::nullopt);
    dispatcher.drain();
    EXPECT_FALSE(APMMeasurement::hasSharedInstance());
    EXPECT_TRUE(heard.empty());

    startFacade();
    ASSERT_TRUE(engine);
    EXPECT_EQ(heardNames(), (std::vector<std::string>{"first", "second", "_third"}));
}

TEST_F(FacadeStartTest, StartsOncePostingTheNotificationOnce) {
    int posted = 0;
    center.addObserver(std::string(kRADOdodavaziWillStartNotification), nullptr, nullptr,
                       [&](const platform::Notification&) { ++posted; });
    startFacade();
    const auto first = APMMeasurement::sharedInstance();
    startFacade();
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(APMMeasurement::sharedInstance(), first);
    EXPECT_TRUE(APMAnalytics::isEnabled());
}

TEST_F(FacadeStartTest, AStartFromAnotherOriginDefersAndNeverReleasesTheQueue) {
    APMAnalytics::logEventWithName("held", std::nullopt);
    startFacade({}, "app");
    EXPECT_EQ(monitor.linesWithCode(25026).size(), 1u);
    EXPECT_FALSE(engine);
    EXPECT_TRUE(heard.empty());
}

TEST_F(FacadeStartTest, InvalidSafelistsAreDroppedWhole) {
    struct Case {
        platform::PropertyValue safelist;
        long code;
    } cases[] = {
        {platform::PropertyValue("app_start"), 25034},
        {platform::PropertyValue(platform::PropertyArray{"good", "no spaces allowed"}), 25035},
    };
    for (const auto& c : cases) {
        monitor.clear();
        APMAnalytics::resetForTesting({&dispatcher, &center, suite, nullptr, nullptr});
        APMMeasurement::resetSharedInstanceForTesting();
        APMAnalyticsStartOptions options;
        options.values[kAPMStartOptionSafelistedEvents] = c.safelist;
        startFacade(options);
        EXPECT_EQ(monitor.linesWithCode(c.code).size(), 1u) << c.code;
        ASSERT_TRUE(engine);
        EXPECT_TRUE(engine->safelistedEvents().empty());
    }
}

TEST_F(FacadeStartTest, DeactivatedCollectionCannotBeEnabled) {
    APMAnalyticsStartOptions options;
    options.values[kAPMStartOptionCollectionDeactivated] = true;
    startFacade(options);
    EXPECT_FALSE(APMAnalytics::isEnabled());
    APMAnalytics::setAnalyticsEnabled(true, true);
    dispatcher.drain();
    EXPECT_FALSE(APMAnalytics::isEnabled());
    EXPECT_EQ(persisted->measurementEnabledState(), 1);
}

TEST_F(FacadeStartTest, TheConfigurationsSwitchReachesTheFacade) {
    auto configuration = std::make_shared<RADOdodavaziConfiguration>();
    APMAnalyticsStartOptions options;
    options.configuration = configuration;
    startFacade(options);
    center.post(kRADOdodavaziConfigurationSetEnabledNotification, configuration.get(),
                platform::PropertyDictionary{{kRADOdodavaziConfigurationSetEnabledNotification, false}});
    dispatcher.drain();
    EXPECT_FALSE(APMAnalytics::isEnabled());
    center.post(kRADOdodavaziConfigurationSetEnabledNotification, configuration.get(),
                platform::PropertyDictionary{{kRADOdodavaziConfigurationSetEnabledNotification, "yes"}});
    EXPECT_EQ(monitor.linesWithCode(25000).size(), 1u);
}

TEST_F(FacadeStartTest, OperationsAfterAWaitingOperationAreHeldHalfASecond) {
    startFacade();
    APMAnalytics::queueOperationWithBlockThenWait([] {});
    APMAnalytics::logEventWithName("later", std::nullopt);
    dispatcher.drain();
    EXPECT_TRUE(heard.empty());
    dispatcher.advance(0.5);
    EXPECT_EQ(heardNames(), std::vector<std::string>{"later"});
}

TEST_F(FacadeStartTest, ConfiguringTheDefaultAppStartsTheInterfaceByClassName) {
    RADOdodavazi::logEventWithName("before_configure", std::nullopt);
    EXPECT_EQ(monitor.linesWithCode(25018).size(), 1u);
    configureDefaultApp();
    ASSERT_TRUE(engine);
    EXPECT_EQ(engine->appID(), engine_test::kAppID);
    RADOdodavazi::logEventWithName("app_start", std::nullopt);
    dispatcher.drain();
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].name, "app_start");
    EXPECT_EQ(heard[0].origin, "app");
}

}  // namespace
}  // namespace analytics_test
