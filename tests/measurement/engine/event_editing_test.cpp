// The event-editing rules on the event road: edits, removals, created
// events, failures and outputs that cannot be rebuilt into an event.

#include "EngineTestSupport.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/rules/ProgramMessage.h"
#include "measurement/storage/APMAlarm.h"

namespace engine_test {
namespace {

constexpr const char* kPrelude =
    R"~((52 "reg" (require "internal.registerCallback"))
        (52 "newEvent" (require "internal.eventLogger"))
        (50 "register" (7 "rule") (reg 0 (16 (15 "rule") "fn") (15 "rule"))))~";

std::string rule(const std::string& type, const std::string& body) {
    return "(8 \"type\" \"" + type + "\" \"fn\" (51 \"\" (7 \"e\") " + body + "))";
}

class Reachable final : public VULReachability {
public:
    bool isReachable() const override { return true; }
    void setChangeHandler(std::function<void()>) override {}
};

class EventEditingRoad : public EngineFixture {
protected:
    void SetUp() override {
        network = std::make_shared<VULNetwork>(std::make_shared<Reachable>());
        start();
        discardStartRecords();
    }

    void loadRules(const std::vector<std::string>& rules) {
        std::string statements;
        for (const auto& r : rules) statements += r + "\n";
        auto config = makeConfig(kAppID);
        auto program = measurement::rules::testing::encodedProgram(kPrelude, {{"register", statements.c_str()}});
        APMPBSetArray(*config, 8, APMPBArrayOfMessages(std::vector{program}));
        applySettings({}, config);
        ASSERT_TRUE(engine->remoteConfigInstance()->eventEditing());
    }

};

const APMValue* param(const APMRawEventData& event, const std::string& name) {
    return event.rawEvent.parameters().find(name);
}

TEST_F(EventEditingRoad, AnEditChangesAndRemovesParametersAndCreatedEventsFollow) {
    loadRules({rule("edit", R"~((2 (15 "e") "setParamValue" (7 "level" 9)) (2 (15 "e") "setParamValue" (7 "drop" (45))) (36 1))~"),
               rule("create", R"~((newEvent "made" 12.7 (8 "from" (2 (15 "e") "getEventName" (7)) "_o" "auto")))~"),
               rule("create", R"~((newEvent "plain" 13 (8)))~")});
    log("level_up", {{"level", platform::PropertyValue(1LL)}, {"drop", platform::PropertyValue("x")}});
    const auto events = stored();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].rawEvent.name(), "level_up");
    EXPECT_EQ(param(events[0], "level")->int64Value(), 9);
    EXPECT_FALSE(param(events[0], "drop"));
    EXPECT_EQ(events[1].rawEvent.name(), "made");
    EXPECT_EQ(events[1].rawEvent.origin(), "auto");
    EXPECT_EQ(*param(events[1], "from")->stringValue(), "level_up");
    EXPECT_EQ(events[2].rawEvent.origin(), "app");
    EXPECT_TRUE(monitor.linesWithCode(23223).empty());
}

TEST_F(EventEditingRoad, AFailingRuleWritesTheEventUneditedAndStillPlansTheUpload) {
    loadRules({rule("edit", R"~((2 (15 "e") "setParamValue" (7 "level" 9)) (27))~"),
               rule("create", R"~((newEvent "never" 1 (8)))~")});
    engine->alarm()->cancel();
    log("level_up", {{"level", platform::PropertyValue(1LL)}});
    const auto events = stored();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(param(events[0], "level")->int64Value(), 1);
    EXPECT_EQ(monitor.linesWithCode(23223).size(), 1u);
    // Re-planned like after any other event: the upload timer is armed again.
    EXPECT_TRUE(engine->alarm()->scheduledTimestamp());
}

TEST_F(EventEditingRoad, NoChangeWritesTheEventAsItCameWithoutAFailureLine) {
    loadRules({rule("edit", R"~((2 (15 "e") "setParamValue" (7 "level" 1)) (36 1))~")});
    log("level_up", {{"level", platform::PropertyValue(1LL)}});
    ASSERT_EQ(stored().size(), 1u);
    EXPECT_TRUE(monitor.linesWithCode(23223).empty());
}

TEST_F(EventEditingRoad, AnEditedNameThatIsRefusedKeepsTheOriginalEvent) {
    loadRules({rule("edit", R"~((2 (15 "e") "setEventName" (7 "no spaces allowed")) (36 1))~")});
    log("level_up", {{"level", platform::PropertyValue(1LL)}});
    const auto events = stored();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].rawEvent.name(), "level_up");
    EXPECT_EQ(monitor.linesWithCode(23223).size(), 1u);
}

}  // namespace
}  // namespace engine_test
