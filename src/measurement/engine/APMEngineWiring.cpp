#include "measurement/engine/APMEngineWiring.h"

#include <atomic>
#include <mutex>

#include "measurement/engine/APMMeasurement.h"
#include "measurement/interface/APMIdentifiers.h"
#include "measurement/interface/APMValidationLimits.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/UserAttributeConversion.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMError.h"

std::optional<APMBundleFacts> APMWireStoredMessageCodec::bundleFacts(const APMBytes& encodedBundle) const {
    auto bundle = APMPBMeasurementBundle::initWithBuffer(encodedBundle);
    if (!bundle) return std::nullopt;
    APMBundleFacts facts;
    facts.hasAppID = !APMPBGetString(*bundle, MeasurementBundleSlot::AppID).value_or("").empty();
    if (APMPBHasField(*bundle, MeasurementBundleSlot::EndTimestamp)) {
        facts.endTimestamp = APMPBGetInt64(*bundle, MeasurementBundleSlot::EndTimestamp);
    }
    if (APMPBHasField(*bundle, MeasurementBundleSlot::UploadRetryCount)) {
        facts.retryCount = APMPBGetInt32(*bundle, MeasurementBundleSlot::UploadRetryCount);
    }
    const auto events = APMPBGetArray(*bundle, MeasurementBundleSlot::Events, &APMPBEvent::classObject());
    facts.eventCount = events ? events->size() : 0;
    return facts;
}

std::optional<APMBytes> APMWireStoredMessageCodec::bundleWithRetryCount(const APMBytes& encodedBundle,
                                                                         std::int32_t retryCount) const {
    auto bundle = APMPBMeasurementBundle::initWithBuffer(encodedBundle);
    if (!bundle) return std::nullopt;
    APMPBSetInt32(*bundle, MeasurementBundleSlot::UploadRetryCount, retryCount);
    const auto encoded = bundle->protoBuffer();
    if (!encoded) return std::nullopt;
    return encoded->toVector();
}

std::optional<std::string> APMWireStoredMessageCodec::measurementConfigAppID(const APMBytes& encodedConfig) const {
    auto config = APMPBMeasurementConfig::initWithBuffer(encodedConfig);
    if (!config) return std::nullopt;
    return APMPBGetString(*config, MeasurementConfigSlot::AppID).value_or("");
}

std::optional<APMFilterFlags> APMWireStoredMessageCodec::eventFilterFlags(const APMBytes& encodedFilter) const {
    auto filter = APMPBEventFilter::initWithBuffer(encodedFilter);
    if (!filter) return std::nullopt;
    return APMFilterFlags{APMPBGetBool(*filter, EventFilterSlot::SessionScoped),
                          APMPBGetBool(*filter, EventFilterSlot::Dynamic),
                          APMPBGetBool(*filter, EventFilterSlot::Sequence)};
}

std::optional<APMFilterFlags> APMWireStoredMessageCodec::propertyFilterFlags(const APMBytes& encodedFilter) const {
    auto filter = APMPBPropertyFilter::initWithBuffer(encodedFilter);
    if (!filter) return std::nullopt;
    return APMFilterFlags{APMPBGetBool(*filter, PropertyFilterSlot::SessionScoped),
                          APMPBGetBool(*filter, PropertyFilterSlot::Dynamic),
                          APMPBGetBool(*filter, PropertyFilterSlot::Sequence)};
}

void APMInstallEngineWiring() {
    static std::once_flag once;
    std::call_once(once, [] {
        APMStoredMessageCodec::install(std::make_shared<APMWireStoredMessageCodec>());
        (void)APMSetValidationLimitsSource([] {
            const auto config = APMMeasurement::remoteConfig();
            APMValidationLimits limits;
            limits.maxPublicEventParameterValueLength = config->maxPublicEventParameterValueLength();
            limits.maxInternalEventParameterValueLength = config->maxInternalEventParameterValueLength();
            limits.maxPublicEventParams = config->maxPublicEventParams();
            limits.maxItemScopedCustomParameters = config->maxItemScopedCustomParameters();
            return limits;
        });
        APMIdentifiers::setEngineIdentityProvider([]() -> std::shared_ptr<APMIdentity> {
            if (!APMMeasurement::hasSharedInstance()) return nullptr;
            const auto engine = APMMeasurement::sharedInstance();
            return engine ? engine->identity() : nullptr;
        });
    });
}

void APMInstallDatabaseWiring(APMDatabase& database, std::function<std::shared_ptr<APMRemoteConfig>()> configuration) {
    database.setStorageLimitsProvider([configuration = std::move(configuration)] {
        const auto config = configuration ? configuration() : APMRemoteConfig::defaultInstance();
        APMStorageLimits limits;
        limits.maxEventsStored = config->maxEventsStored();
        limits.maxQueueTime = config->maxQueueTime();
        limits.staleDataDeletionInterval = config->databaseDeleteStaleBundlesInterval();
        return limits;
    });
}

std::optional<APMRawEventData> APMRawEventData::fromRecord(const APMRawEventRecord& record, APMError* error) {
    auto proto = APMPBEvent::initWithBuffer(record.data);
    std::optional<APMEvent> event = proto ? APMEvent::initWithEventProto(*proto) : std::nullopt;
    if (!event) {
        APMSetError(error, 0, "Unable to parse raw event data");
        return std::nullopt;
    }
    return APMRawEventData{std::move(*event), record.rowID, record.metadataFingerprint};
}

std::shared_ptr<APMPBUserAttribute> protoUserAttribute(const APMUserAttribute& attribute) {
    return APMPBUserAttributeFromUserAttribute(attribute);
}

namespace {
std::atomic<bool> gAppActive{false};
std::mutex gAppActiveMutex;
std::function<bool()> gAppActiveProvider;
}  // namespace

bool APMIsAppActive() {
    std::function<bool()> provider;
    {
        std::lock_guard lock(gAppActiveMutex);
        provider = gAppActiveProvider;
    }
    return provider ? provider() : gAppActive.load();
}

void APMSetAppActive(bool active) { gAppActive.store(active); }

void APMSetAppActiveProvider(std::function<bool()> provider) {
    std::lock_guard lock(gAppActiveMutex);
    gAppActiveProvider = std::move(provider);
}
