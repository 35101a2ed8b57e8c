#include "measurement/audiences/APMExperimentManager.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

#include "measurement/messages/APMPBFlag.h"
#include "measurement/messages/ExperimentRequest.h"
#include "measurement/storage/APMSharedInstance.h"

namespace {

constexpr double kStaleAge = 259200;

std::string describe(const std::shared_ptr<APMESnapshot>& snapshot) {
    if (snapshot == nullptr) return "(null)";
    std::string text = snapshot->SDKName() + " experiments [";
    bool first = true;
    for (const auto& experiment : snapshot->experiments()) {
        if (!first) text += ", ";
        first = false;
        text += std::to_string(experiment->experimentID());
    }
    return text + "] at " + std::to_string(snapshot->timestamp());
}

std::string describe(const APMPBObject& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    if (const auto* number = std::get_if<APMPBNumber>(&value)) {
        return number->isFloatType() ? std::to_string(number->doubleValue()) : std::to_string(number->longLongValue());
    }
    return APMPBClassNameOf(value);
}

struct SharedManagerTag {};
using SharedManager = APMSharedInstance<SharedManagerTag, std::shared_ptr<APMEManager>>;

}  // namespace

std::optional<bool> APMEFlagBoolValue(const std::optional<APMPBObject>& value) {
    if (!value) return std::nullopt;
    if (const auto* number = std::get_if<APMPBNumber>(&*value)) {
        return number->isFloatType() ? number->doubleValue() != 0 : number->longLongValue() != 0;
    }
    if (const auto* text = std::get_if<std::string>(&*value)) {
        std::size_t at = text->find_first_not_of(" \t\n\r");
        if (at != std::string::npos && ((*text)[at] == '+' || (*text)[at] == '-')) ++at;
        while (at < text->size() && (*text)[at] == '0') ++at;
        if (at >= text->size()) return false;
        const char c = (*text)[at];
        return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
    }
    return std::nullopt;
}

// ------------------------------------------------------------------ client --

std::shared_ptr<APMEClient> APMEClient::create(std::shared_ptr<APMESDKProperty> property,
                                               std::optional<std::vector<APMEFlag>> defaultFlags,
                                               std::weak_ptr<APMEManager> manager) {
    if (property == nullptr) {
        APMEMonitor::shared().log(0, 830000, "Cannot initialize the client with nil property");
        return nullptr;
    }
    if (!defaultFlags) {
        APMEMonitor::shared().log(0, 830001, "Cannot initialize the client with nil default flags");
        return nullptr;
    }
    return std::make_shared<APMEClient>(std::move(property), std::move(*defaultFlags), std::move(manager));
}

APMEClient::APMEClient(std::shared_ptr<APMESDKProperty> property, std::vector<APMEFlag> defaultFlags,
                       std::weak_ptr<APMEManager> manager)
    : property_(std::move(property)), defaultFlags_(std::move(defaultFlags)), manager_(std::move(manager)) {}

std::optional<APMPBObject> APMEClient::valueForFlag(const std::string& name) const {
    if (name.empty()) {
        APMEMonitor::shared().log(0, 830002, "Cannot get value for empty flag name");
        return std::nullopt;
    }
    auto manager = manager_.lock();
    return manager ? manager->flagValueForFlagName(name, SDKName()) : std::nullopt;
}

std::optional<APMPBObject> APMEClient::objectForKeyedSubscript(const APMPBObject& key) const {
    const auto* name = std::get_if<std::string>(&key);
    if (name == nullptr) {
        APMEMonitor::shared().log(0, 830003, "Cannot get flag value of an invalid flag name", describe(key));
        return std::nullopt;
    }
    auto manager = manager_.lock();
    return manager ? manager->flagValueForFlagName(*name, SDKName()) : std::nullopt;
}

bool APMEClient::activateLatestSnapshot(APMError* error) {
    auto manager = manager_.lock();
    return manager && manager->activateSnapshotOfSDK(SDKName(), error);
}

bool APMEClient::hasStaleSnapshot() const {
    auto manager = manager_.lock();
    return manager && manager->activatedSnapshotStatusOfSDKName(SDKName()) == 1;
}

void APMEClient::resetToDefaults() {
    if (auto manager = manager_.lock()) manager->resetToDefaultsOfSDKName(SDKName());
}

