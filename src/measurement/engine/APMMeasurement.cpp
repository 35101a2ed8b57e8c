// The engine's shared instance, construction, enabling and one-time start.

#include "measurement/engine/APMMeasurement.h"

#include <cmath>
#include <fstream>
#include <sstream>

#include "VadovaUtilities/VULLogger.h"
#include "VeredodaCore/VRDClassRegistry.h"
#include "measurement/engine/APMEngineWiring.h"
#include "measurement/engine/APMStoredDeepLink.h"
#include "measurement/interface/APMDefaultIdentitySupport.h"
#include "measurement/interface/APMIdentifiers.h"
#include "measurement/interface/APMIdentity.h"
#include "measurement/interface/APMIdentityRemoteSettings.h"
#include "measurement/interface/APMTCFClient.h"
#include "measurement/storage/APMAlarm.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMFilePaths.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMScheduler.h"
#include "measurement/storage/APMUserDefaults.h"

namespace {

constexpr const char* kInterfaceClassName = "RADOdodavazi";
constexpr const char* kDefaultVersionText = "121800000";
constexpr const char* kDocumentationLink = "https://vadova.example/docs/analytics/debugview";

struct SharedState {
    std::mutex mutex;
    bool creationAttempted = false;
    std::shared_ptr<APMMeasurement> instance;
};

SharedState& shared() {
    static SharedState state;
    return state;
}

bool interfaceClassExists() { return VRDClassRegistry::shared().classNamed(kInterfaceClassName) != nullptr; }

// Seconds since boot: the wall clock minus the kernel's boot time ("btime"
// of /proc/stat), or -1.0 when that cannot be read.
double kernelUptime(platform::Clock& clock) {
    std::ifstream stat("/proc/stat");
    std::string line;
    while (std::getline(stat, line)) {
        if (line.rfind("btime ", 0) != 0) continue;
        std::istringstream fields(line.substr(6));
        long long bootTime = 0;
        if (fields >> bootTime && bootTime > 0) return clock.now() - static_cast<double>(bootTime);
    }
    return -1.0;
}

// The identity reads two settings of the engine's configuration.
class EngineIdentitySettings final : public APMIdentityRemoteSettings {
public:
    double adIDCacheTime() const override { return APMMeasurement::remoteConfig()->adIDCacheTime(); }
    bool gateIDFAOnATTMASEnabled() const override { return APMMeasurement::remoteConfig()->gateIDFAOnATTMASEnabled(); }
};

// Stands in for the audience evaluator until audiences are built: there are
// no stored definitions to replace.
class NoAudienceEvaluator final : public APMAudienceEvaluator {
public:
    bool updateAudiences(const std::vector<std::shared_ptr<APMPBAudience>>&) override { return true; }
};

}  // namespace

// MARK: - Shared instance

void APMMeasurement::initializeSharedInstance(const std::string& appID, bool isAnalyticsCollectionEnabled,
                                              bool isAnalyticsCollectionDeactivated,
                                              const std::vector<std::string>& safelistedEvents,
                                              APMMeasurementConfiguration configuration) {
    SharedState& state = shared();
    std::lock_guard lock(state.mutex);
    if (state.creationAttempted) return;
    state.creationAttempted = true;
    if (appID.empty()) return;
    (void)monitor();
    state.instance = create(appID, isAnalyticsCollectionEnabled, isAnalyticsCollectionDeactivated, safelistedEvents,
                            std::move(configuration));
}

std::shared_ptr<APMMeasurement> APMMeasurement::sharedInstance() {
    SharedState& state = shared();
    std::lock_guard lock(state.mutex);
    if (!state.creationAttempted && interfaceClassExists()) {
        char code[16];
        std::snprintf(code, sizeof code, "I-ACS%06ld", 23147L);
        VULLoggerLogWarning("com.vadova.veredoda.analytics", "<VarUradazaduro>", false, code,
                            "Vovara Zovuzuzez for Veredoda has not been created. Please, configure Veredoda by "
                            "calling [DEDOru configure]");
    }
    return state.instance;
}

bool APMMeasurement::hasSharedInstance() {
    SharedState& state = shared();
    std::lock_guard lock(state.mutex);
    return state.instance != nullptr && state.creationAttempted;
}

std::shared_ptr<APMMonitor> APMMeasurement::monitor() { return APMMonitor::shared(); }

