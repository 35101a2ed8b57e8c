// Construction, enabling and the one-time start, and every entry point of an
// engine whose start failed.

#include "EngineTestSupport.h"
#include "measurement/interface/APMIdentifiers.h"
#include "measurement/storage/APMAlarm.h"
#include "measurement/storage/APMScheduler.h"

namespace engine_test {
namespace {

using EngineStart = EngineFixture;

TEST_F(EngineStart, StartOnAFreshFolderMakesEveryComponentAndLogsEnabled) {
    start();
    EXPECT_TRUE(engine->isEnabled());
    EXPECT_TRUE(engine->didInitializeComponents());
    EXPECT_TRUE(engine->database());
    EXPECT_TRUE(engine->identity());
    EXPECT_TRUE(engine->remoteConfigInstance());
    EXPECT_EQ(engine->scheduler()->workerQueue()->label(), "com.vadova.divu.worker");
    EXPECT_EQ(engine->alarm()->name(), "Measurement timer");
    EXPECT_EQ(monitor.linesWithCode(23012).size(), 1u);
    EXPECT_EQ(openAttempts, 1);
    EXPECT_EQ(center.observerCount(), 2u);
}

TEST_F(EngineStart, ADatabaseThatFailsOnlyOnItsFirstOpenLetsTheStartGoOn) {
    failingOpens = 1;
    start();
    EXPECT_EQ(openAttempts, 2);
    EXPECT_TRUE(engine->didInitializeComponents());
    EXPECT_TRUE(engine->isEnabled());
}

TEST_F(EngineStart, EnablingFollowsDeactivationAndThePersistedState) {
    const struct {
        bool enabled;
        bool deactivated;
        std::int64_t persistedState;
        bool expected;
    } cases[] = {{true, false, 0, true}, {false, false, 0, false}, {true, false, 2, false},
                 {false, false, 1, true}, {true, true, 1, false}};
    for (const auto& test : cases) {
        persisted->setMeasurementEnabledState(test.persistedState);
        start(test.enabled, test.deactivated);
        EXPECT_EQ(engine->wasEnabledDuringInitialization(), test.expected);
        EXPECT_EQ(engine->isEnabled(), test.expected);
        EXPECT_EQ(engine->didInitializeComponents(), test.expected);
        engine.reset();
        dispatcher.drain();
    }
}

TEST_F(EngineStart, ADeactivatedEngineRefusesEveryEnabling) {
    start(true, true);
    monitor.clear();
    engine->setEnabled(true);
    dispatcher.drain();
    EXPECT_EQ(monitor.linesWithCode(23206).size(), 1u);
    EXPECT_FALSE(engine->isEnabled());
}

TEST_F(EngineStart, TheFirstDisablingStoresTheDeferredCollectionValueOnce) {
    start(false);
    auto defaults = APMUserDefaults::sharedUserDefaults();
    EXPECT_EQ(defaults->integerForKey("deferred_analytics_collection"), 1);
    engine->setEnabled(true);
    dispatcher.drain();
    // Enabling kept the value: the first open reports it ("_dac") and then clears it.
    std::optional<std::int64_t> dac;
    for (const auto& row : engine->database()->allRawEvents().value.value_or(std::vector<APMRawEventRecord>{})) {
        APMError error;
        const auto data = APMRawEventData::fromRecord(row, &error);
        if (!data || data->rawEvent.name() != "_f") continue;
        if (const APMValue* value = data->rawEvent.parameters().find("_dac")) dac = value->int64Value();
    }
    EXPECT_EQ(dac, 1);
    EXPECT_FALSE(defaults->objectForKey("deferred_analytics_collection"));
}

TEST_F(EngineStart, DisablingClearsAnExpiredLaunchLinkAndKeepsAFreshOne) {
    auto defaults = APMUserDefaults::sharedUserDefaults();
    ASSERT_TRUE(defaults->setObject(platform::PropertyValue("app://old"), "/vadova/measurement/deep_link"));
    ASSERT_TRUE(defaults->setDouble(now() - 604801, "/vadova/measurement/deep_link_timestamp_seconds"));
    start(false);
    EXPECT_FALSE(defaults->objectForKey("/vadova/measurement/deep_link"));
    ASSERT_TRUE(defaults->setObject(platform::PropertyValue("app://new"), "/vadova/measurement/deep_link"));
    ASSERT_TRUE(defaults->setDouble(now() - 10, "/vadova/measurement/deep_link_timestamp_seconds"));
    engine->setEnabled(false);
    dispatcher.drain();
    EXPECT_TRUE(defaults->objectForKey("/vadova/measurement/deep_link"));
}

TEST_F(EngineStart, ResetCountsForceAWipeOnlyBelowTen) {
    start(false);
    auto defaults = APMUserDefaults::sharedUserDefaults();
    for (auto [count, wipe] : {std::pair{3, true}, {10, false}, {0, false}}) {
        ASSERT_TRUE(defaults->setInteger(count, "reset_retry_count"));
        EXPECT_EQ(engine->shouldWipeDataWithAppID(kAppID, "a", "a"), wipe) << count;
    }
    EXPECT_TRUE(engine->shouldWipeDataWithAppID(kAppID, "new", "old"));
    EXPECT_FALSE(engine->shouldWipeDataWithAppID(kAppID, "new", ""));
}

TEST_F(EngineStart, SharedInstanceIsMadeOnceAndNeverAfterAnEmptyAppID) {
    APMMeasurement::initializeSharedInstance("", true, false, {}, configuration());
    APMMeasurement::initializeSharedInstance(kAppID, true, false, {}, configuration());
    EXPECT_FALSE(APMMeasurement::hasSharedInstance());
    EXPECT_EQ(APMMeasurement::remoteConfig(), APMRemoteConfig::defaultInstance());
}

// Every entry point on an engine whose start failed (the database never
// opens, no network): each answers as an absent component would.
TEST_F(EngineStart, EveryEntryPointWorksAfterAFailedStart) {
    failingOpens = 1000;
    start();
    ASSERT_FALSE(engine->didInitializeComponents());
    ASSERT_FALSE(engine->isEnabled());
    EXPECT_GE(monitor.linesWithCode(23011).size(), 1u);
    auto& e = *engine;
    const struct {
        const char* entry;
        std::function<void()> call;
    } entries[] = {
        {"setEnabled", [&] { e.setEnabled(true); }},
        {"setEnabledOnWorkerQueue", [&] { e.setEnabledOnWorkerQueue(false); }},
        {"startMeasurementOnWorkerQueue", [&] { EXPECT_FALSE(e.startMeasurementOnWorkerQueue()); }},
        {"updateSchedule", [&] { e.updateSchedule(); }},
        {"nextUploadingTime", [&] { EXPECT_EQ(e.nextUploadingTime(), 0); }},
        {"hasDataToUpload", [&] { EXPECT_FALSE(e.hasDataToUpload()); }},
        {"isNetworkReadyForRequest", [&] { EXPECT_TRUE(e.isNetworkReadyForRequest()); }},
        {"uploadDataOrRegisterAlarm", [&] { e.uploadDataOrRegisterAlarm(); }},
        {"fetchRemoteConfig", [&] { e.fetchRemoteConfig(); }},
        {"networkRemoteConfigFetchCompletionHandler 200",
         [&] { VULHTTPResponse ok;
             ok.statusCode = 200;
             e.networkRemoteConfigFetchCompletionHandler(ok, VULData{1, 2}, std::nullopt); }},
        {"networkRemoteConfigFetchCompletionHandler failure",
         [&] { e.networkRemoteConfigFetchCompletionHandler(std::nullopt, std::nullopt, std::nullopt); }},
        {"handleAppDidBecomeActiveEvent", [&] { e.handleAppDidBecomeActiveEvent(); }},
        {"handleAppWillResignActiveEvent", [&] { e.handleAppWillResignActiveEvent(); }},
        {"handleAppWillEnterForegroundNotification", [&] { e.handleAppWillEnterForegroundNotification(); }},
        {"reachabilityDidChange", [&] { e.reachabilityDidChange(); }},
        {"tcfClientSetConsentFromData", [&] { e.tcfClientSetConsentFromData(); }},
        {"updatePersistedAppIDFromVAZ", [&] { e.updatePersistedAppIDFromVAZ(); }},
        {"VULNetwork_logWithLevel", [&] { e.VULNetwork_logWithLevel(VULLoggerLevel(9), 1, "m", std::nullopt); }},
        {"accessors", [&] {
             EXPECT_FALSE(e.database());
             EXPECT_FALSE(e.remoteConfigInstance());
             EXPECT_FALSE(e.audience());
             EXPECT_FALSE(e.tcfClient());
             EXPECT_EQ(APMMeasurement::remoteConfig(), APMRemoteConfig::defaultInstance());
         }},
        {"APMIdentifiers", [&] { EXPECT_EQ(APMIdentifiers::sharedInstance().appInstanceID().size(), 32u); }},
    };
    UploadAttemptCounter attempts;
    for (const auto& entry : entries) {
        SCOPED_TRACE(entry.entry);
        entry.call();
        dispatcher.drain();
    }
    // The resign-active upload runs and is held by the suspension that the
    // failed store of the fetched configuration set.
    EXPECT_EQ(attempts.count(), 0u);
    EXPECT_GE(attempts.linesWithCode(23023), 1u);
}

TEST_F(EngineStart, NetworkLevelsMapToMonitorLevels) {
    const int expected[] = {3, 3, 3, 1, 4, 3, 6, 7, 3, 3};
    for (int level = 0; level < 10; ++level) {
        EXPECT_EQ(APMMeasurement::monitorLevelForNetworkLevel(level), expected[level]) << level;
    }
}

}  // namespace
}  // namespace engine_test
