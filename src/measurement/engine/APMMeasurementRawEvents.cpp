// Raw event storage: the event's metadata (stored once per distinct content
// under its fingerprint), the storage cap, the raw event row and the
// bookkeeping that follows a write.

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <span>

#include "measurement/engine/APMBundleConsent.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMMeasurementEventSupport.h"
#include "measurement/engine/APMEngineWiring.h"
#include "measurement/interface/APMConsentSettingsUtil.h"
#include "measurement/interface/APMIdentity.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMEnvironmentInfo.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMNameMaps.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMScheduler.h"

namespace {

// Field tags of the metadata (a partly filled MeasurementBundle).
enum MetadataTag : int {
    kProtocolVersion = 1,
    kUserAttributes = 3,
    kPlatform = 8,
    kOSVersion = 9,
    kDeviceModel = 10,
    kUserDefaultLanguage = 11,
    kTimeZoneOffsetMinutes = 12,
    kInstallSource = 13,
    kAppID = 14,
    kAppVersion = 16,
    kLibraryVersion = 17,
    kResettableDeviceID = 19,
    kConfigAppID = 25,
    kInstallationID = 30,
    kAppVersionMajor = 31,
    kAppVersionMinor = 32,
    kAppVersionRelease = 33,
    kConsentSignals = 52,
    kSessionStitchingToken = 63,
    kOnDeviceMeasurementInfo = 84,
    kLinkageBits = 87,
};

int slot(int tag) {
    static const std::map<int, int> slots = [] {
        std::map<int, int> found;
        for (int tag : {kProtocolVersion, kUserAttributes, kPlatform, kOSVersion, kDeviceModel, kUserDefaultLanguage,
                        kTimeZoneOffsetMinutes, kInstallSource, kAppID, kAppVersion, kLibraryVersion,
                        kResettableDeviceID, kConfigAppID, kInstallationID, kAppVersionMajor, kAppVersionMinor,
                        kAppVersionRelease, kConsentSignals, kSessionStitchingToken, kOnDeviceMeasurementInfo,
                        kLinkageBits}) {
            found[tag] = APMBundleSlotForTag(tag);
        }
        return found;
    }();
    return slots.at(tag);
}

struct ODMRow {
    const char* name;
    long code;
    int level;
    const char* text;
    int tag;  // of OnDeviceMeasurementInfo
};

constexpr ODMRow kODMRows[] = {
    {"odm1_value", 23287, 4, "Failed to query ODM value. Error", 1},
    {"odm1_session_value", 23288, 4, "Failed to query ODM session value. Error", 2},
    {"odm2_value_cohort", 23319, 4, "Failed to query new ODM2 value. Error", 6},
    {"odm2_value", 23291, 4, "Failed to query ODM2 value. Error", 3},
    {"odm1_group_id", 23302, 4, "Failed to query ODM group ID. Error", 5},
    {"odm2_group_id", 23327, 5, "Failed to query ODM2 group ID. Error", 7},
    {"odf_app_installation_id", 23325, 2, "Failed to query features app installation info. Error", 8},
    {"odf_matching_id", 23326, 2, "Failed to query features matching info. Error", 9},
};

std::shared_ptr<APMPBOnDeviceMeasurementValue> onDeviceMeasurementValueFromRecord(const APMODMValue& record) {
    auto value = APMPBOnDeviceMeasurementValue::initWithBuffer({});
    if (!value) return nullptr;
    const double milliseconds = record.setTimestamp * 1000;
    const bool fits = std::isfinite(milliseconds) && milliseconds < 9223372036854775808.0 &&
                      milliseconds >= -9223372036854775808.0;
    APMPBSetInt64(*value, OnDeviceMeasurementValueSlot::SetTimestamp, fits ? static_cast<std::int64_t>(milliseconds) : 0);
    APMPBSetString(*value, OnDeviceMeasurementValueSlot::Value, record.value);
    return value;
}

}  // namespace

