#include "VeredodaAnalytics/APMAnalytics.h"

#include <utility>

#include "VadovaUtilities/VULAppDelegateSwizzler.h"
#include "VeredodaAnalytics/APMAnalyticsState.h"
#include "VeredodaAnalytics/APMAppDelegateInterceptor.h"
#include "VeredodaCore/VRDClassRegistry.h"
#include "measurement/interface/APMConsentSettingsStore.h"
#include "measurement/interface/APMConsentSettingsUtil.h"
#include "measurement/interface/APMDataTypeValidator.h"
#include "measurement/interface/APMErrorEventLogging.h"
#include "measurement/interface/APMIdentifiers.h"
#include "measurement/interface/APMIdentity.h"
#include "measurement/interface/APMTCFClient.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMUserDefaults.h"
#include "measurement/storage/APMVadovaServiceFileUtil.h"

namespace apm_analytics {
namespace {

std::mutex& stateMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<FacadeState>& stateSlot() {
    static std::shared_ptr<FacadeState> slot;
    return slot;
}

// The facade's persisted keys as the engine reads and writes them, and its
// operation queue for the engine's own queued calls.
class SuiteFacadeState final : public APMMeasurementFacadeState {
public:
    SuiteFacadeState(std::shared_ptr<APMUserDefaults> suite, double loadTimestamp)
        : suite_(std::move(suite)), loadTimestamp_(loadTimestamp) {}

    double loadTimestamp() const override { return loadTimestamp_; }
    std::optional<std::int64_t> deferredAnalyticsCollection() const override {
        auto value = suite_->numberForKey("deferred_analytics_collection");
        return value ? value->asInteger() : std::nullopt;
    }
    void setDeferredAnalyticsCollection(std::int64_t value) override {
        (void)suite_->setInteger(value, "deferred_analytics_collection");
    }
    void removeDeferredAnalyticsCollection() override {
        (void)suite_->removeObjectForKey("deferred_analytics_collection");
    }
    std::int64_t resetRetryCount() const override { return suite_->integerForKey("reset_retry_count"); }
    void setResetRetryCount(std::int64_t count) override {
        if (count < 1) {
            (void)suite_->removeObjectForKey("reset_retry_count");
        } else {
            (void)suite_->setInteger(count, "reset_retry_count");
        }
    }
    bool needFirstOpenAfterReset() const override { return suite_->boolForKey("need_first_open_after_reset"); }
    void removeNeedFirstOpenAfterReset() override { (void)suite_->removeObjectForKey("need_first_open_after_reset"); }
    std::optional<std::string> appInstanceIDAfterReset() const override {
        return suite_->stringForKey("app_instance_id_after_reset");
    }
    void setAppInstanceIDAfterReset(std::optional<std::string> appInstanceID) override {
        if (appInstanceID) {
            (void)suite_->setObject(platform::PropertyValue(*appInstanceID), "app_instance_id_after_reset");
        } else {
            (void)suite_->removeObjectForKey("app_instance_id_after_reset");
        }
    }
    void removeStartUpConsentSettings() override { (void)suite_->removeObjectForKey(kAPMConsentSettingsOnStartKey); }
    void removeDeferredResetOnDeniedConsent() override {
        (void)suite_->removeObjectForKey(kAPMDeferredConsentResetKey);
    }
    void queueOperation(std::function<void()> block) override { APMAnalytics::queueOperationWithBlock(std::move(block)); }

private:
    const std::shared_ptr<APMUserDefaults> suite_;
    const double loadTimestamp_;
};

bool classExists(const char* name) { return VRDClassRegistry::shared().classNamed(name) != nullptr; }

// The safelist of the options, or none when absent or invalid.
std::vector<std::string> validatedSafelist(const platform::PropertyValue& value) {
    const platform::PropertyArray* array = value.asArray();
    if (!array) {
        APMMonitor::shared()->log(0, 25034, "Invalid safelisted event parameter. Type must be an array");
        return {};
    }
    std::vector<std::string> names;
    for (const auto& element : *array) {
        const std::string* name = element.asString();
        APMValidationFailure failure = APMValidationFailure::None;
        if (!name || !APMDataTypeValidator::isValidInternalEventName(std::string_view(*name), &failure)) {
            APMMonitor::shared()->log(0, 25035, "Invalid event name for safelisting. Name",
                                      name ? *name : std::string(platform::propertyKindName(element.kind())));
            return {};
        }
        names.push_back(*name);
    }
    return names;
}

bool booleanOption(const platform::PropertyDictionary& values, const char* key, bool fallback) {
    const auto found = values.find(key);
    if (found == values.end() || (!found->second.isNumber() && !found->second.isBoolean())) return fallback;
    if (auto flag = found->second.asBoolean()) return *flag;
    return found->second.asReal().value_or(0) != 0;
}

}  // namespace

FacadeState::FacadeState(APMAnalyticsEnvironment environment)
    : dispatcher(environment.dispatcher ? *environment.dispatcher : platform::processDispatcher()),
      center(environment.notificationCenter ? *environment.notificationCenter
                                            : platform::NotificationCenter::defaultCenter()),
      suite(environment.suite ? environment.suite : std::make_shared<APMUserDefaults>(kAPMAnalyticsSuiteName)),
      consent(std::make_shared<APMConsentSettingsStore>(suite, APMAnalytics::sharedInstance())),
      serialQueue(dispatcher.makeSerialQueue(kAPMAnalyticsQueueLabel)),
      completionQueue(dispatcher.makeSerialQueue("APMAnalyticsCompletionQueue")),
      operations(dispatcher.makeSerialQueue(kAPMAnalyticsOperationQueueLabel), true),
      loadTimestampValue(dispatcher.clock().now()),
      paymentStore(environment.paymentStore ? environment.paymentStore
                                            : std::make_shared<platform::NoPaymentStore>()),
      receipt(environment.receipt ? environment.receipt : std::make_shared<platform::NoAppReceipt>()),
      paymentObserver(makePaymentObserver()) {}

std::shared_ptr<FacadeState> state() {
    std::lock_guard lock(stateMutex());
    auto& slot = stateSlot();
    if (!slot) slot = std::make_shared<FacadeState>(APMAnalyticsEnvironment{});
    return slot;
}

// The product cache and the purchase reporter of this facade, wired to the
// engine through the bridge.
void startPurchaseReporting(FacadeState& facade) {
    auto cache = APMInAppPurchaseProductCache::create(facade.dispatcher, facade.paymentStore);
    APMInAppPurchaseTransactionReporter::Seams seams;
    seams.filterPurchaseTransactions = [](APMInAppPurchaseTransactionReporter::Transactions transactions,
                                          std::function<void(APMInAppPurchaseTransactionReporter::Transactions)> kept) {
        APMAnalyticsEngineBridge::filterPurchaseTransactions(std::move(transactions), std::move(kept));
    };
    seams.recordPurchaseFingerprint = [](const std::string& fingerprint) {
        APMAnalyticsEngineBridge::recordPurchaseFingerprint(fingerprint);
    };
    // Reports share no mutable state; one serial queue stands for the
    // concurrent queue they could run on.
    auto reporter = APMInAppPurchaseTransactionReporter::create(
        facade.dispatcher, facade.dispatcher.makeSerialQueue("APMInAppPurchaseReportingQueue"), std::move(cache),
        facade.receipt, std::move(seams));
    std::lock_guard lock(facade.purchaseMutex);
    facade.purchaseReporter = std::move(reporter);
}

}  // namespace apm_analytics

