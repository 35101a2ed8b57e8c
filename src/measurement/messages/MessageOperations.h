#pragma once
// The operations every message has, written once and driven by the message's
// MessageType table. Failures print the runtime's "<ERROR>" texts to standard
// output and are reported only as false, null or kEncodeFailed.

#include <cstddef>
#include <cstdint>

#include "measurement/messages/MessageInfo.h"
#include "measurement/messages/MessageType.h"

using measurement::messages::MessageType;

// Prepares an empty message in `info`: name and flags of the type, a zeroed
// slot array, and one empty repeated-array record per repeated slot.
[[nodiscard]] bool APMMessageInfoInit(const MessageType& type, MessageInfo* info);

// Between the two decoding passes: sizes every item array from its count.
[[nodiscard]] bool APMMessageInfoAllocArrays(const MessageType& type, MessageInfo* info);

// Releases one slot; a repeated slot keeps its (emptied) record.
[[nodiscard]] bool APMMessageInfoDeallocField(const MessageType& type, MessageInfo* info, int slot);

// Releases everything the record owns, the record included.
[[nodiscard]] bool APMMessageInfoFree(const MessageType& type, MessageInfo* info);

// Replaces *destination with a deep copy of `source`.
[[nodiscard]] bool APMMessageInfoCopy(const MessageType& type, MessageInfo** destination, const MessageInfo* source);

// Decodes the bytes into a freshly initialised record. On failure the record
// keeps what was decoded so far; its owner frees it.
[[nodiscard]]
bool APMMessageInfoDecode(const MessageType& type, const std::uint8_t* bytes, std::size_t length,
                          MessageInfo* info);

inline constexpr std::uint32_t kEncodeFailed = 0xFFFFFFFF;

// Encodes the record into a new buffer of exactly the returned length (owned
// by the caller, released with free). kEncodeFailed on failure.
[[nodiscard]]
std::uint32_t APMMessageInfoEncodeToBuffer(const MessageType& type, const MessageInfo* info,
                                           std::uint8_t** output);

namespace measurement::messages {

// A new record from the C allocator, initialised for the type; null when
// allocation fails. Release with APMMessageInfoFree.
MessageInfo* newMessageInfo(const MessageType& type);

// Nesting of messages that contain themselves is bounded when decoding.
inline constexpr int kMaxNestingDepth = 100;
// No single string or bytes field above this many bytes is decoded.
inline constexpr std::size_t kMaxStringFieldLength = 1048576;

}  // namespace measurement::messages