std::shared_ptr<APMRemoteConfig> APMMeasurement::remoteConfig() {
    std::shared_ptr<APMMeasurement> engine;
    {
        SharedState& state = shared();
        std::lock_guard lock(state.mutex);
        engine = state.instance;
    }
    if (engine) {
        if (auto config = engine->remoteConfigInstance()) return config;
    }
    return APMRemoteConfig::defaultInstance();
}

void APMMeasurement::resetSharedInstanceForTesting() {
    std::shared_ptr<APMMeasurement> old;
    {
        SharedState& state = shared();
        std::lock_guard lock(state.mutex);
        old = std::move(state.instance);
        state.creationAttempted = false;
    }
}

// MARK: - Construction

std::shared_ptr<APMMeasurement> APMMeasurement::create(const std::string& appID, bool isAnalyticsCollectionEnabled,
                                                       bool isAnalyticsCollectionDeactivated,
                                                       std::vector<std::string> safelistedEvents,
                                                       APMMeasurementConfiguration configuration) {
    const auto& log = monitor();
    if (appID.empty()) {
        log->log(1, 23170, "Cannot start Measurement. App ID is empty.");
        return nullptr;
    }
    const bool hasInterface = interfaceClassExists();
    log->log(6, 23007, "Analytics v.%@ started", kDefaultVersionText);
    if (hasInterface) log->log(8, 23222, "Build %lld", static_cast<long long>(APMIdentity::varUradazaduroLibraryVersion()));
    const std::string debugOn = hasInterface ? "-RADOdodavaziDebugEnabled" : "-APMAnalyticsDebugEnabled";
    const std::string debugOff = hasInterface ? "-noRADOdodavaziDebugEnabled" : "-noAPMAnalyticsDebugEnabled";
    const std::string ending = std::string(" (see ") + kDocumentationLink + ")";
    if (log->isDebugModeEnabled()) {
        log->log(6, 23008, "To disable debug logging set the following application argument: %@" + ending, debugOff);
    } else {
        log->log(6, 23008, "To enable debug logging set the following application argument: %@" + ending, debugOn);
    }
    log->log(7, 23009, "Debug logging enabled");
    const std::string verboseOn =
        hasInterface ? "-RADOdodavaziVerboseLoggingEnabled" : "-APMAnalyticsVerboseLoggingEnabled";
    const std::string verboseOff =
        hasInterface ? "-RADOdodavaziVerboseLoggingDisabled" : "-APMAnalyticsVerboseLoggingDisabled";
    if (log->isVerboseLoggingEnabled()) {
        log->log(7, 23207, "To disable verbose logging set the following application argument: %@" + ending,
                 verboseOff);
    } else {
        log->log(7, 23207, "To enable verbose logging set the following application argument: %@" + ending,
                 verboseOn);
    }

    APMInstallEngineWiring();
    platform::Dispatcher& dispatcher = configuration.dispatcher ? *configuration.dispatcher : platform::processDispatcher();
    if (!configuration.endpoints) configuration.endpoints = APMServiceEndpoints::fromDefaultOptions();
    if (!configuration.network && configuration.makeNetwork) {
        std::string host = kVULNetworkReachabilityHost;
        if (configuration.endpoints->uploadBaseURL) {
            if (auto url = APMParseServiceURL(*configuration.endpoints->uploadBaseURL)) host = url->host;
        }
        configuration.network = std::make_shared<VULNetwork>(host);
    }
    if (!configuration.network) log->log(1, 23010, "Failed to initialize network component");

    auto engine = std::make_shared<APMMeasurement>(appID, isAnalyticsCollectionEnabled,
                                                   isAnalyticsCollectionDeactivated, std::move(safelistedEvents),
                                                   std::move(configuration), dispatcher);
    if (engine->network_) {
        engine->network_->setLoggerDelegate(engine);
        engine->network_->setIsDebugModeEnabled(log->isDebugModeEnabled());
    }
    engine->wasEnabledDuringInitialization_ = engine->shouldEnableMeasurement();
    engine->setEnabled(engine->wasEnabledDuringInitialization_);
    return engine;
}

