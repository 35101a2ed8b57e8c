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

// Lossless, so that the backfills that rewrite rows keep array parameters.
std::optional<APMRawEventData> APMRawEventData::fromRecord(const APMRawEventRecord& record, APMError* error) {
    return APMMeasurement::rawEventDataFromRecord(record, error);
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
