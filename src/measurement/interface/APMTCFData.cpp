#include "measurement/interface/APMTCFData.h"

#include "VadovaUtilities/VULMainBundle.h"
#include "measurement/interface/APMTCFRegistration.h"
#include "measurement/storage/APMStringAdditions.h"
#include "measurement/storage/APMUserDefaults.h"

namespace {

constexpr int kVendorBitIndex = kAPMTCFVendorID - 1;

bool isBitEnabled(const std::optional<std::string>& bits, long long index) {
    return bits && APMIsBitEnabledAtIndex(*bits, index);
}

}  // namespace

std::optional<long long> APMTCFIntegerOf(const std::optional<platform::PropertyValue>& number) {
    if (!number) return std::nullopt;
    if (auto flag = number->asBoolean()) return *flag ? 1 : 0;
    if (auto integer = number->asInteger()) return *integer;
    return std::nullopt;
}

bool APMTCFBooleanOf(const std::optional<platform::PropertyValue>& number) {
    if (!number) return false;
    if (auto flag = number->asBoolean()) return *flag;
    return number->asReal().value_or(0) != 0;
}

APMTCFData APMTCFDataGenerator::generateData() const { return APMTCFData(*this); }

APMTCFData::APMTCFData() { values_.isTCFDataEnabled = readTCFDataEnabledStateFromPlist(); }

bool APMTCFData::readTCFDataEnabledStateFromPlist() {
    auto value = VULMainBundle::objectForInfoDictionaryKey("VADOVA_ANALYTICS_TCF_DATA_ENABLED");
    if (!value) return true;
    if (!value->isBoolean() && !value->isNumber()) return false;
    return APMTCFBooleanOf(value);
}

void APMTCFData::readFromUserDefaults(const APMUserDefaults& defaults) {
    values_.isAdvertiserConsentModeEnabled = defaults.numberForKey("IABTCF_EnableAdvertiserConsentMode");
    values_.vendorConsents = defaults.stringForKey("IABTCF_VendorConsents");
    values_.vendorLegitimateInterests = defaults.stringForKey("IABTCF_VendorLegitimateInterests");
    values_.cmpSDKID = defaults.numberForKey("IABTCF_CmpSdkID");
    values_.gdprApplies = defaults.numberForKey("IABTCF_gdprApplies");
    values_.policyVersion = defaults.numberForKey("IABTCF_PolicyVersion");
    values_.purposeConsents = defaults.stringForKey("IABTCF_PurposeConsents");
    values_.purposeLegitimateInterests = defaults.stringForKey("IABTCF_PurposeLegitimateInterests");
    for (int purpose = 1; purpose <= kAPMTCFPublisherRestrictionCount; ++purpose) {
        auto restrictions = defaults.stringForKey("IABTCF_PublisherRestrictions" + std::to_string(purpose));
        std::string& ours = values_.publisherRestrictions[static_cast<std::size_t>(purpose - 1)];
        ours = (restrictions && restrictions->size() > kVendorBitIndex) ? restrictions->substr(kVendorBitIndex, 1) : "";
    }
    values_.isPurposeOneTreatmentEnabled = defaults.numberForKey("IABTCF_PurposeOneTreatment");
    values_.publisherCC = defaults.stringForKey("IABTCF_PublisherCC");
}

bool APMTCFData::hasVadovaInVendorConsents() const { return isBitEnabled(values_.vendorConsents, kVendorBitIndex); }

bool APMTCFData::hasVadovaInVendorLegitimateInterests() const {
    return isBitEnabled(values_.vendorLegitimateInterests, kVendorBitIndex);
}

bool APMTCFData::canAccessAdUserDataPurpose() const {
    auto version = APMTCFIntegerOf(values_.policyVersion);
    return version && *version >= 4;
}

bool APMTCFData::isPurposeOneGrantedWithSpecialTreatment() const {
    return APMTCFBooleanOf(values_.isPurposeOneTreatmentEnabled) && values_.publisherCC == "CH" &&
           hasVadovaInVendorConsents();
}

