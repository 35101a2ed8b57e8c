#pragma once
// The platform's advertising identifier and tracking authorisation, as an
// optional system component answers them. Linux has neither, so there the
// component is absent: systemAdvertisingIdentifier() answers null and callers
// take the path for a platform without it. The in-memory component answers
// whatever a test sets, including every authorisation status.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace platform {

class AdvertisingIdentifier {
public:
    virtual ~AdvertisingIdentifier() = default;
    // Whether the tracking-authorisation status is known, and the status
    // (0 not determined, 1 restricted, 2 denied, 3 authorised).
    virtual bool hasAppDataConsentStatus() const = 0;
    virtual std::uint64_t appDataConsentStatus() const = 0;
    // Whether the limited-ad-tracking flag is known, and the flag.
    virtual bool hasLimitedAdTracking() const = 0;
    virtual bool limitedAdTracking() const = 0;
    // The identifier's canonical text, or none.
    virtual std::optional<std::string> resettableDeviceID() const = 0;
};

// The system's component: null on Linux, which has no advertising identifier.
std::shared_ptr<AdvertisingIdentifier> systemAdvertisingIdentifier();

// Answers what it was given; thread-safe. Starts with everything unknown.
class InMemoryAdvertisingIdentifier final : public AdvertisingIdentifier {
public:
    bool hasAppDataConsentStatus() const override;
    std::uint64_t appDataConsentStatus() const override;
    bool hasLimitedAdTracking() const override;
    bool limitedAdTracking() const override;
    std::optional<std::string> resettableDeviceID() const override;

    // None makes the status (or flag) unknown.
    void setAppDataConsentStatus(std::optional<std::uint64_t> status);
    void setLimitedAdTracking(std::optional<bool> limited);
    void setResettableDeviceID(std::optional<std::string> identifier);

private:
    mutable std::mutex mutex_;
    std::optional<std::uint64_t> status_;
    std::optional<bool> limitedAdTracking_;
    std::optional<std::string> identifier_;
};

}  // namespace platform
