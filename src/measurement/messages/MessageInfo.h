#pragma once
// MessageInfo: the in-memory form of every wire message. One slot pointer per
// field in slot order (null = absent; a repeated field's record always
// exists), the message's constant table of type flags, and its name.
//
// Everything reachable from a MessageInfo is a separate heap block from the C
// allocator and belongs to it: value cells (8 bytes, 4 for float; 32-bit
// values zero-extended), string records, repeated-array records with their
// item arrays and items, and child MessageInfos. APMMessageInfoFree releases
// it all, the MessageInfo included.

#include <cstdint>

struct MessageInfo {
    void** fields;
    const std::uint32_t* flags;
    const char* name;
};

// A string or bytes field. Data read from the wire or stored by the typed
// setters has exactly `length` bytes; data copied by APMPBSetStringValue has
// one more, a terminating zero. Readers go by `length` only.
struct StringRecord {
    std::uint32_t length;
    std::uint8_t* data;
};

// A repeated field: `count` items, each a pointer (child MessageInfo, string
// record or value cell). `filled` is the decoder's write cursor.
struct RepeatedArray {
    std::uint32_t filled;
    std::uint32_t count;
    void** items;
};

// Type flags of a slot: one label bit and one type bit.
namespace FieldFlag {
inline constexpr std::uint32_t Optional = 0x2;
inline constexpr std::uint32_t Repeated = 0x8;
inline constexpr std::uint32_t Bool = 0x20;
inline constexpr std::uint32_t Enum = 0x40;
inline constexpr std::uint32_t Int32 = 0x80;
inline constexpr std::uint32_t UInt32 = 0x100;
inline constexpr std::uint32_t Int64 = 0x200;
inline constexpr std::uint32_t UInt64 = 0x400;
inline constexpr std::uint32_t Float = 0x800;
inline constexpr std::uint32_t Double = 0x1000;
inline constexpr std::uint32_t String = 0x2000;
inline constexpr std::uint32_t Message = 0x4000;
inline constexpr std::uint32_t Bytes = 0x8000;

inline constexpr std::uint32_t Numbers = Bool | Enum | Int32 | UInt32 | Int64 | UInt64 | Float | Double;
inline constexpr std::uint32_t StringOrBytes = String | Bytes;
inline constexpr std::uint32_t AnyType = Numbers | StringOrBytes | Message;
}  // namespace FieldFlag
