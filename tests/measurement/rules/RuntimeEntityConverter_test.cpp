// Program entities to runtime values, and runtime values to and from plain
// objects.

#include <gtest/gtest.h>

#include "ProgramMessage.h"
#include "ProgramText.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/rules/APMPArrayValue.h"
#include "measurement/rules/APMPMapValue.h"
#include "measurement/rules/APMPRuntimeEntityConverter.h"
#include "measurement/rules/APMPScope.h"
#include "measurement/rules/ScalarValues.h"

namespace measurement::rules::testing {
namespace {

using platform::PropertyValue;
using Converter = APMPRuntimeEntityConverter;

std::shared_ptr<APMPBRuntimeEntity> entityOfType(std::optional<int> type) {
    auto entity = APMPBRuntimeEntity::initWithMessageInfo(nullptr);
    if (type) APMPBSetInt32(*entity, 0, *type);
    return entity;
}

std::string converted(const APMPBRuntimeEntity& entity) {
    ErrorSlot error;
    const ValuePtr value = Converter::runtimeValueFromRuntimeEntity(entity, error);
    return describeOutcome(value, error);
}

TEST(RuntimeEntityConversion, LiteralsTakeDefaultsForAbsentFields) {
    EXPECT_EQ(converted(*entityOfType(1)), R"~("")~");
    EXPECT_EQ(converted(*entityOfType(2)), "NaN");
    EXPECT_EQ(converted(*entityOfType(3)), "false");
    EXPECT_EQ(converted(*entityOfType(4)), "error 14");
    EXPECT_EQ(converted(*entityOfType(std::nullopt)), "error 12");
    EXPECT_EQ(converted(*entityOfType(0)), "error 12");
    EXPECT_EQ(converted(*entityOfType(7)), "error 12");
}

TEST(RuntimeEntityConversion, StatementsConvertWholeAndFailOnABadArgument) {
    const auto statement = entityFromValue(parseProgram(R"~((0 "a" (26 2 true)))~")[0]);
    EXPECT_EQ(converted(*statement), "(0 ...)");
    APMPBArray arguments = *APMPBGetArray<APMPBRuntimeEntity>(*statement, 1);
    arguments.emplace_back(std::shared_ptr<NANOMessageBase>(entityOfType(7)));
    APMPBSetArray(*statement, 1, arguments);
    EXPECT_EQ(converted(*statement), "error 12");
}

TEST(RuntimeEntityConversion, DeepNestingFailsInsteadOfExhaustingTheStack) {
    auto entity = entityOfType(2);
    for (int i = 0; i < 1100; ++i) {
        auto parent = entityOfType(4);
        APMPBSetString(*parent, 2, "34");
        APMPBSetArray(*parent, 1, APMPBArray{std::shared_ptr<NANOMessageBase>(entity)});
        entity = parent;
    }
    EXPECT_EQ(converted(*entity), "error 19");
}

TEST(ProgramSize, EveryEntityOfTopLevelAndActivitiesCounts) {
    // Top level: (0 (0 1 2) "a") is 5 entities; the activities add (8 "k" true)
    // and 7, 4 more; a statement without arguments is one.
    const auto program = encodedProgram(R"~((0 (0 1 2) "a") (45))~", {{"x", R"~((8 "k" true))~"}, {"y", "7"}});
    EXPECT_EQ(Converter::programEntityCount(*program, 1000), 10u);
    // Counting stops once past the limit.
    EXPECT_EQ(Converter::programEntityCount(*program, 3), 4u);
    EXPECT_EQ(Converter::programEntityCount(*program, 10), 10u);
    EXPECT_EQ(Converter::programEntityCount(*encodedProgram(""), 10), 0u);
}

class ObjectConversion : public ::testing::Test {
protected:
    APMPRuntime runtime;
    std::string fromObject(const PropertyValue* object) {
        ErrorSlot error;
        return describeOutcome(Converter::runtimeValueFromNSObject(object, runtime.globalScope(), error), error);
    }
    std::optional<PropertyValue> toObject(const char* program) {
        ErrorSlot error;
        const ValuePtr value = runtime.executeStatements(parseProgram(program), error);
        EXPECT_FALSE(error) << program;
        auto object = Converter::objectFromRuntimeValue(*value, error);
        EXPECT_FALSE(error) << program;
        return object;
    }
};

TEST_F(ObjectConversion, PlainObjectsBecomeRuntimeValues) {
    EXPECT_EQ(fromObject(nullptr), "null");
    const PropertyValue yes(true), integer(7LL), real(2.5), text("ab"), data(platform::PropertyData{1}),
        date(platform::PropertyDate{1}), array(platform::PropertyArray{1LL, "x"}),
        dictionary(platform::PropertyDictionary{{"7", 1LL}, {"b", platform::PropertyArray{}}});
    EXPECT_EQ(fromObject(&yes), "true");
    EXPECT_EQ(fromObject(&integer), "7");
    EXPECT_EQ(fromObject(&real), "2.5");
    EXPECT_EQ(fromObject(&text), R"~("ab")~");
    EXPECT_EQ(fromObject(&array), R"~([1,"x"])~");
    EXPECT_EQ(fromObject(&dictionary), "{7:1,b:[]}");
    EXPECT_EQ(fromObject(&data), "error 13");
    EXPECT_EQ(fromObject(&date), "error 13");
}

TEST_F(ObjectConversion, RuntimeValuesBecomePlainObjects) {
    EXPECT_EQ(toObject("(45)"), std::nullopt);
    EXPECT_EQ(toObject("(44)"), PropertyValue(""));
    EXPECT_EQ(toObject(R"~("3.5")~"), PropertyValue(3.5));
    EXPECT_EQ(toObject(R"~("abc")~"), PropertyValue("abc"));
    EXPECT_EQ(toObject("true"), PropertyValue(1.0));
    EXPECT_EQ(toObject("NaN"), PropertyValue("NaN"));
    EXPECT_EQ(toObject(R"~((51 "f" (7)))~"), PropertyValue("f"));
    EXPECT_EQ(toObject(R"~((7 1 (45) "x"))~"), PropertyValue(platform::PropertyArray{1.0, "x"}));
    EXPECT_EQ(toObject(R"~((8 "a" 1 "b" (45) "c" (7)))~"),
              PropertyValue(platform::PropertyDictionary{{"a", 1.0}, {"c", platform::PropertyArray{}}}));
}

TEST_F(ObjectConversion, SelfContainingValuesLeaveOutTheRecurrence) {
    EXPECT_EQ(toObject(R"~((41 "a") (3 "a" (7 1)) (2 (15 "a") "push" (7 (15 "a"))) (15 "a"))~"),
              PropertyValue(platform::PropertyArray{1.0}));
    EXPECT_EQ(toObject(R"~((41 "m") (3 "m" (8 "x" 1)) (43 (15 "m") "self" (15 "m")) (15 "m"))~"),
              PropertyValue(platform::PropertyDictionary{{"x", 1.0}}));
}

TEST_F(ObjectConversion, AMapWithAnUnconvertibleMemberAnswersWhatWasBuilt) {
    ErrorSlot error;
    auto map = std::make_shared<APMPMapValue>();
    map->setValue(APMPNumberValue::make(1), u"a");
    map->setValue(APMPRuntimeValue::emptyValue(), u"b");
    const auto dictionary = Converter::dictionaryFromMapValue(*map, error);
    EXPECT_TRUE(hasPixieCode(error, PixieErrorCode::NoNumberForm));
    EXPECT_EQ(dictionary, (platform::PropertyDictionary{{"a", 1.0}}));
}

}  // namespace
}  // namespace measurement::rules::testing
