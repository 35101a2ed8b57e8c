// Event editing: loading a program from real Program bytes, callback
// registration and order, edit verdicts, created events, parameter
// normalisation and event equality.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ProgramMessage.h"
#include "measurement/rules/APMPEventEditing.h"
#include "measurement/rules/APMPRuntimeEntityConverter.h"
#include "measurement/rules/ExecutionLimits.h"

namespace measurement::rules::testing {
namespace {

using platform::PropertyArray;
using platform::PropertyDictionary;
using platform::PropertyValue;

// Top level: "reg" is the registration module; register(rule) registers
// rule.fn with the rule's "type" and "priority". Each activity statement is
// a rule map handed to register.
constexpr const char* kPrelude =
    R"~((52 "reg" (require "internal.registerCallback"))
        (52 "newEvent" (require "internal.eventLogger"))
        (50 "register" (7 "rule") (reg 0 (16 (15 "rule") "fn") (15 "rule"))))~";

// A rule whose callback receives the event functions as "e".
std::string rule(const std::string& type, const std::string& priority, const std::string& body) {
    std::string options = "\"type\" \"" + type + "\"";
    if (!priority.empty()) options += " \"priority\" " + priority;
    return "(8 " + options + " \"fn\" (51 \"\" (7 \"e\") " + body + "))";
}

APMPEvent purchase() {
    return APMPEvent("purchase", 1000,
                     PropertyDictionary{{"count", 2LL}, {"price", 2.5}, {"label", "x"}, {"_i", 4LL}});
}

std::string errorText(const ErrorSlot& error) {
    return error ? error->domain + " " + std::to_string(error->code) : "none";
}

class EventEditing : public ::testing::Test {
protected:
    std::unique_ptr<APMPEventEditing> editing = std::make_unique<APMPEventEditing>();

    // Loads the prelude, `extra` top-level statements and the rules; answers
    // the load's error ("none" on success).
    std::string load(const std::vector<std::string>& rules, const std::string& extra = "") {
        std::string statements;
        for (const std::string& r : rules) statements += r + "\n";
        ErrorSlot error;
        const auto program = encodedProgram(std::string(kPrelude) + extra, {{"register", statements.c_str()}});
        EXPECT_EQ(editing->loadProgram(*program, error), !error);
        return errorText(error);
    }

    // Handles purchase() and answers "<result> <error>".
    std::string handle(const APMPEvent& event = purchase()) {
        ErrorSlot error;
        const bool changed = editing->handleEvent(event, error);
        return std::string(changed ? "YES " : "NO ") + errorText(error);
    }

