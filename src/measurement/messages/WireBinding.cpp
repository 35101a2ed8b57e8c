// Binding records to nanopb's structures: callbacks and presence flags before
// a pass, and the decoded scalars and sub-messages moved back afterwards.
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

void writeWireNumber(const pb_field_iter_t& field, std::uint64_t value) {
    switch (field.data_size) {
        case 1: {
            const std::uint8_t narrow = value != 0 ? 1 : 0;
            std::memcpy(field.pData, &narrow, 1);
            break;
        }
        case 4: {
            const auto narrow = static_cast<std::uint32_t>(value);
            std::memcpy(field.pData, &narrow, 4);
            break;
        }
        default:
            std::memcpy(field.pData, &value, 8);
            break;
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

void loadScalarForEncoding(std::uint32_t flags, const void* cell, const pb_field_iter_t& field) {
    if (flags & FieldFlag::Bool) {
        writeWireNumber(field, cellFirstByte(cell));
    } else if (flags & FieldFlag::Float) {
        const float value = cellFloat(cell);
        std::memcpy(field.pData, &value, sizeof value);
    } else if (flags & FieldFlag::Double) {
        const double value = cellDouble(cell);
        std::memcpy(field.pData, &value, sizeof value);
    } else {
        writeWireNumber(field, cellUInt64(cell));
    }
}

using DecodeCallback = bool (*)(pb_istream_t*, const pb_field_t*, void**);
using EncodeCallback = bool (*)(pb_ostream_t*, const pb_field_t*, void* const*);

DecodeCallback elementDecoderFor(std::uint32_t flags) {
    if (flags & FieldFlag::Message) {
        return APMMessageInfoDecodeElement;
    }
    if (flags & FieldFlag::StringOrBytes) {
        return APMPBDecodeRepeatedString;
    }
    return APMPBDecodeRepeatedVarint;
}

EncodeCallback elementEncoderFor(std::uint32_t flags) {
    if (flags & FieldFlag::Message) {
        return APMMessageInfoEncodeElement;
    }
    if (flags & FieldFlag::StringOrBytes) {
        return APMPBEncodeRepeatedString;
    }
    return APMPBEncodeRepeatedVarint;
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

bool APMMessageInfoSetEncoders(const MessageType& type, const MessageInfo* info, void* wire,
                               FieldBindings& bindings) {
    if (info == nullptr || wire == nullptr || info->fields == nullptr) {
        return false;
    }
    pb_field_iter_t field;
    if (!pb_field_iter_begin(&field, type.descriptor, wire)) {
        return true;
    }
    do {
        const int slot = type.slotsByTag[field.index];
        const SlotInfo& slotInfo = type.slots[slot];
        void* value = info->fields[slot];
        if (isRepeated(slotInfo.flags)) {
            auto* array = static_cast<RepeatedArray*>(value);
            if (array == nullptr) {
                printRuntimeText("<ERROR> %s Encoder: '%s' should have been allocated\n", type.name,
                                 slotInfo.name);
                return false;
            }
            if (array->count > 0) {
                FieldBinding* binding = bindings.add({array, slotInfo.flags, slotInfo.message, 0});
                if (binding == nullptr) {
                    return false;
                }
                callbackOf(field).funcs.encode = elementEncoderFor(slotInfo.flags);
                callbackOf(field).arg = binding;
            }
        } else if (value == nullptr) {
            continue;
        } else if (slotInfo.flags & FieldFlag::StringOrBytes) {
            callbackOf(field).funcs.encode = APMPBEncodeStringField;
            callbackOf(field).arg = value;
        } else if (slotInfo.flags & FieldFlag::Message) {
            presenceOf(field) = true;
            // A child that cannot be bound would be written partly: the parent fails with it.
            if (!APMMessageInfoSetEncoders(*slotInfo.message, static_cast<const MessageInfo*>(value), field.pData,
                                           bindings)) {
                return false;
            }
        } else {
            presenceOf(field) = true;
            loadScalarForEncoding(slotInfo.flags, value, field);
        }
    } while (pb_field_iter_next(&field));
    return true;
}

}  // namespace measurement::messages
