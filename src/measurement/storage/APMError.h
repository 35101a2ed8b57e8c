#pragma once
// The analytics layer's error: a domain, a numeric code and a description.
// Operations that can fail return an APMResult (a value, an error, both
// absent, or, rarely, both) or fill an optional APMError* out-parameter.

#include <optional>
#include <string>
#include <utility>

inline constexpr const char* kAPMErrorDomain = "com.vadova.vaz.measurement.ErrorDomain";

class APMLogContext;

struct [[nodiscard]] APMError {
    std::string domain;
    long code = 0;
    // The localized description; empty when none was given.
    std::string description;

    // An error of the measurement domain.
    static APMError withCode(long code, std::string description);
    // The same, also logged on the shared monitor (level 1, the error's code,
    // the description, then the context).
    static APMError withCode(long code, std::string description, const APMLogContext& monitorContext);

    // "Error Domain=<domain> Code=<code> \"<description>\"", for log lines.
    std::string text() const;

    bool operator==(const APMError&) const = default;
};

// Sets `*error` to an error of the measurement domain when `error` is given.
void APMSetError(APMError* error, long code, std::string description);

// Guards: true when the condition holds; otherwise false, with `*error` (when
// given) set and logged through APMError::withCode(code, description, context).
[[nodiscard]] bool APMCheckNotNil(const void* object, APMError* error, long code, const std::string& description);
[[nodiscard]] bool APMCheckNonZero(long long number, APMError* error, long code, const std::string& description);

// The outcome of an operation that answers a value: `value` is set on
// success; `error` is set on failure; neither is set for "nothing, no error".
template <typename T>
struct [[nodiscard]] APMResult {
    std::optional<T> value;
    std::optional<APMError> error;

    static APMResult success(T v) { return APMResult{std::move(v), std::nullopt}; }
    static APMResult none() { return APMResult{}; }
    static APMResult failure(APMError e) { return APMResult{std::nullopt, std::move(e)}; }

    bool hasValue() const { return value.has_value(); }
    bool failed() const { return error.has_value(); }
};