    const APMPEvent& output() const { return editing->eventContext().outputEvent(); }
};

TEST_F(EventEditing, AProgramFromRealMessageBytesEditsAndCreatesEvents) {
    ASSERT_EQ(load({rule("edit", "", R"~((2 (15 "e") "setEventName" (7 (0 (2 (15 "e") "getEventName" (7)) "_x")))
                                        (2 (15 "e") "setParamValue" (7 "count" 7.9))
                                        (36 1))~"),
                    rule("create", "", R"~((newEvent "made" 12.7 (8 "from" (2 (15 "e") "getEventName" (7))
                                                                    "count" 1.5 "gone" (45))))~")}),
              "none");
    EXPECT_EQ(handle(), "YES none");
    EXPECT_TRUE(editing->hasEdits());
    EXPECT_EQ(output().name(), "purchase_x");
    EXPECT_EQ(*output().parameterForName("count"), PropertyValue(7LL));
    ASSERT_EQ(editing->eventContext().eventsToLog().size(), 1u);
    const APMPEvent& made = editing->eventContext().eventsToLog()[0];
    EXPECT_EQ(made.name(), "made");
    EXPECT_EQ(made.timestamp(), 12);
    // Normalised against the input event: "count" was an integer there.
    EXPECT_EQ(made.parameters(), (PropertyDictionary{{"count", 1LL}, {"from", "purchase_x"}}));
    // The next event starts afresh.
    EXPECT_EQ(editing->eventContext().inputEvent().name(), "purchase");
}

TEST_F(EventEditing, AnEditCallbackKeepsItsEditsOnlyForANumberOtherThanTwoAndMinusOne) {
    const struct {
        const char* ending;
        bool kept;
    } cases[] = {
        {"(36 1)", true},   {"(36 3)", true},     {"(36 0)", true},    {"", false},
        {"(36 -1)", false}, {"(36 2)", false},    {"(36 2.9)", false}, {R"~((36 "1"))~", false},
        {"(36 4294967298)", false},
    };
    for (const auto& c : cases) {
        editing = std::make_unique<APMPEventEditing>();
        ASSERT_EQ(load({rule("edit", "", std::string(R"~((2 (15 "e") "setParamValue" (7 "label" "y")) )~") + c.ending)}),
                  "none");
        EXPECT_EQ(handle(), c.kept ? "YES none" : "NO none") << c.ending;
        EXPECT_EQ(*output().parameterForName("label"), PropertyValue(c.kept ? "y" : "x")) << c.ending;
    }
}

TEST_F(EventEditing, AFailingCallbackRestoresItsEditsAndFailsTheEvent) {
    ASSERT_EQ(load({rule("edit", "1", R"~((2 (15 "e") "setParamValue" (7 "label" "a")) (36 1))~"),
                    rule("edit", "2", R"~((2 (15 "e") "setParamValue" (7 "label" "b")) (27))~"),
                    rule("create", "", R"~((newEvent "never" 0 (8)))~")}),
              "none");
    EXPECT_EQ(handle(), "NO com.vadova.vaz.measurement.pixie.ErrorDomain 9");
    EXPECT_EQ(*output().parameterForName("label"), PropertyValue("a"));
    EXPECT_FALSE(editing->hasCreatedEvents());
}

TEST_F(EventEditing, NothingChangedAnswersNoWithoutAnError) {
    ASSERT_EQ(load({rule("edit", "", R"~((2 (15 "e") "setParamValue" (7 "label" "x")) (36 1))~")}), "none");
    EXPECT_EQ(handle(), "NO none");
    EXPECT_FALSE(editing->hasEdits());
}

TEST_F(EventEditing, AnEditThatOnlyRemovesParametersIsAnEdit) {
    ASSERT_EQ(load({rule("edit", "", R"~((2 (15 "e") "setParamValue" (7 "label" (45))) (36 1))~")}), "none");
    EXPECT_EQ(handle(), "YES none");
    EXPECT_FALSE(output().hasParameterName("label"));
}

TEST_F(EventEditing, CallbacksRunByPriorityEditsBeforeCreates) {
    const auto append = [](const char* mark) {
        return std::string(R"~((2 (15 "e") "setParamValue" (7 "label" (0 (2 (15 "e") "getParamValue" (7 "label")) ")~") +
               mark + "\"))) (36 1)";
    };
    ASSERT_EQ(load({rule("create", "1", R"~((newEvent (2 (15 "e") "getParamValue" (7 "label")) 0 (8)))~"),
                    rule("edit", "5", append("a")), rule("edit", "5", append("b")), rule("edit", "5", append("c")),
                    rule("edit", "3", append("d")), rule("edit", "", append("e"))}),
              "none");
    const auto& edits = editing->callbackHandler().editCallbacks();
    std::vector<std::int64_t> priorities;
    for (const auto& [priority, callback] : edits) priorities.push_back(priority);
    EXPECT_EQ(priorities, (std::vector<std::int64_t>{3, 5, 6, 7, 1000}));
    EXPECT_EQ(handle(), "YES none");
    EXPECT_EQ(*output().parameterForName("label"), PropertyValue("xdabce"));
    EXPECT_EQ(editing->eventContext().eventsToLog().at(0).name(), "xdabce");
}

TEST_F(EventEditing, ABumpedPriorityPastTheIntRangeStillRunsLast) {
    ASSERT_EQ(load({rule("edit", "2147483647", "(36 1)"), rule("edit", "2147483647", "(36 1)")}), "none");
    EXPECT_EQ(editing->callbackHandler().editCallbacks().rbegin()->first, 2147483648LL);
}

TEST_F(EventEditing, AtMostAThousandCallbacks) {
    const std::string loop = R"~((41 "i") (3 "i" 0)
        (42 (23 (15 "i") LIMIT) (3 "i" (0 (15 "i") 1)) false
            (46 (reg 0 (51 "" (7 "e")) (8 "type" (22 (25 (15 "i") 2) "edit" "create"))))))~";
    std::string thousand = loop;
    thousand.replace(thousand.find("LIMIT"), 5, "1000");
    EXPECT_EQ(load({}, thousand), "none");
    EXPECT_EQ(editing->callbackHandler().editCallbacks().size() + editing->callbackHandler().createCallbacks().size(),
              1000u);
    ErrorSlot error;
    EXPECT_FALSE(editing->loadProgram(*encodedProgram("(52 \"reg\" (require \"internal.registerCallback\")) "
                                                     "(reg 0 (51 \"\" (7)) (8 \"type\" \"edit\"))"),
                                     error));
    EXPECT_EQ(errorText(error), "com.vadova.vaz.measurement.pixie.editing.ErrorDomain 4");
}