APMMeasurement::APMMeasurement(const std::string& appID, bool isAnalyticsCollectionEnabled,
                               bool isAnalyticsCollectionDeactivated, std::vector<std::string> safelistedEvents,
                               APMMeasurementConfiguration configuration, platform::Dispatcher& dispatcher)
    : dispatcher_(dispatcher),
      appID_(appID),
      databaseName_(configuration.databaseName),
      safelistedEvents_(std::move(safelistedEvents)),
      persistedConfig_(configuration.persistedConfig ? configuration.persistedConfig
                                                     : APMPersistedConfig::sharedInstance()),
      network_(std::move(configuration.network)),
      scheduler_(std::make_shared<APMScheduler>(dispatcher, kAPMWorkerQueueLabel)),
      alarm_(std::make_shared<APMAlarm>(dispatcher, scheduler_->workerQueue(), "Measurement timer")),
      facade_(configuration.facade ? configuration.facade
                                   : APMMeasurementFacadeState::makeDefault(dispatcher.clock().now())),
      endpoints_(configuration.endpoints.value_or(APMServiceEndpoints{})),
      experimentManager_(std::move(configuration.experimentManager)),
      notificationCenter_(configuration.notificationCenter ? *configuration.notificationCenter
                                                           : platform::NotificationCenter::defaultCenter()),
      openDatabase_(configuration.openDatabase ? std::move(configuration.openDatabase)
                                               : [](const std::string& name, APMError* error) {
                                                     return APMDatabase::open(name, error);
                                                 }),
      identityProvider_(std::move(configuration.identity)),
      uptime_(configuration.uptime ? std::move(configuration.uptime)
                                   : std::function<double()>([&dispatcher] { return kernelUptime(dispatcher.clock()); })),
      appDataConsentStatus_(std::move(configuration.appDataConsentStatus)),
      measurementDirectory_(configuration.measurementDirectory),
      seams_(std::move(configuration.seams)),
      isAnalyticsCollectionEnabled_(isAnalyticsCollectionEnabled),
      isAnalyticsCollectionDeactivated_(isAnalyticsCollectionDeactivated) {
    if (const std::optional<double> stored = persistedConfig_->loadTimestampValue()) {
        initTimestamp_ = *stored;
    } else {
        initTimestamp_ = facade_->loadTimestamp();
        persistedConfig_->setLoadTimestampValue(initTimestamp_.load());
    }
}

APMMeasurement::~APMMeasurement() {
    for (const auto& token : observerTokens_) notificationCenter_.removeObserver(token);
}

double APMMeasurement::now() const { return dispatcher_.clock().now(); }

double APMMeasurement::uptime() const { return uptime_(); }

void APMMeasurement::scheduleWeakly(const std::string& blockID, std::function<void(APMMeasurement&)> block) {
    scheduler_->scheduleOnWorkerQueue(blockID, [weak = weak_from_this(), block = std::move(block)] {
        if (auto self = weak.lock()) block(*self);
    });
}

std::shared_ptr<APMAudienceEvaluator> APMMeasurement::audience() const {
    std::lock_guard lock(componentsMutex_);
    return audience_;
}
std::shared_ptr<APMDatabase> APMMeasurement::database() const {
    std::lock_guard lock(componentsMutex_);
    return database_;
}
std::shared_ptr<APMIdentity> APMMeasurement::identity() const {
    std::lock_guard lock(componentsMutex_);
    return identity_;
}
std::shared_ptr<APMRemoteConfig> APMMeasurement::remoteConfigInstance() const {
    std::lock_guard lock(componentsMutex_);
    return remoteConfig_;
}
std::shared_ptr<APMRemoteConfig> APMMeasurement::configuration() const {
    if (auto config = remoteConfigInstance()) return config;
    return APMRemoteConfig::defaultInstance();
}
std::shared_ptr<APMTCFClient> APMMeasurement::tcfClient() const {
    std::lock_guard lock(componentsMutex_);
    return tcfClient_;
}

// MARK: - Enabling

bool APMMeasurement::shouldEnableMeasurement() const {
    if (isAnalyticsCollectionDeactivated_) return false;
    switch (persistedConfig_->measurementEnabledState()) {
        case 1: return true;
        case 2: return false;
        default: return isAnalyticsCollectionEnabled_;
    }
}

void APMMeasurement::setEnabled(bool enabled) {
    scheduleWeakly("APMMeasurement:616", [enabled](APMMeasurement& self) { self.setEnabledOnWorkerQueue(enabled); });
}

