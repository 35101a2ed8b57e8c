#pragma once
// An error returned alongside a value: a domain, a code within that domain
// and a sentence for logs. Values and errors of the utilities layer travel as
// std::optional pairs, absent meaning "none".

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using VULData = std::vector<std::uint8_t>;

struct [[nodiscard]] VULError {
    std::string domain;
    long code = 0;
    std::string message;

    // "domain code: message", as the logs show it.
    std::string description() const;
    bool operator==(const VULError&) const = default;
};

// A byte result that is either data or (possibly) an error: both may be
// absent where the operation says so.
struct [[nodiscard]] VULDataResult {
    std::optional<VULData> data;
    std::optional<VULError> error;
};
