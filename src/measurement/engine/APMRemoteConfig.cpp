#include "measurement/engine/APMRemoteConfig.h"

#include <algorithm>
#include <cmath>

#include "VadovaUtilities/VULMainBundle.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/ConsentConfigMaps.h"
#include "measurement/messages/RepeatedMessages.h"
#include "measurement/rules/APMPEventEditing.h"
#include "measurement/rules/APMPKeyValueStore.h"
#include "measurement/rules/APMPMessageLogger.h"
#include "measurement/rules/APMPObjectProvider.h"
#include "measurement/rules/APMPixieLogger.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMNameMaps.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMQueryString.h"
#include "measurement/interface/APMIdentity.h"
#include "measurement/messages/MessageSlots.h"
#include "platform/core/Clock.h"

namespace {

constexpr std::uint64_t kRestrictedAppDataConsentStatus = 3;

bool isPublicEventName(const std::string& name) { return !name.empty() && name[0] != '_'; }

// FNV-1a over the text: stable across runs and builds.
std::uint64_t stableHash(const std::string& text) {
    std::uint64_t hash = 1469598103934665603ULL;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    return hash;
}

}  // namespace

std::shared_ptr<APMRemoteConfig> APMRemoteConfig::defaultInstance() {
    static const std::shared_ptr<APMRemoteConfig> instance(
        new APMRemoteConfig(std::string(), nullptr, nullptr, nullptr, APMRemoteConfigEnvironment{}));
    return instance;
}

std::shared_ptr<APMRemoteConfig> APMRemoteConfig::create(
    const std::string& appID, std::shared_ptr<APMDatabase> database, std::shared_ptr<APMPersistedConfig> persistedConfig,
    std::shared_ptr<APMRemoteConfigExperimentManager> experimentManager, APMRemoteConfigEnvironment environment,
    std::shared_ptr<APMPBMeasurementConfig> measurementConfig) {
    if (appID.empty()) {
        APMMonitor::shared()->log(1, 29000, "Cannot init remote configuration without valid Vadova App ID");
        return nullptr;
    }
    if (!database) {
        APMMonitor::shared()->log(1, 29001, "Cannot init remote configuration without valid database");
        return nullptr;
    }
    auto config = std::make_shared<APMRemoteConfig>(appID, std::move(database), std::move(persistedConfig),
                                                    std::move(experimentManager), std::move(environment));
    if (measurementConfig) {
        (void)config->updateMeasurementConfig(measurementConfig);  // refusals are logged; defaults stand
    } else if (auto stored = config->measurementConfigFromDatabase()) {
        {
            std::lock_guard lock(config->mutex_);
            config->remoteConfigProto_ = stored;
        }
        config->parseRemoteConfigFromMeasurementConfig(*stored);
    }
    return config;
}

APMRemoteConfig::APMRemoteConfig(const std::string& appID, std::shared_ptr<APMDatabase> database,
                                 std::shared_ptr<APMPersistedConfig> persistedConfig,
                                 std::shared_ptr<APMRemoteConfigExperimentManager> experimentManager,
                                 APMRemoteConfigEnvironment environment)
    : isDefaultInstance_(!database && appID.empty()),
      appID_(appID),
      database_(database),
      persistedConfig_(std::move(persistedConfig)),
      experimentManager_(std::move(experimentManager)),
      environment_(std::move(environment)),
      settings_(std::make_shared<SettingsCache>()) {
    if (experimentManager_) {
        experimentClient_ = experimentManager_->registerMeasurementClient(APMIdentity::varUradazaduroLibraryVersion());
    }
    if (experimentClient_) {
        // No pending snapshot answers false without an error: nothing to say.
        APMError error;
        if (!experimentClient_->activateLatestSnapshot(&error) && error != APMError{}) {
            APMMonitor::shared()->log(2, 29023, "Cannot activate stale snapshot. Error", error);
        }
        updateCachedExperimentFlags();
    }
}

APMRemoteConfig::~APMRemoteConfig() = default;

double APMRemoteConfig::now() const {
    return (environment_.clock ? *environment_.clock : platform::systemClock()).now();
}

std::shared_ptr<APMPBMeasurementConfig> APMRemoteConfig::measurementConfig() const {
    std::lock_guard lock(mutex_);
    return remoteConfigProto_;
}

