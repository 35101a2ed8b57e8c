#include "measurement/interface/APMTCFClient.h"

#include <utility>

#include "measurement/interface/APMConsentFacade.h"
#include "measurement/interface/APMConsentSettingsStore.h"
#include "measurement/interface/APMTCFEventParameters.h"
#include "measurement/interface/APMTCFStringRepresentation.h"
#include "measurement/storage/APMUserDefaults.h"

namespace {

constexpr const char* kEnabledKey = "VADOVA_ANALYTICS_TCF_DATA_ENABLED";
constexpr const char* kRestrictionsKey = "IABTCF_PublisherRestrictions";
constexpr const char* kRepresentationKey = "tcf_StringRepresentation";

// The stored values, by key, as the reading holds them.
struct StoredField {
    const char* key;
    std::optional<platform::PropertyValue> APMTCFDataGenerator::*number;
    std::optional<std::string> APMTCFDataGenerator::*text;
};

constexpr StoredField kStoredFields[] = {
    {"IABTCF_EnableAdvertiserConsentMode", &APMTCFDataGenerator::isAdvertiserConsentModeEnabled, nullptr},
    {"IABTCF_CmpSdkID", &APMTCFDataGenerator::cmpSDKID, nullptr},
    {"IABTCF_VendorConsents", nullptr, &APMTCFDataGenerator::vendorConsents},
    {"IABTCF_VendorLegitimateInterests", nullptr, &APMTCFDataGenerator::vendorLegitimateInterests},
    {"IABTCF_gdprApplies", &APMTCFDataGenerator::gdprApplies, nullptr},
    {"IABTCF_PolicyVersion", &APMTCFDataGenerator::policyVersion, nullptr},
    {"IABTCF_PurposeConsents", nullptr, &APMTCFDataGenerator::purposeConsents},
    {"IABTCF_PurposeLegitimateInterests", nullptr, &APMTCFDataGenerator::purposeLegitimateInterests},
    {"IABTCF_PurposeOneTreatment", &APMTCFDataGenerator::isPurposeOneTreatmentEnabled, nullptr},
    {"IABTCF_PublisherCC", nullptr, &APMTCFDataGenerator::publisherCC},
};

}  // namespace

APMTCFClient::APMTCFClient(std::shared_ptr<APMUserDefaults> applicationDefaults, std::shared_ptr<APMUserDefaults> store,
                           std::shared_ptr<APMConsentSettingsStore> consent, std::shared_ptr<APMConsentFacade> facade)
    : applicationDefaults_(std::move(applicationDefaults)),
      store_(std::move(store)),
      consent_(std::move(consent)),
      facade_(std::move(facade)) {}

void APMTCFClient::readTCFData() {
    APMTCFData data;
    data.readFromUserDefaults(*applicationDefaults_);
    tcfData_ = std::move(data);
}

bool APMTCFClient::shouldApplyTCFData() const {
    const APMTCFDataGenerator& values = tcfData_.values();
    return values.isTCFDataEnabled && APMTCFBooleanOf(values.isAdvertiserConsentModeEnabled) &&
           APMTCFBooleanOf(values.gdprApplies);
}

bool APMTCFClient::shouldApplyOneTimeTCFVendorFix() const {
    auto stored = store_->stringForKey(kRepresentationKey);
    const bool storedInCurrentFormat = stored && stored->find(kAPMTCFRepresentationVersionItem) != std::string::npos;
    return !storedInCurrentFormat && shouldApplyTCFData() && !tcfData_.hasVadovaInVendorConsents();
}

bool APMTCFClient::hasTCFDataToRead() const {
    return APMTCFStringRepresentation(tcfData_) != std::string(kAPMTCFRepresentationVersionItem) + ",isTCFDataEnabled=1";
}

bool APMTCFClient::persistedValuesEqualCurrentData() const {
    auto stored = store_->stringForKey(kRepresentationKey);
    return stored && *stored == APMTCFStringRepresentation(tcfData_);
}

void APMTCFClient::storeCurrentData() {
    const APMTCFDataGenerator& values = tcfData_.values();
    store_->setBool(values.isTCFDataEnabled, kEnabledKey);
    for (const StoredField& field : kStoredFields) {
        if (field.number) {
            const auto& number = values.*field.number;
            number ? store_->setObject(*number, field.key) : store_->removeObjectForKey(field.key);
        } else {
            const auto& text = values.*field.text;
            text ? store_->setObject(platform::PropertyValue(*text), field.key) : store_->removeObjectForKey(field.key);
        }
    }
    platform::PropertyArray restrictions(values.publisherRestrictions.begin(), values.publisherRestrictions.end());
    store_->setObject(platform::PropertyValue(std::move(restrictions)), kRestrictionsKey);
    store_->setObject(platform::PropertyValue(APMTCFStringRepresentation(tcfData_)), kRepresentationKey);
}

APMConsentSettings APMTCFClient::previousConsent() const {
    APMTCFDataGenerator generator;
    generator.isTCFDataEnabled = store_->boolForKey(kEnabledKey);
    for (const StoredField& field : kStoredFields) {
        if (field.number) {
            generator.*field.number = store_->numberForKey(field.key);
        } else {
            generator.*field.text = store_->stringForKey(field.key);
        }
    }
    if (auto stored = store_->objectForKey(kRestrictionsKey); stored && stored->asArray()) {
        const platform::PropertyArray& restrictions = *stored->asArray();
        for (std::size_t index = 0; index < restrictions.size() && index < generator.publisherRestrictions.size();
             ++index) {
            if (const std::string* text = restrictions[index].asString()) generator.publisherRestrictions[index] = *text;
        }
    }
    return generator.generateData().consent();
}

void APMTCFClient::clearPersistedValues() { store_->clearAllData(); }

void APMTCFClient::setConsentFromTCFData() {
    readTCFData();
    if (!hasTCFDataToRead() || persistedValuesEqualCurrentData()) return;

    const APMConsentSettings current = tcfData_.consent();
    const bool applyVendorFix = shouldApplyOneTimeTCFVendorFix();
    const bool sameAsPrevious = previousConsent() == current;
    if (facade_) {
        facade_->logInternalEvent("auto", "_tcf",
                                  APMParameters{
                                      {"_tcfd", APMValue(APMTCFBundleParameterValue(tcfData_, isDMARegion_))},
                                      {"_tcfd2", APMValue(APMTCFD2ParamValue(tcfData_))},
                                      {"_tcfm", APMValue(APMTCFDMigrationParamValue(applyVendorFix, !sameAsPrevious))},
                                  });
    }
    storeCurrentData();
    if (applyVendorFix || shouldApplyTCFData()) consent_->setConsent(current, kAPMConsentSettingsTCFKey);
}
