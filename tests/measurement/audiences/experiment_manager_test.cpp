// The experiment manager: registration, flag precedence, activation, status,
// resets, experiment IDs, the task manager's callbacks, and synchronous calls
// made from its own queue.

#include "ExperimentTestSupport.h"

namespace experiment_test {
namespace {

class ExperimentManager : public ExperimentFixture {
protected:
    void SetUp() override {
        taskManager = APMETaskManager::create(environment());
        manager = APMEManager::create(dispatcher, taskManager);
        taskManager->startTaskManager();
        dispatcher.drain();
        client = manager->registerSDKProperty(std::make_shared<APMESDKProperty>("sdk"),
                                              {{"a", APMPBNumber::numberWithLongLong(1)},
                                               {"b", std::string("default")},
                                               {"c", APMPBNumber::numberWithBool(true)}});
        ASSERT_NE(client, nullptr);
    }
    // A fetched snapshot arriving as the task manager hands it over.
    void fetched(const std::shared_ptr<APMESnapshot>& snapshot) {
        manager->taskManagerDidFinishFetching({snapshot}, {});
        dispatcher.drain();
    }
    APMESnapshotList stored(std::optional<APMESnapshotList> (APMEDatabase::*fetch)(APMError*)) {
        APMESnapshotList rows;
        taskManager->dispatchSyncOnWorkerQueue([&] { rows = (taskManager->database()->*fetch)(nullptr).value_or(rows); });
        return rows;
    }

