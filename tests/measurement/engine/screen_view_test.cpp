// Screen views of a started engine: the "_vs" event and its parameters,
// refused screens, the screen parameters other events carry, the session
// start's screen, and instance numbers taken from two threads.

#include <algorithm>
#include <set>
#include <thread>

#include "EngineTestSupport.h"
#include "measurement/engine/APMScreenViewReporter.h"
#include "measurement/engine/APMSessionReporter.h"
#include "measurement/engine/APMSessionStartEvent.h"

namespace engine_test {
namespace {

struct Logged {
    std::string origin;
    std::string name;
    std::optional<double> timestamp;
    APMParameters parameters;
};

class ScreenViewTest : public EngineFixture {
protected:
    ScreenViewTest() {
        APMReporterFacade facade;
        facade.logInternalEvent = [this](const std::string& origin, const std::string& name,
                                         const APMParameters& parameters) {
            events.push_back({origin, name, std::nullopt, parameters});
        };
        facade.logInternalEventWithTimestamp = [this](const std::string& origin, const std::string& name,
                                                      double timestamp, const APMParameters& parameters) {
            events.push_back({origin, name, timestamp, parameters});
        };
        previousFacade = APMSetReporterFacade(std::move(facade));
    }
    ~ScreenViewTest() override {
        APMSetReporterFacade(previousFacade);
        APMScreenViewReporter::resetSharedInstanceForTesting();
        APMSetAppActive(false);
    }
    void SetUp() override {
        start();
        screens = APMScreenViewReporter::create(dispatcher, center, [this] { return engine->sessionReporter(); });
    }

    void becomeActive() {
        APMSetAppActive(true);
        center.post(kAPMApplicationDidBecomeActiveNotification);
        dispatcher.drain();
    }
    void track(APMObjectParameters parameters) {
        screens->trackScreenWithParameters(parameters, now());
        dispatcher.drain();
    }
    std::vector<Logged> named(const std::string& name) const {
        std::vector<Logged> found;
        std::copy_if(events.begin(), events.end(), std::back_inserter(found),
                     [&](const Logged& event) { return event.name == name; });
        return found;
    }
    static std::string text(const APMParameters& parameters, const std::string& name) {
        const APMValue* value = parameters.find(name);
        return value && value->stringValue() ? *value->stringValue() : "(none)";
    }

