// The session reporter of a started engine on virtual time: the session
// time-out, session starts, engagement events from the timer, resignation
// and screen changes, and engagement measured while two threads report.

#include <mutex>
#include <thread>

#include "EngineTestSupport.h"
#include "measurement/engine/APMScreenViewReporter.h"
#include "measurement/engine/APMSessionReporter.h"
#include "measurement/interface/APMAdExposureReporter.h"

namespace engine_test {
namespace {

constexpr const char* kEfficient = "measurement.collection.efficient_engagement_reporting_enabled";
constexpr const char* kRedundant = "measurement.collection.redundant_engagement_removal_enabled";

struct Logged {
    std::string name;
    APMParameters parameters;
};

class SessionReporterTest : public EngineFixture {
protected:
    void SetUp() override { start(); }
    SessionReporterTest() {
        APMReporterFacade facade;
        facade.logInternalEvent = [this](const std::string&, const std::string& name, const APMParameters& parameters) {
            std::lock_guard lock(mutex);
            events.push_back({name, parameters});
        };
        facade.setInternalUserProperty = [this](const std::optional<APMValue>& value, const std::string& name,
                                                const std::string&) {
            std::lock_guard lock(mutex);
            properties.emplace_back(name, value);
        };
        previousFacade = APMSetReporterFacade(std::move(facade));
    }
    ~SessionReporterTest() override {
        APMSetReporterFacade(previousFacade);
        APMSetAppActive(false);
    }

    APMSessionReporter& reporter() { return *engine->sessionReporter(); }
    std::vector<Logged> named(const std::string& name) {
        std::lock_guard lock(mutex);
        std::vector<Logged> found;
        for (const auto& event : events) {
            if (event.name == name) found.push_back(event);
        }
        return found;
    }
    static std::int64_t value(const Logged& event, const std::string& name) {
        const APMValue* found = event.parameters.find(name);
        return found ? found->int64Value() : -1;
    }

