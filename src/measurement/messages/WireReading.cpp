// The one-pass reader: each message is read once, straight from the caller's
// bytes, elements of repeated messages included (no copies, no counting pass;
// item arrays grow geometrically). It accepts only input that is plainly well
// formed, and stops without a word at anything else (a wrong wire type, a
// truncation, an over-long string or varint, a zero tag, a packed block, a
// repeated single sub-message, nesting past the limit, a group) so that the
// nanopb decoder can read the same bytes again and say exactly what is wrong
// or merge what it merges. Whatever it accepts, it stores exactly as that
// decoder would.
#include <cstdlib>
#include <cstring>

#include "measurement/messages/MessageOperations.h"
#include "measurement/messages/MessageRuntime.h"
#include "measurement/messages/WireBinding.h"

namespace measurement::messages {

namespace {

enum WireType : std::uint32_t { kVarint = 0, kFixed64 = 1, kLengthDelimited = 2, kFixed32 = 5 };

WireType wireTypeOf(std::uint32_t flags) {
    if (flags & (FieldFlag::StringOrBytes | FieldFlag::Message)) {
        return kLengthDelimited;
    }
    if (flags & FieldFlag::Float) {
        return kFixed32;
    }
    if (flags & FieldFlag::Double) {
        return kFixed64;
    }
    return kVarint;
}

class Reader {
public:
    Reader(const std::uint8_t* begin, const std::uint8_t* end) : at_(begin), end_(end) {}

    bool atEnd() const { return at_ == end_; }
    const std::uint8_t* position() const { return at_; }
    std::size_t remaining() const { return static_cast<std::size_t>(end_ - at_); }

    // Up to ten bytes, the tenth at most 1: the varints nanopb reads as 64 bits.
    bool varint64(std::uint64_t* value) {
        std::uint64_t result = 0;
        for (unsigned shift = 0; shift < 70 && at_ != end_; shift += 7) {
            const std::uint8_t byte = *at_++;
            if (shift == 63 && byte > 1) {
                return false;
            }
            result |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
            if ((byte & 0x80) == 0) {
                *value = result;
                return true;
            }
        }
        return false;
    }

    // Up to five bytes with a value below 2^32: tags and lengths.
    bool varint32(std::uint32_t* value) {
        std::uint32_t result = 0;
        for (unsigned shift = 0; shift < 35 && at_ != end_; shift += 7) {
            const std::uint8_t byte = *at_++;
            if (shift == 28 && byte > 0x0F) {
                return false;
            }
            result |= static_cast<std::uint32_t>(byte & 0x7F) << shift;
            if ((byte & 0x80) == 0) {
                *value = result;
                return true;
            }
        }
        return false;
    }

    bool length(std::uint32_t* value) { return varint32(value) && *value <= remaining(); }

    bool skip(std::size_t count) {
        if (count > remaining()) {
            return false;
        }
        at_ += count;
        return true;
    }

