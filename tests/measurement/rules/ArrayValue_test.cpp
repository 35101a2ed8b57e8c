// The array data model: keys, holes, length, named properties, string form.

#include <gtest/gtest.h>

#include <cmath>

#include "ProgramText.h"
#include "measurement/rules/APMPArrayValue.h"
#include "measurement/rules/APMPControlValue.h"
#include "measurement/rules/ExecutionLimits.h"
#include "measurement/rules/ScalarValues.h"
#include "measurement/rules/Utf16Text.h"

namespace measurement::rules {
namespace {

using testing::describe;

ValuePtr number(double v) { return APMPNumberValue::make(v); }
ValuePtr text(const char16_t* v) { return APMPStringValue::make(v); }

std::shared_ptr<APMPArrayValue> arrayOf(ValueList slots) { return std::make_shared<APMPArrayValue>(std::move(slots)); }

std::string names(const APMPArrayValue& array) {
    std::string out;
    for (const auto& name : array.allPropertyNames()) out += utf8FromUtf16(name) + " ";
    return out;
}

TEST(ArrayKeys, IndexesGrowTheArrayWithHoles) {
    APMPArrayValue array;
    ErrorSlot error;
    ASSERT_TRUE(array.setValueForProperty(number(9), *number(5), error));
    EXPECT_EQ(array.count(), 6u);
    EXPECT_EQ(describe(array.valueForProperty(*number(2), error)), "undefined");
    EXPECT_FALSE(array.hasProperty(*number(2), error));
    EXPECT_TRUE(array.hasProperty(*number(5), error));
    EXPECT_TRUE(array.hasProperty(*text(u"5"), error));
    EXPECT_FALSE(array.hasProperty(*number(6), error));
    EXPECT_EQ(describe(array.valueForProperty(*text(u"length"), error)), "6");
    EXPECT_EQ(names(array), "5 ");
    EXPECT_FALSE(error);
}

TEST(ArrayKeys, NonIndexKeysNamePropertiesListedBeforeIndexes) {
    auto array = arrayOf({number(10), number(11)});
    ErrorSlot error;
    ASSERT_TRUE(array->setValueForProperty(text(u"a"), *number(1.5), error));
    ASSERT_TRUE(array->setValueForProperty(text(u"b"), *number(-1), error));
    ASSERT_TRUE(array->setValueForProperty(text(u"c"), *text(u"1"), error));
    ASSERT_TRUE(array->setValueForProperty(text(u"d"), *number(-0.0), error));
    EXPECT_FALSE(error);
    EXPECT_EQ(describe(array), R"~(["d","c"])~");
    EXPECT_EQ(names(*array), "-1 1.5 0 1 ");
    EXPECT_EQ(describe(array->valueForProperty(*text(u"1.5"), error)), R"~("a")~");
    // Only the string "length" is the length key; a number never is.
    EXPECT_EQ(describe(array->valueForProperty(*number(2), error)), "undefined");
}

TEST(ArrayKeys, LengthShrinksGrowsOrRefusesBadValues) {
    auto array = arrayOf({number(1), number(2), number(3), number(4), number(5)});
    ErrorSlot error;
    ASSERT_TRUE(array->setValueForProperty(number(2), *text(u"length"), error));
    EXPECT_EQ(describe(array), "[1,2]");
    ASSERT_TRUE(array->setValueForProperty(text(u"4"), *text(u"length"), error));
    EXPECT_EQ(describe(array), "[1,2,,]");
    for (const ValuePtr& bad : {number(-1), number(1.5), text(u"x"), booleanValue(true), nullValue()}) {
        ErrorSlot refused;
        EXPECT_FALSE(array->setValueForProperty(bad, *text(u"length"), refused));
        EXPECT_TRUE(hasPixieCode(refused, PixieErrorCode::InvalidArrayLength)) << describe(bad);
    }
    EXPECT_EQ(array->count(), 4u);
}

TEST(ArrayKeys, RemovingLeavesAHoleAndKeepsTheCount) {
    auto array = arrayOf({number(1), number(2)});
    ErrorSlot error;
    ASSERT_TRUE(array->setValueForProperty(number(7), *text(u"p"), error));
    array->removeValueForProperty(*number(0), error);
    array->removeValueForProperty(*number(9), error);
    array->removeValueForProperty(*text(u"length"), error);
    array->removeValueForProperty(*text(u"p"), error);
    EXPECT_FALSE(error);
    EXPECT_EQ(describe(array), "[,2]");
    EXPECT_EQ(array->count(), 2u);
    EXPECT_EQ(names(*array), "1 ");
    EXPECT_EQ(describe(std::make_shared<APMPArrayValue>(array->allElements())), "[undefined,2]");
}

TEST(ArrayStringForm, JoinsWithEmptyPiecesForNothing) {
    auto array = arrayOf({undefinedValue(), nullValue(), number(1), APMPRuntimeValue::emptyValue()});
    ErrorSlot error;
    EXPECT_EQ(array->stringValueWithSeparator(u"-", error), u"--1-");
    EXPECT_EQ(array->stringValueOrError(error), u",,1,");
    EXPECT_EQ(arrayOf({})->stringValueWithSeparator(u"-", error), u"");
    EXPECT_EQ(arrayOf({number(1), arrayOf({number(2), arrayOf({number(3)})})})->stringValueWithSeparator(u"; ", error),
              u"1; 2,3");
    EXPECT_FALSE(error);
}

TEST(ArrayStringForm, AnArrayInsideItselfIsAnEmptyPiece) {
    auto array = arrayOf({number(1)});
    ErrorSlot error;
    ASSERT_TRUE(array->setValueForProperty(array, *number(1), error));
    auto outer = arrayOf({array, number(2)});
    EXPECT_EQ(array->stringValueOrError(error), u"1,");
    EXPECT_EQ(outer->stringValueOrError(error), u"1,,2");
    EXPECT_TRUE(std::isnan(array->doubleValueOrError(error)));
    EXPECT_FALSE(error);
    EXPECT_TRUE(array->isEqualToRuntimeValue(*array));
    EXPECT_TRUE(array->setLength(0, error));  // break the cycle
}

TEST(ArrayStringForm, AFailingElementGivesTheEmptyStringWithTheError) {
    auto array = arrayOf({number(1), APMPControlValue::breakValue()});
    ErrorSlot error;
    EXPECT_EQ(array->stringValueOrError(error), u"");
    EXPECT_TRUE(hasPixieCode(error, PixieErrorCode::NoStringForm));
}

TEST(ArrayValues, SubarrayClampsAndKeepsHoles) {
    auto array = arrayOf({number(1), APMPRuntimeValue::emptyValue(), number(3)});
    ErrorSlot error;
    ASSERT_TRUE(array->setValueForProperty(number(0), *text(u"p"), error));
    EXPECT_EQ(describe(array->subarrayWithRange(1, 5)), "[,3]");
    EXPECT_EQ(describe(array->subarrayWithRange(7, 1)), "[]");
    EXPECT_EQ(names(*array->subarrayWithRange(0, 3)), "0 2 ");
}

TEST(ArrayValues, EqualityComparesSlotsAndHoles) {
    const ValuePtr hole = APMPRuntimeValue::emptyValue();
    EXPECT_TRUE(arrayOf({number(1), hole})->isEqualToRuntimeValue(*arrayOf({number(1), hole})));
    EXPECT_FALSE(arrayOf({hole})->isEqualToRuntimeValue(*arrayOf({undefinedValue()})));
    EXPECT_FALSE(arrayOf({number(1)})->isEqualToRuntimeValue(*arrayOf({number(1), number(2)})));
    auto named = arrayOf({number(1)});
    ErrorSlot error;
    ASSERT_TRUE(named->setValueForProperty(number(1), *text(u"p"), error));
    EXPECT_TRUE(named->isEqualToRuntimeValue(*arrayOf({number(1)})));
}

TEST(ArrayLimits, GrowingPastTheCapFails) {
    APMPArrayValue array;
    ErrorSlot error;
    EXPECT_FALSE(array.setValueForProperty(number(1), *number(1e15), error));
    EXPECT_TRUE(hasPixieCode(error, PixieErrorCode::SizeLimitExceeded));
    error.reset();
    EXPECT_FALSE(array.setValueForProperty(number(1), *number(1e300), error));
    EXPECT_TRUE(hasPixieCode(error, PixieErrorCode::SizeLimitExceeded));
    error.reset();
    EXPECT_FALSE(array.setLength(kMaxArrayLength + 1, error));
    EXPECT_TRUE(hasPixieCode(error, PixieErrorCode::SizeLimitExceeded));
    error.reset();
    EXPECT_TRUE(array.setLength(kMaxArrayLength, error));
    EXPECT_EQ(array.count(), kMaxArrayLength);
}

TEST(ArrayLimits, DeeplyNestedArraysFailCleanlyAndReleaseWithoutRecursion) {
    auto outer = arrayOf({});
    ValuePtr head = outer;
    for (int i = 0; i < 200'000; ++i) head = arrayOf({head});
    ErrorSlot error;
    EXPECT_EQ(head->stringValueOrError(error), u"");
    EXPECT_TRUE(hasPixieCode(error, PixieErrorCode::NestingTooDeep));
    EXPECT_FALSE(head->isEqualToRuntimeValue(*arrayOf({})));
    const std::weak_ptr<APMPRuntimeValue> innermost = outer;
    outer.reset();
    head.reset();  // 200 000 nested destructions, one at a time
    EXPECT_TRUE(innermost.expired());
}

}  // namespace
}  // namespace measurement::rules