std::shared_ptr<APMEExperimentObserverDelegate> APMEClient::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void APMEClient::setDelegate(std::weak_ptr<APMEExperimentObserverDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

// ----------------------------------------------------------------- manager --

std::shared_ptr<APMEManager> APMEManager::sharedInstance(const APMETaskManagerEnvironment& environment) {
    bool made = false;
    auto manager = SharedManager::currentOrMake([&] {
        made = true;
        return create(*environment.dispatcher, APMETaskManager::create(environment));
    });
    if (made) manager->taskManager()->startTaskManager();
    return manager;
}

std::shared_ptr<APMEManager> APMEManager::sharedInstanceIfMade() { return SharedManager::current(); }

void APMEManager::resetSharedForTesting() { (void)SharedManager::exchange(nullptr); }

std::shared_ptr<APMEManager> APMEManager::create(platform::Dispatcher& dispatcher,
                                                 std::shared_ptr<APMETaskManager> taskManager) {
    auto manager = std::make_shared<APMEManager>(dispatcher, std::move(taskManager));
    manager->taskManager_->setDelegate(manager);
    return manager;
}

APMEManager::APMEManager(platform::Dispatcher& dispatcher, std::shared_ptr<APMETaskManager> taskManager)
    : dispatcher_(dispatcher),
      taskManager_(std::move(taskManager)),
      queue_(dispatcher.makeSerialQueue("APMEExperimentSerialQueue")) {}

std::int64_t APMEManager::version() { return APMExperimentClientVersion(kAPMExperimentClientVersionText); }

void APMEManager::dispatchAsyncOnSerialQueue(std::function<void()> block) {
    queue_->async([block = std::move(block)] {
        try {
            block();
        } catch (const std::exception& exception) {
            APMEMonitor::shared().log(1, 800017, "Exception on async Experimentation serial queue", exception.what());
        } catch (...) {
            APMEMonitor::shared().log(1, 800017, "Exception on async Experimentation serial queue",
                                      "unknown exception");
        }
    });
}

void APMEManager::dispatchSyncOnSerialQueue(const std::function<void()>& block) {
    auto guarded = [&block] {
        try {
            block();
        } catch (const std::exception& exception) {
            APMEMonitor::shared().log(1, 800018, "Exception on sync Experimentation serial queue", exception.what());
        } catch (...) {
            APMEMonitor::shared().log(1, 800018, "Exception on sync Experimentation serial queue",
                                      "unknown exception");
        }
    };
    // Fetch errors are delivered on this queue; a delegate that reads a flag
    // there must not wait for the queue it is running on.
    if (queue_->isCurrent()) {
        guarded();
    } else {
        queue_->sync(guarded);
    }
}

std::shared_ptr<APMEClient> APMEManager::registeredClient(const std::string& SDKName) const {
    std::lock_guard lock(mutex_);
    const auto found = registeredClients_.find(SDKName);
    return found == registeredClients_.end() ? nullptr : found->second;
}

std::shared_ptr<APMESnapshot> APMEManager::snapshotIn(const SnapshotMap& map, const std::string& SDKName) const {
    std::lock_guard lock(mutex_);
    const auto found = map.find(SDKName);
    return found == map.end() ? nullptr : found->second;
}

std::shared_ptr<APMEClient> APMEManager::registerSDKProperty(const std::shared_ptr<APMESDKProperty>& property,
                                                             const APMEDefaultFlagValues& defaultFlags) {
    if (property == nullptr) {
        monitor().log(0, 800000, "Cannot register client with a nil SDK property");
        return nullptr;
    }
    const std::string SDKName = property->name();
    if (SDKName.empty()) {
        monitor().log(0, 800001, "Cannot register experiment client with no SDK name");
        return nullptr;
    }
    std::map<std::string, APMEFlag> flagsByName;
    std::vector<APMEFlag> flags;
    for (const auto& [name, value] : defaultFlags) {
        APMEFlag flag = APMPBFlagWithNameValue(APMPBObject(name), value, monitor());
        if (flag == nullptr) {
            monitor().log(0, 800002, "Cannot register experiment client invalid flags. Flag name, value", name,
                          describe(value));
            return nullptr;
        }
        flagsByName[name] = flag;
        flags.push_back(std::move(flag));
    }
    auto client = APMEClient::create(property, flags, weak_from_this());
    if (client == nullptr) {
        monitor().log(1, 800004, "Cannot register client. SDK name", SDKName);
        return nullptr;
    }
    std::weak_ptr<APMEManager> weak = weak_from_this();
    dispatchAsyncOnSerialQueue([weak, SDKName, client, flagsByName = std::move(flagsByName), property] {
        auto self = weak.lock();
        if (!self) return;
        bool replaced = false;
        {
            std::lock_guard lock(self->mutex_);
            replaced = self->registeredClients_.count(SDKName) > 0;
            self->registeredClients_[SDKName] = client;
            self->defaultFlags_[SDKName] = flagsByName;
        }
        if (replaced) {
            monitor().log(3, 800003,
                          "Registered an SDK that has already registered. Default flags will be overwritten. SDK name",
                          SDKName);
        }
        self->taskManager_->requestBuilder()->addSDKProperty(property);
        monitor().log(8, 800005, "Registered client", SDKName);
    });
    return client;
}

std::shared_ptr<APMEClient> APMEManager::clientForSDKName(const std::string& SDKName) {
    if (SDKName.empty()) {
        monitor().log(0, 800007, "Cannot find the client for empty SDK Name");
        return nullptr;
    }
    std::shared_ptr<APMEClient> client;
    dispatchSyncOnSerialQueue([&] { client = registeredClient(SDKName); });
    return client;
}

std::optional<APMPBObject> APMEManager::flagValueForFlagName(const std::string& flagName, const std::string& SDKName) {
    if (SDKName.empty()) {
        monitor().log(0, 800010, "Cannot retrieve flag value for empty SDK name");
        return std::nullopt;
    }
    if (flagName.empty()) {
        monitor().log(0, 800011, "Cannot retrieve flag value for empty flag name");
        return std::nullopt;
    }
    std::optional<APMPBObject> result;
    dispatchSyncOnSerialQueue([&] {
        std::shared_ptr<APMEClient> client;
        std::optional<std::map<std::string, APMEFlag>> defaults;
        std::shared_ptr<APMESnapshot> activated;
        std::shared_ptr<APMESnapshot> launched;
        {
            std::lock_guard lock(mutex_);
            if (auto found = registeredClients_.find(SDKName); found != registeredClients_.end()) client = found->second;
            if (auto found = defaultFlags_.find(SDKName); found != defaultFlags_.end()) defaults = found->second;
            if (auto found = activatedSnapshotsBySDKName_.find(SDKName); found != activatedSnapshotsBySDKName_.end()) {
                activated = found->second;
            }
            if (auto found = launchedSnapshotsBySDKName_.find(SDKName); found != launchedSnapshotsBySDKName_.end()) {
                launched = found->second;
            }
        }
        if (client == nullptr) {
            monitor().log(3, 800012, "SDK is not registered yet", SDKName);
            return;
        }
        if (!defaults) {
            monitor().log(3, 800013, "Cannot get flag for unregistered SDK. SDK name, flag name", SDKName, flagName);
            return;
        }
        monitor().log(8, 800015, "Looking for activated flag. SDK name, flag name, activated snapshot", SDKName,
                      flagName, describe(activated));
        if (activated) {
            if (auto value = APMPBFlagValue(activated->flagByName(flagName).get())) {
                result = std::move(value);
                return;
            }
        }
        monitor().log(8, 800016,
                      "Cannot find activated flag. Looking for launched flag. SDK name, flag name, launched flag",
                      SDKName, flagName, describe(launched));
        if (launched) {
            if (auto value = APMPBFlagValue(launched->flagByName(flagName).get())) {
                result = std::move(value);
                return;
            }
        }
        const auto found = defaults->find(flagName);
        if (found == defaults->end()) {
            monitor().log(8, 800014, "No default flag value. SDK name, flag name", SDKName, flagName);
            return;
        }
        result = APMPBFlagValue(found->second.get());
        monitor().log(8, 800019,
                      "Cannot find launched flag. Returned the default flag value. SDK name, flag name, default flag",
                      SDKName, flagName, result ? describe(*result) : std::string("(null)"));
    });
    return result;
}

bool APMEManager::activateSnapshotOfSDK(const std::optional<std::string>& SDKName, APMError* error) {
    if (!SDKName) {
        APMSetError(error, 1, "SDK name cannot be nil");
        monitor().log(3, 800021, "Cannot activate a pending snapshot for a nil SDK name");
        return false;
    }
    if (SDKName->empty()) {
        APMSetError(error, 1, "SDK name cannot be empty");
        monitor().log(3, 800022, "Cannot activate a pending snapshot for an empty SDK name");
        return false;
    }
    const std::string name = *SDKName;
    bool activatedOK = false;
    dispatchSyncOnSerialQueue([&] {
        const auto pending = snapshotIn(pendingSnapshotsBySDKName_, name);
        if (pending == nullptr) {
            monitor().log(3, 800023, "No pending snapshot to activate. SDK name", name);
            return;
        }
        const double current = now();
        auto activated = APMESnapshot::create(name, {}, current);
        std::shared_ptr<APMESnapshot> launched;
        for (const auto& experiment : pending->experiments()) {
            if (experiment->experimentID() == 0) {
                launched = APMESnapshot::create(name, {experiment}, current);
            } else {
                activated->addFlags(experiment->flags(), experiment->experimentID());
            }
        }
        {
            std::lock_guard lock(mutex_);
            if (launched) launchedSnapshotsBySDKName_[name] = launched;
            activatedSnapshotsBySDKName_[name] = activated;
            pendingSnapshotsBySDKName_.erase(name);
        }
        taskManager_->activatePendingSnapshot(pending, current);
        monitor().log(8, 800028, "Successfully activated a snapshot of SDK", name);
        activatedOK = true;
    });
    return activatedOK;
}

long APMEManager::activatedSnapshotStatusOfSDKName(const std::string& SDKName) {
    if (SDKName.empty()) {
        monitor().log(0, 800024, "Cannot check activated snapshot for empty SDK Name");
        return -1;
    }
    long status = -1;
    dispatchSyncOnSerialQueue([&] {
        if (registeredClient(SDKName) == nullptr) return;
        const auto activated = snapshotIn(activatedSnapshotsBySDKName_, SDKName);
        if (activated == nullptr || activated->timestamp() <= std::numeric_limits<double>::epsilon()) {
            status = -2;
        } else if (std::fabs(activated->timestamp() - now()) > kStaleAge) {
            status = 1;
        } else {
            status = 0;
        }
    });
    return status;
}

void APMEManager::resetToDefaultsOfSDKName(const std::string& SDKName) {
    if (SDKName.empty()) {
        monitor().log(0, 800025, "Cannot reset to defaults for empty SDK Name");
        return;
    }
    dispatchSyncOnSerialQueue([&] {
        bool removed = false;
        {
            std::lock_guard lock(mutex_);
            removed = activatedSnapshotsBySDKName_.erase(SDKName) > 0;
        }
        if (!removed) {
            monitor().log(0, 800026, "Cannot reset to defaults for unregistered SDK name", SDKName);
            return;
        }
        taskManager_->resetToDefaultsForSDKName(SDKName);
        monitor().log(8, 800027, "Reset all experiments to default. SDK name", SDKName);
    });
}

std::vector<std::int64_t> APMEManager::experimentIDs() {
    std::vector<std::int64_t> ids;
    dispatchSyncOnSerialQueue([&] {
        std::vector<std::shared_ptr<APMESnapshot>> snapshots;
        {
            std::lock_guard lock(mutex_);
            for (const auto& [name, client] : registeredClients_) {
                if (!client->SDKProperty()->diversionKey().empty()) continue;
                if (auto found = activatedSnapshotsBySDKName_.find(name); found != activatedSnapshotsBySDKName_.end()) {
                    snapshots.push_back(found->second);
                }
            }
        }
        for (const auto& snapshot : snapshots) {
            for (const auto& experiment : snapshot->experiments()) ids.push_back(experiment->experimentID());
        }
    });
    std::sort(ids.begin(), ids.end());
    return ids;
}

void APMEManager::reset() {
    std::weak_ptr<APMEManager> weak = weak_from_this();
    dispatchAsyncOnSerialQueue([weak] {
        auto self = weak.lock();
        if (!self) return;
        self->taskManager_->reset();
        std::lock_guard lock(self->mutex_);
        self->activatedSnapshotsBySDKName_.clear();
        self->pendingSnapshotsBySDKName_.clear();
        self->launchedSnapshotsBySDKName_.clear();
    });
}

void APMEManager::clearAndDelete() {
    std::weak_ptr<APMEManager> weak = weak_from_this();
    dispatchAsyncOnSerialQueue([weak] {
        auto self = weak.lock();
        if (!self) return;
        self->taskManager_->clearAndDelete();
        std::lock_guard lock(self->mutex_);
        self->activatedSnapshotsBySDKName_.clear();
        self->pendingSnapshotsBySDKName_.clear();
        self->launchedSnapshotsBySDKName_.clear();
    });
}

// ------------------------------------------------- task manager callbacks --

bool APMEManager::taskManagerShouldFetchExperiments() {
    std::vector<std::shared_ptr<APMEClient>> clients;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [name, client] : registeredClients_) clients.push_back(client);
    }
    for (const auto& client : clients) {
        auto delegate = client->delegate();
        if (!delegate || !delegate->shouldFetchExperimentsForClient || delegate->shouldFetchExperimentsForClient(client)) {
            return true;
        }
    }
    return false;
}

