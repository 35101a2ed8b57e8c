#include "measurement/engine/APMBundleConsent.h"

void applyConsentIdentifiersToBundle(APMPBMeasurementBundle&, const std::string&, bool, APMIdentity*, bool) {}
void applyConsentFieldsToBundle(APMPBMeasurementBundle&, const std::string&, bool,
                                const std::shared_ptr<APMPBUserAttribute>&, const APMRemoteConfig*, bool) {}
bool bundleHasFirstOpenEvent(const APMPBMeasurementBundle*) { return false; }
bool bundlesHaveSameConsentMetadata(const APMPBMeasurementBundle*, const APMPBMeasurementBundle*) { return false; }
std::shared_ptr<APMPBUserAttribute> npaUserAttributeOfBundle(const APMPBMeasurementBundle&) { return nullptr; }
void redactBundleFields(APMPBMeasurementBundle&, const std::vector<std::string>&, APMIdentity*) {}