bool APMRemoteConfig::updateMeasurementConfig(const std::shared_ptr<APMPBMeasurementConfig>& config) {
    if (isDefaultInstance_) {
        APMMonitor::shared()->log(2, 29002, "Cannot update the default measurement configuration");
        return false;
    }
    if (!config || !config->messageInfo()) {
        APMMonitor::shared()->log(5, 29003, "Cannot set empty measurement config to database");
        return false;
    }
    if (APMPBGetString(*config, MeasurementConfigSlot::AppID).value_or("") != appID_) {
        APMMonitor::shared()->log(2, 29004, "Cannot set measurement config when Vadova App ID does not match");
        return false;
    }
    const std::shared_ptr<APMDatabase> database = database_.lock();
    const std::optional<APMPBData> encoded = config->protoBuffer();
    APMError error;
    bool stored = false;
    if (!database) {
        error = APMError::withCode(0, "The measurement database is gone");
    } else if (!encoded) {
        error = APMError::withCode(0, "Invalid measurement config data");
    } else {
        stored = database->updateRemoteConfig(encoded->toVector(), &error);
    }
    if (!stored) {
        APMMonitor::shared()->log(1, 29005, "Cannot store config into the database", error);
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        remoteConfigProto_ = config;
    }
    parseRemoteConfigFromMeasurementConfig(*config);
    return true;
}

std::shared_ptr<APMPBMeasurementConfig> APMRemoteConfig::measurementConfigFromDatabase() {
    if (isDefaultInstance_) {
        APMMonitor::shared()->log(
            2, 29015, "Cannot retrieve a measurement configuration from the database for the default instance");
        return nullptr;
    }
    const std::shared_ptr<APMDatabase> database = database_.lock();
    if (!database) return nullptr;
    const APMResult<APMBytes> stored = database->queryMeasurementConfig();
    if (stored.value) {
        if (auto config = APMPBMeasurementConfig::initWithBuffer(*stored.value)) return config;
        APMMonitor::shared()->log(2, 29016, "Cannot retrieve configuration data from database. Error",
                                  APMError::withCode(0, "Remote config data is corrupted"));
        return nullptr;
    }
    if (stored.error) {
        APMMonitor::shared()->log(2, 29016, "Cannot retrieve configuration data from database. Error", *stored.error);
    } else {
        APMMonitor::shared()->log(7, 29017,
                                  "Configuration was not found in database. The configuration will be fetched from "
                                  "the network when necessary");
    }
    return nullptr;
}

bool APMRemoteConfig::loadEventEditing(const APMPBMeasurementConfig& config,
                                       const std::shared_ptr<SettingsCache>& settings) {
    using namespace measurement::rules;
    const auto programs = APMPBGetMessages<APMPBProgram>(config, MeasurementConfigSlot::Programs);
    if (programs.empty()) return true;
    auto editing = std::make_shared<APMPEventEditing>();
    editing->setModuleCreator(
        [settings]() -> ValuePtr {
            return std::make_shared<APMPKeyValueStore>(
                u"internal.remoteConfig", [settings](const std::string& key) -> std::optional<std::string> {
                    const auto value = settings->objectForKeyedSubscript(key);
                    if (!value) return std::nullopt;
                    return settingText(*value);
                });
        },
        u"internal.remoteConfig");
    const auto appVersion = environment_.appVersion;
    editing->setModuleCreator(
        [appVersion]() -> ValuePtr {
            return std::make_shared<APMPObjectProvider>(u"internal.appMetadata", [appVersion] {
                platform::PropertyDictionary metadata;
                metadata["platform"] = "macos";
                std::string bundleID;
                if (auto value = VULMainBundle::objectForInfoDictionaryKey("CFBundleIdentifier");
                    value && value->asString()) {
                    bundleID = *value->asString();
                }
                metadata["package_name"] = bundleID;
                metadata["vaz_version"] = static_cast<long long>(APMIdentity::varUradazaduroLibraryVersion());
                if (appVersion) {
                    if (auto version = appVersion()) metadata["app_version"] = *version;
                }
                return std::optional<platform::PropertyValue>(std::move(metadata));
            });
        },
        u"internal.appMetadata");
    editing->setModuleCreator(
        []() -> ValuePtr { return std::make_shared<APMPMessageLogger>(std::make_shared<APMPixieLogger>()); },
        u"internal.logger");
    ErrorSlot error;
    if (!editing->loadProgram(*programs.front(), error) || error) {
        APMMonitor::shared()->log(1, 29026, "Failed to initiate event editing instance");
        std::lock_guard lock(mutex_);
        eventEditing_.reset();
        return false;
    }
    APMMonitor::shared()->log(7, 29027, "Loading Event Modification and Creation programs",
                              static_cast<long long>(programs.size()));
    std::lock_guard lock(mutex_);
    eventEditing_ = std::move(editing);
    return true;
}

