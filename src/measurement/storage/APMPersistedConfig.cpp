#include "measurement/storage/APMPersistedConfig.h"

#include "measurement/storage/APMSharedInstance.h"
#include "platform/core/UserDefaults.h"

namespace {

// Every setting of the class, as stored after "/vadova/measurement/".
#define APM_PERSISTED_KEYS(X)                                                                            \
    X(kLoadTimestamp, "load_timestamp")                                                                  \
    X(kMeasurementEnabledState, "measurement_enabled_state")                                             \
    X(kAppIDFromVAZ, "vaz_app_id")                                                                       \
    X(kAdNetworkAppID, "ad_network_app_id")                                                                   \
    X(kAppInstanceID, "app_instance_id")                                                                 \
    X(kHashedIDFA, "hashed_idfa")                                                                        \
    X(kSetLastAdvertisingIDReset, "set_last_advertising_id_reset")                                       \
    X(kDiversionKey, "diversion_key")                                                                    \
    X(kFeatureRollouts, "veredoda_feature_rollouts")                                                     \
    X(kAppVersion, "app_version")                                                                        \
    X(kOSVersion, "os_version")                                                                          \
    X(kLastSuccessfulUpload, "last_successful_upload")                                                   \
    X(kLastFailedUpload, "last_failed_upload")                                                           \
    X(kLastBackoff, "last_backoff")                                                                      \
    X(kLastModifiedSince, "last_modified_since_key")                                                     \
    X(kConfigETag, "config_etag")                                                                        \
    X(kConfigVAZVersion, "config_vaz_version")                                                           \
    X(kLastMonitorDataSampled, "last_monitor_data_sampled_timestamp")                                    \
    X(kPreviousBundledConsentSignals, "previous_bundled_consent_signals")                                \
    X(kFirstOpenTimestampMs, "first_open_timestamp_ms")                                                  \
    X(kPreviousFirstOpenCount, "previous_first_open_count")                                              \
    X(kUnmatchedFirstOpenWithoutIDFA, "unmatched_first_open_without_ad_id")                              \
    X(kSessionNumber, "session_number")                                                                  \
    X(kLastSessionActivityClockTime, "last_session_activity_clock_time")                                 \
    X(kSessionTimeout, "session_timeout")                                                                \
    X(kMidnightOffset, "midnight_offset")                                                                \
    X(kDefaultEventParameters, "default_event_parameters")                                               \
    X(kAllowPersonalizedAds, "allow_personalized_ads")                                                   \
    X(kAdCampaignInfoBuffer, "ad_campaign_info_buffer")                                                  \
    X(kIsSearchAdCampaign, "is_search_ad_campaign")                                                      \
    X(kSearchAdLastAttempt, "search_ad_last_attempt_timestamp")                                          \
    X(kSearchAdRetries, "search_ad_number_of_retries")                                                   \
    X(kDeepLinkRetrievalComplete, "deep_link_retrieval_complete")                                        \
    X(kDeepLinkRetryCount, "deep_link_retry_count")                                                      \
    X(kODM2FirstOpenTimestamp, "odm2_first_open_timestamp")                                              \
    X(kODFFirstOpenTimestamp, "odf_first_open_timestamp")                                                \
    X(kPSMHashedInputData, "psm_hashed_input_data")                                                      \
    X(kPSMInputType, "psm_input_type")                                                                   \
    X(kPSMCurrentDay, "psm_current_day")

#define APM_DEFINE_KEY(name, text) constexpr const char* name = text;
APM_PERSISTED_KEYS(APM_DEFINE_KEY)
#undef APM_DEFINE_KEY

#define APM_LIST_KEY(name, text) text,
constexpr const char* kAllKeys[] = {APM_PERSISTED_KEYS(APM_LIST_KEY)};
#undef APM_LIST_KEY

platform::PropertyValue propertyFromValue(const APMValue& value);

platform::PropertyDictionary propertyFromParameters(const APMParameters& parameters) {
    platform::PropertyDictionary dictionary;
    for (const auto& [name, value] : parameters) dictionary[name] = propertyFromValue(value);
    return dictionary;
}

platform::PropertyValue propertyFromValue(const APMValue& value) {
    switch (value.kind()) {
        case APMValue::Kind::Double: return platform::PropertyValue(value.doubleValue());
        case APMValue::Kind::Int64: return platform::PropertyValue(static_cast<long long>(value.int64Value()));
        case APMValue::Kind::String: return platform::PropertyValue(*value.stringValue());
        case APMValue::Kind::Array: {
            platform::PropertyArray items;
            for (const auto& item : *value.arrayValue()) items.emplace_back(propertyFromParameters(item));
            return platform::PropertyValue(std::move(items));
        }
    }
    return {};
}

APMParameters parametersFromProperty(const platform::PropertyDictionary& dictionary) {
    APMParameters parameters;
    for (const auto& [name, member] : dictionary) {
        APMObject object = member;
        // Members that are no parameter value (never written by this class) are left out.
        if (member.isNumber() || member.isString() || member.asArray()) {
            if (auto value = APMValue::valueFromObject(&object, true)) parameters.set(name, std::move(*value));
        }
    }
    return parameters;
}

}  // namespace

