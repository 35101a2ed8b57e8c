// Fetch scheduling: the cadence, back-off and give-up, the hold after 429 and
// 503, the alarm rules, and the request and answers over a loopback server.

#include <zlib.h>

#include "ExperimentTestSupport.h"
#include "VadovaUtilities/LoopbackServer.h"
#include "VadovaUtilities/VULGzip.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"
#include "measurement/messages/WireWriter.h"

namespace experiment_test {
namespace {

std::string responseBody(const std::string& value) {
    WireWriter flagBytes;
    flagBytes.string(1, "a").string(3, value);
    WireWriter experimentBytes;
    experimentBytes.varint(1, 5).message(2, flagBytes);
    WireWriter snapshotBytes;
    snapshotBytes.string(1, "sdk").message(2, experimentBytes);
    return WireWriter().message(1, snapshotBytes).str();
}

std::string gzipped(const std::string& plain) {
    auto result = vul_dataByGzippingData(VULData(plain.begin(), plain.end()));
    return std::string(result.data->begin(), result.data->end());
}

std::string zlibbed(const std::string& plain) {
    uLongf length = compressBound(plain.size());
    std::string out(length, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(plain.data()),
              plain.size(), Z_DEFAULT_COMPRESSION);
    out.resize(length);
    return out;
}

class ExperimentFetch : public ExperimentFixture {
protected:
    void SetUp() override {
        fetchBaseURL = server.url("");
        builder->setAppInfoProvider([] { return APMExperimentAppInfo{{"en-GB"}, "com.example.app", false, 10000}; });
        builder->setDiversionKeyProvider([] { return std::string("abcde"); });
        builder->addSDKProperty(std::make_shared<APMESDKProperty>("sdk"));
    }
    std::shared_ptr<APMETaskManager> start() {
        auto made = APMETaskManager::create(environment());
        made->setDelegate(delegate);
        made->startTaskManager();
        dispatcher.drain();
        return made;
    }
    // One fetch, run at once as the alarm would run it, until its answer has
    // been handled.
    void fetch(APMETaskManager& taskManager) {
        taskManager.alarm().cancel();
        const auto before = server.received().size();
        const double failure = stored(kAPMExperimentFetchFailureTimestampKey);
        const int finishes = delegate->finishes;
        taskManager.dispatchAsyncOnWorkerQueue([&] { taskManager.fetchExperiments(); });
        ASSERT_TRUE(runUntil([&] {
            return server.received().size() > before &&
                   (delegate->finishes > finishes || stored(kAPMExperimentFetchFailureTimestampKey) != failure);
        }));
    }
    double scheduled(APMETaskManager& taskManager) { return taskManager.alarm().scheduledTimestamp().value_or(-1); }
    APMESnapshotList pendingRows(APMETaskManager& taskManager) {
        APMESnapshotList rows;
        taskManager.dispatchSyncOnWorkerQueue([&] { rows = *taskManager.database()->fetchAllPendingSnapshots(nullptr); });
        return rows;
    }

    LoopbackServer server;
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
};

TEST_F(ExperimentFetch, FirstFetchOfAProcess) {
    const struct {
        const char* label;
        double success, failure, expected;
    } cases[] = {{"never succeeded", 0, 0, now() + 10},
                 {"success an hour ago", now() - 3600, 0, now() - 3600 + 14400},
                 {"success five hours ago, failures ignored", now() - 18000, now() - 5, now() + 10},
                 {"success 1000 s in the future", now() + 1000, 0, now() - 1000 + 14400}};
    for (const auto& test : cases) {
        auto taskManager = APMETaskManager::create(environment());
        EXPECT_EQ(taskManager->fetchTimeFromLastSuccessfulTimestamp(test.success, test.failure), test.expected)
            << test.label;
    }
}

TEST_F(ExperimentFetch, BackOffDoublesSixTimesFromTheLaterOfSuccessAndProcessStartThenGivesUp) {
    const double start = now();
    const struct {
        const char* label;
        double success;
        double seriesStart;
    } cases[] = {{"no success ever", 0, start},
                 {"recent success", start - 3600, start - 3600 + 14400},
                 {"success 40 hours before this process", start - 144000, start}};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.label);
        auto taskManager = APMETaskManager::create(environment());
        taskManager->setHasMadeInitialFetch(true);
        double failure = start + 10;
        for (int k = 1; k <= 6; ++k) {
            const double next = taskManager->fetchTimeFromLastSuccessfulTimestamp(test.success, failure);
            EXPECT_EQ(next, test.seriesStart + 1800 * ((1 << k) - 1)) << "attempt " << k;
            failure = next + 5;
        }
        EXPECT_EQ(taskManager->fetchTimeFromLastSuccessfulTimestamp(test.success, failure), 0);
    }
}

