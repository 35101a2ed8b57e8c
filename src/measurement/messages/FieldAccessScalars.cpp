// Presence, clearing and the scalar getters and setters.
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/FieldAccessChecks.h"
#include "measurement/messages/MessageLog.h"
#include "measurement/messages/MessageRuntime.h"

using namespace measurement::messages;

bool APMPBHasField(const NANOMessageBase& message, int slot) {
    const MessageInfo* info = message.messageInfo();
    if (info == nullptr || info->fields == nullptr) {
        logSystemLine(
            "ProtocolBuffer message hasn't been initialized. HasField operation can't be performed. Message name %s",
            message.messageID());
        return false;
    }
    if (checkedRecord(message, slot, "HasField", kAnySlot) == nullptr) {
        return false;
    }
    if (info->flags != nullptr && (info->flags[slot] & FieldFlag::Repeated)) {
        return true;
    }
    return info->fields[slot] != nullptr;
}

void APMPBClearField(NANOMessageBase& message, int slot) {
    if (MessageInfo* info = checkedRecord(message, slot, "ClearField", kAnySlot)) {
        message.deallocMessageFieldFn()(info, slot);
    }
}

bool APMPBGetBool(const NANOMessageBase& message, int slot) {
    const MessageInfo* info = checkedRecord(message, slot, "GetBool", kBoolSlot);
    const void* cell = info != nullptr ? info->fields[slot] : nullptr;
    return cell != nullptr && cellFirstByte(cell) == 1;
}

void APMPBSetBool(NANOMessageBase& message, int slot, bool value) {
    if (MessageInfo* info = checkedRecord(message, slot, "SetBool", kBoolSlot)) {
        // The typed setters report nothing: a cell that cannot be allocated leaves the field absent.
        (void)APMPBSetUInt32Value(&info->fields[slot], value ? 1 : 0);
    }
}

std::int32_t APMPBGetInt32(const NANOMessageBase& message, int slot) {
    const MessageInfo* info = checkedRecord(message, slot, "GetInt32", kInt32Slot);
    const void* cell = info != nullptr ? info->fields[slot] : nullptr;
    return cell != nullptr ? static_cast<std::int32_t>(cellUInt32(cell)) : 0;
}

void APMPBSetInt32(NANOMessageBase& message, int slot, std::int32_t value) {
    if (MessageInfo* info = checkedRecord(message, slot, "SetInt32", kInt32Slot)) {
        // The typed setters report nothing: a cell that cannot be allocated leaves the field absent.
        (void)APMPBSetUInt32Value(&info->fields[slot], static_cast<std::uint32_t>(value));
    }
}

std::int64_t APMPBGetInt64(const NANOMessageBase& message, int slot) {
    const MessageInfo* info = checkedRecord(message, slot, "GetInt64", kInt64Slot);
    const void* cell = info != nullptr ? info->fields[slot] : nullptr;
    return cell != nullptr ? static_cast<std::int64_t>(cellUInt64(cell)) : 0;
}

void APMPBSetInt64(NANOMessageBase& message, int slot, std::int64_t value) {
    if (MessageInfo* info = checkedRecord(message, slot, "SetInt64", kInt64Slot)) {
        // The typed setters report nothing: a cell that cannot be allocated leaves the field absent.
        (void)APMPBSetUInt64Value(&info->fields[slot], static_cast<std::uint64_t>(value));
    }
}

float APMPBGetFloat(const NANOMessageBase& message, int slot) {
    const MessageInfo* info = checkedRecord(message, slot, "GetFloat", kFloatSlot);
    const void* cell = info != nullptr ? info->fields[slot] : nullptr;
    return cell != nullptr ? cellFloat(cell) : 0.0f;
}

void APMPBSetFloat(NANOMessageBase& message, int slot, float value) {
    if (MessageInfo* info = checkedRecord(message, slot, "SetFloat", kFloatSlot)) {
        // The typed setters report nothing: a cell that cannot be allocated leaves the field absent.
        (void)APMPBSetFloatValue(&info->fields[slot], value);
    }
}

double APMPBGetDouble(const NANOMessageBase& message, int slot) {
    const MessageInfo* info = checkedRecord(message, slot, "GetDouble", kDoubleSlot);
    const void* cell = info != nullptr ? info->fields[slot] : nullptr;
    return cell != nullptr ? cellDouble(cell) : 0.0;
}

void APMPBSetDouble(NANOMessageBase& message, int slot, double value) {
    if (MessageInfo* info = checkedRecord(message, slot, "SetDouble", kDoubleSlot)) {
        // The typed setters report nothing: a cell that cannot be allocated leaves the field absent.
        (void)APMPBSetDoubleValue(&info->fields[slot], value);
    }
}