void APMRemoteConfig::parseRemoteConfigFromMeasurementConfig(const APMPBMeasurementConfig& config) {
    const std::optional<APMPBArray> settingList = APMPBGetArray<APMPBSetting>(config, MeasurementConfigSlot::Settings);
    if (!settingList) {
        APMMonitor::shared()->log(2, 29012, "Cannot parse empty measurement config. Using default values");
        return;
    }
    if (APMPBGetString(config, MeasurementConfigSlot::AppID).value_or("") != appID_) return;

    std::shared_ptr<SettingsCache> settings;
    {
        std::lock_guard lock(mutex_);
        settings = settings_;
    }
    settings->removeAllObjects();
    for (const auto& setting : APMPBGetMessages<APMPBSetting>(config, MeasurementConfigSlot::Settings)) {
        const std::optional<std::string> name = APMPBGetString(*setting, SettingSlot::Name);
        const std::optional<std::string> value = APMPBGetString(*setting, SettingSlot::Value);
        (void)cacheValue(value ? std::optional<APMSettingValue>(*value) : std::nullopt, name.value_or(""));
    }

    eventConfigs_.removeAllObjects();
    for (const auto& eventConfig : APMPBGetMessages<APMPBEventConfig>(config, MeasurementConfigSlot::EventConfigs)) {
        const std::string name = APMPBGetString(*eventConfig, EventConfigSlot::Name).value_or("");
        if (name.empty()) {
            APMMonitor::shared()->log(5, 29013, "Cannot cache event configuration with an empty configuration name");
            continue;
        }
        const auto& names = APMPublicToInternalEventNameMap();
        const auto found = names.find(name);
        eventConfigs_.setObject(eventConfig, found == names.end() ? name : found->second);
    }

    if (APMPBHasField(config, MeasurementConfigSlot::Version)) {
        APMMonitor::shared()->log(7, 29014, "Successfully parsed a configuration. Version",
                                  static_cast<long long>(APMPBGetInt64(config, MeasurementConfigSlot::Version)));
    }

    if (!loadEventEditing(config, settings)) return;

    std::vector<std::string> dataControls;
    for (const auto& control : APMPBGetMessages<APMPBDataControl>(config, MeasurementConfigSlot::DataControls)) {
        if (auto name = APMPBGetString(*control, 0)) dataControls.push_back(*name);
    }

    consentDefaults_.removeAllObjects();
    consentDelegations_.removeAllObjects();
    regionalDefaults_.removeAllObjects();
    std::set<std::string> corePlatformServices;
    std::optional<bool> isDMARegion;
    if (auto consent = APMPBGetMessage<APMPBConsentConfig>(config, MeasurementConfigSlot::ConsentConfig)) {
        const APMConsentConfigMaps maps = APMConsentConfigMapsFromMessage(*consent);
        for (const auto& [type, status] : maps.defaults) consentDefaults_.setObject(status, type);
        for (const auto& [type, delegate] : maps.delegations) consentDelegations_.setObject(delegate, type);
        for (const auto& [type, status] : maps.regionalDefaults) regionalDefaults_.setObject(status, type);
        corePlatformServices = maps.corePlatformServices;
        isDMARegion = maps.isDMARegion;
    }
    {
        std::lock_guard lock(mutex_);
        dataControls_ = std::move(dataControls);
        corePlatformServices_ = std::move(corePlatformServices);
        if (isDMARegion) isDMARegion_ = *isDMARegion;
    }

    if (auto psm = APMPBGetMessage<APMPBPsmSetting>(config, MeasurementConfigSlot::PsmSetting)) {
        const char* keys[] = {"measurement.psm_prefix_email", "measurement.psm_prefix_phone",
                              "measurement.psm_signin_delay"};
        for (int slot = 0; slot < 3; ++slot) {
            if (APMPBHasField(*psm, slot)) {
                (void)cacheValue(APMSettingValue(APMSettingNumber(std::int64_t{APMPBGetInt32(*psm, slot)})),
                                 keys[slot]);
            }
        }
    }
}

