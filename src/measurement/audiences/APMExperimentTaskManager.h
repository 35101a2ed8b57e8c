#pragma once
// APMETaskManager: fetches experiment snapshots for every registered SDK from
// the experiment service ("<experiment host>/sdk-exp") about every four
// hours, backs off after failures (giving up after six attempts, and holding
// 12 hours after a 429 or 503 answer), and keeps the experiment store in
// step with the experiment manager, its delegate. The fetch times live in
// the user-defaults suite "APMExperimentSuiteName".
//
// APMEExperimentRequestBuilder assembles the request from the registered
// SDK properties and the application's own description.
//
// Threads: everything of the task manager (start, alarm, network completion,
// persisting) runs on "APMExperimentWorkerQueue", which owns the store and
// the fetch state; the delegate is called from there. The builder's
// properties are guarded by its own mutex (the manager adds them from its
// queue while requests are built on the worker queue).

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "VadovaUtilities/VULNetwork.h"
#include "measurement/audiences/APMExperimentDatabase.h"
#include "measurement/audiences/APMExperimentModel.h"
#include "measurement/messages/ExperimentRequest.h"
#include "measurement/storage/APMAlarm.h"
#include "measurement/storage/APMUserDefaults.h"
#include "platform/core/Dispatch.h"

inline constexpr const char* kAPMExperimentSuiteName = "APMExperimentSuiteName";
inline constexpr const char* kAPMExperimentFetchSuccessTimestampKey = "APMExperimentFetchSuccessTimestamp";
inline constexpr const char* kAPMExperimentFetchFailureTimestampKey = "APMExperimentFetchFailureTimestamp";
inline constexpr const char* kAPMExperimentFetchBackoffTimestampKey = "APMExperimentFetchBackoffTimestamp";
inline constexpr const char* kAPMExperimentFetchPath = "/sdk-exp";
inline constexpr double kAPMExperimentFetchInterval = 14400;
inline constexpr double kAPMExperimentBackoffHold = 43200;

// The base URL of the experiment service from the options property list
// (VRDOptions::experimentFetchURL), when it passes the endpoint rule.
std::optional<std::string> APMEDefaultExperimentFetchBaseURL();
// "https://host[:port]/sdk-exp" from an accepted `baseURL` (plain "http://"
// only for a loopback host; see APMServiceURLWithPath), else none.
std::optional<std::string> APMEExperimentFetchURL(const std::string& baseURL);

class APMEExperimentRequestBuilder {
public:
    static std::shared_ptr<APMEExperimentRequestBuilder> sharedInstance();

    // A missing property logs 880000; otherwise it replaces any of its name.
    void addSDKProperty(const std::shared_ptr<APMESDKProperty>& property);
    // Where the application's description and the app instance's diversion
    // key come from; the defaults read the environment and know no key.
    void setAppInfoProvider(std::function<APMExperimentAppInfo()> provider);
    void setDiversionKeyProvider(std::function<std::string()> provider);

    std::shared_ptr<APMPBAppProperty> appPropertyProto() const;
    // The app property and the ClientProperty of every SDK that has one.
    std::shared_ptr<APMPBExperimentRequest> request() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<APMESDKProperty>> clientPropertyBySDKName_;  // guarded by mutex_
    std::function<APMExperimentAppInfo()> appInfoProvider_;                            // guarded by mutex_
    std::function<std::string()> diversionKeyProvider_;                                // guarded by mutex_
};

// What the task manager tells the experiment manager.
class APMETaskManagerDelegate {
public:
    virtual ~APMETaskManagerDelegate() = default;
    virtual bool taskManagerShouldFetchExperiments() = 0;
    virtual void taskManagerDidStart(const APMESnapshotList& activated, const APMESnapshotList& pending,
                                     const APMESnapshotList& launched) = 0;
    virtual void taskManagerDidFinishFetching(const APMESnapshotList& snapshots,
                                              const std::map<std::string, APMError>& errors) = 0;
    virtual void taskManagerDidUpsertPendingSnapshots(const APMESnapshotList& snapshots) = 0;
};

struct APMETaskManagerEnvironment {
    platform::Dispatcher* dispatcher = nullptr;  // required
    // Default: the measurement file path of the experiment database.
    std::string databasePath;
    // Default: APMEDefaultExperimentFetchBaseURL(). No URL (none, or one the
    // endpoint rule refuses): a fetch only logs 820028; it sends nothing,
    // records no failure or back-off and arms no later fetch.
    std::optional<std::string> fetchBaseURL;
    bool readFetchBaseURLFromOptions = true;
    // Default: one watching the experiment host.
    std::shared_ptr<VULNetwork> network;
    // Default: the suite "APMExperimentSuiteName".
    std::shared_ptr<APMUserDefaults> persistedStorage;
    // Default: the shared builder.
    std::shared_ptr<APMEExperimentRequestBuilder> requestBuilder;
};

