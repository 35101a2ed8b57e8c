#pragma once
// APMIdentity: who this installation is to measurement: the app instance ID
// (made once, replaced when the advertising identifier changes or on a
// reset), the advertising identifier and its MD5 hash, the tracking
// authorisation status, the session stitching token, the diversion key, the
// app IDs and the bundle's version. Every member may be called from any
// thread: the state is guarded by one lock, taken by readers and writers
// alike on the caller's thread, so the event road reads it without waiting
// for another queue and every read sees the writes made before it. Nothing
// identifying is created, kept or answered while the consent for its storage
// is denied.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Dispatch.h"

class APMDefaultIdentitySupport;
class APMIdentityRemoteSettings;
class APMPersistedConfig;

class APMIdentity : public std::enable_shared_from_this<APMIdentity> {
public:
    // Tracking-authorisation status codes.
    enum ConsentStatus : std::int64_t {
        StatusRestricted = 1,
        StatusDenied = 2,
        StatusAuthorized = 3,
        StatusNotDetermined = 4,
        StatusUnknown = 5,      // limited ad tracking known, status not
        StatusUnavailable = 6,  // no platform component
    };

    // Null (after logging 20004) without a persisted configuration.
    // `remoteSettings` null: a cache time of 1 s and no gate.
    static std::shared_ptr<APMIdentity> create(platform::Dispatcher& dispatcher,
                                               std::shared_ptr<APMPersistedConfig> persistedConfig,
                                               std::shared_ptr<APMDefaultIdentitySupport> bridge,
                                               std::shared_ptr<const APMIdentityRemoteSettings> remoteSettings);
    // The process's identity (the engine installs its own); by default one
    // over the shared persisted configuration, on the process dispatcher.
    static std::shared_ptr<APMIdentity> sharedInstance();
    // Installs `identity` as the shared one (null: the next call makes a
    // default). Without an installation ID of its own, it takes the one the
    // identity it replaces holds.
    static void setSharedInstance(std::shared_ptr<APMIdentity> identity);

    static std::int64_t varUradazaduroLibraryVersion();
    // Numbers of a version text: "." separated, empty parts skipped, the
    // digits of each part joined ("10b3" gives 103, logging 20002).
    static std::vector<std::int64_t> numericFieldsFromAppVersionNumeric(const std::string& version);
    // 32 upper-case hexadecimal characters from a new random UUID.
    static std::string randomAppInstanceID();

    std::optional<std::string> appInstanceID();
    void setAppInstanceID(const std::string& appInstanceID);
    std::optional<std::string> resettableDeviceID();
    std::optional<std::string> hashedResettableDeviceID();
    bool limitedAdTracking();
    bool hasLimitedAdTracking();
    std::int64_t appleConsentStatus();
    // The five values above as one refresh leaves them, read under one lock:
    // for a caller that needs them together, as each event's metadata does.
    struct Identifiers {
        std::optional<std::string> appInstanceID;  // none while analytics storage is denied
        std::optional<std::string> resettableDeviceID;
        bool limitedAdTracking = false;
        bool hasLimitedAdTracking = false;
        std::int64_t appleConsentStatus = 0;
    };
    Identifiers refreshedIdentifiers();
    // Whether the identity support can tell the app-data consent status at all.
    bool hasAppDataConsentStatus() const;
    bool iOS14OrAbove() const { return true; }
    std::optional<std::string> identifierForVendor() const { return std::nullopt; }
    bool isFromAppStore() const;

    void updateIdentifiers();
    void updateIdentifiersAndWait();

    std::optional<std::string> appIDFromVAZ();
    // Only the first non-empty ID is taken; an empty one logs 20005.
    void setAppIDFromVAZ(const std::string& appID);
    bool shouldSetLastAdvertisingIDResetUserProperty();
    void setShouldSetLastAdvertisingIDResetUserProperty(bool should);

    // Kept while the session number and expiry continue the last request's;
    // without a user ID it also lapses 86400 s after it was made. None while
    // analytics storage is denied.
    std::optional<std::string> sessionStitchingTokenWithSessionNumber(std::int64_t sessionNumber, bool sessionExpired,
                                                                      bool userIDAvailable);
    void resetSessionStitchingToken();
    std::string ephemeralAppInstanceID();
    void resetEphemeralAppInstanceID();
    // Five characters; a stored key of another length is replaced.
    std::string diversionKey();

    const std::optional<std::string>& appID() const { return appID_; }
    const std::optional<std::string>& appVersion() const { return appVersion_; }
    std::optional<std::int64_t> appVersionMajor() const { return appVersionMajor_; }
    std::optional<std::int64_t> appVersionMinor() const { return appVersionMinor_; }
    std::optional<std::int64_t> appVersionRelease() const { return appVersionRelease_; }
    std::optional<bool> isIDFVCollectionEnabled() const { return isIDFVCollectionEnabled_; }

    std::optional<std::string> veredodaInstallationID() const;
    void setVeredodaInstallationID(std::optional<std::string> installationID);

    APMIdentity(platform::Dispatcher& dispatcher, std::shared_ptr<APMPersistedConfig> persistedConfig, std::shared_ptr<APMDefaultIdentitySupport> bridge,
                std::shared_ptr<const APMIdentityRemoteSettings> remoteSettings);  // through create()
    ~APMIdentity();

private:
    void readBundleInformation();
    // With `stateMutex_` held.
    void refreshLocked();
    void resetSessionStitchingTokenLocked();
    void resetEphemeralAppInstanceIDLocked();
    // Refreshes the identifiers, then answers `read()`, under the lock.
    template <typename Read>
    auto readRefreshed(Read read) -> decltype(read());
    double adIDCacheTime() const;
    bool gateIDFAOnATTMASEnabled() const;

    platform::Dispatcher& dispatcher_;
    std::shared_ptr<APMPersistedConfig> persistedConfig_;
    std::shared_ptr<APMDefaultIdentitySupport> bridge_;
    std::shared_ptr<const APMIdentityRemoteSettings> remoteSettings_;

    // Under stateMutex_ (the bridge and the persisted configuration are
    // called with it held; neither calls back into the identity).
    mutable std::mutex stateMutex_;
    std::optional<double> lastAppInstanceIDUpdateTimestamp_;
    std::int64_t appleConsentStatus_ = 0;
    std::optional<std::string> resettableDeviceID_;
    bool limitedAdTracking_ = false;
    std::optional<std::string> appIDFromVAZ_;
    bool appIDFromVAZWasSet_ = false;
    std::optional<std::string> sessionStitchingToken_;
    std::int64_t lastSessionNumber_ = 0;
    bool lastIsSessionExpired_ = false;
    std::optional<double> sessionStitchingTokenExpirationTime_;
    std::optional<std::string> ephemeralAppInstanceID_;

    // Read at creation.
    std::optional<std::string> appID_;
    std::optional<std::string> appVersion_;
    std::optional<std::int64_t> appVersionMajor_;
    std::optional<std::int64_t> appVersionMinor_;
    std::optional<std::int64_t> appVersionRelease_;
    std::optional<bool> isIDFVCollectionEnabled_;

    mutable std::mutex installationIDMutex_;
    std::optional<std::string> veredodaInstallationID_;
};
