#pragma once
// The consent-dependent identifiers and consent fields of a bundle's
// metadata, set when an event is written and again at upload; the
// comparison that keeps one upload batch to one consent state; and the
// removal of redacted fields at upload.

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "measurement/messages/APMPBMessages.h"

class APMIdentity;
class APMRemoteConfig;

// What the consent rules read of the identity, read at once, so that the
// same values give the same fields again. `present` is false without an
// identity.
struct APMConsentIdentity {
    bool present = false;
    bool iOS14OrAbove = false;
    std::int64_t trackingStatus = 0;  // read when iOS14OrAbove
    bool hasLimitedAdTracking = false;
    bool limitedAdTracking = false;  // read when hasLimitedAdTracking
    std::optional<std::string> resettableDeviceID;
    std::optional<std::string> vendorID;
    std::optional<std::string> appInstanceID;
    bool operator==(const APMConsentIdentity&) const = default;
};
APMConsentIdentity APMConsentIdentityOf(APMIdentity* identity);

// Fields 52, 53, 19, 27, 21, 20, 29 and 63 from the consent signals and the
// identity; with `overwrite` false, a stored signals field is kept and read.
void applyConsentIdentifiersToBundle(APMPBMeasurementBundle& bundle, const std::string& consentSignals,
                                     bool gateIDFAOnATTMAS, const APMConsentIdentity& identity, bool overwrite);
void applyConsentIdentifiersToBundle(APMPBMeasurementBundle& bundle, const std::string& consentSignals,
                                     bool gateIDFAOnATTMAS, APMIdentity* identity, bool overwrite);
// Fields 71, 72, 73 and the "_npa" user attribute, from the remote
// configuration's region and core platform services.
void applyConsentFieldsToBundle(APMPBMeasurementBundle& bundle, const std::string& consentDiagnostics,
                                bool adUserDataDenied, const std::shared_ptr<APMPBUserAttribute>& npaAttribute,
                                bool isDMARegion, const std::set<std::string>& corePlatformServices, bool overwrite);
void applyConsentFieldsToBundle(APMPBMeasurementBundle& bundle, const std::string& consentDiagnostics,
                                bool adUserDataDenied, const std::shared_ptr<APMPBUserAttribute>& npaAttribute,
                                const APMRemoteConfig* remoteConfig, bool overwrite);
// True when some event of the bundle is the first open ("_f").
bool bundleHasFirstOpenEvent(const APMPBMeasurementBundle* bundle);
// False when either is missing; else whether fields 52, 71, 72, 73 and the
// "_npa" values agree.
bool bundlesHaveSameConsentMetadata(const APMPBMeasurementBundle* first, const APMPBMeasurementBundle* second);
// The first user attribute named "_npa", or none.
std::shared_ptr<APMPBUserAttribute> npaUserAttributeOfBundle(const APMPBMeasurementBundle& bundle);
// Removes what the data controls name ("app_instance_id", "user_id",
// "os_version", "device_info", "device_model", "enhanced_user_id").
void redactBundleFields(APMPBMeasurementBundle& bundle, const std::vector<std::string>& redactionNames,
                        APMIdentity* identity);
