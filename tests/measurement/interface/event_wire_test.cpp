#include "measurement/interface/APMEvent.h"

#include <cmath>
#include <limits>

#include "EventTestSupport.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageSlots.h"

using event_test::expectOneLine;
using event_test::MonitorCapture;
using event_test::object;

namespace {

constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
constexpr auto kMin = std::numeric_limits<std::int64_t>::min();

std::shared_ptr<APMPBEventParam> param(std::optional<std::string> name, std::optional<std::string> text,
                                       std::optional<std::int64_t> integer = std::nullopt) {
    auto message = APMPBEventParam::initWithMessageInfo(nullptr);
    if (name) APMPBSetString(*message, EventParamSlot::Name, *name);
    if (text) APMPBSetString(*message, EventParamSlot::StringValue, *text);
    if (integer) APMPBSetInt64(*message, EventParamSlot::IntValue, *integer);
    return message;
}

std::shared_ptr<APMPBEvent> message(const std::string& name, APMPBArray params) {
    auto event = APMPBEvent::initWithMessageInfo(nullptr);
    APMPBSetString(*event, EventSlot::Name, name);
    APMPBSetInt64(*event, EventSlot::Timestamp, 2500);
    APMPBSetArray(*event, EventSlot::Params, params);
    return event;
}

}  // namespace

TEST(EventWire, TimesInMillisecondsTruncatedAndSaturated) {
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double timestamp;
        double previous;
        std::int64_t millis;
        std::optional<std::int64_t> previousMillis;
    };
    const Case cases[] = {
        {1.0015, 0, 1001, std::nullopt},
        {1.0, 0.5, 1000, 500},
        {1.0, std::ldexp(1.0, -53), 1000, std::nullopt},
        {-1.0019, 0, -1001, std::nullopt},
        {nan, nan, 0, std::nullopt},
        {inf, inf, kMax, kMax},
        {-inf, 0, kMin, std::nullopt},
        {1e300, 0, kMax, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.timestamp);
        const auto event = APMEvent::initWithOrigin("app", false, "e", c.timestamp, c.previous, {});
        const auto proto = event->protoEvent();
        EXPECT_EQ(APMPBGetInt64(*proto, EventSlot::Timestamp), c.millis);
        EXPECT_EQ(APMPBHasField(*proto, EventSlot::PreviousTimestamp), c.previousMillis.has_value());
        if (c.previousMillis) {
            EXPECT_EQ(APMPBGetInt64(*proto, EventSlot::PreviousTimestamp), *c.previousMillis);
        }
    }
}

TEST(EventWire, RoundTripKeepsScalarsAndDropsItems) {
    MonitorCapture capture;
    const platform::PropertyArray items{platform::PropertyDictionary{{"item_id", "a"}},
                                        platform::PropertyDictionary{{"price", 2}}};
    const auto event = APMEvent::initWithOrigin("app+vtm", false, "purchase", 1.0015, 0.5,
                                                {{"s", object("text")}, {"i", object(7)}, {"d", object(0.25)},
                                                 {"items", object(items)}});
    const auto proto = event->protoEvent();
    const auto bytes = proto->protoBuffer();
    ASSERT_TRUE(bytes);
    const auto decodedMessage = APMPBEvent::initWithBuffer(bytes->span());
    ASSERT_TRUE(decodedMessage);

    const auto params = APMPBGetArray<APMPBEventParam>(*decodedMessage, EventSlot::Params);
    ASSERT_TRUE(params);
    ASSERT_EQ(params->size(), 5u);
    const auto& itemsParam = std::get<std::shared_ptr<NANOMessageBase>>((*params)[3]);
    EXPECT_EQ(APMPBGetArray<APMPBEventParam>(*itemsParam, EventParamSlot::ParamValue)->size(), 2u);

    const auto decoded = APMEvent::initWithEventProto(*decodedMessage);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->origin(), "app+vtm");
    EXPECT_EQ(decoded->name(), "purchase");
    EXPECT_DOUBLE_EQ(decoded->timestamp(), 1.001);
    EXPECT_DOUBLE_EQ(decoded->previousTimestamp(), 0.5);
    EXPECT_EQ(decoded->parameters(), (APMParameters{{"s", APMValue("text")}, {"i", APMValue(7)},
                                                    {"d", APMValue(0.25)}, {"_o", APMValue("app+vtm")}}));
    expectOneLine(capture, 15002,
                  "WARNING Unknown event parameter type from converting an event proto into APMEvent instance. Event "
                  "param name, items");
}

TEST(EventWire, OriginMustBeAString) {
    MonitorCapture capture;
    EXPECT_FALSE(APMEvent::initWithEventProto(*message("e", {param("_o", std::nullopt, 1)})));
    expectOneLine(capture, 15001,
                  "ERROR Cannot create an event from event proto. Origin parameter is not a string. Event name, e");
    EXPECT_FALSE(APMEvent::initWithEventProto(*message("e", {param("x", "y")})));  // no origin at all

    const auto unnamed = APMEvent::initWithEventProto(*message("e", {param(std::nullopt, "v"), param("_o", "auto")}));
    ASSERT_TRUE(unnamed);
    EXPECT_EQ(unnamed->parameters(), (APMParameters{{"_o", APMValue("auto")}}));
    expectOneLine(capture, 15000, "ERROR Ignoring parameter. Parameter name is nil. Event name, e");
}

TEST(EventWire, ParameterNamesAlreadyPresent) {
    MonitorCapture capture;
    const APMPBArray params{param("a", "1"), param("_o", "app")};
    EXPECT_FALSE(APMEventParamArrayContainsName(params, "b"));
    EXPECT_TRUE(capture.lines().empty());
    EXPECT_TRUE(APMEventParamArrayContainsName(params, "_o"));
    expectOneLine(capture, 23156, "WARNING Event parameter already exists. Parameter name, _o");
}
