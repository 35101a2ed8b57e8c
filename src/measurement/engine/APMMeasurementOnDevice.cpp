// On-device conversion measurement through the ads conversion service: the
// first-open, session and group values, the ODF identifiers with the deferred
// first open, and the migrations of the stored values. The service lives in
// an outside library found by class name; without it every fetch goes
// straight to its handler with no value, which clears what was stored.

#include <fstream>
#include <iterator>

#include "VadovaUtilities/VULMainBundle.h"
#include "VeredodaCore/VRDException.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMOnDeviceConversion.h"
#include "measurement/engine/APMPSMContext.h"
#include "measurement/interface/APMConsentSettingsUtil.h"
#include "measurement/interface/APMIdentity.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMScheduler.h"

namespace {

constexpr std::int64_t kCurrentFrameworkVersion = 10001;
constexpr const char* kODM2Value = "odm2_value";
constexpr const char* kODM2ValueCohort = "odm2_value_cohort";
constexpr const char* kODM2GroupID = "odm2_group_id";
constexpr const char* kPSMValueVADS = "_psmvalue_vads";
constexpr const char* kODFAppInstallationID = "odf_app_installation_id";
constexpr const char* kODFMatchingID = "odf_matching_id";

bool isNonEmpty(const std::optional<std::string>& value) { return value && !value->empty(); }

// An Info.plist switch: a number gives its truth, anything else (or nothing) is on.
bool plistSwitch(const std::optional<platform::PropertyValue>& value) {
    if (!value) return true;
    if (const auto flag = value->asBoolean()) return *flag;
    if (value->isNumber()) return value->asReal().value_or(0) != 0;
    return true;
}

std::vector<std::string> kernelLaunchArguments() {
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::string> arguments;
    std::string current;
    for (char c : all) {
        if (c == '\0') {
            arguments.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!arguments.empty()) arguments.erase(arguments.begin());  // the program's path
    return arguments;
}

class VULPSMNetwork final : public APMPSMNetwork {
public:
    bool hasUploadInProgress() const override { return network_.hasUploadInProgress(); }
    void setTimeoutInterval(double seconds) override { network_.setTimeoutInterval(seconds); }
    void postURL(const std::string& URL, const VULData& payload, platform::QueueRef queue, bool background,
                 VULNetworkCompletionHandler completion) override {
        (void)network_.postURL(URL, payload, std::move(queue), background, std::move(completion));
    }

private:
    VULNetwork network_;
};

}  // namespace

APMOnDeviceEnvironment APMOnDeviceEnvironment::withDefaults() const {
    APMOnDeviceEnvironment environment = *this;
    if (!environment.raiseFatal) {
        environment.raiseFatal = [](const std::string& name, const std::string& reason) {
            throw VRDException(name, reason);
        };
    }
    if (!environment.makeNetwork) environment.makeNetwork = [] { return std::make_shared<VULPSMNetwork>(); };
    if (!environment.launchArguments) environment.launchArguments = kernelLaunchArguments;
    if (!environment.infoDictionaryValue) {
        environment.infoDictionaryValue = [](const std::string& key) {
            return VULMainBundle::objectForInfoDictionaryKey(key);
        };
    }
    return environment;
}

void APMMeasurement::setOnDeviceEnvironment(const APMOnDeviceEnvironment& environment) {
    onDeviceEnvironment_ = std::make_shared<const APMOnDeviceEnvironment>(environment.withDefaults());
}

const APMOnDeviceEnvironment& APMMeasurement::onDeviceEnvironment() const {
    static const APMOnDeviceEnvironment defaults = APMOnDeviceEnvironment{}.withDefaults();
    return onDeviceEnvironment_ ? *onDeviceEnvironment_ : defaults;
}

void APMMeasurement::raiseOnDeviceFatal(const std::string& name, const std::string& reason) {
    dispatcher_.mainQueue()->async([raise = onDeviceEnvironment().raiseFatal, name, reason] { raise(name, reason); });
}

void APMMeasurement::writeFirstOpenSourceEvent(const std::string& source, double timestamp) {
    const APMParameters parameters = paramsWithAddedFirstOpenConsentedEventParams({{"_fxs", APMValue(source)}});
    std::optional<APMEvent> event =
        APMEvent::initWithOrigin("auto", false, "_fx", timestamp, 0, APMObjectParametersFrom(parameters));
    if (!event) return;
    event->setRealtime(true);
    writeEventOnWorkerQueue(*event);
}

// MARK: - Linkage

std::shared_ptr<VRDRuntimeClass> APMMeasurement::conversionServiceClass() const {
    return VRDClassRegistry::shared().classNamed(kODCConversionServiceClassName);
}

bool APMMeasurement::isAdsOnDeviceConversionLinked() const { return conversionServiceClass() != nullptr; }

std::shared_ptr<ODCConversionService> APMMeasurement::conversionServiceFromReflection() const {
    auto serviceClass = std::dynamic_pointer_cast<APMSharedInstanceClass>(conversionServiceClass());
    if (!serviceClass) return nullptr;
    return std::dynamic_pointer_cast<ODCConversionService>(serviceClass->sharedInstance());
}

bool APMMeasurement::isVadovaAdsOnDeviceConversionLinked() const {
    if (!isAdsOnDeviceConversionLinked()) return false;
    const auto service = conversionServiceFromReflection();
    return (service ? service->versionNumber() : 0) >= kCurrentFrameworkVersion;
}

bool APMMeasurement::isAlphaAppAdsOnDeviceConversionLinked() const {
    if (!isAdsOnDeviceConversionLinked()) return false;
    const auto service = conversionServiceFromReflection();
    return (service ? service->versionNumber() : 0) < kCurrentFrameworkVersion;
}

std::int32_t APMMeasurement::onDeviceConversionLinkageBits() const {
    return (isAPMPrivateSetMembershipClientLinked() ? 2 : 0) | (isAlphaAppAdsOnDeviceConversionLinked() ? 4 : 0) |
           (isVadovaAdsOnDeviceConversionLinked() ? 8 : 0);
}

std::int32_t APMMeasurement::linkageBits() const {
    const auto identity = this->identity();
    return (identity && identity->hasAppDataConsentStatus() ? 1 : 0) | onDeviceConversionLinkageBits();
}

bool APMMeasurement::isODMGroupInfoSupported(const std::shared_ptr<ODCConversionService>& service) {
    return std::dynamic_pointer_cast<ODCConversionServiceGroupInfo>(service) != nullptr;
}

bool APMMeasurement::isODFSupported(const std::shared_ptr<ODCConversionService>& service) {
    return std::dynamic_pointer_cast<ODCConversionServiceODF>(service) != nullptr;
}

// MARK: - Conditions

bool APMMeasurement::isODM2EnabledInPlist() const {
    return plistSwitch(onDeviceEnvironment().infoDictionaryValue("VADOVA_ADS_ON_DEVICE_CONVERSION_EVENT_DATA_ENABLED"));
}

bool APMMeasurement::isODM2SessionStartEnabledInPlist() const {
    return plistSwitch(
        onDeviceEnvironment().infoDictionaryValue("VADOVA_ADS_ON_DEVICE_CONVERSION_EVENT_DATA_SESSION_ENABLED"));
}

bool APMMeasurement::areCommonConversionServiceConditionsSatisfied() {
    if (!isAdsOnDeviceConversionLinked()) return false;
    if (!configuration()->adsOnDeviceConversionFeatureEnabled()) {
        monitor()->log(7, 23275,
                       "Conversion service disabled. Remote config disabled. Check ads account linked to Vovara "
                       "Zovuzuzez.");
        return false;
    }
    if (APMConsentSettingsUtil::isAdStorageDenied()) {
        monitor()->log(7, 23276, "Conversion service disabled. Ad storage consent is denied.");
        return false;
    }
    return true;
}

bool APMMeasurement::isAdsOnDeviceConversionEnabled() {
    if (!isODM2EnabledInPlist()) {
        monitor()->log(4, 23295, "Conversion service disabled from Info.plist.");
        return false;
    }
    if (!areCommonConversionServiceConditionsSatisfied()) return false;
    monitor()->log(7, 23277, "Conversion service enabled");
    return true;
}

bool APMMeasurement::isAdsOnDeviceConversionForSessionStartEnabled() {
    return configuration()->ODM2SessionStartEnabled() && isAdsOnDeviceConversionEnabled() &&
           isODM2SessionStartEnabledInPlist();
}

std::optional<double> APMMeasurement::firstLaunchDate() const {
    const std::int64_t milliseconds = persistedConfig_->firstOpenTimestampMilliseconds();
    if (milliseconds == 0) return std::nullopt;
    return static_cast<double>(milliseconds) / 1000.0;
}

// MARK: - Start

void APMMeasurement::checkODM2DependencyOnWorkerQueue() {
    (void)scheduler_->checkOnBackgroundThread("checkODM2DependencyOnWorkerQueue");
    const auto& log = monitor();
    if (isAdsOnDeviceConversionLinked()) {
        const auto service = conversionServiceFromReflection();
        if (isVadovaAdsOnDeviceConversionLinked() && isAPMPrivateSetMembershipClientLinked()) {
            raiseOnDeviceFatal("MeasurementDeprecatedOnDeviceConversionException",
                               "VadovaVarUradazaduroOnDeviceConversion (deprecated) framework and "
                               "VadovaAdsOnDeviceConversion framework are both linked into the app. Remove the "
                               "VadovaVarUradazaduroOnDeviceConversion (deprecated) framework, which is no longer "
                               "recommended for new development.");
        }
        if (!isODMGroupInfoSupported(service) || !isODFSupported(service)) {
            raiseOnDeviceFatal("MeasurementMinimumRequiredOnDeviceConversionNotLinkedException",
                               "Minimum required version of the VadovaAdsOnDeviceConversion framework is not linked "
                               "into the app. Please update to the latest version.");
        }
        const std::string version = service ? service->versionString() : std::string();
        log->log(7, 23278, "Conversion service VadovaAdsOnDeviceConversion framework is linked", version);
        incrementOnWorkerQueueDiagnosticsSignal("odc_version", version);
    } else {
        log->log(7, 23279, "Conversion service disabled. VadovaAdsOnDeviceConversion framework is not linked.");
        if (isAPMPrivateSetMembershipClientLinked()) {
            log->log(4, 23292,
                     "VadovaVarUradazaduroOnDeviceConversion (deprecated) framework is linked. Use the "
                     "VadovaAdsOnDeviceConversion framework instead.");
        }
    }
    if (!configuration()->isExpired()) log->log(7, 23280, "Conversion service will not attempt a fetch");
}

void APMMeasurement::setupODM2ConversionService() {
    (void)scheduler_->checkOnBackgroundThread("setupODM2ConversionService");
    if (conversionService_) return;
    conversionService_ = conversionServiceFromReflection();
    if (!conversionService_) monitor()->log(1, 23268, "Failed to get the compatible conversion service.");
}

// MARK: - Fetches

void APMMeasurement::updateAdsOnDeviceConversionMeasurement() {
    const auto service = conversionService_;
    if (!service || !isAdsOnDeviceConversionEnabled()) {
        handleAdsOnDeviceConversionValue(std::nullopt, std::nullopt);
        return;
    }
    service->setFirstLaunchTime(firstLaunchDate());
    service->fetchMeasurementInfoForInteraction(
        0, [weak = weak_from_this()](std::optional<std::string> value, std::optional<APMError> error) {
            if (auto self = weak.lock()) {
                self->scheduleWeakly("APMMeasurement:354", [value, error](APMMeasurement& engine) {
                    engine.handleAdsOnDeviceConversionValue(value, error);
                });
            }
        });
}

void APMMeasurement::updateAdsOnDeviceConversionMeasurementForSession() {
    const auto service = conversionService_;
    if (!service || !isAdsOnDeviceConversionForSessionStartEnabled()) {
        handleAdsOnDeviceConversionSessionValue(std::nullopt, std::nullopt);
        return;
    }
    service->fetchMeasurementInfoForInteraction(
        1, [weak = weak_from_this()](std::optional<std::string> value, std::optional<APMError> error) {
            if (auto self = weak.lock()) {
                self->scheduleWeakly("APMMeasurement:491", [value, error](APMMeasurement& engine) {
                    engine.handleAdsOnDeviceConversionSessionValue(value, error);
                });
            }
        });
}

void APMMeasurement::updateAdsOnDeviceConversionGroupInfo() {
    const auto service = std::dynamic_pointer_cast<ODCConversionServiceGroupInfo>(conversionService_);
    if (!service || !configuration()->ODM2GroupIDEnabled() || !isAdsOnDeviceConversionEnabled()) {
        handleAdsOnDeviceConversionGroupInfoValue(std::nullopt, std::nullopt);
        return;
    }
    service->fetchGroupInfoWithCompletion(
        [weak = weak_from_this()](std::optional<std::string> value, std::optional<APMError> error) {
            if (auto self = weak.lock()) {
                self->scheduleWeakly("APMMeasurement:48", [value, error](APMMeasurement& engine) {
                    engine.handleAdsOnDeviceConversionGroupInfoValue(value, error);
                });
            }
        });
}

void APMMeasurement::resetAndWipeAdsOnDeviceConversionData() {
    if (conversionService_) conversionService_->resetAndWipeData();
}

// MARK: - Handlers

void APMMeasurement::handleAdsOnDeviceConversionValue(const std::optional<std::string>& value,
                                                      const std::optional<APMError>& error) {
    const auto& log = monitor();
    if (error) {
        log->log(1, 23269, "Conversion service failed to fetch measurement info.", *error);
        return;
    }
    const auto database = this->database();
    if (!database) return;
    const char* row = configuration()->ODM2SessionStartEnabled() ? kODM2ValueCohort : kODM2Value;
    if (!isNonEmpty(value)) {
        if (auto attribute = database->userAttributeWithName(kPSMValueVADS); attribute.value) {
            removeUserAttributeOnWorkerQueue(*attribute.value);
        }
        APMError ignored;
        (void)database->deleteODMValueWithName(row, &ignored);
        log->log(7, 23281, "Conversion service returned empty value");
        return;
    }
    if (persistedConfig_->ODM2FirstOpenTimestampValue() != 0) {
        log->log(7, 23316, "Conversion service already processed the measurement info");
        return;
    }
    const double now = this->now();
    APMError writeError;
    if (!database->updateODMValue(*value, row, now, &writeError)) {
        log->log(1, 23290, "Failed to update ODM2 value. Error", writeError);
    }
    setUserAttributeOnWorkerQueue(APMUserAttribute("auto", kPSMValueVADS, APMValue(*value), now));
    writeFirstOpenSourceEvent("psm_vads", now);
    persistedConfig_->setODM2FirstOpenTimestampValue(now);
}

void APMMeasurement::handleAdsOnDeviceConversionSessionValue(const std::optional<std::string>& value,
                                                             const std::optional<APMError>& error) {
    migrateODM2Value();
    const auto& log = monitor();
    if (error) {
        log->log(1, 23304, "Conversion service failed to fetch session measurement info.", *error);
        return;
    }
    const auto database = this->database();
    if (!database) return;
    APMError writeError;
    if (isNonEmpty(value)) {
        if (!database->updateODMValue(*value, kODM2ValueCohort, now(), &writeError)) {
            log->log(1, 23306, "Failed to update ODM2 session value. Error");
        }
        return;
    }
    (void)database->deleteODMValueWithName(kODM2ValueCohort, &writeError);
    log->log(7, 23305, "Conversion service returned empty value for session");
}

void APMMeasurement::handleAdsOnDeviceConversionGroupInfoValue(const std::optional<std::string>& value,
                                                               const std::optional<APMError>& error) {
    const auto& log = monitor();
    if (error) {
        log->log(1, 23328, "Conversion service failed to fetch aggregate event data", *error);
        return;
    }
    const auto database = this->database();
    if (!database) return;
    APMError writeError;
    if (!isNonEmpty(value)) {
        (void)database->deleteODMValueWithName(kODM2GroupID, &writeError);
        log->log(7, 23329, "Conversion service returned empty aggregate event data");
        return;
    }
    const auto stored = database->ODMValueWithName(kODM2GroupID);
    if (stored.value && stored.value->value == *value) return;
    const double now = this->now();
    if (!database->updateODMValue(*value, kODM2GroupID, now, &writeError)) {
        log->log(2, 23330, "Failed to update ODM2 group ID. Error");
    }
    if (!stored.value) writeFirstOpenSourceEvent("muf2", now);
}

// MARK: - Migrations

void APMMeasurement::migrateODM2Value() {
    (void)scheduler_->checkOnBackgroundThread("migrateODM2Value");
    if (configuration()->ODM2SessionStartEnabled()) {
        migrateODM2ValueToCohort();
    } else {
        migrateODM2ValueFromPSMValueVADS();
    }
}

void APMMeasurement::migrateODM2ValueFromPSMValueVADS() {
    (void)scheduler_->checkOnBackgroundThread("migrateODM2ValueFromPSMValueVADS");
    const auto database = this->database();
    if (!database || database->ODMValueWithName(kODM2Value).value) return;
    auto attribute = database->userAttributeWithName(kPSMValueVADS);
    if (!attribute.value) return;
    const APMValue& value = attribute.value->value();
    const std::string text = value.stringValue() ? *value.stringValue() : value.description();
    APMError error;
    if (!database->updateODMValue(text, kODM2Value, attribute.value->lastSetTimestamp(), &error)) {
        monitor()->log(2, 23333, "Failed to migrate ODM2 value");
        return;
    }
    if (!database->deleteODMValueWithName(kODM2ValueCohort, &error)) {
        monitor()->log(2, 23334, "Failed to delete ODM2 value cohort");
    }
}

void APMMeasurement::migrateODM2ValueToCohort() {
    (void)scheduler_->checkOnBackgroundThread("migrateODM2ValueToCohort");
    const auto database = this->database();
    if (!database) return;
    const auto row = database->ODMValueWithName(kODM2Value);
    if (row.error || !row.value) return;
    APMError error;
    if (row.value->value.empty()) {
        (void)database->deleteODMValueWithName(kODM2Value, &error);
        return;
    }
    persistedConfig_->setODM2FirstOpenTimestampValue(row.value->setTimestamp);
    if (!database->updateODMValue(row.value->value, kODM2ValueCohort, row.value->setTimestamp, &error)) {
        monitor()->log(2, 23317, "Failed to migrate ODM2 value");
        return;
    }
    if (!database->deleteODMValueWithName(kODM2Value, &error)) {
        monitor()->log(2, 23318, "Failed to delete migrated ODM2 value");
    }
}

// MARK: - ODF identifiers

bool APMMeasurement::isODFEnabled() {
    return configuration()->ODFEnabled() && areCommonConversionServiceConditionsSatisfied();
}

void APMMeasurement::updateODFIDs() {
    updateODFAppInstallationID();
    updateODFMatchingID();
}

void APMMeasurement::updateODFAppInstallationID() {
    const auto service = std::dynamic_pointer_cast<ODCConversionServiceODF>(conversionService_);
    if (!service || !isODFEnabled()) {
        handleODFAppInstallationID(std::nullopt);
        return;
    }
    service->fetchODFAppInstallationIDWithCompletion([weak = weak_from_this()](std::optional<std::string> identifier) {
        if (auto self = weak.lock()) {
            self->scheduleWeakly("APMMeasurement:60", [identifier](APMMeasurement& engine) {
                engine.handleODFAppInstallationID(identifier);
            });
        }
    });
}

void APMMeasurement::handleODFAppInstallationID(const std::optional<std::string>& identifier) {
    const auto database = this->database();
    if (!database) return;
    APMError error;
    if (!isNonEmpty(identifier)) {
        (void)database->deleteODMValueWithName(kODFAppInstallationID, &error);
        return;
    }
    const auto stored = database->ODMValueWithName(kODFAppInstallationID);
    if (stored.value && stored.value->value == *identifier) return;
    if (!database->updateODMValue(*identifier, kODFAppInstallationID, now(), &error)) {
        monitor()->log(2, 23320, "Failed to update ODF app installation ID value. Error", error);
    }
}

void APMMeasurement::updateODFMatchingID() {
    const auto service = std::dynamic_pointer_cast<ODCConversionServiceODF>(conversionService_);
    if (!service || !isODFEnabled()) {
        handleODFMatchingID(std::nullopt, std::nullopt);
        return;
    }
    service->fetchODFMatchingIDWithCompletion(
        [weak = weak_from_this()](std::optional<std::string> identifier, std::optional<APMError> error) {
            if (auto self = weak.lock()) {
                self->scheduleWeakly("APMMeasurement:117", [identifier, error](APMMeasurement& engine) {
                    engine.handleODFMatchingID(identifier, error);
                });
            }
        });
}

void APMMeasurement::handleODFMatchingID(const std::optional<std::string>& identifier,
                                         const std::optional<APMError>& error) {
    const auto& log = monitor();
    if (error) {
        log->log(2, 23321, "Failed to fetch ODF matching ID. Error", *error);
        return;
    }
    const auto database = this->database();
    if (!database) return;
    APMError writeError;
    if (!isNonEmpty(identifier)) {
        log->log(2, 23322, "ODF matching ID is empty.");
        if (!database->deleteODMValueWithName(kODFMatchingID, &writeError)) {
            log->log(2, 23323, "Failed to delete ODF matching ID value. Error", writeError);
        }
        return;
    }
    const auto stored = database->ODMValueWithName(kODFMatchingID);
    if (stored.value && stored.value->value == *identifier) return;
    const double timestamp = now();
    if (!database->updateODMValue(*identifier, kODFMatchingID, timestamp, &writeError)) {
        log->log(2, 23324, "Failed to update ODF matching ID value. Error", writeError);
        return;
    }
    if (persistedConfig_->ODFFirstOpenTimestampValue() == 0) logODFDeferredFirstOpenEventwithTimestamp(timestamp);
}

void APMMeasurement::logODFDeferredFirstOpenEventwithTimestamp(double timestamp) {
    writeFirstOpenSourceEvent("odf", timestamp);
    persistedConfig_->setODFFirstOpenTimestampValue(timestamp);
}