    std::shared_ptr<APMETaskManager> taskManager;
    std::shared_ptr<APMEManager> manager;
    std::shared_ptr<APMEClient> client;
};

TEST_F(ExperimentManager, ReadsPreferActivatedThenLaunchedThenDefaults) {
    EXPECT_EQ(number(client->valueForFlag("a")), 1);
    EXPECT_EQ(number(client->valueForFlag("c")), 1) << "a Boolean default reads as the number 1";
    auto valueless = APMPBFlag::initWithBuffer({});
    APMPBSetString(*valueless, FlagSlot::Name, "b");
    fetched(snapshot("sdk", {experiment(0, {flag("b", "launched"), flag("a", APMPBNumber::numberWithLongLong(9))}),
                             experiment(7, {flag("a", APMPBNumber::numberWithLongLong(7)), valueless})},
                     now()));
    EXPECT_EQ(number(client->valueForFlag("a")), 1) << "pending values are not in force";
    APMError error;
    ASSERT_TRUE(client->activateLatestSnapshot(&error));
    EXPECT_EQ(number(client->valueForFlag("a")), 7);
    EXPECT_EQ(text(client->valueForFlag("b")), "launched") << "a flag without value falls through";
    EXPECT_FALSE(client->valueForFlag("unknown").has_value());
    EXPECT_EQ(manager->experimentIDs(), std::vector<std::int64_t>{7});

    client->resetToDefaults();
    EXPECT_EQ(number(client->valueForFlag("a")), 9) << "the launched value outlives the reset";
    EXPECT_TRUE(stored(&APMEDatabase::fetchAllActivatedSnapshots).empty());
    EXPECT_EQ(stored(&APMEDatabase::fetchAllLaunchedSnapshots).size(), 1u);
}

TEST_F(ExperimentManager, ActivationRefusalsAndALaunchedOnlySnapshot) {
    APMError error;
    EXPECT_FALSE(client->activateLatestSnapshot(&error));
    EXPECT_EQ(error.code, 0) << "no pending snapshot sets no error";
    EXPECT_FALSE(manager->activateSnapshotOfSDK(std::nullopt, &error));
    EXPECT_EQ(error, APMError::withCode(1, "SDK name cannot be nil"));

    fetched(snapshot("sdk", {experiment(3, {flag("a", APMPBNumber::numberWithLongLong(3))})}, now()));
    ASSERT_TRUE(client->activateLatestSnapshot(&error));
    fetched(snapshot("sdk", {experiment(0, {flag("a", APMPBNumber::numberWithLongLong(4))})}, now()));
    ASSERT_TRUE(client->activateLatestSnapshot(&error));
    EXPECT_EQ(number(client->valueForFlag("a")), 4) << "the activated snapshot is empty in memory";
    EXPECT_TRUE(manager->experimentIDs().empty());
    EXPECT_EQ(ids(stored(&APMEDatabase::fetchAllActivatedSnapshots).at(0)), std::vector<std::int32_t>{3})
        << "the stored activated row stays";
}

TEST_F(ExperimentManager, StatusFollowsTheActivationAge) {
    EXPECT_EQ(manager->activatedSnapshotStatusOfSDKName("other"), -1);
    EXPECT_EQ(manager->activatedSnapshotStatusOfSDKName("sdk"), -2);
    fetched(snapshot("sdk", {experiment(1, {flag("a", "x")})}, now()));
    APMError error;
    ASSERT_TRUE(client->activateLatestSnapshot(&error));
    EXPECT_EQ(manager->activatedSnapshotStatusOfSDKName("sdk"), 0);
    dispatcher.virtualClock().advance(kAPMEStaleSnapshotAge);
    EXPECT_FALSE(client->hasStaleSnapshot()) << "exactly three days is not stale";
    dispatcher.virtualClock().advance(1);
    EXPECT_TRUE(client->hasStaleSnapshot());
}

TEST_F(ExperimentManager, ReRegistrationReplacesDefaultsAndIDsSkipOwnDiversionKeys) {
    auto second = manager->registerSDKProperty(std::make_shared<APMESDKProperty>("sdk"),
                                               {{"a", APMPBNumber::numberWithLongLong(2)}});
    EXPECT_EQ(number(client->valueForFlag("a")), 2);
    EXPECT_EQ(monitor.linesWithCode(800003).size(), 1u);
    EXPECT_EQ(manager->registerSDKProperty(std::make_shared<APMESDKProperty>("bad"),
                                           {{"x", APMPBData(std::vector<std::uint8_t>{1})}}),
              nullptr);

    auto keyed = std::make_shared<APMESDKProperty>("keyed");
    keyed->setDiversionKey("own");
    auto keyedClient = manager->registerSDKProperty(keyed, {});
    fetched(snapshot("keyed", {experiment(11, {flag("k", "v")})}, now()));
    fetched(snapshot("sdk", {experiment(9, {flag("a", "v")}), experiment(4, {flag("b", "w")})}, now()));
    APMError error;
    ASSERT_TRUE(keyedClient->activateLatestSnapshot(&error));
    ASSERT_TRUE(second->activateLatestSnapshot(&error));
    EXPECT_EQ(manager->experimentIDs(), (std::vector<std::int64_t>{4, 9}));
}

TEST_F(ExperimentManager, FetchDecisionFollowsTheClientDelegates) {
    auto empty = APMEManager::create(dispatcher, APMETaskManager::create(environment()));
    EXPECT_FALSE(empty->taskManagerShouldFetchExperiments()) << "no SDK registered";
    dispatcher.drain();
    EXPECT_TRUE(manager->taskManagerShouldFetchExperiments()) << "a client without delegate";
    auto observer = std::make_shared<APMEExperimentObserverDelegate>();
    observer->shouldFetchExperimentsForClient = [](const auto&) { return false; };
    client->setDelegate(observer);
    EXPECT_FALSE(manager->taskManagerShouldFetchExperiments());
}

TEST_F(ExperimentManager, AListeningClientGetsItsSnapshotMarkedStoredAndAnnounced) {
    auto observer = std::make_shared<APMEExperimentObserverDelegate>();
    observer->queue = dispatcher.makeSerialQueue("observer");
    int notices = 0;
    bool onItsQueue = false;
    observer->clientDidReceiveNewSnapshot = [&](const auto&) {
        ++notices;
        onItsQueue = observer->queue->isCurrent();
    };
    client->setDelegate(observer);
    fetched(snapshot("sdk", {experiment(2, {flag("a", "n")})}, now()));
    EXPECT_EQ(notices, 1);
    EXPECT_TRUE(onItsQueue);
    auto pending = stored(&APMEDatabase::fetchAllPendingSnapshots);
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_TRUE(pending[0]->manuallyActivated());
}

TEST_F(ExperimentManager, StoredSnapshotsAreHandedOverAtStart) {
    taskManager->dispatchSyncOnWorkerQueue([&] {
        ASSERT_TRUE(taskManager->database()->upsertPendingExperimentSnapshots(
            {snapshot("sdk", {experiment(0, {flag("b", "launched")}), experiment(6, {flag("a", "s")})}, now())},
            nullptr));
    });
    auto restarted = APMETaskManager::create(environment());
    auto second = APMEManager::create(dispatcher, restarted);
    auto secondClient = second->registerSDKProperty(std::make_shared<APMESDKProperty>("sdk"), {});
    restarted->startTaskManager();
    dispatcher.drain();
    EXPECT_EQ(text(secondClient->valueForFlag("a")), "s") << "an unmarked pending row is activated at start";
    EXPECT_EQ(text(secondClient->valueForFlag("b")), "launched");
}

// The fetch-error notice runs on the manager's queue; reading a flag and
// activating from there must not wait for that queue. Real threads: a
// deadlock only shows on the real dispatcher.
TEST(ExperimentManagerQueues, SynchronousCallsFromTheirOwnQueueRunInline) {
    storage_test::TemporaryFolder folder;
    auto dispatcher = platform::makeRealDispatcher();
    APMETaskManagerEnvironment env;
    env.dispatcher = dispatcher.get();
    env.databasePath = (folder.path() / "exp.sql").string();
    env.readFetchBaseURLFromOptions = false;
    env.network = std::make_shared<VULNetwork>();
    env.persistedStorage = std::make_shared<APMUserDefaults>(std::make_shared<platform::UserDefaults>("s", folder.path()));
    env.requestBuilder = std::make_shared<APMEExperimentRequestBuilder>();
    auto taskManager = APMETaskManager::create(env);
    auto manager = APMEManager::create(*dispatcher, taskManager);
    auto client = manager->registerSDKProperty(std::make_shared<APMESDKProperty>("sdk"), {{"a", std::string("d")}});
    auto done = dispatcher->makeSemaphore(0);
    std::string read;
    auto observer = std::make_shared<APMEExperimentObserverDelegate>();
    observer->clientDidReceiveFetchError = [&](const std::shared_ptr<APMEClient>& c, const APMError&) {
        read = text(c->valueForFlag("a"));
        APMError error;
        EXPECT_FALSE(c->activateLatestSnapshot(&error));
        taskManager->dispatchSyncOnWorkerQueue([&] { taskManager->dispatchSyncOnWorkerQueue([] {}); });
        done->signal();
    };
    client->setDelegate(observer);
    manager->taskManagerDidFinishFetching({}, {{"sdk", APMError{kAPMExperimentErrorDomain, -1, ""}}});
    ASSERT_TRUE(done->wait(10));
    manager->dispatchSyncOnSerialQueue([] {});  // the notice's block has ended
    EXPECT_EQ(read, "d");
}

}  // namespace
}  // namespace experiment_test
