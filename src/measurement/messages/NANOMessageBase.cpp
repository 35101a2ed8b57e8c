#include "measurement/messages/NANOMessageBase.h"

#include <cstdlib>
#include <cstring>

#include "measurement/messages/MessageOperations.h"

using measurement::messages::newMessageInfo;

std::string APMPBClass::name() const { return std::string("APMPB") + type->name; }

NANOMessageBase::~NANOMessageBase() {
    if (messageInfo_ != nullptr) {
        (void)APMMessageInfoFree(*type_, messageInfo_);  // cannot fail: not null
        messageInfo_ = nullptr;
    }
}

std::string NANOMessageBase::className() const { return std::string("APMPB") + type_->name; }

bool NANOMessageBase::adoptCopyOf(const MessageInfo* record) {
    if (record == nullptr) {
        messageInfo_ = newMessageInfo(*type_);
        return messageInfo_ != nullptr;
    }
    if (record->name == nullptr || std::strcmp(record->name, type_->name) != 0) {
        return false;
    }
    return APMMessageInfoCopy(*type_, &messageInfo_, record);
}

bool NANOMessageBase::adoptDecoded(std::span<const std::uint8_t> bytes) {
    MessageInfo* decoded = newMessageInfo(*type_);
    if (decoded == nullptr) {
        return false;
    }
    // The decoded record is the wrapper's own: no copy is made.
    if (!APMMessageInfoDecode(*type_, bytes.data(), bytes.size(), decoded)) {
        (void)APMMessageInfoFree(*type_, decoded);  // cannot fail: not null
        return false;
    }
    messageInfo_ = decoded;
    return true;
}

std::optional<APMPBData> NANOMessageBase::protoBuffer() const {
    if (messageInfo_ == nullptr) {
        return std::nullopt;
    }
    std::uint8_t* buffer = nullptr;
    const std::uint32_t length = APMMessageInfoEncodeToBuffer(*type_, messageInfo_, &buffer);
    if (length == kEncodeFailed || buffer == nullptr) {
        return std::nullopt;
    }
    return APMPBData::adoptingMallocBuffer(buffer, length);
}

NANOMessageBase::InitMessageInfoFn NANOMessageBase::initMessageInfoFn() const {
    return [type = type_](MessageInfo* info) { return APMMessageInfoInit(*type, info); };
}

NANOMessageBase::DeallocMessageFieldFn NANOMessageBase::deallocMessageFieldFn() const {
    return [type = type_](MessageInfo* info, int slot) { return APMMessageInfoDeallocField(*type, info, slot); };
}

NANOMessageBase::CopyMessageInfoFn NANOMessageBase::copyMessageInfoFn() const {
    return [type = type_](MessageInfo** destination, const MessageInfo* source) {
        return APMMessageInfoCopy(*type, destination, source);
    };
}
