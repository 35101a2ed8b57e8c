#include "measurement/engine/APMBundleConsent.h"

#include <algorithm>
#include <set>

#include "measurement/engine/APMMeasurementEventSupport.h"
#include "measurement/engine/APMRemoteConfig.h"
#include "measurement/interface/APMIdentity.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"

namespace {

enum BundleTag : int {
    kUserAttributes = 3,
    kOSVersion = 9,
    kDeviceModel = 10,
    kResettableDeviceID = 19,
    kLimitedAdTracking = 20,
    kAppInstanceID = 21,
    kVendorID = 27,
    kAudienceResults = 29,
    kConsentSignals = 52,
    kTrackingAuthorizationStatus = 53,
    kSessionStitchingToken = 63,
    kRedactedFields = 64,
    kEphemeralAppInstanceID = 65,
    kConsentDiagnostics = 71,
    kDMARegion = 72,
    kCorePlatformServices = 73,
};

int slot(int tag) { return APMBundleSlotForTag(tag); }

bool isDeniedCharacter(char c) { return c == '0' || c == 'D' || c == 'd'; }

struct StorageDenial {
    bool ad = false;
    bool analytics = false;
};

// Signals shorter than four characters deny nothing.
StorageDenial denialFromSignals(const std::optional<std::string>& signals) {
    if (!signals || signals->size() < 4) return {};
    return {isDeniedCharacter((*signals)[2]), isDeniedCharacter((*signals)[3])};
}

void setStringIfUnset(APMPBMeasurementBundle& bundle, int tag, const std::string& value) {
    if (!APMPBHasField(bundle, slot(tag))) APMPBSetString(bundle, slot(tag), value);
}

}  // namespace

APMConsentIdentity APMConsentIdentityOf(APMIdentity* identity) {
    APMConsentIdentity read;
    if (!identity) return read;
    // One refresh for all of them: values from one moment, at the cost of one.
    APMIdentity::Identifiers identifiers = identity->refreshedIdentifiers();
    read.present = true;
    read.iOS14OrAbove = identity->iOS14OrAbove();
    if (read.iOS14OrAbove) read.trackingStatus = identifiers.appleConsentStatus;
    read.hasLimitedAdTracking = identifiers.hasLimitedAdTracking;
    if (read.hasLimitedAdTracking) read.limitedAdTracking = identifiers.limitedAdTracking;
    read.resettableDeviceID = std::move(identifiers.resettableDeviceID);
    read.vendorID = identity->identifierForVendor();
    read.appInstanceID = std::move(identifiers.appInstanceID);
    return read;
}

void applyConsentIdentifiersToBundle(APMPBMeasurementBundle& bundle, const std::string& consentSignals,
                                     bool gateIDFAOnATTMAS, APMIdentity* identity, bool overwrite) {
    applyConsentIdentifiersToBundle(bundle, consentSignals, gateIDFAOnATTMAS, APMConsentIdentityOf(identity), overwrite);
}

