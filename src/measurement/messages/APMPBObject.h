#pragma once
// The values that cross the typed field functions as objects: numbers (which
// remember the type they were made with), strings, byte buffers and message
// wrappers. APMPBArray is what repeated fields read into and write from.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <variant>
#include <vector>

class NANOMessageBase;

class APMPBNumber {
public:
    using Storage = std::variant<bool, std::int32_t, std::uint32_t, std::int64_t, std::uint64_t, float, double>;

    APMPBNumber(Storage value) : value_(value) {}  // NOLINT: numbers convert implicitly, as boxed literals do

    static APMPBNumber numberWithBool(bool value) { return Storage(value); }
    static APMPBNumber numberWithInt(std::int32_t value) { return Storage(value); }
    static APMPBNumber numberWithUnsignedInt(std::uint32_t value) { return Storage(value); }
    static APMPBNumber numberWithLongLong(std::int64_t value) { return Storage(value); }
    static APMPBNumber numberWithUnsignedLongLong(std::uint64_t value) { return Storage(value); }
    static APMPBNumber numberWithFloat(float value) { return Storage(value); }
    static APMPBNumber numberWithDouble(double value) { return Storage(value); }

    // Conversions as the platform's boxed numbers make them: integers wrap,
    // floating-point values truncate toward zero and saturate.
    bool boolValue() const;
    std::uint32_t unsignedIntValue() const;
    std::int64_t longLongValue() const;
    float floatValue() const;
    double doubleValue() const;
    bool isFloatType() const;

    const Storage& storage() const { return value_; }
    bool operator==(const APMPBNumber&) const = default;

private:
    Storage value_;
};

// An immutable byte buffer. Copies share the bytes.
class APMPBData {
public:
    APMPBData() = default;
    explicit APMPBData(std::span<const std::uint8_t> bytes);
    // Takes over a buffer from the C allocator without copying it.
    static APMPBData adoptingMallocBuffer(std::uint8_t* buffer, std::size_t length);

    const std::uint8_t* bytes() const { return bytes_.get(); }
    std::size_t length() const { return length_; }
    std::span<const std::uint8_t> span() const { return {bytes_.get(), length_}; }
    std::vector<std::uint8_t> toVector() const { return {bytes_.get(), bytes_.get() + length_}; }

    friend bool operator==(const APMPBData& left, const APMPBData& right);

private:
    std::shared_ptr<std::uint8_t> bytes_;
    std::size_t length_ = 0;
};

using APMPBObject = std::variant<APMPBNumber, std::string, APMPBData, std::shared_ptr<NANOMessageBase>>;
using APMPBArray = std::vector<APMPBObject>;

// The class name of an object, as the diagnostics print it.
std::string APMPBClassNameOf(const APMPBObject& object);
