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
#include "platform/core/UserActivity.h"

class APMAlarm;
class APMDatabase;
class APMIdentity;
class APMMonitor;
class APMPersistedConfig;
class APMScheduler;
class APMTCFClient;
struct APMKeptRawEventMetadata;
struct APMRawEventData;
struct APMRawEventMetadataInputs;
struct APMUploadPlanReads;

// What the file system tells of one item.
struct APMFileAttributes {
    enum class Type { Regular, Directory, SymbolicLink, Other };
    Type type = Type::Other;
    std::uint64_t size = 0;        // bytes
    double modificationDate = 0;   // seconds since 1970
};

// The engine's delegate, held weakly: whoever owns the engine from outside.
// The engine calls nothing on it.
class APMMeasurementDelegate {
public:
    virtual ~APMMeasurementDelegate() = default;
};

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
    // Observes launching on `center`, which creates the process's screen-view
    // reporter; called once by whoever starts the analytics layer (never
    // from a static initialiser).
    static void subscribeForAppDidFinishLaunchingNotifications(platform::NotificationCenter& center,
                                                               platform::Dispatcher& dispatcher);

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
    std::shared_ptr<APMMeasurementDelegate> measurementDelegate() const;
    void setMeasurementDelegate(std::weak_ptr<APMMeasurementDelegate> delegate);
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
    // Whether the facade's listeners may hear an event (see the seams).
    bool hasEventListeners() const {
        return seams_.notifyEventListeners && (!seams_.hasEventListeners || seams_.hasEventListeners());
    }
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
    // What the metadata of an event written now is made of.
    APMRawEventMetadataInputs rawEventMetadataInputs(const std::vector<APMUserAttribute>& userAttributes);
    // The last metadata written without on-device values: encoded, with
    // what it was made of.
    std::shared_ptr<const APMKeptRawEventMetadata> keptRawEventMetadata_;  // worker queue
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
    // Any thread. 1 disables, 0 allows, none when no source answers; the
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
    // raw events were consumed (the caller repeats while true). Rows that
    // can never be bundled (an undecodable event, a fingerprint with missing
    // or undecodable metadata, a bundle the queue refuses for its content)
    // are deleted, logged and counted as the diagnostics signal
    // "raw_event_dropped_count" (APMMeasurementBundling.cpp names the
    // reasons); a bundle too large for the queue is made again from fewer
    // events; database errors roll the call back.
    bool bundleRawEvents();
    // The stored event with its array parameters ("items") rebuilt from
    // their wire form, unlike APMEvent::initWithEventProto. None, with
    // `*error` set, when the row does not decode.
    static std::optional<APMRawEventData> rawEventDataFromRecord(const struct APMRawEventRecord& record,
                                                                 APMError* error);
    // Consecutive rows of one fingerprint within one clock hour, bounded by
    // the per-bundle count (and `eventLimit`) and a byte budget that keeps
    // the bundle below the queue's cap; none on a database error. A row that
    // does not decode ends the read; its row ID goes to `*undecodableRowID`.
    std::optional<std::vector<APMRawEventData>> rawEventsWithMetadataFingerprint(
        std::int64_t fingerprint, std::optional<std::int64_t>* undecodableRowID = nullptr,
        std::int64_t eventLimit = INT64_MAX);
    // Blocklisted and redundant events removed, daily limits applied; none
    // on failure (the bundle is rolled back).
    std::optional<std::vector<APMEvent>> processRawEvents(const std::vector<APMRawEventData>& rawEvents,
                                                          std::int64_t fingerprint);
    // Session start and engagement of the bundle. False only when the
    // audience work of the session start failed (the bundle is rolled back);
    // other failures end the engagement steps alone.
    [[nodiscard]] bool evaluationTimeFromRawEvents(const std::vector<APMRawEventData>& rawEvents,
                                                   APMPBMeasurementBundle& bundle);
    [[nodiscard]] bool updateAppMetadataForBundle(APMPBMeasurementBundle& bundle, double bundleStartTimestamp,
                                                  double bundleEndTimestamp);
    void addBundleMetadataIntoBundle(APMPBMeasurementBundle& bundle, double bundleStartTimestamp,
                                     double bundleEndTimestamp);
    static bool bundleHasAppID(const APMPBMeasurementBundle& bundle);
    // The app ID a bundle whose metadata has none gets: the identity's, else
    // the main bundle's "CFBundleIdentifier"; none when neither is known.
    std::optional<std::string> fallbackBundleAppID() const;
    [[nodiscard]] bool updateUserEngagement(std::int64_t engagementTime, APMPBMeasurementBundle& bundle,
                                            bool sessionScoped);
    // Event sampling: the kept events in input order (with "_sr"/"_efs"
    // added), none with `*error` set on a database failure.
    std::optional<std::vector<std::shared_ptr<APMPBEvent>>> sampleEvents(
        const std::vector<std::shared_ptr<APMPBEvent>>& events, APMError* error);
    bool canEventBeSampled(const APMPBEvent& event);
    // True with probability 1/rate.
    bool isEventBundledAfterRoll(std::uint32_t rate);
    // Test hook: replaces the random roll (none: the random one).
    void setSamplingRollForTesting(std::function<bool(std::uint32_t rate)> roll) { samplingRoll_ = std::move(roll); }

    // MARK: Upload of bundles (APMMeasurementUpload.cpp)
    // A queued bundle, decoded, with its row identifier in the upload queue.
    using BundleToUpload = std::pair<std::shared_ptr<APMPBMeasurementBundle>, std::int64_t>;
    // One upload attempt (worker queue): makes bundles while the configuration
    // is fresh, posts the oldest compatible queued bundles as one batch, or
    // fetches the configuration when nothing waits and it has expired. No
    // attempt starts while a server back-off period runs; queue rows that
    // can never be read are deleted and counted ("bundle_dropped_count").
    void uploadData();
    // The leading pairs whose app ID equals `appID` and whose device ID
    // (resettable, else vendor) does not differ from the given one.
    std::vector<BundleToUpload> filteredBundlesWithCompatibleAppID(const std::optional<std::string>& appID,
                                                                   const std::optional<std::string>& resettableDeviceID,
                                                                   const std::optional<std::string>& vendorDeviceID,
                                                                   const std::vector<BundleToUpload>& bundlesToUpload);
    void setUploadInProgressWithBundleIDs(const std::vector<std::int64_t>& bundleIDs);
    void networkUploadCompletionHandlerWithResponse(const std::optional<VULHTTPResponse>& response,
                                                    const std::optional<VULError>& error);
    // Retry count + 1 on the bundles in flight; nothing when none are.
    void incrementRetryCounter();
    [[nodiscard]] bool removeBundlesFromDatabaseWithIDs(const std::vector<std::int64_t>& bundleIDs);
    const std::vector<std::int64_t>& uploadingBundleIDs() const { return uploadingBundleIDs_; }

    // MARK: Session reporter and screen views (APMMeasurementSessions.cpp)
    // The session reporter the start makes (none before it). Any thread.
    std::shared_ptr<class APMSessionReporter> sessionReporter() const;
    // Worker queue: the start makes the reporter (reporting off) unless one
    // exists; reset and wipe replace it by a new one over the persisted
    // configuration, reporting while the engine is enabled.
    void createSessionReporterOnWorkerQueue();
    void resetSessionReporterOnWorkerQueue();
    // Worker queue: the reporter's answers; without a reporter the session
    // has not expired and is not extended.
    void setSessionReportingEnabled(bool enabled);
    bool isSessionExpired();
    bool extendSession();
    // Any thread: hands the time-out to the reporter on the worker queue.
    void setSessionTimeoutInterval(double seconds);

    // MARK: Lifecycle events, deep links, reset and wipe (APMMeasurementLifecycle.cpp, APMMeasurementLinks.cpp, APMMeasurementReset.cpp)
    // Worker queue unless said otherwise. Internal events and properties are
    // of origin "auto"; the first open happens once per installation (its
    // marker is the stored "_fot").
    void reportFirstOpenOnWorkerQueue();
    // The stored launch link as a campaign (click time in ms, or none).
    void reportStoredCampaignEventOnWorkerQueue(std::optional<std::int64_t> clickTimestampMillis);
    void reportSessionStartOnWorkerQueue(double timestamp, bool appInBackground);
    void removeSessionUserPropertiesOnWorkerQueue();
    void reportAppUpdateOnWorkerQueue();
    void reportOSUpdateOnWorkerQueue();
    void setPersonalizedAdsUserPropertyOnWorkerQueue();
    void updateAdPersonalizationConsentFromNPAValue(std::optional<std::int64_t> value);
    // The configuration's consent defaults, delegations and regional
    // defaults into the consent settings; a changed ad-personalization
    // value marks "_npa" for rewriting at the next bundle.
    void updateConsentSettingsUtilWithRemoteConfig();
    void updateCachedAdCampaignInfoWithExistingVBRAIDProperty();
    void removeLegacyVBRAIDUserProperty();
    void backfillSessionNumber();
    // (t / 1h) * 1h + 1h: a time on the hour moves to the next one.
    static std::int64_t timestampMillisRoundedUpToNextHour(std::int64_t milliseconds);
    bool isVersionSameAsOriginalVersion() const;
    // The item's own attributes (a final symbolic link is not followed);
    // none for an empty path, and none after 23022 when they cannot be read.
    [[nodiscard]] std::optional<APMFileAttributes> fileAttributesForPath(const std::string& path) const;

    // Links (APMMeasurementLinks.cpp). Any thread except the worker queue:
    // the link is handed to the worker queue.
    void handleNonFirstOpenEventURL(const std::string& url, double eventTimestamp,
                                    const std::optional<std::string>& referrerURL = std::nullopt);
    // String extras join the URL's query (the query wins), number extras go
    // to the event as they are.
    void handleOpenURLOnWorkerQueue(const std::string& url, std::optional<std::int64_t> clickTimestampMillis,
                                    double eventTimestamp, std::optional<APMParameters> extraParameters);
    static bool isValidCampaignURLParamDictionary(const std::map<std::string, std::string>& parameters);
    bool shouldAllowClickID();
    // Process-wide; any thread. Copies are handed out.
    static std::optional<std::map<std::string, std::string>> SVTMPreviewHeaders();
    // The web page of a web-browsing activity; none after 23003 without an
    // activity, after 23006 for any other activity or one without a page.
    [[nodiscard]] static std::optional<std::string> deepLinkFromUserActivity(
        const std::optional<platform::UserActivity>& activity);
    static void handleSVTMDebugModeWithURL(const std::string& url);
    // The launch notification's URL ("UIApplicationLaunchOptionsURLKey", a
    // string) is kept until the start reports it.
    static void handleStoredURLAfterAppLaunchWithNotification(const platform::Notification& notification,
                                                              double now);
    bool shouldAllowRequestDeferredDeepLink();
    void requestDeferredDeepLink();
    struct DeferredDeepLinkInfo {
        std::string deeplink;
        std::optional<APMValue> vclid;
        std::optional<APMValue> vbraid;
        std::optional<APMValue> timestamp;
    };
    // Answers above this many bytes are refused as unparsable.
    static constexpr std::size_t kMaxDeferredDeepLinkResponseBytes = 64 * 1024;
    std::optional<DeferredDeepLinkInfo> deepLinkInfoFromResponseData(const VULData& data);
    void handleDeferredDeepLinkInfo(const DeferredDeepLinkInfo& info);
    // The platform hook: no application delegate takes links here.
    bool sendDeepLinkURLToAppDelegateOnMainThread(const std::string&, const APMParameters&) { return false; }

    // Session identifier, user data, diagnostics, reset and wipe (APMMeasurementReset.cpp).
    // Any thread; the completion runs on the worker queue.
    using SessionIDCompletion = std::function<void(std::int64_t sessionID, std::optional<APMError> error)>;
    void sessionIDWithCompletion(SessionIDCompletion completion);
    void setUserData(const platform::PropertyDictionary& userData);
    void setUserDataOnWorkerQueue(const platform::PropertyDictionary& userData);
    void checkAppConfigDiagnosticsOnWorkerQueue();
    // Seconds since 1970: the set time of "_fot", else the earliest set time
    // of the stored properties; 0 when unknown.
    double firstOpenTimestamp();
    // Blocks until done; on the worker queue itself it runs inline.
    [[nodiscard]] bool resetAnalyticsDataWithAppInstanceID(const std::string& appInstanceID);
    [[nodiscard]] bool wipeoutAnalyticsDataAndResetComponents();

    // MARK: Conditional user properties (APMMeasurementConditionalProperties.cpp)
    // The controller bound to this engine (made at first use, any thread).
    std::shared_ptr<class APMConditionalUserPropertyController> conditionalUserPropertyController();
    // Worker queue: the pass each event makes before it is stored; the
    // events it triggered, to be written after it, or none on failure.
    std::optional<std::vector<APMEvent>> processConditionalUserPropertiesOnWorkerQueue(const APMEvent& event);

    // MARK: On-device conversion measurement (APMMeasurementOnDevice.cpp)
    // The conversion service, ODF identifiers, migrations (APMMeasurementOnDevice.cpp) and set-membership
    // queries (APMMeasurementPSM.cpp). Everything runs on the worker queue unless said otherwise; the outside
    // libraries are found by class name (APMOnDeviceConversion.h), and without them every fetch takes its
    // "not available" path. The types are in measurement/engine/APMOnDeviceConversion.h and APMPSMContext.h.
    // Set before the engine starts; empty members take the process's defaults.
    void setOnDeviceEnvironment(const struct APMOnDeviceEnvironment& environment);
    std::shared_ptr<class VRDRuntimeClass> conversionServiceClass() const;
    bool isAdsOnDeviceConversionLinked() const;
    std::shared_ptr<class ODCConversionService> conversionServiceFromReflection() const;
    bool isVadovaAdsOnDeviceConversionLinked() const;
    bool isAlphaAppAdsOnDeviceConversionLinked() const;
    bool isAPMPrivateSetMembershipClientLinked() const;
    // Bits 1-3 of the metadata's linkage bits (2, 4, 8).
    std::int32_t onDeviceConversionLinkageBits() const;
    // The raw-event metadata's linkage bits: 1 when the identity support can
    // tell the app-data consent status, then the on-device bits (2, 4, 8).
    std::int32_t linkageBits() const;
    bool isODM2EnabledInPlist() const;
    bool isODM2SessionStartEnabledInPlist() const;
    bool areCommonConversionServiceConditionsSatisfied();
    bool isAdsOnDeviceConversionEnabled();
    bool isAdsOnDeviceConversionForSessionStartEnabled();
    static bool isODMGroupInfoSupported(const std::shared_ptr<ODCConversionService>& service);
    static bool isODFSupported(const std::shared_ptr<ODCConversionService>& service);
    // Seconds since 1970 of the persisted first open, none when unknown.
    std::optional<double> firstLaunchDate() const;
    std::shared_ptr<ODCConversionService> conversionService() const { return conversionService_; }
    void setConversionService(std::shared_ptr<ODCConversionService> service) { conversionService_ = std::move(service); }
    void checkODM2DependencyOnWorkerQueue();
    void setupODM2ConversionService();
    void updateAdsOnDeviceConversionMeasurement();
    void updateAdsOnDeviceConversionMeasurementForSession();
    void updateAdsOnDeviceConversionGroupInfo();
    void resetAndWipeAdsOnDeviceConversionData();
    void handleAdsOnDeviceConversionValue(const std::optional<std::string>& value, const std::optional<APMError>& error);
    void handleAdsOnDeviceConversionSessionValue(const std::optional<std::string>& value,
                                                 const std::optional<APMError>& error);
    void handleAdsOnDeviceConversionGroupInfoValue(const std::optional<std::string>& value,
                                                   const std::optional<APMError>& error);
    void migrateODM2Value();
    void migrateODM2ValueFromPSMValueVADS();
    void migrateODM2ValueToCohort();
    // ODF identifiers and the deferred first open ("_fx" with "_fxs" = "odf").
    bool isODFEnabled();
    void updateODFIDs();
    void updateODFAppInstallationID();
    void handleODFAppInstallationID(const std::optional<std::string>& identifier);
    void updateODFMatchingID();
    void handleODFMatchingID(const std::optional<std::string>& identifier, const std::optional<APMError>& error);
    void logODFDeferredFirstOpenEventwithTimestamp(double timestamp);
    // Set-membership queries.
    // The contexts and the service are the worker queue's, like their getters.
    std::shared_ptr<struct APMPSMContext> ODM1Context() const { return ODM1Context_; }
    void setODM1Context(std::shared_ptr<APMPSMContext> context) { ODM1Context_ = std::move(context); }
    std::shared_ptr<struct APMGroupContext> ODM1GroupContext() const { return ODM1GroupContext_; }
    void setODM1GroupContext(std::shared_ptr<APMGroupContext> context) { ODM1GroupContext_ = std::move(context); }
    void checkPSMDependencyOnWorkerQueue();
    // The worker-queue entry of user data (setUserDataOnWorkerQueue hands it on).
    void initiateODM1ProtocolWithUserData(const struct APMUserData& userData);
    bool shouldRetrievePSMResponse();
    bool shouldRetrievePSMResponseWithEmailAddress(const std::string& emailAddress);
    bool shouldRetrievePSMResponseWithPhoneNumber(const std::string& phoneNumber);
    bool shouldRetrievePSMResponseWithHashedIdentifier(const std::vector<std::uint8_t>& digest);
    std::shared_ptr<class APMPSMClientClass> PSMClientClass() const;
    std::shared_ptr<class APMPSMClient> PSMClientWithEmailAddress(const std::string& emailAddress);
    std::shared_ptr<APMPSMClient> PSMClientWithPhoneNumber(const std::string& phoneNumber);
    std::shared_ptr<APMPSMClient> PSMClientWithHashedEmailAddress(const std::vector<std::uint8_t>& digest);
    std::shared_ptr<APMPSMClient> PSMClientWithHashedPhoneNumber(const std::vector<std::uint8_t>& digest);
    std::shared_ptr<APMPSMClient> PSMClientWithCachedInputs();
    void cachePSMInputsFromClient(const std::shared_ptr<APMPSMClient>& client);
    void clearCachedPSMInputs();
    void initiateODMSessionStartProtocolWithTimestamp(double timestamp);
    // The request URL of the context's client, none without one.
    std::optional<std::string> PSMRequestURL();
    void retrievePSMResponse(const std::shared_ptr<APMPSMContext>& context);
    void maybeSchedulePSMRetry(const std::shared_ptr<APMPSMContext>& context);
    // After an upload with an unexpired configuration: sends a postponed
    // request and answers true, else answers false.
    bool sendPostponedPSMRequest();
    void handlePSMValueOnWorkerQueue(const std::string& value, bool isSessionValue);
    void incrementPSMCountOnWorkerQueueWithName(const std::string& name);
    std::shared_ptr<class APMPSMGroupClientClass> PSMGroupClientClass() const;
    std::shared_ptr<class APMPSMGroupClient> PSMGroupClientWithCachedInputs();
    void initiateODMGroupIDProtocol();
    void handleODMGroupIDOnWorkerQueue(const std::string& groupID);
    bool shouldAllowODMFeature();
    bool ODM1ValueExists();
    bool isExpiredODMValueWithName(const std::string& name);
    void maybeDeleteExpiredPSMValueOnWorkerQueue();

    // Internal: the designated initialiser, reached through create().
    APMMeasurement(const std::string& appID, bool isAnalyticsCollectionEnabled, bool isAnalyticsCollectionDeactivated,
                   std::vector<std::string> safelistedEvents, APMMeasurementConfiguration configuration,
                   platform::Dispatcher& dispatcher);

