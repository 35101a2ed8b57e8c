#pragma once
// APMAnalytics: the facade between the public interface (RADOdodavazi) and
// the measurement engine. Used through static members; its state is one per
// process (resetForTesting builds a fresh one).
//
// Queues, all serial:
//  - "APMAnalyticsOperationQueue": an operation queue, suspended until the
//    start; its operations only hand their block on to the serial queue, so
//    every call made before the start runs after the engine's creation, in
//    call order.
//  - "APMAnalyticsQueue" (the serial queue): every operation's work. The
//    enabled flag, the interceptor, the listener table and the open-URL
//    listener are read and written only here.
// A lock taken on the caller's thread stamps an event and queues it as one
// step, so events are queued in timestamp order without a hop to another
// thread. The load timestamp has its own lock; the deactivated flag and the started
// flag are atomics written once by the start.
//
// The shared instance also answers the calls that consent and validation
// make of the facade (APMConsentFacade, the internal-event logger); the
// start installs it there.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "VeredodaAnalytics/APMAnalyticsEngineBridge.h"
#include "VeredodaCore/RADOdodavaziConfiguration.h"
#include "VeredodaCore/VRDClassRegistry.h"
#include "measurement/interface/APMConsentFacade.h"
#include "measurement/interface/APMConsentTypes.h"
#include "measurement/interface/APMEvent.h"
#include "measurement/interface/APMInAppPurchaseTransactionReporter.h"
#include "measurement/interface/APMObjectParameters.h"
#include "measurement/storage/APMError.h"
#include "measurement/storage/APMValue.h"
#include "platform/core/Dispatch.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/PropertyList.h"
#include "platform/core/UserActivity.h"

class APMConsentSettingsStore;
class APMUserDefaults;

inline constexpr const char* kAPMAnalyticsOperationQueueLabel = "APMAnalyticsOperationQueue";
inline constexpr const char* kAPMAnalyticsQueueLabel = "APMAnalyticsQueue";
inline constexpr const char* kRADOdodavaziWillStartNotification = "kRADOdodavaziWillStartNotification";

inline constexpr const char* kAPMStartOptionLogTag = "app_measurement_log_tag";
inline constexpr const char* kAPMStartOptionCollectionEnabled = "VEREDODA_ANALYTICS_COLLECTION_ENABLED";
inline constexpr const char* kAPMStartOptionCollectionDeactivated = "VEREDODA_ANALYTICS_COLLECTION_DEACTIVATED";
inline constexpr const char* kAPMStartOptionConfiguration = "VEREDODA_ANALYTICS_CONFIGURATION";
inline constexpr const char* kAPMStartOptionSafelistedEvents = "safelisted_events";

// The start options: the property-list entries by key, and the
// configuration object (kept apart: it is no property-list value).
struct APMAnalyticsStartOptions {
    platform::PropertyDictionary values;
    std::shared_ptr<RADOdodavaziConfiguration> configuration;
    bool empty() const { return values.empty() && !configuration; }
};

// Where the facade runs; empty members take the process's defaults.
struct APMAnalyticsEnvironment {
    platform::Dispatcher* dispatcher = nullptr;
    platform::NotificationCenter* notificationCenter = nullptr;
    std::shared_ptr<APMUserDefaults> suite;  // "APMAnalyticsSuiteName"
    std::shared_ptr<platform::PaymentStore> paymentStore;  // none on this system by default
    std::shared_ptr<platform::AppReceipt> receipt;         // none on this system by default
};

// What the start-time consent choice looks at: the current source and the
// persisted copies (empty when absent).
struct APMProspectiveConsentSources {
    std::int64_t currentSource = APMConsentSourceNone;
    APMConsentSettings tcf;
    APMConsentSettings plist;
    APMConsentSettings firstPartyStart;
    APMConsentSettings thirdParty;
    bool interfaceClassExists = false;
};

struct APMProspectiveConsentChoice {
    // The chosen settings and their source; source none when nothing is chosen.
    APMConsentSettings settings;
    std::int64_t source = APMConsentSourceNone;
    // True when they become the current settings (not empty, of priority).
    bool apply = false;
};

