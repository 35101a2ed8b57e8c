#pragma once
// Filling string records from values and reading them back as strings, for
// the typed field functions (singular slots and repeated elements alike).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "measurement/messages/MessageInfo.h"

namespace measurement::messages {

// Data of exactly the value's length, no terminator; false when it cannot be
// allocated (the record then has no data).
[[nodiscard]] bool APMPBFillStringRecord(StringRecord* record, std::string_view value);
[[nodiscard]] bool APMPBFillBytesRecord(StringRecord* record, std::span<const std::uint8_t> value);

// Nothing for a record without data or with bytes that are not UTF-8.
[[nodiscard]] std::optional<std::string> stringFromRecord(const StringRecord& record);

}  // namespace measurement::messages
