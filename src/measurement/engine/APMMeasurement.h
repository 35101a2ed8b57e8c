#pragma once
// APMMeasurement: the measurement engine, one per process. It is built with
// its network client, worker queue ("com.vadova.divu.worker"), upload timer
// ("Measurement timer") and persisted configuration; the first enabling
// starts the remaining components on the worker queue (identity, database,
// remote configuration, audiences, reporters, consent client). It plans the
// uploads, fetches the remote configuration and follows the application's
// state.
//
// Threads: every operation named "...OnWorkerQueue", the scheduling and the
// fetch run on the worker queue and own the engine's mutable state there.
// Other threads reach the engine only by scheduling blocks on that queue
// (each holding the engine weakly), except the atomic flags and the
// component pointers, which are published under `componentsMutex_` so that
// accessors may be read from any thread. A component that a failed start
// left missing answers as an absent object would: false, 0 or none.
//
// The engine's parts are spread over files by concern: APMMeasurement.cpp
// (shared instance, construction, enabling, start), APMMeasurementUploadSchedule.cpp,
// APMConfigFetcher.cpp, APMMeasurementAppState.cpp (notifications, accessors,
// network log bridge), and the event road: APMMeasurementIntake.cpp (entry,
// default parameters, backfills), APMMeasurementPipeline.cpp (safelist,
// sessions, de-duplication, editing rules), APMMeasurementWriting.cpp
// (blocklist, daily limits, the write transaction), APMMeasurementRawEvents.cpp
// (metadata, storage cap, raw event), APMMeasurementUserProperties.cpp and
// APMMeasurementAggregates.cpp (counting at bundling time, purchases).
//
// One event's writes (lifetime value, daily counts, aggregates row,
// metadata, raw event) are one exclusive transaction: they commit together
// or not at all.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "VadovaUtilities/VULNetwork.h"
#include "measurement/engine/APMMeasurementSeams.h"
#include "measurement/engine/APMRemoteConfig.h"
#include "measurement/engine/APMServiceEndpoints.h"
#include "measurement/interface/APMEvent.h"
#include "measurement/interface/APMObjectParameters.h"
#include "measurement/storage/APMDailyCounts.h"
#include "measurement/storage/APMError.h"
#include "measurement/storage/APMUserAttribute.h"
#include "platform/core/Dispatch.h"
#include "platform/core/PaymentStore.h"
#include "platform/core/NotificationCenter.h"

class APMAlarm;
class APMDatabase;
class APMIdentity;
class APMMonitor;
class APMPersistedConfig;
class APMScheduler;
class APMTCFClient;
struct APMRawEventData;

// Application notifications the engine observes.
inline constexpr const char* kAPMApplicationDidFinishLaunchingNotification = "NSApplicationDidFinishLaunchingNotification";
inline constexpr const char* kAPMApplicationDidBecomeActiveNotification = "NSApplicationDidBecomeActiveNotification";
inline constexpr const char* kAPMApplicationWillResignActiveNotification = "NSApplicationWillResignActiveNotification";

// Everything the engine is built from. Empty members take the process's
// defaults (APMMeasurement.cpp says which).
struct APMMeasurementConfiguration {
    platform::Dispatcher* dispatcher = nullptr;
    std::shared_ptr<APMPersistedConfig> persistedConfig;
    // The network client; with `makeNetwork` and none given, one is made
    // watching the upload host.
    std::shared_ptr<VULNetwork> network;
    bool makeNetwork = true;
    std::string databaseName = "vadova-app-measurement.sql";
    std::function<std::unique_ptr<APMDatabase>(const std::string& name, APMError* error)> openDatabase;
    std::function<std::shared_ptr<APMIdentity>()> identity;
    std::shared_ptr<APMMeasurementFacadeState> facade;
    std::optional<APMServiceEndpoints> endpoints;  // default: from the options file
    std::shared_ptr<APMRemoteConfigExperimentManager> experimentManager;
    platform::NotificationCenter* notificationCenter = nullptr;
    // Seconds since boot, -1.0 when unknown; default from the kernel's boot time.
    std::function<double()> uptime;
    // App-data consent status (3: the restricted hosts); default all bits set.
    std::function<std::uint64_t()> appDataConsentStatus;
    // The folder excluded from backups; default the measurement folder.
    std::string measurementDirectory;
    APMMeasurementSeams seams;
};

