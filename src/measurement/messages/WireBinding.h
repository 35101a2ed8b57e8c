#pragma once
// The link between a MessageInfo and nanopb's generated structure of the same
// message, which the nanopb decoder uses: the callbacks and presence flags
// set before decoding, and the nanopb callbacks themselves; and the entry
// points of the one-pass reader. Internal to the message runtime.

#include <pb.h>
#include <pb_common.h>
#include <pb_decode.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "measurement/messages/MessageInfo.h"
#include "measurement/messages/MessageType.h"

namespace measurement::messages {

// What a repeated field's callback works on: its record, its element type
// and, while decoding, the nesting depth of the message that holds it.
struct FieldBinding {
    RepeatedArray* array;
    std::uint32_t flags;
    const MessageType* element;
    int depth;
};

// The bindings of one decode call; addresses stay stable because
// the capacity is reserved up front from the type's table.
class FieldBindings {
public:
    explicit FieldBindings(const MessageType& type) { bindings_.reserve(type.repeatedFieldsInTree); }
    FieldBinding* add(const FieldBinding& binding);

private:
    std::vector<FieldBinding> bindings_;
};

// A zeroed, suitably aligned nanopb structure of one message.
class WireStruct {
public:
    explicit WireStruct(const MessageType& type);
    void* get() { return data_; }

private:
    alignas(16) unsigned char inline_[512];
    std::unique_ptr<unsigned char[]> heap_;
    void* data_;
};

[[nodiscard]]
bool APMMessageInfoSetDecoders(const MessageType& type, MessageInfo* info, void* wire,
                               FieldBindings& bindings, int depth);
[[nodiscard]] bool APMMessageInfoApplyDecoded(const MessageType& type, const void* wire, MessageInfo* info);

// Reads well-formed bytes into a fresh record in one pass per message, as
// the nanopb decoder below would store them. False, with the record left
// fresh and nothing printed, for a record that is not fresh and for input
// that only the nanopb decoder can judge or merge.
[[nodiscard]]
bool readWellFormed(const MessageType& type, const std::uint8_t* bytes, std::size_t length, MessageInfo* info);

// The nanopb decoder, which names what is wrong with the input in its
// "<ERROR>" texts. Decodes at a nesting depth (0 for a top-level message).
[[nodiscard]]
bool decodeMessageAtDepth(const MessageType& type, const std::uint8_t* bytes, std::size_t length,
                          MessageInfo* info, int depth);

// Fails the stream with nanopb's "wrong wire type" text when a known tag of the
// message, or of its single sub-messages, arrives with a wire type that its
// field cannot have (packed blocks are allowed for repeated numbers).
[[nodiscard]] bool checkWireTypes(const MessageType& type, pb_istream_t* stream);

// nanopb callbacks.
[[nodiscard]] bool APMMessageInfoDecodeElement(pb_istream_t* stream, const pb_field_t* field, void** arg);
[[nodiscard]] bool APMPBDecodeStringField(pb_istream_t* stream, const pb_field_t* field, void** arg);
[[nodiscard]] bool APMPBDecodeRepeatedString(pb_istream_t* stream, const pb_field_t* field, void** arg);
[[nodiscard]] bool APMPBDecodeRepeatedVarint(pb_istream_t* stream, const pb_field_t* field, void** arg);

}  // namespace measurement::messages
