#pragma once
// MessageType: the constant per-message table that drives the one generic
// implementation of the message operations. Generated from the wire schema
// (generate_message_tables.py); the constants are declared in the generated
// MessageTypes.h and listed by allMessageTypes().

#include <cstddef>
#include <cstdint>
#include <span>

struct pb_msgdesc_s;

namespace measurement::messages {

struct MessageType;

struct SlotInfo {
    const char* name;            // the field's name in the schema
    std::uint32_t tag;           // its wire field number
    std::uint32_t flags;         // FieldFlag bits
    const MessageType* message;  // child or element message; null for other kinds
};

struct MessageType {
    const char* name;
    std::uint32_t slotCount;
    const std::uint32_t* flags;          // slotCount entries; shared by every record
    const SlotInfo* slots;               // slotCount entries, in slot order
    const std::uint16_t* slotsByTag;     // slot of each nanopb descriptor entry (ascending tag)
    const pb_msgdesc_s* descriptor;      // nanopb field descriptors
    std::size_t structSize;              // size of nanopb's structure
    std::uint32_t repeatedFieldsInTree;  // repeated slots, including those of single sub-messages

    const SlotInfo* slotForTag(std::uint32_t tag) const;
    bool hasSlot(int slot) const { return slot >= 0 && static_cast<std::uint32_t>(slot) < slotCount; }
};

// Every message of the schema, in declaration order.
std::span<const MessageType* const> allMessageTypes();
const MessageType* messageTypeNamed(const char* name);

}  // namespace measurement::messages
