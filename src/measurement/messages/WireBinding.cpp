// Binding records to nanopb's structures for the nanopb decoder: callbacks
// and presence flags before a pass, and the decoded scalars and sub-messages
// moved back afterwards.
#include "measurement/messages/WireBinding.h"

#include <cstring>

#include "measurement/messages/MessageLog.h"
#include "measurement/messages/MessageOperations.h"
#include "measurement/messages/MessageRuntime.h"

namespace measurement::messages {

namespace {

bool isRepeated(std::uint32_t flags) { return (flags & FieldFlag::Repeated) != 0; }

pb_callback_t& callbackOf(const pb_field_iter_t& field) { return *static_cast<pb_callback_t*>(field.pData); }

bool& presenceOf(const pb_field_iter_t& field) { return *static_cast<bool*>(field.pSize); }

std::uint64_t readWireNumber(const pb_field_iter_t& field) {
    switch (field.data_size) {
        case 1: {
            std::uint8_t value;
            std::memcpy(&value, field.pData, 1);
            return value;
        }
        case 4: {
            std::uint32_t value;
            std::memcpy(&value, field.pData, 4);
            return value;
        }
        default: {
            std::uint64_t value;
            std::memcpy(&value, field.pData, 8);
            return value;
        }
    }
}

[[nodiscard]] bool storeDecodedScalar(std::uint32_t flags, const pb_field_iter_t& field, void** slot) {
    if (flags & FieldFlag::Bool) {
        return APMPBSetBoolValue(slot, readWireNumber(field) != 0);
    }
    if (flags & (FieldFlag::Enum | FieldFlag::Int32 | FieldFlag::UInt32)) {
        return APMPBSetUInt32Value(slot, static_cast<std::uint32_t>(readWireNumber(field)));
    }
    if (flags & (FieldFlag::Int64 | FieldFlag::UInt64)) {
        return APMPBSetUInt64Value(slot, readWireNumber(field));
    }
    if (flags & FieldFlag::Float) {
        float value;
        std::memcpy(&value, field.pData, sizeof value);
        return APMPBSetFloatValue(slot, value);
    }
    double value;
    std::memcpy(&value, field.pData, sizeof value);
    return APMPBSetDoubleValue(slot, value);
}

using DecodeCallback = bool (*)(pb_istream_t*, const pb_field_t*, void**);

DecodeCallback elementDecoderFor(std::uint32_t flags) {
    if (flags & FieldFlag::Message) {
        return APMMessageInfoDecodeElement;
    }
    if (flags & FieldFlag::StringOrBytes) {
        return APMPBDecodeRepeatedString;
    }
    return APMPBDecodeRepeatedVarint;
}

}  // namespace

FieldBinding* FieldBindings::add(const FieldBinding& binding) {
    if (bindings_.size() == bindings_.capacity()) {
        return nullptr;  // more repeated fields than the table declares: refuse
    }
    bindings_.push_back(binding);
    return &bindings_.back();
}

WireStruct::WireStruct(const MessageType& type) {
    if (type.structSize <= sizeof inline_) {
        std::memset(inline_, 0, type.structSize);
        data_ = inline_;
    } else {
        heap_.reset(new unsigned char[type.structSize]());
        data_ = heap_.get();
    }
}

bool APMMessageInfoSetDecoders(const MessageType& type, MessageInfo* info, void* wire,
                               FieldBindings& bindings, int depth) {
    if (info == nullptr || wire == nullptr) {
        return false;
    }
    pb_field_iter_t field;
    if (!pb_field_iter_begin(&field, type.descriptor, wire)) {
        return true;
    }
    do {
        const int slot = type.slotsByTag[field.index];
        const SlotInfo& slotInfo = type.slots[slot];
        if (isRepeated(slotInfo.flags)) {
            auto* array = static_cast<RepeatedArray*>(info->fields[slot]);
            if (!APMPBResetArray(array)) {
                return false;  // no record to decode into
            }
            FieldBinding* binding = bindings.add({array, slotInfo.flags, slotInfo.message, depth});
            if (binding == nullptr) {
                return false;
            }
            callbackOf(field).funcs.decode = elementDecoderFor(slotInfo.flags);
            callbackOf(field).arg = binding;
        } else if (slotInfo.flags & FieldFlag::StringOrBytes) {
            callbackOf(field).funcs.decode = APMPBDecodeStringField;
            callbackOf(field).arg = &info->fields[slot];
        } else if (slotInfo.flags & FieldFlag::Message) {
            if (!APMMessageInfoDeallocField(type, info, slot)) {
                return false;
            }
            auto* child = newMessageInfo(*slotInfo.message);
            if (child == nullptr) {
                return false;
            }
            info->fields[slot] = child;
            // A child that cannot be bound would decode partly: the parent fails with it.
            if (!APMMessageInfoSetDecoders(*slotInfo.message, child, field.pData, bindings, depth)) {
                return false;
            }
        }
    } while (pb_field_iter_next(&field));
    return true;
}

bool APMMessageInfoApplyDecoded(const MessageType& type, const void* wire, MessageInfo* info) {
    pb_field_iter_t field;
    if (!pb_field_iter_begin_const(&field, type.descriptor, wire)) {
        return true;
    }
    do {
        const int slot = type.slotsByTag[field.index];
        const SlotInfo& slotInfo = type.slots[slot];
        if (isRepeated(slotInfo.flags) || (slotInfo.flags & FieldFlag::StringOrBytes)) {
            continue;
        }
        if (slotInfo.flags & FieldFlag::Message) {
            auto* child = static_cast<MessageInfo*>(info->fields[slot]);
            if (presenceOf(field) && child != nullptr) {
                if (!APMMessageInfoApplyDecoded(*slotInfo.message, field.pData, child)) {
                    return false;
                }
            } else if (!APMMessageInfoDeallocField(type, info, slot)) {
                return false;
            }
        } else if (presenceOf(field)) {
            if (!storeDecodedScalar(slotInfo.flags, field, &info->fields[slot])) {
                return false;
            }
        }
    } while (pb_field_iter_next(&field));
    return true;
}

}  // namespace measurement::messages
