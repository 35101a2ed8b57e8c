#pragma once
// APMRemoteConfig: the engine's view of the remote measurement configuration.
// It keeps the configuration in force (stored in the measurement database),
// turns its settings into typed, bounded values (APMRemoteConfigSettings.h),
// answers the per-event rules, consent defaults, data controls, endpoints and
// experiment identifiers, and holds the rule engine loaded with the
// configuration's first program.
//
// One instance belongs to the engine; a process-wide default instance, with
// neither app ID nor database, answers every accessor with its default.
//
// Threads: configuration work (update, parse, reset, database reads) runs on
// the measurement worker queue; accessors may be called from any thread. The
// caches are RAVOvazuveDarizeveve dictionaries (own lock each); the other
// mutable fields are guarded by `mutex_`, which is never held while calling
// out (database, monitor, rule engine).

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "VadovaUtilities/RAVOvazuveDarizeveve.h"
#include "measurement/engine/APMRemoteConfigSettings.h"
#include "measurement/engine/APMServiceEndpoints.h"
#include "measurement/messages/APMPBMessages.h"
#include "measurement/storage/APMError.h"

class APMDatabase;
class APMPersistedConfig;

namespace platform {
class Clock;
}

namespace measurement::rules {
class APMPEventEditing;
}

// The experiment client registered for this library (subsystem 11 builds it;
// until then the configuration runs without one).
class APMRemoteConfigExperimentClient {
public:
    virtual ~APMRemoteConfigExperimentClient() = default;
    // False with `*error` set when the snapshot cannot be activated.
    [[nodiscard]] virtual bool activateLatestSnapshot(APMError* error) = 0;
    virtual std::optional<bool> flagValue(const std::string& flagName) const = 0;
};

// The experiment manager (subsystem 11): registers the library's client and
// knows the running experiments.
class APMRemoteConfigExperimentManager {
public:
    virtual ~APMRemoteConfigExperimentManager() = default;
    virtual std::shared_ptr<APMRemoteConfigExperimentClient> registerMeasurementClient(std::int64_t libraryVersion) = 0;
    virtual std::vector<std::int64_t> experimentIDs() const = 0;
    virtual void reset() = 0;
};

// A setting value: the configuration's text until first read, then the
// checked number (an integer or a real) that replaced it.
using APMSettingNumber = std::variant<std::int64_t, double>;
using APMSettingValue = std::variant<std::string, APMSettingNumber>;

// What the configuration needs of its surroundings; each has a default.
struct APMRemoteConfigEnvironment {
    platform::Clock* clock = nullptr;  // default: the system clock
    APMServiceEndpoints endpoints;
    // The app-data consent status (3 selects the alternative hosts); default all bits set.
    std::function<std::uint64_t()> appDataConsentStatus;
    // Whether server-side tagging preview headers are set (deep links build them).
    std::function<bool()> hasSVTMPreviewHeaders;
    // The application version for the rule programs' app metadata.
    std::function<std::optional<std::string>()> appVersion;
    // The Info.plist switch "VADOVA_ANALYTICS_SVTM_UPLOAD_ENABLED"; default: read from the Info.plist.
    std::function<bool()> svtmUploadPlistEnabled;
};

class APMRemoteConfig {
public:
    enum class SettingKind { Int, Int64, Interval, Bool };
    struct SettingDescriptor {
        const char* accessor;
        const char* key;
        SettingKind kind;
        double defaultValue;
        double minimum;  // 0 for Booleans
        double maximum;  // 1 for Booleans
        const char* experimentFlag;  // or null
        std::function<double(const APMRemoteConfig&)> read;  // the accessor, as a number
    };
    // Every setting with plain bounds, in table order.
    static const std::vector<SettingDescriptor>& settingDescriptors();

    static std::shared_ptr<APMRemoteConfig> defaultInstance();

