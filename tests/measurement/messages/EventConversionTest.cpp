// Event and EventParam: an event's contents to the wire and back.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/EventConversion.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/SemanticsTestSupport.h"

namespace {

std::vector<std::shared_ptr<APMPBEventParam>> paramsOf(const NANOMessageBase& message, int slot) {
    return APMPBGetMessages<APMPBEventParam>(message, slot);
}

std::shared_ptr<APMPBEventParam> namedParam(const std::string& name) {
    auto param = newMessage<APMPBEventParam>();
    APMPBSetString(*param, EventParamSlot::Name, name);
    return param;
}

std::shared_ptr<APMPBEvent> eventWithParams(const std::vector<std::shared_ptr<APMPBEventParam>>& params) {
    auto event = newMessage<APMPBEvent>();
    APMPBSetString(*event, EventSlot::Name, "purchase");
    APMPBSetArray(*event, EventSlot::Params, APMPBArrayOfMessages(params));
    return event;
}

}  // namespace

TEST(EventToWire, PreviousTimeIsWrittenOnlyAboveEpsilon) {
    auto event = APMPBEventWithContents("_e", 10.0, 0.0, {});
    EXPECT_FALSE(APMPBHasField(*event, EventSlot::PreviousTimestamp));
    event = APMPBEventWithContents("_e", 10.0, std::numeric_limits<double>::epsilon(), {});
    EXPECT_FALSE(APMPBHasField(*event, EventSlot::PreviousTimestamp));
    event = APMPBEventWithContents("_e", 10.0, 0.5, {});
    EXPECT_EQ(APMPBGetInt64(*event, EventSlot::PreviousTimestamp), 500);
}

TEST(EventToWire, TimesAreTruncatedMilliseconds) {
    auto event = APMPBEventWithContents("_e", 1.0015, 0, {});
    EXPECT_EQ(APMPBGetInt64(*event, EventSlot::Timestamp), 1001);
    EXPECT_EQ(APMPBGetString(*event, EventSlot::Name), "_e");
}

TEST(EventToWire, TimesOutsideTheIntegerRangeSaturate) {
    auto event = APMPBEventWithContents("_e", std::nan(""), 1e300, {});
    EXPECT_EQ(APMPBGetInt64(*event, EventSlot::Timestamp), 0);
    EXPECT_EQ(APMPBGetInt64(*event, EventSlot::PreviousTimestamp), std::numeric_limits<std::int64_t>::max());
    event = APMPBEventWithContents("_e", -std::numeric_limits<double>::infinity(), 0, {});
    EXPECT_EQ(APMPBGetInt64(*event, EventSlot::Timestamp), std::numeric_limits<std::int64_t>::min());
}

TEST(EventToWire, ScalarsFillTheirOwnValueSlotInDictionaryOrder) {
    APMParameters parameters{{"value", APMValue(2.5)}, {"count", APMValue(7)}, {"currency", APMValue("EUR")}};
    auto params = paramsOf(*APMPBEventWithContents("purchase", 1, 0, parameters), EventSlot::Params);
    ASSERT_EQ(params.size(), 3u);
    EXPECT_EQ(APMPBGetString(*params[0], EventParamSlot::Name), "value");
    EXPECT_EQ(APMPBGetDouble(*params[0], EventParamSlot::DoubleValue), 2.5);
    EXPECT_FALSE(APMPBHasField(*params[0], EventParamSlot::IntValue));
    EXPECT_EQ(APMPBGetString(*params[1], EventParamSlot::Name), "count");
    EXPECT_EQ(APMPBGetInt64(*params[1], EventParamSlot::IntValue), 7);
    EXPECT_FALSE(APMPBHasField(*params[1], EventParamSlot::DoubleValue));
    EXPECT_EQ(APMPBGetString(*params[2], EventParamSlot::StringValue), "EUR");
}

TEST(EventToWire, ItemsBecomeUnnamedParamsAndNestedArraysAreDropped) {
    MonitorCapture monitor;
    std::vector<APMParameters> items{
        {{"item_id", APMValue("a")}, {"quantity", APMValue(2)}},
        {{"item_id", APMValue("b")}, {"inner", APMValue(std::vector<APMParameters>{{{"x", APMValue(1)}}})}},
    };
    auto params = paramsOf(*APMPBEventWithContents("purchase", 1, 0, {{"items", APMValue(items)}}), EventSlot::Params);
    ASSERT_EQ(params.size(), 1u);
    EXPECT_EQ(APMPBGetString(*params[0], EventParamSlot::Name), "items");
    auto elements = paramsOf(*params[0], EventParamSlot::ParamValue);
    ASSERT_EQ(elements.size(), 2u);
    for (const auto& element : elements) {
        EXPECT_FALSE(APMPBHasField(*element, EventParamSlot::Name));
    }
    auto first = paramsOf(*elements[0], EventParamSlot::ParamValue);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(APMPBGetString(*first[0], EventParamSlot::StringValue), "a");
    EXPECT_EQ(APMPBGetInt64(*first[1], EventParamSlot::IntValue), 2);
    auto second = paramsOf(*elements[1], EventParamSlot::ParamValue);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(APMPBGetString(*second[0], EventParamSlot::Name), "item_id");
    auto lines = monitor.linesWithCode(16007);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Nested params cannot have more than 1 level. Event name, param name"), std::string::npos);
    EXPECT_NE(lines[0].find("inner"), std::string::npos);
}