    std::mutex mutex;
    std::vector<Logged> events;
    std::vector<std::pair<std::string, std::optional<APMValue>>> properties;
    APMReporterFacade previousFacade;
};

TEST_F(SessionReporterTest, ASessionTimesOutStrictlyAfterItsTimeOut) {
    const struct {
        double lastActivityAgo;  // negative: no activity recorded
        bool newSession;
    } cases[] = {{-1, true}, {1800, false}, {1801, true}};
    for (const auto& c : cases) {
        persisted->setLastSessionActivityClockTime(c.lastActivityAgo < 0 ? 0 : now() - c.lastActivityAgo);
        EXPECT_EQ(reporter().shouldStartNewSession(), c.newSession) << c.lastActivityAgo;
    }
}

TEST_F(SessionReporterTest, ANegativeTimeOutBecomesZeroAfterExpiringUnderTheOldOne) {
    persisted->setLastSessionActivityClockTime(now() - 1801);
    reporter().setTimeoutSessionInterval(-5);
    EXPECT_EQ(monitor.linesWithCode(33001).size(), 1u);
    EXPECT_EQ(reporter().timeoutSessionInterval(), 0);
    EXPECT_EQ(persisted->lastSessionActivityClockTime(), 0);
    persisted->setLastSessionActivityClockTime(now());
    dispatcher.advance(0.5);
    EXPECT_TRUE(reporter().shouldStartNewSession());
}

TEST_F(SessionReporterTest, AStoredOneTimeTimeOutIsUsedOnceAndRemoved) {
    persisted->setSessionTimeoutValue(60);
    engine->resetSessionReporterOnWorkerQueue();
    EXPECT_EQ(reporter().timeoutSessionInterval(), 60);
    EXPECT_FALSE(persisted->sessionTimeoutValue());
    engine->resetSessionReporterOnWorkerQueue();
    EXPECT_EQ(reporter().timeoutSessionInterval(), 1800);
    engine->setSessionTimeoutInterval(600);  // from any thread, applied on the worker queue
    dispatcher.drain();
    EXPECT_EQ(reporter().timeoutSessionInterval(), 600);
}

TEST_F(SessionReporterTest, OnlyAnInactiveSessionExpiresAndThenCannotBeExtended) {
    persisted->setLastSessionActivityClockTime(now() - 2000);
    APMSetAppActive(true);
    EXPECT_FALSE(engine->isSessionExpired());
    EXPECT_TRUE(engine->extendSession());
    EXPECT_EQ(persisted->lastSessionActivityClockTime(), now());
    APMSetAppActive(false);
    dispatcher.advance(1000);
    EXPECT_TRUE(engine->extendSession());
    dispatcher.advance(1801);
    EXPECT_FALSE(engine->extendSession());
    EXPECT_EQ(persisted->lastSessionActivityClockTime(), 0);
}

TEST_F(SessionReporterTest, ASessionStartSetsItsPropertiesThenLogsTheEvent) {
    persisted->setSessionNumber(4);
    reporter().logSessionStartEvent();  // inactive: nothing
    APMSetAppActive(true);
    dispatcher.virtualClock().advance(0.75);
    const auto sessionID = static_cast<std::int64_t>(now());
    reporter().logSessionStartEvent();
    const auto starts = named("_s");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(value(starts[0], "_sid"), sessionID);
    EXPECT_EQ(value(starts[0], "_sno"), 5);
    ASSERT_EQ(properties.size(), 2u);
    EXPECT_EQ(properties[0], std::make_pair(std::string("_sid"), std::optional(APMValue(sessionID))));
    EXPECT_EQ(properties[1], std::make_pair(std::string("_sno"), std::optional(APMValue(5))));
    EXPECT_EQ(persisted->lastSessionActivityClockTime(), now());
    reporter().setReportingEnabled(false);
    reporter().logSessionStartEvent();
    EXPECT_EQ(named("_s").size(), 1u);
}

TEST_F(SessionReporterTest, OneEngagementEventReportsAtMostAnHour) {
    APMSetAppActive(true);
    dispatcher.virtualClock().advance(5400);
    EXPECT_EQ(reporter().logEngagementEventAndReturnTimeWithScreen(nullptr, false), 3600000);
    ASSERT_EQ(named("_e").size(), 1u);
    EXPECT_EQ(value(named("_e")[0], "_et"), 3600000);
}

TEST_F(SessionReporterTest, TheTimerReportsEngagementEveryIntervalWhileActive) {
    int fired = 0;
    (void)center.addObserver(kAPMSessionReporterEngagementTimerDidFire, nullptr, nullptr,
                             [&](const platform::Notification&) { ++fired; });
    APMSetAppActive(true);
    persisted->setLastSessionActivityClockTime(now());
    reporter().handleAppDidBecomeActive();
    dispatcher.advance(7200);
    EXPECT_EQ(fired, 2);
    ASSERT_EQ(named("_e").size(), 2u);
    EXPECT_EQ(value(named("_e")[1], "_et"), 3600000);
    reporter().handleAppWillResignActiveWithScreen(nullptr);
    dispatcher.advance(7200);
    EXPECT_EQ(named("_e").size(), 3u);
    EXPECT_FALSE(reporter().userEngagementTimer()->scheduledTimestamp());
}

TEST_F(SessionReporterTest, ActivationStartsADueSessionOnlyWhileReporting) {
    APMSetAppActive(true);
    reporter().setReportingEnabled(false);
    reporter().handleAppDidBecomeActive();
    EXPECT_TRUE(named("_s").empty());
    EXPECT_TRUE(reporter().userEngagementTimer()->scheduledTimestamp());
    reporter().setReportingEnabled(true);  // a session is due: it starts at once
    ASSERT_EQ(named("_s").size(), 1u);
    properties.clear();
    dispatcher.advance(7200);
    reporter().handleAppDidBecomeActive();
    EXPECT_EQ(named("_s").size(), 1u);  // the engagement ticks kept the session alive
    persisted->setLastSessionActivityClockTime(now() - 1801);
    reporter().handleAppDidBecomeActive();
    ASSERT_EQ(named("_s").size(), 2u);
    // The old session's properties are cleared before the new ones are set.
    ASSERT_EQ(properties.size(), 4u);
    EXPECT_EQ(properties[0], std::make_pair(std::string("_sid"), std::optional<APMValue>()));
    EXPECT_EQ(properties[1], std::make_pair(std::string("_sno"), std::optional<APMValue>()));
}

TEST_F(SessionReporterTest, ScreenChangesChargeTheScreenLeftByTheSwitches) {
    const struct {
        bool efficient;
        bool redundant;
        double onScreen;
        bool logged;
        bool freeRide;
        std::int64_t cutAfterOneMoreSecond;  // the free-ride engagement kept for the screen view
    } cases[] = {
        {false, false, 0.5, false, false, 0},
        {false, false, 2, true, false, 0},
        {true, false, 2, true, true, 3000},
        {true, true, 2, false, false, 3000},
    };
    APMSetAppActive(true);
    const APMScreen left("home", "HomeView", 41);
    const APMScreen entered("cart", "CartView", 42);
    for (const auto& c : cases) {
        applySettings({{kEfficient, c.efficient ? "1" : "0"}, {kRedundant, c.redundant ? "1" : "0"}});
        reporter().handleAppDidBecomeActive();
        events.clear();
        dispatcher.virtualClock().advance(c.onScreen);
        reporter().handleScreenDidChangeFromScreen(&left, &entered);
        const auto engagements = named("_e");
        ASSERT_EQ(engagements.size(), c.logged ? 1u : 0u) << c.efficient << c.redundant << c.onScreen;
        if (c.logged) {
            EXPECT_EQ(value(engagements[0], "_et"), 2000);
            EXPECT_EQ(value(engagements[0], "_si"), 41);
            EXPECT_EQ(*engagements[0].parameters.find("_sn")->stringValue(), "home");
            EXPECT_EQ(engagements[0].parameters.contains("_fr"), c.freeRide);
        }
        dispatcher.virtualClock().advance(1);
        EXPECT_EQ(reporter().cutFreerideEngagementTimeMillis(), c.cutAfterOneMoreSecond);
    }
}

TEST_F(SessionReporterTest, ResignationMovesBothEngagementStarts) {
    applySettings({{kEfficient, "1"}});
    APMSetAppActive(true);
    reporter().handleAppDidBecomeActive();
    dispatcher.virtualClock().advance(2);
    reporter().handleAppWillResignActiveWithScreen(nullptr);
    ASSERT_EQ(named("_e").size(), 1u);
    EXPECT_FALSE(named("_e")[0].parameters.contains("_fr"));
    EXPECT_EQ(reporter().cutFreerideEngagementTimeMillis(), 0);
}

TEST_F(SessionReporterTest, ConcurrentReportsNeverCountTheSameTimeTwice) {
    APMSetAppActive(true);
    reporter().handleAppDidBecomeActive();
    constexpr int kSteps = 200;
    std::atomic<bool> done{false};
    auto report = [&] {
        while (!done) (void)reporter().logEngagementEventAndReturnTimeWithScreen(nullptr, false);
    };
    std::thread first(report);
    std::thread second(report);
    for (int step = 0; step < kSteps; ++step) dispatcher.virtualClock().advance(1);
    done = true;
    first.join();
    second.join();
    (void)reporter().logEngagementEventAndReturnTimeWithScreen(nullptr, false);
    std::int64_t total = 0;
    for (const auto& event : named("_e")) total += value(event, "_et");
    EXPECT_EQ(total, kSteps * 1000);
}

}  // namespace
}  // namespace engine_test
