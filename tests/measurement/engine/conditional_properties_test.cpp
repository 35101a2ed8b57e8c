// Conditional user properties on the event road, on virtual time: triggers,
// time-outs, expiries and clearing with the order of their events, the
// 1000-row table, replacing, the query's patterns and refused input.

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "EngineTestSupport.h"
#include "measurement/engine/APMConditionalUserProperties.h"

namespace engine_test {
namespace {

class ConditionalProperties : public EngineFixture {
protected:
    void SetUp() override { start(); }
    APMConditionalUserPropertyController& controller() { return *engine->conditionalUserPropertyController(); }

    APMEvent event(const std::string& name) {
        return *APMEvent::initWithOrigin("app", false, name, now(), 0, {{"step", APMValue(std::int64_t{1})}});
    }

    // Outcome events are named "<tag>_triggered", "<tag>_timed_out", "<tag>_expired".
    APMConditionalUserProperty property(const std::string& trigger, double timeout = 60, double ttl = 600,
                                        const std::string& tag = "cup") {
        APMConditionalUserProperty made;
        made.origin = "app";
        made.value = APMValue("gold");
        made.triggerEventName = trigger;
        made.triggerTimeout = timeout;
        made.timeToLive = ttl;
        made.triggeredEvent = event(tag + "_triggered");
        made.timedOutEvent = event(tag + "_timed_out");
        made.expiredEvent = event(tag + "_expired");
        return made;
    }

    void set(const std::string& name, std::optional<APMConditionalUserProperty> made) {
        controller().setConditionalUserProperty(made, name);
        dispatcher.drain();
    }

    std::optional<APMUserAttribute> userProperty(const std::string& name) {
        return engine->database()->userAttributeWithName(name).value;
    }

    std::optional<APMConditionalUserPropertyRecord> row(const std::string& name) {
        return engine->database()->conditionalUserPropertyWithName(name).value;
    }

    using Names = std::vector<std::string>;

