// The facade's event road: name checks and their error events, screen
// views, the interceptor, listeners, ad events and ordering across threads.

#include <thread>

#include "AnalyticsTestSupport.h"

namespace analytics_test {
namespace {

class EventRoadTest : public AnalyticsFixture {
protected:
    void SetUp() override { startFacade(); }

    std::vector<HeardEvent> errorEvents() const {
        std::vector<HeardEvent> found;
        for (const auto& event : heard) {
            if (event.name == "_err") found.push_back(event);
        }
        return found;
    }
};

TEST_F(EventRoadTest, RefusedNamesGiveTheirErrorEventAndGoNoFurther) {
    struct Case {
        std::string name;
        std::int64_t code;
    } cases[] = {{"_underscored", 2}, {"vadova_thing", 13}, {"va_x", 13}, {"9starts_with_digit", 2}, {"", 2}};
    for (const auto& c : cases) {
        heard.clear();
        APMAnalytics::logEventWithName(c.name, std::nullopt);
        APMAnalytics::logEventWithName("after", std::nullopt);
        dispatcher.drain();
        ASSERT_EQ(heardNames(), (std::vector<std::string>{"_err", "after"})) << c.name;
        EXPECT_EQ(heard[0].parameters.find("_err")->int64Value(), c.code) << c.name;
        EXPECT_EQ(heard[0].origin, "auto");
    }
}

TEST_F(EventRoadTest, ScreenViewsGoToTheScreenReporterOnly) {
    std::vector<APMObjectParameters> tracked;
    APMAnalyticsEngineBridge::engineSeams().trackScreenWithParameters =
        [&](const APMObjectParameters& parameters, double) { tracked.push_back(parameters); };
    APMAnalytics::logEventWithName("screen_view", APMObjectParameters{{"screen_name", platform::PropertyValue("home")}});
    dispatcher.drain();
    EXPECT_EQ(tracked.size(), 1u);
    EXPECT_TRUE(heard.empty());
}

TEST_F(EventRoadTest, CurrentScreenParametersAreAddedOnlyWhenNoneAreGiven) {
    APMAnalyticsEngineBridge::engineSeams().screenParameters = [] {
        return std::optional<APMObjectParameters>(
            {{"_si", platform::PropertyValue(7)}, {"_sn", platform::PropertyValue("home")}});
    };
    APMAnalytics::logEventWithName("plain", std::nullopt);
    APMAnalytics::logInternalEventWithOrigin("auto", "_own", APMObjectParameters{{"_sc", platform::PropertyValue("Own")}});
    dispatcher.drain();
    ASSERT_EQ(heard.size(), 2u);
    const APMValue* screen = heard[0].parameters.find("_sn");
    ASSERT_TRUE(screen) << APMObjectDescription(heard[0].parameters);
    EXPECT_EQ(*screen->stringValue(), "home");
    EXPECT_FALSE(heard[1].parameters.contains("_sn"));
}

TEST_F(EventRoadTest, TheInterceptorTakesPublicEventsOnly) {
    std::vector<std::string> intercepted;
    APMAnalytics::setLogEventInterceptor(
        [&](const std::string&, const std::string& name, const APMObjectParameters&, double) {
            intercepted.push_back(name);
        });
    APMAnalytics::logEventWithName("public_one", std::nullopt);
    APMAnalytics::logInternalEventWithOrigin("auto", "_internal", std::nullopt);
    APMAnalytics::logEventWithOrigin("app", true, "flagged", std::nullopt, APMAnalytics::now(), false, true);
    dispatcher.drain();
    EXPECT_EQ(intercepted, std::vector<std::string>{"public_one"});
    EXPECT_EQ(heardNames(), (std::vector<std::string>{"_internal", "flagged"}));
}

TEST_F(EventRoadTest, WithCollectionOffListenersHearNothing) {
    APMAnalytics::setAnalyticsEnabled(false);
    APMAnalytics::logEventWithName("unheard", std::nullopt);
    dispatcher.drain();
    EXPECT_TRUE(heard.empty());
}

TEST_F(EventRoadTest, ListenersThatThrowOrLeaveWhileCalledDoNotStopTheOthers) {
    std::optional<APMLogEventListenerToken> leaving;
    int leaverCalls = 0;
    leaving = APMAnalytics::addLogEventListener([&](const APMEvent&) {
        ++leaverCalls;
        APMAnalytics::removeLogEventListener(leaving);
        throw std::runtime_error("listener failure");
    });
    std::vector<std::string> last;
    (void)APMAnalytics::addLogEventListener([&](const APMEvent& event) { last.push_back(event.name()); });
    APMAnalytics::logEventWithName("one", std::nullopt);
    dispatcher.drain();
    APMAnalytics::logEventWithName("two", std::nullopt);
    dispatcher.drain();
    EXPECT_EQ(leaverCalls, 1);
    EXPECT_EQ(last, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(heardNames(), (std::vector<std::string>{"one", "two"}));
}

// Events are handed to the serial queue only while a listener is held, yet
// one whose addition or removal is still queued sees the same events as if
// every event were handed on.
TEST_F(EventRoadTest, ListenersHearWhatWasHandedOnWhileTheirAdditionWasQueuedAndNothingAfterTheirRemoval) {
    APMAnalytics::resetForTesting({&dispatcher, &center, suite, nullptr, nullptr});
    APMAnalytics::unsuspendOperationQueue();
    std::vector<std::string> names;
    auto handOn = [](const std::string& name) {
        APMAnalytics::notifyEventListeners(*APMEvent::initWithOrigin("app", true, name, APMAnalytics::now(), 0, {}));
    };
    handOn("before");
    const auto token = APMAnalytics::addLogEventListener([&](const APMEvent& event) { names.push_back(event.name()); });
    handOn("with_the_addition_queued");
    dispatcher.drain();
    APMAnalytics::removeLogEventListener(token);
    handOn("with_the_removal_queued");
    dispatcher.drain();
    handOn("after");
    dispatcher.drain();
    EXPECT_EQ(names, std::vector<std::string>{"with_the_addition_queued"});
}

TEST_F(EventRoadTest, RemovalMessages) {
    APMAnalytics::resetForTesting({&dispatcher, &center, suite, nullptr, nullptr});
    APMAnalytics::removeLogEventListener(std::nullopt);
    APMAnalytics::removeLogEventListener(7);
    dispatcher.drain();
    EXPECT_EQ(monitor.linesWithCode(25013).size(), 1u);
    APMAnalytics::unsuspendOperationQueue();
    dispatcher.drain();
    EXPECT_EQ(monitor.linesWithCode(25014).size(), 1u);
    (void)APMAnalytics::addLogEventListener([](const APMEvent&) {});
    APMAnalytics::removeLogEventListener(12345);
    EXPECT_FALSE(APMAnalytics::addLogEventListener(nullptr));
    dispatcher.drain();
    EXPECT_EQ(monitor.linesWithCode(25015).size(), 1u);
    EXPECT_EQ(monitor.linesWithCode(25012).size(), 1u);
}

TEST_F(EventRoadTest, AdEventIdsBecomeIntegersAndSaturate) {
    struct Case {
        std::string text;
        std::optional<std::int64_t> integer;
    } cases[] = {{"12345", 12345},
                 {"12.5", 12},
                 {"99999999999999999999999", std::numeric_limits<std::int64_t>::max()},
                 {"-99999999999999999999999", std::numeric_limits<std::int64_t>::min()},
                 {"12a", std::nullopt}};
    APMAnalyticsEngineBridge::engineSeams() = {};
    std::vector<APMParameters> given;
    for (const auto& c : cases) {
        APMAnalytics::sharedInstance()->logInternalEvent(
            "am", "_ad", APMObjectParameters{{"_aeid", platform::PropertyValue(c.text)}});
    }
    // "am" events do not reach listeners: read what the engine stored.
    dispatcher.drain();
    auto rows = engine->database()->allRawEvents();
    ASSERT_TRUE(rows.value);
    ASSERT_EQ(rows.value->size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        APMError error;
        auto data = APMRawEventData::fromRecord((*rows.value)[i], &error);
        ASSERT_TRUE(data);
        const APMValue* id = data->rawEvent.parameters().find("_aeid");
        ASSERT_TRUE(id);
        if (cases[i].integer) {
            EXPECT_EQ(id->int64Value(), *cases[i].integer) << cases[i].text;
        } else {
            EXPECT_TRUE(id->isString()) << cases[i].text;
        }
    }
    EXPECT_EQ(monitor.linesWithCode(25024).size(), 1u);
}

// The facade's queues on real threads; the engine stays on the test's dispatcher.
class RealQueuesTest : public AnalyticsFixture {
protected:
    RealQueuesTest() {
        APMAnalytics::resetForTesting({real.get(), &center, suite, nullptr, nullptr});
        (void)APMAnalytics::addLogEventListener([this](const APMEvent& event) {
            std::lock_guard lock(mutex);
            names.push_back(event.name());
        });
    }
    ~RealQueuesTest() override { APMAnalytics::resetForTesting({&dispatcher, &center, suite, nullptr, nullptr}); }

    // Waits until everything queued so far has run on the serial queue.
    void flush() {
        auto done = real->makeSemaphore(0);
        APMAnalytics::queueOperationWithBlock([done] { done->signal(); });
        ASSERT_TRUE(done->wait(10));
    }

    std::unique_ptr<platform::RealDispatcher> real = platform::makeRealDispatcher();
    std::mutex mutex;
    std::vector<std::string> names;
};

TEST_F(RealQueuesTest, EventsFromTwoThreadsKeepEachThreadsOrder) {
    auto logMany = [](const std::string& prefix) {
        for (int i = 0; i < 50; ++i) APMAnalytics::logEventWithName(prefix + std::to_string(i), std::nullopt);
    };
    std::thread a(logMany, "a");
    std::thread b(logMany, "b");
    APMAnalytics::startWithAppID(engine_test::kAppID, "fa", {});
    a.join();
    b.join();
    flush();
    dispatcher.drain();
    flush();
    std::lock_guard lock(mutex);
    ASSERT_EQ(names.size(), 100u);
    int nextA = 0, nextB = 0;
    for (const auto& name : names) {
        int& next = name[0] == 'a' ? nextA : nextB;
        EXPECT_EQ(name.substr(1), std::to_string(next++));
    }
}

}  // namespace
}  // namespace analytics_test