TEST_F(ExperimentFetch, GiveUpForgetsTheSuccessAndArmsNothing) {
    auto taskManager = start();
    taskManager->alarm().cancel();
    (void)storage->setDouble(now() - 3600, kAPMExperimentFetchSuccessTimestampKey);
    (void)storage->setDouble(now() + 200000, kAPMExperimentFetchFailureTimestampKey);
    taskManager->dispatchSyncOnWorkerQueue([&] { taskManager->scheduleFetchingExperimentsOnWorkerQueue(); });
    EXPECT_EQ(monitor.linesWithCode(820024).size(), 1u);
    EXPECT_FALSE(storage->objectForKey(kAPMExperimentFetchSuccessTimestampKey).has_value());
    EXPECT_EQ(scheduled(*taskManager), -1);
}

TEST_F(ExperimentFetch, AnEarlierAlarmStaysALaterOneIsReplaced) {
    auto taskManager = start();
    EXPECT_EQ(scheduled(*taskManager), now() + 10);
    (void)storage->setDouble(now() - 3600, kAPMExperimentFetchSuccessTimestampKey);
    taskManager->alarm().runAfterDelay(5, [] {});
    taskManager->dispatchSyncOnWorkerQueue([&] { taskManager->scheduleFetchingExperimentsOnWorkerQueue(); });
    EXPECT_EQ(scheduled(*taskManager), now() + 5);
    EXPECT_EQ(monitor.linesWithCode(820017).size(), 1u);
    taskManager->alarm().runAfterDelay(100000, [] {});
    taskManager->dispatchSyncOnWorkerQueue([&] { taskManager->scheduleFetchingExperimentsOnWorkerQueue(); });
    EXPECT_EQ(scheduled(*taskManager), now() - 3600 + 14400);
    (void)storage->setDouble(now() - 20000, kAPMExperimentFetchSuccessTimestampKey);
    taskManager->alarm().cancel();
    taskManager->dispatchSyncOnWorkerQueue([&] { taskManager->scheduleFetchingExperimentsOnWorkerQueue(); });
    EXPECT_EQ(scheduled(*taskManager), now() + 0.001) << "a time in the past fires at once";
}

TEST_F(ExperimentFetch, NoSDKWantingExperimentsCountsAsASuccessNow) {
    delegate->shouldFetch = false;
    auto taskManager = start();
    dispatcher.advance(10);
    EXPECT_TRUE(server.received().empty());
    EXPECT_EQ(stored(kAPMExperimentFetchSuccessTimestampKey), now());
    EXPECT_EQ(scheduled(*taskManager), now() + 14400);
}

TEST_F(ExperimentFetch, RequestCarriesTheAppAndEverySDKWithADiversionKey) {
    server.answer(204, "");
    auto taskManager = start();
    dispatcher.advance(10);
    ASSERT_TRUE(runUntil([&] { return delegate->finishes == 1; }));
    const ReceivedRequest request = server.received().at(0);
    EXPECT_EQ(request.path, "/sdk-exp");
    EXPECT_EQ(request.header("Content-Encoding"), "gzip");
    // The loopback server has inflated the body already.
    auto message = APMPBExperimentRequest::initWithBuffer(VULData(request.body.begin(), request.body.end()));
    ASSERT_NE(message, nullptr);
    auto app = APMPBGetMessage<APMPBAppProperty>(*message, ExperimentRequestSlot::AppProperty);
    EXPECT_EQ(APMPBGetString(*app, AppPropertySlot::Platform), "macos");
    EXPECT_EQ(APMPBGetString(*app, AppPropertySlot::Language), "en-gb");
    auto clients = APMPBGetMessages<APMPBClientProperty>(*message, ExperimentRequestSlot::ClientProperties);
    ASSERT_EQ(clients.size(), 1u);
    EXPECT_EQ(APMPBGetString(*clients[0], ClientPropertySlot::DiversionID), "abcde-sdk");
}

TEST_F(ExperimentFetch, GzipZlibAndPlainBodiesAllYieldTheirSnapshots) {
    auto taskManager = start();
    const struct {
        const char* label;
        std::string body;
        std::map<std::string, std::string> headers;
        const char* value;
    } cases[] = {{"gzip", gzipped(responseBody("g")), {}, "g"},
                 {"zlib", zlibbed(responseBody("z")), {}, "z"},
                 {"plain", responseBody("p"), {}, "p"},
                 {"gzip content encoding", gzipped(responseBody("e")), {{"Content-Encoding", "gzip"}}, "e"}};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.label);
        server.answer(200, test.body, test.headers);
        fetch(*taskManager);
        ASSERT_EQ(delegate->fetched.size(), 1u);
        EXPECT_EQ(text(APMPBFlagValue(delegate->fetched[0]->flagByName("a").get())), test.value);
        EXPECT_EQ(text(APMPBFlagValue(pendingRows(*taskManager).at(0)->flagByName("a").get())), test.value);
        EXPECT_EQ(stored(kAPMExperimentFetchSuccessTimestampKey), now());
    }
    EXPECT_TRUE(monitor.linesWithCode(820023).empty());
}