class APMETaskManager : public std::enable_shared_from_this<APMETaskManager> {
public:
    static std::shared_ptr<APMETaskManager> create(APMETaskManagerEnvironment environment);
    ~APMETaskManager();
    APMETaskManager(const APMETaskManager&) = delete;
    APMETaskManager& operator=(const APMETaskManager&) = delete;

    void setDelegate(std::weak_ptr<APMETaskManagerDelegate> delegate);

    // Start: opens the store, hands its snapshots to the delegate and arms
    // the first fetch. Without a store nothing more happens in this process.
    void startTaskManager();
    void startTaskManagerOnWorkerQueue();
    void fetchAllSnapshotsOnWorkerQueue();
    void scheduleFetchingExperimentsOnWorkerQueue();
    // The next fetch time (seconds since 1970), or 0 for give-up. A back-off
    // series never starts before this process was created.
    double fetchTimeFromLastSuccessfulTimestamp(double lastSuccess, double lastFailure);
    void postponeFetchExperiments();
    // Posts the request; without a service URL only says so (820028) and
    // arms nothing, so nothing is retried.
    void fetchExperiments();
    void handleFetchingExperimentsResponse(const std::optional<VULHTTPResponse>& response,
                                           const std::optional<VULData>& data, const std::optional<VULError>& error);

    // Response parsing; none after 820015 / 820025.
    std::optional<APMESnapshotList> experimentSnapshotsFromExperimentResponse(
        const APMPBExperimentResponse* response) const;
    static std::optional<std::map<std::string, APMError>> errorsFromExperimentResponse(
        const APMPBExperimentResponse* response);
    std::optional<APMESnapshotList> experimentSnapshotsFromData(const VULData& data) const;
    // The body as received when it carries no gzip or zlib header, else its
    // inflation; none (820023) when inflation fails.
    static std::optional<VULData> inflatedBody(const VULData& body);

    // Persisting for the manager, each asynchronously on the worker queue.
    void activatePendingSnapshot(const std::shared_ptr<APMESnapshot>& snapshot, double timestamp);
    void resetToDefaultsForSDKName(const std::string& SDKName);
    void upsertPendingSnapshots(const APMESnapshotList& snapshots);
    void reset();
    void clearAndDelete();

    // An exception escaping the block is logged (820026) and dropped.
    void dispatchAsyncOnWorkerQueue(std::function<void()> block);
    // Runs inline when already on the worker queue; an exception is logged
    // (820027) and passed on.
    void dispatchSyncOnWorkerQueue(const std::function<void()>& block);

    bool hasMadeInitialFetch() const { return hasMadeInitialFetch_.load(); }
    void setHasMadeInitialFetch(bool value) { hasMadeInitialFetch_.store(value); }
    double initializationTimestamp() const { return initializationTimestamp_.load(); }
    void setInitializationTimestamp(double value) { initializationTimestamp_.store(value); }

    const platform::QueueRef& workerQueue() const { return workerQueue_; }
    APMAlarm& alarm() { return *alarm_; }
    const std::shared_ptr<APMEExperimentRequestBuilder>& requestBuilder() const { return requestBuilder_; }
    const std::string& databasePath() const { return databasePath_; }
    // The open store; null before the start or when it could not be opened.
    // Worker queue only.
    APMEDatabase* database() const { return database_.get(); }

    explicit APMETaskManager(APMETaskManagerEnvironment environment);  // through create()

private:
    double now() const { return dispatcher_.clock().now(); }
    std::shared_ptr<APMETaskManagerDelegate> delegate() const;
    void runFetchBlock();
    void handleNetworkCompletion(const std::optional<VULHTTPResponse>& response, const std::optional<VULData>& data,
                                 const std::optional<VULError>& error);
    void removeFetchTimestamps();

    platform::Dispatcher& dispatcher_;
    const platform::QueueRef workerQueue_;
    const std::unique_ptr<APMAlarm> alarm_;
    const std::shared_ptr<VULNetwork> network_;
    const std::shared_ptr<APMUserDefaults> persistedStorage_;
    const std::shared_ptr<APMEExperimentRequestBuilder> requestBuilder_;
    const std::string databasePath_;
    const std::optional<std::string> fetchURL_;
    std::unique_ptr<APMEDatabase> database_;  // worker queue
    std::atomic<bool> hasMadeInitialFetch_{false};
    std::atomic<double> initializationTimestamp_;
    mutable std::mutex delegateMutex_;
    std::weak_ptr<APMETaskManagerDelegate> delegate_;  // guarded by delegateMutex_
};
