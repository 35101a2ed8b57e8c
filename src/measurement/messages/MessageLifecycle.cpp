// Creating, clearing, copying and releasing records.
#include <cstdlib>

#include "measurement/messages/MessageLog.h"
#include "measurement/messages/MessageOperations.h"
#include "measurement/messages/MessageRuntime.h"

using namespace measurement::messages;

namespace {

bool isRepeated(std::uint32_t flags) { return (flags & FieldFlag::Repeated) != 0; }

[[nodiscard]] bool copyRepeated(const SlotInfo& slot, const RepeatedArray& source, RepeatedArray* destination) {
    if (source.count == 0) {
        return true;
    }
    auto** items = static_cast<void**>(std::calloc(source.count, sizeof(void*)));
    if (items == nullptr) {
        return false;
    }
    destination->items = items;
    destination->count = source.count;
    destination->filled = source.count;
    for (std::uint32_t index = 0; index < source.count; ++index) {
        const void* item = source.items != nullptr ? source.items[index] : nullptr;
        if (item == nullptr) {
            continue;
        }
        bool copied;
        if (slot.flags & FieldFlag::Message) {
            copied = APMMessageInfoCopy(*slot.message, reinterpret_cast<MessageInfo**>(&items[index]),
                                        static_cast<const MessageInfo*>(item));
        } else if (slot.flags & FieldFlag::StringOrBytes) {
            const auto* record = static_cast<const StringRecord*>(item);
            copied = APMPBSetStringValue(&items[index], record->data, record->length);
        } else {
            copied = copyCell(slot.flags, item, &items[index]);
        }
        if (!copied) {
            return false;
        }
    }
    return true;
}

[[nodiscard]] bool copySlot(const SlotInfo& slot, const void* value, void** destination) {
    if (isRepeated(slot.flags)) {
        return copyRepeated(slot, *static_cast<const RepeatedArray*>(value),
                            static_cast<RepeatedArray*>(*destination));
    }
    if (slot.flags & FieldFlag::StringOrBytes) {
        const auto* record = static_cast<const StringRecord*>(value);
        return APMPBSetStringValue(destination, record->data, record->length);
    }
    if (slot.flags & FieldFlag::Message) {
        return APMMessageInfoCopy(*slot.message, reinterpret_cast<MessageInfo**>(destination),
                                  static_cast<const MessageInfo*>(value));
    }
    return copyCell(slot.flags, value, destination);
}

}  // namespace

bool APMMessageInfoInit(const MessageType& type, MessageInfo* info) {
    if (info == nullptr) {
        return false;
    }
    info->name = type.name;
    info->flags = type.flags;
    info->fields = static_cast<void**>(std::calloc(type.slotCount, sizeof(void*)));
    if (info->fields == nullptr) {
        return false;
    }
    for (std::uint32_t slot = 0; slot < type.slotCount; ++slot) {
        if (isRepeated(type.flags[slot])) {
            info->fields[slot] = std::calloc(1, sizeof(RepeatedArray));
            if (info->fields[slot] == nullptr) {
                return false;
            }
        }
    }
    return true;
}

bool APMMessageInfoAllocArrays(const MessageType& type, MessageInfo* info) {
    for (std::uint32_t slot = 0; slot < type.slotCount; ++slot) {
        if (!isRepeated(type.flags[slot])) {
            continue;
        }
        auto* array = static_cast<RepeatedArray*>(info->fields[slot]);
        if (array == nullptr) {
            printRuntimeText("<ERROR> Cannot allocate %s arrays. Missing params field (%s)\n", type.name,
                             type.slots[slot].name);
            return false;
        }
        if (array->count > 0) {
            array->items = static_cast<void**>(std::calloc(array->count, sizeof(void*)));
            if (array->items == nullptr) {
                return false;
            }
            array->filled = 0;
        }
    }
    for (std::uint32_t slot = 0; slot < type.slotCount; ++slot) {
        const SlotInfo& child = type.slots[slot];
        if (!isRepeated(child.flags) && (child.flags & FieldFlag::Message) &&
            child.message->repeatedFieldsInTree > 0 && info->fields[slot] != nullptr &&
            !APMMessageInfoAllocArrays(*child.message, static_cast<MessageInfo*>(info->fields[slot]))) {
            return false;
        }
    }
    return true;
}

