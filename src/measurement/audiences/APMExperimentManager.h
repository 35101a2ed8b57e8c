#pragma once
// APMEManager: the experimentation client. A component registers once under
// an SDK name (APMESDKProperty plus default flags) and receives an
// APMEClient; every flag read goes through the manager, which keeps per SDK
// three snapshots: pending (fetched, not in force), activated (experiments
// other than 0, in force since the last activation) and launched (experiment
// 0: rolled-out values that outlive resets to defaults). A read answers the
// activated value, else the launched one, else the default; the pending
// snapshot changes nothing until it is activated.
//
// The manager is the delegate of its APMETaskManager, which fetches the
// snapshots and mirrors every change into the experiment store.
//
// Threads: the maps change only in blocks on "APMEExperimentSerialQueue";
// they are guarded by `mutex_` so that the task manager's callbacks may read
// the registered clients from its worker queue. Nothing is called out
// (delegates, task manager, monitor) with `mutex_` held. The synchronous
// operations run inline when called from the serial queue itself (as a
// fetch-error callback is), so they never wait on themselves.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "measurement/audiences/APMExperimentModel.h"
#include "measurement/audiences/APMExperimentTaskManager.h"
#include "measurement/messages/APMPBObject.h"
#include "measurement/storage/APMError.h"
#include "platform/core/Dispatch.h"

class APMEClient;
class APMEManager;

// What an SDK hears from its client. Every member is optional: an empty one
// counts as not implemented.
struct APMEExperimentObserverDelegate {
    std::function<void(const std::shared_ptr<APMEClient>& client)> clientDidReceiveNewSnapshot;
    std::function<void(const std::shared_ptr<APMEClient>& client, const APMError& error)> clientDidReceiveFetchError;
    std::function<bool(const std::shared_ptr<APMEClient>& client)> shouldFetchExperimentsForClient;
    // Where new-snapshot notices are delivered; null: the main queue.
    platform::QueueRef queue;
};

// Flag default values by name, in registration order.
using APMEDefaultFlagValues = std::vector<std::pair<std::string, APMPBObject>>;

// A flag value read as a Boolean: a number is true when not zero; a string
// is true when, after leading blanks, signs and zeros, it begins with "Y",
// "y", "T", "t" or a digit 1-9.
std::optional<bool> APMEFlagBoolValue(const std::optional<APMPBObject>& value);

class APMEClient : public std::enable_shared_from_this<APMEClient> {
public:
    // Null for a missing property (830000) or missing default flags (830001).
    static std::shared_ptr<APMEClient> create(std::shared_ptr<APMESDKProperty> property,
                                              std::optional<std::vector<APMEFlag>> defaultFlags,
                                              std::weak_ptr<APMEManager> manager);

    // Empty name: 830002, none.
    std::optional<APMPBObject> valueForFlag(const std::string& name) const;
    // A key that is not a string: 830003, none.
    std::optional<APMPBObject> objectForKeyedSubscript(const APMPBObject& key) const;
    [[nodiscard]] bool activateLatestSnapshot(APMError* error);
    bool hasStaleSnapshot() const;
    void resetToDefaults();

    std::string SDKName() const { return property_->name(); }
    const std::vector<APMEFlag>& defaultFlags() const { return defaultFlags_; }
    const std::shared_ptr<APMESDKProperty>& SDKProperty() const { return property_; }
    std::shared_ptr<APMEExperimentObserverDelegate> delegate() const;
    void setDelegate(std::weak_ptr<APMEExperimentObserverDelegate> delegate);

    APMEClient(std::shared_ptr<APMESDKProperty> property, std::vector<APMEFlag> defaultFlags,
               std::weak_ptr<APMEManager> manager);  // through create()

private:
    const std::shared_ptr<APMESDKProperty> property_;
    const std::vector<APMEFlag> defaultFlags_;
    const std::weak_ptr<APMEManager> manager_;
    mutable std::mutex mutex_;
    std::weak_ptr<APMEExperimentObserverDelegate> delegate_;  // guarded by mutex_
};

