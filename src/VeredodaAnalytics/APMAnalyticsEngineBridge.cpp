#include "VeredodaAnalytics/APMAnalyticsEngineBridge.h"

#include <mutex>
#include <utility>

#include "measurement/engine/APMEngineSubsystems.h"
#include "measurement/engine/APMRemoteConfig.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMScheduler.h"

namespace {

struct BridgeState {
    std::mutex mutex;
    APMAnalyticsEngineBridge::ConfigurationProvider provider;
};

BridgeState& bridgeState() {
    static BridgeState state;
    return state;
}

APMAnalyticsEngineSeams& seamsStorage() {
    static APMAnalyticsEngineSeams seams;
    return seams;
}

// A test's configuration, or else the process's: the real audience
// evaluator and experiment manager on the facade's dispatcher.
APMMeasurementConfiguration providedConfiguration(platform::Dispatcher* dispatcher) {
    APMAnalyticsEngineBridge::ConfigurationProvider provider;
    {
        std::lock_guard lock(bridgeState().mutex);
        provider = bridgeState().provider;
    }
    if (provider) return provider();
    APMMeasurementConfiguration configuration;
    if (dispatcher) APMInstallDefaultSubsystems(configuration, *dispatcher);
    return configuration;
}

}  // namespace

void APMAnalyticsEngineBridge::setConfigurationProvider(ConfigurationProvider provider) {
    std::lock_guard lock(bridgeState().mutex);
    bridgeState().provider = std::move(provider);
}

APMAnalyticsEngineSeams& APMAnalyticsEngineBridge::engineSeams() { return seamsStorage(); }

void APMAnalyticsEngineBridge::createEngine(const std::string& appID, bool enabled, bool deactivated,
                                            const std::vector<std::string>& safelistedEvents,
                                            std::shared_ptr<APMMeasurementFacadeState> facade,
                                            platform::Dispatcher* dispatcher,
                                            std::function<void(const APMEvent&)> notifyEventListeners,
                                            std::function<std::shared_ptr<APMTCFClient>()> makeTCFClient) {
    APMMeasurementConfiguration configuration = providedConfiguration(dispatcher);
    if (!configuration.dispatcher) configuration.dispatcher = dispatcher;
    if (!configuration.facade) configuration.facade = std::move(facade);
    if (!configuration.seams.notifyEventListeners) {
        configuration.seams.notifyEventListeners = std::move(notifyEventListeners);
    }
    if (!configuration.seams.makeTCFClient) configuration.seams.makeTCFClient = std::move(makeTCFClient);
    APMMeasurement::initializeSharedInstance(appID, enabled, deactivated, safelistedEvents, std::move(configuration));
}

bool APMAnalyticsEngineBridge::hasEngine() { return APMMeasurement::hasSharedInstance(); }

bool APMAnalyticsEngineBridge::wasEnabledDuringInitialization() {
    const auto engine = APMMeasurement::sharedInstance();
    return engine && engine->wasEnabledDuringInitialization();
}

bool APMAnalyticsEngineBridge::didInitializeComponents() {
    const auto engine = APMMeasurement::sharedInstance();
    return engine && engine->didInitializeComponents();
}

void APMAnalyticsEngineBridge::setEnabled(bool enabled) {
    if (const auto engine = APMMeasurement::sharedInstance()) engine->setEnabled(enabled);
}

std::shared_ptr<APMPersistedConfig> APMAnalyticsEngineBridge::persistedConfig() {
    if (const auto engine = APMMeasurement::sharedInstance()) return engine->persistedConfig();
    if (auto persisted = providedConfiguration(nullptr).persistedConfig) return persisted;
    return APMPersistedConfig::sharedInstance();
}

bool APMAnalyticsEngineBridge::hasRemoteConsentDefaults() {
    const auto engine = APMMeasurement::sharedInstance();
    const auto config = engine ? engine->remoteConfigInstance() : nullptr;
    return config && !config->consentDefaults().empty();
}

void APMAnalyticsEngineBridge::logEvent(const std::string& origin, bool isPublicEvent, const std::string& name,
                                        std::optional<APMObjectParameters> parameters, double timestamp,
                                        bool enabled, bool ignoreEnabled, bool ignoreInterceptor,
                                        APMEventInterceptor interceptor,
                                        std::optional<APMObjectParameters> addedScreenParameters) {
    const auto engine = APMMeasurement::sharedInstance();
    if (!engine) return;
    engine->logEventWithOrigin(origin, isPublicEvent, name, std::move(parameters), timestamp, enabled, ignoreEnabled,
                               ignoreInterceptor, std::move(interceptor), std::move(addedScreenParameters));
}

void APMAnalyticsEngineBridge::incrementDiagnosticsSignal(const std::string& signal, const std::string& metadata) {
    const auto engine = APMMeasurement::sharedInstance();
    if (!engine) return;
    std::weak_ptr<APMMeasurement> weak = engine;
    engine->scheduler()->workerQueue()->async([weak, signal, metadata] {
        if (const auto strong = weak.lock()) strong->incrementOnWorkerQueueDiagnosticsSignal(signal, metadata);
    });
}

void APMAnalyticsEngineBridge::setUserAttribute(const APMUserAttribute& attribute) {
    if (const auto engine = APMMeasurement::sharedInstance()) engine->setUserAttribute(attribute);
}

void APMAnalyticsEngineBridge::removeUserAttribute(const APMUserAttribute& attribute) {
    if (const auto engine = APMMeasurement::sharedInstance()) engine->removeUserAttribute(attribute);
}

bool APMAnalyticsEngineBridge::userProperties(bool includingInternal,
                                              std::function<void(APMUserPropertyList)> callback) {
    const auto engine = APMMeasurement::sharedInstance();
    if (!engine) return false;
    engine->userPropertiesIncludingInternal(includingInternal, std::move(callback));
    return true;
}

bool APMAnalyticsEngineBridge::maxUserProperties(const std::string& origin,
                                                 std::function<void(std::int64_t)> callback) {
    const auto engine = APMMeasurement::sharedInstance();
    if (!engine) return false;
    engine->maxUserPropertiesForOrigin(origin, std::move(callback));
    return true;
}

void APMAnalyticsEngineBridge::setDefaultEventParameters(std::optional<APMDefaultParameterEntries> parameters) {
    if (const auto engine = APMMeasurement::sharedInstance()) engine->setDefaultEventParameters(std::move(parameters));
}

void APMAnalyticsEngineBridge::resetForTesting() {
    setConfigurationProvider(nullptr);
    seamsStorage() = APMAnalyticsEngineSeams{};
}
