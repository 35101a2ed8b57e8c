// The connector's conditional properties reach the engine's controller
// through the bridge: set, list and clear, and a dictionary without its
// time-outs is refused.

#include "AnalyticsTestSupport.h"
#include "VeredodaAnalytics/RADOdodavaziConnector.h"

namespace analytics_test {
namespace {

class ConditionalPropertiesThroughConnector : public AnalyticsFixture {
protected:
    void SetUp() override { startFacade(); }
    RADOdodavaziConnector connector;
};

TEST_F(ConditionalPropertiesThroughConnector, SetListAndClearReachTheEngine) {
    connector.setConditionalUserProperty({{"name", "plan"},
                                          {"origin", "vcm"},
                                          {"value", "gold"},
                                          {"triggerEventName", "level_up"},
                                          {"triggerTimeout", 60},
                                          {"timeToLive", 600.5}});
    connector.setConditionalUserProperty({{"name", "tier"}, {"origin", "vcm"}, {"value", "silver"}});
    dispatcher.drain();
    EXPECT_EQ(monitor.linesWithCode(11000).size(), 1u);
    const auto listed = connector.conditionalUserProperties("vcm", "");
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(*listed[0].at("name").asString(), "plan");
    EXPECT_EQ(*listed[0].at("value").asString(), "gold");

    connector.clearConditionalUserProperty("plan", "vcm", "plan_cleared", {{"reason", "test"}});
    dispatcher.drain();
    EXPECT_TRUE(connector.conditionalUserProperties("vcm", "pl").empty());
}

}  // namespace
}  // namespace analytics_test
