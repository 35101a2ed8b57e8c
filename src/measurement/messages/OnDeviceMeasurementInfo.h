#pragma once
// The bundle's on-device measurement values (OnDeviceMeasurementInfo) and
// linkage bits, as the raw-event metadata carries them.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "measurement/messages/APMPBMessages.h"
#include "measurement/storage/APMError.h"

// One stored on-device measurement value; either part may be missing.
struct APMODMStoredValue {
    std::optional<double> setTimestamp;  // seconds since 1970
    std::optional<std::string> value;
};

// Reads the stored value of a name: the value, nothing when none is stored,
// or an error when the store failed.
using APMODMValueReader = std::function<APMResult<APMODMStoredValue>(const std::string& name)>;

// A value message only for a stored value with both a set time and a value;
// the time becomes milliseconds (truncated, saturating).
std::shared_ptr<APMPBOnDeviceMeasurementValue> APMPBOnDeviceMeasurementValueFromRecord(
    const APMODMStoredValue& record);

// Reads the eight stored values ("odm2_value_cohort" only when
// `readODM2ValueCohort`) and sets field 84 of the bundle to those that are
// complete; leaves field 84 as it was when none is. A failed read is logged
// with its own code and that value is left out.
void APMSetOnDeviceMeasurementInfo(APMPBMeasurementBundle& bundle, const APMODMValueReader& reader,
                                   bool readODM2ValueCohort);

struct APMLinkage {
    bool hasAppDataConsentStatus = false;               // bit 0
    bool privateSetMembershipClientLinked = false;      // bit 1
    bool alphaAdsOnDeviceConversionLinked = false;      // bit 2
    bool vadovaAdsOnDeviceConversionLinked = false;     // bit 3
};

std::int32_t APMLinkageBits(const APMLinkage& linkage);
// Sets field 87 of the bundle.
void APMSetLinkageBits(APMPBMeasurementBundle& bundle, const APMLinkage& linkage);