TEST_F(EventEditing, LoadFailures) {
    const struct {
        const char* extra;
        std::vector<std::string> rules;
        const char* expected;
    } cases[] = {
        {"(36 1)", {}, "com.vadova.vaz.measurement.pixie.editing.ErrorDomain 5"},
        {"", {"7"}, "com.vadova.vaz.measurement.pixie.editing.ErrorDomain 6"},
        {"(3 \"undeclared\" 1)", {"(8)"}, "com.vadova.vaz.measurement.pixie.ErrorDomain 2"},
        {"(41 \"register\")", {"(8)"}, "com.vadova.vaz.measurement.pixie.editing.ErrorDomain 7"},
        {"", {"(8 \"fn\" (51 \"\" (7)))"}, "com.vadova.vaz.measurement.pixie.editing.ErrorDomain 2"},
        {"", {rule("later", "", "")}, "com.vadova.vaz.measurement.pixie.editing.ErrorDomain 3"},
        {"", {"(8 \"type\" \"edit\" \"fn\" 1)"}, "com.vadova.vaz.measurement.pixie.ErrorDomain 10"},
        {"(reg 1 2)", {}, "com.vadova.vaz.measurement.pixie.ErrorDomain 9"},
    };
    for (const auto& c : cases) {
        APMPEventEditing fresh;
        ErrorSlot error;
        std::string statements;
        for (const std::string& r : c.rules) statements += r;
        const auto program = encodedProgram(std::string(kPrelude) + c.extra, {{"register", statements.c_str()}});
        const bool loaded = fresh.loadProgram(*program, error);
        EXPECT_EQ(loaded, !error) << c.extra;
        EXPECT_EQ(errorText(error), c.expected) << c.extra;
    }
}

// Wire bytes for programs too large to write as text: a length-delimited
// field, and a RuntimeEntity of `count` entities (the comma command over
// count - 1 number entities). A program's bytes followed by more fields are
// that program with those fields added.
std::string lengthDelimited(int tag, const std::string& payload) {
    std::string bytes(1, static_cast<char>(tag << 3 | 2));
    for (std::size_t length = payload.size(); ; length >>= 7) {
        bytes += static_cast<char>((length & 0x7F) | (length > 0x7F ? 0x80 : 0));
        if (length <= 0x7F) break;
    }
    return bytes + payload;
}

std::string statementOfEntities(std::size_t count) {
    const std::string number = lengthDelimited(2, std::string("\x08\x02", 2));
    std::string statement = "\x08\x04" + lengthDelimited(3, "13");
    for (std::size_t i = 1; i < count; ++i) statement += number;
    return statement;
}