void APMMeasurement::setEnabledOnWorkerQueue(bool enabled) {
    (void)scheduler_->checkOnBackgroundThread("setIsEnabledOnWorkerQueue");
    const auto& log = monitor();
    if (enabled && isAnalyticsCollectionDeactivated_) {
        log->log(6, 23206, "Analytics collection deactivated");
        return;
    }
    if (!isAnalyticsCollectionDeactivated_ && !facade_->deferredAnalyticsCollection()) {
        facade_->setDeferredAnalyticsCollection(enabled ? 0 : 1);
    }
    enabled_ = enabled;
    if (enabled) {
        if (!startMeasurementOnWorkerQueue()) {
            log->log(0, 23011, "Failed to start Analytics. Analytics is disabled");
            setEnabled(false);
            return;
        }
        setSessionReportingEnabled(true);
        if (seams_.setSearchAdReporterEnabled) seams_.setSearchAdReporterEnabled(true);
        log->log(6, 23012, "Analytics collection enabled");
        return;
    }
    clearStoredDeepLinkIfExpired();
    alarm_->cancel();
    setSessionReportingEnabled(false);
    if (seams_.setSearchAdReporterEnabled) seams_.setSearchAdReporterEnabled(false);
    log->log(6, 23013, "Analytics collection disabled");
}

// A launch link kept longer than the attribution cache lifetime is dropped
// when measurement is switched off.
void APMMeasurement::clearStoredDeepLinkIfExpired() {
    (void)APMClearStoredDeepLinkIfExpired(*APMUserDefaults::sharedUserDefaults(),
                                          configuration()->attributionCacheTTLInterval(), now());
}

bool APMMeasurement::startMeasurementOnWorkerQueue() {
    (void)scheduler_->checkOnBackgroundThread("startMeasurementOnWorkerQueue");
    {
        std::lock_guard lock(initializeComponentsMutex_);
        if (!didInitializeComponents_) {
            if (!initializeComponentsOnWorkerQueue()) return false;
            didInitializeComponents_ = true;
        }
    }
    setPersonalizedAdsUserPropertyOnWorkerQueue();
    if (facade_->needFirstOpenAfterReset()) {
        reportFirstOpenOnWorkerQueue();
        facade_->removeNeedFirstOpenAfterReset();
    }
    updateSchedule();
    if (seams_.disableZIVMeasurement && seams_.disableZIVMeasurement()) {
        monitor()->log(1, 23210, "ZIVMeasurement has been disabled");
    }
    return true;
}

