// Decoding: the one-pass reader (WireReading.cpp) takes well-formed input;
// whatever it leaves (malformed input, and the few rare forms it does not
// handle) is decoded again here by nanopb, whose texts name what is wrong.
//
// The nanopb decoder: a wire-type scan, then two nanopb passes over the
// bytes. The first counts repeated elements and fills strings, the item
// arrays are then sized exactly, and the second fills the elements; each
// element of a repeated message is decoded from a private copy of its bytes,
// one nesting level deeper. It runs only on input the reader refused.
#include <cstdlib>

#include "measurement/messages/MessageLog.h"
#include "measurement/messages/MessageOperations.h"
#include "measurement/messages/MessageRuntime.h"
#include "measurement/messages/WireBinding.h"

namespace measurement::messages {

namespace {

FieldBinding* bindingOf(void** arg) { return arg != nullptr ? static_cast<FieldBinding*>(*arg) : nullptr; }

bool isCountingPass(const RepeatedArray& array) { return array.items == nullptr; }

// The filling pass meets the same elements as the counting pass; anything
// beyond the counted items is refused rather than written past the array.
void** itemAtCursor(RepeatedArray& array) {
    return array.filled < array.count ? &array.items[array.filled] : nullptr;
}

void** nextItem(RepeatedArray& array) {
    void** item = itemAtCursor(array);
    if (item != nullptr) {
        ++array.filled;
    }
    return item;
}

bool runPass(const MessageType& type, const std::uint8_t* bytes, std::size_t length, void* wire) {
    pb_istream_t stream = pb_istream_from_buffer(bytes, length);
    if (!pb_decode_ex(&stream, type.descriptor, wire, PB_DECODE_NOINIT)) {
        printRuntimeText("<ERROR> %s decoder failed: %s\n", type.name, PB_GET_ERROR(&stream));
        return false;
    }
    return true;
}

}  // namespace

bool decodeMessageAtDepth(const MessageType& type, const std::uint8_t* bytes, std::size_t length,
                          MessageInfo* info, int depth) {
    if (info == nullptr) {
        printRuntimeText("<ERROR> %s decoder failed: message_info is NULL\n", type.name);
        return false;
    }
    if (depth > kMaxNestingDepth) {
        printRuntimeText("<ERROR> %s decoder failed: %s\n", type.name, "nesting too deep");
        return false;
    }
    WireStruct wire(type);
    FieldBindings bindings(type);
    if (!APMMessageInfoSetDecoders(type, info, wire.get(), bindings, depth)) {
        printRuntimeText("<ERROR> %s decoder failed: Unable to set decoders\n", type.name);
        return false;
    }
    pb_istream_t check = pb_istream_from_buffer(bytes, length);
    if (!checkWireTypes(type, &check)) {
        printRuntimeText("<ERROR> %s decoder failed: %s\n", type.name, PB_GET_ERROR(&check));
        return false;
    }
    if (!runPass(type, bytes, length, wire.get())) {
        return false;
    }
    if (!APMMessageInfoAllocArrays(type, info)) {
        printRuntimeText("<ERROR> %s decoder failed: Unable to allocate arrays\n", type.name);
        return false;
    }
    if (!runPass(type, bytes, length, wire.get())) {
        return false;
    }
    return APMMessageInfoApplyDecoded(type, wire.get(), info);
}

bool APMMessageInfoDecodeElement(pb_istream_t* stream, const pb_field_t*, void** arg) {
    FieldBinding* binding = bindingOf(arg);
    if (binding == nullptr || binding->array == nullptr) {
        printRuntimeText("<ERROR> %s decoder failed: Invalid arg parameter\n",
                         binding != nullptr ? binding->element->name : "(unknown)");
        return false;
    }
    const MessageType& type = *binding->element;
    RepeatedArray& array = *binding->array;
    const std::size_t length = stream->bytes_left;
    if (isCountingPass(array)) {
        if (!pb_read(stream, nullptr, length)) {
            printRuntimeText("<ERROR> %s decoder failed: %s\n", type.name, PB_GET_ERROR(stream));
            return false;
        }
        ++array.count;
        return true;
    }
    void** item = itemAtCursor(array);
    if (item == nullptr) {
        return false;
    }
    auto* buffer = static_cast<std::uint8_t*>(std::malloc(length > 0 ? length : 1));
    if (buffer == nullptr || !pb_read(stream, buffer, length)) {
        printRuntimeText("<ERROR> %s decoder failed: Unable to extract buffer from stream\n", type.name);
        std::free(buffer);
        return false;
    }
    // The element joins the array only once it is a valid record, so a failure
    // here never leaves a freed pointer behind for the parent to free again.
    MessageInfo* element = newMessageInfo(type);
    if (element == nullptr) {
        printRuntimeText("<ERROR> %s decoder failed: Unable to initialize MessageInfo\n", type.name);
        std::free(buffer);
        return false;
    }
    *item = element;
    const bool decoded = decodeMessageAtDepth(type, buffer, length, element, binding->depth + 1);
    std::free(buffer);
    if (!decoded) {
        printRuntimeText("<ERROR> %s decoder failed: Unable to decode repeated %s\n", type.name, type.name);
        return false;
    }
    ++array.filled;
    return true;
}

bool APMPBDecodeStringField(pb_istream_t* stream, const pb_field_t*, void** arg) {
    if (arg == nullptr || *arg == nullptr) {
        return false;
    }
    auto** slot = static_cast<void**>(*arg);
    if (*slot != nullptr) {
        // Second pass, or a later occurrence of the field: the first one stays.
        const auto* existing = static_cast<const StringRecord*>(*slot);
        if (existing->data == nullptr) {
            printRuntimeText("<ERROR> String decoder failed: string data is NULL\n");
            return false;
        }
        return pb_read(stream, nullptr, stream->bytes_left);
    }
    auto* record = static_cast<StringRecord*>(std::calloc(1, sizeof(StringRecord)));
    if (record == nullptr) {
        return false;
    }
    *slot = record;
    const std::size_t length = stream->bytes_left;
    if (length > kMaxStringFieldLength) {
        printRuntimeText("Unable to process proto stream. Buffer is too big. %zu > %d", length,
                         static_cast<int>(kMaxStringFieldLength));
        return false;
    }
    // An empty string still gets a data block: present with length 0.
    record->data = static_cast<std::uint8_t*>(std::calloc(length > 0 ? length : 1, 1));
    if (record->data == nullptr) {
        return false;
    }
    record->length = static_cast<std::uint32_t>(length);
    if (!pb_read(stream, record->data, length)) {
        std::free(record->data);
        record->data = nullptr;
        record->length = 0;
        return false;
    }
    return true;
}

bool APMPBDecodeRepeatedString(pb_istream_t* stream, const pb_field_t* field, void** arg) {
    FieldBinding* binding = bindingOf(arg);
    if (binding == nullptr || binding->array == nullptr) {
        return false;
    }
    RepeatedArray& array = *binding->array;
    if (isCountingPass(array)) {
        if (!pb_read(stream, nullptr, stream->bytes_left)) {
            return false;
        }
        ++array.count;
        return true;
    }
    void** item = nextItem(array);
    if (item == nullptr) {
        return false;
    }
    void* itemArg = item;
    return APMPBDecodeStringField(stream, field, &itemArg);
}

bool APMPBDecodeRepeatedVarint(pb_istream_t* stream, const pb_field_t*, void** arg) {
    FieldBinding* binding = bindingOf(arg);
    if (binding == nullptr || binding->array == nullptr) {
        return false;
    }
    std::uint64_t value;
    if (!pb_decode_varint(stream, &value)) {
        return false;
    }
    RepeatedArray& array = *binding->array;
    if (isCountingPass(array)) {
        ++array.count;
        return true;
    }
    void** item = nextItem(array);
    return item != nullptr && APMPBSetUInt64Value(item, value);
}

}  // namespace measurement::messages

bool APMMessageInfoDecode(const MessageType& type, const std::uint8_t* bytes, std::size_t length,
                          MessageInfo* info) {
    using namespace measurement::messages;
    return readWellFormed(type, bytes, length, info) || decodeMessageAtDepth(type, bytes, length, info, 0);
}