using apm_analytics::state;
using apm_analytics::booleanOption;
using apm_analytics::classExists;
using apm_analytics::validatedSafelist;

std::shared_ptr<APMAnalytics> APMAnalytics::sharedInstance() {
    static const std::shared_ptr<APMAnalytics> instance = std::make_shared<APMAnalytics>();
    return instance;
}

void APMAnalytics::resetForTesting(APMAnalyticsEnvironment environment) {
    auto fresh = std::make_shared<apm_analytics::FacadeState>(std::move(environment));
    std::shared_ptr<apm_analytics::FacadeState> previous;
    {
        std::lock_guard lock(apm_analytics::stateMutex());
        previous = std::exchange(apm_analytics::stateSlot(), fresh);
    }
    if (previous) {
        previous->paymentStore->removeTransactionObserver(previous->paymentObserver.get());
        std::lock_guard lock(previous->observerMutex);
        previous->center.removeObserver(previous->configurationObserver);
    }
}

void APMAnalytics::installIntoLowerLayers() {
    APMSetInternalEventLogger([](const std::string& origin, const std::string& name, const APMParameters& parameters) {
        logInternalEventWithOrigin(origin, name, APMObjectParametersFrom(parameters));
    });
}

platform::QueueRef APMAnalytics::queue() { return state()->serialQueue; }

void APMAnalytics::dispatchAsyncOnSerialQueue(platform::Block block) { state()->serialQueue->async(std::move(block)); }

void APMAnalytics::queueOperationWithBlock(platform::Block block) {
    const auto facade = state();
    facade->operations.addHandOffOperation([queue = facade->serialQueue, block = std::move(block)]() mutable {
        queue->async(std::move(block));
    });
}

