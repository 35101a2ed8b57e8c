#include "measurement/interface/APMEvent.h"

#include "EventTestSupport.h"

using event_test::expectOneLine;
using event_test::intParameter;
using event_test::MonitorCapture;
using event_test::object;
using event_test::stringParameter;

namespace {

std::optional<APMEvent> make(const std::string& origin, bool isPublic, const std::string& name,
                             APMObjectParameters parameters = {}) {
    return APMEvent::initWithOrigin(origin, isPublic, name, 100, 50, parameters);
}

}  // namespace

TEST(EventCreation, OriginsAndNames) {
    struct Case {
        const char* origin;
        bool isPublic;
        const char* name;
        bool created;
    };
    const Case cases[] = {
        {"app", true, "my_event", true},
        {"app", true, "_x", false},
        {"app", false, "_x", true},
        {"app", true, "first_open", false},
        {"app", false, "_f", true},
        {"app+vtm", true, "my_event", true},
        {"+vtm", false, "e", false},
        {"", false, "e", false},
        {"a-b", false, "e", false},
        {"a-b+vtm", false, "e", false},
        {"abcdefghijklmnopqrstuvwxyzabcdef", false, "e", true},
        {"abcdefghijklmnopqrstuvwxyzabcdefg", false, "e", false},
        {"app", false, "a-b", false},
    };
    for (const auto& c : cases) {
        const auto event = make(c.origin, c.isPublic, c.name);
        EXPECT_EQ(event.has_value(), c.created) << c.origin << " " << c.name;
        if (event) {
            EXPECT_EQ(stringParameter(event->parameters(), "_o"), c.origin);
        }
    }
}

TEST(EventCreation, OwnOriginWinsAndPreviousTimeIsOnlyWarned) {
    MonitorCapture capture;
    const auto event = APMEvent::initWithOrigin("app", true, "my_event", 10, 20, {{"_o", object("other")}});
    ASSERT_TRUE(event);
    // A public caller may not name an internal parameter at all.
    EXPECT_EQ(event->parameters(),
              (APMParameters{{"_err", APMValue(3)}, {"_ev", APMValue("_o")}, {"_o", APMValue("app")}}));
    expectOneLine(capture, 16002, "WARNING Event created with previous timestamp after current timestamp");
    const auto internal = APMEvent::initWithOrigin("auto", false, "_e", 10, 0, {{"_o", object("other")}});
    EXPECT_EQ(internal->parameters(), (APMParameters{{"_o", APMValue("auto")}}));
}

