#include <gtest/gtest.h>

#include "EventTestSupport.h"
#include "measurement/interface/APMAdExposureReporter.h"
#include "platform/core/DeterministicDispatch.h"

using event_test::InternalEventRecorder;
using event_test::MonitorCapture;

namespace {

class AdExposure : public testing::Test {
protected:
    void SetUp() override {
        APMAdExposureReporter::ScreenSource screens;
        screens.screenParameters = [this] { return currentScreen; };
        screens.isAppActive = [this] { return active; };
        reporter = APMAdExposureReporter::create(dispatcher, screens, center);
    }

    void begin(const std::string& id) {
        reporter->beginAdUnitExposure(id);
        dispatcher.drain();
    }
    void at(double seconds) {
        dispatcher.advance(seconds - elapsed_);
        elapsed_ = seconds;
    }

    // (name, ad unit or "", milliseconds) of each logged event.
    std::vector<std::tuple<std::string, std::string, std::int64_t>> logged() const {
        std::vector<std::tuple<std::string, std::string, std::int64_t>> out;
        for (const auto& e : events.events()) {
            EXPECT_EQ(e.origin, "am");
            const auto* unit = e.parameters.find("_ai");
            out.emplace_back(e.name, unit ? *unit->stringValue() : "", e.parameters.find("_xt")->int64Value());
        }
        return out;
    }
    using Logged = std::vector<std::tuple<std::string, std::string, std::int64_t>>;

    MonitorCapture monitor{{"-APMAnalyticsVerboseLoggingEnabled"}};
    InternalEventRecorder events;
    platform::DeterministicDispatcher dispatcher;
    platform::NotificationCenter center;
    APMParameters currentScreen{{"_sn", APMValue("home")}};
    bool active = true;
    std::shared_ptr<APMAdExposureReporter> reporter;
    double elapsed_ = 0;
};

}  // namespace

TEST_F(AdExposure, OneUnitLongEnoughLogsUnitThenWhole) {
    begin("A");
    at(1.5);
    reporter->endAdUnitExposure("A");
    EXPECT_EQ(logged(), (Logged{{"_xu", "A", 1500}, {"_xa", "", 1500}}));
    EXPECT_EQ(*events.events()[0].parameters.find("_sn")->stringValue(), "home");
}

TEST_F(AdExposure, ShortExposureLogsNothing) {
    begin("A");
    at(0.8);
    reporter->endAdUnitExposure("A");
    EXPECT_TRUE(logged().empty());
}

TEST_F(AdExposure, NestedBeginsOfOneUnitEndOnTheLastEnd) {
    begin("A");
    begin("A");
    at(2);
    reporter->endAdUnitExposure("A");
    EXPECT_TRUE(logged().empty());
    reporter->endAdUnitExposure("A");
    EXPECT_EQ(logged(), (Logged{{"_xu", "A", 2000}, {"_xa", "", 2000}}));
}

TEST_F(AdExposure, OverlappingUnitsAndTheWholePeriod) {
    begin("A");
    at(2);
    begin("B");
    at(3);
    reporter->endAdUnitExposure("A");
    at(5);
    reporter->endAdUnitExposure("B");
    EXPECT_EQ(logged(), (Logged{{"_xu", "A", 3000}, {"_xu", "B", 3000}, {"_xa", "", 5000}}));
}

TEST_F(AdExposure, ScreenChangeCutsWithThePreviousScreen) {
    begin("A");
    at(4);
    reporter->handleScreenDidChangeFromScreen(APMParameters{{"_sn", APMValue("shop")}});
    at(6);
    reporter->endAdUnitExposure("A");
    EXPECT_EQ(logged(), (Logged{{"_xu", "A", 4000}, {"_xa", "", 4000}, {"_xu", "A", 2000}, {"_xa", "", 2000}}));
    EXPECT_EQ(*events.events()[0].parameters.find("_sn")->stringValue(), "shop");
    EXPECT_EQ(*events.events()[2].parameters.find("_sn")->stringValue(), "home");
}

TEST_F(AdExposure, EngagementTimerNotificationCuts) {
    begin("A");
    at(3);
    center.post(kAPMSessionReporterEngagementTimerDidFire);
    EXPECT_EQ(logged(), (Logged{{"_xu", "A", 3000}, {"_xa", "", 3000}}));
}

TEST_F(AdExposure, WallClockChangesDoNotCount) {
    begin("A");
    dispatcher.virtualClock().setWallTime(1.0e9);  // the user moves the clock back
    at(2);
    reporter->endAdUnitExposure("A");
    EXPECT_EQ(logged(), (Logged{{"_xu", "A", 2000}, {"_xa", "", 2000}}));
}

TEST_F(AdExposure, InactiveAppClosesUnitsWithoutEventsAndBecomingActiveRestarts) {
    begin("A");
    begin("B");
    active = false;
    at(5);
    reporter->endAdUnitExposure("A");
    EXPECT_TRUE(logged().empty());
    EXPECT_EQ(monitor.linesWithCode(1011).size(), 1u);
    active = true;
    reporter->handleAppDidBecomeActive();
    at(6.5);
    reporter->endAdUnitExposure("B");
    EXPECT_EQ(logged(), (Logged{{"_xu", "B", 1500}, {"_xa", "", 1500}}));
}

TEST_F(AdExposure, UnknownEndsAndTheUnitLimit) {
    reporter->endAdUnitExposure("never");
    EXPECT_EQ(monitor.linesWithCode(1004).size(), 1u);
    for (int i = 0; i < 100; ++i) begin("unit" + std::to_string(i));
    begin("extra");
    begin("unit0");
    EXPECT_EQ(monitor.linesWithCode(1002).size(), 2u);
    at(2);
    reporter->endAdUnitExposure("unit0");  // still a single begin: it ends
    EXPECT_EQ(logged(), (Logged{{"_xu", "unit0", 2000}}));
}