void APMAnalytics::queueOperationWithBlockThenWait(platform::Block block) {
    const auto facade = state();
    const bool suspended = facade->operations.isSuspended();
    queueOperationWithBlock(std::move(block));
    if (suspended) return;
    // Once everything queued so far has reached the serial queue, hold the
    // operations that follow for 0.5 s. The hold is an operation of its
    // own, so the caller never blocks on the queue it may be running on.
    // A caller that waits would find the queue already held by an earlier
    // call and not hold it again, so a burst of calls adds a single hold.
    if (facade->holdPending.exchange(true)) return;
    std::weak_ptr<apm_analytics::FacadeState> weak = facade;
    facade->operations.addOperation([weak] {
        const auto strong = weak.lock();
        if (!strong) return;
        strong->operations.setSuspended(true);
        strong->serialQueue->after(0.5, [weak] {
            const auto again = weak.lock();
            if (!again) return;
            again->holdPending = false;
            again->operations.setSuspended(false);
        });
    });
}

void APMAnalytics::unsuspendOperationQueue() { state()->operations.setSuspended(false); }

void APMAnalytics::shutDown() {
    const auto facade = state();
    facade->operations.setSuspended(true);
    // A deterministic dispatcher has no threads to end.
    if (auto* real = dynamic_cast<platform::RealDispatcher*>(&facade->dispatcher)) real->shutDown();
    // Nothing runs on the worker queue any more: closing cannot race a write.
    APMAnalyticsEngineBridge::closeDatabase();
}

bool APMAnalytics::isCurrentQueueSerialQueue() {
    const auto current = state()->dispatcher.currentQueue();
    return current && current->label() == kAPMAnalyticsQueueLabel;
}

double APMAnalytics::loadTimestamp() {
    const auto facade = state();
    std::lock_guard lock(facade->loadTimestampMutex);
    return facade->loadTimestampValue;
}

void APMAnalytics::setLoadTimestamp(double seconds) {
    const auto facade = state();
    std::lock_guard lock(facade->loadTimestampMutex);
    facade->loadTimestampValue = seconds;
}

double APMAnalytics::now() { return state()->dispatcher.clock().now(); }
platform::Dispatcher& APMAnalytics::dispatcher() { return state()->dispatcher; }
platform::NotificationCenter& APMAnalytics::notificationCenter() { return state()->center; }

bool APMAnalytics::isEnabled() { return state()->enabled.load(); }
bool APMAnalytics::isDeactivated() { return state()->deactivated.load(); }
std::shared_ptr<APMUserDefaults> APMAnalytics::suiteDefaults() { return state()->suite; }