private:
    // The upload plan's reads taken from `reads` (one combined read), or
    // each from `database` when it is null.
    bool hasDataToUpload(APMDatabase& database, const APMUploadPlanReads* reads);
    double nextUploadingTime(APMDatabase& database, const APMUploadPlanReads* reads);
    bool initializeComponentsOnWorkerQueue();
    // The engine's configuration, or the default instance before the start.
    std::shared_ptr<APMRemoteConfig> configuration() const;
    void scheduleWeakly(const std::string& blockID, std::function<void(APMMeasurement&)> block);
    void standDown();
    double now() const;
    // A stored upload time (back-off, failure, success) later than now, as
    // after the clock was set back, counts as now and is stored as now: what
    // it holds back then ends one period from now, not when the clock
    // catches up with it.
    double uploadTimeNotAfterNow(double stored, void (APMPersistedConfig::*store)(double));
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

    mutable std::mutex measurementDelegateMutex_;
    std::weak_ptr<APMMeasurementDelegate> measurementDelegate_;  // under measurementDelegateMutex_
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

    // Values that describe the outcome of a database transaction (persisted
    // settings, flags, samples handed to a bundle) are set only once it
    // commits: `whenCommitted` runs the action at the commit of the
    // transaction `performCommittedTransaction` has open, drops it at a
    // rollback, and runs it at once when none is open (worker queue).
    [[nodiscard]] bool performCommittedTransaction(APMDatabase& database, const std::function<bool()>& block);
    void whenCommitted(std::function<void()> action);
    std::optional<std::vector<std::function<void()>>> commitActions_;  // worker queue

    // Bundling state (worker queue).
    // The audience pass of the bundle being built; null outside bundling.
    std::unique_ptr<APMAudienceBundleWork> audienceBundleWork_;
    std::function<bool(std::uint32_t rate)> samplingRoll_;
    // A bundle the upload queue refused (the raw events of `fingerprint` up
    // to `maxRowID`, `count` of them): for its content, or, `tooLarge`, for
    // its size alone, which a bundle of fewer events cures.
    struct RefusedBundle {
        std::int64_t fingerprint = 0;
        std::int64_t maxRowID = 0;
        std::int64_t count = 0;
        bool tooLarge = false;
    };
    [[nodiscard]] bool bundleRawEventsInTransaction(bool& consumed, std::optional<RefusedBundle>& refused,
                                                    std::int64_t eventLimit);
    // Whether the line saying that events wait for an app ID was logged.
    bool loggedMissingAppID_ = false;
    [[nodiscard]] bool dropPoisonRawEvents(std::int64_t fingerprint, std::optional<std::int64_t> rowID,
                                           const char* reason, bool& consumed);

    // Upload state (worker queue).
    std::vector<std::int64_t> uploadingBundleIDs_;  // the batch in flight, in batch order

    // Sessions and screens.
    mutable std::mutex sessionReporterMutex_;
    std::shared_ptr<class APMSessionReporter> sessionReporter_;  // under sessionReporterMutex_

    // Lifecycle, links and reset.
    std::string previousVAZAppID_;  // worker queue
    void handleDeepLink(const std::string& url, std::optional<std::int64_t> clickTimestampMillis,
                        double eventTimestamp, const std::optional<std::string>& referrerURL);
    void handleDeferredDeepLinkResponse(const std::optional<VULHTTPResponse>& response,
                                        const std::optional<VULData>& data, const std::optional<VULError>& error);

    // Conditional user properties.
    std::once_flag conditionalUserPropertyControllerOnce_;
    std::shared_ptr<APMConditionalUserPropertyController> conditionalUserPropertyController_;  // set once, then read-only

    // On-device conversion measurement.
    std::shared_ptr<const APMOnDeviceEnvironment> onDeviceEnvironment_;  // set before the start, then read-only
    std::shared_ptr<ODCConversionService> conversionService_;              // worker queue
    std::shared_ptr<APMPSMContext> ODM1Context_;                            // worker queue
    std::shared_ptr<APMGroupContext> ODM1GroupContext_;                     // worker queue
    const APMOnDeviceEnvironment& onDeviceEnvironment() const;
    void raiseOnDeviceFatal(const std::string& name, const std::string& reason);
    // The common gates; false refuses. With `checkRetryLimit` false the
    // retry-limit gate is left out. Each run records in lastPSMGateVerdict_
    // whether every gate but the retry limit passed.
    bool PSMCommonGates(bool checkRetryLimit);
    std::optional<bool> lastPSMGateVerdict_;  // worker queue
    void writeFirstOpenSourceEvent(const std::string& source, double timestamp);
};
