#pragma once
// The checks every typed field function makes before it touches a slot, each
// logging its refusal: the wrapper has a record, the slot exists in the
// message, and the slot's type flags pass the function's type test.

#include <cstdint>

#include "measurement/messages/MessageInfo.h"
#include "measurement/messages/NANOMessageBase.h"

namespace measurement::messages {

struct SlotTypeTest {
    const char* description;  // completes "Field type isn't ..."
    bool (*accepts)(std::uint32_t flags);
};

extern const SlotTypeTest kBoolSlot;
extern const SlotTypeTest kInt32Slot;
extern const SlotTypeTest kInt64Slot;
extern const SlotTypeTest kFloatSlot;
extern const SlotTypeTest kDoubleSlot;
extern const SlotTypeTest kStringSlot;
extern const SlotTypeTest kBytesSlot;
extern const SlotTypeTest kMessageSlot;
extern const SlotTypeTest kRepeatedSlot;
extern const SlotTypeTest kAnySlot;

// The record when every check passes, else null (the refusal is logged).
// `operation` names the function in the not-initialised text ("GetBool").
MessageInfo* checkedRecord(const NANOMessageBase& message, int slot, const char* operation,
                           const SlotTypeTest& test);

// Whether `value` has a record of the `expected` message. A record of another
// message in a slot would later be walked with the wrong slot table.
bool wrapsMessage(const NANOMessageBase& value, const MessageType& expected);

}  // namespace measurement::messages
