// The fields a bundle carries about itself (previous bundle times, indexes,
// experiments, monitoring data, configuration version, app ID, its own start
// and end) and the engagement-time user properties "_lte" and "_se".

#include "VadovaUtilities/VULMainBundle.h"
#include "measurement/engine/APMEngineWiring.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMMeasurementEventSupport.h"
#include "measurement/interface/APMIdentity.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMSaturatingConversion.h"
#include "measurement/storage/APMScheduler.h"

namespace {

enum BundleTag : int {
    kEvents = 2,
    kUserAttributes = 3,
    kStartTimestamp = 5,
    kEndTimestamp = 6,
    kPreviousBundleEnd = 7,
    kAppID = 14,
    kBundleIndex = 23,
    kMonitoringData = 24,
    kPreviousBundleStart = 26,
    kConfigVersion = 35,
    kExperimentIDs = 45,
    kDeliveryIndex = 77,
};

int slot(int tag) { return APMBundleSlotForTag(tag); }

// Both indexes are kept within the 32-bit range by APMAppMetadata; a stored
// value outside it (a damaged row) is written as 0 rather than wrapped.
std::int32_t checkedIndex(std::int64_t index) {
    return index >= 0 && index <= INT32_MAX ? static_cast<std::int32_t>(index) : 0;
}

}  // namespace

bool APMMeasurement::updateAppMetadataForBundle(APMPBMeasurementBundle& bundle, double bundleStartTimestamp,
                                                double bundleEndTimestamp) {
    const auto database = this->database();
    if (!database) return false;
    auto stored = database->queryAppMetadata();
    if (!stored.value) {
        monitor()->log(1, 23111, "Unable to fetch app metadata for bundling events. Error",
                       stored.error ? APMLogContext(*stored.error) : APMLogContext("(null)"));
        return false;
    }
    APMAppMetadata metadata = *stored.value;
    if (metadata.lastBundleEndTimestamp > 0) {
        APMPBSetInt64(bundle, slot(kPreviousBundleEnd), apm_millisecondsFromSeconds(metadata.lastBundleEndTimestamp));
    }
    if (metadata.lastBundleStartTimestamp > 0) {
        APMPBSetInt64(bundle, slot(kPreviousBundleStart), apm_millisecondsFromSeconds(metadata.lastBundleStartTimestamp));
    } else if (metadata.lastBundleEndTimestamp > 0) {
        APMPBSetInt64(bundle, slot(kPreviousBundleStart), apm_millisecondsFromSeconds(metadata.lastBundleEndTimestamp));
    }
    const auto events = APMPBGetArray<APMPBEvent>(bundle, slot(kEvents));
    metadata.increaseLastBundleIndex(static_cast<std::int64_t>(events ? events->size() : 0));
    metadata.incrementLastDeliveryIndex();
    metadata.lastBundleStartTimestamp = bundleStartTimestamp;
    metadata.lastBundleEndTimestamp = bundleEndTimestamp;
    APMPBSetInt32(bundle, slot(kBundleIndex), checkedIndex(metadata.lastBundleIndex));
    APMPBSetInt32(bundle, slot(kDeliveryIndex), checkedIndex(metadata.lastDeliveryIndex));
    APMError error;
    if (!database->updateAppMetadata(metadata, &error)) {
        monitor()->log(1, 23112, "Unable to update the app metadata. Error", error);
        return false;
    }
    return true;
}

bool APMMeasurement::bundleHasAppID(const APMPBMeasurementBundle& bundle) {
    const std::optional<std::string> appID = APMPBGetString(bundle, slot(kAppID));
    return appID && !appID->empty();
}

std::optional<std::string> APMMeasurement::fallbackBundleAppID() const {
    const auto identity = this->identity();
    if (identity && identity->appID() && !identity->appID()->empty()) return identity->appID();
    if (auto value = VULMainBundle::objectForInfoDictionaryKey("CFBundleIdentifier")) {
        if (const std::string* text = value->asString(); text && !text->empty()) return *text;
    }
    return std::nullopt;
}

