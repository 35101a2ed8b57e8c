#include "measurement/messages/OnDeviceMeasurementInfo.h"

#include <array>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMSaturatingConversion.h"

namespace {

// One stored value: its name, the message slot it fills and how a failed
// read is logged.
struct StoredValueSlot {
    const char* name;
    int slot;
    long failureCode;
    int failureLevel;
    const char* failureMessage;
};

// In reading order.
constexpr std::array<StoredValueSlot, 8> kStoredValueSlots{{
    {"odm1_value", 0, 23287, 4, "Failed to query ODM value. Error"},
    {"odm1_session_value", 1, 23288, 4, "Failed to query ODM session value. Error"},
    {"odm2_value_cohort", 5, 23319, 4, "Failed to query new ODM2 value. Error"},
    {"odm2_value", 2, 23291, 4, "Failed to query ODM2 value. Error"},
    {"odm1_group_id", 4, 23302, 4, "Failed to query ODM group ID. Error"},
    {"odm2_group_id", 6, 23327, 5, "Failed to query ODM2 group ID. Error"},
    {"odf_app_installation_id", 7, 23325, 2, "Failed to query features app installation info. Error"},
    {"odf_matching_id", 8, 23326, 2, "Failed to query features matching info. Error"},
}};

constexpr const char* kODM2ValueCohort = "odm2_value_cohort";

}  // namespace

std::shared_ptr<APMPBOnDeviceMeasurementValue> APMPBOnDeviceMeasurementValueFromRecord(
    const APMODMStoredValue& record) {
    if (!record.setTimestamp || !record.value) {
        return nullptr;
    }
    auto message = APMPBOnDeviceMeasurementValue::initWithMessageInfo(nullptr);
    APMPBSetInt64(*message, OnDeviceMeasurementValueSlot::SetTimestamp,
                  apm_millisecondsFromSeconds(*record.setTimestamp));
    APMPBSetString(*message, OnDeviceMeasurementValueSlot::Value, *record.value);
    return message;
}

void APMSetOnDeviceMeasurementInfo(APMPBMeasurementBundle& bundle, const APMODMValueReader& reader,
                                   bool readODM2ValueCohort) {
    auto info = APMPBOnDeviceMeasurementInfo::initWithMessageInfo(nullptr);
    bool anySet = false;
    for (const StoredValueSlot& stored : kStoredValueSlots) {
        if (!readODM2ValueCohort && std::string_view(stored.name) == kODM2ValueCohort) {
            continue;
        }
        APMResult<APMODMStoredValue> read = reader(stored.name);
        if (!read.hasValue()) {
            if (read.failed()) {
                APMMonitor::shared()->log(stored.failureLevel, stored.failureCode, stored.failureMessage, *read.error);
            }
            continue;
        }
        if (auto value = APMPBOnDeviceMeasurementValueFromRecord(*read.value)) {
            APMPBSetMessage(*info, stored.slot, value.get());
            anySet = true;
        }
    }
    if (anySet) {
        APMPBSetMessage(bundle, MeasurementBundleSlot::OnDeviceMeasurementInfo, info.get());
    }
}

std::int32_t APMLinkageBits(const APMLinkage& linkage) {
    return (linkage.hasAppDataConsentStatus ? 1 : 0) | (linkage.privateSetMembershipClientLinked ? 2 : 0) |
           (linkage.alphaAdsOnDeviceConversionLinked ? 4 : 0) | (linkage.vadovaAdsOnDeviceConversionLinked ? 8 : 0);
}

void APMSetLinkageBits(APMPBMeasurementBundle& bundle, const APMLinkage& linkage) {
    APMPBSetInt32(bundle, MeasurementBundleSlot::LinkageBits, APMLinkageBits(linkage));
}