APMPersistedConfig::APMPersistedConfig() : APMPersistedConfig(platform::UserDefaults::standard()) {}

APMPersistedConfig::APMPersistedConfig(std::shared_ptr<platform::UserDefaults> store) : store_(std::move(store)) {}

std::shared_ptr<APMPersistedConfig> APMPersistedConfig::sharedInstance() {
    return APMSharedInstance<APMPersistedConfig>::currentOrMake([] { return std::make_shared<APMPersistedConfig>(); });
}

void APMPersistedConfig::resetSharedForTesting() { APMSharedInstance<APMPersistedConfig>::replace(nullptr); }

std::string APMPersistedConfig::storageKey(const std::string& key) { return "/vadova/measurement/" + key; }

void APMPersistedConfig::clearValues() {
    for (const char* key : kAllKeys) write(key, std::nullopt);
}

void APMPersistedConfig::synchronizeToDisk() {
    // Every change is written when it is made; nothing is ever pending.
}

std::optional<platform::PropertyValue> APMPersistedConfig::read(const char* key) const {
    return store_->object(storageKey(key));
}

void APMPersistedConfig::write(const char* key, std::optional<platform::PropertyValue> value) {
    const std::string fullKey = storageKey(key);
    auto current = store_->object(fullKey);
    if (!value) {
        // A failed file write keeps the value in memory; the next write of
        // the domain saves it.
        if (current) (void)store_->remove(fullKey);
        return;
    }
    if (current && *current == *value) return;
    (void)store_->set(fullKey, std::move(*value));
}

std::optional<std::string> APMPersistedConfig::readString(const char* key) const {
    auto value = read(key);
    if (!value || !value->isString()) return std::nullopt;
    return *value->asString();
}

void APMPersistedConfig::writeString(const char* key, std::optional<std::string> value) {
    if (!value) return write(key, std::nullopt);
    write(key, platform::PropertyValue(std::move(*value)));
}

std::optional<std::int64_t> APMPersistedConfig::readInteger(const char* key) const {
    auto value = read(key);
    if (!value) return std::nullopt;
    if (auto flag = value->asBoolean()) return *flag ? 1 : 0;
    return value->asInteger();
}

std::optional<double> APMPersistedConfig::readReal(const char* key) const {
    auto value = read(key);
    if (!value) return std::nullopt;
    if (auto flag = value->asBoolean()) return *flag ? 1.0 : 0.0;
    return value->asReal();
}

std::optional<bool> APMPersistedConfig::readBoolean(const char* key) const {
    auto value = read(key);
    if (!value) return std::nullopt;
    if (auto flag = value->asBoolean()) return flag;
    if (auto number = value->asReal()) return *number != 0;
    return std::nullopt;
}

