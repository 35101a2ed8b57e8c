// Runtime values: conversions of each kind, structural equality, property
// tables, and method calls on scalars and maps.

#include <gtest/gtest.h>

#include <cmath>

#include "ProgramText.h"
#include "measurement/rules/APMPArrayValue.h"
#include "measurement/rules/APMPControlValue.h"
#include "measurement/rules/APMPFunctionValue.h"
#include "measurement/rules/APMPMapValue.h"
#include "measurement/rules/APMPPropertyMap.h"
#include "measurement/rules/APMPStatementValue.h"
#include "measurement/rules/ScalarValues.h"
#include "measurement/rules/Utf16Text.h"

namespace measurement::rules {
namespace {

ValuePtr number(double v) { return APMPNumberValue::make(v); }
ValuePtr text(const char16_t* v) { return APMPStringValue::make(v); }

struct Forms {
    std::string text;
    double number;
    bool truth;
};

Forms formsOf(const ValuePtr& value) {
    ErrorSlot error;
    Forms forms{utf8FromUtf16(value->stringValueOrError(error)), value->doubleValueOrError(error),
                value->booleanValueOrError(error)};
    EXPECT_FALSE(error);
    return forms;
}

void expectForms(const ValuePtr& value, const std::string& text, double number, bool truth) {
    const Forms forms = formsOf(value);
    EXPECT_EQ(forms.text, text);
    if (std::isnan(number)) {
        EXPECT_TRUE(std::isnan(forms.number)) << text;
    } else {
        EXPECT_EQ(forms.number, number) << text;
    }
    EXPECT_EQ(forms.truth, truth) << text;
}

TEST(RuntimeValueConversions, EachKindHasItsForms) {
    const double nan = std::nan("");
    expectForms(undefinedValue(), "undefined", nan, false);
    expectForms(nullValue(), "null", 0, false);
    expectForms(booleanValue(true), "true", 1, true);
    expectForms(booleanValue(false), "false", 0, false);
    expectForms(number(0), "0", 0, false);
    expectForms(number(-0.0), "0", 0, false);
    expectForms(number(nan), "NaN", nan, false);
    expectForms(number(-2.5), "-2.5", -2.5, true);
    expectForms(text(u""), "", 0, false);
    expectForms(text(u" 42 "), " 42 ", 42, true);
    expectForms(text(u"0"), "0", 0, true);
    expectForms(text(u"abc"), "abc", nan, true);
    expectForms(std::make_shared<APMPMapValue>(), "[object Object]", nan, true);
    expectForms(std::make_shared<APMPArrayValue>(), "", 0, true);
    expectForms(std::make_shared<APMPArrayValue>(ValueList{number(7)}), "7", 7, true);
    expectForms(std::make_shared<APMPArrayValue>(ValueList{number(1), number(2)}), "1,2", nan, true);
    expectForms(std::make_shared<APMPFunctionValue>(u"f"), "f", nan, true);
}

TEST(RuntimeValueConversions, ValuesWithoutFormsFailWithTheirCodes) {
    for (const ValuePtr& value : {APMPRuntimeValue::emptyValue(), APMPControlValue::breakValue(),
                                  APMPStatementValue::make(u"15", {})}) {
        ErrorSlot error;
        EXPECT_EQ(value->stringValueOrError(error), u"");
        EXPECT_TRUE(hasPixieCode(error, PixieErrorCode::NoStringForm));
        error.reset();
        EXPECT_TRUE(std::isnan(value->doubleValueOrError(error)));
        EXPECT_TRUE(hasPixieCode(error, PixieErrorCode::NoNumberForm));
        error.reset();
        EXPECT_FALSE(value->booleanValueOrError(error));
        EXPECT_TRUE(hasPixieCode(error, PixieErrorCode::NoTruthiness));
    }
}

TEST(RuntimeValueConversions, SharedInstancesAreShared) {
    EXPECT_EQ(undefinedValue(), APMPUndefinedValue::sharedInstance());
    EXPECT_EQ(booleanValue(true), APMPBooleanValue::booleanValueWithBool(true));
    EXPECT_NE(booleanValue(true), booleanValue(false));
    EXPECT_NE(APMPNumberValue::make(1), APMPNumberValue::make(1));
}

std::shared_ptr<APMPMapValue> mapOf(std::initializer_list<std::pair<const char16_t*, ValuePtr>> entries) {
    auto map = std::make_shared<APMPMapValue>();
    for (const auto& [name, value] : entries) map->setValue(value, name);
    return map;
}

TEST(StructuralEquality, ComparesKindThenContents) {
    EXPECT_TRUE(number(1)->isEqualToRuntimeValue(*number(1)));
    EXPECT_TRUE(number(std::nan(""))->isEqualToRuntimeValue(*number(std::nan(""))));
    EXPECT_TRUE(number(0)->isEqualToRuntimeValue(*number(-0.0)));
    EXPECT_FALSE(number(1)->isEqualToRuntimeValue(*text(u"1")));
    EXPECT_TRUE(text(u"a")->isEqualToRuntimeValue(*text(u"a")));
    EXPECT_TRUE(undefinedValue()->isEqualToRuntimeValue(*std::make_shared<APMPUndefinedValue>()));
    EXPECT_FALSE(undefinedValue()->isEqualToRuntimeValue(*nullValue()));

    EXPECT_TRUE(mapOf({{u"a", number(1)}})->isEqualToRuntimeValue(*mapOf({{u"a", number(1)}})));
    EXPECT_TRUE(mapOf({{u"a", number(std::nan(""))}})->isEqualToRuntimeValue(*mapOf({{u"a", number(std::nan(""))}})));
    EXPECT_FALSE(mapOf({{u"a", number(1)}})->isEqualToRuntimeValue(*mapOf({{u"a", number(1)}, {u"b", number(2)}})));
    EXPECT_FALSE(mapOf({{u"a", number(1)}})->isEqualToRuntimeValue(*mapOf({{u"b", number(1)}})));

    EXPECT_TRUE(std::make_shared<APMPFunctionValue>(u"f")->isEqualToRuntimeValue(*std::make_shared<APMPFunctionValue>(u"f")));
    EXPECT_FALSE(std::make_shared<APMPFunctionValue>(u"")->isEqualToRuntimeValue(*std::make_shared<APMPFunctionValue>(u"")));

    EXPECT_TRUE(APMPControlValue::returnValueWithData(number(1))->isEqualToRuntimeValue(*APMPControlValue::returnValueWithData(number(1))));
    EXPECT_FALSE(APMPControlValue::returnValueWithData(nullptr)->isEqualToRuntimeValue(*APMPControlValue::breakValue()));
    EXPECT_TRUE(APMPStatementValue::make(u"0", {number(1)})->isEqualToRuntimeValue(*APMPStatementValue::make(u"0", {number(1)})));
    EXPECT_FALSE(APMPStatementValue::make(u"0", {number(1)})->isEqualToRuntimeValue(*APMPStatementValue::make(u"0", {})));
}

TEST(StructuralEquality, SelfContainingMapsCompareWithoutEndlessRecursion) {
    auto a = mapOf({{u"n", number(1)}});
    auto b = mapOf({{u"n", number(1)}});
    a->setValue(a, u"self");
    b->setValue(b, u"self");
    EXPECT_TRUE(a->isEqualToRuntimeValue(*b));
    b->setValue(number(2), u"n");
    EXPECT_FALSE(a->isEqualToRuntimeValue(*b));
    // Break the cycles so the test does not leak.
    a->removeValueForProperty(u"self");
    b->removeValueForProperty(u"self");
}

TEST(PropertyMap, ImmutableNamesAndTablesRefuseChangesSilently) {
    APMPPropertyMap map;
    map.setImmutableValue(number(1), u"c");
    map.setValue(number(2), u"c");
    map.removeValueForName(u"c");
    map.setImmutableValue(number(3), u"c");
    EXPECT_EQ(testing::describe(map.valueForName(u"c")), "1");

    map.setValue(number(4), u"v");
    map.makeImmutable();
    map.setValue(number(5), u"v");
    map.setValue(number(6), u"w");
    map.removeValueForName(u"v");
    EXPECT_EQ(testing::describe(map.valueForName(u"v")), "4");
    EXPECT_FALSE(map.hasName(u"w"));
    EXPECT_EQ(map.valueForName(u"w"), undefinedValue());
    EXPECT_EQ(map.allNames(), (std::vector<std::u16string>{u"c", u"v"}));
}

TEST(ScalarMethodCalls, UndefinedAndNullRefuseEveryMethod) {
    testing::expectPrograms({
        {R"~((2 (44) "toString" (7)))~", "error 7"},
        {R"~((2 (45) "hasOwnProperty" (7 1)))~", "error 7"},
        {R"~((2 1.5 "toString" (7)))~", R"~("1.5")~"},
        {R"~((2 1 "toFixed" (7)))~", "error 17"},
        {R"~((2 (8 "a" 1) "toString" (7 1 2 3)))~", R"~("[object Object]")~"},
    });
}

}  // namespace
}  // namespace measurement::rules