// Everything an event's metadata is made of, read once per event. Equal
// inputs make equal metadata: the last encoded metadata is kept with the
// inputs it was made from and written again while they stay the same.
struct APMRawEventMetadataInputs {
    // Without an identity every identity value is none.
    std::optional<std::string> appID;
    std::optional<bool> fromAppStore;
    std::optional<std::string> appVersion;
    std::optional<std::string> configAppID;
    std::optional<std::string> installationID;
    std::optional<std::string> sessionStitchingToken;
    std::optional<std::int64_t> appVersionMajor;
    std::optional<std::int64_t> appVersionMinor;
    std::optional<std::int64_t> appVersionRelease;
    std::string consentSignals;
    bool gateIDFAOnATTMAS = false;
    APMConsentIdentity consentIdentity;
    std::string consentDiagnostics;
    bool adUserDataDenied = false;
    bool isDMARegion = false;
    std::set<std::string> corePlatformServices;
    std::string deviceModel;
    std::string osVersion;
    long timeZoneOffsetMinutes = 0;
    std::string language;
    // With the stored "_npa" added when the list has none.
    std::vector<APMUserAttribute> userAttributes;
    std::int32_t linkageBits = 0;
    bool operator==(const APMRawEventMetadataInputs&) const = default;
};

struct APMKeptRawEventMetadata {
    APMRawEventMetadataInputs inputs;
    APMBytes encoded;
    bool hasResettableDeviceID = false;
};

namespace {

// The metadata the inputs make, without on-device measurement values.
std::shared_ptr<APMPBMeasurementBundle> rawEventMetadataFromInputs(const APMRawEventMetadataInputs& in) {
    auto metadata = APMPBMeasurementBundle::initWithBuffer({});
    if (!metadata) return nullptr;
    APMPBMeasurementBundle& m = *metadata;
    APMPBSetString(m, slot(kPlatform), "macos");
    APMPBSetInt32(m, slot(kProtocolVersion), 1);
    if (in.appID) APMPBSetString(m, slot(kAppID), *in.appID);
    if (in.fromAppStore && !*in.fromAppStore) APMPBSetString(m, slot(kInstallSource), "manual_install");
    if (in.appVersion) APMPBSetString(m, slot(kAppVersion), *in.appVersion);
    if (in.configAppID) APMPBSetString(m, slot(kConfigAppID), *in.configAppID);
    APMPBSetInt64(m, slot(kLibraryVersion), APMIdentity::varUradazaduroLibraryVersion());
    if (in.installationID) APMPBSetString(m, slot(kInstallationID), *in.installationID);
    if (in.sessionStitchingToken) APMPBSetString(m, slot(kSessionStitchingToken), *in.sessionStitchingToken);
    if (in.appVersionMajor) APMPBSetInt32(m, slot(kAppVersionMajor), static_cast<std::int32_t>(*in.appVersionMajor));
    if (in.appVersionMinor) APMPBSetInt32(m, slot(kAppVersionMinor), static_cast<std::int32_t>(*in.appVersionMinor));
    if (in.appVersionRelease) {
        APMPBSetInt32(m, slot(kAppVersionRelease), static_cast<std::int32_t>(*in.appVersionRelease));
    }
    applyConsentIdentifiersToBundle(m, in.consentSignals, in.gateIDFAOnATTMAS, in.consentIdentity, true);
    applyConsentFieldsToBundle(m, in.consentDiagnostics, in.adUserDataDenied, nullptr, in.isDMARegion,
                               in.corePlatformServices, true);
    APMPBSetString(m, slot(kDeviceModel), in.deviceModel);
    APMPBSetString(m, slot(kOSVersion), in.osVersion);
    APMPBSetInt32(m, slot(kTimeZoneOffsetMinutes), static_cast<std::int32_t>(in.timeZoneOffsetMinutes));
    APMPBSetString(m, slot(kUserDefaultLanguage), in.language);

    if (in.userAttributes.empty()) return metadata;
    APMPBArray protos;
    for (const APMUserAttribute& attribute : in.userAttributes) {
        if (auto proto = protoUserAttribute(attribute)) protos.emplace_back(std::shared_ptr<NANOMessageBase>(proto));
    }
    APMPBSetArray(m, slot(kUserAttributes), protos);
    return metadata;
}

}  // namespace

