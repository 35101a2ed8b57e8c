#pragma once
// Fixtures of the experiment tests: flags, experiments and snapshots made in
// one line, a task manager on the deterministic dispatcher over a private
// store and user-defaults suite, and a delegate that records what the task
// manager tells it.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "measurement/audiences/APMExperimentManager.h"
#include "measurement/audiences/APMExperimentTaskManager.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/APMPBFlag.h"
#include "measurement/messages/ExperimentResponse.h"
#include "measurement/storage/StorageTestSupport.h"
#include "platform/core/DeterministicDispatch.h"
#include "platform/core/UserDefaults.h"

namespace experiment_test {

inline APMEFlag flag(const std::string& name, const APMPBObject& value) {
    return APMPBFlagWithNameValue(APMPBObject(name), value, APMEMonitor::shared());
}

inline std::shared_ptr<APMEExperiment> experiment(std::int32_t id, const std::vector<APMEFlag>& flags) {
    return APMEExperiment::create(id, flags);
}

inline std::shared_ptr<APMESnapshot> snapshot(const std::string& name,
                                              const std::vector<std::shared_ptr<APMEExperiment>>& experiments,
                                              double timestamp) {
    return APMESnapshot::create(name, experiments, timestamp);
}

inline std::vector<std::int32_t> ids(const std::shared_ptr<APMESnapshot>& snapshot) {
    std::vector<std::int32_t> found;
    for (const auto& experiment : snapshot->experiments()) found.push_back(experiment->experimentID());
    return found;
}

inline std::int64_t number(const std::optional<APMPBObject>& value) {
    const auto* n = value ? std::get_if<APMPBNumber>(&*value) : nullptr;
    return n ? n->longLongValue() : -999;
}

inline std::string text(const std::optional<APMPBObject>& value) {
    const auto* s = value ? std::get_if<std::string>(&*value) : nullptr;
    return s ? *s : "(none)";
}

struct RecordingDelegate : APMETaskManagerDelegate {
    bool shouldFetch = true;
    int starts = 0;
    APMESnapshotList started[3];
    int finishes = 0;
    APMESnapshotList fetched;
    std::map<std::string, APMError> errors;
    APMESnapshotList upserted;

    bool taskManagerShouldFetchExperiments() override { return shouldFetch; }
    void taskManagerDidStart(const APMESnapshotList& a, const APMESnapshotList& p, const APMESnapshotList& l) override {
        ++starts;
        started[0] = a;
        started[1] = p;
        started[2] = l;
    }
    void taskManagerDidFinishFetching(const APMESnapshotList& s, const std::map<std::string, APMError>& e) override {
        ++finishes;
        fetched = s;
        errors = e;
    }
    void taskManagerDidUpsertPendingSnapshots(const APMESnapshotList& s) override { upserted = s; }
};

class ExperimentFixture : public ::testing::Test {
protected:
    ExperimentFixture() : monitor({"-APMAnalyticsVerboseLoggingEnabled"}) {}

    APMETaskManagerEnvironment environment() {
        APMETaskManagerEnvironment env;
        env.dispatcher = &dispatcher;
        env.databasePath = (folder.path() / kAPMEDatabaseFileName).string();
        env.readFetchBaseURLFromOptions = false;
        env.fetchBaseURL = fetchBaseURL;
        env.network = std::make_shared<VULNetwork>();
        env.persistedStorage = storage;
        env.requestBuilder = builder;
        return env;
    }

    double now() { return dispatcher.virtualClock().now(); }
    double stored(const char* key) { return storage->doubleForKey(key); }

    // Drains while real threads (the HTTP transport) finish their part.
    template <class Predicate>
    bool runUntil(Predicate done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            dispatcher.drain();
            std::this_thread::yield();
        }
        dispatcher.drain();
        return done();
    }

    storage_test::TemporaryFolder folder;
    storage_test::MonitorCapture monitor;
    platform::DeterministicDispatcher dispatcher;
    std::shared_ptr<APMUserDefaults> storage = std::make_shared<APMUserDefaults>(
        std::make_shared<platform::UserDefaults>(kAPMExperimentSuiteName, folder.path()));
    std::shared_ptr<APMEExperimentRequestBuilder> builder = std::make_shared<APMEExperimentRequestBuilder>();
    std::optional<std::string> fetchBaseURL;
};

}  // namespace experiment_test