void APMMeasurement::addBundleMetadataIntoBundle(APMPBMeasurementBundle& bundle, double bundleStartTimestamp,
                                                 double bundleEndTimestamp) {
    const auto config = remoteConfigInstance();
    const std::vector<std::int64_t> experiments = configuration()->experimentIDs();
    if (!experiments.empty()) {
        APMPBArray ids;
        for (std::int64_t id : experiments) ids.emplace_back(APMPBNumber(id));
        APMPBSetArray(bundle, slot(kExperimentIDs), ids);
    }
    APMMonitor::MonitoringData monitoringData = monitor()->peekMonitoringData(
        configuration()->monitoringSamplePeriod(), persistedConfig_->lastMonitorDataSampledTimestamp());
    if (!monitoringData.text.empty()) {
        APMPBSetString(bundle, slot(kMonitoringData), monitoringData.text);
        // The samples leave the monitor only with a stored bundle.
        whenCommitted([this, counts = std::move(monitoringData.counts), sampled = now()] {
            monitor()->dropDispatchedSamples(counts);
            persistedConfig_->setLastMonitorDataSampledTimestamp(sampled);
        });
    }
    if (config && config->version() >= 0) APMPBSetInt64(bundle, slot(kConfigVersion), config->version());
    if (!bundleHasAppID(bundle)) {
        if (const std::optional<std::string> appID = fallbackBundleAppID()) APMPBSetString(bundle, slot(kAppID), *appID);
    }
    APMPBSetInt64(bundle, slot(kStartTimestamp), apm_millisecondsFromSeconds(bundleStartTimestamp));
    APMPBSetInt64(bundle, slot(kEndTimestamp), apm_millisecondsFromSeconds(bundleEndTimestamp));
}

bool APMMeasurement::updateUserEngagement(std::int64_t engagementTime, APMPBMeasurementBundle& bundle,
                                          bool sessionScoped) {
    (void)scheduler_->checkOnBackgroundThread("updateUserEngagement");
    const auto& log = monitor();
    if (engagementTime < 0) {
        log->log(2, 23186, "User engagement time is negative.");
        return false;
    }
    if (engagementTime == 0) return true;
    const auto database = this->database();
    if (!database) return false;
    const std::string name = sessionScoped ? "_se" : "_lte";
    auto stored = database->userAttributeWithName(name);
    if (!stored.value && stored.error) {
        log->log(1, 23187, "Failed to query for user engagement user property. Name, error", name, *stored.error);
        return false;
    }
    std::int64_t total = engagementTime;
    if (stored.value && stored.value->value().isInt64()) {
        const std::int64_t previous = stored.value->value().int64Value();
        // A stored total near the 64-bit limit stays at the limit.
        total = previous > INT64_MAX - engagementTime ? INT64_MAX : previous + engagementTime;
    }
    const double timestamp = now();
    const APMUserAttribute attribute("auto", name, APMValue(total), timestamp);
    if (!setUserPropertyInDatabaseOnWorkerQueue(attribute)) return false;

    auto attributes = APMPBGetMessages<APMPBUserAttribute>(bundle, slot(kUserAttributes));
    bool replaced = false;
    for (auto& entry : attributes) {
        if (!entry || APMPBGetString(*entry, UserAttributeSlot::Name) != name) continue;
        APMPBSetInt64(*entry, UserAttributeSlot::IntValue, total);
        APMPBSetInt64(*entry, UserAttributeSlot::SetTimestamp, apm_millisecondsFromSeconds(timestamp));
        replaced = true;
        break;
    }
    if (!replaced) {
        if (auto proto = protoUserAttribute(attribute)) attributes.push_back(std::move(proto));
    }
    APMPBSetArray(bundle, slot(kUserAttributes), APMPBArrayOfMessages(attributes));
    return true;
}