void applyConsentIdentifiersToBundle(APMPBMeasurementBundle& bundle, const std::string& consentSignals,
                                     bool gateIDFAOnATTMAS, const APMConsentIdentity& identity, bool overwrite) {
    StorageDenial denied;
    if (consentSignals.size() < 4) {
        if (consentSignals.empty()) APMPBClearField(bundle, slot(kConsentSignals));
    } else if (overwrite || !APMPBHasField(bundle, slot(kConsentSignals))) {
        APMPBSetString(bundle, slot(kConsentSignals), consentSignals);
        denied = denialFromSignals(consentSignals);
    } else {
        denied = denialFromSignals(APMPBGetString(bundle, slot(kConsentSignals)));
    }

    bool identifiersAllowed = true;
    if (identity.present && identity.iOS14OrAbove) {
        const std::int64_t status = identity.trackingStatus;
        if (status != APMIdentity::StatusUnavailable) {
            APMPBSetInt32(bundle, slot(kTrackingAuthorizationStatus), static_cast<std::int32_t>(status));
        }
        identifiersAllowed = status == APMIdentity::StatusAuthorized || !gateIDFAOnATTMAS;
    }

    const bool knowsLimitedAdTracking = identity.present && identity.hasLimitedAdTracking;
    const std::optional<std::string>& deviceID = identity.resettableDeviceID;
    const std::optional<std::string>& vendorID = identity.vendorID;
    const bool useDeviceID = knowsLimitedAdTracking && deviceID && identifiersAllowed && !denied.ad;
    if (useDeviceID) {
        setStringIfUnset(bundle, kResettableDeviceID, *deviceID);
        APMPBClearField(bundle, slot(kVendorID));
    } else if (!vendorID || denied.analytics) {
        APMPBClearField(bundle, slot(kResettableDeviceID));
        APMPBClearField(bundle, slot(kVendorID));
    } else {
        setStringIfUnset(bundle, kVendorID, *vendorID);
        APMPBClearField(bundle, slot(kResettableDeviceID));
    }

    if (!denied.analytics && identity.present) {
        const std::optional<std::string>& appInstanceID = identity.appInstanceID;
        if (appInstanceID && !appInstanceID->empty()) setStringIfUnset(bundle, kAppInstanceID, *appInstanceID);
    }
    if (denied.ad) APMPBClearField(bundle, slot(kResettableDeviceID));
    if (denied.analytics) {
        for (int tag : {kVendorID, kAppInstanceID, kSessionStitchingToken, kAudienceResults}) {
            APMPBClearField(bundle, slot(tag));
        }
    }
    if (knowsLimitedAdTracking) APMPBSetBool(bundle, slot(kLimitedAdTracking), identity.limitedAdTracking);
}

void applyConsentFieldsToBundle(APMPBMeasurementBundle& bundle, const std::string& consentDiagnostics,
                                bool adUserDataDenied, const std::shared_ptr<APMPBUserAttribute>& npaAttribute,
                                const APMRemoteConfig* remoteConfig, bool overwrite) {
    applyConsentFieldsToBundle(bundle, consentDiagnostics, adUserDataDenied, npaAttribute,
                               remoteConfig ? remoteConfig->isDMARegion() : false,
                               remoteConfig ? remoteConfig->corePlatformServices() : std::set<std::string>{},
                               overwrite);
}

void applyConsentFieldsToBundle(APMPBMeasurementBundle& bundle, const std::string& consentDiagnostics,
                                bool adUserDataDenied, const std::shared_ptr<APMPBUserAttribute>& npaAttribute,
                                bool isDMARegion, const std::set<std::string>& services, bool overwrite) {
    if (overwrite || !APMPBHasField(bundle, slot(kConsentDiagnostics))) {
        APMPBSetString(bundle, slot(kConsentDiagnostics), consentDiagnostics);
    }
    if (overwrite || !APMPBHasField(bundle, slot(kDMARegion))) APMPBSetBool(bundle, slot(kDMARegion), isDMARegion);
    if (overwrite || !APMPBHasField(bundle, slot(kCorePlatformServices))) {
        // A std::set is already in ascending order.
        if (adUserDataDenied || services.empty()) {
            APMPBSetString(bundle, slot(kCorePlatformServices), "-");
        } else if (!isDMARegion) {
            APMPBClearField(bundle, slot(kCorePlatformServices));
        } else if (APMPBGetBool(bundle, slot(kDMARegion))) {
            std::string joined;
            for (const std::string& service : services) joined += service;
            APMPBSetString(bundle, slot(kCorePlatformServices), joined);
        }
    }
    if (!npaAttribute) return;
    auto attributes = APMPBGetMessages<APMPBUserAttribute>(bundle, slot(kUserAttributes));
    auto existing = std::find_if(attributes.begin(), attributes.end(), [](const auto& attribute) {
        return attribute && APMPBGetString(*attribute, UserAttributeSlot::Name) == "_npa";
    });
    if (existing == attributes.end()) {
        attributes.push_back(npaAttribute);
    } else if (overwrite) {
        *existing = npaAttribute;
    } else {
        return;
    }
    APMPBSetArray(bundle, slot(kUserAttributes), APMPBArrayOfMessages(attributes));
}