std::shared_ptr<APMPBProgram> decodedProgram(const std::string& bytes) {
    return APMPBProgram::initWithBuffer(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

TEST_F(EventEditing, AProgramOfMoreEntitiesThanTheBoundIsRefusedBeforeAnyOfItRuns) {
    // 12 entities that register a callback when they run.
    const auto registration = encodedProgram(
        R"~((52 "reg" (require "internal.registerCallback")) (reg 0 (51 "" (7)) (8 "type" "edit")))~");
    const std::vector<std::uint8_t> registrationBytes = registration->protoBuffer()->toVector();
    const std::string start(registrationBytes.begin(), registrationBytes.end());

    const auto largest = decodedProgram(start + lengthDelimited(1, statementOfEntities(kMaxProgramEntities - 12)));
    ASSERT_NE(largest, nullptr);
    ASSERT_EQ(APMPRuntimeEntityConverter::programEntityCount(*largest, kMaxProgramEntities), kMaxProgramEntities);
    ErrorSlot error;
    EXPECT_TRUE(editing->loadProgram(*largest, error));
    EXPECT_EQ(errorText(error), "none");
    EXPECT_EQ(editing->callbackHandler().editCallbacks().size(), 1u);

    const auto tooLarge = decodedProgram(start + lengthDelimited(1, statementOfEntities(kMaxProgramEntities - 11)));
    ASSERT_NE(tooLarge, nullptr);
    APMPEventEditing fresh;
    EXPECT_FALSE(fresh.loadProgram(*tooLarge, error));
    EXPECT_EQ(errorText(error), "com.vadova.vaz.measurement.pixie.ErrorDomain 20");
    EXPECT_TRUE(fresh.callbackHandler().editCallbacks().empty());

    // Activities count with the top level (without the bound this load would
    // fail later, with code 6: the activity yields no map).
    const std::string half = statementOfEntities(kMaxProgramEntities / 2);
    const std::string activity = lengthDelimited(1, "register") + lengthDelimited(2, half);
    const auto split = decodedProgram(start + lengthDelimited(1, half) +
                                      lengthDelimited(2, lengthDelimited(1, activity)));
    ASSERT_NE(split, nullptr);
    APMPEventEditing another;
    error.reset();
    EXPECT_FALSE(another.loadProgram(*split, error));
    EXPECT_EQ(errorText(error), "com.vadova.vaz.measurement.pixie.ErrorDomain 20");
    EXPECT_TRUE(another.callbackHandler().editCallbacks().empty());
}

TEST_F(EventEditing, EventFunctions) {
    ASSERT_EQ(load({rule("edit", "", R"~(
        (newEvent "seen" 0 (8 "absent" (7 (2 (15 "e") "getParamValue" (7 "nope")))
                              "params" (2 (15 "e") "getParams" (7))
                              "time" (2 (15 "e") "getTimestamp" (7))
                              "name" (2 (15 "e") "getEventName" (7))))
        (36 1))~")}),
              "none");
    EXPECT_EQ(handle(), "YES none");
    const APMPEvent& seen = editing->eventContext().eventsToLog().at(0);
    EXPECT_EQ(*seen.parameterForName("absent"), PropertyValue(PropertyArray{}));
    EXPECT_EQ(*seen.parameterForName("params"),
              PropertyValue(PropertyDictionary{{"count", 2.0}, {"price", 2.5}, {"label", "x"}, {"_i", 4.0}}));
    EXPECT_EQ(*seen.parameterForName("time"), PropertyValue(1000.0));
    EXPECT_EQ(*seen.parameterForName("name"), PropertyValue("purchase"));
}

TEST_F(EventEditing, EventFunctionArgumentsAreCheckedExactly) {
    const struct {
        const char* call;
        const char* expected;
    } cases[] = {
        {R"~((2 (15 "e") "setEventName" (7 (44))))~", "NO com.vadova.vaz.measurement.pixie.ErrorDomain 10"},
        {R"~((2 (15 "e") "setEventName" (7 (45))))~", "NO com.vadova.vaz.measurement.pixie.ErrorDomain 10"},
        {R"~((2 (15 "e") "getEventName" (7 1)))~", "NO com.vadova.vaz.measurement.pixie.ErrorDomain 9"},
        {R"~((2 (15 "e") "setParamValue" (7 "a")))~", "NO com.vadova.vaz.measurement.pixie.ErrorDomain 9"},
        {R"~((2 (15 "e") "nothing" (7)))~", "NO com.vadova.vaz.measurement.pixie.ErrorDomain 17"},
        {R"~((2 (15 "e") "toString" (7)))~", "NO none"},
    };
    for (const auto& c : cases) {
        editing = std::make_unique<APMPEventEditing>();
        ASSERT_EQ(load({rule("edit", "", c.call)}), "none");
        EXPECT_EQ(handle(), c.expected) << c.call;
    }
}

TEST_F(EventEditing, ACallbackThatNeverEndsIsStoppedByTheInstructionLimit) {
    ASSERT_EQ(load({rule("edit", "", "(42 true 0 false (46 1))"),
                    rule("create", "", R"~((newEvent "never" 0 (8)))~")}),
              "none");
    EXPECT_EQ(handle(), "NO com.vadova.vaz.measurement.pixie.ErrorDomain 18");
    EXPECT_FALSE(editing->hasCreatedEvents());
}

TEST(ParameterNormalization, KeepsANumericParameterInItsKind) {
    const struct {
        const char* name;
        std::optional<PropertyValue> old;
        PropertyValue given;
        PropertyValue expected;
    } cases[] = {
        {"_i", PropertyValue(4LL), PropertyValue(5.0), PropertyValue(4LL)},
        {"_el", PropertyValue(4LL), PropertyValue(3.7), PropertyValue(3LL)},
        {"_err", std::nullopt, PropertyValue(2.5), PropertyValue(2LL)},
        {"_syn", PropertyValue(1.5), PropertyValue(9.9), PropertyValue(9LL)},
        {"label", PropertyValue("x"), PropertyValue(42.0), PropertyValue("42")},
        {"label", PropertyValue("x"), PropertyValue(42LL), PropertyValue("42")},
        {"label", PropertyValue("x"), PropertyValue(0.5), PropertyValue("0.5")},
        {"count", PropertyValue(2LL), PropertyValue(2.5), PropertyValue(2LL)},
        {"price", PropertyValue(2.5), PropertyValue(2LL), PropertyValue(2LL)},
        {"price", PropertyValue(2.5), PropertyValue(2.0), PropertyValue(2.0)},
        {"new", std::nullopt, PropertyValue(2.5), PropertyValue(2.5)},
        {"count", PropertyValue(2LL), PropertyValue("y"), PropertyValue("y")},
        {"items", PropertyValue(PropertyArray{}), PropertyValue(1.5), PropertyValue(1.5)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(APMPNormalizedParameterValue(c.name, c.old ? &*c.old : nullptr, c.given), c.expected) << c.name;
    }
}

TEST(EventEquality, SameNamesWithEqualValues) {
    const APMPEvent base("e", 1, PropertyDictionary{{"a", 1LL}, {"b", PropertyArray{1LL, "x"}}});
    const struct {
        APMPEvent other;
        bool equal;
    } cases[] = {
        {base, true},
        {APMPEvent("e", 1 + 1e-17, base.parameters()), true},
        {APMPEvent("e", 1.001, base.parameters()), false},
        {APMPEvent("f", 1, base.parameters()), false},
        {APMPEvent("e", 1, PropertyDictionary{{"a", 1LL}}), false},
        {APMPEvent("e", 1, PropertyDictionary{{"a", 1LL}, {"b", PropertyArray{1LL, "x"}}, {"c", 1LL}}), false},
        {APMPEvent("e", 1, PropertyDictionary{{"a", 1.0}, {"b", PropertyArray{1LL, "x"}}}), false},
        {APMPEvent("e", 1, PropertyDictionary{{"a", 1LL}, {"b", PropertyArray{1.0, "x"}}}), true},
        {APMPEvent("e", 1, PropertyDictionary{{"a", "1"}, {"b", PropertyArray{1LL, "x"}}}), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(base.isEqualToEvent(c.other), c.equal);
        EXPECT_EQ(c.other.isEqualToEvent(base), c.equal);
    }
}

}  // namespace
}  // namespace measurement::rules::testing