namespace {

std::optional<platform::PropertyValue> integerProperty(std::optional<std::int64_t> value) {
    if (!value) return std::nullopt;
    return platform::PropertyValue(static_cast<long long>(*value));
}

std::optional<platform::PropertyValue> realProperty(std::optional<double> value) {
    if (!value) return std::nullopt;
    return platform::PropertyValue(*value);
}

std::optional<platform::PropertyValue> booleanProperty(std::optional<bool> value) {
    if (!value) return std::nullopt;
    return platform::PropertyValue(*value);
}

}  // namespace

std::optional<double> APMPersistedConfig::loadTimestampValue() const { return readReal(kLoadTimestamp); }
void APMPersistedConfig::setLoadTimestampValue(std::optional<double> seconds) {
    write(kLoadTimestamp, realProperty(seconds));
}

std::int64_t APMPersistedConfig::measurementEnabledState() const {
    return readInteger(kMeasurementEnabledState).value_or(0);
}
void APMPersistedConfig::setMeasurementEnabledState(std::int64_t state) {
    write(kMeasurementEnabledState, integerProperty(state));
}

std::optional<std::string> APMPersistedConfig::appIDFromVAZ() const { return readString(kAppIDFromVAZ); }
void APMPersistedConfig::setAppIDFromVAZ(std::optional<std::string> appID) {
    writeString(kAppIDFromVAZ, std::move(appID));
}

std::optional<std::string> APMPersistedConfig::adNetworkAppID() const { return readString(kAdNetworkAppID); }
void APMPersistedConfig::setAdNetworkAppID(std::optional<std::string> appID) {
    writeString(kAdNetworkAppID, std::move(appID));
}

std::optional<std::string> APMPersistedConfig::appInstanceID() const { return readString(kAppInstanceID); }
void APMPersistedConfig::setAppInstanceID(std::optional<std::string> appInstanceID) {
    writeString(kAppInstanceID, std::move(appInstanceID));
}

std::optional<std::string> APMPersistedConfig::hashedResettableDeviceID() const { return readString(kHashedIDFA); }
void APMPersistedConfig::setHashedResettableDeviceID(std::optional<std::string> hashed) {
    writeString(kHashedIDFA, std::move(hashed));
}

bool APMPersistedConfig::shouldSetLastAdvertisingIDResetUserProperty() const {
    return readBoolean(kSetLastAdvertisingIDReset).value_or(false);
}
void APMPersistedConfig::setShouldSetLastAdvertisingIDResetUserProperty(bool should) {
    write(kSetLastAdvertisingIDReset, booleanProperty(should));
}

std::optional<std::string> APMPersistedConfig::diversionKey() const { return readString(kDiversionKey); }
void APMPersistedConfig::setDiversionKey(std::optional<std::string> key) { writeString(kDiversionKey, std::move(key)); }

std::optional<std::string> APMPersistedConfig::veredodaFeatureRollouts() const {
    return readString(kFeatureRollouts);
}
void APMPersistedConfig::setVeredodaFeatureRollouts(std::optional<std::string> rollouts) {
    writeString(kFeatureRollouts, std::move(rollouts));
}

std::optional<std::string> APMPersistedConfig::appVersion() const { return readString(kAppVersion); }
void APMPersistedConfig::setAppVersion(std::optional<std::string> version) {
    writeString(kAppVersion, std::move(version));
}

std::optional<std::string> APMPersistedConfig::osVersion() const { return readString(kOSVersion); }
void APMPersistedConfig::setOSVersion(std::optional<std::string> version) { writeString(kOSVersion, std::move(version)); }

double APMPersistedConfig::lastSuccessfulUploadTimestamp() const {
    return readReal(kLastSuccessfulUpload).value_or(0);
}
void APMPersistedConfig::setLastSuccessfulUploadTimestamp(double seconds) {
    write(kLastSuccessfulUpload, realProperty(seconds));
}

double APMPersistedConfig::lastFailedUploadTimestamp() const { return readReal(kLastFailedUpload).value_or(0); }
void APMPersistedConfig::setLastFailedUploadTimestamp(double seconds) {
    write(kLastFailedUpload, seconds == 0 ? std::nullopt : realProperty(seconds));
}

