#pragma once
// Conversions between a user property and the wire message UserAttribute.
//
// To the wire: the name, the set time in milliseconds (seconds x 1000,
// truncated, saturating) and the value: a double in the double value, an
// integer in the integer value, a string in the string value (an array has
// no wire form and is left out).
// From the wire, as audience evaluation reads it: the string value, else the
// double value, else the integer value, else nothing.

#include <memory>
#include <optional>

#include "measurement/messages/APMPBMessages.h"
#include "measurement/storage/APMUserAttribute.h"
#include "measurement/storage/APMValue.h"

std::shared_ptr<APMPBUserAttribute> APMPBUserAttributeFromUserAttribute(const APMUserAttribute& attribute);

[[nodiscard]] std::optional<APMValue> APMUserAttributeValueFromProto(const APMPBUserAttribute& attribute);
