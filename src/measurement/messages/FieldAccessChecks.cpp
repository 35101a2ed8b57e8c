#include "measurement/messages/FieldAccessChecks.h"

#include <cstring>

#include "measurement/messages/MessageLog.h"

namespace measurement::messages {

namespace {

bool isSingle(std::uint32_t flags) { return (flags & FieldFlag::Repeated) == 0; }

}  // namespace

const SlotTypeTest kBoolSlot{"a scalar BOOL", [](std::uint32_t flags) {
    return (flags & (FieldFlag::Bool | FieldFlag::Repeated)) == FieldFlag::Bool;
}};
const SlotTypeTest kInt32Slot{"a scalar INT32", [](std::uint32_t flags) {
    return (flags & (FieldFlag::Enum | FieldFlag::Int32 | FieldFlag::UInt32)) != 0 && isSingle(flags);
}};
const SlotTypeTest kInt64Slot{"a scalar INT64", [](std::uint32_t flags) {
    return (flags & (FieldFlag::Int64 | FieldFlag::UInt64)) != 0 && isSingle(flags);
}};
const SlotTypeTest kFloatSlot{"a scalar FLOAT", [](std::uint32_t flags) {
    return (flags & (FieldFlag::Float | FieldFlag::Repeated)) == FieldFlag::Float;
}};
const SlotTypeTest kDoubleSlot{"a scalar DOUBLE", [](std::uint32_t flags) {
    return (flags & (FieldFlag::Double | FieldFlag::Repeated)) == FieldFlag::Double;
}};
const SlotTypeTest kStringSlot{"a scalar STRING", [](std::uint32_t flags) {
    return (flags & (FieldFlag::String | FieldFlag::Repeated)) == FieldFlag::String;
}};
// Bytes access reads and writes a string record, so it is confined to the
// slots that hold one.
const SlotTypeTest kBytesSlot{"a scalar BYTES", [](std::uint32_t flags) {
    return (flags & FieldFlag::StringOrBytes) != 0 && isSingle(flags);
}};
const SlotTypeTest kMessageSlot{"a scalar MESSAGE", [](std::uint32_t flags) {
    return (flags & (FieldFlag::Message | FieldFlag::Repeated)) == FieldFlag::Message;
}};
const SlotTypeTest kRepeatedSlot{"REPEATED", [](std::uint32_t flags) {
    return (flags & FieldFlag::Repeated) != 0;
}};
const SlotTypeTest kAnySlot{"", [](std::uint32_t) { return true; }};

MessageInfo* checkedRecord(const NANOMessageBase& message, int slot, const char* operation,
                           const SlotTypeTest& test) {
    MessageInfo* info = message.messageInfo();
    if (info == nullptr || info->fields == nullptr) {
        logSystemLine("ProtocolBuffer message hasn't been initialized. %s can't be performed", operation);
        return nullptr;
    }
    if (!message.messageType().hasSlot(slot)) {
        logSystemLine("<Nano/Failure> Field ID is out of range. Message: %s, field ID: %d", info->name, slot);
        return nullptr;
    }
    if (!test.accepts(info->flags[slot])) {
        logSystemLine("<Nano/Failure> Field type isn't %s. Message: %s, field ID: %d", test.description,
                      info->name, slot);
        return nullptr;
    }
    return info;
}

bool wrapsMessage(const NANOMessageBase& value, const MessageType& expected) {
    return value.messageInfo() != nullptr && std::strcmp(value.messageID(), expected.name) == 0;
}

}  // namespace measurement::messages
