// What the system tells the application reaching its delegate through the
// process's proxy: interceptors first once the proxy is installed, the
// delegate alone before, and the system's completion handler called once,
// when a receiver finishes the session, never by the proxy itself.

#include "platform/desktop/Application.h"

#include <gtest/gtest.h>

#include "platform/core/ApplicationDelegateProxy.h"
#include "platform/drawing/WindowServer.h"

namespace platform {
namespace {

// Records each callback under its name; answers `handles`; keeps each
// background session's completion in `finishers`.
struct Receiver : ApplicationDelegate {
    Receiver(std::string name, std::vector<std::string>& heard, std::vector<std::function<void()>>& finishers,
             bool handles)
        : name(std::move(name)), heard(heard), finishers(finishers), handles(handles) {}
    void applicationDidFinishLaunching(Application&) override {}
    bool applicationShouldTerminateAfterLastWindowClosed(Application&) override { return false; }
    bool applicationOpenURL(const std::string& url) override {
        heard.push_back(name + " " + url);
        return handles;
    }
    bool applicationContinueUserActivity(const UserActivity& activity) override {
        heard.push_back(name + " " + activity.description());
        return handles;
    }
    void applicationHandleEventsForBackgroundURLSession(const std::string& identifier,
                                                        const std::function<void()>& completionHandler) override {
        heard.push_back(name + " " + identifier);
        finishers.push_back(completionHandler);
    }
    std::string name;
    std::vector<std::string>& heard;
    std::vector<std::function<void()>>& finishers;
    bool handles;
};

class ApplicationDelegateProxyTest : public ::testing::Test {
protected:
    ApplicationDelegateProxyTest() {
        ApplicationDelegateProxy::resetSharedForTesting();
        application.setDelegate(std::make_shared<Receiver>("delegate", heard, finishers, false));
    }
    ~ApplicationDelegateProxyTest() override { ApplicationDelegateProxy::resetSharedForTesting(); }

    // Delivers one callback of each kind; the answers of the two that have one.
    std::pair<bool, bool> deliverAll() {
        const bool opened = application.openURL("app://x");
        const bool continued = application.continueUserActivity({"editing", std::nullopt, std::nullopt});
        application.handleEventsForBackgroundURLSession("session", [this] { ++completions; });
        return {opened, continued};
    }

    WindowServer server{{Screen{{0, 0, 800, 600}, {0, 0, 800, 575}, 1}}};
    MenuBar menuBar{server};
    Application application{menuBar, nullptr};
    std::vector<std::string> heard;
    std::vector<std::function<void()>> finishers;
    int completions = 0;
};

TEST_F(ApplicationDelegateProxyTest, InterceptorsSeeEachCallbackBeforeTheDelegateOnceInstalled) {
    auto& proxy = ApplicationDelegateProxy::shared();
    proxy.registerInterceptor(std::make_shared<Receiver>("first", heard, finishers, false));
    proxy.registerInterceptor(std::make_shared<Receiver>("second", heard, finishers, true));
    proxy.registerInterceptor(nullptr);
    EXPECT_EQ(proxy.interceptorCount(), 2u);

    EXPECT_EQ(deliverAll(), std::make_pair(false, false));
    EXPECT_EQ(heard, (std::vector<std::string>{"delegate app://x", "delegate editing (null)", "delegate session"}));

    heard.clear();
    proxy.install();
    EXPECT_EQ(deliverAll(), std::make_pair(true, true));  // the second interceptor handles them
    EXPECT_EQ(heard, (std::vector<std::string>{"first app://x", "second app://x", "delegate app://x",
                                               "first editing (null)", "second editing (null)",
                                               "delegate editing (null)", "first session", "second session",
                                               "delegate session"}));
    EXPECT_EQ(completions, 0);
    for (const auto& finish : finishers) finish();
    EXPECT_EQ(completions, 2);  // once per delivery, though three receivers finished each
}

}  // namespace
}  // namespace platform