TEST(EventFromWire, OriginComesFromUnderscoreOAndIsNoParameter) {
    auto origin = namedParam("_o");
    APMPBSetString(*origin, EventParamSlot::StringValue, "app");
    auto value = namedParam("value");
    APMPBSetDouble(*value, EventParamSlot::DoubleValue, 1.25);
    auto event = eventWithParams({origin, value});
    APMPBSetInt64(*event, EventSlot::Timestamp, 1500);
    APMPBSetInt64(*event, EventSlot::PreviousTimestamp, 500);
    auto contents = APMEventContentsFromProto(*throughWire(*event));
    ASSERT_TRUE(contents.has_value());
    EXPECT_EQ(contents->origin, "app");
    EXPECT_EQ(contents->name, "purchase");
    EXPECT_EQ(contents->timestamp, 1.5);
    EXPECT_EQ(contents->previousTimestamp, 0.5);
    EXPECT_EQ(contents->parameters, (APMParameters{{"value", APMValue(1.25)}}));
}

TEST(EventFromWire, StringWinsOverIntegerWinsOverDouble) {
    auto both = namedParam("both");
    APMPBSetString(*both, EventParamSlot::StringValue, "s");
    APMPBSetInt64(*both, EventParamSlot::IntValue, 3);
    auto number = namedParam("number");
    APMPBSetInt64(*number, EventParamSlot::IntValue, 3);
    APMPBSetDouble(*number, EventParamSlot::DoubleValue, 4.5);
    auto contents = APMEventContentsFromProto(*eventWithParams({both, number}));
    ASSERT_TRUE(contents.has_value());
    EXPECT_EQ(contents->origin, std::nullopt);
    EXPECT_EQ(contents->parameters, (APMParameters{{"both", APMValue("s")}, {"number", APMValue(3)}}));
}

TEST(EventFromWire, ArraysFloatsAndUnnamedParamsAreNotReadBack) {
    MonitorCapture monitor;
    APMParameters parameters{{"items", APMValue(std::vector<APMParameters>{{{"id", APMValue("a")}}})},
                             {"kept", APMValue(1)}};
    auto event = APMPBEventWithContents("purchase", 1, 0, parameters);
    auto params = paramsOf(*event, EventSlot::Params);
    auto floatOnly = namedParam("ratio");
    APMPBSetFloat(*floatOnly, 3, 0.5f);
    params.push_back(floatOnly);
    params.push_back(newMessage<APMPBEventParam>());
    APMPBSetArray(*event, EventSlot::Params, APMPBArrayOfMessages(params));

    auto contents = APMEventContentsFromProto(*throughWire(*event));
    ASSERT_TRUE(contents.has_value());
    EXPECT_EQ(contents->parameters, (APMParameters{{"kept", APMValue(1)}}));
    EXPECT_EQ(monitor.linesWithCode(15002).size(), 2u);
    EXPECT_EQ(monitor.linesWithCode(15000).size(), 1u);
}

TEST(EventFromWire, OriginWithoutStringRefusesTheEvent) {
    MonitorCapture monitor;
    auto origin = namedParam("_o");
    APMPBSetInt64(*origin, EventParamSlot::IntValue, 1);
    EXPECT_EQ(APMEventContentsFromProto(*eventWithParams({origin})), std::nullopt);
    auto lines = monitor.linesWithCode(15001);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Origin parameter is not a string"), std::string::npos);
}

TEST(EventFromWire, ALaterDuplicateNameReplacesTheEarlierValue) {
    auto first = namedParam("x");
    APMPBSetInt64(*first, EventParamSlot::IntValue, 1);
    auto second = namedParam("x");
    APMPBSetInt64(*second, EventParamSlot::IntValue, 2);
    auto contents = APMEventContentsFromProto(*eventWithParams({first, second}));
    ASSERT_TRUE(contents.has_value());
    EXPECT_EQ(contents->parameters, (APMParameters{{"x", APMValue(2)}}));
}
