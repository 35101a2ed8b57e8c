// Encoding straight from the record, driven by the message's table, in two
// walks over the tree: the first measures every message once, bottom-up, and
// keeps each sub-message's size in the order the walk meets it; the second
// writes into a buffer of exactly the measured size, taking each sub-message's
// length prefix from that list. Fields go out in ascending tag order; repeated
// fields one tag per element; nothing is allocated but the output and the
// list of sizes.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "measurement/messages/MessageLog.h"
#include "measurement/messages/MessageOperations.h"
#include "measurement/messages/MessageRuntime.h"
#include "measurement/messages/WireBinding.h"

namespace measurement::messages {

namespace {

enum WireType : std::uint32_t { kVarint = 0, kFixed64 = 1, kLengthDelimited = 2, kFixed32 = 5 };

bool isRepeated(std::uint32_t flags) { return (flags & FieldFlag::Repeated) != 0; }

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

std::size_t varintSize(std::uint64_t value) {
    std::size_t size = 1;
    while (value >= 0x80) {
        value >>= 7;
        ++size;
    }
    return size;
}

std::size_t tagSize(std::uint32_t tag) { return varintSize(static_cast<std::uint64_t>(tag) << 3); }

// The varint a singular number is written as: int32 is sign-extended from
// its low 32 bits, uint32 and enums (none has a negative value) are
// zero-extended, bools normalised from the cell's first byte.
std::uint64_t varintOfCell(std::uint32_t flags, const void* cell) {
    if (flags & FieldFlag::Bool) {
        return cellFirstByte(cell) != 0 ? 1 : 0;
    }
    if (flags & FieldFlag::Int32) {
        return static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(cellUInt32(cell))));
    }
    if (flags & (FieldFlag::Enum | FieldFlag::UInt32)) {
        return cellUInt32(cell);
    }
    return cellUInt64(cell);
}

// A record can be written when it has its slot array and every repeated
// record, through its single sub-messages; checked for a whole message before
// any of its elements, so the first missing record named is the one nearest
// the top.
[[nodiscard]] bool checkWritable(const MessageType& type, const MessageInfo* info) {
    if (info == nullptr || info->fields == nullptr) {
        return false;
    }
    for (std::uint32_t entry = 0; entry < type.slotCount; ++entry) {
        const int slot = type.slotsByTag[entry];
        const SlotInfo& slotInfo = type.slots[slot];
        const void* value = info->fields[slot];
        if (isRepeated(slotInfo.flags)) {
            if (value == nullptr) {
                printRuntimeText("<ERROR> %s Encoder: '%s' should have been allocated\n", type.name, slotInfo.name);
                return false;
            }
        } else if (value != nullptr && (slotInfo.flags & FieldFlag::Message) &&
                   !checkWritable(*slotInfo.message, static_cast<const MessageInfo*>(value))) {
            return false;
        }
    }
    return true;
}

class Encoder {
public:
    // Measures the message (already checked) and everything below it.
    [[nodiscard]] bool measure(const MessageType& type, const MessageInfo* info, std::size_t* size);
    void write(const MessageType& type, const MessageInfo* info);

    std::uint8_t* out = nullptr;

private:
    [[nodiscard]] bool measureChild(const MessageType& type, const MessageInfo* child, std::uint32_t tag,
                                    std::size_t* size);
    void writeVarint(std::uint64_t value) {
        while (value >= 0x80) {
            *out++ = static_cast<std::uint8_t>(value | 0x80);
            value >>= 7;
        }
        *out++ = static_cast<std::uint8_t>(value);
    }
    void writeTag(std::uint32_t tag, WireType wireType) {
        writeVarint((static_cast<std::uint64_t>(tag) << 3) | wireType);
    }
    void writeBytes(const void* bytes, std::size_t length) {
        if (length > 0) {
            std::memcpy(out, bytes, length);
            out += length;
        }
    }
    void writeChild(const MessageType& type, const MessageInfo* child, std::uint32_t tag);

    // Sizes of sub-messages in the order both walks meet them.
    std::vector<std::uint32_t> sizes_;
    std::size_t nextSize_ = 0;
};

bool Encoder::measureChild(const MessageType& type, const MessageInfo* child, std::uint32_t tag,
                           std::size_t* size) {
    const std::size_t index = sizes_.size();
    sizes_.push_back(0);
    std::size_t childSize = 0;
    if (!measure(type, child, &childSize) || childSize >= kEncodeFailed) {
        return false;
    }
    sizes_[index] = static_cast<std::uint32_t>(childSize);
    *size += tagSize(tag) + varintSize(childSize) + childSize;
    return true;
}

