#pragma once
// The consent-dependent identifiers and consent fields of a bundle's
// metadata, set when an event is written and again at upload; the
// comparison that keeps one upload batch to one consent state; and the
// removal of redacted fields at upload.

#include <memory>
#include <string>
#include <vector>

#include "measurement/messages/APMPBMessages.h"

class APMIdentity;
class APMRemoteConfig;

// Fields 52, 53, 19, 27, 21, 20, 29 and 63 from the consent signals and the
// identity; with `overwrite` false, a stored signals field is kept and read.
void applyConsentIdentifiersToBundle(APMPBMeasurementBundle& bundle, const std::string& consentSignals,
                                     bool gateIDFAOnATTMAS, APMIdentity* identity, bool overwrite);
// Fields 71, 72, 73 and the "_npa" user attribute.
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
