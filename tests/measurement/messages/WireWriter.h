#pragma once
// Hand-built protocol-buffer bytes for tests: each call appends one field.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

class WireWriter {
public:
    enum WireType : std::uint32_t { Varint = 0, Fixed64 = 1, LengthDelimited = 2, Fixed32 = 5 };

    WireWriter& varint(std::uint32_t tag, std::uint64_t value) {
        key(tag, Varint);
        rawVarint(value);
        return *this;
    }
    WireWriter& string(std::uint32_t tag, std::string_view value) {
        key(tag, LengthDelimited);
        rawVarint(value.size());
        bytes_.insert(bytes_.end(), value.begin(), value.end());
        return *this;
    }
    WireWriter& message(std::uint32_t tag, const WireWriter& nested) {
        return string(tag, nested.str());
    }
    WireWriter& fixed32(std::uint32_t tag, std::uint32_t value) {
        key(tag, Fixed32);
        appendLittleEndian(value, 4);
        return *this;
    }
    WireWriter& fixed64(std::uint32_t tag, std::uint64_t value) {
        key(tag, Fixed64);
        appendLittleEndian(value, 8);
        return *this;
    }
    WireWriter& dbl(std::uint32_t tag, double value) {
        std::uint64_t bits;
        std::memcpy(&bits, &value, 8);
        return fixed64(tag, bits);
    }
    WireWriter& packed(std::uint32_t tag, const std::vector<std::uint64_t>& values) {
        WireWriter block;
        for (std::uint64_t value : values) {
            block.rawVarint(value);
        }
        return string(tag, block.str());
    }
    WireWriter& key(std::uint32_t tag, std::uint32_t wireType) {
        rawVarint((static_cast<std::uint64_t>(tag) << 3) | wireType);
        return *this;
    }
    WireWriter& rawVarint(std::uint64_t value) {
        while (value >= 0x80) {
            bytes_.push_back(static_cast<std::uint8_t>(value | 0x80));
            value >>= 7;
        }
        bytes_.push_back(static_cast<std::uint8_t>(value));
        return *this;
    }

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    std::string str() const { return {bytes_.begin(), bytes_.end()}; }

private:
    void appendLittleEndian(std::uint64_t value, int width) {
        for (int index = 0; index < width; ++index) {
            bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * index)));
        }
    }

    std::vector<std::uint8_t> bytes_;
};
