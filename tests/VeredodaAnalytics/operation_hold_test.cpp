// The 0.5 s hold after a waiting operation: one at a time, however many
// waiting operations come in a burst.

#include "AnalyticsTestSupport.h"

namespace analytics_test {
namespace {

using OperationHoldTest = AnalyticsFixture;

TEST_F(OperationHoldTest, ABurstOfWaitingOperationsHoldsTheQueueOnce) {
    startFacade();
    for (int i = 0; i < 10; ++i) APMAnalytics::queueOperationWithBlockThenWait([] {});
    APMAnalytics::logEventWithName("after_burst", std::nullopt);
    dispatcher.drain();
    EXPECT_TRUE(heard.empty());
    dispatcher.advance(0.5);
    EXPECT_EQ(heardNames(), std::vector<std::string>{"after_burst"});

    // Once that hold has ended, the next waiting operation holds again.
    APMAnalytics::queueOperationWithBlockThenWait([] {});
    APMAnalytics::logEventWithName("after_second_hold", std::nullopt);
    dispatcher.drain();
    EXPECT_EQ(heard.size(), 1u);
    dispatcher.advance(0.5);
    EXPECT_EQ(heardNames(), (std::vector<std::string>{"after_burst", "after_second_hold"}));
}

}  // namespace
}  // namespace analytics_test