TEST(EventCreation, ValueRuleOfConversionsAndAdImpressions) {
    struct Case {
        const char* label;
        const char* origin;
        const char* name;
        APMObjectParameters parameters;
        bool conversion;
        bool hasValue;
        std::int64_t err;
    };
    const Case cases[] = {
        {"app purchase without value", "app", "in_app_purchase", {{"_c", APMValue(1)}}, false, false, 18},
        {"auto purchase without value", "auto", "in_app_purchase", {{"_c", APMValue(1)}}, true, false, -1},
        {"app purchase with value", "app", "_iap", {{"_c", APMValue(1)}, {"value", APMValue(2)}, {"currency", APMValue("EUR")}},
         true, true, -1},
        {"ad impression without currency", "app", "ad_impression", {{"value", APMValue(9.99)}}, false, false, 19},
        {"other events keep any value", "app", "my_event", {{"value", APMValue("x")}}, false, true, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto event = make(c.origin, false, c.name, c.parameters);
        ASSERT_TRUE(event);
        EXPECT_EQ(event->isConversion(), c.conversion);
        EXPECT_EQ(event->parameters().contains("value"), c.hasValue);
        EXPECT_EQ(intParameter(event->parameters(), "_err"), c.err);
    }
}

TEST(EventFlags, ConversionWithdrawnAndRestored) {
    auto event = *make("auto", false, "purchase", {{"_c", APMValue(1)}});
    event.setConversion(false);
    EXPECT_FALSE(event.isConversion());
    EXPECT_EQ(intParameter(event.parameters(), "_err"), 10);
    event.setConversion(true);
    EXPECT_TRUE(event.isConversion());
    EXPECT_FALSE(event.parameters().contains("_err"));

    auto withError = *make("auto", false, "purchase", {{"_c", APMValue(1)}, {"_err", APMValue(4)}});
    withError.setConversion(false);
    EXPECT_EQ(intParameter(withError.parameters(), "_err"), 4);
    withError.setConversion(true);
    EXPECT_EQ(intParameter(withError.parameters(), "_err"), 4);

    auto purchase = *make("app", false, "_iap");
    purchase.setConversion(true);  // a required value is missing
    EXPECT_FALSE(purchase.isConversion());
    EXPECT_EQ(intParameter(purchase.parameters(), "_err"), 18);
}

TEST(EventFlags, RealtimeAndDebug) {
    MonitorCapture capture;
    auto event = *make("app", false, "e");
    event.setRealtime(true);
    event.setDebug(true);
    EXPECT_TRUE(event.isRealtime());
    EXPECT_TRUE(event.isDebug());
    EXPECT_EQ(intParameter(event.parameters(), "_r"), 1);
    event.setRealtime(false);
    event.setDebug(false);
    EXPECT_FALSE(event.parameters().contains("_r") || event.parameters().contains("_dbg"));

    const auto stringFlag = *make("app", false, "e", {{"_r", object("1")}, {"_dbg", APMValue(2)}});
    EXPECT_FALSE(stringFlag.isRealtime());
    EXPECT_FALSE(stringFlag.isDebug());
    expectOneLine(capture, 16006, "ERROR Realtime parameter must be an int64. Event name, e");
}

TEST(ScreenParameters, AddedOnlyOnceAndOnlyWhenValid) {
    MonitorCapture capture;
    struct Case {
        const char* label;
        APMObjectParameters screen;
        bool added;
    };
    const Case cases[] = {
        {"empty", {}, false},
        {"no instance id", {{"_sn", object("Home")}, {"_sc", object("HomeView")}}, false},
        {"instance id alone", {{"_si", object(7)}}, true},
        {"all three", {{"_si", APMValue(7)}, {"_sc", APMValue("HomeView")}, {"_sn", object("Home")}}, true},
        {"string instance id", {{"_si", object("7")}}, false},
        {"numeric class", {{"_si", object(7)}, {"_sc", object(3)}}, false},
        {"empty class", {{"_si", object(7)}, {"_sc", object("")}}, false},
        {"long name", {{"_si", object(7)}, {"_sn", object(std::string(501, 'n'))}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto event = *make("app", false, "e");
        EXPECT_EQ(event.addScreenParameters(c.screen), c.added);
        if (c.added) {
            EXPECT_FALSE(event.addScreenParameters({{"_si", object(8)}}));
        }
    }
    expectOneLine(capture, 16003, "WARNING Received invalid screen class");
    expectOneLine(capture, 16004, "WARNING Received invalid screen name");
    auto event = *make("app", false, "e");
    ASSERT_TRUE(event.addScreenParameters({{"_si", object(7)}, {"_sc", object("V")}, {"_sn", object("N")}}));
    EXPECT_EQ(event.parameters(), (APMParameters{{"_o", APMValue("app")}, {"_si", APMValue(7)},
                                                 {"_sc", APMValue("V")}, {"_sn", APMValue("N")}}));
}

TEST(AppliedParameters, NeverReplaceTheEventsOwn) {
    auto event = *make("app", false, "e", {{"a", APMValue(1)}});
    event.applyParameters({{"a", APMValue(2)}, {"b", object("x")}, {"_p", APMValue(3)}, {"c-d", APMValue(4)}}, true);
    EXPECT_EQ(event.parameters(), (APMParameters{{"a", APMValue(1)}, {"_o", APMValue("app")}, {"b", APMValue("x")},
                                                 {"_err", APMValue(3)}, {"_ev", APMValue("_p")}}));
}

TEST(EventCopies, CountersAndTimes) {
    APMObjectParameters many;
    for (int i = 0; i < 101; ++i) many.emplace_back("p" + std::to_string(1000 + i), APMValue(i));
    const auto event = *make("app", true, "my_event", many);
    ASSERT_EQ(event.diagnosticsCounts().allCounts().at("too_many_params"), 1);

    const APMEvent copy = event.copy();
    EXPECT_EQ(copy.parameters(), event.parameters());
    EXPECT_EQ(copy.diagnosticsCounts().allCounts(), event.diagnosticsCounts().allCounts());
    EXPECT_EQ(copy.timestamp(), 100);
    EXPECT_EQ(copy.previousTimestamp(), 50);

    const APMEvent later = event.copyWithPreviousTimestamp(70);
    EXPECT_EQ(later.previousTimestamp(), 70);
    EXPECT_EQ(later.diagnosticsCounts().allCounts(), event.diagnosticsCounts().allCounts());

    const APMEvent other = event.copyWithParameters({{"x", APMValue(1)}});
    EXPECT_EQ(other.parameters(), (APMParameters{{"x", APMValue(1)}, {"_o", APMValue("app")}}));
    EXPECT_TRUE(other.diagnosticsCounts().allCounts().empty());
    EXPECT_EQ(other.origin(), "app");
    EXPECT_EQ(other.name(), "my_event");
}
