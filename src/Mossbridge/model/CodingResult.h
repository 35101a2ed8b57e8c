#pragma once
// The outcome of encoding or decoding a persisted format: a value, or the
// reason it could not be produced.

#include <optional>
#include <string>
#include <utility>

namespace Mossbridge {

template <typename T>
class [[nodiscard]] CodingResult {
public:
    CodingResult(T value) : value_(std::move(value)) {}
    static CodingResult failure(std::string message) { return CodingResult(FailureTag{}, std::move(message)); }

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    const T& value() const { return *value_; }
    T& value() { return *value_; }
    // Empty when ok().
    const std::string& error() const { return error_; }

private:
    struct FailureTag {};
    CodingResult(FailureTag, std::string message) : error_(std::move(message)) {}
    std::optional<T> value_;
    std::string error_;
};

}  // namespace Mossbridge