APMRawEventMetadataInputs APMMeasurement::rawEventMetadataInputs(const std::vector<APMUserAttribute>& userAttributes) {
    APMRawEventMetadataInputs in;
    const auto identity = this->identity();
    if (identity) {
        in.appID = identity->appID();
        in.fromAppStore = identity->isFromAppStore();
        in.appVersion = identity->appVersion();
        if (auto fromVAZ = identity->appIDFromVAZ(); fromVAZ && !fromVAZ->empty()) in.configAppID = std::move(fromVAZ);
        in.installationID = identity->veredodaInstallationID();
        const bool expired = isSessionExpired();
        auto token = identity->sessionStitchingTokenWithSessionNumber(persistedConfig_->sessionNumber(), expired,
                                                                      hasUserPropertyUserIDOnWorkerQueue());
        if (token && !token->empty()) in.sessionStitchingToken = std::move(token);
        in.appVersionMajor = identity->appVersionMajor();
        in.appVersionMinor = identity->appVersionMinor();
        in.appVersionRelease = identity->appVersionRelease();
    }
    const auto config = configuration();
    in.consentSignals = APMConsentSettingsUtil::consentSignals();
    in.gateIDFAOnATTMAS = config->gateIDFAOnATTMASEnabled();
    in.consentIdentity = APMConsentIdentityOf(identity.get());
    in.consentDiagnostics = APMConsentSettingsUtil::consentDiagnostics();
    in.adUserDataDenied = APMConsentSettingsUtil::isAdUserDataDenied();
    in.isDMARegion = config->isDMARegion();
    in.corePlatformServices = config->corePlatformServices();
    const APMEnvironmentInfo& environment = APMEnvironmentInfo::sharedInstance();
    in.deviceModel = environment.deviceModel();
    in.osVersion = environment.deviceOSVersion();
    in.timeZoneOffsetMinutes = environment.timeZoneOffsetMinutes();
    in.language = environment.userDefaultLanguage();

    in.userAttributes = userAttributes;
    const bool hasNPA = std::any_of(userAttributes.begin(), userAttributes.end(),
                                    [](const APMUserAttribute& attribute) { return attribute.name() == "_npa"; });
    if (!userAttributes.empty() && !hasNPA) {
        if (const auto database = this->database()) {
            auto stored = database->userAttributeWithName("_npa");
            if (stored.value) in.userAttributes.push_back(*stored.value);
        }
    }
    return in;
}

std::shared_ptr<APMPBMeasurementBundle> APMMeasurement::createRawEventMetadataWithUserAttributes(
    const std::vector<APMUserAttribute>& userAttributes) {
    return rawEventMetadataFromInputs(rawEventMetadataInputs(userAttributes));
}

bool APMMeasurement::writeEvent(const APMEvent& event, bool isPublicEvent, bool isRealtime) {
    return writeEvent(event, isPublicEvent, isRealtime, false);
}