bool Encoder::measure(const MessageType& type, const MessageInfo* info, std::size_t* size) {
    std::size_t total = 0;
    for (std::uint32_t entry = 0; entry < type.slotCount; ++entry) {
        const int slot = type.slotsByTag[entry];
        const SlotInfo& slotInfo = type.slots[slot];
        const std::uint32_t flags = slotInfo.flags;
        const void* value = info->fields[slot];
        if (isRepeated(flags)) {
            const auto* array = static_cast<const RepeatedArray*>(value);
            if (array->count == 0) {
                continue;
            }
            if (array->items == nullptr) {
                return false;
            }
            for (std::uint32_t index = 0; index < array->count; ++index) {
                const void* item = array->items[index];
                if (item == nullptr) {
                    return false;
                }
                if (flags & FieldFlag::Message) {
                    const auto* element = static_cast<const MessageInfo*>(item);
                    if (!checkWritable(*slotInfo.message, element) ||
                        !measureChild(*slotInfo.message, element, slotInfo.tag, &total)) {
                        return false;
                    }
                } else if (flags & FieldFlag::StringOrBytes) {
                    const auto* record = static_cast<const StringRecord*>(item);
                    if (record->data == nullptr) {
                        return false;
                    }
                    total += tagSize(slotInfo.tag) + varintSize(record->length) + record->length;
                } else {
                    total += tagSize(slotInfo.tag) + varintSize(cellUInt64(item));
                }
            }
        } else if (value == nullptr) {
            continue;
        } else if (flags & FieldFlag::StringOrBytes) {
            const auto* record = static_cast<const StringRecord*>(value);
            if (record->data == nullptr) {
                return false;
            }
            total += tagSize(slotInfo.tag) + varintSize(record->length) + record->length;
        } else if (flags & FieldFlag::Message) {
            if (!measureChild(*slotInfo.message, static_cast<const MessageInfo*>(value), slotInfo.tag, &total)) {
                return false;
            }
        } else if (flags & FieldFlag::Float) {
            total += tagSize(slotInfo.tag) + 4;
        } else if (flags & FieldFlag::Double) {
            total += tagSize(slotInfo.tag) + 8;
        } else {
            total += tagSize(slotInfo.tag) + varintSize(varintOfCell(flags, value));
        }
    }
    *size = total;
    return true;
}

void Encoder::writeChild(const MessageType& type, const MessageInfo* child, std::uint32_t tag) {
    writeTag(tag, kLengthDelimited);
    writeVarint(sizes_[nextSize_++]);
    write(type, child);
}

// Writes what measure() accepted; it meets the same fields in the same order.
void Encoder::write(const MessageType& type, const MessageInfo* info) {
    for (std::uint32_t entry = 0; entry < type.slotCount; ++entry) {
        const int slot = type.slotsByTag[entry];
        const SlotInfo& slotInfo = type.slots[slot];
        const std::uint32_t flags = slotInfo.flags;
        const void* value = info->fields[slot];
        if (isRepeated(flags)) {
            const auto* array = static_cast<const RepeatedArray*>(value);
            for (std::uint32_t index = 0; index < array->count; ++index) {
                const void* item = array->items[index];
                if (flags & FieldFlag::Message) {
                    writeChild(*slotInfo.message, static_cast<const MessageInfo*>(item), slotInfo.tag);
                } else if (flags & FieldFlag::StringOrBytes) {
                    const auto* record = static_cast<const StringRecord*>(item);
                    writeTag(slotInfo.tag, kLengthDelimited);
                    writeVarint(record->length);
                    writeBytes(record->data, record->length);
                } else {
                    writeTag(slotInfo.tag, wireTypeOf(flags));
                    writeVarint(cellUInt64(item));
                }
            }
        } else if (value == nullptr) {
            continue;
        } else if (flags & FieldFlag::StringOrBytes) {
            const auto* record = static_cast<const StringRecord*>(value);
            writeTag(slotInfo.tag, kLengthDelimited);
            writeVarint(record->length);
            writeBytes(record->data, record->length);
        } else if (flags & FieldFlag::Message) {
            writeChild(*slotInfo.message, static_cast<const MessageInfo*>(value), slotInfo.tag);
        } else if (flags & FieldFlag::Float) {
            writeTag(slotInfo.tag, kFixed32);
            writeBytes(value, 4);  // the cell holds the float's bytes, little-endian as the wire
        } else if (flags & FieldFlag::Double) {
            writeTag(slotInfo.tag, kFixed64);
            writeBytes(value, 8);
        } else {
            writeTag(slotInfo.tag, kVarint);
            writeVarint(varintOfCell(flags, value));
        }
    }
}

}  // namespace

}  // namespace measurement::messages

std::uint32_t APMMessageInfoEncodeToBuffer(const MessageType& type, const MessageInfo* info, std::uint8_t** output) {
    using namespace measurement::messages;
    if (output == nullptr || !checkWritable(type, info)) {
        return kEncodeFailed;
    }
    Encoder encoder;
    std::size_t size = 0;
    if (!encoder.measure(type, info, &size) || size >= kEncodeFailed) {
        return kEncodeFailed;
    }
    // A message with nothing present encodes to zero bytes, which is still a
    // buffer: allocate at least one byte so success never looks like failure.
    auto* buffer = static_cast<std::uint8_t*>(std::malloc(size > 0 ? size : 1));
    if (buffer == nullptr) {
        return kEncodeFailed;
    }
    encoder.out = buffer;
    encoder.write(type, info);
    *output = buffer;
    return static_cast<std::uint32_t>(size);
}