    // Logs 29000 / 29001 and answers null for an empty app ID / no database.
    static std::shared_ptr<APMRemoteConfig> create(const std::string& appID, std::shared_ptr<APMDatabase> database,
                                                   std::shared_ptr<APMPersistedConfig> persistedConfig,
                                                   std::shared_ptr<APMRemoteConfigExperimentManager> experimentManager,
                                                   APMRemoteConfigEnvironment environment = {},
                                                   std::shared_ptr<APMPBMeasurementConfig> measurementConfig = nullptr);

    APMRemoteConfig(const std::string& appID, std::shared_ptr<APMDatabase> database,
                    std::shared_ptr<APMPersistedConfig> persistedConfig,
                    std::shared_ptr<APMRemoteConfigExperimentManager> experimentManager,
                    APMRemoteConfigEnvironment environment);  // through create()
    ~APMRemoteConfig();
    APMRemoteConfig(const APMRemoteConfig&) = delete;
    APMRemoteConfig& operator=(const APMRemoteConfig&) = delete;

    bool isDefaultInstance() const { return isDefaultInstance_; }
    const std::string& appID() const { return appID_; }

    // Stores and applies a fetched configuration; false (logged) when it is
    // refused or cannot be stored, and the configuration in force stays.
    [[nodiscard]] bool updateMeasurementConfig(const std::shared_ptr<APMPBMeasurementConfig>& config);
    std::shared_ptr<APMPBMeasurementConfig> measurementConfigFromDatabase();
    void parseRemoteConfigFromMeasurementConfig(const APMPBMeasurementConfig& config);
    void reset();
    // Makes the stored configuration the one in force again (after a store
    // that was rolled back); without one, the defaults.
    void reloadFromDatabase();
    std::shared_ptr<APMPBMeasurementConfig> measurementConfig() const;

    std::int64_t version() const;
    double lastRemoteConfigUpdateTimestamp() const;
    bool isExpired() const;
    // None (after 29021 / 29010) without app ID / platform, or without a
    // configured host.
    std::optional<std::string> remoteConfigURLWithPlatform(const std::string& platform, std::int64_t SDKVersion,
                                                           std::int64_t runtimeVersion) const;

    // Per-event rules, by internal event name.
    std::shared_ptr<APMPBEventConfig> eventConfigWithName(const std::string& name) const;
    bool isEventBlocklisted(const std::string& name) const;
    bool isEventCustomConversion(const std::string& name) const;
    bool eventHasSamplingRate(const std::string& name) const;
    std::int32_t samplingRateForEvent(const std::string& name) const;

    // Endpoints.
    std::optional<std::string> uploadSubdomain() const;
    std::optional<std::string> uploadURL() const;
    bool SVTMUploadEnabled() const;
    std::optional<std::string> SVTMUploadURL() const;
    std::optional<std::map<std::string, std::string>> SVTMUploadHTTPHeaders() const;

    std::vector<std::string> dataControls() const;
    std::map<std::string, std::string> consentDefaults() const;
    std::map<std::string, std::string> consentDelegations() const;
    std::map<std::string, std::string> regionalDefaults() const;
    std::set<std::string> corePlatformServices() const;
    bool isDMARegion() const;
    std::vector<std::int64_t> experimentIDs() const;
    std::shared_ptr<measurement::rules::APMPEventEditing> eventEditing() const;

    // Experiment client callbacks and the engine's activation.
    void clientDidReceiveNewSnapshot();
    void clientDidReceiveFetchError(const std::optional<APMError>& error);
    bool shouldFetchExperiments(bool engineExistsAndIsEnabled) const { return engineExistsAndIsEnabled; }
    bool activateNewSnapshot();
    void updateCachedExperimentFlags();

