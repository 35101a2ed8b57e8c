#pragma once
// The two functions of the experiment format's Flag message: reading its one
// typed value, and making a flag from a name and a value.

#include <memory>
#include <optional>

#include "measurement/messages/APMPBMessages.h"
#include "measurement/messages/APMPBObject.h"
#include "measurement/messages/ExperimentLogger.h"

// Flag slots.
namespace FlagSlot {
inline constexpr int Name = 0;
inline constexpr int IntValue = 1;
inline constexpr int StringValue = 2;
inline constexpr int DoubleValue = 3;
inline constexpr int BoolValue = 4;
}  // namespace FlagSlot

// The first present of the integer, double, string and Boolean values (as a
// number or string); nothing for no flag or a flag without a value.
std::optional<APMPBObject> APMPBFlagValue(const APMPBFlag* flag);

// A flag named `name` holding `value`: a string as the string value, a
// floating-point number as the double value, any other number (Booleans
// included) as the integer value. Refusals are logged to `logger` (codes
// 850000-850002) and answer null.
std::shared_ptr<APMPBFlag> APMPBFlagWithNameValue(const std::optional<APMPBObject>& name,
                                                  const std::optional<APMPBObject>& value, ExperimentLogger& logger);
