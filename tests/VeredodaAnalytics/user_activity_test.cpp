// Continued user activities and background URL sessions through the public
// interface: a web page becomes a campaign with its referrer; anything else
// reaches no engine; a background session is left to the caller to finish.

#include "AnalyticsTestSupport.h"

namespace analytics_test {
namespace {

class UserActivityTest : public AnalyticsFixture {
protected:
    void SetUp() override { startFacade(); }
};

TEST_F(UserActivityTest, AWebPageActivityIsACampaignOfItsReferrer) {
    const std::string web = platform::kUserActivityTypeBrowsingWeb;
    const struct {
        std::optional<platform::UserActivity> activity;
        std::optional<std::string> origin;  // of the campaign heard, none for none
    } cases[] = {
        {platform::UserActivity{web, "https://example.com/p?utm_source=s", "https://www.vadova.com/"}, "gs"},
        {platform::UserActivity{web, "https://example.com/p?utm_source=s", std::nullopt}, "auto"},
        {platform::UserActivity{"com.example.editing", "https://example.com/p?utm_source=s", std::nullopt},
         std::nullopt},
        {std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        heard.clear();
        RADOdodavazi::handleUserActivity(c.activity);
        dispatcher.drain();
        std::optional<std::string> origin;
        for (const auto& event : heard) {
            if (event.name == "_cmp") origin = event.origin;
        }
        EXPECT_EQ(origin, c.origin) << (c.activity ? c.activity->description() : "none");
    }
}

TEST_F(UserActivityTest, BackgroundSessionEventsAreLeftToTheCaller) {
    int completions = 0;
    RADOdodavazi::handleEventsForBackgroundURLSession("session", [&] { ++completions; });
    EXPECT_EQ(completions, 0);
}

}  // namespace
}  // namespace analytics_test