bool APMMessageInfoDeallocField(const MessageType& type, MessageInfo* info, int slot) {
    if (info == nullptr) {
        return false;
    }
    if (!type.hasSlot(slot)) {
        printRuntimeText("<ERROR> %s: Cannot deallocate field %d: Unknown field\n", type.name, slot);
        return false;
    }
    if (info->fields == nullptr) {
        return false;
    }
    const SlotInfo& slotInfo = type.slots[slot];
    void*& value = info->fields[slot];
    if (isRepeated(slotInfo.flags)) {
        auto* array = static_cast<RepeatedArray*>(value);
        if (array != nullptr) {
            for (std::uint32_t index = 0; array->items != nullptr && index < array->count; ++index) {
                releaseItem(slotInfo.flags, slotInfo.message, array->items[index]);
            }
            (void)APMPBResetArray(array);  // cannot fail: the record is there
        }
        return true;
    }
    if (value == nullptr) {
        return true;
    }
    if (slotInfo.flags & FieldFlag::StringOrBytes) {
        freeStringRecord(static_cast<StringRecord*>(value));
    } else if (slotInfo.flags & FieldFlag::Message) {
        // Cannot fail: the child is a record of its own type and not null.
        (void)APMMessageInfoFree(*slotInfo.message, static_cast<MessageInfo*>(value));
    } else {
        std::free(value);
    }
    value = nullptr;
    return true;
}

bool APMMessageInfoFree(const MessageType& type, MessageInfo* info) {
    if (info == nullptr) {
        return false;
    }
    if (info->fields != nullptr) {
        // One walk over the slots, releasing each value by its kind.
        for (std::uint32_t slot = 0; slot < type.slotCount; ++slot) {
            void* value = info->fields[slot];
            if (value == nullptr) {
                continue;
            }
            const SlotInfo& slotInfo = type.slots[slot];
            if (isRepeated(slotInfo.flags)) {
                auto* array = static_cast<RepeatedArray*>(value);
                for (std::uint32_t index = 0; array->items != nullptr && index < array->count; ++index) {
                    releaseItem(slotInfo.flags, slotInfo.message, array->items[index]);
                }
                std::free(array->items);
                std::free(array);
            } else if (slotInfo.flags & FieldFlag::StringOrBytes) {
                freeStringRecord(static_cast<StringRecord*>(value));
            } else if (slotInfo.flags & FieldFlag::Message) {
                (void)APMMessageInfoFree(*slotInfo.message, static_cast<MessageInfo*>(value));  // cannot fail: not null
            } else {
                std::free(value);
            }
        }
        std::free(info->fields);
    }
    std::free(info);
    return true;
}

bool APMMessageInfoCopy(const MessageType& type, MessageInfo** destination, const MessageInfo* source) {
    if (destination == nullptr || source == nullptr) {
        return false;
    }
    if (*destination != nullptr) {
        (void)APMMessageInfoFree(type, *destination);  // cannot fail: not null
        *destination = nullptr;
    }
    MessageInfo* copy = newMessageInfo(type);
    if (copy == nullptr) {
        return false;
    }
    *destination = copy;
    if (source->fields == nullptr) {
        return true;
    }
    for (std::uint32_t slot = 0; slot < type.slotCount; ++slot) {
        const void* value = source->fields[slot];
        if (value != nullptr && !copySlot(type.slots[slot], value, &copy->fields[slot])) {
            return false;
        }
    }
    return true;
}

namespace measurement::messages {

MessageInfo* newMessageInfo(const MessageType& type) {
    auto* info = static_cast<MessageInfo*>(std::calloc(1, sizeof(MessageInfo)));
    if (info == nullptr) {
        return nullptr;
    }
    if (!APMMessageInfoInit(type, info)) {
        (void)APMMessageInfoFree(type, info);  // cannot fail: not null
        return nullptr;
    }
    return info;
}

}  // namespace measurement::messages
