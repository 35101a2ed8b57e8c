#pragma once
// APMPersistedConfig: the measurement engine's typed persisted settings, each
// kept under "/vadova/measurement/<key>" in the application's user defaults.
// Reads of an absent setting give none, 0, false or empty; writes persist at
// once, and a write that changes nothing leaves the file untouched.
// Thread-safe.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "measurement/storage/APMValue.h"
#include "platform/core/PropertyList.h"

namespace platform {
class UserDefaults;
}

class APMPersistedConfig {
public:
    // Over the application's standard user defaults.
    APMPersistedConfig();
    explicit APMPersistedConfig(std::shared_ptr<platform::UserDefaults> store);

    static std::shared_ptr<APMPersistedConfig> sharedInstance();
    // Test hook: the next sharedInstance() makes a new instance.
    static void resetSharedForTesting();

    // The user-defaults key of a setting: "/vadova/measurement/" + key.
    static std::string storageKey(const std::string& key);

    // Removes every setting of this class.
    void clearValues();
    // Writes pending changes now (every change is already written).
    void synchronizeToDisk();

    // Engine start and identity.
    std::optional<double> loadTimestampValue() const;                  // "load_timestamp"
    void setLoadTimestampValue(std::optional<double> seconds);
    std::int64_t measurementEnabledState() const;                      // "measurement_enabled_state": 1 on, 2 off
    void setMeasurementEnabledState(std::int64_t state);
    std::optional<std::string> appIDFromVAZ() const;                   // "vaz_app_id"
    void setAppIDFromVAZ(std::optional<std::string> appID);
    std::optional<std::string> adNetworkAppID() const;                 // "ad_network_app_id"
    void setAdNetworkAppID(std::optional<std::string> appID);
    std::optional<std::string> appInstanceID() const;                  // "app_instance_id"
    void setAppInstanceID(std::optional<std::string> appInstanceID);
    std::optional<std::string> hashedResettableDeviceID() const;       // "hashed_idfa"
    void setHashedResettableDeviceID(std::optional<std::string> hashed);
    bool shouldSetLastAdvertisingIDResetUserProperty() const;          // "set_last_advertising_id_reset"
    void setShouldSetLastAdvertisingIDResetUserProperty(bool should);
    std::optional<std::string> diversionKey() const;                   // "diversion_key"
    void setDiversionKey(std::optional<std::string> key);
    std::optional<std::string> veredodaFeatureRollouts() const;        // "veredoda_feature_rollouts"
    void setVeredodaFeatureRollouts(std::optional<std::string> rollouts);
    std::optional<std::string> appVersion() const;                     // "app_version"
    void setAppVersion(std::optional<std::string> version);
    std::optional<std::string> osVersion() const;                      // "os_version"
    void setOSVersion(std::optional<std::string> version);

    // Uploads and the configuration fetch (seconds since 1970, 0 when unset).
    double lastSuccessfulUploadTimestamp() const;                      // "last_successful_upload"
    void setLastSuccessfulUploadTimestamp(double seconds);
    double lastFailedUploadTimestamp() const;                          // "last_failed_upload"; 0 clears
    void setLastFailedUploadTimestamp(double seconds);
    double lastBackoffTimestamp() const;                               // "last_backoff"; 0 clears
    void setLastBackoffTimestamp(double seconds);
    std::optional<std::string> configServerLastModifiedString() const; // "last_modified_since_key"
    void setConfigServerLastModifiedString(std::optional<std::string> text);
    std::optional<std::string> configServerETag() const;               // "config_etag"
    void setConfigServerETag(std::optional<std::string> etag);
    std::int64_t configVAZVersion() const;                             // "config_vaz_version"
    void setConfigVAZVersion(std::int64_t version);
    double lastMonitorDataSampledTimestamp() const;                    // "last_monitor_data_sampled_timestamp"
    void setLastMonitorDataSampledTimestamp(double seconds);
    std::optional<std::string> previousBundledConsentSignals() const;  // "previous_bundled_consent_signals"
    void setPreviousBundledConsentSignals(std::optional<std::string> signals);