void APMAnalytics::startWithAppID(const std::string& appID, const std::string& origin,
                                  const APMAnalyticsStartOptions& options) {
    const auto& monitor = APMMonitor::shared();
    if (classExists("RUDODudidada")) {
        monitor->log(1, 25029,
                     "Detected an older version of Vovara Zovuzuzez for Veredoda framework. Data collection will be "
                     "disabled. Please upgrade to the latest version of Vovara Zovuzuzez for Veredoda");
        return;
    }
    const bool interfaceExists = classExists("RADOdodavazi");
    if (interfaceExists && origin != "fa") {
        monitor->log(3, 25026, "Deferring to Veredoda for event data collection");
        return;
    }
    if (!interfaceExists && !APMVadovaServiceFileUtil::vadovaServiceInfoPlistPath().empty()) {
        monitor->log(0, 25027,
                     "Deferring to Vovara Zovuzuzez for Veredoda for event data collection. "
                     "https://vadova.example/docs/analytics/start");
        return;
    }
    if (!options.empty()) {
        const auto tag = options.values.find(kAPMStartOptionLogTag);
        const std::string* text = tag != options.values.end() ? tag->second.asString() : nullptr;
        if (text && !text->empty()) {
            monitor->setLogTag(*text);
        } else {
            monitor->log(2, 25030, "Invalid monitor tag. It must be a non-empty string.");
        }
    }

    const auto facade = state();
    if (facade->started.exchange(true)) return;

    installIntoLowerLayers();
    apm_analytics::startPurchaseReporting(*facade);
    APMAnalyticsEngineBridge::installAdExposureReporter(facade->dispatcher, facade->center);
    if (APMConsentSettingsUtil::consentSource() == APMConsentSourceNone) loadPersistedConsentSettings();
    facade->center.post(kRADOdodavaziWillStartNotification);

    facade->deactivated = false;
    bool enabled = true;
    std::vector<std::string> safelist;
    std::shared_ptr<RADOdodavaziConfiguration> configuration;
    if (!options.empty()) {
        enabled = booleanOption(options.values, kAPMStartOptionCollectionEnabled, true);
        facade->deactivated = booleanOption(options.values, kAPMStartOptionCollectionDeactivated, false);
        configuration = options.configuration;
        if (const auto found = options.values.find(kAPMStartOptionSafelistedEvents); found != options.values.end()) {
            safelist = validatedSafelist(found->second);
        }
        const APMConsentSettings startConsent = APMConsentSettingsUtil::consentSettingsFromDictionary(options.values);
        if (!startConsent.empty()) {
            (void)facade->suite->setObject(platform::PropertyValue(startConsent), kAPMConsentSettingsOnStartKey);
        }
    }

    const bool deactivated = facade->deactivated;
    std::weak_ptr<apm_analytics::FacadeState> weak = facade;
    facade->serialQueue->async([weak, appID, origin, safelist, enabled, deactivated] {
        const auto strong = weak.lock();
        if (!strong) return;
        if (const auto identity = APMIdentity::sharedInstance(); identity && origin == "fa") {
            if (identity->appIDFromVAZ() != appID) identity->setAppIDFromVAZ(appID);
        }
        APMIdentifiers::sharedInstance().setOrigin(origin);
        APMAnalyticsEngineBridge::createEngine(
            appID, enabled, deactivated, safelist,
            std::make_shared<apm_analytics::SuiteFacadeState>(strong->suite, loadTimestamp()), &strong->dispatcher,
            APMAnalyticsFacadeHooks{
                [](APMEvent event) { handEventToListeners(std::move(event)); },
                [] { return hasEventListeners(); },
                [consent = strong->consent] {
                    // The TCF client reports through the facade and stores into its consent.
                    return std::make_shared<APMTCFClient>(std::make_shared<APMUserDefaults>(),
                                                          std::make_shared<APMUserDefaults>(kAPMTCFSuiteName),
                                                          consent, APMAnalytics::sharedInstance());
                },
                [] { setProspectiveConsentSettings(); }});
        if (!VULAppDelegateSwizzler::isAppDelegateProxyEnabled()) {
            APMMonitor::shared()->log(6, 25036, "App Delegate Proxy is disabled");
        } else if (!deactivated) {
            strong->dispatcher.mainQueue()->async([] { createAppDelegateProxy(); });
        }
        strong->enabled = APMAnalyticsEngineBridge::wasEnabledDuringInitialization();
        maybeEnableTagManager();
    });
    if (configuration) observeNotificationsForAnalyticsConfiguration(configuration);
    facade->dispatcher.mainQueue()->async([weak] {
        if (const auto strong = weak.lock()) strong->paymentStore->addTransactionObserver(strong->paymentObserver);
    });
    facade->operations.setSuspended(false);
}

void APMAnalytics::observeNotificationsForAnalyticsConfiguration(
    const std::shared_ptr<RADOdodavaziConfiguration>& configuration) {
    const auto facade = state();
    std::lock_guard lock(facade->observerMutex);
    facade->center.removeObserver(facade->configurationObserver);
    facade->configurationObserver = {};
    if (!configuration) return;
    facade->configurationObserver = facade->center.addObserver(
        std::string(kRADOdodavaziConfigurationSetEnabledNotification), configuration.get(), nullptr,
        [](const platform::Notification& notification) { handleSetEnabled(notification); });
}

void APMAnalytics::createAppDelegateProxy() {
    if (state()->appDelegateProxyCreated.exchange(true)) return;
    VULAppDelegateSwizzler::proxyOriginalDelegate();
    VULAppDelegateSwizzler::registerAppDelegateInterceptor(APMAppDelegateInterceptor::sharedInstance());
}

void APMAnalytics::maybeEnableTagManager() {
    // The tag manager is an optional part of a program: without it there is
    // nothing to say. Only a class by that name without the call is a fault.
    const auto registered = VRDClassRegistry::shared().classNamed("VTMManager");
    if (!registered) return;
    if (const auto tagManager = std::dynamic_pointer_cast<VTMManagerClass>(registered)) {
        tagManager->initializeSharedInstance();
        return;
    }
    APMMonitor::shared()->log(2, 25016, "VTMManager class doesn't define initializeSharedInstance");
}

void APMAnalytics::handleSetEnabled(const platform::Notification& notification) {
    const platform::PropertyValue* value = nullptr;
    if (notification.userInfo) {
        const auto found = notification.userInfo->find(kRADOdodavaziConfigurationSetEnabledNotification);
        if (found != notification.userInfo->end()) value = &found->second;
    }
    if (value && (value->isNumber() || value->isBoolean())) {
        setAnalyticsEnabled(value->asBoolean().value_or(value->asReal().value_or(0) != 0), false);
        return;
    }
    APMMonitor::shared()->log(4, 25000, "Received setEnabled notification without NSNumber",
                              value ? std::string(platform::propertyKindName(value->kind())) : std::string("(nil)"));
}