class APMMeasurement : public std::enable_shared_from_this<APMMeasurement>,
                       public VULNetworkLoggerDelegate,
                       public VULNetworkReachabilityDelegate {
public:
    // Shared instance: created at most once per process; an empty app ID
    // marks creation as attempted and leaves the process without an engine.
    static void initializeSharedInstance(const std::string& appID, bool isAnalyticsCollectionEnabled,
                                         bool isAnalyticsCollectionDeactivated,
                                         const std::vector<std::string>& safelistedEvents,
                                         APMMeasurementConfiguration configuration = {});
    static std::shared_ptr<APMMeasurement> sharedInstance();
    static bool hasSharedInstance();
    static std::shared_ptr<APMMonitor> monitor();
    // The engine's configuration, else the default instance.
    static std::shared_ptr<APMRemoteConfig> remoteConfig();
    // Test hook: forgets the shared instance and the creation attempt.
    static void resetSharedInstanceForTesting();

    // The builder: null (after 23170) for an empty app ID.
    static std::shared_ptr<APMMeasurement> create(const std::string& appID, bool isAnalyticsCollectionEnabled,
                                                  bool isAnalyticsCollectionDeactivated,
                                                  std::vector<std::string> safelistedEvents,
                                                  APMMeasurementConfiguration configuration = {});
    ~APMMeasurement() override;
    APMMeasurement(const APMMeasurement&) = delete;
    APMMeasurement& operator=(const APMMeasurement&) = delete;

    // Enabling and start.
    bool shouldEnableMeasurement() const;
    void setEnabled(bool enabled);
    void setEnabledOnWorkerQueue(bool enabled);
    bool startMeasurementOnWorkerQueue();
    bool didInitializeComponents() const { return didInitializeComponents_.load(); }
    void setDidInitializeComponents(bool value) { didInitializeComponents_.store(value); }
    bool shouldWipeDataWithAppID(const std::string& appID, const std::optional<std::string>& appIDFromVAZ,
                                 const std::optional<std::string>& persistedAppIDFromVAZ) const;
    void updatePersistedAppIDFromVAZ();
    void reachabilityDidChange() override;

    // Upload scheduling.
    void updateSchedule();
    double nextUploadingTime();
    void uploadDataOrRegisterAlarm();
    bool hasDataToUpload();
    bool isNetworkReadyForRequest();
    bool shouldUseBackgroundSession() const { return false; }
    // Seconds since boot, or -1.0 when the boot time is unknown.
    double uptime() const;

    // Remote configuration fetch.
    void fetchRemoteConfig();
    void networkRemoteConfigFetchCompletionHandler(const std::optional<VULHTTPResponse>& response,
                                                   const std::optional<VULData>& data,
                                                   const std::optional<VULError>& error);

    // Application state.
    void subscribeForAppForegroundBackgroundNotifications();
    void handleAppDidBecomeActiveEvent();
    void handleAppWillResignActiveEvent();
    void handleAppWillEnterForegroundNotification() { terminateBackgroundTask(); }
    void terminateBackgroundTask();
    void tcfClientSetConsentFromData();
    bool isVeredodaRemoteConfigSDKPresent() const;
    // Observes launching on `center`; called once by whoever starts the
    // analytics layer (never from a static initialiser).
    static void subscribeForAppDidFinishLaunchingNotifications(platform::NotificationCenter& center,
                                                               std::function<void()> createScreenViewReporter);

    // The network's logger.
    void VULNetwork_logWithLevel(VULNetworkLogLevel level, long messageCode, const std::string& message) override;
    void VULNetwork_logWithLevel(VULNetworkLogLevel level, long messageCode, const std::string& message,
                                 const std::optional<std::string>& context) override;
    void VULNetwork_logWithLevel(VULNetworkLogLevel level, long messageCode, const std::string& message,
                                 const std::vector<std::string>& contexts) override;
    static int monitorLevelForNetworkLevel(int networkLevel);

    // Accessors (any thread).
    std::shared_ptr<APMAlarm> alarm() const { return alarm_; }
    std::shared_ptr<APMAudienceEvaluator> audience() const;
    std::shared_ptr<APMDatabase> database() const;
    std::shared_ptr<APMIdentity> identity() const;
    std::shared_ptr<VULNetwork> network() const { return network_; }
    std::shared_ptr<APMPersistedConfig> persistedConfig() const { return persistedConfig_; }
    std::shared_ptr<APMRemoteConfig> remoteConfigInstance() const;
    std::shared_ptr<APMScheduler> scheduler() const { return scheduler_; }
    std::shared_ptr<APMTCFClient> tcfClient() const;
    const std::vector<std::string>& safelistedEvents() const { return safelistedEvents_; }
    const std::string& appID() const { return appID_; }
    double initTimestamp() const { return initTimestamp_.load(); }
    void setInitTimestamp(double seconds) { initTimestamp_.store(seconds); }
    bool isEnabled() const { return enabled_.load(); }
    bool wasEnabledDuringInitialization() const { return wasEnabledDuringInitialization_; }
    bool isAnalyticsCollectionEnabled() const { return isAnalyticsCollectionEnabled_.load(); }
    void setIsAnalyticsCollectionEnabled(bool value) { isAnalyticsCollectionEnabled_.store(value); }
    bool isAnalyticsCollectionDeactivated() const { return isAnalyticsCollectionDeactivated_.load(); }
    void setIsAnalyticsCollectionDeactivated(bool value) { isAnalyticsCollectionDeactivated_.store(value); }
    bool isNetworkRequestPending() const { return isNetworkRequestPending_.load(); }
    void setIsNetworkRequestPending(bool value) { isNetworkRequestPending_.store(value); }
    bool isUploadOnAppResignInProgress() const { return isUploadOnAppResignInProgress_.load(); }
    void setIsUploadOnAppResignInProgress(bool value) { isUploadOnAppResignInProgress_.store(value); }
    double suspendedUploadTimestamp() const { return suspendedUploadTimestamp_.load(); }
    void setSuspendedUploadTimestamp(double seconds) { suspendedUploadTimestamp_.store(seconds); }
    bool shouldRequestDeferredDeepLinkAfterConfigFetch() const { return shouldRequestDeferredDeepLinkAfterConfigFetch_; }
    platform::Dispatcher& dispatcher() const { return dispatcher_; }
    APMMeasurementSeams& seams() { return seams_; }

    // MARK: Purchase de-duplication (APMMeasurementPurchases.cpp)
    // Keeps, in order, the purchased transactions whose fingerprint is not
    // stored yet (a transaction without a fingerprint, or one the store
    // cannot check, is kept: a purchase is never lost to a failing store;
    // a second one with the same fingerprint in one call is dropped). Runs on
    // the worker queue and answers on the callback queue. Nothing is
    // recorded here: the reporter records a fingerprint once its event is
    // logged, so a report dropped on the way cannot block a later one.
    using PurchaseTransactions = std::vector<platform::PaymentTransaction>;
    void filterPurchaseTransactions(PurchaseTransactions transactions, std::function<void(PurchaseTransactions)> callback);
    void recordPurchaseFingerprint(const std::string& fingerprint);

    // MARK: Event intake and default event parameters (APMMeasurementIntake.cpp)
    using EventInterceptor = std::function<void(const std::string& origin, const std::string& name,
                                                const APMObjectParameters& parameters, double timestamp)>;
    // New default parameters in the caller's order; a value of none is the
    // marker that removes its name.
    using DefaultParameterEntries = std::vector<std::pair<std::string, std::optional<APMObject>>>;
    void logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                            std::optional<APMObjectParameters> parameters, double timestamp, bool enabled,
                            bool ignoreEnabled, bool ignoreInterceptor, EventInterceptor interceptor,
                            std::optional<APMObjectParameters> addedScreenParameters);
    void logEventOnWorkerQueueWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                         std::optional<APMObjectParameters> parameters, double timestamp,
                                         bool enabled, bool ignoreEnabled, bool ignoreInterceptor,
                                         const EventInterceptor& interceptor,
                                         const std::optional<APMObjectParameters>& addedScreenParameters);
    void logEventOnWorkerQueue(APMEvent event, bool notifyEventListeners);
    void logEvent(std::optional<APMEvent> event);
    void setDefaultEventParameters(std::optional<DefaultParameterEntries> parameters);
    void handleSetDefaultEventParametersOnWorkerQueue(const std::optional<DefaultParameterEntries>& parameters,
                                                      bool backfillEvents);
    bool shouldBackfillEvents();
    void backfillEventsWithParameters(const APMParameters& parameters, bool isPublic,
                                      const std::function<bool(const APMRawEventData&)>& eventFilter);
    void backfillSessionID(const APMValue& sessionID, const APMValue& sessionNumber);
    double backfillStartTimestampForSessionID(const APMValue& sessionID);
    bool shouldBackfillSessionID(const APMValue& sessionID, double startTimestamp,
                                 std::map<std::int64_t, bool>& fingerprintToSessionIDExistence,
                                 const APMRawEventData& event);
    std::optional<APMObjectParameters> parametersWithAddedDefaultEventParameters(
        const std::optional<APMObjectParameters>& parameters);
    APMParameters firstOpenConsentedEventParams();
    APMParameters paramsWithAddedFirstOpenConsentedEventParams(const APMParameters& parameters);
    std::optional<std::string> previousFirstOpenCount();
    void setPreviousFirstOpenCount(const std::optional<std::string>& count);

    // MARK: Event handling pipeline (APMMeasurementPipeline.cpp)
    void handleInternalEventOnWorkerQueue(APMEvent event);
    // The write path sets its flags ("_c", "_r", "_dbg") on `event` unless a
    // step replaced it by a copy.
    void handleEventOnWorkerQueue(APMEvent& event);
    std::optional<APMEvent> eventAfterSafelistingEvent(const APMEvent& event);
    void processSessionFromEvent(const APMEvent& event);
    bool dedupeSubscriptionEvent(const APMEvent& event);
    bool shouldDropDuplicatedSessionStartWithRolloutEvent(const APMEvent& event);
    // None when the event stays as it is; else the copy with "_ffr".
    std::optional<APMEvent> appExceptionEventWithVeredodaFeatureRollouts(const APMEvent& event);
    void writeSessionStartEventOnWorkerQueue(const APMEvent& event);

    // MARK: Event writing (APMMeasurementWriting.cpp)
    void writeEventOnWorkerQueue(APMEvent& event);
    void writeFilteredEventOnWorkerQueue(APMEvent& event);
    [[nodiscard]] bool updateLifetimeValueWithEvent(const APMEvent& event);
    bool shouldProcessEvent(const APMEvent& event, APMDailyCounts& dailyCounts, bool isPublicEvent,
                            bool isNewEventType);
    bool isRealtimeEvent(APMEvent& event, const APMDailyCounts& dailyCounts);
    void maybeAddDebugAndRealtimeParameters(APMEvent& event);
    void incrementOnWorkerQueueDiagnosticsSignal(const std::string& signal, const std::string& metadata);
    void incrementOnWorkerQueueByCount(std::int64_t count, const std::string& signal, const std::string& metadata);
    // floor((now - midnight offset) / 86400).
    std::int32_t currentDayNumber() const;

    // MARK: Raw event storage (APMMeasurementRawEvents.cpp)
    // Inside the write transaction only; false rolls it back.
    [[nodiscard]] bool writeEvent(const APMEvent& event, bool isPublicEvent, bool isRealtime);
    // The same, for a caller that has already found the event's aggregates
    // row in this transaction (`aggregatesRowFound`), so it is not read again.
    [[nodiscard]] bool writeEvent(const APMEvent& event, bool isPublicEvent, bool isRealtime, bool aggregatesRowFound);
    std::shared_ptr<APMPBMeasurementBundle> createRawEventMetadataWithUserAttributes(
        const std::vector<APMUserAttribute>& userAttributes);
    void logFirstOpenConsentedEvent(double timestamp);

    // MARK: User properties (APMMeasurementUserProperties.cpp)
    void setUserAttribute(std::optional<APMUserAttribute> attribute);
    void removeUserAttribute(std::optional<APMUserAttribute> attribute);
    void setUserAttributeOnWorkerQueue(const APMUserAttribute& attribute);
    void removeUserAttributeOnWorkerQueue(const APMUserAttribute& attribute);
    [[nodiscard]] bool setUserPropertyInDatabaseOnWorkerQueue(const APMUserAttribute& attribute);
    // Answers are delivered on the callback queue, never on the worker queue.
    void userAttributeWithName(const std::string& name,
                               std::function<void(std::optional<APMUserAttribute>)> callback);
    void userPropertiesIncludingInternal(bool includingInternal,
                                         std::function<void(std::vector<std::pair<std::string, APMValue>>)> callback);
    void maxUserPropertiesForOrigin(const std::string& origin, std::function<void(std::int64_t)> callback);
    void setLastAdvertisingIDResetUserPropertyOnWorkerQueue();
    bool hasUserPropertyUserIDOnWorkerQueue();
    bool shouldUpdateNPAUserProperty() const { return shouldUpdateNPAUserProperty_; }
    void setShouldUpdateNPAUserProperty(bool value) { shouldUpdateNPAUserProperty_ = value; }
    // Worker queue. 1 disables, 0 allows, none when no source answers; the
    // sources in order: the stored switch, the current consent, the
    // Info.plist switch (noted in foundAdPersonalizationPlistFlag), the
    // default consent.
    std::optional<std::int64_t> shouldDisableAdPersonalization();
    bool foundAdPersonalizationPlistFlag() const { return foundAdPersonalizationPlistFlag_; }
    // Any thread: the Info.plist switch when it is a number, else true.
    bool shouldAllowAdNetworkRegistration() const;

    // MARK: Aggregates at bundling time (APMMeasurementAggregates.cpp)
    bool checkConversion(APMEvent& event, APMDailyCounts& dailyCounts);
    bool checkRealtime(APMEvent& event, APMDailyCounts& dailyCounts);
    // None on failure (the bundling transaction is rolled back).
    std::optional<std::vector<APMEvent>> eventsAfterUpdatingEventAggregates(const std::vector<APMEvent>& events,
                                                                           bool allowEventFilterEvaluation);
    void handleAnalyticsStorageConsentTransitions(const APMPBMeasurementBundle& bundle);
    APMEvent purchaseEventWithCustomerTypeParam(const APMEvent& event);
    // Purchases at bundling time: each answers the raw event itself when
    // nothing applies, else one with the same row and fingerprint around
    // the changed event.
    APMRawEventData internalEventFromPublicEvent(const APMRawEventData& rawEvent);
    APMRawEventData processInAppPurchaseEvent(const APMRawEventData& rawEvent);
    APMRawEventData validateAutomaticInAppPurchaseEvent(const APMRawEventData& rawEvent);
    APMRawEventData processManualInAppPurchaseEvent(const APMRawEventData& rawEvent);

    // MARK: Bundling of raw events and bundle metadata (APMMeasurementBundling.cpp, APMMeasurementBundleMetadata.cpp)
    // One bundle from the oldest raw events in one transaction; true when
    // raw events were consumed (the caller repeats while true).
    bool bundleRawEvents();

    // MARK: Upload of bundles (APMMeasurementUpload.cpp)

    // MARK: Session reporter and screen views (APMMeasurementSessions.cpp)

    // MARK: Lifecycle events, deep links, reset and wipe (APMMeasurementLifecycle.cpp, APMMeasurementLinks.cpp, APMMeasurementReset.cpp)

    // MARK: Conditional user properties (APMMeasurementConditionalProperties.cpp)

    // MARK: On-device conversion measurement (APMMeasurementOnDevice.cpp)

    // Internal: the designated initialiser, reached through create().
    APMMeasurement(const std::string& appID, bool isAnalyticsCollectionEnabled, bool isAnalyticsCollectionDeactivated,
                   std::vector<std::string> safelistedEvents, APMMeasurementConfiguration configuration,
                   platform::Dispatcher& dispatcher);