bool bundleHasFirstOpenEvent(const APMPBMeasurementBundle* bundle) {
    if (!bundle) return false;
    for (const auto& event : APMPBGetMessages<APMPBEvent>(*bundle, MeasurementBundleSlot::Events)) {
        if (event && APMPBGetString(*event, EventSlot::Name) == "_f") return true;
    }
    return false;
}

bool bundlesHaveSameConsentMetadata(const APMPBMeasurementBundle* first, const APMPBMeasurementBundle* second) {
    if (!first || !second) return false;
    for (int tag : {kConsentSignals, kConsentDiagnostics, kCorePlatformServices}) {
        if (APMPBGetString(*first, slot(tag)) != APMPBGetString(*second, slot(tag))) return false;
    }
    if (APMPBGetBool(*first, slot(kDMARegion)) != APMPBGetBool(*second, slot(kDMARegion))) return false;
    const auto firstNPA = npaUserAttributeOfBundle(*first);
    const auto secondNPA = npaUserAttributeOfBundle(*second);
    if (!firstNPA || !secondNPA) return !firstNPA && !secondNPA;
    return APMPBGetInt64(*firstNPA, UserAttributeSlot::IntValue) == APMPBGetInt64(*secondNPA, UserAttributeSlot::IntValue);
}

std::shared_ptr<APMPBUserAttribute> npaUserAttributeOfBundle(const APMPBMeasurementBundle& bundle) {
    for (auto& attribute : APMPBGetMessages<APMPBUserAttribute>(bundle, slot(kUserAttributes))) {
        if (attribute && APMPBGetString(*attribute, UserAttributeSlot::Name) == "_npa") return attribute;
    }
    return nullptr;
}

void redactBundleFields(APMPBMeasurementBundle& bundle, const std::vector<std::string>& redactionNames,
                        APMIdentity* identity) {
    const auto named = [&](const char* name) {
        return std::find(redactionNames.begin(), redactionNames.end(), name) != redactionNames.end();
    };
    if (named("app_instance_id")) {
        APMPBClearField(bundle, slot(kAppInstanceID));
        if (!denialFromSignals(APMPBGetString(bundle, slot(kConsentSignals))).analytics && identity) {
            APMPBSetString(bundle, slot(kEphemeralAppInstanceID), identity->ephemeralAppInstanceID());
        } else {
            APMPBClearField(bundle, slot(kEphemeralAppInstanceID));
        }
    }
    if (named("user_id")) {
        auto attributes = APMPBGetMessages<APMPBUserAttribute>(bundle, slot(kUserAttributes));
        std::erase_if(attributes, [](const auto& attribute) {
            return attribute && APMPBGetString(*attribute, UserAttributeSlot::Name) == "_id";
        });
        APMPBSetArray(bundle, slot(kUserAttributes), APMPBArrayOfMessages(attributes));
    }
    if (named("os_version") || named("device_info")) {
        if (auto version = APMPBGetString(bundle, slot(kOSVersion))) {
            APMPBSetString(bundle, slot(kOSVersion), version->substr(0, version->find('.')));
        }
    }
    if (named("device_model") || named("device_info")) APMPBClearField(bundle, slot(kDeviceModel));
    if (named("enhanced_user_id")) APMPBClearField(bundle, slot(kSessionStitchingToken));
    if (!redactionNames.empty()) {
        APMPBArray names(redactionNames.begin(), redactionNames.end());
        APMPBSetArray(bundle, slot(kRedactedFields), names);
    }
}
