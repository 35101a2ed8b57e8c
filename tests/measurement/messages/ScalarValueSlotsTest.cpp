// A scalar value read from the wire when the message carries several kinds
// at once: event parameters and user properties prefer them differently.
#include <gtest/gtest.h>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/EventConversion.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/SemanticsTestSupport.h"
#include "measurement/messages/UserAttributeConversion.h"

TEST(ScalarValueFromWire, EventParamsPreferTheIntegerAndUserPropertiesTheDouble) {
    struct Case {
        bool string, integer, real;
        APMValue eventValue, userValue;
    };
    const Case cases[] = {
        {true, true, true, APMValue("s"), APMValue("s")},
        {false, true, true, APMValue(3), APMValue(4.5)},
        {true, false, true, APMValue("s"), APMValue("s")},
        {true, true, false, APMValue("s"), APMValue("s")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.string << c.integer << c.real);
        auto param = newMessage<APMPBEventParam>();
        APMPBSetString(*param, EventParamSlot::Name, "p");
        auto attribute = newMessage<APMPBUserAttribute>();
        if (c.string) {
            APMPBSetString(*param, EventParamSlot::StringValue, "s");
            APMPBSetString(*attribute, UserAttributeSlot::StringValue, "s");
        }
        if (c.integer) {
            APMPBSetInt64(*param, EventParamSlot::IntValue, 3);
            APMPBSetInt64(*attribute, UserAttributeSlot::IntValue, 3);
        }
        if (c.real) {
            APMPBSetDouble(*param, EventParamSlot::DoubleValue, 4.5);
            APMPBSetDouble(*attribute, UserAttributeSlot::DoubleValue, 4.5);
        }

        auto params = APMParametersFromEventParams(APMPBArrayOfMessages<APMPBEventParam>({throughWire(*param)}), "e");
        ASSERT_TRUE(params.has_value());
        EXPECT_EQ(params->parameters, (APMParameters{{"p", c.eventValue}}));
        EXPECT_EQ(APMUserAttributeValueFromProto(*throughWire(*attribute)), c.userValue);
    }
}
