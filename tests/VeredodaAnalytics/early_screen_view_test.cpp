// A screen reported before launching has finished is not lost: the
// screen-view reporter is made by its first use.

#include "AnalyticsTestSupport.h"
#include "measurement/engine/APMScreenViewReporter.h"

namespace analytics_test {
namespace {

class EarlyScreenViewTest : public AnalyticsFixture {};

TEST_F(EarlyScreenViewTest, AScreenBeforeLaunchingIsTrackedAndCarried) {
    ASSERT_FALSE(APMScreenViewReporter::sharedInstance());
    APMAnalytics::logEventWithName("screen_view", APMObjectParameters{{"screen_name", platform::PropertyValue("home")},
                                                                      {"screen_class", platform::PropertyValue("Home")}});
    startFacade();
    APMAnalytics::logEventWithName("after", std::nullopt);
    dispatcher.drain();
    std::optional<std::string> viewed;
    std::optional<std::string> carried;
    for (const auto& event : heard) {
        const APMValue* name = event.parameters.find("_sn");
        if (!name || !name->stringValue()) continue;
        if (event.name == "_vs") viewed = *name->stringValue();
        if (event.name == "after") carried = *name->stringValue();
    }
    EXPECT_EQ(viewed, "home");
    EXPECT_EQ(carried, "home");
}

}  // namespace
}  // namespace analytics_test