void APMRemoteConfig::reset() {
    {
        std::lock_guard lock(mutex_);
        settings_ = std::make_shared<SettingsCache>();
        dataControls_.clear();
        corePlatformServices_.clear();
        isDMARegion_ = true;
        if (!isDefaultInstance_) remoteConfigProto_.reset();
    }
    eventConfigs_.removeAllObjects();
    experimentFlags_.removeAllObjects();
    consentDefaults_.removeAllObjects();
    consentDelegations_.removeAllObjects();
    regionalDefaults_.removeAllObjects();
    if (experimentManager_) experimentManager_->reset();
}

void APMRemoteConfig::reloadFromDatabase() {
    if (isDefaultInstance_) return;
    std::shared_ptr<APMPBMeasurementConfig> stored = measurementConfigFromDatabase();
    if (!stored) {
        reset();
        return;
    }
    {
        std::lock_guard lock(mutex_);
        remoteConfigProto_ = stored;
    }
    parseRemoteConfigFromMeasurementConfig(*stored);
}

std::int64_t APMRemoteConfig::version() const {
    const auto config = measurementConfig();
    if (!config || !APMPBHasField(*config, MeasurementConfigSlot::Version)) return -1;
    return APMPBGetInt64(*config, MeasurementConfigSlot::Version);
}

double APMRemoteConfig::lastRemoteConfigUpdateTimestamp() const {
    if (isDefaultInstance_) {
        APMMonitor::shared()->log(2, 29008, "Cannot fetch the last configuration update timestamp from the default "
                                            "instance");
        return 0;
    }
    const std::shared_ptr<APMDatabase> database = database_.lock();
    if (!database) return 0;
    const APMResult<double> stored = database->lastRemoteConfigUpdateTimestamp();
    if (!stored.value && stored.error) {
        APMMonitor::shared()->log(4, 29009, "Failed to query last configuration update timestamp. Error",
                                  *stored.error);
    }
    return stored.value.value_or(0);
}

bool APMRemoteConfig::isExpired() const {
    if (isDefaultInstance_) {
        APMMonitor::shared()->log(2, 29007, "Cannot fetch the last update timestamp from the default configuration");
        return false;
    }
    return std::fabs(now() - lastRemoteConfigUpdateTimestamp()) >= remoteConfigCacheTimeInterval();
}

std::optional<std::string> APMRemoteConfig::remoteConfigURLWithPlatform(const std::string& platform,
                                                                        std::int64_t SDKVersion,
                                                                        std::int64_t runtimeVersion) const {
    if (appID_.empty()) {
        APMMonitor::shared()->log(2, 29021, "Cannot create a URL to fetch a configuration with empty app ID");
        return std::nullopt;
    }
    if (platform.empty()) {
        APMMonitor::shared()->log(2, 29010, "Cannot create a URL to fetch a configuration with empty platform");
        return std::nullopt;
    }
    if (!environment_.endpoints.configBaseURL) return std::nullopt;
    const auto base = APMParseServiceURL(*environment_.endpoints.configBaseURL);
    if (!base) return std::nullopt;
    APMServiceURL url = *base;
    url.rest = "/config/app/" + APMPercentEncodePath(appID_) + "?" +
               APMQueryString({{"platform", platform},
                               {"runtime_version", std::to_string(runtimeVersion)},
                               {"vaz_version", std::to_string(SDKVersion)}});
    return url.text();
}

std::shared_ptr<APMPBEventConfig> APMRemoteConfig::eventConfigWithName(const std::string& name) const {
    if (name.empty()) {
        APMMonitor::shared()->log(5, 29006, "Cannot find event config with empty event name");
        return nullptr;
    }
    return eventConfigs_.objectForKeyedSubscript(name).value_or(nullptr);
}

