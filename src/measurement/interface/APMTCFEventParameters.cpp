#include "measurement/interface/APMTCFEventParameters.h"

#include <string_view>

#include "measurement/interface/APMTCFData.h"

namespace {

constexpr std::string_view kAlphabet = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-_";

char alphabetCharacter(long long index) { return kAlphabet[static_cast<std::size_t>(index)]; }

}  // namespace

std::string APMTCFBundleParameterValue(const APMTCFData& data, bool isDMARegion) {
    const APMTCFDataGenerator& values = data.values();
    std::string text = "1";
    const long long cmpSDKID = APMTCFIntegerOf(values.cmpSDKID).value_or(0);
    if (cmpSDKID >= 0 && cmpSDKID < 4096) {
        text += alphabetCharacter((cmpSDKID >> 6) & 63);
        text += alphabetCharacter(cmpSDKID & 63);
    } else {
        text += "00";
    }
    const long long policyVersion = APMTCFIntegerOf(values.policyVersion).value_or(0);
    text += (policyVersion >= 0 && policyVersion < 64) ? alphabetCharacter(policyVersion) : '0';
    const long long flags = (isDMARegion ? 1 : 0) + (APMTCFBooleanOf(values.gdprApplies) ? 2 : 0) +
                            (values.isTCFDataEnabled ? 4 : 0) +
                            (APMTCFBooleanOf(values.isAdvertiserConsentModeEnabled) ? 8 : 0);
    text += alphabetCharacter(flags);
    return text;
}

std::string APMTCFD2ParamValue(const APMTCFData& data) {
    std::string text = "2";
    for (int purpose : {1, 3, 4, 7}) {
        text += std::to_string(data.consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(purpose));
    }
    return text;
}

std::string APMTCFDMigrationParamValue(bool migrationDidOccur, bool didMigrationChangeConsent) {
    return std::string(migrationDidOccur ? "1" : "0") + (didMigrationChangeConsent ? "1" : "0");
}
