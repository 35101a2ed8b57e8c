// UserAttribute: a user property to the wire, and its value as audience
// evaluation reads it.
#include <gtest/gtest.h>

#include <cmath>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/SemanticsTestSupport.h"
#include "measurement/messages/UserAttributeConversion.h"

TEST(UserAttributeToWire, AnIntegerFillsOnlyTheIntegerSlotAndReadsBackAsInteger) {
    auto message = APMPBUserAttributeFromUserAttribute(APMUserAttribute("app", "level", APMValue(12), 2.0049));
    EXPECT_EQ(APMPBGetString(*message, UserAttributeSlot::Name), "level");
    EXPECT_EQ(APMPBGetInt64(*message, UserAttributeSlot::SetTimestamp), 2004);
    EXPECT_EQ(APMPBGetInt64(*message, UserAttributeSlot::IntValue), 12);
    EXPECT_FALSE(APMPBHasField(*message, UserAttributeSlot::DoubleValue));
    EXPECT_FALSE(APMPBHasField(*message, UserAttributeSlot::StringValue));
    EXPECT_EQ(APMUserAttributeValueFromProto(*throughWire(*message)), APMValue(12));
}

TEST(UserAttributeToWire, DoublesAndStringsFillTheirSlots) {
    auto message = APMPBUserAttributeFromUserAttribute(APMUserAttribute("app", "score", APMValue(0.25), 1));
    EXPECT_EQ(APMPBGetDouble(*message, UserAttributeSlot::DoubleValue), 0.25);
    EXPECT_FALSE(APMPBHasField(*message, UserAttributeSlot::IntValue));
    message = APMPBUserAttributeFromUserAttribute(APMUserAttribute("app", "tier", APMValue("gold"), 1));
    EXPECT_EQ(APMUserAttributeValueFromProto(*message), APMValue("gold"));
}

TEST(UserAttributeToWire, AStoredTimeThatIsNoNumberDoesNotBreakTheConversion) {
    auto message = APMPBUserAttributeFromUserAttribute(APMUserAttribute("app", "x", APMValue(1), std::nan("")));
    EXPECT_EQ(APMPBGetInt64(*message, UserAttributeSlot::SetTimestamp), 0);
    message = APMPBUserAttributeFromUserAttribute(APMUserAttribute("app", "x", APMValue(1), HUGE_VAL));
    EXPECT_EQ(APMPBGetInt64(*message, UserAttributeSlot::SetTimestamp), std::numeric_limits<std::int64_t>::max());
}

TEST(UserAttributeValue, StringThenDoubleThenInteger) {
    auto message = newMessage<APMPBUserAttribute>();
    EXPECT_EQ(APMUserAttributeValueFromProto(*message), std::nullopt);
    APMPBSetInt64(*message, UserAttributeSlot::IntValue, 4);
    APMPBSetDouble(*message, UserAttributeSlot::DoubleValue, 6.5);
    EXPECT_EQ(APMUserAttributeValueFromProto(*message), APMValue(6.5));
    APMPBSetString(*message, UserAttributeSlot::StringValue, "s");
    EXPECT_EQ(APMUserAttributeValueFromProto(*message), APMValue("s"));
}
