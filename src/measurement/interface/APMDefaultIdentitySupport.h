#pragma once
// APMDefaultIdentitySupport: the bridge to the platform's advertising
// identifier. Without the platform component it answers as a platform
// without one: no identifier, no status, limited ad tracking on. Reading
// the identifier waits at most 10 ms for the component and otherwise answers
// the value read last. Thread-safe.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/core/AdvertisingIdentifier.h"
#include "platform/core/Dispatch.h"

// The identifier that stands for "none available".
inline constexpr const char* kAPMZeroAdvertisingIdentifier = "00000000-0000-0000-0000-000000000000";

class APMDefaultIdentitySupport {
public:
    // `component` null: the platform component is absent. Logs which it is.
    APMDefaultIdentitySupport(platform::Dispatcher& dispatcher,
                              std::shared_ptr<platform::AdvertisingIdentifier> component);

    bool hasAppDataConsentStatus() const;
    // All bits set without the component.
    std::uint64_t appDataConsentStatus() const;
    bool hasLimitedAdTracking() const;
    // True when no identifier (or the all-zero one) is available.
    bool limitedAdTracking() const;
    std::optional<std::string> resettableDeviceID() const;

private:
    struct Cache {
        std::mutex mutex;
        std::optional<std::string> identifier;
    };

    platform::Dispatcher& dispatcher_;
    std::shared_ptr<platform::AdvertisingIdentifier> component_;
    platform::QueueRef queue_;
    std::shared_ptr<Cache> cache_;  // shared with reads that outlast their wait
};
