// The connector: its allow and block lists, the events and properties it
// lets through, its listeners, and the conditional-property entry.

#include <thread>

#include "AnalyticsTestSupport.h"
#include "VeredodaAnalytics/RADOdodavaziConnector.h"

namespace analytics_test {
namespace {

struct RecordingListener final : RADOdodavaziInteropListener {
    void messageTriggered(const std::string& name, const platform::PropertyDictionary& parameters) override {
        std::lock_guard lock(mutex);
        messages.emplace_back(name, parameters);
    }
    std::vector<std::string> names() {
        std::lock_guard lock(mutex);
        std::vector<std::string> found;
        for (const auto& message : messages) found.push_back(message.first);
        return found;
    }
    std::mutex mutex;
    std::vector<std::pair<std::string, platform::PropertyDictionary>> messages;
};

class ConnectorTest : public AnalyticsFixture {
protected:
    void SetUp() override {
        startFacade();
        connector = std::make_shared<RADOdodavaziConnector>();
    }
    std::shared_ptr<RADOdodavaziConnector> connector;
};

TEST(ConnectorListsTest, UserPropertiesByNameAndOrigin) {
    struct Case {
        const char* name;
        const char* origin;
        bool allowed;
    } cases[] = {{"_ln", "vcm", true},   {"_ln", "viam", true},   {"_ln", "vrc", false},  {"_id", "vcm", false},
                 {"_ltv_USD", "vcm", false}, {"_ltv_usd", "vcm", true}, {"_cc5", "vcm", false}, {"_cc6", "vcm", true},
                 {"", "vcm", false},       {"level", "vcm", true}};
    for (const auto& c : cases) {
        EXPECT_EQ(VRDConnectorUtils::isUserPropertyAllowed(c.name, c.origin), c.allowed) << c.name << " " << c.origin;
    }
    EXPECT_TRUE(VRDConnectorUtils::isUserPropertyAllowedForQuery("_fot"));
    EXPECT_FALSE(VRDConnectorUtils::isUserPropertyAllowedForQuery("_id"));
    EXPECT_TRUE(VRDConnectorUtils::isAppOrigin("app+vtm"));
    EXPECT_FALSE(VRDConnectorUtils::isAppOrigin("apple"));
}

TEST_F(ConnectorTest, EventsThroughTheConnector) {
    connector->logEventWithOrigin("app", "from_app", std::nullopt);
    connector->logEventWithOrigin("am", "from_am", std::nullopt);
    connector->logEventWithOrigin("vcm", "_e", std::nullopt);
    connector->logEventWithOrigin("vcm", "debugged", platform::PropertyDictionary{{"_dbg", 1}});
    connector->logEventWithOrigin("viam", "_cmp", std::nullopt);
    connector->logEventWithOrigin("vlx", "_ae", std::nullopt);
    dispatcher.drain();
    ASSERT_EQ(heardNames(), (std::vector<std::string>{"_cmp", "_ae"}));
    EXPECT_EQ(*heard[0].parameters.find("_cis")->stringValue(), "viam_integration");
    EXPECT_EQ(heard[1].parameters.find("_r")->int64Value(), 1);
}

TEST_F(ConnectorTest, ListenersHearTheirOriginAndAppEvents) {
    auto viam = std::make_shared<RecordingListener>();
    auto vlx = std::make_shared<RecordingListener>();
    connector->registerAnalyticsListener(viam, "viam");
    connector->registerAnalyticsListener(vlx, "vlx");
    connector->registerAnalyticsListener(std::make_shared<RecordingListener>(), "vcm");  // not allowed
    dispatcher.drain();
    APMAnalytics::logInternalEventWithOrigin("viam", "viam_event", std::nullopt);
    APMAnalytics::logEventWithName("app_event", std::nullopt);
    APMAnalytics::logInternalEventWithOrigin("auto", "_vs", std::nullopt);
    APMAnalytics::logInternalEventWithOrigin("auto", "_xa", std::nullopt);
    dispatcher.drain();
    EXPECT_EQ(viam->names(), (std::vector<std::string>{"viam_event", "app_event"}));
    EXPECT_EQ(vlx->names(), (std::vector<std::string>{"app_event", "_vs"}));

    connector->unregisterAnalyticsListenerWithOrigin("viam");
    connector->unregisterAnalyticsListenerWithOrigin("vlx");
    APMAnalytics::logEventWithName("after", std::nullopt);
    dispatcher.drain();
    EXPECT_EQ(vlx->names().size(), 2u);
    EXPECT_EQ(monitor.linesWithCode(25015).size(), 0u);
}

TEST_F(ConnectorTest, RegisteringOnOtherThreadsWhileEventsAreRouted) {
    std::atomic<bool> stop{false};
    std::thread churn([&] {
        auto listener = std::make_shared<RecordingListener>();
        while (!stop) {
            connector->registerAnalyticsListener(listener, "crash");
            connector->unregisterAnalyticsListenerWithOrigin("crash");
        }
    });
    auto steady = std::make_shared<RecordingListener>();
    connector->registerAnalyticsListener(steady, "viam");
    for (int i = 0; i < 200; ++i) {
        APMAnalytics::logEventWithName("e" + std::to_string(i), std::nullopt);
        dispatcher.drain();
    }
    stop = true;
    churn.join();
    dispatcher.drain();
    EXPECT_EQ(steady->names().size(), 200u);
}

TEST_F(ConnectorTest, ConditionalPropertiesTakeKnownKeysOfTheirTypeOnly) {
    std::optional<APMConditionalUserPropertyFields> given;
    APMAnalyticsEngineBridge::engineSeams().setConditionalUserProperty =
        [&](const APMConditionalUserPropertyFields& fields) { given = fields; };
    connector->setConditionalUserProperty({{"name", "plan"},
                                           {"value", "gold"},
                                           {"timeToLive", "a day"},
                                           {"unknownKey", 1},
                                           {"triggeredEvent", platform::PropertyDictionary{{"origin", "vcm"},
                                                                                          {"name", "went_gold"}}}});
    ASSERT_TRUE(given);
    EXPECT_EQ(given->name, "plan");
    EXPECT_EQ(*given->value->stringValue(), "gold");
    EXPECT_FALSE(given->timeToLive);
    ASSERT_TRUE(given->triggeredEvent);
    EXPECT_EQ(given->triggeredEvent->name(), "went_gold");
    EXPECT_EQ(monitor.linesWithCode(25061).size(), 2u);
}

TEST_F(ConnectorTest, QueriedUserPropertiesLeaveOutInternalOnes) {
    APMAnalytics::setUserID(platform::PropertyValue("someone"));
    APMAnalytics::setUserPropertyString(std::optional<std::string>("gold"), "tier");
    dispatcher.drain();
    std::optional<platform::PropertyDictionary> answer;
    connector->getUserPropertiesWithCallback([&](platform::PropertyDictionary properties) { answer = properties; });
    dispatcher.drain();
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->count("tier"));
    EXPECT_FALSE(answer->count("_id"));
}

}  // namespace
}  // namespace analytics_test
