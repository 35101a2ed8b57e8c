#pragma once
// NANOMessageBase: what every message wrapper offers. A wrapper owns one
// MessageInfo record alone (never shared; others receive copies), makes it from
// another record or from encoded bytes, encodes it, and hands out its
// message's record operations so that the typed field functions can work on
// any wrapper without knowing its class. Fields are read and written only
// through those functions (APMPBFieldAccess.h).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "measurement/messages/APMPBObject.h"
#include "measurement/messages/MessageInfo.h"
#include "measurement/messages/MessageType.h"

// A wrapper class at run time: its message and the way to make an instance
// from a record (a deep copy, or null for a record of another message).
struct APMPBClass {
    const measurement::messages::MessageType* type;
    std::shared_ptr<NANOMessageBase> (*initWithMessageInfo)(const MessageInfo* record);

    std::string name() const;
};

class NANOMessageBase {
public:
    using InitMessageInfoFn = std::function<bool(MessageInfo*)>;
    using DeallocMessageFieldFn = std::function<bool(MessageInfo*, int)>;
    using CopyMessageInfoFn = std::function<bool(MessageInfo**, const MessageInfo*)>;

    virtual ~NANOMessageBase();
    NANOMessageBase(const NANOMessageBase&) = delete;
    NANOMessageBase& operator=(const NANOMessageBase&) = delete;

    // The message name, which is also the `name` of the record.
    const char* messageID() const { return type_->name; }
    // Null for a wrapper made without a record (the plain constructor).
    MessageInfo* messageInfo() const { return messageInfo_; }
    const measurement::messages::MessageType& messageType() const { return *type_; }
    std::string className() const;

    // A new encoding of the message on every call; nothing when the wrapper
    // has no record or the encoding fails.
    [[nodiscard]] std::optional<APMPBData> protoBuffer() const;

    // Hands the record over to the caller, who then owns it; the wrapper has
    // none after. Only for a wrapper no one else can reach any more.
    [[nodiscard]] MessageInfo* releaseMessageInfo() { return std::exchange(messageInfo_, nullptr); }

    InitMessageInfoFn initMessageInfoFn() const;
    DeallocMessageFieldFn deallocMessageFieldFn() const;
    CopyMessageInfoFn copyMessageInfoFn() const;

protected:
    explicit NANOMessageBase(const measurement::messages::MessageType& type) : type_(&type) {}

    // The two ways to give the wrapper its record; false means the wrapper
    // must not be handed out.
    [[nodiscard]] bool adoptCopyOf(const MessageInfo* record);
    [[nodiscard]] bool adoptDecoded(std::span<const std::uint8_t> bytes);

private:
    const measurement::messages::MessageType* type_;
    MessageInfo* messageInfo_ = nullptr;
};

// One wrapper class per message; APMPBMessages.h names them.
template <const measurement::messages::MessageType& Type>
class APMPBMessage final : public NANOMessageBase {
public:
    // Without a record: every field function refuses it.
    APMPBMessage() : NANOMessageBase(Type) {}

    // A deep copy of `record` (null: an empty message); null when the record
    // belongs to another message. The caller keeps its record.
    static std::shared_ptr<APMPBMessage> initWithMessageInfo(const MessageInfo* record) {
        auto message = std::make_shared<APMPBMessage>();
        return message->adoptCopyOf(record) ? message : nullptr;
    }

    // The decoded message (no bytes: an empty message); null when the bytes do
    // not decode. A partly decoded message is never returned.
    static std::shared_ptr<APMPBMessage> initWithBuffer(std::span<const std::uint8_t> bytes) {
        auto message = std::make_shared<APMPBMessage>();
        return message->adoptDecoded(bytes) ? message : nullptr;
    }

    static const APMPBClass& classObject() {
        static constexpr APMPBClass object{&Type, &makeFromRecord};
        return object;
    }

private:
    static std::shared_ptr<NANOMessageBase> makeFromRecord(const MessageInfo* record) {
        return initWithMessageInfo(record);
    }
};
