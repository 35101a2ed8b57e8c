// Where links come from besides opened URLs: continued user activities,
// and the deferred deep-link service, whose request path is its own
// whatever path the configured base URL carries.

#include "EngineTestSupport.h"
#include "VadovaUtilities/LoopbackServer.h"

namespace engine_test {
namespace {

TEST(UserActivityLinkTest, OnlyAWebBrowsingActivityWithAPageIsALink) {
    storage_test::MonitorCapture monitor{{"-APMAnalyticsVerboseLoggingEnabled"}};
    const std::string web = platform::kUserActivityTypeBrowsingWeb;
    const struct {
        std::optional<platform::UserActivity> activity;
        std::optional<std::string> link;
        long code;
    } cases[] = {
        {platform::UserActivity{web, "https://example.com/p?utm_source=s", "https://ref.example"},
         "https://example.com/p?utm_source=s", 0},
        {platform::UserActivity{web, "", std::nullopt}, std::nullopt, 23006},
        {platform::UserActivity{web, std::nullopt, std::nullopt}, std::nullopt, 23006},
        {platform::UserActivity{"com.example.editing", "https://example.com/p", std::nullopt}, std::nullopt, 23006},
        {std::nullopt, std::nullopt, 23003},
    };
    for (const auto& c : cases) {
        monitor.clear();
        EXPECT_EQ(APMMeasurement::deepLinkFromUserActivity(c.activity), c.link);
        if (c.code) {
            EXPECT_EQ(monitor.linesWithCode(c.code).size(), 1u) << c.code;
        }
    }
}

class DeferredDeepLinkPath : public EngineFixture {
protected:
    void SetUp() override {
        network = std::make_shared<VULNetwork>();
        endpoints.deepLinkBaseURL = server.url("/base/path/");
        start();
    }
    LoopbackServer server;
};

TEST_F(DeferredDeepLinkPath, OnlyTheServiceHostComesFromTheOptions) {
    engine->scheduler()->scheduleOnWorkerQueue("test", [this] { engine->requestDeferredDeepLink(); });
    ASSERT_TRUE(runUntil([&] { return !server.received().empty() && !engine->isNetworkRequestPending(); }));
    EXPECT_EQ(server.received().front().path, "/adservice/conversion/app/deeplink");
}

}  // namespace
}  // namespace engine_test
