// The application-delegate proxy the start creates: the analytics'
// interceptor registered once, only when the proxy is enabled and collection
// is not deactivated, and what the application is told passing through it to
// the facade before the delegate hears it. A background session's events go
// on to the networking layer, and only the delegate finishes the session.

#include <gmock/gmock.h>

#include "AnalyticsTestSupport.h"
#include "VadovaUtilities/VULAppDelegateSwizzler.h"
#include "VadovaUtilities/VULNetwork.h"

namespace analytics_test {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;

// Keeps each background session's completion, to finish it later.
struct Delegate final : platform::ApplicationDelegateCallbacks {
    bool applicationOpenURL(const std::string& url) override {
        opened.push_back(url);
        return true;
    }
    void applicationHandleEventsForBackgroundURLSession(const std::string& identifier,
                                                        const std::function<void()>& completionHandler) override {
        sessions.push_back(identifier);
        finishSession = completionHandler;
    }
    std::vector<std::string> opened;
    std::vector<std::string> sessions;
    std::function<void()> finishSession;
};

class AppDelegateProxyTest : public AnalyticsFixture {
protected:
    ~AppDelegateProxyTest() override { VULNetwork::setBackgroundSessionObserverForTesting({}); }
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

TEST_F(AppDelegateProxyTest, TheInterceptorPassesOnActivities) {
    startFacade();
    Delegate delegate;
    EXPECT_FALSE(proxy().deliverContinueUserActivity(
        &delegate, {platform::kUserActivityTypeBrowsingWeb, "https://example.com/p?utm_campaign=fall", std::nullopt}));
    dispatcher.drain();
    EXPECT_EQ(signalCount("handle_user_activity", ""), 1);
    EXPECT_EQ(lastCampaign(), "fall");
}

TEST_F(AppDelegateProxyTest, TheInterceptorPassesBackgroundSessionEventsToTheNetworkingLayer) {
    startFacade();
    std::vector<std::string> reachedNetwork;
    VULNetwork::setBackgroundSessionObserverForTesting(
        [&](const std::string& identifier) { reachedNetwork.push_back(identifier); });
    Delegate delegate;
    proxy().deliverHandleEventsForBackgroundURLSession(&delegate, "session", [] {});
    EXPECT_THAT(reachedNetwork, ElementsAre("session"));
}

TEST_F(AppDelegateProxyTest, OnlyTheDelegateFinishesABackgroundSession) {
    startFacade();
    Delegate delegate;
    int completions = 0;
    proxy().deliverHandleEventsForBackgroundURLSession(&delegate, "session", [&] { ++completions; });
    EXPECT_THAT(delegate.sessions, ElementsAre("session"));
    EXPECT_EQ(completions, 0);

    delegate.finishSession();
    EXPECT_EQ(completions, 1);
}

}  // namespace
}  // namespace analytics_test
