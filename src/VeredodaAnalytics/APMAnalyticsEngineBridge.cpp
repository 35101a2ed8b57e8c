#include "VeredodaAnalytics/APMAnalyticsEngineBridge.h"

#include <mutex>
#include <utility>

#include "VeredodaAnalytics/APMAnalytics.h"
#include "VeredodaCore/VRDOptions.h"
#include "measurement/engine/APMConditionalUserProperties.h"
#include "measurement/engine/APMEngineSubsystems.h"
#include "measurement/engine/APMEngineWiring.h"
#include "measurement/engine/APMRemoteConfig.h"
#include "measurement/engine/APMScreenViewReporter.h"
#include "measurement/engine/APMSessionReporter.h"
#include "measurement/interface/APMAdExposureReporter.h"
#include "measurement/interface/APMSearchAdReporter.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMScheduler.h"

namespace {

// The engine's search-ad reporter. Made and used only on the engine's
// worker queue (the seams run there); the pointer itself is read under the
// bridge's lock by searchAdReporter().
struct SearchAdSlot {
    bool made = false;  // worker queue
    std::shared_ptr<APMSearchAdReporter> reporter;  // written on the worker queue under the bridge's lock
};

struct BridgeState {
    std::mutex mutex;
    APMAnalyticsEngineBridge::ConfigurationProvider provider;
    std::shared_ptr<SearchAdSlot> searchAd;  // of the engine created last
};

BridgeState& bridgeState() {
    static BridgeState state;
    return state;
}

// The seams the engine now answers itself; the others start empty.
APMReporterFacade reporterFacade();

APMAnalyticsEngineSeams filledSeams() {
    APMAnalyticsEngineSeams seams;
    seams.setConditionalUserProperty = [](const APMConditionalUserPropertyFields& fields) {
        APMConditionalUserProperty property;
        property.origin = fields.origin;
        property.value = fields.value;
        property.triggerEventName = fields.triggerEventName.value_or("");
        // A missing time-out or time to live is 0, which validation refuses.
        property.triggerTimeout = fields.triggerTimeout.value_or(0);
        property.timeToLive = fields.timeToLive.value_or(0);
        property.triggeredEvent = fields.triggeredEvent;
        property.timedOutEvent = fields.timedOutEvent;
        property.expiredEvent = fields.expiredEvent;
        property.creationTimestamp = fields.creationTimestamp.value_or(0);
        property.active = fields.active.value_or(false);
        property.triggeredTimestamp = fields.triggeredTimestamp.value_or(0);
        APMConditionalUserPropertyController::sharedInstance()->setConditionalUserProperty(property, fields.name);
    };
    seams.clearConditionalUserProperty = [](const APMEvent& clearEvent, const std::string& name) {
        APMConditionalUserPropertyController::sharedInstance()->clearConditionalUserPropertyWithClearEvent(clearEvent,
                                                                                                           name);
    };
    seams.conditionalUserProperties = [](const std::string& prefix, const std::string& origin) {
        std::vector<std::pair<std::string, std::string>> listing;
        const auto found =
            APMConditionalUserPropertyController::sharedInstance()->conditionalUserPropertiesWithNamePrefix(prefix,
                                                                                                           origin);
        for (const APMConditionalUserProperty& property : found.value_or(std::vector<APMConditionalUserProperty>{})) {
            listing.emplace_back(property.name, property.value ? property.value->description() : std::string());
        }
        return listing;
    };
    seams.setSessionTimeoutInterval = [](double seconds) {
        if (const auto engine = APMMeasurement::sharedInstance()) engine->setSessionTimeoutInterval(seconds);
    };
    seams.trackScreenWithParameters = [](const APMObjectParameters& parameters, double timestamp) {
        // A screen reported before launching has finished makes the reporter;
        // one reported before the start has its "_vs" wait in the facade's
        // queue like every early event.
        (void)APMSetReporterFacade(reporterFacade());
        APMScreenViewReporter::createSharedInstance(APMAnalytics::dispatcher(), APMAnalytics::notificationCenter())
            ->trackScreenWithParameters(parameters, timestamp);
    };
    seams.screenParameters = []() -> std::optional<APMObjectParameters> {
        const auto reporter = APMScreenViewReporter::sharedInstance();
        if (!reporter) return std::nullopt;
        return APMObjectParametersFrom(reporter->screenParameters());
    };
    seams.sessionIDWithCompletion = [](std::function<void(std::int64_t, std::optional<APMError>)> completion) {
        if (const auto engine = APMMeasurement::sharedInstance()) {
            engine->sessionIDWithCompletion(std::move(completion));
        } else if (completion) {
            completion(0, APMError::withCode(13, "Analytics deallocated"));
        }
    };
    seams.resetAnalyticsDataWithAppInstanceID = [](const std::optional<std::string>& appInstanceID) {
        const auto engine = APMMeasurement::sharedInstance();
        return engine && engine->resetAnalyticsDataWithAppInstanceID(appInstanceID.value_or(""));
    };
    seams.setUserData = [](const platform::PropertyDictionary& userData) {
        if (const auto engine = APMMeasurement::sharedInstance()) engine->setUserData(userData);
    };
    seams.shouldDisableAdPersonalization = []() -> std::optional<std::int64_t> {
        const auto engine = APMMeasurement::sharedInstance();
        return engine ? engine->shouldDisableAdPersonalization() : std::nullopt;
    };
    seams.handleSVTMDebugModeWithURL = [](const std::string& url) { APMMeasurement::handleSVTMDebugModeWithURL(url); };
    seams.handleNonFirstOpenEventURL = [](const std::string& url, double timestamp,
                                          const std::optional<std::string>& referrerURL) {
        if (const auto engine = APMMeasurement::sharedInstance()) {
            engine->handleNonFirstOpenEventURL(url, timestamp, referrerURL);
        }
    };
    return seams;
}

// The facade's calls the engine's reporters make.
APMReporterFacade reporterFacade() {
    APMReporterFacade facade;
    facade.logInternalEvent = [](const std::string& origin, const std::string& name, const APMParameters& parameters) {
        APMAnalytics::logInternalEventWithOrigin(origin, name, APMObjectParametersFrom(parameters));
    };
    facade.logInternalEventWithTimestamp = [](const std::string& origin, const std::string& name, double timestamp,
                                              const APMParameters& parameters) {
        APMAnalytics::logInternalEventWithOrigin(origin, name, timestamp, APMObjectParametersFrom(parameters));
    };
    facade.setInternalUserProperty = [](const std::optional<APMValue>& value, const std::string& name,
                                        const std::string& origin) {
        APMAnalytics::sharedInstance()->setInternalUserProperty(
            value ? std::optional<APMObject>(APMObject(*value)) : std::nullopt, name, origin);
    };
    return facade;
}

APMAnalyticsEngineSeams& seamsStorage() {
    static APMAnalyticsEngineSeams seams = filledSeams();
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

// The reporter of `slot`, made at the first call on the engine's worker queue;
// none when the engine is gone or the reporter declines (an answer already
// persisted, the attempts used up), and then not tried again in this run.
std::shared_ptr<APMSearchAdReporter> searchAdReporterOnWorkerQueue(SearchAdSlot& slot, platform::Dispatcher& dispatcher) {
    if (slot.made) return slot.reporter;
    const auto engine = APMMeasurement::sharedInstance();
    if (!engine) return nullptr;
    slot.made = true;
    auto reporter = APMSearchAdReporter::create(dispatcher, engine->scheduler()->workerQueue(), engine->persistedConfig(),
                                                APMSearchAdReporter::environmentFromOptions(VRDOptions::defaultOptions()));
    std::lock_guard lock(bridgeState().mutex);
    slot.reporter = reporter;
    return reporter;
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
                                            APMAnalyticsFacadeHooks hooks) {
    APMMeasurementConfiguration configuration = providedConfiguration(dispatcher);
    if (!configuration.dispatcher) configuration.dispatcher = dispatcher;
    if (!configuration.facade) configuration.facade = std::move(facade);
    APMMeasurementSeams& seams = configuration.seams;
    if (!seams.notifyEventListeners) {
        seams.notifyEventListeners = std::move(hooks.notifyEventListeners);
        seams.hasEventListeners = std::move(hooks.hasEventListeners);
    }
    if (!seams.makeTCFClient) seams.makeTCFClient = std::move(hooks.makeTCFClient);
    if (!seams.setProspectiveConsentSettings) {
        seams.setProspectiveConsentSettings = std::move(hooks.setProspectiveConsentSettings);
    }
    if (configuration.dispatcher && !seams.setSearchAdReporterEnabled && !seams.startSearchAdReporter) {
        auto slot = std::make_shared<SearchAdSlot>();
        {
            std::lock_guard lock(bridgeState().mutex);
            bridgeState().searchAd = slot;
        }
        platform::Dispatcher& engineDispatcher = *configuration.dispatcher;
        // Disabling never makes the reporter; the engine enables it before it starts it.
        seams.setSearchAdReporterEnabled = [slot, &engineDispatcher](bool enabled) {
            const auto reporter = enabled ? searchAdReporterOnWorkerQueue(*slot, engineDispatcher) : slot->reporter;
            if (reporter) reporter->setSearchAdReporterEnabled(enabled);
        };
        seams.startSearchAdReporter = [slot, &engineDispatcher] {
            if (const auto reporter = searchAdReporterOnWorkerQueue(*slot, engineDispatcher)) reporter->start();
        };
    }
    (void)APMSetReporterFacade(reporterFacade());
    APMMeasurement::initializeSharedInstance(appID, enabled, deactivated, safelistedEvents, std::move(configuration));
}

bool APMAnalyticsEngineBridge::hasEngine() { return APMMeasurement::hasSharedInstance(); }

void APMAnalyticsEngineBridge::closeDatabase() {
    const auto engine = APMMeasurement::sharedInstance();
    if (const auto database = engine ? engine->database() : nullptr) database->close();
}

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

std::optional<std::string> APMAnalyticsEngineBridge::deepLinkFromUserActivity(
    const std::optional<platform::UserActivity>& activity) {
    return APMMeasurement::deepLinkFromUserActivity(activity);
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

void APMAnalyticsEngineBridge::filterPurchaseTransactions(
    APMMeasurement::PurchaseTransactions transactions, std::function<void(APMMeasurement::PurchaseTransactions)> callback) {
    if (const auto engine = APMMeasurement::sharedInstance()) {
        engine->filterPurchaseTransactions(std::move(transactions), std::move(callback));
    }
}

void APMAnalyticsEngineBridge::recordPurchaseFingerprint(const std::string& fingerprint) {
    if (const auto engine = APMMeasurement::sharedInstance()) engine->recordPurchaseFingerprint(fingerprint);
}

void APMAnalyticsEngineBridge::installAdExposureReporter(platform::Dispatcher& dispatcher,
                                                         platform::NotificationCenter& center) {
    std::lock_guard lock(bridgeState().mutex);
    if (APMAdExposureReporter::sharedInstance()) return;
    APMAdExposureReporter::ScreenSource screens;
    screens.screenParameters = [] {
        APMParameters parameters;
        const auto& current = seamsStorage().screenParameters;
        const auto objects = current ? current() : std::nullopt;
        if (!objects) return parameters;
        for (const auto& [name, object] : *objects) {
            if (auto value = APMValue::valueFromObject(&object)) parameters.set(name, std::move(*value));
        }
        return parameters;
    };
    screens.isAppActive = [] { return APMIsAppActive(); };
    APMAdExposureReporter::installSharedInstance(APMAdExposureReporter::create(dispatcher, std::move(screens), center));
    APMMeasurement::subscribeForAppDidFinishLaunchingNotifications(center, dispatcher);
}

std::shared_ptr<APMSearchAdReporter> APMAnalyticsEngineBridge::searchAdReporter() {
    std::lock_guard lock(bridgeState().mutex);
    return bridgeState().searchAd ? bridgeState().searchAd->reporter : nullptr;
}

void APMAnalyticsEngineBridge::resetForTesting() {
    setConfigurationProvider(nullptr);
    {
        std::lock_guard lock(bridgeState().mutex);
        bridgeState().searchAd.reset();
    }
    APMAdExposureReporter::installSharedInstance(nullptr);
    APMScreenViewReporter::resetSharedInstanceForTesting();
    (void)APMSetReporterFacade({});
    seamsStorage() = filledSeams();
}
