#pragma once
// UUIDs: random (version 4) identifiers and their canonical 36-character
// text, upper-case hexadecimal in groups of 8-4-4-4-12 separated by hyphens,
// e.g. "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class Uuid {
public:
    using Bytes = std::array<std::uint8_t, 16>;

    // A new random version-4 UUID from the system's random source.
    static Uuid random();
    // Reads the canonical form; hexadecimal digits may be of either case.
    // None for anything else (wrong length, misplaced hyphens, braces, ...).
    [[nodiscard]] static std::optional<Uuid> parse(std::string_view text);

    explicit Uuid(const Bytes& bytes) : bytes_(bytes) {}
    const Bytes& bytes() const { return bytes_; }
    std::string string() const;  // canonical, upper case

    bool operator==(const Uuid&) const = default;
    auto operator<=>(const Uuid&) const = default;

private:
    Bytes bytes_;
};

inline bool isValidUuidString(std::string_view text) { return Uuid::parse(text).has_value(); }

// Shorthand for Uuid::random().string().
std::string makeUuidString();

}  // namespace platform