    // Typed settings.
#define APM_DECLARE_INT(name, key, def, min, max) std::int32_t name() const;
#define APM_DECLARE_INT64(name, key, def, min, max) std::int64_t name() const;
#define APM_DECLARE_INTERVAL(name, key, def, min, max) double name() const;
#define APM_DECLARE_BOOL(name, key, def) bool name() const;
#define APM_DECLARE_FLAGGED_BOOL(name, key, flag, def) bool name() const;
    APM_REMOTE_CONFIG_INT_SETTINGS(APM_DECLARE_INT)
    APM_REMOTE_CONFIG_INT64_SETTINGS(APM_DECLARE_INT64)
    APM_REMOTE_CONFIG_INTERVAL_SETTINGS(APM_DECLARE_INTERVAL)
    APM_REMOTE_CONFIG_BOOL_SETTINGS(APM_DECLARE_BOOL)
    APM_REMOTE_CONFIG_FLAGGED_BOOL_SETTINGS(APM_DECLARE_FLAGGED_BOOL)
#undef APM_DECLARE_INT
#undef APM_DECLARE_INT64
#undef APM_DECLARE_INTERVAL
#undef APM_DECLARE_BOOL
#undef APM_DECLARE_FLAGGED_BOOL
    // 10 in debug mode, else "measurement.psm_start_count" (3, 0..10).
    std::int32_t maxPSMStartCount() const;
    // "measurement.upload.max_bundles_created_per_iteration" read as an
    // interval (milliseconds over 1000) and truncated: 100, 1..10000.
    std::int32_t maxBundlesCreatedPerIteration() const;
    // The greater of the public length and 256.
    std::int32_t maxInternalEventParameterValueLength() const;

    // The generic lookups behind the accessors.
    double timeIntervalInSecondsFromCache(std::string_view key, double defaultValue, double maxValue,
                                          double minValue) const;
    std::int32_t intValueFromCache(std::string_view key, std::int32_t defaultValue, std::int32_t maxValue,
                                   std::int32_t minValue) const;
    std::int64_t int64ValueFromCache(std::string_view key, std::int64_t defaultValue, std::int64_t maxValue,
                                     std::int64_t minValue) const;
    std::int64_t int64ValueFromCache(std::string_view key, std::int64_t defaultValue) const;
    bool boolValueFromCache(std::string_view key, bool defaultValue) const;
    using Converter = std::function<APMSettingNumber(const APMSettingNumber&)>;
    std::optional<APMSettingNumber> numberFromCache(std::string_view key, const APMSettingNumber& defaultValue,
                                                    std::optional<double> maxValue, std::optional<double> minValue,
                                                    const Converter& converter) const;
    // The number of a plain decimal text, read the same in every locale.
    static std::optional<APMSettingNumber> numberFromString(const std::string& text);
    std::optional<APMSettingValue> cacheValue(const std::optional<APMSettingValue>& value, std::string_view key) const;
    // The text a cached setting shows to rule programs (numbers in their shortest form).
    static std::string settingText(const APMSettingValue& value);

private:
    using SettingsCache = RAVOvazuveDarizeveve<APMSettingValue>;
    bool flaggedBool(const char* flag, const char* key, bool defaultValue) const;
    double now() const;
    bool loadEventEditing(const APMPBMeasurementConfig& config, const std::shared_ptr<SettingsCache>& settings);

    const bool isDefaultInstance_;
    const std::string appID_;
    const std::weak_ptr<APMDatabase> database_;
    const std::shared_ptr<APMPersistedConfig> persistedConfig_;
    const std::shared_ptr<APMRemoteConfigExperimentManager> experimentManager_;
    const APMRemoteConfigEnvironment environment_;
    std::shared_ptr<APMRemoteConfigExperimentClient> experimentClient_;

    mutable std::mutex mutex_;
    std::shared_ptr<SettingsCache> settings_;  // replaced by reset, emptied in place by a parse
    RAVOvazuveDarizeveve<std::shared_ptr<APMPBEventConfig>> eventConfigs_;
    RAVOvazuveDarizeveve<bool> experimentFlags_;
    RAVOvazuveDarizeveve<std::string> consentDefaults_;
    RAVOvazuveDarizeveve<std::string> consentDelegations_;
    RAVOvazuveDarizeveve<std::string> regionalDefaults_;
    // Guarded by mutex_.
    std::shared_ptr<APMPBMeasurementConfig> remoteConfigProto_;
    bool hasNewSnapshot_ = false;
    std::vector<std::string> dataControls_;
    std::set<std::string> corePlatformServices_;
    bool isDMARegion_ = true;
    std::shared_ptr<measurement::rules::APMPEventEditing> eventEditing_;
};
