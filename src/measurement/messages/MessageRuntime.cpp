#include "measurement/messages/MessageRuntime.h"

#include <cstdlib>
#include <cstring>

#include "measurement/messages/MessageLog.h"
#include "measurement/messages/MessageOperations.h"

using measurement::messages::printRuntimeText;

namespace {

// Cells are 8 bytes (T is a 64-bit integer or a double), or 4 for float; they
// are allocated on first write and overwritten in place afterwards.
template <typename T>
[[nodiscard]] bool storeInCell(void** slot, T value, const char* typeName) {
    if (slot == nullptr) {
        printRuntimeText("<ERROR> Unable to set %s. Destination pointer is NULL\n", typeName);
        return false;
    }
    if (*slot == nullptr) {
        *slot = std::calloc(1, sizeof(T));
        if (*slot == nullptr) {
            return false;
        }
    }
    std::memcpy(*slot, &value, sizeof(T));
    return true;
}

}  // namespace

bool APMPBSetBoolValue(void** slot, bool value) {
    return storeInCell<std::uint64_t>(slot, value ? 1 : 0, "bool");
}

bool APMPBSetUInt32Value(void** slot, std::uint32_t value) {
    return storeInCell<std::uint64_t>(slot, value, "uint32");
}

bool APMPBSetUInt64Value(void** slot, std::uint64_t value) {
    return storeInCell<std::uint64_t>(slot, value, "uint64");
}

bool APMPBSetFloatValue(void** slot, float value) {
    return storeInCell<float>(slot, value, "float");
}

bool APMPBSetDoubleValue(void** slot, double value) {
    return storeInCell<double>(slot, value, "double");
}

bool APMPBSetStringValue(void** slot, const std::uint8_t* bytes, std::uint32_t length) {
    if (slot == nullptr) {
        printRuntimeText("<ERROR> Unable to set string. Destination array is NULL\n");
        return false;
    }
    auto* record = static_cast<StringRecord*>(*slot);
    if (record == nullptr) {
        record = static_cast<StringRecord*>(std::calloc(1, sizeof(StringRecord)));
        if (record == nullptr) {
            return false;
        }
        *slot = record;
    } else {
        (void)APMPBDeallocString(record);  // cannot fail: the record is there
    }
    auto* data = static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(length) + 1, 1));
    if (data == nullptr) {
        return false;
    }
    if (length > 0) {
        std::memcpy(data, bytes, length);
    }
    record->data = data;
    record->length = length;
    return true;
}

bool APMPBDeallocString(StringRecord* record) {
    if (record == nullptr) {
        printRuntimeText("<ERROR> Unable to dealloc string field. String struct is NULL\n");
        return false;
    }
    std::free(record->data);
    record->data = nullptr;
    record->length = 0;
    return true;
}

bool APMPBResetArray(RepeatedArray* array) {
    if (array == nullptr) {
        printRuntimeText("<ERROR> Unable to initialize the array. Array pointer is NULL\n");
        return false;
    }
    std::free(array->items);
    array->items = nullptr;
    array->filled = 0;
    array->count = 0;
    return true;
}

namespace measurement::messages {

std::uint64_t cellUInt64(const void* cell) {
    std::uint64_t value;
    std::memcpy(&value, cell, sizeof value);
    return value;
}

std::uint32_t cellUInt32(const void* cell) {
    return static_cast<std::uint32_t>(cellUInt64(cell));
}

std::uint8_t cellFirstByte(const void* cell) {
    return *static_cast<const std::uint8_t*>(cell);
}

float cellFloat(const void* cell) {
    float value;
    std::memcpy(&value, cell, sizeof value);
    return value;
}

double cellDouble(const void* cell) {
    double value;
    std::memcpy(&value, cell, sizeof value);
    return value;
}

bool copyCell(std::uint32_t flags, const void* cell, void** destination) {
    if (flags & FieldFlag::Bool) {
        return APMPBSetBoolValue(destination, cellFirstByte(cell) != 0);
    }
    if (flags & (FieldFlag::Enum | FieldFlag::Int32 | FieldFlag::UInt32)) {
        return APMPBSetUInt32Value(destination, cellUInt32(cell));
    }
    if (flags & (FieldFlag::Int64 | FieldFlag::UInt64)) {
        return APMPBSetUInt64Value(destination, cellUInt64(cell));
    }
    if (flags & FieldFlag::Float) {
        return APMPBSetFloatValue(destination, cellFloat(cell));
    }
    if (flags & FieldFlag::Double) {
        return APMPBSetDoubleValue(destination, cellDouble(cell));
    }
    return false;
}

void freeStringRecord(StringRecord* record) {
    if (record != nullptr) {
        std::free(record->data);
        std::free(record);
    }
}

void releaseItem(std::uint32_t flags, const MessageType* element, void* item) {
    if (item == nullptr) {
        return;
    }
    if (flags & FieldFlag::Message) {
        (void)APMMessageInfoFree(*element, static_cast<MessageInfo*>(item));  // cannot fail: not null
    } else if (flags & FieldFlag::StringOrBytes) {
        freeStringRecord(static_cast<StringRecord*>(item));
    } else {
        std::free(item);
    }
}

}  // namespace measurement::messages
