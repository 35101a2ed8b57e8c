// The real experiment manager inside the engine: the engine's client
// registered at start, a fetched snapshot held pending until the upload
// finds nothing to send, then its flag answering before the setting and its
// experiment ID carried in field 45 of the next bundle.

#include "EngineTestSupport.h"
#include "VadovaUtilities/LoopbackServer.h"
#include "measurement/audiences/APMExperimentManager.h"
#include "measurement/messages/WireWriter.h"

namespace engine_test {
namespace {

constexpr std::int64_t kExperimentID = 5;

// An experiment response with one snapshot for the engine's client: the
// experiment turns the flag "diagnostics_enabled" on.
std::string experimentResponse() {
    WireWriter flag;
    flag.string(1, "diagnostics_enabled").varint(5, 1);
    WireWriter experiment;
    experiment.varint(1, kExperimentID).message(2, flag);
    WireWriter snapshot;
    snapshot.string(1, "app_measurement").message(2, experiment);
    return WireWriter().message(1, snapshot).str();
}

class ExperimentsThroughEngine : public EngineFixture {
protected:
    void SetUp() override {
        realSubsystems = true;
        experimentFetchBaseURL = experimentServer.url("");
        // Connected, so that the upload reaches the queue and finds it empty.
        network = std::make_shared<VULNetwork>(std::make_shared<FixedReachability>());
        endpoints.uploadBaseURL = experimentServer.url("");
        writeBundleIdentifier();
        startWithoutStartRecords();
    }

    std::shared_ptr<APMEManager> manager() { return APMEManager::sharedInstanceIfMade(); }
    std::vector<std::int64_t> bundledExperimentIDs() {
        std::vector<std::int64_t> ids;
        const auto bundles = queued();
        if (bundles.empty()) return ids;
        for (const APMPBObject& id :
             APMPBGetArray(*bundles.back(), MeasurementBundleSlot::ExperimentIDs).value_or(APMPBArray{})) {
            if (const auto* number = std::get_if<APMPBNumber>(&id)) ids.push_back(number->longLongValue());
        }
        return ids;
    }

    LoopbackServer experimentServer;
};

TEST_F(ExperimentsThroughEngine, TheEngineRegistersItsClientAtStart) {
    ASSERT_TRUE(manager());
    EXPECT_TRUE(manager()->clientForSDKName("app_measurement"));
}

TEST_F(ExperimentsThroughEngine, AFetchedSnapshotWaitsForTheIdleUploadThenItsFlagAndIDApply) {
    applySettings({{"measurement.diagnostics.enabled", "0"}});
    experimentServer.answer(200, experimentResponse());
    const auto taskManager = manager()->taskManager();
    taskManager->dispatchAsyncOnWorkerQueue([taskManager] { taskManager->fetchExperiments(); });
    ASSERT_TRUE(runUntil([&] {
        APMESnapshotList pending;
        taskManager->dispatchSyncOnWorkerQueue([&] { pending = *taskManager->database()->fetchAllPendingSnapshots(nullptr); });
        return !pending.empty();
    }));

    const auto config = engine->remoteConfigInstance();
    const struct {
        const char* label;
        std::function<void()> step;
        bool flagged;
        std::vector<std::int64_t> bundled;
    } steps[] = {
        {"pending: the setting answers", [] {}, false, {}},
        {"the idle upload activates",
         [&] {
             engine->uploadData();
             dispatcher.drain();
         },
         true, {}},
        {"the next bundle carries the ID",
         [&] {
             log("two");
             ASSERT_TRUE(bundle());
         },
         true, {kExperimentID}},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.label);
        s.step();
        EXPECT_EQ(config->diagnosticsEnabled(), s.flagged);
        EXPECT_EQ(bundledExperimentIDs(), s.bundled);
    }
}

}  // namespace
}  // namespace engine_test