APMTCFPublisherRestriction APMTCFData::publisherRestrictionTypeFromString(const std::string& text) {
    if (text == "0") return APMTCFPublisherRestriction::NotAllowed;
    if (text == "1") return APMTCFPublisherRestriction::RequireConsent;
    if (text == "2") return APMTCFPublisherRestriction::RequireLegitimateInterest;
    return APMTCFPublisherRestriction::None;
}

APMTCFPublisherRestriction APMTCFData::publisherRestrictionForPurposeID(int purposeID) const {
    if (purposeID < 1 || purposeID > kAPMTCFPublisherRestrictionCount) return APMTCFPublisherRestriction::None;
    return publisherRestrictionTypeFromString(values_.publisherRestrictions[static_cast<std::size_t>(purposeID - 1)]);
}

APMTCFLegalBasis APMTCFData::legalBasisCheckFromPurposeID(int purposeID) const {
    const APMTCFRegistration& registration = APMTCFRegistration::sharedInstance();
    const APMTCFPublisherRestriction restriction = publisherRestrictionForPurposeID(purposeID);
    const bool flexible = registration.hasFlexibleLegitimateInterestForPurposeID(purposeID);
    if (restriction == APMTCFPublisherRestriction::NotAllowed) return APMTCFLegalBasis::None;
    if (registration.hasConsentForPurposeID(purposeID)) {
        if (restriction != APMTCFPublisherRestriction::RequireLegitimateInterest) return APMTCFLegalBasis::Consent;
        return flexible ? APMTCFLegalBasis::LegitimateInterest : APMTCFLegalBasis::RestrictionConflict;
    }
    if (registration.hasLegitimateInterestForPurposeID(purposeID)) {
        if (restriction != APMTCFPublisherRestriction::RequireConsent) return APMTCFLegalBasis::LegitimateInterest;
        return flexible ? APMTCFLegalBasis::Consent : APMTCFLegalBasis::RestrictionConflict;
    }
    return APMTCFLegalBasis::None;
}

int APMTCFData::consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(int purposeID) const {
    const long long index = static_cast<long long>(purposeID) - 1;
    switch (legalBasisCheckFromPurposeID(purposeID)) {
        case APMTCFLegalBasis::LegitimateInterest:
            if (!hasVadovaInVendorLegitimateInterests()) return ReasonNoVendorLegitimateInterest;
            return isBitEnabled(values_.purposeLegitimateInterests, index) ? ReasonGranted
                                                                           : ReasonNoPurposeLegitimateInterest;
        case APMTCFLegalBasis::Consent:
            if (purposeID == 1 && isPurposeOneGrantedWithSpecialTreatment()) return ReasonGranted;
            if (!hasVadovaInVendorConsents()) return ReasonNoVendorConsent;
            return isBitEnabled(values_.purposeConsents, index) ? ReasonGranted : ReasonNoPurposeConsent;
        case APMTCFLegalBasis::RestrictionConflict:
            return ReasonRestrictionConflict;
        case APMTCFLegalBasis::None:
            break;
    }
    return ReasonNoLegalBasis;
}

bool APMTCFData::isPurposeGrantedWithRestrictionCheckForPurposeID(int purposeID) const {
    return consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(purposeID) == ReasonGranted;
}

bool APMTCFData::isAdStoragePurposeGranted() const { return isPurposeGrantedWithRestrictionCheckForPurposeID(1); }

bool APMTCFData::isAdPersonalizationPurposeGranted() const {
    return isPurposeGrantedWithRestrictionCheckForPurposeID(3) && isPurposeGrantedWithRestrictionCheckForPurposeID(4);
}

bool APMTCFData::isAdUserDataPurposeGranted() const {
    return canAccessAdUserDataPurpose() && isPurposeGrantedWithRestrictionCheckForPurposeID(1) &&
           isPurposeGrantedWithRestrictionCheckForPurposeID(7);
}

APMConsentSettings APMTCFData::consent() const {
    auto status = [](bool granted) { return platform::PropertyValue(granted ? kAPMConsentStatusGranted : kAPMConsentStatusDenied); };
    return APMConsentSettings{
        {kAPMConsentTypeAdStorage, status(isAdStoragePurposeGranted())},
        {kAPMConsentTypeAdPersonalization, status(isAdPersonalizationPurposeGranted())},
        {kAPMConsentTypeAdUserData, status(isAdUserDataPurposeGranted())},
    };
}