    bool skipField(std::uint32_t wireType) {
        std::uint64_t ignored;
        std::uint32_t size;
        switch (wireType) {
            case kVarint:
                return varint64(&ignored);
            case kFixed64:
                return skip(8);
            case kFixed32:
                return skip(4);
            case kLengthDelimited:
                return length(&size) && skip(size);
            default:
                return false;
        }
    }

private:
    const std::uint8_t* at_;
    const std::uint8_t* end_;
};

const SlotInfo* slotFor(const MessageType& type, std::uint32_t tag) {
    // Most messages number their fields from 1 in slot order.
    if (tag >= 1 && tag <= type.slotCount && type.slots[tag - 1].tag == tag) {
        return &type.slots[tag - 1];
    }
    return type.slotForTag(tag);
}

// Appends one item slot to the array and returns it (null on allocation
// failure). Capacity is the next power of two from 4, so it follows from the
// count alone.
void** appendItem(RepeatedArray& array) {
    const std::uint32_t count = array.count;
    if (count == 0 || (count >= 4 && (count & (count - 1)) == 0)) {
        const std::size_t capacity = count == 0 ? 4 : static_cast<std::size_t>(count) * 2;
        auto** items = static_cast<void**>(std::realloc(array.items, capacity * sizeof(void*)));
        if (items == nullptr) {
            return nullptr;
        }
        array.items = items;
    }
    array.items[count] = nullptr;
    array.count = count + 1;
    array.filled = count + 1;
    return &array.items[count];
}

[[nodiscard]] bool newStringRecord(const std::uint8_t* bytes, std::uint32_t length, void** slot) {
    auto* record = static_cast<StringRecord*>(std::malloc(sizeof(StringRecord)));
    if (record == nullptr) {
        return false;
    }
    // An empty string still gets a data block: present with length 0.
    record->data = static_cast<std::uint8_t*>(std::malloc(length > 0 ? length : 1));
    if (record->data == nullptr) {
        std::free(record);
        return false;
    }
    std::memcpy(record->data, bytes, length);
    record->length = length;
    *slot = record;
    return true;
}

[[nodiscard]] bool readScalar(std::uint32_t flags, Reader& reader, void** slot) {
    if (flags & FieldFlag::Float) {
        float value;
        if (reader.remaining() < sizeof value) {
            return false;
        }
        std::memcpy(&value, reader.position(), sizeof value);
        return reader.skip(sizeof value) && APMPBSetFloatValue(slot, value);
    }
    if (flags & FieldFlag::Double) {
        double value;
        if (reader.remaining() < sizeof value) {
            return false;
        }
        std::memcpy(&value, reader.position(), sizeof value);
        return reader.skip(sizeof value) && APMPBSetDoubleValue(slot, value);
    }
    if (flags & FieldFlag::Bool) {
        std::uint32_t value;  // nanopb reads a bool as a 32-bit varint
        return reader.varint32(&value) && APMPBSetBoolValue(slot, value != 0);
    }
    std::uint64_t value;
    if (!reader.varint64(&value)) {
        return false;
    }
    if (flags & FieldFlag::Int32) {
        return APMPBSetUInt32Value(slot, static_cast<std::uint32_t>(value));
    }
    if (flags & (FieldFlag::UInt32 | FieldFlag::Enum)) {
        // Wider values are refused by nanopb ("integer too large").
        return value <= 0xFFFFFFFFu && APMPBSetUInt32Value(slot, static_cast<std::uint32_t>(value));
    }
    return APMPBSetUInt64Value(slot, value);
}

[[nodiscard]] bool readMessage(const MessageType& type, Reader reader, MessageInfo* info, int depth);

[[nodiscard]] bool readRepeated(const SlotInfo& slot, std::uint32_t wireType, Reader& reader, RepeatedArray& array,
                                int depth) {
    const std::uint32_t flags = slot.flags;
    if (wireType != wireTypeOf(flags)) {
        return false;  // packed numbers, or a wrong wire type
    }
    if (flags & (FieldFlag::Message | FieldFlag::StringOrBytes)) {
        std::uint32_t length;
        if (!reader.length(&length)) {
            return false;
        }
        const std::uint8_t* bytes = reader.position();
        (void)reader.skip(length);  // cannot fail: the length fits
        if (flags & FieldFlag::StringOrBytes) {
            void** item = length <= kMaxStringFieldLength ? appendItem(array) : nullptr;
            return item != nullptr && newStringRecord(bytes, length, item);
        }
        if (depth + 1 > kMaxNestingDepth) {
            return false;
        }
        void** item = appendItem(array);
        if (item == nullptr) {
            return false;
        }
        // The element joins the array before it is read, so a stop half-way
        // leaves a record that frees everything.
        MessageInfo* element = newMessageInfo(*slot.message);
        *item = element;
        if (element == nullptr) {
            --array.count;
            --array.filled;
            return false;
        }
        return readMessage(*slot.message, Reader(bytes, bytes + length), element, depth + 1);
    }
    std::uint64_t value;  // repeated numbers keep the whole varint
    if (!reader.varint64(&value)) {
        return false;
    }
    void** item = appendItem(array);
    return item != nullptr && APMPBSetUInt64Value(item, value);
}

bool readMessage(const MessageType& type, Reader reader, MessageInfo* info, int depth) {
    while (!reader.atEnd()) {
        std::uint32_t key;
        if (!reader.varint32(&key) || (key >> 3) == 0) {
            return false;
        }
        const std::uint32_t wireType = key & 7;
        const SlotInfo* slot = slotFor(type, key >> 3);
        if (slot == nullptr) {
            if (!reader.skipField(wireType)) {
                return false;
            }
            continue;
        }
        const auto index = static_cast<std::size_t>(slot - type.slots);
        void** value = &info->fields[index];
        const std::uint32_t flags = slot->flags;
        if (flags & FieldFlag::Repeated) {
            if (!readRepeated(*slot, wireType, reader, *static_cast<RepeatedArray*>(*value), depth)) {
                return false;
            }
            continue;
        }
        if (wireType != wireTypeOf(flags)) {
            return false;
        }
        if (flags & (FieldFlag::Message | FieldFlag::StringOrBytes)) {
            std::uint32_t length;
            if (!reader.length(&length)) {
                return false;
            }
            const std::uint8_t* bytes = reader.position();
            (void)reader.skip(length);  // cannot fail: the length fits
            if (flags & FieldFlag::StringOrBytes) {
                if (*value != nullptr) {
                    continue;  // a later occurrence: the first one stays
                }
                if (length > kMaxStringFieldLength || !newStringRecord(bytes, length, value)) {
                    return false;
                }
                continue;
            }
            if (*value != nullptr) {
                return false;  // a second occurrence merges into the first: left to nanopb
            }
            MessageInfo* child = newMessageInfo(*slot->message);
            *value = child;
            if (child == nullptr || !readMessage(*slot->message, Reader(bytes, bytes + length), child, depth)) {
                return false;
            }
            continue;
        }
        if (!readScalar(flags, reader, value)) {
            return false;
        }
    }
    return true;
}

bool isFresh(const MessageType& type, const MessageInfo* info) {
    if (info->fields == nullptr) {
        return false;
    }
    for (std::uint32_t slot = 0; slot < type.slotCount; ++slot) {
        const void* value = info->fields[slot];
        if (type.flags[slot] & FieldFlag::Repeated) {
            const auto* array = static_cast<const RepeatedArray*>(value);
            if (array == nullptr || array->count != 0 || array->items != nullptr) {
                return false;
            }
        } else if (value != nullptr) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool readWellFormed(const MessageType& type, const std::uint8_t* bytes, std::size_t length, MessageInfo* info) {
    if (info == nullptr || !isFresh(type, info)) {
        return false;
    }
    if (length == 0 || readMessage(type, Reader(bytes, bytes + length), info, 0)) {
        return true;
    }
    // Back to a fresh record for the decoder that reads it again.
    for (std::uint32_t slot = 0; slot < type.slotCount; ++slot) {
        (void)APMMessageInfoDeallocField(type, info, static_cast<int>(slot));  // cannot fail: a known slot
    }
    return false;
}

}  // namespace measurement::messages