bool APMRemoteConfig::isEventBlocklisted(const std::string& name) const {
    if (auto config = eventConfigWithName(name);
        config && APMPBHasField(*config, EventConfigSlot::Blocklisted) && APMPBGetBool(*config, EventConfigSlot::Blocklisted)) {
        return true;
    }
    return isPublicEventName(name) ? blocklistPublic() : blocklistInternal();
}

bool APMRemoteConfig::isEventCustomConversion(const std::string& name) const {
    auto config = eventConfigWithName(name);
    return config && APMPBHasField(*config, EventConfigSlot::CustomConversion) &&
           APMPBGetBool(*config, EventConfigSlot::CustomConversion);
}

bool APMRemoteConfig::eventHasSamplingRate(const std::string& name) const {
    auto config = eventConfigWithName(name);
    return config && APMPBHasField(*config, EventConfigSlot::SamplingRate);
}

std::int32_t APMRemoteConfig::samplingRateForEvent(const std::string& name) const {
    auto config = eventConfigWithName(name);
    if (!config || !APMPBHasField(*config, EventConfigSlot::SamplingRate)) return 1;
    const std::int32_t rate = APMPBGetInt32(*config, EventConfigSlot::SamplingRate);
    return rate >= 2 && rate <= 65535 ? rate : 1;
}

std::optional<std::string> APMRemoteConfig::uploadSubdomain() const {
    const auto config = measurementConfig();
    if (!config) return std::nullopt;
    return APMPBGetString(*config, MeasurementConfigSlot::UploadSubdomain);
}

std::optional<std::string> APMRemoteConfig::uploadURL() const {
    const bool restricted =
        environment_.appDataConsentStatus && environment_.appDataConsentStatus() == kRestrictedAppDataConsentStatus;
    const std::optional<std::string>& base =
        restricted ? environment_.endpoints.alternateUploadBaseURL : environment_.endpoints.uploadBaseURL;
    if (!base) return std::nullopt;
    auto url = APMParseServiceURL(*base);
    if (!url) return std::nullopt;
    if (const auto subdomain = uploadSubdomain(); subdomain && !subdomain->empty()) {
        url->host = *subdomain + "." + url->host;
    }
    url->rest = "/a";
    // The subdomain comes from the server: the result must pass the same rule.
    auto checked = APMParseServiceURL(url->text());
    if (!checked) return std::nullopt;
    return checked->text();
}

bool APMRemoteConfig::SVTMUploadEnabled() const {
    if (!SVTMUploadSettingEnabled()) return false;
    bool plistEnabled = false;
    if (environment_.svtmUploadPlistEnabled) {
        plistEnabled = environment_.svtmUploadPlistEnabled();
    } else if (auto value = VULMainBundle::objectForInfoDictionaryKey("VADOVA_ANALYTICS_SVTM_UPLOAD_ENABLED");
               value && (value->isNumber() || value->asBoolean())) {
        plistEnabled = value->asBoolean().value_or(value->asReal().value_or(0) != 0);
    }
    if (!plistEnabled) return false;
    const auto config = measurementConfig();
    if (!config) return false;
    const auto svtm = APMPBGetMessage<APMPBSvtmSetting>(*config, MeasurementConfigSlot::SvtmSetting);
    if (!svtm || APMPBGetString(*svtm, SvtmSettingSlot::UploadURL).value_or("").empty()) return false;
    if (environment_.hasSVTMPreviewHeaders && environment_.hasSVTMPreviewHeaders()) return true;
    const std::int32_t rollout = APMPBGetInt32(*svtm, SvtmSettingSlot::RolloutPercentage);
    if (rollout >= 100) return true;
    const std::string appInstanceID =
        persistedConfig_ ? persistedConfig_->appInstanceID().value_or("") : std::string();
    return !appInstanceID.empty() && rollout > 0 && stableHash(appInstanceID) % 100 < static_cast<std::uint64_t>(rollout);
}

std::optional<std::string> APMRemoteConfig::SVTMUploadURL() const {
    const auto config = measurementConfig();
    if (!config) return std::nullopt;
    const auto svtm = APMPBGetMessage<APMPBSvtmSetting>(*config, MeasurementConfigSlot::SvtmSetting);
    if (!svtm) return std::nullopt;
    if (environment_.appDataConsentStatus && environment_.appDataConsentStatus() == kRestrictedAppDataConsentStatus) {
        if (auto alternate = APMPBGetString(*svtm, SvtmSettingSlot::AlternateUploadURL);
            alternate && APMParseServiceURL(*alternate)) {
            return alternate;
        }
    }
    // A URL the configuration names is used only when it passes the scheme rule.
    auto url = APMPBGetString(*svtm, SvtmSettingSlot::UploadURL);
    if (!url || !APMParseServiceURL(*url)) return std::nullopt;
    return url;
}

