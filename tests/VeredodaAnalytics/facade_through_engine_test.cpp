// The facade's entries that refuse or hand over to the engine, over the
// engine the bridge makes: an opened URL or continued user activity, the
// user-property queries, and user data while collection is off.

#include "AnalyticsTestSupport.h"

namespace analytics_test {
namespace {

class FacadeThroughEngine : public AnalyticsFixture {
protected:
    // Every level: the refusals of disabled analytics are debug lines.
    FacadeThroughEngine() : AnalyticsFixture(engine_test::Logging::verbose) {}
    void SetUp() override {
        startFacade();
        ASSERT_TRUE(engine);
    }

    platform::QueueRef answers = dispatcher.makeSerialQueue("answers");
};

TEST_F(FacadeThroughEngine, AnOpenedURLOrUserActivityIsCountedAndReachesTheEngineBeforeTheListener) {
    std::vector<std::string> order;
    auto& seams = APMAnalyticsEngineBridge::engineSeams();
    const auto engineEntry = seams.handleNonFirstOpenEventURL;
    seams.handleNonFirstOpenEventURL = [&](const std::string& url, double timestamp,
                                           const std::optional<std::string>& referrer) {
        order.push_back("engine");
        engineEntry(url, timestamp, referrer);
    };
    APMAnalytics::setOpenURLListener([&](const std::string& url) { order.push_back("listener " + url); });
    const std::string opened = "mossbridge://open?utm_source=news&utm_medium=email&utm_campaign=spring";
    const std::string browsed = "https://mossbridge.example/open?utm_source=news&utm_medium=email&utm_campaign=summer";
    const struct {
        const char* signal;
        std::function<void()> hand;
        std::vector<std::string> order;  // only an opened URL is the listener's
        const char* campaign;
    } cases[] = {
        {"handle_open_url", [&] { RADOdodavazi::handleOpenURL(opened); }, {"engine", "listener " + opened}, "spring"},
        {"handle_user_activity",
         [&] {
             RADOdodavazi::handleUserActivity(platform::UserActivity{platform::kUserActivityTypeBrowsingWeb, browsed, {}});
         },
         {"engine"},
         "summer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signal);
        order.clear();
        c.hand();
        dispatcher.drain();

        EXPECT_EQ(order, c.order);
        EXPECT_EQ(signalCount(c.signal, "manual"), 1);
        const auto campaign = lastStored("_cmp");
        ASSERT_TRUE(campaign);
        EXPECT_EQ(*engine_test::param(campaign, "campaign")->stringValue(), c.campaign);
    }
}

TEST_F(FacadeThroughEngine, UserPropertyQueriesRefuseWhatTheyCannotAnswer) {
    const auto analytics = APMAnalytics::sharedInstance();
    const auto noList = std::function<void(APMUserPropertyList)>();
    const auto noCount = std::function<void(std::int64_t)>();
    const struct {
        const char* label;
        std::function<void(std::function<void()> answered)> query;
        long code;
        bool answered;  // the callback was called, empty
    } cases[] = {
        {"no callback", [&](auto) { APMAnalytics::userPropertiesIncludingInternal(false, answers, noList); }, 25006,
         false},
        {"no queue",
         [&](auto answered) {
             APMAnalytics::userPropertiesIncludingInternal(false, nullptr, [answered](APMUserPropertyList list) {
                 if (list.empty()) answered();
             });
         },
         25007, true},
        {"analytics disabled",
         [&](auto answered) {
             APMAnalytics::setAnalyticsEnabled(false);
             APMAnalytics::userPropertiesIncludingInternal(false, answers, [answered](APMUserPropertyList list) {
                 if (list.empty()) answered();
             });
         },
         25008, true},
        {"no origin", [&](auto answered) { analytics->maxUserPropertiesForOrigin("", answers, [answered](auto) { answered(); }); },
         25009, false},
        {"no queue for the maximum",
         [&](auto answered) { analytics->maxUserPropertiesForOrigin("app", nullptr, [answered](auto) { answered(); }); },
         25010, false},
        {"no callback for the maximum", [&](auto) { analytics->maxUserPropertiesForOrigin("app", answers, noCount); },
         25011, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        monitor.clear();
        bool answered = false;
        c.query([&answered] { answered = true; });
        dispatcher.drain();
        EXPECT_EQ(logged(c.code), 1u);
        EXPECT_EQ(answered, c.answered);
    }
}

TEST_F(FacadeThroughEngine, UserDataReachesTheEngineOnlyWhileCollectionIsOn) {
    int reached = 0;
    auto& seams = APMAnalyticsEngineBridge::engineSeams();
    const auto engineEntry = seams.setUserData;
    seams.setUserData = [&](const platform::PropertyDictionary& userData) {
        ++reached;
        engineEntry(userData);
    };
    for (const bool enabled : {true, false}) {
        SCOPED_TRACE(enabled ? "on" : "off");
        monitor.clear();
        reached = 0;
        APMAnalytics::setAnalyticsEnabled(enabled);
        APMAnalytics::setUserData({{"email_address", platform::PropertyValue("a@b.c")}});
        dispatcher.advance(1);  // past the hold that follows user data
        EXPECT_EQ(reached, enabled ? 1 : 0);
        EXPECT_EQ(logged(25044), enabled ? 0u : 1u);
    }
}

}  // namespace
}  // namespace analytics_test