TEST_F(ExperimentFetch, BadAnswersKeepTheStoredSnapshotsAndScheduleAsTold) {
    auto taskManager = start();
    server.answer(200, gzipped(responseBody("kept")));
    fetch(*taskManager);

    server.answer(200, std::string("\xff\xff\xff", 3));
    fetch(*taskManager);
    EXPECT_EQ(monitor.linesWithCode(820015).size(), 1u) << "a body that does not decode";
    EXPECT_EQ(stored(kAPMExperimentFetchSuccessTimestampKey), now());
    EXPECT_EQ(text(APMPBFlagValue(pendingRows(*taskManager).at(0)->flagByName("a").get())), "kept");

    server.answer(200, std::string("\x1f\x8b\x08\x00garbage", 11));
    fetch(*taskManager);
    EXPECT_EQ(monitor.linesWithCode(820023).size(), 1u) << "a gzip header over bytes that do not inflate";

    const double answeredAt = now();
    server.answer(503, "");
    fetch(*taskManager);
    EXPECT_EQ(stored(kAPMExperimentFetchFailureTimestampKey), answeredAt);
    EXPECT_EQ(stored(kAPMExperimentFetchBackoffTimestampKey), answeredAt);
    EXPECT_EQ(scheduled(*taskManager), answeredAt + 43200) << "held however short the back-off step";

    server.answer(500, "");
    dispatcher.advance(43200);
    ASSERT_TRUE(runUntil([&] { return stored(kAPMExperimentFetchFailureTimestampKey) == now(); }));
    EXPECT_EQ(text(APMPBFlagValue(pendingRows(*taskManager).at(0)->flagByName("a").get())), "kept");
    EXPECT_GT(monitor.linesWithCode(820002).size(), 1u);
}

TEST(ExperimentFetchURL, OnlyHttpsOrLoopbackHttpBaseURLsAreFetchedFrom) {
    const struct {
        const char* base;
        std::optional<std::string> url;
    } cases[] = {{"https://exp.example.com", "https://exp.example.com/sdk-exp"},
                 {"https://exp.example.com:8443/", "https://exp.example.com:8443/sdk-exp"},
                 {"http://127.0.0.1:9000", "http://127.0.0.1:9000/sdk-exp"},
                 {"https://exp.example.com/v2?key=1#top", "https://exp.example.com/sdk-exp"},
                 {"http://exp.example.com", std::nullopt},
                 {"https://exp.example.com/a b", std::nullopt},
                 {"https://user@exp.example.com", std::nullopt},
                 {"ftp://exp.example.com", std::nullopt}};
    for (const auto& test : cases) EXPECT_EQ(APMEExperimentFetchURL(test.base), test.url) << test.base;
}

TEST_F(ExperimentFetch, NoAnswerAtAllIsAFailure) {
    fetchBaseURL = "http://127.0.0.1:" + std::to_string(closedLoopbackPort());
    auto taskManager = start();
    taskManager->dispatchAsyncOnWorkerQueue([&] { taskManager->fetchExperiments(); });
    ASSERT_TRUE(runUntil([&] { return stored(kAPMExperimentFetchFailureTimestampKey) == now(); }));
    EXPECT_EQ(stored(kAPMExperimentFetchBackoffTimestampKey), 0);
}

TEST_F(ExperimentFetch, WithoutAServiceURLNothingIsAskedOrRetried) {
    for (const std::optional<std::string>& base : {std::optional<std::string>(), std::optional<std::string>("http://exp.example.com")}) {
        SCOPED_TRACE(base.value_or("none"));
        monitor.clear();
        fetchBaseURL = base;
        auto taskManager = start();
        dispatcher.advance(7 * 86400);
        EXPECT_EQ(monitor.linesWithCode(820028),
                  std::vector<std::string>{
                      "[VeredodaAnalytics] WARNING I-ACS820028 No experiment service URL. Experiments are not fetched"});
        EXPECT_TRUE(monitor.linesWithCode(820002).empty());
        EXPECT_EQ(stored(kAPMExperimentFetchFailureTimestampKey), 0);
        EXPECT_EQ(scheduled(*taskManager), -1);
    }
}

}  // namespace
}  // namespace experiment_test