std::optional<std::map<std::string, std::string>> APMRemoteConfig::SVTMUploadHTTPHeaders() const {
    const auto config = measurementConfig();
    if (!config) return std::nullopt;
    const auto svtm = APMPBGetMessage<APMPBSvtmSetting>(*config, MeasurementConfigSlot::SvtmSetting);
    if (!svtm) return std::nullopt;
    const std::string info = APMPBGetString(*svtm, SvtmSettingSlot::ServerInfo).value_or("");
    if (info.empty() || !APMIsSafeHeaderValue(info)) return std::nullopt;
    return std::map<std::string, std::string>{{"x-svtm-server-info", info}};
}

std::vector<std::string> APMRemoteConfig::dataControls() const {
    std::lock_guard lock(mutex_);
    return dataControls_;
}

std::map<std::string, std::string> APMRemoteConfig::consentDefaults() const { return consentDefaults_.dictionary(); }
std::map<std::string, std::string> APMRemoteConfig::consentDelegations() const {
    return consentDelegations_.dictionary();
}
std::map<std::string, std::string> APMRemoteConfig::regionalDefaults() const { return regionalDefaults_.dictionary(); }

std::set<std::string> APMRemoteConfig::corePlatformServices() const {
    std::lock_guard lock(mutex_);
    return corePlatformServices_;
}

bool APMRemoteConfig::isDMARegion() const {
    std::lock_guard lock(mutex_);
    return isDMARegion_;
}

std::vector<std::int64_t> APMRemoteConfig::experimentIDs() const {
    std::vector<std::int64_t> ids = experimentManager_ ? experimentManager_->experimentIDs() : std::vector<std::int64_t>{};
    if (!passthroughExperimentReportingEnabled()) return ids;
    const auto config = measurementConfig();
    if (!config) return ids;
    if (auto numbers = APMPBGetArray(*config, MeasurementConfigSlot::ExperimentIDs)) {
        for (const APMPBObject& object : *numbers) {
            const auto* number = std::get_if<APMPBNumber>(&object);
            if (!number) continue;
            const std::int64_t id = number->longLongValue();
            if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
        }
    }
    return ids;
}

std::shared_ptr<measurement::rules::APMPEventEditing> APMRemoteConfig::eventEditing() const {
    std::lock_guard lock(mutex_);
    return eventEditing_;
}

void APMRemoteConfig::clientDidReceiveNewSnapshot() {
    std::lock_guard lock(mutex_);
    hasNewSnapshot_ = true;
}

void APMRemoteConfig::clientDidReceiveFetchError(const std::optional<APMError>& error) {
    if (error) APMMonitor::shared()->log(2, 29025, "Cannot fetch experiment. Error", *error);
}

bool APMRemoteConfig::activateNewSnapshot() {
    {
        std::lock_guard lock(mutex_);
        if (!hasNewSnapshot_) return false;
    }
    if (!experimentClient_) return false;
    APMError error;
    if (!experimentClient_->activateLatestSnapshot(&error)) {
        APMMonitor::shared()->log(2, 29024, "Cannot activate snapshot. Error", error);
        return false;
    }
    updateCachedExperimentFlags();
    std::lock_guard lock(mutex_);
    hasNewSnapshot_ = false;
    return true;
}

void APMRemoteConfig::updateCachedExperimentFlags() {
    static constexpr const char* kFlags[] = {
        "deep_link_url_enabled", "passthrough_experiment_reporting_enabled", "psm_session_start_enabled",
        "psm_group_id_enabled",  "odm2_session_start_enabled",               "odm2_group_id_enabled",
        "odf_enabled",           "diagnostics_enabled",                      "app_config_diagnostics_enabled"};
    for (const char* flag : kFlags) {
        experimentFlags_.setObject(experimentClient_ ? experimentClient_->flagValue(flag) : std::nullopt, flag);
    }
}
