#include "platform/core/AdvertisingIdentifier.h"

namespace platform {

std::shared_ptr<AdvertisingIdentifier> systemAdvertisingIdentifier() { return nullptr; }

bool InMemoryAdvertisingIdentifier::hasAppDataConsentStatus() const {
    std::lock_guard lock(mutex_);
    return status_.has_value();
}

std::uint64_t InMemoryAdvertisingIdentifier::appDataConsentStatus() const {
    std::lock_guard lock(mutex_);
    return status_.value_or(0);
}

bool InMemoryAdvertisingIdentifier::hasLimitedAdTracking() const {
    std::lock_guard lock(mutex_);
    return limitedAdTracking_.has_value();
}

bool InMemoryAdvertisingIdentifier::limitedAdTracking() const {
    std::lock_guard lock(mutex_);
    return limitedAdTracking_.value_or(false);
}

std::optional<std::string> InMemoryAdvertisingIdentifier::resettableDeviceID() const {
    std::lock_guard lock(mutex_);
    return identifier_;
}

void InMemoryAdvertisingIdentifier::setAppDataConsentStatus(std::optional<std::uint64_t> status) {
    std::lock_guard lock(mutex_);
    status_ = status;
}

void InMemoryAdvertisingIdentifier::setLimitedAdTracking(std::optional<bool> limited) {
    std::lock_guard lock(mutex_);
    limitedAdTracking_ = limited;
}

void InMemoryAdvertisingIdentifier::setResettableDeviceID(std::optional<std::string> identifier) {
    std::lock_guard lock(mutex_);
    identifier_ = std::move(identifier);
}

}  // namespace platform
