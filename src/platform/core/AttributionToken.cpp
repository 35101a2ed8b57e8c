#include "platform/core/AttributionToken.h"

namespace platform {

std::optional<std::string> NoAttributionToken::attributionToken(std::string* error) {
    if (error) *error = "attribution tokens are not available on this system";
    return std::nullopt;
}

void InMemoryAttributionToken::setToken(std::string token) {
    std::lock_guard lock(mutex_);
    token_ = std::move(token);
}

void InMemoryAttributionToken::setError(std::string error) {
    std::lock_guard lock(mutex_);
    token_.reset();
    error_ = std::move(error);
}

int InMemoryAttributionToken::requestCount() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::optional<std::string> InMemoryAttributionToken::attributionToken(std::string* error) {
    std::lock_guard lock(mutex_);
    ++requests_;
    if (!token_ && error) *error = error_;
    return token_;
}

}  // namespace platform