void APMEManager::taskManagerDidStart(const APMESnapshotList& activated, const APMESnapshotList& pending,
                                      const APMESnapshotList& launched) {
    std::weak_ptr<APMEManager> weak = weak_from_this();
    dispatchAsyncOnSerialQueue([weak, activated, pending, launched] {
        auto self = weak.lock();
        if (!self) return;
        const double current = self->now();
        auto store = [current](const APMESnapshotList& snapshots, SnapshotMap& map) {
            for (const auto& snapshot : snapshots) {
                if (auto copy = snapshot->copy(current)) map[copy->SDKName()] = std::move(copy);
            }
        };
        std::lock_guard lock(self->mutex_);
        store(activated, self->activatedSnapshotsBySDKName_);
        store(pending, self->pendingSnapshotsBySDKName_);
        store(launched, self->launchedSnapshotsBySDKName_);
    });
}

void APMEManager::taskManagerDidFinishFetching(const APMESnapshotList& snapshots,
                                               const std::map<std::string, APMError>& errors) {
    if (snapshots.empty() && errors.empty()) {
        monitor().log(3, 800020, "No pending snapshots to notify the clients");
        return;
    }
    std::weak_ptr<APMEManager> weak = weak_from_this();
    dispatchAsyncOnSerialQueue([weak, snapshots, errors] {
        auto self = weak.lock();
        if (!self) return;
        APMESnapshotList marked;
        for (const auto& snapshot : snapshots) {
            auto copy = snapshot->copy(self->now());
            if (copy == nullptr) continue;
            auto client = self->registeredClient(copy->SDKName());
            auto delegate = client ? client->delegate() : nullptr;
            if (delegate && delegate->clientDidReceiveNewSnapshot) {
                copy->setManuallyActivated(true);
                marked.push_back(copy);
            }
            std::lock_guard lock(self->mutex_);
            self->pendingSnapshotsBySDKName_[copy->SDKName()] = copy;
        }
        for (const auto& [name, error] : errors) {
            auto client = self->registeredClient(name);
            auto delegate = client ? client->delegate() : nullptr;
            if (delegate && delegate->clientDidReceiveFetchError) delegate->clientDidReceiveFetchError(client, error);
        }
        if (!marked.empty()) self->taskManager_->upsertPendingSnapshots(marked);
    });
}

void APMEManager::taskManagerDidUpsertPendingSnapshots(const APMESnapshotList& snapshots) {
    for (const auto& snapshot : snapshots) {
        auto client = registeredClient(snapshot->SDKName());
        auto delegate = client ? client->delegate() : nullptr;
        if (!delegate || !delegate->clientDidReceiveNewSnapshot) {
            monitor().log(0, 800021,
                          "Cannot notify new snapshot for SDK because the delegate does not implement "
                          "-clientDidReceiveNewSnapshot:",
                          snapshot->SDKName());
            continue;
        }
        const platform::QueueRef target = delegate->queue ? delegate->queue : dispatcher_.mainQueue();
        std::weak_ptr<APMEExperimentObserverDelegate> weakDelegate = delegate;
        target->async([weakDelegate, client] {
            if (auto observer = weakDelegate.lock(); observer && observer->clientDidReceiveNewSnapshot) {
                observer->clientDidReceiveNewSnapshot(client);
            }
        });
    }
}
