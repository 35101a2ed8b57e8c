#include "measurement/messages/APMPBObject.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

#include "measurement/messages/NANOMessageBase.h"

namespace {

template <typename Integer>
Integer truncated(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value <= static_cast<double>(std::numeric_limits<Integer>::min())) {
        return std::numeric_limits<Integer>::min();
    }
    if (value >= static_cast<double>(std::numeric_limits<Integer>::max())) {
        return std::numeric_limits<Integer>::max();
    }
    return static_cast<Integer>(value);
}

template <typename Integer>
Integer integerValue(const APMPBNumber::Storage& storage) {
    return std::visit(
        [](auto value) -> Integer {
            if constexpr (std::is_floating_point_v<decltype(value)>) {
                return truncated<Integer>(value);
            } else {
                return static_cast<Integer>(value);
            }
        },
        storage);
}

}  // namespace

bool APMPBNumber::boolValue() const {
    return std::visit([](auto value) { return value != 0; }, value_);
}

std::uint32_t APMPBNumber::unsignedIntValue() const {
    // Through 64 bits, so a negative double still wraps like a negative integer.
    return static_cast<std::uint32_t>(integerValue<std::int64_t>(value_));
}

std::int64_t APMPBNumber::longLongValue() const { return integerValue<std::int64_t>(value_); }

float APMPBNumber::floatValue() const {
    return std::visit([](auto value) { return static_cast<float>(value); }, value_);
}

double APMPBNumber::doubleValue() const {
    return std::visit([](auto value) { return static_cast<double>(value); }, value_);
}

bool APMPBNumber::isFloatType() const {
    return std::holds_alternative<float>(value_) || std::holds_alternative<double>(value_);
}

APMPBData::APMPBData(std::span<const std::uint8_t> bytes) {
    auto* copy = static_cast<std::uint8_t*>(std::malloc(bytes.empty() ? 1 : bytes.size()));
    if (copy != nullptr && !bytes.empty()) {
        std::memcpy(copy, bytes.data(), bytes.size());
    }
    *this = adoptingMallocBuffer(copy, copy != nullptr ? bytes.size() : 0);
}

APMPBData APMPBData::adoptingMallocBuffer(std::uint8_t* buffer, std::size_t length) {
    APMPBData data;
    data.bytes_ = std::shared_ptr<std::uint8_t>(buffer, [](std::uint8_t* bytes) { std::free(bytes); });
    data.length_ = length;
    return data;
}

bool operator==(const APMPBData& left, const APMPBData& right) {
    return left.length_ == right.length_ &&
           (left.length_ == 0 || std::memcmp(left.bytes(), right.bytes(), left.length_) == 0);
}

std::string APMPBClassNameOf(const APMPBObject& object) {
    struct Namer {
        std::string operator()(const APMPBNumber&) const { return "APMPBNumber"; }
        std::string operator()(const std::string&) const { return "String"; }
        std::string operator()(const APMPBData&) const { return "APMPBData"; }
        std::string operator()(const std::shared_ptr<NANOMessageBase>& message) const {
            return message != nullptr ? message->className() : "nil";
        }
    };
    return std::visit(Namer{}, object);
}
