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
    std::optional<std::string> result;
    queue_->sync([&] {
        const bool sameSession = sessionNumber == lastSessionNumber_ && sessionExpired == lastIsSessionExpired_;
        const bool continuesExpiredSession =
            lastSessionNumber_ < INT64_MAX && sessionNumber == lastSessionNumber_ + 1 && lastIsSessionExpired_ &&
            !sessionExpired;
        if (!sameSession && !continuesExpiredSession) resetSessionStitchingTokenOnWorkerQueue();
        lastSessionNumber_ = sessionNumber;
        lastIsSessionExpired_ = sessionExpired;

        const double now = dispatcher_.clock().now();
        if (!userIDAvailable && sessionStitchingTokenExpirationTime_ && *sessionStitchingTokenExpirationTime_ <= now) {
            resetSessionStitchingTokenOnWorkerQueue();
        }
        if (!sessionStitchingToken_) {
            sessionStitchingToken_ = randomAppInstanceID();
            if (!userIDAvailable) sessionStitchingTokenExpirationTime_ = now + kUnsignedTokenLifetimeSeconds;
        }
        result = sessionStitchingToken_;
    });
    return result;
}

void APMIdentity::resetSessionStitchingToken() {
    queue_->async([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->resetSessionStitchingTokenOnWorkerQueue();
    });
}

void APMIdentity::resetSessionStitchingTokenOnWorkerQueue() {
    sessionStitchingToken_.reset();
    sessionStitchingTokenExpirationTime_.reset();
}

std::string APMIdentity::ephemeralAppInstanceID() {
    std::string result;
    queue_->sync([&] {
        if (!ephemeralAppInstanceID_) ephemeralAppInstanceID_ = randomAppInstanceID();
        result = *ephemeralAppInstanceID_;
    });
    return result;
}

void APMIdentity::resetEphemeralAppInstanceID() {
    queue_->async([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->resetEphemeralAppInstanceIDOnWorkerQueue();
    });
}

void APMIdentity::resetEphemeralAppInstanceIDOnWorkerQueue() { ephemeralAppInstanceID_.reset(); }

std::string APMIdentity::diversionKey() {
    std::string result;
    queue_->sync([&] {
        std::optional<std::string> stored = persistedConfig_->diversionKey();
        if (!stored || stored->size() != kDiversionKeyLength) {
            stored = randomAppInstanceID().substr(0, kDiversionKeyLength);
            persistedConfig_->setDiversionKey(stored);
        }
        result = *stored;
    });
    return result;
}
