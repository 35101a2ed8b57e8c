#include "measurement/messages/UserAttributeConversion.h"

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/ScalarValueSlots.h"
#include "measurement/storage/APMSaturatingConversion.h"

namespace {

// Audience evaluation reads the string, else the double, else the integer:
// unlike an event parameter, a double wins over an integer.
constexpr APMPBScalarSlots kValueSlots = {{{APMPBScalarKind::String, UserAttributeSlot::StringValue},
                                           {APMPBScalarKind::Double, UserAttributeSlot::DoubleValue},
                                           {APMPBScalarKind::Integer, UserAttributeSlot::IntValue}}};

}  // namespace

std::shared_ptr<APMPBUserAttribute> APMPBUserAttributeFromUserAttribute(const APMUserAttribute& attribute) {
    auto message = APMPBUserAttribute::initWithMessageInfo(nullptr);
    APMPBSetString(*message, UserAttributeSlot::Name, attribute.name());
    APMPBSetScalarValue(*message, kValueSlots, attribute.value());
    APMPBSetInt64(*message, UserAttributeSlot::SetTimestamp,
                  apm_millisecondsFromSeconds(attribute.lastSetTimestamp()));
    return message;
}

std::optional<APMValue> APMUserAttributeValueFromProto(const APMPBUserAttribute& attribute) {
    return APMPBGetScalarValue(attribute, kValueSlots);
}
