// String and bytes fields. Data stored here has exactly `length` bytes and no
// terminator; an empty value still gets a data block, so it reads as present.
#include <cstdlib>
#include <cstring>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/FieldAccessChecks.h"
#include "measurement/messages/MessageRuntime.h"
#include "measurement/messages/StringRecords.h"
#include "platform/core/Unicode.h"

using namespace measurement::messages;

namespace {

const StringRecord* filledRecord(const MessageInfo* info, int slot) {
    const auto* record = info != nullptr ? static_cast<const StringRecord*>(info->fields[slot]) : nullptr;
    return record != nullptr && record->data != nullptr ? record : nullptr;
}

// The slot's record, created zeroed when absent, with its old data released.
StringRecord* emptiedRecord(MessageInfo* info, int slot) {
    auto* record = static_cast<StringRecord*>(info->fields[slot]);
    if (record == nullptr) {
        record = static_cast<StringRecord*>(std::calloc(1, sizeof(StringRecord)));
        info->fields[slot] = record;
    } else {
        (void)APMPBDeallocString(record);  // cannot fail: the record is there
    }
    return record;
}

bool fillRecord(StringRecord* record, const void* bytes, std::size_t length) {
    if (record == nullptr || length > UINT32_MAX) {
        return false;
    }
    record->data = static_cast<std::uint8_t*>(std::malloc(length > 0 ? length : 1));
    if (record->data == nullptr) {
        return false;
    }
    if (length > 0) {
        std::memcpy(record->data, bytes, length);
    }
    record->length = static_cast<std::uint32_t>(length);
    return true;
}

}  // namespace

namespace measurement::messages {

bool APMPBFillStringRecord(StringRecord* record, std::string_view value) {
    return fillRecord(record, value.data(), value.size());
}

bool APMPBFillBytesRecord(StringRecord* record, std::span<const std::uint8_t> value) {
    return fillRecord(record, value.data(), value.size());
}

std::optional<std::string> stringFromRecord(const StringRecord& record) {
    if (record.data == nullptr || !platform::isValidUtf8(std::string_view(reinterpret_cast<const char*>(record.data), record.length))) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(record.data), record.length);
}

}  // namespace measurement::messages

std::optional<std::string> APMPBGetString(const NANOMessageBase& message, int slot) {
    const StringRecord* record = filledRecord(checkedRecord(message, slot, "GetString", kStringSlot), slot);
    return record != nullptr ? stringFromRecord(*record) : std::nullopt;
}

void APMPBSetString(NANOMessageBase& message, int slot, std::optional<std::string_view> value) {
    MessageInfo* info = checkedRecord(message, slot, "SetString", kStringSlot);
    if (info == nullptr) {
        return;
    }
    if (!value) {
        message.deallocMessageFieldFn()(info, slot);
        return;
    }
    // The typed setters report nothing: a record that cannot be filled stays without data.
    (void)APMPBFillStringRecord(emptiedRecord(info, slot), *value);
}

std::optional<APMPBData> APMPBGetBytes(const NANOMessageBase& message, int slot) {
    const StringRecord* record = filledRecord(checkedRecord(message, slot, "GetBytes", kBytesSlot), slot);
    if (record == nullptr) {
        return std::nullopt;
    }
    return APMPBData({record->data, record->length});
}

void APMPBSetBytes(NANOMessageBase& message, int slot, std::optional<std::span<const std::uint8_t>> value) {
    MessageInfo* info = checkedRecord(message, slot, "SetBytes", kBytesSlot);
    if (info == nullptr) {
        return;
    }
    if (!value) {
        message.deallocMessageFieldFn()(info, slot);
        return;
    }
    // The typed setters report nothing: a record that cannot be filled stays without data.
    (void)APMPBFillBytesRecord(emptiedRecord(info, slot), *value);
}
