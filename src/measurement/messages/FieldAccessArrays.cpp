// Repeated fields as arrays of objects.
#include <cstdlib>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/FieldAccessChecks.h"
#include "measurement/messages/MessageLog.h"
#include "measurement/messages/MessageRuntime.h"
#include "measurement/messages/StringRecords.h"

using namespace measurement::messages;

namespace {

constexpr std::uint32_t kNumberTypes = FieldFlag::Numbers;

// One element as an object; nothing when it cannot be converted (logged where
// the conversion has a text for it).
std::optional<APMPBObject> objectFromItem(const SlotInfo& slot, const void* item, const APMPBClass* wrapperClass) {
    const std::uint32_t flags = slot.flags;
    if (flags & FieldFlag::Bool) {
        return APMPBNumber::numberWithBool(cellFirstByte(item) != 0);
    }
    if (flags & (FieldFlag::Int32 | FieldFlag::Enum)) {
        return APMPBNumber::numberWithInt(static_cast<std::int32_t>(cellUInt32(item)));
    }
    if (flags & FieldFlag::UInt32) {
        return APMPBNumber::numberWithUnsignedInt(cellUInt32(item));
    }
    if (flags & FieldFlag::Int64) {
        return APMPBNumber::numberWithLongLong(static_cast<std::int64_t>(cellUInt64(item)));
    }
    if (flags & FieldFlag::UInt64) {
        return APMPBNumber::numberWithUnsignedLongLong(cellUInt64(item));
    }
    if (flags & FieldFlag::Float) {
        return APMPBNumber::numberWithFloat(cellFloat(item));
    }
    if (flags & FieldFlag::Double) {
        return APMPBNumber::numberWithDouble(cellDouble(item));
    }
    if (flags & FieldFlag::String) {
        std::optional<std::string> text = stringFromRecord(*static_cast<const StringRecord*>(item));
        return text ? std::optional<APMPBObject>(std::move(*text)) : std::nullopt;
    }
    if (flags & FieldFlag::Bytes) {
        const auto* record = static_cast<const StringRecord*>(item);
        return APMPBData({record->data, record->data != nullptr ? record->length : 0});
    }
    if (flags & FieldFlag::Message) {
        if (wrapperClass == nullptr || wrapperClass->initWithMessageInfo == nullptr) {
            logSystemLine("<ERROR> Provided class doesn't implement initWithMessageInfo: method. Class: %s",
                          wrapperClass != nullptr ? wrapperClass->name().c_str() : "(null)");
            return std::nullopt;
        }
        std::shared_ptr<NANOMessageBase> element = wrapperClass->initWithMessageInfo(static_cast<const MessageInfo*>(item));
        return element != nullptr ? std::optional<APMPBObject>(std::move(element)) : std::nullopt;
    }
    logSystemLine("<ERROR> Unable to convert byte data to an ObjC object. Unknown type. %d", static_cast<int>(flags));
    return std::nullopt;
}

const char* numberKindName(std::uint32_t flags) {
    if (flags & FieldFlag::Bool) return "Boolean";
    if (flags & (FieldFlag::Int32 | FieldFlag::UInt32)) return "Int32";
    if (flags & (FieldFlag::Int64 | FieldFlag::UInt64)) return "Int64";
    if (flags & FieldFlag::Float) return "Float";
    if (flags & FieldFlag::Double) return "Double";
    return "Enum";
}

bool storeNumber(std::uint32_t flags, const APMPBNumber& number, void** item) {
    if (flags & FieldFlag::Bool) {
        return APMPBSetUInt32Value(item, number.boolValue() ? 1 : 0);
    }
    if (flags & (FieldFlag::Int32 | FieldFlag::UInt32 | FieldFlag::Enum)) {
        return APMPBSetUInt32Value(item, number.unsignedIntValue());
    }
    if (flags & (FieldFlag::Int64 | FieldFlag::UInt64)) {
        return APMPBSetUInt64Value(item, static_cast<std::uint64_t>(number.longLongValue()));
    }
    if (flags & FieldFlag::Float) {
        return APMPBSetFloatValue(item, number.floatValue());
    }
    return APMPBSetDoubleValue(item, number.doubleValue());
}

StringRecord* newRecord(void** item) {
    *item = std::calloc(1, sizeof(StringRecord));
    return static_cast<StringRecord*>(*item);
}

// Stores one object as element `item` of a repeated slot; logs and fails when
// the object does not fit the slot's element type. With `adopt`, a message
// whose wrapper only `object` holds hands its record over.
[[nodiscard]] bool storeObject(const SlotInfo& slot, const APMPBObject& object, void** item, bool adopt) {
    const std::uint32_t flags = slot.flags;
    if (flags & kNumberTypes) {
        const auto* number = std::get_if<APMPBNumber>(&object);
        if (number == nullptr) {
            logSystemLine("<ERROR> Invalid object type. %s fields expect NSNumber. Type: %s", numberKindName(flags),
                          APMPBClassNameOf(object).c_str());
            return false;
        }
        return storeNumber(flags, *number, item);
    }
    if (flags & FieldFlag::String) {
        const auto* text = std::get_if<std::string>(&object);
        if (text == nullptr) {
            logSystemLine("<ERROR> Invalid object type. String fields expect NSString. Type: %s",
                          APMPBClassNameOf(object).c_str());
            return false;
        }
        return APMPBFillStringRecord(newRecord(item), *text);
    }
    if (flags & FieldFlag::Bytes) {
        const auto* data = std::get_if<APMPBData>(&object);
        if (data == nullptr) {
            logSystemLine("<ERROR> Invalid object type. Bytes fields expect NSData. Type: %s",
                          APMPBClassNameOf(object).c_str());
            return false;
        }
        return APMPBFillBytesRecord(newRecord(item), data->span());
    }
    if (flags & FieldFlag::Message) {
        const auto* wrapper = std::get_if<std::shared_ptr<NANOMessageBase>>(&object);
        if (wrapper == nullptr || *wrapper == nullptr) {
            logSystemLine("<ERROR> Invalid object type. Message fields expect NANOMessageBase. Type: %s",
                          APMPBClassNameOf(object).c_str());
            return false;
        }
        if (!wrapsMessage(**wrapper, *slot.message)) {
            logSystemLine("<ERROR> Invalid object type. Message fields expect %s. Type: %s", slot.message->name,
                          APMPBClassNameOf(object).c_str());
            return false;
        }
        if (adopt && wrapper->use_count() == 1 && (*wrapper)->messageInfo() != nullptr) {
            *item = (*wrapper)->releaseMessageInfo();
            return true;
        }
        return (*wrapper)->copyMessageInfoFn()(reinterpret_cast<MessageInfo**>(item), (*wrapper)->messageInfo());
    }
    logSystemLine("<ERROR> Unable to convert ObjC object to byte data. Unknown type. %d", static_cast<int>(flags));
    return false;
}

}  // namespace

