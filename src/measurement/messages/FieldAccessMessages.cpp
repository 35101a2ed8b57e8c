// Single sub-message fields: read as new wrappers holding copies, written as
// deep copies of a wrapper of the slot's own message.
#include <cstdlib>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/FieldAccessChecks.h"
#include "measurement/messages/MessageLog.h"
#include "measurement/messages/MessageOperations.h"

using namespace measurement::messages;

std::shared_ptr<NANOMessageBase> APMPBGetMessage(const NANOMessageBase& message, int slot,
                                                 const APMPBClass* wrapperClass) {
    const MessageInfo* info = checkedRecord(message, slot, "GetMessage", kMessageSlot);
    if (info == nullptr || info->fields[slot] == nullptr) {
        return nullptr;
    }
    if (wrapperClass == nullptr || wrapperClass->initWithMessageInfo == nullptr) {
        logSystemLine("<ERROR> Provided class doesn't implement initWithMessageInfo: method. Class: %s",
                      wrapperClass != nullptr ? wrapperClass->name().c_str() : "(null)");
        return nullptr;
    }
    return wrapperClass->initWithMessageInfo(static_cast<const MessageInfo*>(info->fields[slot]));
}

void APMPBSetMessage(NANOMessageBase& message, int slot, const NANOMessageBase* value) {
    MessageInfo* info = checkedRecord(message, slot, "SetMessage", kMessageSlot);
    if (info == nullptr) {
        return;
    }
    const MessageType& expected = *message.messageType().slots[slot].message;
    if (value == nullptr || !wrapsMessage(*value, expected)) {
        logSystemLine("<Nano/Failure> Value isn't a %s message. Message: %s, field ID: %d", expected.name,
                      info->name, slot);
        return;
    }
    message.deallocMessageFieldFn()(info, slot);
    auto* copy = static_cast<MessageInfo*>(std::calloc(1, sizeof(MessageInfo)));
    if (copy == nullptr) {
        return;
    }
    if (!value->initMessageInfoFn()(copy) || !value->copyMessageInfoFn()(&copy, value->messageInfo())) {
        (void)APMMessageInfoFree(expected, copy);  // false only for a null copy: nothing to release
        return;
    }
    info->fields[slot] = copy;
}
