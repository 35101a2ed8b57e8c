#pragma once
// The shared runtime under every message operation: value cells, string
// records and repeated-array records. Setters take the address of a slot (or
// of a repeated item) and allocate its storage when it is empty. Misuse prints
// an "<ERROR>" text to standard output and reports false.

#include <cstdint>

#include "measurement/messages/MessageInfo.h"

[[nodiscard]] bool APMPBSetBoolValue(void** slot, bool value);
[[nodiscard]] bool APMPBSetUInt32Value(void** slot, std::uint32_t value);
[[nodiscard]] bool APMPBSetUInt64Value(void** slot, std::uint64_t value);
[[nodiscard]] bool APMPBSetFloatValue(void** slot, float value);
[[nodiscard]] bool APMPBSetDoubleValue(void** slot, double value);

// Copies `length` bytes into the slot's string record, followed by a zero byte.
[[nodiscard]] bool APMPBSetStringValue(void** slot, const std::uint8_t* bytes, std::uint32_t length);
// Frees the record's data and empties it; the record itself stays.
[[nodiscard]] bool APMPBDeallocString(StringRecord* record);
// Frees the item array (not the items) and empties the record.
[[nodiscard]] bool APMPBResetArray(RepeatedArray* array);

namespace measurement::messages {

// Readers of value cells.
std::uint64_t cellUInt64(const void* cell);
std::uint32_t cellUInt32(const void* cell);  // the low 32 bits
std::uint8_t cellFirstByte(const void* cell);
float cellFloat(const void* cell);
double cellDouble(const void* cell);

// Stores a value read from a cell of a slot with `flags` into another slot,
// through the setter of that type.
[[nodiscard]] bool copyCell(std::uint32_t flags, const void* cell, void** destination);

// Releases one repeated item (child MessageInfo, string record or cell).
struct MessageType;
void releaseItem(std::uint32_t flags, const MessageType* element, void* item);
void freeStringRecord(StringRecord* record);

}  // namespace measurement::messages
