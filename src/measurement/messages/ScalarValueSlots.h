#pragma once
// The scalar value of a message that keeps a string, an integer and a double
// in slots of their own (EventParam, UserAttribute). Writing fills the one
// slot of the value's kind; reading takes the first present slot in the
// order the message's reader prefers, since a message from elsewhere may
// carry several.

#include <array>
#include <optional>

#include "measurement/messages/NANOMessageBase.h"
#include "measurement/storage/APMValue.h"

enum class APMPBScalarKind { String, Integer, Double };

struct APMPBScalarSlot {
    APMPBScalarKind kind;
    int slot;
};

// One slot per kind, in the reader's order of preference.
using APMPBScalarSlots = std::array<APMPBScalarSlot, 3>;

// A double, integer or string value in the slot of its kind; any other value
// (an array) writes nothing.
void APMPBSetScalarValue(NANOMessageBase& message, const APMPBScalarSlots& slots, const APMValue& value);

// The first present slot as a value of its kind (a string slot counts only
// when it holds UTF-8); none when no slot is present.
[[nodiscard]] std::optional<APMValue> APMPBGetScalarValue(const NANOMessageBase& message, const APMPBScalarSlots& slots);