    std::vector<Logged> events;
    APMReporterFacade previousFacade;
    std::shared_ptr<APMScreenViewReporter> screens;
};

APMObjectParameters screen(const std::string& name, const std::string& screenClass) {
    return {{"screen_name", platform::PropertyValue(name)}, {"screen_class", platform::PropertyValue(screenClass)}};
}

TEST_F(ScreenViewTest, AScreenWithoutNameOrClassIsStillViewed) {
    becomeActive();
    screens->trackScreenWithParameters({}, now());
    // The new screen is current before the view is logged.
    const APMParameters current = screens->screenParameters();
    ASSERT_EQ(current.size(), 1u);
    dispatcher.drain();
    const auto views = named("_vs");
    ASSERT_EQ(views.size(), 1u);
    EXPECT_EQ(views[0].origin, "app");
    EXPECT_EQ(views[0].timestamp, now());
    EXPECT_EQ(views[0].parameters, (APMParameters{{"_si", *current.find("_si")}, {"_mst", APMValue(1)}}));
    EXPECT_EQ(monitor.linesWithCode(31014).size(), 1u);
}

TEST_F(ScreenViewTest, AnInvalidNameOrClassChangesNothing) {
    const struct {
        APMObjectParameters parameters;
        long code;
        std::size_t linesSoFar;
    } cases[] = {
        {{{"screen_name", platform::PropertyValue("ok")}, {"screen_class", platform::PropertyValue("")}}, 31028, 1},
        {{{"screen_name", platform::PropertyValue(7LL)}}, 31027, 1},
        {{{"screen_name", platform::PropertyValue(std::string(501, 'n'))}}, 31027, 2},
    };
    becomeActive();
    track(screen("home", "HomeView"));
    for (const auto& c : cases) {
        track(c.parameters);
        EXPECT_EQ(monitor.linesWithCode(c.code).size(), c.linesSoFar) << c.code;
        EXPECT_EQ(screens->currentScreen()->name, "home");
    }
    EXPECT_EQ(named("_vs").size(), 1u);
}

TEST_F(ScreenViewTest, TheNextViewCarriesThePreviousScreenAndTheCutEngagement) {
    applySettings({{"measurement.collection.efficient_engagement_reporting_enabled", "1"}});
    becomeActive();
    APMObjectParameters first = screen("home", "HomeView");
    first.emplace_back("level", platform::PropertyValue(3LL));
    track(first);
    const std::int64_t firstID = screens->currentScreen()->instanceID;
    dispatcher.virtualClock().advance(2);
    track(screen("cart", "CartView"));
    const auto views = named("_vs");
    ASSERT_EQ(views.size(), 2u);
    EXPECT_EQ(views[0].parameters.find("level")->int64Value(), 3);
    EXPECT_FALSE(views[0].parameters.contains("screen_name"));
    EXPECT_FALSE(views[0].parameters.contains("_pi"));
    EXPECT_EQ(views[1].parameters.find("_si")->int64Value(), firstID + 1);
    EXPECT_EQ(views[1].parameters.find("_pi")->int64Value(), firstID);
    EXPECT_EQ(text(views[1].parameters, "_pn") + text(views[1].parameters, "_pc"), "homeHomeView");
    EXPECT_EQ(views[1].parameters.find("_et")->int64Value(), 2000);
    // The session reporter charged the two seconds to the screen left.
    const auto engagements = named("_e");
    ASSERT_EQ(engagements.size(), 1u);
    EXPECT_EQ(engagements[0].parameters.find("_si")->int64Value(), firstID);
    EXPECT_EQ(engagements[0].parameters.find("_fr")->int64Value(), 1);
    EXPECT_EQ(screens->previousScreen()->name, "cart");
}

TEST_F(ScreenViewTest, ScreensAreAcceptedBeforeActivityAndRefusedInTheBackground) {
    EXPECT_TRUE(screens->screenParameters().empty());
    track(screen("splash", "SplashView"));
    EXPECT_EQ(text(screens->screenParameters(), "_sn"), "splash");
    EXPECT_EQ(named("_vs").size(), 1u);
    becomeActive();
    screens->handleApplicationDidEnterBackground();
    track(screen("home", "HomeView"));
    EXPECT_EQ(monitor.linesWithCode(31026).size(), 1u);
    EXPECT_TRUE(screens->screenParameters().empty());
    EXPECT_EQ(screens->currentScreen()->name, "splash");
    screens->setScreenName("home", "HomeView");
    EXPECT_EQ(monitor.linesWithCode(31000).size(), 1u);
    EXPECT_EQ(named("_vs").size(), 1u);
}

TEST_F(ScreenViewTest, TheSessionStartCarriesTheScreenOnlyInTheForeground) {
    const auto shared = APMScreenViewReporter::createSharedInstance(dispatcher, center);
    shared->trackScreenWithParameters(screen("home", "HomeView"), now());
    const auto foreground = APMSessionStartEvent(3, false, 1.7e9 + 0.9);
    const auto background = APMSessionStartEvent(3, true, 1.7e9 + 0.9);
    ASSERT_TRUE(foreground && background);
    EXPECT_EQ(foreground->parameters().find("_sid")->int64Value(), 1700000000);
    EXPECT_EQ(foreground->parameters().find("_sno")->int64Value(), 3);
    EXPECT_EQ(text(foreground->parameters(), "_sn"), "home");
    EXPECT_FALSE(foreground->parameters().contains("_aib"));
    EXPECT_EQ(background->parameters().find("_aib")->int64Value(), 1);
    EXPECT_FALSE(background->parameters().contains("_si"));
    EXPECT_EQ(background->origin() + background->name(), "auto_s");
}

TEST_F(ScreenViewTest, InstanceIDsStayDistinctAcrossThreads) {
    constexpr int kPerThread = 1000;
    std::vector<std::int64_t> first(kPerThread);
    std::vector<std::int64_t> second(kPerThread);
    std::thread a([&] { for (auto& id : first) id = screens->incrementScreenInstanceID(); });
    std::thread b([&] { for (auto& id : second) id = screens->incrementScreenInstanceID(); });
    a.join();
    b.join();
    std::set<std::int64_t> all(first.begin(), first.end());
    all.insert(second.begin(), second.end());
    EXPECT_EQ(all.size(), 2u * kPerThread);
}

}  // namespace
}  // namespace engine_test