double APMPersistedConfig::lastBackoffTimestamp() const { return readReal(kLastBackoff).value_or(0); }
void APMPersistedConfig::setLastBackoffTimestamp(double seconds) {
    write(kLastBackoff, seconds == 0 ? std::nullopt : realProperty(seconds));
}

std::optional<std::string> APMPersistedConfig::configServerLastModifiedString() const {
    return readString(kLastModifiedSince);
}
void APMPersistedConfig::setConfigServerLastModifiedString(std::optional<std::string> text) {
    writeString(kLastModifiedSince, std::move(text));
}

std::optional<std::string> APMPersistedConfig::configServerETag() const { return readString(kConfigETag); }
void APMPersistedConfig::setConfigServerETag(std::optional<std::string> etag) {
    writeString(kConfigETag, std::move(etag));
}

std::int64_t APMPersistedConfig::configVAZVersion() const { return readInteger(kConfigVAZVersion).value_or(0); }
void APMPersistedConfig::setConfigVAZVersion(std::int64_t version) {
    write(kConfigVAZVersion, integerProperty(version));
}

double APMPersistedConfig::lastMonitorDataSampledTimestamp() const {
    return readReal(kLastMonitorDataSampled).value_or(0);
}
void APMPersistedConfig::setLastMonitorDataSampledTimestamp(double seconds) {
    write(kLastMonitorDataSampled, realProperty(seconds));
}

std::optional<std::string> APMPersistedConfig::previousBundledConsentSignals() const {
    return readString(kPreviousBundledConsentSignals);
}
void APMPersistedConfig::setPreviousBundledConsentSignals(std::optional<std::string> signals) {
    writeString(kPreviousBundledConsentSignals, std::move(signals));
}

std::int64_t APMPersistedConfig::firstOpenTimestampMilliseconds() const {
    return readInteger(kFirstOpenTimestampMs).value_or(0);
}
void APMPersistedConfig::setFirstOpenTimestampMilliseconds(std::int64_t milliseconds) {
    write(kFirstOpenTimestampMs, integerProperty(milliseconds));
}

std::int64_t APMPersistedConfig::previousFirstOpenCount() const {
    return readInteger(kPreviousFirstOpenCount).value_or(0);
}
void APMPersistedConfig::setPreviousFirstOpenCount(std::int64_t count) {
    write(kPreviousFirstOpenCount, integerProperty(count));
}

bool APMPersistedConfig::unmatchedFirstOpenWithoutIDFA() const {
    return readBoolean(kUnmatchedFirstOpenWithoutIDFA).value_or(false);
}
void APMPersistedConfig::setUnmatchedFirstOpenWithoutIDFA(bool unmatched) {
    write(kUnmatchedFirstOpenWithoutIDFA, booleanProperty(unmatched));
}

std::int64_t APMPersistedConfig::sessionNumber() const { return readInteger(kSessionNumber).value_or(0); }
void APMPersistedConfig::setSessionNumber(std::int64_t number) { write(kSessionNumber, integerProperty(number)); }

double APMPersistedConfig::lastSessionActivityClockTime() const {
    return readReal(kLastSessionActivityClockTime).value_or(0);
}
void APMPersistedConfig::setLastSessionActivityClockTime(double seconds) {
    write(kLastSessionActivityClockTime, realProperty(seconds));
}

std::optional<double> APMPersistedConfig::sessionTimeoutValue() const { return readReal(kSessionTimeout); }
void APMPersistedConfig::setSessionTimeoutValue(std::optional<double> seconds) {
    write(kSessionTimeout, realProperty(seconds));
}

double APMPersistedConfig::midnightOffset() const { return readReal(kMidnightOffset).value_or(0); }

std::optional<APMParameters> APMPersistedConfig::defaultEventParameters() const {
    auto value = read(kDefaultEventParameters);
    if (!value || !value->asDictionary()) return std::nullopt;
    return parametersFromProperty(*value->asDictionary());
}
void APMPersistedConfig::setDefaultEventParameters(std::optional<APMParameters> parameters) {
    if (!parameters) return write(kDefaultEventParameters, std::nullopt);
    write(kDefaultEventParameters, platform::PropertyValue(propertyFromParameters(*parameters)));
}

