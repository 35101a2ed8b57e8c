#pragma once
// Turns the payload of one delivered notification into an item. The payload
// is a property list whose dictionary "req" holds "titl", "subt" and "body";
// a payload of another shape (a keyed archive, damaged bytes) falls back to
// its first readable run of text as the body. Never fails on any bytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Mossbridge/model/AppStatus.h"

namespace Mossbridge {

// None when the payload yields no usable text at all.
[[nodiscard]]
std::optional<AppNotificationItem> decodeNotificationRecordData(std::int64_t recordID, double deliveredDate,
                                                                const std::uint8_t* bytes, std::size_t size,
                                                                const std::string& appName);

// Runs of printable ASCII (at least 4 bytes), cleaned, at least 3 characters
// long, free of keyed-archive tokens, without repeats, each cut to 180
// characters; in the order found.
std::vector<std::string> printableTextRuns(const std::uint8_t* bytes, std::size_t size);

}  // namespace Mossbridge