    // Sessions, first open and days.
    std::int64_t firstOpenTimestampMilliseconds() const;               // "first_open_timestamp_ms"
    void setFirstOpenTimestampMilliseconds(std::int64_t milliseconds);
    std::int64_t previousFirstOpenCount() const;                       // "previous_first_open_count"
    void setPreviousFirstOpenCount(std::int64_t count);
    bool unmatchedFirstOpenWithoutIDFA() const;                        // "unmatched_first_open_without_ad_id"
    void setUnmatchedFirstOpenWithoutIDFA(bool unmatched);
    std::int64_t sessionNumber() const;                                // "session_number"
    void setSessionNumber(std::int64_t number);
    double lastSessionActivityClockTime() const;                       // "last_session_activity_clock_time"
    void setLastSessionActivityClockTime(double seconds);
    std::optional<double> sessionTimeoutValue() const;                 // "session_timeout"
    void setSessionTimeoutValue(std::optional<double> seconds);
    // Seconds after UTC midnight at which this installation's day begins.
    double midnightOffset() const;                                     // "midnight_offset"

    // Parameters, consent and campaigns.
    std::optional<APMParameters> defaultEventParameters() const;       // "default_event_parameters"
    void setDefaultEventParameters(std::optional<APMParameters> parameters);
    // A Boolean number, or none.
    std::optional<bool> allowPersonalizedAds() const;                  // "allow_personalized_ads"
    void setAllowPersonalizedAds(std::optional<bool> allow);
    platform::PropertyData adCampaignInfoBuffer() const;               // "ad_campaign_info_buffer"
    void setAdCampaignInfoBuffer(const platform::PropertyData& buffer);
    std::optional<bool> searchAdCampaignValue() const;                 // "is_search_ad_campaign"
    void setSearchAdCampaignValue(std::optional<bool> isCampaign);
    double lastSearchAdLookUpTimestamp() const;                        // "search_ad_last_attempt_timestamp"
    void setLastSearchAdLookUpTimestamp(double seconds);
    std::int64_t searchAdRetryCount() const;                           // "search_ad_number_of_retries"
    void setSearchAdRetryCount(std::int64_t count);
    // Any stored number means the retrieval is done.
    std::optional<std::int64_t> deferredDeepLinkRetrievalComplete() const; // "deep_link_retrieval_complete"
    void setDeferredDeepLinkRetrievalComplete(std::optional<std::int64_t> value);
    std::int64_t deferredDeepLinkRetryCount() const;                   // "deep_link_retry_count"
    void setDeferredDeepLinkRetryCount(std::int64_t count);

    // On-device conversion measurement.
    double ODM2FirstOpenTimestampValue() const;                        // "odm2_first_open_timestamp"
    void setODM2FirstOpenTimestampValue(double seconds);
    double ODFFirstOpenTimestampValue() const;                         // "odf_first_open_timestamp"
    void setODFFirstOpenTimestampValue(double seconds);
    std::optional<platform::PropertyData> PSMHashedInputData() const;  // "psm_hashed_input_data"
    void setPSMHashedInputData(std::optional<platform::PropertyData> data);
    std::int64_t PSMInputType() const;                                 // "psm_input_type"
    void setPSMInputType(std::int64_t type);
    std::optional<std::int64_t> PSMCurrentDay() const;                 // "psm_current_day"
    void setPSMCurrentDay(std::optional<std::int64_t> day);

private:
    std::optional<platform::PropertyValue> read(const char* key) const;
    // Stores or (for none) removes; skips writes that would change nothing.
    void write(const char* key, std::optional<platform::PropertyValue> value);

    std::optional<std::string> readString(const char* key) const;
    void writeString(const char* key, std::optional<std::string> value);
    std::optional<std::int64_t> readInteger(const char* key) const;
    std::optional<double> readReal(const char* key) const;
    std::optional<bool> readBoolean(const char* key) const;

    std::shared_ptr<platform::UserDefaults> store_;
};