std::optional<APMPBArray> APMPBGetArray(const NANOMessageBase& message, int slot, const APMPBClass* wrapperClass) {
    const MessageInfo* info = checkedRecord(message, slot, "GetArray", kRepeatedSlot);
    if (info == nullptr) {
        return std::nullopt;
    }
    const auto* array = static_cast<const RepeatedArray*>(info->fields[slot]);
    if (array == nullptr) {
        logSystemLine("<ERROR> Repeated field should have been allocated");
        return std::nullopt;
    }
    APMPBArray objects;
    if (array->items == nullptr) {
        return objects;
    }
    const SlotInfo& slotInfo = message.messageType().slots[slot];
    objects.reserve(array->count);
    for (std::uint32_t index = 0; index < array->count; ++index) {
        const void* item = array->items[index];
        if (item == nullptr) {
            logSystemLine("<ERROR> Unable to convert NULL data to an ObjC object");
            continue;
        }
        if (std::optional<APMPBObject> object = objectFromItem(slotInfo, item, wrapperClass)) {
            objects.push_back(std::move(*object));
        }
    }
    return objects;
}

namespace {

void setArray(NANOMessageBase& message, int slot, const APMPBArray* objects, bool adopt) {
    MessageInfo* info = checkedRecord(message, slot, "SetArray", kRepeatedSlot);
    if (info == nullptr) {
        return;
    }
    auto* array = static_cast<RepeatedArray*>(info->fields[slot]);
    if (array == nullptr) {
        logSystemLine("<ERROR> Repeated field should have been allocated");
        return;
    }
    const auto deallocField = message.deallocMessageFieldFn();
    deallocField(info, slot);
    if (objects == nullptr || objects->empty()) {
        return;
    }
    array->items = static_cast<void**>(std::calloc(objects->size(), sizeof(void*)));
    array->count = static_cast<std::uint32_t>(objects->size());
    const SlotInfo& slotInfo = message.messageType().slots[slot];
    for (std::size_t index = 0; index < objects->size(); ++index) {
        if (array->items == nullptr) {
            logSystemLine("<ERROR> Unable to set NULL data to an ObjC object");
            deallocField(info, slot);
            return;
        }
        if (!storeObject(slotInfo, (*objects)[index], &array->items[index], adopt)) {
            // Nothing half-set survives: neither the old elements nor the new ones.
            deallocField(info, slot);
            return;
        }
    }
    array->filled = array->count;
}

}  // namespace

void APMPBSetArray(NANOMessageBase& message, int slot, const std::optional<APMPBArray>& objects) {
    setArray(message, slot, objects ? &*objects : nullptr, false);
}

void APMPBSetArray(NANOMessageBase& message, int slot, APMPBArray&& objects) {
    APMPBArray handedOver = std::move(objects);
    setArray(message, slot, &handedOver, true);
}
