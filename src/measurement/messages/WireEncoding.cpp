// Encoding: the record's present fields are bound to nanopb's structure, a
// sizing pass measures the output and a second pass writes it into a buffer
// of exactly that size. Repeated fields are written one tag per element.
#include <cstdlib>

#include "measurement/messages/MessageOperations.h"
#include "measurement/messages/MessageRuntime.h"
#include "measurement/messages/WireBinding.h"

namespace measurement::messages {

namespace {

const RepeatedArray* arrayOf(void* const* arg) {
    const auto* binding = arg != nullptr ? static_cast<const FieldBinding*>(*arg) : nullptr;
    return binding != nullptr ? binding->array : nullptr;
}

}  // namespace

bool APMMessageInfoEncodeElement(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
    const auto* binding = arg != nullptr ? static_cast<const FieldBinding*>(*arg) : nullptr;
    if (binding == nullptr || binding->array == nullptr) {
        return false;
    }
    const RepeatedArray& array = *binding->array;
    if (array.count == 0) {
        return true;
    }
    if (array.items == nullptr) {
        return false;
    }
    const MessageType& type = *binding->element;
    for (std::uint32_t index = 0; index < array.count; ++index) {
        WireStruct wire(type);
        FieldBindings bindings(type);
        if (!APMMessageInfoSetEncoders(type, static_cast<const MessageInfo*>(array.items[index]), wire.get(),
                                       bindings)) {
            return false;
        }
        if (!pb_encode_tag_for_field(stream, field) || !pb_encode_submessage(stream, type.descriptor, wire.get())) {
            return false;
        }
    }
    return true;
}

bool APMPBEncodeStringField(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
    const auto* record = arg != nullptr ? static_cast<const StringRecord*>(*arg) : nullptr;
    if (record == nullptr || record->data == nullptr) {
        return false;
    }
    return pb_encode_tag_for_field(stream, field) && pb_encode_string(stream, record->data, record->length);
}

bool APMPBEncodeRepeatedString(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
    const RepeatedArray* array = arrayOf(arg);
    if (array == nullptr || array->items == nullptr) {
        return false;
    }
    for (std::uint32_t index = 0; index < array->count; ++index) {
        void* item = array->items[index];
        if (!APMPBEncodeStringField(stream, field, &item)) {
            return false;
        }
    }
    return true;
}

bool APMPBEncodeRepeatedVarint(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
    const RepeatedArray* array = arrayOf(arg);
    if (array == nullptr || array->items == nullptr) {
        return false;
    }
    for (std::uint32_t index = 0; index < array->count; ++index) {
        const void* cell = array->items[index];
        if (cell == nullptr || !pb_encode_tag_for_field(stream, field) || !pb_encode_varint(stream, cellUInt64(cell))) {
            return false;
        }
    }
    return true;
}

std::uint32_t APMPBEncodeToBuffer(const pb_msgdesc_t* descriptor, const void* wire, std::uint8_t** output) {
    pb_ostream_t sizing = PB_OSTREAM_SIZING;
    pb_encode(&sizing, descriptor, wire);
    const std::size_t size = sizing.bytes_written;
    if (size >= kEncodeFailed) {
        return kEncodeFailed;
    }
    // A message with nothing present encodes to zero bytes, which is still a
    // buffer: allocate at least one byte so success never looks like failure.
    auto* buffer = static_cast<std::uint8_t*>(std::calloc(size > 0 ? size : 1, 1));
    if (buffer == nullptr) {
        return kEncodeFailed;
    }
    *output = buffer;
    pb_ostream_t stream = pb_ostream_from_buffer(buffer, size);
    if (!pb_encode(&stream, descriptor, wire)) {
        std::free(buffer);
        *output = nullptr;
        return kEncodeFailed;
    }
    return static_cast<std::uint32_t>(stream.bytes_written);
}

}  // namespace measurement::messages

std::uint32_t APMMessageInfoEncodeToBuffer(const MessageType& type, const MessageInfo* info, std::uint8_t** output) {
    using namespace measurement::messages;
    if (output == nullptr) {
        return kEncodeFailed;
    }
    WireStruct wire(type);
    FieldBindings bindings(type);
    if (!APMMessageInfoSetEncoders(type, info, wire.get(), bindings)) {
        return kEncodeFailed;
    }
    return APMPBEncodeToBuffer(type.descriptor, wire.get(), output);
}
