// The application-delegate proxy the start creates: the analytics'
// interceptor registered once, only when the proxy is enabled and collection
// is not deactivated, and what the application is told passing through it to
// the facade before the delegate hears it.

#include <gmock/gmock.h>

#include "AnalyticsTestSupport.h"
#include "VadovaUtilities/VULAppDelegateSwizzler.h"

namespace analytics_test {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;

struct Delegate final : platform::ApplicationDelegateCallbacks {
    bool applicationOpenURL(const std::string& url) override {
        opened.push_back(url);
        return true;
    }
    std::vector<std::string> opened;
};

class AppDelegateProxyTest : public AnalyticsFixture {
protected:
    platform::ApplicationDelegateProxy& proxy() { return platform::ApplicationDelegateProxy::shared(); }
    // The "campaign" of the last campaign event stored; empty for none.
    std::string lastCampaign() {
        const auto event = lastStored("_cmp");
        const APMValue* campaign = engine_test::param(event, "campaign");
        return campaign && campaign->stringValue() ? *campaign->stringValue() : "";
    }
};

TEST_F(AppDelegateProxyTest, TheStartRegistersTheInterceptorOnlyWhenEnabledAndCollecting) {
    const struct {
        const char* what;
        std::optional<bool> enabledInInfoPlist;  // none: no key, enabled
        bool deactivated;
        std::size_t registrations;
        std::vector<std::string> disabledLines;
    } cases[] = {
        {"enabled", std::nullopt, false, 1, {}},
        {"disabled", false, false, 0, {"NOTICE I-ACS025036 App Delegate Proxy is disabled"}},
        {"collection deactivated", true, true, 0, {}},
    };
    for (const auto& c : cases) {
        restart();
        platform::ApplicationDelegateProxy::resetSharedForTesting();
        monitor.clear();
        platform::PropertyDictionary info;
        if (c.enabledInInfoPlist) {
            info[kVULAppDelegateProxyEnabledPlistKey] = platform::PropertyValue(*c.enabledInInfoPlist);
        }
        writeInfoPlist(info);
        APMAnalyticsStartOptions options;
        options.values[kAPMStartOptionCollectionDeactivated] = platform::PropertyValue(c.deactivated);
        startFacade(options);
        startFacade(options);
        EXPECT_EQ(proxy().interceptorCount(), c.registrations) << c.what;
        EXPECT_EQ(proxy().isInstalled(), c.registrations > 0) << c.what;
        const auto lines = monitor.linesWithCode(25036);
        ASSERT_EQ(lines.size(), c.disabledLines.size()) << c.what;
        for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_THAT(lines[i], HasSubstr(c.disabledLines[i])) << c.what;
    }
}

TEST_F(AppDelegateProxyTest, AnOpenedURLReachesTheAnalyticsAndTheDelegate) {
    startFacade();
    Delegate delegate;
    const std::string url = "mossbridge://open?utm_source=news&utm_medium=email&utm_campaign=spring";
    EXPECT_TRUE(proxy().deliverOpenURL(&delegate, url));
    dispatcher.drain();

    EXPECT_THAT(delegate.opened, ElementsAre(url));
    EXPECT_EQ(signalCount("handle_open_url", ""), 1);
    EXPECT_EQ(lastCampaign(), "spring");
}

TEST_F(AppDelegateProxyTest, TheInterceptorPassesOnActivitiesAndBackgroundSessionEvents) {
    startFacade();
    Delegate delegate;
    EXPECT_FALSE(proxy().deliverContinueUserActivity(
        &delegate, {platform::kUserActivityTypeBrowsingWeb, "https://example.com/p?utm_campaign=fall", std::nullopt}));
    dispatcher.drain();
    EXPECT_EQ(signalCount("handle_user_activity", ""), 1);
    EXPECT_EQ(lastCampaign(), "fall");

    int completions = 0;
    proxy().deliverHandleEventsForBackgroundURLSession(&delegate, "session", [&] { ++completions; });
    EXPECT_EQ(completions, 1);
}

}  // namespace
}  // namespace analytics_test