bool APMMeasurement::writeEvent(const APMEvent& event, bool, bool isRealtime, bool aggregatesRowFound) {
    const auto database = this->database();
    const auto& log = monitor();
    const std::string displayName = APMEventDisplayName(event.name());
    // A row found earlier in the same transaction is still there: nothing
    // between deletes aggregates rows.
    auto aggregates = aggregatesRowFound ? APMResult<APMEventAggregates>::none()
                                         : database->eventAggregatesWithName(event.name());
    if (!aggregates.value && aggregates.error) {
        log->log(1, 23063, "Cannot query event aggregates. Name, error", displayName, *aggregates.error);
        return false;
    }
    if (!aggregatesRowFound && !aggregates.value) {
        APMError error;
        if (!database->updateEventAggregates(APMEventAggregates(event.name(), 0, 0, 0, 0), &error)) {
            log->log(1, 23066, "Data loss. Cannot record event aggregates. Error", error);
            return false;
        }
    }
    const auto identity = this->identity();
    if (identity && identity->shouldSetLastAdvertisingIDResetUserProperty()) {
        setLastAdvertisingIDResetUserPropertyOnWorkerQueue();
    }
    auto attributes = database->userAttributesIncludingInternal(true);
    if (!attributes.value && attributes.error) {
        log->log(1, 23067, "Data loss. Cannot query user properties. Error", *attributes.error);
        return false;
    }
    APMRawEventMetadataInputs inputs =
        rawEventMetadataInputs(attributes.value.value_or(std::vector<APMUserAttribute>{}));
    inputs.linkageBits = seams_.metadataLinkageBits ? seams_.metadataLinkageBits() : linkageBits();

    auto info = APMPBOnDeviceMeasurementInfo::initWithBuffer({});
    bool hasODMValue = false;
    const bool readCohort = configuration()->ODM2SessionStartEnabled();
    // Most stores hold no value at all: one look spares the eight reads,
    // which would each find nothing. A failed look reads them one by one.
    const bool mayHoldValues = database->containsODMValues().value.value_or(true);
    for (const ODMRow& row : mayHoldValues ? std::span<const ODMRow>(kODMRows) : std::span<const ODMRow>()) {
        if (std::string_view(row.name) == "odm2_value_cohort" && !readCohort) continue;
        auto record = database->ODMValueWithName(row.name);
        if (!record.value) {
            if (record.error) log->log(row.level, row.code, row.text, *record.error);
            continue;
        }
        if (auto value = onDeviceMeasurementValueFromRecord(*record.value); value && info) {
            APMPBSetMessage(*info, row.tag - 1, value.get());
            hasODMValue = true;
        }
    }
    // Metadata with on-device values is made each time; without, it is made
    // again only when something it is made of changed.
    std::shared_ptr<const APMKeptRawEventMetadata> made = keptRawEventMetadata_;
    if (hasODMValue || !made || made->inputs != inputs) {
        auto metadata = rawEventMetadataFromInputs(inputs);
        if (!metadata) return false;
        if (hasODMValue) APMPBSetMessage(*metadata, slot(kOnDeviceMeasurementInfo), info.get());
        APMPBSetInt32(*metadata, slot(kLinkageBits), inputs.linkageBits);
        const bool hasResettableDeviceID = APMPBHasField(*metadata, slot(kResettableDeviceID));
        made = std::make_shared<const APMKeptRawEventMetadata>(
            APMKeptRawEventMetadata{std::move(inputs), APMEncodedMessage(*metadata), hasResettableDeviceID});
        if (!hasODMValue) keptRawEventMetadata_ = made;
    }

    if (made->hasResettableDeviceID) {
        if (persistedConfig_->unmatchedFirstOpenWithoutIDFA()) logFirstOpenConsentedEvent(event.timestamp());
    } else if (event.name() == "_f") {
        whenCommitted([this] { persistedConfig_->setUnmatchedFirstOpenWithoutIDFA(true); });
    }

    // The same bytes give the stored metadata and the fingerprint.
    const APMBytes& encodedMetadata = made->encoded;
    APMError error;
    std::int64_t fingerprint = 0;
    if (!database->insertIfNotExistsRawEventMetadata(encodedMetadata, &error, &fingerprint)) {
        log->log(1, 23068, "Data loss. Cannot record event metadata. Error", error);
        return false;
    }
    auto deleted = database->deleteRawEventsOverAbsoluteLimit();
    if (!deleted.value) {
        log->log(1, 23069, "Data loss. Unable to check raw event storage limit. Error",
                 deleted.error ? APMLogContext(*deleted.error) : APMLogContext("(null)"));
        return false;
    }
    if (*deleted.value != 0) log->log(4, 23070, "Data loss. Too many events stored on disk. Deleted count", *deleted.value);
    if (!database->insertRawEvent(event.name(), event.timestamp(), APMEncodedEvent(event), fingerprint, isRealtime,
                                  &error)) {
        log->log(1, 23071, "Data loss. Cannot record raw event. Error", error);
        return false;
    }
    for (const auto& [name, count] : event.diagnosticsCounts().allCounts()) {
        incrementOnWorkerQueueByCount(static_cast<std::int64_t>(count), "param_dropped_count", name);
    }
    if (event.name() == "_f") {
        const std::int64_t previous = std::max<std::int64_t>(persistedConfig_->previousFirstOpenCount(), 0);
        const std::int64_t next = previous == std::numeric_limits<std::int64_t>::max() ? previous : previous + 1;
        whenCommitted([this, next] { setPreviousFirstOpenCount(std::to_string(next)); });
    }
    if (log->isLoggable(7)) {
        log->log(7, 23072, "Event logged. Event name, event params", displayName, APMObjectDescription(event.parameters()));
    }
    return true;
}

void APMMeasurement::logFirstOpenConsentedEvent(double timestamp) {
    persistedConfig_->setUnmatchedFirstOpenWithoutIDFA(false);
    const APMParameters parameters = firstOpenConsentedEventParams();
    scheduler_->scheduleOnWorkerQueue("APMMeasurement:1153", [weak = weak_from_this(), timestamp, parameters] {
        auto self = weak.lock();
        if (!self) return;
        std::optional<APMEvent> event =
            APMEvent::initWithOrigin("auto", false, "_fx", timestamp, 0, APMObjectParametersFrom(parameters));
        if (!event) return;
        event->setRealtime(true);
        self->writeEventOnWorkerQueue(*event);
    });
}
