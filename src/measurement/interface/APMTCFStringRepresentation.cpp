#include "measurement/interface/APMTCFStringRepresentation.h"

#include <charconv>

#include "measurement/interface/APMTCFData.h"

namespace {

// A number as its plain decimal text: "1", "1.5".
std::string plainDecimal(const platform::PropertyValue& number) {
    if (auto flag = number.asBoolean()) return *flag ? "1" : "0";
    if (number.kind() == platform::PropertyValue::Kind::Integer) return std::to_string(*number.asInteger());
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, number.asReal().value_or(0));
    return std::string(buffer, result.ptr);
}

std::string flag(bool value) { return value ? "1" : "0"; }

std::string integerText(const std::optional<platform::PropertyValue>& number) {
    return std::to_string(static_cast<int>(APMTCFIntegerOf(number).value_or(0)));
}

}  // namespace

std::string APMTCFStringRepresentation(const APMTCFData& data) {
    const APMTCFDataGenerator& values = data.values();
    std::string text = std::string(kAPMTCFRepresentationVersionItem) + ",isTCFDataEnabled=" + flag(values.isTCFDataEnabled);
    auto add = [&text](const std::string& item) { text += "," + item; };
    if (values.isAdvertiserConsentModeEnabled)
        add("isAdvertiserConsentModeEnabled=" + flag(APMTCFBooleanOf(values.isAdvertiserConsentModeEnabled)));
    if (values.cmpSDKID) add("cmpSDKID=" + integerText(values.cmpSDKID));
    if (values.vendorConsents) add("hasVadovaInVendorConsents=" + flag(data.hasVadovaInVendorConsents()));
    if (values.vendorLegitimateInterests)
        add("hasVadovaInVendorLegitimateInterests=" + flag(data.hasVadovaInVendorLegitimateInterests()));
    if (values.gdprApplies) add("gdprApplies=" + flag(APMTCFBooleanOf(values.gdprApplies)));
    if (values.policyVersion) add("policyVersion=" + integerText(values.policyVersion));
    if (values.purposeConsents) add("purposeConsents=" + *values.purposeConsents);
    if (values.purposeLegitimateInterests) add("purposeLegitimateInterests=" + *values.purposeLegitimateInterests);
    bool anyRestriction = false;
    std::string restrictions;
    for (std::size_t index = 0; index < values.publisherRestrictions.size(); ++index) {
        if (index > 0) restrictions += "|";
        restrictions += values.publisherRestrictions[index];
        anyRestriction = anyRestriction || !values.publisherRestrictions[index].empty();
    }
    if (anyRestriction) add("publisherRestrictions=" + restrictions);
    if (values.isPurposeOneTreatmentEnabled)
        add("isPurposeOneTreatmentEnabled=" + plainDecimal(*values.isPurposeOneTreatmentEnabled));
    if (values.publisherCC) add("publisherCC=" + *values.publisherCC);
    return text;
}
