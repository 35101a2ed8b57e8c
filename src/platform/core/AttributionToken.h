#pragma once
// The platform's install-attribution token service. Linux has none
// (NoAttributionToken: not available); InMemoryAttributionToken answers with
// the token or the error a test sets.
#include <mutex>
#include <optional>
#include <string>

namespace platform {

class AttributionTokenSource {
public:
    virtual ~AttributionTokenSource() = default;
    // Whether the service exists on this system.
    virtual bool isAvailable() const = 0;
    // The token, or none with `*error` set to the reason.
    [[nodiscard]] virtual std::optional<std::string> attributionToken(std::string* error) = 0;
};

class NoAttributionToken final : public AttributionTokenSource {
public:
    bool isAvailable() const override { return false; }
    [[nodiscard]] std::optional<std::string> attributionToken(std::string* error) override;
};

class InMemoryAttributionToken final : public AttributionTokenSource {
public:
    void setToken(std::string token);
    void setError(std::string error);
    int requestCount() const;
    bool isAvailable() const override { return true; }
    [[nodiscard]] std::optional<std::string> attributionToken(std::string* error) override;

private:
    mutable std::mutex mutex_;
    std::optional<std::string> token_;
    std::string error_ = "no token";
    int requests_ = 0;
};

}  // namespace platform
