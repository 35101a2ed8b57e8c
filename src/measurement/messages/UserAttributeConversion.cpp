#include "measurement/messages/UserAttributeConversion.h"

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/storage/APMSaturatingConversion.h"

std::shared_ptr<APMPBUserAttribute> APMPBUserAttributeFromUserAttribute(const APMUserAttribute& attribute) {
    auto message = APMPBUserAttribute::initWithMessageInfo(nullptr);
    APMPBSetString(*message, UserAttributeSlot::Name, attribute.name());
    const APMValue& value = attribute.value();
    if (value.isDouble()) {
        APMPBSetDouble(*message, UserAttributeSlot::DoubleValue, value.doubleValue());
    } else if (value.isInt64()) {
        APMPBSetInt64(*message, UserAttributeSlot::IntValue, value.int64Value());
    } else if (const std::string* text = value.stringValue()) {
        APMPBSetString(*message, UserAttributeSlot::StringValue, *text);
    }
    APMPBSetInt64(*message, UserAttributeSlot::SetTimestamp,
                  apm_millisecondsFromSeconds(attribute.lastSetTimestamp()));
    return message;
}

std::optional<APMValue> APMUserAttributeValueFromProto(const APMPBUserAttribute& attribute) {
    if (auto text = APMPBGetString(attribute, UserAttributeSlot::StringValue)) {
        return APMValue(std::move(*text));
    }
    if (APMPBHasField(attribute, UserAttributeSlot::DoubleValue)) {
        return APMValue(APMPBGetDouble(attribute, UserAttributeSlot::DoubleValue));
    }
    if (APMPBHasField(attribute, UserAttributeSlot::IntValue)) {
        return APMValue(APMPBGetInt64(attribute, UserAttributeSlot::IntValue));
    }
    return std::nullopt;
}
