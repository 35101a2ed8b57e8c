// The identity's short-lived and derived identifiers: the session stitching
// token, the ephemeral app instance ID and the experiment diversion key.

#include "measurement/interface/APMConsentSettingsUtil.h"
#include "measurement/interface/APMIdentity.h"
#include "measurement/storage/APMPersistedConfig.h"

namespace {

constexpr double kUnsignedTokenLifetimeSeconds = 86400;
constexpr std::size_t kDiversionKeyLength = 5;

}  // namespace

std::optional<std::string> APMIdentity::sessionStitchingTokenWithSessionNumber(std::int64_t sessionNumber,
                                                                               bool sessionExpired,
                                                                               bool userIDAvailable) {
    if (APMConsentSettingsUtil::isAnalyticsStorageDenied()) return std::nullopt;
    std::lock_guard lock(stateMutex_);
    {
        const bool sameSession = sessionNumber == lastSessionNumber_ && sessionExpired == lastIsSessionExpired_;
        const bool continuesExpiredSession =
            lastSessionNumber_ < INT64_MAX && sessionNumber == lastSessionNumber_ + 1 && lastIsSessionExpired_ &&
            !sessionExpired;
        if (!sameSession && !continuesExpiredSession) resetSessionStitchingTokenLocked();
        lastSessionNumber_ = sessionNumber;
        lastIsSessionExpired_ = sessionExpired;

        const double now = dispatcher_.clock().now();
        if (!userIDAvailable && sessionStitchingTokenExpirationTime_ && *sessionStitchingTokenExpirationTime_ <= now) {
            resetSessionStitchingTokenLocked();
        }
        if (!sessionStitchingToken_) {
            sessionStitchingToken_ = randomAppInstanceID();
            if (!userIDAvailable) sessionStitchingTokenExpirationTime_ = now + kUnsignedTokenLifetimeSeconds;
        }
    }
    return sessionStitchingToken_;
}

void APMIdentity::resetSessionStitchingToken() {
    std::lock_guard lock(stateMutex_);
    resetSessionStitchingTokenLocked();
}

void APMIdentity::resetSessionStitchingTokenLocked() {
    sessionStitchingToken_.reset();
    sessionStitchingTokenExpirationTime_.reset();
}

std::string APMIdentity::ephemeralAppInstanceID() {
    std::lock_guard lock(stateMutex_);
    if (!ephemeralAppInstanceID_) ephemeralAppInstanceID_ = randomAppInstanceID();
    return *ephemeralAppInstanceID_;
}

void APMIdentity::resetEphemeralAppInstanceID() {
    std::lock_guard lock(stateMutex_);
    resetEphemeralAppInstanceIDLocked();
}

void APMIdentity::resetEphemeralAppInstanceIDLocked() { ephemeralAppInstanceID_.reset(); }

std::string APMIdentity::diversionKey() {
    std::lock_guard lock(stateMutex_);
    std::optional<std::string> stored = persistedConfig_->diversionKey();
    if (!stored || stored->size() != kDiversionKeyLength) {
        stored = randomAppInstanceID().substr(0, kDiversionKeyLength);
        persistedConfig_->setDiversionKey(stored);
    }
    return *stored;
}