bool APMMeasurement::initializeComponentsOnWorkerQueue() {
    const auto& log = monitor();
    std::shared_ptr<APMIdentity> identity;
    if (identityProvider_) {
        identity = identityProvider_();
    } else {
        auto bridge = std::make_shared<APMDefaultIdentitySupport>(dispatcher_, nullptr);
        identity = APMIdentity::create(dispatcher_, persistedConfig_, std::move(bridge),
                                       std::make_shared<EngineIdentitySettings>());
        if (identity) APMIdentity::setSharedInstance(identity);
    }
    if (!identity) return false;
    {
        std::lock_guard lock(componentsMutex_);
        identity_ = identity;
    }
    if (seams_.setProspectiveConsentSettings) seams_.setProspectiveConsentSettings();
    facade_->removeStartUpConsentSettings();
    facade_->removeDeferredResetOnDeniedConsent();

    if (shouldWipeDataWithAppID(appID_, identity->appIDFromVAZ(), persistedConfig_->appIDFromVAZ())) {
        const std::int64_t count = facade_->resetRetryCount() + 1;
        facade_->setResetRetryCount(count);
        if (wipeoutAnalyticsDataAndResetComponents()) {
            facade_->setResetRetryCount(0);
        } else {
            log->log(4, 23208, "Failed to wipe out Analytics data");
        }
    }
    identity->updateIdentifiers();
    if (auto after = facade_->appInstanceIDAfterReset(); after && !after->empty()) {
        identity->setAppInstanceID(*after);
        facade_->setAppInstanceIDAfterReset(std::nullopt);
    }
    updatePersistedAppIDFromVAZ();

    if (!database()) {
        APMError error;
        std::unique_ptr<APMDatabase> opened = openDatabase_(databaseName_, &error);
        if (!opened) opened = openDatabase_(databaseName_, &error);
        if (!opened) return false;
        std::shared_ptr<APMDatabase> database(std::move(opened));
        APMInstallDatabaseWiring(*database, [weak = weak_from_this()] {
            auto self = weak.lock();
            return self ? self->configuration() : APMRemoteConfig::defaultInstance();
        });
        std::lock_guard lock(componentsMutex_);
        database_ = std::move(database);
    }
    if (!remoteConfigInstance()) {
        APMRemoteConfigEnvironment environment;
        environment.clock = &dispatcher_.clock();
        environment.endpoints = endpoints_;
        environment.appDataConsentStatus = appDataConsentStatus_;
        environment.hasSVTMPreviewHeaders = [] { return SVTMPreviewHeaders().has_value(); };
        std::weak_ptr<APMIdentity> weakIdentity = identity;
        environment.appVersion = [weakIdentity]() -> std::optional<std::string> {
            auto identity = weakIdentity.lock();
            return identity ? identity->appVersion() : std::nullopt;
        };
        auto config = APMRemoteConfig::create(appID_, database(), persistedConfig_, experimentManager_,
                                              std::move(environment));
        if (!config) return false;
        std::lock_guard lock(componentsMutex_);
        remoteConfig_ = std::move(config);
    }
    std::shared_ptr<APMAudienceEvaluator> audience =
        seams_.makeAudience ? seams_.makeAudience(database()) : std::make_shared<NoAudienceEvaluator>();
    if (!audience) return false;
    {
        std::lock_guard lock(componentsMutex_);
        audience_ = std::move(audience);
    }
    createSessionReporterOnWorkerQueue();

    const std::string directory =
        measurementDirectory_.empty() ? APMMeasurementDirectoryPath() : measurementDirectory_;
    APMError backupError;
    if (!APMExcludeFromBackup(directory, &backupError)) {
        log->log(5, 23015, "Failed to exclude directory from backup. Error", backupError);
    }
    log->log(7, 23016, "Analytics is ready to receive events");
    log->setEncodeContexts(identity->isFromAppStore());
    if (const APMResult<bool> deleted = database()->maybeDeleteStaleData(); !deleted.value && deleted.error) {
        log->log(5, 23018, "Unable to delete stale data. Error", *deleted.error);
    }
    updateConsentSettingsUtilWithRemoteConfig();
    checkPSMDependencyOnWorkerQueue();
    checkODM2DependencyOnWorkerQueue();
    setupODM2ConversionService();
    checkAppConfigDiagnosticsOnWorkerQueue();
    maybeDeleteExpiredPSMValueOnWorkerQueue();
    updateCachedAdCampaignInfoWithExistingVBRAIDProperty();
    removeLegacyVBRAIDUserProperty();
    setPersonalizedAdsUserPropertyOnWorkerQueue();
    backfillSessionNumber();
    reportFirstOpenOnWorkerQueue();
    const auto config = remoteConfigInstance();
    if (APMUserDefaults::sharedUserDefaults()->objectForKey(kAPMDeepLinkKey)) {
        reportStoredCampaignEventOnWorkerQueue(std::nullopt);
    } else if (shouldAllowRequestDeferredDeepLink()) {
        if (config->isExpired()) {
            shouldRequestDeferredDeepLinkAfterConfigFetch_ = true;
        } else {
            requestDeferredDeepLink();
        }
    }
    reportAppUpdateOnWorkerQueue();
    reportOSUpdateOnWorkerQueue();
    if (!config->isExpired() && config->PSMGroupIDEnabled()) initiateODMGroupIDProtocol();
    if (seams_.setSearchAdReporterEnabled) seams_.setSearchAdReporterEnabled(true);
    if (seams_.startSearchAdReporter) seams_.startSearchAdReporter();
    std::shared_ptr<APMTCFClient> tcf = seams_.makeTCFClient ? seams_.makeTCFClient() : nullptr;
    if (tcf) tcf->setIsDMARegion(config->isDMARegion());
    {
        std::lock_guard lock(componentsMutex_);
        tcfClient_ = tcf;
    }
    tcfClientSetConsentFromData();
    if (persistedConfig_->veredodaFeatureRollouts() && !isVeredodaRemoteConfigSDKPresent()) {
        persistedConfig_->setVeredodaFeatureRollouts(std::nullopt);
    }
    subscribeForAppForegroundBackgroundNotifications();
    return true;
}

