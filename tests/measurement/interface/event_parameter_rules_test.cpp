#include "measurement/interface/APMEventParameterRules.h"

#include "EventTestSupport.h"
#include "measurement/interface/APMEvent.h"

using event_test::expectOneLine;
using event_test::intParameter;
using event_test::MonitorCapture;
using event_test::object;
using event_test::stringParameter;

TEST(ValueAndCurrency, DropsTheValueWithTheReason) {
    struct Case {
        const char* label;
        APMParameters parameters;
        bool required;
        bool passes;
        std::int64_t err;
        std::string ev;
    };
    const Case cases[] = {
        {"nothing to check", {}, false, true, -1, "<absent>"},
        {"required but missing", {}, true, false, 18, "value"},
        {"string value", {{"value", APMValue("9.99")}, {"currency", APMValue("USD")}}, false, false, 18, "value"},
        {"no currency", {{"value", APMValue(9.99)}}, false, false, 19, "currency"},
        {"bad currency", {{"value", APMValue(9)}, {"currency", APMValue("US")}}, true, false, 19, "currency"},
        {"valid", {{"value", APMValue(9)}, {"currency", APMValue("usd")}}, true, true, -1, "<absent>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        MonitorCapture capture;
        APMParameters parameters = c.parameters;
        EXPECT_EQ(APMCheckValueAndCurrency(parameters, c.required), c.passes);
        EXPECT_EQ(parameters.contains("value"), c.passes && c.parameters.contains("value"));
        EXPECT_EQ(intParameter(parameters, "_err"), c.err);
        EXPECT_EQ(stringParameter(parameters, "_ev"), c.ev);
        EXPECT_FALSE(parameters.contains("_el"));
        EXPECT_EQ(capture.linesWithCode(18014).size(), c.err == 19 ? 1u : 0u);
    }
    MonitorCapture capture;
    APMParameters noCurrency{{"value", APMValue(1)}};
    APMCheckValueAndCurrency(noCurrency, false);
    expectOneLine(capture, 18014,
                  "WARNING Value parameter discarded. You must also supply a 3-letter ISO_4217 currency code in the "
                  "currency parameter.");
}

TEST(ScreenParameterHelpers, FindAndExtract) {
    const APMObjectParameters parameters = {{"a", object(1)}, {"_si", object(3)}, {"_sn", object("N")}};
    EXPECT_TRUE(APMHasScreenParameters(parameters));
    EXPECT_FALSE(APMHasScreenParameters(APMObjectParameters{{"a", object(1)}}));
    EXPECT_EQ(APMExtractScreenParameters(parameters), (APMObjectParameters{{"_sn", object("N")}, {"_si", object(3)}}));
}

TEST(ParameterHelpers, VadParametersAndEffectiveCount) {
    const APMParameters parameters{{"vad_source", APMValue("x")}, {"vadx", APMValue(1)}, {"a", APMValue(2)}};
    EXPECT_EQ(APMParametersByRemovingVadParameters(parameters),
              (APMParameters{{"vadx", APMValue(1)}, {"a", APMValue(2)}}));

    const APMValue items(std::vector<APMParameters>(3));
    const auto event = *APMEvent::initWithOrigin("app", false, "e", 1, 0, {{"items", items}, {"more", items}});
    EXPECT_EQ(APMEffectiveEventCount(event), 6);
    EXPECT_EQ(APMEffectiveEventCount(*APMEvent::initWithOrigin("app", false, "e", 1, 0, {})), 0);
}