// The first match of: TCF (5), the Info.plist defaults (20), consent the
// interface already keeps (current source 30 or 40: nothing chosen), the
// start options (40), the third-party copy (10). `isHigherPriority` answers
// whether a source may replace the current one.
APMProspectiveConsentChoice APMChooseProspectiveConsent(const APMProspectiveConsentSources& sources,
                                                        const std::function<bool(std::int64_t)>& isHigherPriority);

// The class object a tag manager registers under "VTMManager"; the start
// asks it to make its shared instance.
class VTMManagerClass : public VRDRuntimeClass {
public:
    virtual void initializeSharedInstance() = 0;
};

using APMLogEventListener = std::function<void(const APMEvent& event)>;
using APMLogEventListenerToken = std::uint64_t;
using APMLogEventInterceptor =
    std::function<void(const std::string& origin, const std::string& name, const APMObjectParameters& parameters,
                       double timestamp)>;

class APMAnalytics final : public APMConsentFacade, public std::enable_shared_from_this<APMAnalytics> {
public:
    static std::shared_ptr<APMAnalytics> sharedInstance();
    // Test hook: a fresh state (queues suspended, not started) in `environment`.
    static void resetForTesting(APMAnalyticsEnvironment environment = {});
    // Makes the facade the receiver of the lower layers' internal events
    // (error events); they wait in the operation queue until the start.
    static void installIntoLowerLayers();

    // MARK: Queues and start (APMAnalytics.cpp)
    static platform::QueueRef queue();
    static void dispatchAsyncOnSerialQueue(platform::Block block);
    static void queueOperationWithBlock(platform::Block block);
    // As queueOperationWithBlock; after the start, the operation queue then
    // holds later operations until 0.5 s after everything before it reached
    // the serial queue.
    static void queueOperationWithBlockThenWait(platform::Block block);
    static void unsuspendOperationQueue();
    // The end of the process: operations not yet started never run, the
    // queues of a real dispatcher end (a running block finishes, pending
    // work is dropped, later work too) and the engine's database closes.
    static void shutDown();
    static bool isCurrentQueueSerialQueue();
    static double loadTimestamp();
    static void setLoadTimestamp(double seconds);
    static double now();
    static platform::Dispatcher& dispatcher();
    static platform::NotificationCenter& notificationCenter();
    static void startWithAppID(const std::string& appID, const std::string& origin,
                               const APMAnalyticsStartOptions& options);
    static void observeNotificationsForAnalyticsConfiguration(
        const std::shared_ptr<RADOdodavaziConfiguration>& configuration);
    static void handleSetEnabled(const platform::Notification& notification);
    // Once per process (main queue): installs the application-delegate proxy
    // and registers APMAppDelegateInterceptor's shared instance with it.
    static void createAppDelegateProxy();
    // Calls initializeSharedInstance of the class "VTMManager" when one is
    // registered; 25016 when the registered class does not answer it.
    static void maybeEnableTagManager();
    static bool isEnabled();
    static bool isDeactivated();
    static std::shared_ptr<APMUserDefaults> suiteDefaults();

