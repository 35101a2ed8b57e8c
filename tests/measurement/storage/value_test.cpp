#include "measurement/storage/APMValue.h"

#include <limits>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "StorageTestSupport.h"
#include "measurement/storage/APMUserAttribute.h"

using storage_test::MonitorCapture;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

std::optional<APMValue> fromProperty(platform::PropertyValue property, bool allowArray = false) {
    APMObject object = std::move(property);
    return APMValue::valueFromObject(&object, allowArray);
}

}  // namespace

TEST(ValueKinds, ExactlyOneKindAnswersAndOtherReadersGiveDefaults) {
    APMValue text("abc");
    EXPECT_TRUE(text.isString());
    EXPECT_FALSE(text.isInt64() || text.isDouble() || text.isArray());
    EXPECT_EQ(text.int64Value(), 0);
    EXPECT_EQ(text.doubleValue(), 0.0);
    EXPECT_EQ(text.arrayValue(), nullptr);
    EXPECT_EQ(static_cast<int>(APMValue(std::vector<APMParameters>{}).kind()), 3);
    EXPECT_EQ(APMValue(7).stringValue(), nullptr);
    EXPECT_EQ(APMValue(7).doubleValue(), 7.0);
}

TEST(ValueKinds, IntegerReadOfADoubleTruncatesAndSaturates) {
    EXPECT_EQ(APMValue(2.9).int64Value(), 2);
    EXPECT_EQ(APMValue(-2.9).int64Value(), -2);
    EXPECT_EQ(APMValue(1e30).int64Value(), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(APMValue(-1e30).int64Value(), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(APMValue(std::numeric_limits<double>::quiet_NaN()).int64Value(), 0);
}

TEST(ValueFromObject, NumbersAndStringsConvert) {
    MonitorCapture capture;
    EXPECT_EQ(fromProperty(platform::PropertyValue(2.5)), APMValue(2.5));
    EXPECT_EQ(fromProperty(platform::PropertyValue(3)), APMValue(3));
    EXPECT_EQ(fromProperty(platform::PropertyValue(true)), APMValue(1));
    EXPECT_EQ(fromProperty(platform::PropertyValue("x")), APMValue("x"));
    APMObject value = APMValue("kept");
    EXPECT_EQ(APMValue::valueFromObject(&value), APMValue("kept"));
    EXPECT_THAT(capture.lines(), IsEmpty());
}

TEST(ValueFromObject, NilAndForeignObjectsAreRefusedWithTheirCodes) {
    MonitorCapture capture;
    EXPECT_EQ(APMValue::valueFromObject(nullptr), std::nullopt);
    EXPECT_EQ(fromProperty(platform::PropertyValue(platform::PropertyDate{1})), std::nullopt);
    EXPECT_EQ(fromProperty(platform::PropertyValue(platform::PropertyDictionary{})), std::nullopt);
    EXPECT_THAT(capture.linesWithCode(35000), ElementsAre(HasSubstr("ERROR I-ACS035000 Cannot create Value type with nil value")));
    EXPECT_EQ(capture.linesWithCode(35001).size(), 2u);
}

TEST(ValueFromObject, ArraysOnlyWhenAllowed) {
    MonitorCapture capture;
    platform::PropertyArray items{
        platform::PropertyValue(platform::PropertyDictionary{{"item_id", platform::PropertyValue("sku")},
                                                             {"price", platform::PropertyValue(9.5)},
                                                             {"when", platform::PropertyValue(platform::PropertyDate{1})}}),
        platform::PropertyValue("not a dictionary"),
    };
    EXPECT_EQ(fromProperty(platform::PropertyValue(items)), std::nullopt);
    EXPECT_EQ(capture.linesWithCode(35001).size(), 1u);
    auto value = fromProperty(platform::PropertyValue(items), true);
    ASSERT_TRUE(value && value->isArray());
    EXPECT_THAT(*value->arrayValue(),
                ElementsAre(APMParameters{{"item_id", APMValue("sku")}, {"price", APMValue(9.5)}}));
}

TEST(Parameters, KeepInsertionOrderAndReplaceInPlace) {
    APMParameters parameters{{"b", APMValue(1)}, {"a", APMValue(2)}};
    parameters.set("b", APMValue(3));
    parameters.set("c", APMValue(4));
    std::vector<std::string> names;
    for (const auto& [name, value] : parameters) names.push_back(name);
    EXPECT_THAT(names, ElementsAre("b", "a", "c"));
    EXPECT_EQ(*parameters.find("b"), APMValue(3));
    EXPECT_TRUE(parameters.erase("a"));
    EXPECT_FALSE(parameters.erase("a"));
    EXPECT_EQ(parameters, (APMParameters{{"c", APMValue(4)}, {"b", APMValue(3)}}));
    EXPECT_NE(parameters, (APMParameters{{"c", APMValue(4)}, {"b", APMValue(3.0)}}));
}

TEST(Descriptions, PrintNestedValuesIndented) {
    APMParameters item{{"item_id", APMValue("sku")}};
    APMParameters parameters{{"value", APMValue(1.5)}, {"items", APMValue(std::vector<APMParameters>{item})}};
    EXPECT_EQ(APMObjectDescription(parameters),
              "{\n    value = 1.5;\n    items = (\n        {\n            item_id = sku;\n        },\n    );\n}");
}

TEST(UserAttribute, IsPublicUnlessEmptyOrUnderscored) {
    EXPECT_TRUE(APMUserAttribute("app", "favorite_food", APMValue("pizza"), 1.0).isPublic());
    EXPECT_FALSE(APMUserAttribute("auto", "_fot", APMValue(1), 1.0).isPublic());
    EXPECT_FALSE(APMUserAttribute("app", "", APMValue(1), 1.0).isPublic());
}