class APMEManager : public APMETaskManagerDelegate, public std::enable_shared_from_this<APMEManager> {
public:
    // The process's manager, made on first use from `environment` (later
    // calls ignore it); its task manager is started right after creation.
    static std::shared_ptr<APMEManager> sharedInstance(const APMETaskManagerEnvironment& environment);
    // The process's manager when one was made.
    static std::shared_ptr<APMEManager> sharedInstanceIfMade();
    // Test hook: forgets the process's manager.
    static void resetSharedForTesting();
    // A manager over `taskManager` (its delegate from now on); not started.
    static std::shared_ptr<APMEManager> create(platform::Dispatcher& dispatcher,
                                               std::shared_ptr<APMETaskManager> taskManager);

    static APMEMonitor& monitor() { return APMEMonitor::shared(); }
    // The client version: "10000000" without its last three characters.
    static std::int64_t version();

    // Checks on the caller's thread, stores on the queue; the client is
    // answered at once (null after 800000-800004).
    std::shared_ptr<APMEClient> registerSDKProperty(const std::shared_ptr<APMESDKProperty>& property,
                                                    const APMEDefaultFlagValues& defaultFlags);
    std::shared_ptr<APMEClient> clientForSDKName(const std::string& SDKName);
    std::optional<APMPBObject> flagValueForFlagName(const std::string& flagName, const std::string& SDKName);
    // A missing or empty name sets `*error` (code 1); no pending snapshot
    // answers false without an error.
    [[nodiscard]] bool activateSnapshotOfSDK(const std::optional<std::string>& SDKName, APMError* error);
    // -1 unregistered or empty name, -2 nothing activated, 1 stale (more than
    // three days old), 0 otherwise.
    long activatedSnapshotStatusOfSDKName(const std::string& SDKName);
    void resetToDefaultsOfSDKName(const std::string& SDKName);
    // The activated experiment IDs of every SDK without a diversion key of
    // its own, ascending.
    std::vector<std::int64_t> experimentIDs();
    void reset();
    void clearAndDelete();

    // An exception escaping the block is logged (800017 / 800018) and dropped.
    void dispatchAsyncOnSerialQueue(std::function<void()> block);
    void dispatchSyncOnSerialQueue(const std::function<void()>& block);

    // APMETaskManagerDelegate.
    bool taskManagerShouldFetchExperiments() override;
    void taskManagerDidStart(const APMESnapshotList& activated, const APMESnapshotList& pending,
                             const APMESnapshotList& launched) override;
    void taskManagerDidFinishFetching(const APMESnapshotList& snapshots,
                                      const std::map<std::string, APMError>& errors) override;
    void taskManagerDidUpsertPendingSnapshots(const APMESnapshotList& snapshots) override;

    const std::shared_ptr<APMETaskManager>& taskManager() const { return taskManager_; }
    const platform::QueueRef& queue() const { return queue_; }

    APMEManager(platform::Dispatcher& dispatcher, std::shared_ptr<APMETaskManager> taskManager);  // through create()

private:
    using SnapshotMap = std::map<std::string, std::shared_ptr<APMESnapshot>>;
    double now() const { return dispatcher_.clock().now(); }
    std::shared_ptr<APMEClient> registeredClient(const std::string& SDKName) const;
    std::shared_ptr<APMESnapshot> snapshotIn(const SnapshotMap& map, const std::string& SDKName) const;

    platform::Dispatcher& dispatcher_;
    const std::shared_ptr<APMETaskManager> taskManager_;
    const platform::QueueRef queue_;
    mutable std::mutex mutex_;
    SnapshotMap activatedSnapshotsBySDKName_;                                 // guarded by mutex_
    SnapshotMap pendingSnapshotsBySDKName_;                                   // guarded by mutex_
    SnapshotMap launchedSnapshotsBySDKName_;                                  // guarded by mutex_
    std::map<std::string, std::shared_ptr<APMEClient>> registeredClients_;    // guarded by mutex_
    std::map<std::string, std::map<std::string, APMEFlag>> defaultFlags_;     // guarded by mutex_
};