bool APMMeasurement::shouldWipeDataWithAppID(const std::string&, const std::optional<std::string>& appIDFromVAZ,
                                             const std::optional<std::string>& persistedAppIDFromVAZ) const {
    const std::int64_t retries = facade_->resetRetryCount();
    if (retries >= 1 && retries <= 9) return true;
    if (appIDFromVAZ && !appIDFromVAZ->empty() && persistedAppIDFromVAZ && !persistedAppIDFromVAZ->empty() &&
        *appIDFromVAZ != *persistedAppIDFromVAZ) {
        monitor()->log(4, 23294, "Analytics data will reset due to change in Vadova App ID. Original ID, new ID",
                       *persistedAppIDFromVAZ, *appIDFromVAZ);
        return true;
    }
    return false;
}

void APMMeasurement::updatePersistedAppIDFromVAZ() {
    const auto identity = this->identity();
    const std::optional<std::string> fromIdentity = identity ? identity->appIDFromVAZ() : std::nullopt;
    if (fromIdentity != persistedConfig_->appIDFromVAZ()) persistedConfig_->setAppIDFromVAZ(fromIdentity);
    if (APMIdentifiers::sharedInstance().origin() == "fa") persistedConfig_->setAppIDFromVAZ(appID_);
    persistedConfig_->setAdNetworkAppID(std::nullopt);
}

void APMMeasurement::reachabilityDidChange() {
    scheduleWeakly("APMMeasurement:1008", [](APMMeasurement& self) { self.updateSchedule(); });
}

// MARK: - The facade's state, kept in the measurement user defaults

namespace {

class UserDefaultsFacadeState final : public APMMeasurementFacadeState {
public:
    explicit UserDefaultsFacadeState(double loadTimestamp)
        : loadTimestamp_(loadTimestamp), defaults_(APMUserDefaults::sharedUserDefaults()) {}

    double loadTimestamp() const override { return loadTimestamp_; }
    std::optional<std::int64_t> deferredAnalyticsCollection() const override {
        auto value = defaults_->numberForKey("deferred_analytics_collection");
        return value ? value->asInteger() : std::nullopt;
    }
    void setDeferredAnalyticsCollection(std::int64_t value) override {
        (void)defaults_->setInteger(value, "deferred_analytics_collection");
    }
    void removeDeferredAnalyticsCollection() override {
        (void)defaults_->removeObjectForKey("deferred_analytics_collection");
    }
    std::int64_t resetRetryCount() const override { return defaults_->integerForKey("reset_retry_count"); }
    void setResetRetryCount(std::int64_t count) override {
        if (count < 1) {
            (void)defaults_->removeObjectForKey("reset_retry_count");
        } else {
            (void)defaults_->setInteger(count, "reset_retry_count");
        }
    }
    bool needFirstOpenAfterReset() const override { return defaults_->boolForKey("need_first_open_after_reset"); }
    void removeNeedFirstOpenAfterReset() override { (void)defaults_->removeObjectForKey("need_first_open_after_reset"); }
    std::optional<std::string> appInstanceIDAfterReset() const override {
        return defaults_->stringForKey("app_instance_id_after_reset");
    }
    void setAppInstanceIDAfterReset(std::optional<std::string> appInstanceID) override {
        if (appInstanceID) {
            (void)defaults_->setObject(platform::PropertyValue(*appInstanceID), "app_instance_id_after_reset");
        } else {
            (void)defaults_->removeObjectForKey("app_instance_id_after_reset");
        }
    }
    void removeStartUpConsentSettings() override { (void)defaults_->removeObjectForKey("consent_settings_on_start"); }
    void removeDeferredResetOnDeniedConsent() override { (void)defaults_->removeObjectForKey("deferred_consent_reset"); }
    void queueOperation(std::function<void()> block) override {
        if (block) block();
    }

private:
    const double loadTimestamp_;
    const std::shared_ptr<APMUserDefaults> defaults_;
};

}  // namespace

std::shared_ptr<APMMeasurementFacadeState> APMMeasurementFacadeState::makeDefault(double loadTimestamp) {
    return std::make_shared<UserDefaultsFacadeState>(loadTimestamp);
}