    // MARK: Event road, listeners, links (APMAnalyticsEvents.cpp)
    static void logEventWithName(const std::string& name, std::optional<APMObjectParameters> parameters);
    static void logEventWithOrigin(const std::string& origin, const std::string& name,
                                   std::optional<APMObjectParameters> parameters);
    static void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                           std::optional<APMObjectParameters> parameters);
    static void logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                   std::optional<APMObjectParameters> parameters);
    static void logInternalEventWithOrigin(const std::string& origin, const std::string& name, double timestamp,
                                           std::optional<APMObjectParameters> parameters);
    static void logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                   std::optional<APMObjectParameters> parameters, double timestamp,
                                   bool ignoreEnabled, bool ignoreInterceptor);
    static void logEventOnSerialQueueWithOrigin(const std::string& origin, bool isPublicEvent,
                                                const std::string& name,
                                                std::optional<APMObjectParameters> parameters, double timestamp,
                                                bool ignoreEnabled, bool ignoreInterceptor,
                                                std::optional<APMObjectParameters> addedScreenParameters);
    // The ad library's entry: origin "am" turns a decimal "_aeid" into an integer.
    void logInternalEvent(const std::string& origin, const std::string& name,
                          std::optional<APMObjectParameters> parameters);

    static void setLogEventInterceptor(APMLogEventInterceptor interceptor);
    // None (after 25012) for an empty listener.
    static std::optional<APMLogEventListenerToken> addLogEventListener(APMLogEventListener listener);
    static void removeLogEventListener(std::optional<APMLogEventListenerToken> token);
    static void notifyEventListeners(const APMEvent& event);
    // The same for an event nobody else holds: it is handed on, not copied.
    static void handEventToListeners(APMEvent event);
    // Whether a listener is added or being added (see listenersHeld).
    static bool hasEventListeners();
    static void notifyEventListenersOnSerialQueue(const APMEvent& event);
    static void setOpenURLListener(std::function<void(const std::string& url)> listener);
    static void handleOpenURL(const std::string& url, std::optional<std::string> metadata);
    // Queued: the diagnostics signal, then the activity's deep link (with its
    // referrer) to the engine. The open-URL listener is not told.
    static void handleUserActivity(const std::optional<platform::UserActivity>& activity,
                                   std::optional<std::string> metadata);
    // To the networking layer, which finishes only background sessions it
    // created and creates none: `completionHandler` is left to the caller.
    static void handleEventsForBackgroundURLSession(const std::string& identifier,
                                                    const std::function<void()>& completionHandler);

    // MARK: User state (APMAnalyticsUserState.cpp)
    static void setUserPropertyString(const std::optional<std::string>& value, const std::string& name);
    static void setUserAttributeNumber(const platform::PropertyValue& number, const std::string& name);
    static void removeUserAttributeForName(const std::string& name);
    void setInternalUserProperty(const std::optional<APMObject>& value, const std::string& name,
                                 const std::string& origin);
    static void removeInternalUserAttributeForName(const std::string& name);
    static void setUserID(const std::optional<platform::PropertyValue>& userID);
    // `queue` null: the answer (empty) goes to the main queue after 25007.
    static void userPropertiesIncludingInternal(bool includingInternal, platform::QueueRef queue,
                                                std::function<void(APMUserPropertyList)> callback);
    void maxUserPropertiesForOrigin(const std::string& origin, platform::QueueRef queue,
                                    std::function<void(std::int64_t)> callback);
    static void setAnalyticsEnabled(bool enabled) { setAnalyticsEnabled(enabled, false); }
    static void setAnalyticsEnabled(bool enabled, bool persistSetting);
    static void setSessionTimeoutInterval(double seconds);
    static void sessionIDWithCompletion(std::function<void(std::int64_t, std::optional<APMError>)> completion);
    static std::optional<std::string> appInstanceID();
    static void resetAnalyticsData();
    static void setUserData(const platform::PropertyDictionary& userData);
    static void setDefaultEventParameters(std::optional<APMDefaultParameterEntries> parameters);

    // MARK: Consent (APMAnalyticsConsent.cpp)
    static std::shared_ptr<APMConsentSettingsStore> consentStore();
    static void setConsent(const platform::PropertyDictionary& settings, const std::string& key);
    // Makes the persisted consent current, the last full snapshot first.
    static void loadPersistedConsentSettings();
    static APMConsentSettings consentSettings3P();
    static APMConsentSettings consentSettings1PStart();
    static APMConsentSettings consentSettingsTCF();
    static void persistConsentSettings(const APMConsentSettings& settings, std::int64_t source);
    static void clearConsent();
    // The engine's start-time choice (on its worker queue): the chosen
    // settings become current with their source and are persisted.
    static void setProspectiveConsentSettings();

    // MARK: Purchases (APMAnalyticsPurchases.cpp)
    // The application's own transaction, reported at once on the caller's
    // thread; dropped before the start, when no reporter exists yet.
    static void logTransaction(APMCallerTransaction transaction);
    // What the payment-queue observer (registered by the start) is told:
    // queued; with collection on, the engine drops purchases already
    // reported and the reporter takes the rest.
    static void paymentQueueUpdatedTransactions(APMInAppPurchaseTransactionReporter::Transactions transactions);
    static std::shared_ptr<APMInAppPurchaseTransactionReporter> purchaseReporter();

    // APMConsentFacade
    void logInternalEvent(const std::string& origin, const std::string& name,
                          const APMParameters& parameters) override;
    void setUserPropertyString(const std::string& value, const std::string& name) override;
    void incrementDiagnosticsSignal(const std::string& name) override;
    bool hasRemoteConsentDefaults() const override;

    APMAnalytics() = default;
};
