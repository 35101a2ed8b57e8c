#include "measurement/interface/APMErrorEvents.h"

#include "EventTestSupport.h"

using event_test::InternalEventRecorder;
using event_test::intParameter;
using event_test::repeated;
using event_test::stringParameter;

TEST(TrimmedString, CutsAtCodePointsAndAddsDots) {
    struct Case {
        std::string text;
        std::size_t limit;
        std::string expected;
    };
    const Case cases[] = {
        {"abcdef", 3, "abc..."},
        {"abc", 3, "abc"},
        {"", 0, ""},
        {repeated("é", 5), 2, "éé..."},
        {repeated("𝐀", 3), 1, "𝐀..."},
        {std::string(45, 'n'), 40, std::string(40, 'n') + "..."},
    };
    for (const auto& c : cases) EXPECT_EQ(APMTrimmedString(c.text, c.limit), c.expected) << c.text;
}

TEST(ErrorEvents, CodeOnlyEventGoesThroughTheFacadeCall) {
    InternalEventRecorder recorder;
    APMLogErrorCodeEvent(APMErrorCodeNoError);
    APMLogErrorCodeEvent(26);
    ASSERT_EQ(recorder.events().size(), 1u);
    const auto& event = recorder.events().front();
    EXPECT_EQ(event.origin, "auto");
    EXPECT_EQ(event.name, "_err");
    EXPECT_EQ(event.parameters, (APMParameters{{"_err", APMValue(26)}}));
}

TEST(ErrorEvents, NamedEventCarriesTheLengthOnlyWhenItTells) {
    struct Case {
        const char* label;
        std::int64_t code;
        APMOptionalText name;
        std::optional<APMValue> value;
        std::string ev;
        std::int64_t el;  // -1: absent
    };
    const std::string name45(45, 'n');
    const Case cases[] = {
        {"value too long always tells", APMErrorCodeUserPropertyValueTooLong, "prop", APMValue("short"), "prop", 5},
        {"parameter value too long", APMErrorCodeInvalidParameterValue, "p", APMValue(std::string(600, 'v')), "p", 600},
        {"short name", APMErrorCodeInvalidEventName, std::string_view("n30n30n30n30n30n30n30n30n30n30"),
         APMValue("n30n30n30n30n30n30n30n30n30n30"), "n30n30n30n30n30n30n30n30n30n30", -1},
        {"long name", APMErrorCodeInvalidEventName, name45, APMValue(name45), std::string(40, 'n') + "...", 45},
        {"no value", APMErrorCodeInvalidUserPropertyName, "p", std::nullopt, "p", -1},
        {"nil name", APMErrorCodeInvalidEventName, std::nullopt, std::nullopt, "(nil)", -1},
        {"not a string", APMErrorCodeInvalidEventName, "\xc3", std::nullopt, "Data", -1},
        {"array value counts elements", APMErrorCodeInvalidParameterValue, "items",
         APMValue(std::vector<APMParameters>(3)), "items", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        InternalEventRecorder recorder;
        APMLogErrorEvent(c.code, c.name, 40, c.value ? &*c.value : nullptr);
        ASSERT_EQ(recorder.events().size(), 1u);
        const auto& parameters = recorder.events().front().parameters;
        EXPECT_EQ(intParameter(parameters, "_err"), c.code);
        EXPECT_EQ(stringParameter(parameters, "_ev"), c.ev);
        EXPECT_EQ(intParameter(parameters, "_el"), c.el);
    }
    InternalEventRecorder recorder;
    APMLogErrorEvent(APMErrorCodeNoError, "x", 40, nullptr);
    EXPECT_TRUE(recorder.events().empty());
}

TEST(ErrorEvents, AnUninstalledFacadeReceivesNothing) {
    InternalEventRecorder recorder;
    const APMInternalEventLogger installed = APMSetInternalEventLogger({});
    APMLogErrorCodeEvent(8);
    APMSetInternalEventLogger(installed);
    EXPECT_TRUE(recorder.events().empty());
    APMLogErrorCodeEvent(9);
    EXPECT_EQ(recorder.events().size(), 1u);
}

TEST(RecordedErrors, TheFirstErrorStays) {
    APMParameters parameters;
    APMRecordErrorCode(parameters, 5);
    APMRecordErrorCode(parameters, 28);
    EXPECT_EQ(intParameter(parameters, "_err"), 5);

    for (const char* present : {"_err", "_ev", "_el"}) {
        SCOPED_TRACE(present);
        APMParameters withOne{{present, APMValue(1)}};
        APMRecordError(withOne, 3, "name", 40, nullptr);
        EXPECT_EQ(withOne.size(), 1u);
    }
    APMParameters fresh;
    APMRecordError(fresh, 3, "bad-name", 40, nullptr);
    EXPECT_EQ(fresh, (APMParameters{{"_err", APMValue(3)}, {"_ev", APMValue("bad-name")}}));
}

TEST(RecordedErrors, ArrayFailuresMapToTheirCodes) {
    struct Case {
        APMValidationFailure failure;
        std::int64_t code;  // -1: nothing recorded
        std::string ev;
    };
    const Case cases[] = {
        {APMValidationFailure::ArrayOnNonEcommerceEvent, 21, "my_event"},
        {APMValidationFailure::ArrayNotNamedItems, 20, "products"},
        {APMValidationFailure::TooManyArrayElements, 17, "products"},
        {APMValidationFailure::NestedArray, 22, "products"},
        {APMValidationFailure::ArrayElementNotDictionary, -1, "<absent>"},
        {APMValidationFailure::TooLong, -1, "<absent>"},
    };
    for (const auto& c : cases) {
        APMParameters parameters;
        APMRecordArrayError(parameters, c.failure, "products", "my_event");
        EXPECT_EQ(intParameter(parameters, "_err"), c.code) << static_cast<int>(c.failure);
        EXPECT_EQ(stringParameter(parameters, "_ev"), c.ev);
        EXPECT_FALSE(parameters.contains("_el"));
    }
}

TEST(ErrorCodeNames, DebugTextNamesTheCode) {
    EXPECT_EQ(APMErrorCodeDescription(2), "InvalidEventName (2)");
    EXPECT_EQ(APMErrorCodeDescription(28), "ItemScopedCustomParameterLimitReached (28)");
    EXPECT_EQ(APMErrorCodeDescription(26), "26");
    EXPECT_EQ(APMErrorCodeNames().size(), 25u);
}