std::optional<bool> APMPersistedConfig::allowPersonalizedAds() const { return readBoolean(kAllowPersonalizedAds); }
void APMPersistedConfig::setAllowPersonalizedAds(std::optional<bool> allow) {
    write(kAllowPersonalizedAds, booleanProperty(allow));
}

platform::PropertyData APMPersistedConfig::adCampaignInfoBuffer() const {
    auto value = read(kAdCampaignInfoBuffer);
    if (!value || !value->asData()) return {};
    return *value->asData();
}
void APMPersistedConfig::setAdCampaignInfoBuffer(const platform::PropertyData& buffer) {
    write(kAdCampaignInfoBuffer, platform::PropertyValue(buffer));
}

std::optional<bool> APMPersistedConfig::searchAdCampaignValue() const { return readBoolean(kIsSearchAdCampaign); }
void APMPersistedConfig::setSearchAdCampaignValue(std::optional<bool> isCampaign) {
    write(kIsSearchAdCampaign, booleanProperty(isCampaign));
}

double APMPersistedConfig::lastSearchAdLookUpTimestamp() const {
    return readReal(kSearchAdLastAttempt).value_or(0);
}
void APMPersistedConfig::setLastSearchAdLookUpTimestamp(double seconds) {
    write(kSearchAdLastAttempt, realProperty(seconds));
}

std::int64_t APMPersistedConfig::searchAdRetryCount() const { return readInteger(kSearchAdRetries).value_or(0); }
void APMPersistedConfig::setSearchAdRetryCount(std::int64_t count) { write(kSearchAdRetries, integerProperty(count)); }

std::optional<std::int64_t> APMPersistedConfig::deferredDeepLinkRetrievalComplete() const {
    return readInteger(kDeepLinkRetrievalComplete);
}
void APMPersistedConfig::setDeferredDeepLinkRetrievalComplete(std::optional<std::int64_t> value) {
    write(kDeepLinkRetrievalComplete, integerProperty(value));
}

std::int64_t APMPersistedConfig::deferredDeepLinkRetryCount() const {
    return readInteger(kDeepLinkRetryCount).value_or(0);
}
void APMPersistedConfig::setDeferredDeepLinkRetryCount(std::int64_t count) {
    write(kDeepLinkRetryCount, integerProperty(count));
}

double APMPersistedConfig::ODM2FirstOpenTimestampValue() const {
    return readReal(kODM2FirstOpenTimestamp).value_or(0);
}
void APMPersistedConfig::setODM2FirstOpenTimestampValue(double seconds) {
    write(kODM2FirstOpenTimestamp, realProperty(seconds));
}

double APMPersistedConfig::ODFFirstOpenTimestampValue() const {
    return readReal(kODFFirstOpenTimestamp).value_or(0);
}
void APMPersistedConfig::setODFFirstOpenTimestampValue(double seconds) {
    write(kODFFirstOpenTimestamp, realProperty(seconds));
}

std::optional<platform::PropertyData> APMPersistedConfig::PSMHashedInputData() const {
    auto value = read(kPSMHashedInputData);
    if (!value || !value->asData()) return std::nullopt;
    return *value->asData();
}
void APMPersistedConfig::setPSMHashedInputData(std::optional<platform::PropertyData> data) {
    if (!data) return write(kPSMHashedInputData, std::nullopt);
    write(kPSMHashedInputData, platform::PropertyValue(std::move(*data)));
}

std::int64_t APMPersistedConfig::PSMInputType() const { return readInteger(kPSMInputType).value_or(0); }
void APMPersistedConfig::setPSMInputType(std::int64_t type) { write(kPSMInputType, integerProperty(type)); }

std::optional<std::int64_t> APMPersistedConfig::PSMCurrentDay() const { return readInteger(kPSMCurrentDay); }
void APMPersistedConfig::setPSMCurrentDay(std::optional<std::int64_t> day) {
    write(kPSMCurrentDay, integerProperty(day));
}