    // The stored events in order, without the engine's own ("_f", "_s", ...).
    Names written() {
        Names names;
        for (std::string& name : storedNames()) {
            if (name.rfind('_', 0) != 0) names.push_back(std::move(name));
        }
        return names;
    }
};

TEST_F(ConditionalProperties, TriggerUpToTheTimeoutActivatesAndLogsAfterTheTrigger) {
    set("plan", property("level_up", 60));
    EXPECT_FALSE(userProperty("plan"));
    dispatcher.advance(60);  // exactly the time-out still triggers
    log("level_up");
    EXPECT_EQ(written(), (Names{"level_up", "cup_triggered"}));
    ASSERT_TRUE(userProperty("plan"));
    EXPECT_EQ(*userProperty("plan")->value().stringValue(), "gold");
    EXPECT_EQ(userProperty("plan")->lastSetTimestamp(), now());
    ASSERT_TRUE(row("plan"));
    EXPECT_TRUE(row("plan")->active);
    EXPECT_EQ(row("plan")->triggeredTimestamp, now());
}

TEST_F(ConditionalProperties, OneEventWritesTimeOutsThenExpiriesThenItselfThenWhatItTriggered) {
    const double created = now();
    set("waiting", property("never", 10, 600, "a"));
    set("living", property("", 60, 10, "b"));
    set("late", property("go", 10, 600, "c"));
    EXPECT_EQ(userProperty("living")->lastSetTimestamp(), created);
    dispatcher.advance(11);
    log("go");  // too late for "late": it times out in the same pass
    EXPECT_EQ(written(), (Names{"b_triggered", "a_timed_out", "c_timed_out", "b_expired", "go"}));
    EXPECT_FALSE(userProperty("living"));
    EXPECT_FALSE(row("waiting") || row("living") || row("late"));

    set("next", property("go", 10, 600, "d"));
    log("go");
    EXPECT_EQ(written().back(), "d_triggered");
}

TEST_F(ConditionalProperties, TheTriggeredEventOfAnActiveSetRunsTheFullRoad) {
    set("second", property("first_triggered", 60, 600, "second"));
    set("first", property("", 60, 600, "first"));
    EXPECT_EQ(written(), (Names{"first_triggered", "second_triggered"}));
    EXPECT_TRUE(userProperty("second"));
}

TEST_F(ConditionalProperties, AdImpressionTriggersPropertiesWaitingForItsInternalName) {
    set("viewed", property("_ai"));
    log("ad_impression", {{"value", APMValue(1.0)}, {"currency", APMValue("USD")}});
    EXPECT_TRUE(userProperty("viewed"));
}

TEST_F(ConditionalProperties, ClearingRemovesRowAndUserPropertyAndLogsTheClearEvent) {
    set("plan", property(""));
    monitor.clear();
    controller().clearConditionalUserPropertyWithClearEvent(event("cleared"), "plan");
    dispatcher.drain();
    EXPECT_FALSE(row("plan"));
    EXPECT_FALSE(userProperty("plan"));
    EXPECT_EQ(written().back(), "cleared");

    controller().clearConditionalUserPropertyWithClearEvent(event("cleared_again"), "plan");
    dispatcher.drain();
    EXPECT_EQ(monitor.linesWithCode(11018).size(), 1u);
    EXPECT_EQ(written().back(), "cleared");
}

TEST_F(ConditionalProperties, SettingWithoutValueRemovesAndLogsTheObjectsExpiredEvent) {
    set("plan", property("later"));
    APMConditionalUserProperty removal = property("later", 60, 600, "removal");
    removal.value.reset();
    set("plan", removal);
    EXPECT_FALSE(row("plan"));
    EXPECT_EQ(written(), (Names{"removal_expired"}));
}

TEST_F(ConditionalProperties, ReplacingAnActivePropertyKeepsItsTriggerAndRewritesTheUserPropertyOnlyWhenFlagged) {
    const double first = now();
    set("plan", property(""));
    dispatcher.advance(5);
    APMConditionalUserProperty replacement = property("other", 30, 900, "again");
    replacement.value = APMValue("silver");
    set("plan", replacement);
    EXPECT_EQ(*row("plan")->value->stringValue(), "silver");
    EXPECT_EQ(row("plan")->timeToLive, 900);
    EXPECT_EQ(row("plan")->triggeredTimestamp, first);
    EXPECT_FALSE(row("plan")->triggerEventName);
    EXPECT_EQ(*userProperty("plan")->value().stringValue(), "gold");
    EXPECT_EQ(written(), (Names{"cup_triggered"}));

    replacement.active = true;
    replacement.triggeredTimestamp = now();
    set("plan", replacement);
    EXPECT_EQ(*userProperty("plan")->value().stringValue(), "silver");
    EXPECT_EQ(row("plan")->triggeredTimestamp, first);
    EXPECT_EQ(written(), (Names{"cup_triggered"}));
}

TEST_F(ConditionalProperties, AFullTableStillSetsTheUserPropertyButStoresNoNewRow) {
    auto database = engine->database();
    ASSERT_TRUE(database->performTransaction([&] {
        for (int i = 0; i < 1000; ++i) {
            APMConditionalUserPropertyRecord filler{"p" + std::to_string(i), "app", APMValue("x"), now(), false,
                                                    3600, 0, 600, "never", {}, {}, {}};
            APMError error;
            if (!database->updateConditionalUserProperty(filler, &error)) return false;
        }
        return true;
    }));
    set("plan", property(""));
    EXPECT_TRUE(userProperty("plan"));
    EXPECT_EQ(written(), (Names{"cup_triggered"}));
    EXPECT_FALSE(row("plan"));
    EXPECT_EQ(monitor.linesWithCode(11014).size(), 1u);

    set("p7", property("soon"));  // a stored name is still rewritten
    EXPECT_EQ(*row("p7")->triggerEventName, "soon");
}

TEST_F(ConditionalProperties, QueryMatchesPrefixAndOriginAsUnescapedPatternsIgnoringCase) {
    for (const char* name : {"a_b", "axb", "ab", "AXB2"}) set(name, property("later"));
    APMConditionalUserProperty other = property("later");
    other.origin = "vcm";
    set("a_bother", other);
    auto names = [&](std::optional<std::string> prefix, std::optional<std::string> origin) {
        Names found;
        auto listed = controller().conditionalUserPropertiesWithNamePrefix(prefix, origin);
        for (const auto& item : listed.value_or(std::vector<APMConditionalUserProperty>{})) found.push_back(item.name);
        std::sort(found.begin(), found.end());
        return found;
    };
    EXPECT_EQ(names("a_b", ""), (Names{"AXB2", "a_b", "a_bother", "axb"}));
    EXPECT_EQ(names("a_b", "app"), (Names{"AXB2", "a_b", "axb"}));
    EXPECT_EQ(names(std::nullopt, "V%"), (Names{"a_bother"}));
    auto listed = controller().conditionalUserPropertiesWithNamePrefix("a_bother", "vcm");
    ASSERT_TRUE(listed && listed->size() == 1);
    EXPECT_EQ(listed->front().triggeredEvent->name(), "cup_triggered");

    engine->setEnabledOnWorkerQueue(false);
    EXPECT_FALSE(controller().conditionalUserPropertiesWithNamePrefix("a", "app"));
    EXPECT_EQ(monitor.linesWithCode(11005).size(), 1u);
}

TEST_F(ConditionalProperties, AnUnreadableRowRollsTheWholePassBackAndTheEventIsStoredAnyway) {
    set("plan", property("go"));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((folder.path() / "measurement.sql").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "INSERT INTO conditional_properties (name, origin, value, creation_timestamp, active, "
                           "trigger_timeout, triggered_timestamp, time_to_live) VALUES "
                           "('broken', 'app', 'x', 'not a time', 0, 1, 0, 1)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    log("go");
    EXPECT_EQ(written(), (Names{"go"}));
    EXPECT_EQ(monitor.linesWithCode(23050).size(), 1u);
    EXPECT_FALSE(userProperty("plan"));
    EXPECT_FALSE(row("plan")->active);
}

TEST_F(ConditionalProperties, AStoredOutcomeEventThatNoLongerDecodesIsSkippedAndThePropertyStillMovesOn) {
    APMConditionalUserPropertyRecord damaged{"plan", "app", APMValue("gold"), now(), false, 60, 0, 600, "go",
                                             {}, APMBytes{0xff, 0xff, 0xff}, {}};
    APMError error;
    ASSERT_TRUE(engine->database()->updateConditionalUserProperty(damaged, &error));
    log("go");
    EXPECT_EQ(written(), (Names{"go"}));
    EXPECT_TRUE(userProperty("plan"));
    EXPECT_TRUE(row("plan")->active);
    // The query cannot hand the row back whole.
    EXPECT_FALSE(controller().conditionalUserPropertiesWithNamePrefix("plan", "app"));
    EXPECT_EQ(monitor.linesWithCode(11006).size(), 1u);
}

TEST_F(ConditionalProperties, RefusedInputLogsItsReasonAndStoresNothing) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        std::string name;
        std::function<void(APMConditionalUserProperty&)> change;
        long code;  // 0: accepted
    };
    const std::vector<Case> cases = {
        {"shortest time-out", "a", [](auto& p) { p.triggerTimeout = 0.001; }, 0},
        {"180 days", "b", [](auto& p) { p.triggerTimeout = p.timeToLive = 15552000; }, 0},
        {"time-out 0 without trigger", "c", [](auto& p) { p.triggerEventName.clear(); p.triggerTimeout = 0; }, 11000},
        {"negative time-out", "d", [](auto& p) { p.triggerTimeout = -5; }, 11000},
        {"time-out over 180 days", "e", [](auto& p) { p.triggerTimeout = 15552000.5; }, 11000},
        {"time-out NaN", "f", [nan](auto& p) { p.triggerTimeout = nan; }, 11000},
        {"time to live 0", "g", [](auto& p) { p.timeToLive = 0; }, 11001},
        {"huge time to live", "h", [](auto& p) { p.timeToLive = 1e300; }, 11001},
        {"name over 24", std::string(25, 'n'), [](auto&) {}, 13000},
        {"empty name", "", [](auto&) {}, 13001},
        {"missing origin", "i", [](auto& p) { p.origin.reset(); }, 13001},
        {"origin over 32", "j", [](auto& p) { p.origin = std::string(33, 'o'); }, 13000},
        {"value over 36", "k", [](auto& p) { p.value = APMValue(std::string(37, 'v')); }, 13000},
    };
    for (const Case& test : cases) {
        monitor.clear();
        APMConditionalUserProperty made = property("later");
        test.change(made);
        set(test.name, made);
        EXPECT_EQ(row(test.name).has_value(), test.code == 0) << test.what;
        if (test.code) {
            EXPECT_EQ(monitor.linesWithCode(test.code).size(), 1u) << test.what;
        }
    }
    set("nil", std::nullopt);
    EXPECT_EQ(monitor.linesWithCode(11002).size(), 1u);
    EXPECT_TRUE(written().empty());
}

}  // namespace
}  // namespace engine_test