private:
    bool initializeComponentsOnWorkerQueue();
    // The engine's configuration, or the default instance before the start.
    std::shared_ptr<APMRemoteConfig> configuration() const;
    void scheduleWeakly(const std::string& blockID, std::function<void(APMMeasurement&)> block);
    void standDown();
    double now() const;
    void clearStoredDeepLinkIfExpired();
    void storeRemoteConfigFromBody(long statusCode, const VULHTTPResponse* response, const VULData& body);

    platform::Dispatcher& dispatcher_;
    const std::string appID_;
    const std::string databaseName_;
    const std::vector<std::string> safelistedEvents_;
    const std::shared_ptr<APMPersistedConfig> persistedConfig_;
    const std::shared_ptr<VULNetwork> network_;
    const std::shared_ptr<APMScheduler> scheduler_;
    const std::shared_ptr<APMAlarm> alarm_;
    const std::shared_ptr<APMMeasurementFacadeState> facade_;
    const APMServiceEndpoints endpoints_;
    const std::shared_ptr<APMRemoteConfigExperimentManager> experimentManager_;
    platform::NotificationCenter& notificationCenter_;
    const std::function<std::unique_ptr<APMDatabase>(const std::string&, APMError*)> openDatabase_;
    const std::function<std::shared_ptr<APMIdentity>()> identityProvider_;
    const std::function<double()> uptime_;
    const std::function<std::uint64_t()> appDataConsentStatus_;
    const std::string measurementDirectory_;
    APMMeasurementSeams seams_;

    std::atomic<bool> didInitializeComponents_{false};
    std::mutex initializeComponentsMutex_;
    // Components, published for readers on other threads.
    mutable std::mutex componentsMutex_;
    std::shared_ptr<APMAudienceEvaluator> audience_;
    std::shared_ptr<APMDatabase> database_;
    std::shared_ptr<APMIdentity> identity_;
    std::shared_ptr<APMRemoteConfig> remoteConfig_;
    std::shared_ptr<APMTCFClient> tcfClient_;

    std::atomic<double> initTimestamp_{0};
    std::atomic<double> suspendedUploadTimestamp_{0};
    std::atomic<bool> enabled_{false};
    bool wasEnabledDuringInitialization_ = false;
    std::atomic<bool> isAnalyticsCollectionEnabled_;
    std::atomic<bool> isAnalyticsCollectionDeactivated_;
    std::atomic<bool> isNetworkRequestPending_{false};
    std::atomic<bool> isUploadOnAppResignInProgress_{false};
    bool shouldRequestDeferredDeepLinkAfterConfigFetch_ = false;  // worker queue
    std::vector<platform::NotificationObserverToken> observerTokens_;  // worker queue
    bool shouldUpdateNPAUserProperty_ = false;                        // worker queue
    std::atomic<bool> foundAdPersonalizationPlistFlag_{false};
    std::once_flag callbackQueueOnce_;
    platform::QueueRef callbackQueue_;  // set once, then read-only

    // Delivers query answers off the worker queue.
    void answerOnCallbackQueue(std::function<void()> block);
    bool isDebugMode() const;
    void logDropped(const APMEvent& event, const char* metadata);
    [[nodiscard]] bool writeFilteredEventInTransaction(APMEvent& event);

    // Bundling state (worker queue).

    // Upload state (worker queue).

    // Sessions and screens.

    // Lifecycle, links and reset.

    // Conditional user properties.

    // On-device conversion measurement.
};
