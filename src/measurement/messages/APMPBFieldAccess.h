#pragma once
// Typed access to the fields of any message wrapper by slot, the 0-based
// position of the field in its message (the schema's declaration order).
// Each function checks that the wrapper has a record, that the slot exists and
// that its type fits, before it touches the slot's storage; a refusal logs one
// line to the system log and answers the empty value (false, 0, 0.0, nothing).
// Getters hand out copies; setters copy strings and bytes and deep-copy
// messages, and never keep the caller's objects.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "measurement/messages/APMPBObject.h"
#include "measurement/messages/NANOMessageBase.h"

// Presence: a repeated field always counts as present.
bool APMPBHasField(const NANOMessageBase& message, int slot);
// A singular field becomes absent; a repeated field loses its elements.
void APMPBClearField(NANOMessageBase& message, int slot);

bool APMPBGetBool(const NANOMessageBase& message, int slot);
void APMPBSetBool(NANOMessageBase& message, int slot, bool value);
// 32-bit access serves enum, int32 and uint32 slots.
std::int32_t APMPBGetInt32(const NANOMessageBase& message, int slot);
void APMPBSetInt32(NANOMessageBase& message, int slot, std::int32_t value);
// 64-bit access serves int64 and uint64 slots.
std::int64_t APMPBGetInt64(const NANOMessageBase& message, int slot);
void APMPBSetInt64(NANOMessageBase& message, int slot, std::int64_t value);
float APMPBGetFloat(const NANOMessageBase& message, int slot);
void APMPBSetFloat(NANOMessageBase& message, int slot, float value);
double APMPBGetDouble(const NANOMessageBase& message, int slot);
void APMPBSetDouble(NANOMessageBase& message, int slot, double value);

// Nothing for an absent field or bytes that are not UTF-8. Setting nothing
// clears the field.
std::optional<std::string> APMPBGetString(const NANOMessageBase& message, int slot);
void APMPBSetString(NANOMessageBase& message, int slot, std::optional<std::string_view> value);
// The raw bytes of a string or bytes slot.
std::optional<APMPBData> APMPBGetBytes(const NANOMessageBase& message, int slot);
void APMPBSetBytes(NANOMessageBase& message, int slot, std::optional<std::span<const std::uint8_t>> value);

// A new wrapper of `wrapperClass` holding a copy of the sub-message; null when
// absent or when the class wraps another message.
std::shared_ptr<NANOMessageBase> APMPBGetMessage(const NANOMessageBase& message, int slot,
                                                 const APMPBClass* wrapperClass);
// Stores a deep copy of `value`, which must wrap the slot's message.
void APMPBSetMessage(NANOMessageBase& message, int slot, const NANOMessageBase* value);

// The elements as objects (message elements as new wrappers of
// `wrapperClass`); elements that cannot be converted are left out.
std::optional<APMPBArray> APMPBGetArray(const NANOMessageBase& message, int slot,
                                        const APMPBClass* wrapperClass = nullptr);
// Replaces the elements; any unfit object leaves the field empty.
void APMPBSetArray(NANOMessageBase& message, int slot, const std::optional<APMPBArray>& objects);
// The same, for elements handed over: a message element whose wrapper no one
// else holds gives up its record instead of having it copied. `objects` is
// empty after.
void APMPBSetArray(NANOMessageBase& message, int slot, APMPBArray&& objects);

template <class Wrapper>
std::shared_ptr<Wrapper> APMPBGetMessage(const NANOMessageBase& message, int slot) {
    return std::static_pointer_cast<Wrapper>(APMPBGetMessage(message, slot, &Wrapper::classObject()));
}

template <class Wrapper>
std::optional<APMPBArray> APMPBGetArray(const NANOMessageBase& message, int slot) {
    return APMPBGetArray(message, slot, &Wrapper::classObject());
}
