// Upload of queued bundles against a loopback server: what one batch
// carries, how each answer changes the queue and the upload times, the
// filter that keeps one batch to one app and device, unreadable queue rows,
// and the back-off that holds every start.

#include "measurement/storage/APMAlarm.h"
#include "EngineTestSupport.h"
#include "VadovaUtilities/LoopbackServer.h"
#include "VadovaUtilities/VULGzip.h"
#include "VadovaUtilities/VULMainBundle.h"
#include "platform/core/PropertyList.h"

namespace engine_test {
namespace {

std::shared_ptr<APMPBMeasurementBundle> makeBundle(std::int64_t endMillis, const std::string& appID = kAppID,
                                                   const std::string& resettableDeviceID = "") {
    auto bundle = APMPBMeasurementBundle::initWithBuffer({});
    APMPBSetString(*bundle, MeasurementBundleSlot::AppID, appID);
    APMPBSetInt64(*bundle, MeasurementBundleSlot::EndTimestamp, endMillis);
    if (!resettableDeviceID.empty()) {
        APMPBSetString(*bundle, MeasurementBundleSlot::ResettableDeviceID, resettableDeviceID);
    }
    return bundle;
}

class Upload : public EngineFixture {
protected:
    void SetUp() override {
        network = std::make_shared<VULNetwork>(std::make_shared<FixedReachability>());
        endpoints.uploadBaseURL = server.url("");
        start();
        ASSERT_TRUE(engine->database());
        discardStartRecords();
        APMError error;
        ASSERT_TRUE(engine->database()->updateRemoteConfigSuccessfulTimestamp(now(), &error));  // fresh: no fetch
    }

    void queue(std::int64_t endMillis = 1'700'000'000'000, const std::string& appID = kAppID) {
        APMError error;
        const auto bytes = makeBundle(endMillis, appID)->protoBuffer();
        ASSERT_TRUE(engine->database()->insertBundle(bytes->toVector(), false, &error)) << error.text();
    }
    std::vector<std::int32_t> retryCounts() { return queuedRetryCounts(*engine->database()); }
    // Starts an upload and waits until its answer is handled; the request posted.
    ReceivedRequest upload() {
        const auto before = server.received().size();
        engine->uploadData();
        EXPECT_TRUE(runUntil([&] { return server.received().size() > before && !engine->isNetworkRequestPending(); }));
        return server.received().empty() ? ReceivedRequest{} : server.received().back();
    }

    LoopbackServer server;
    UploadAttemptCounter attempts;
};

TEST_F(Upload, OneBatchCarriesTheQueueWithOneUploadTimeAndRetryCountsOnTheWire) {
    queue(1);
    queue(2);
    server.answer(500, "");
    const auto request = upload();
    EXPECT_EQ(request.path, "/a");
    const auto bundles = bundlesOf(request);
    ASSERT_EQ(bundles.size(), 2u);
    for (const auto& bundle : bundles) {
        EXPECT_EQ(APMPBGetInt64(*bundle, MeasurementBundleSlot::UploadTimestamp), static_cast<std::int64_t>(now() * 1000));
        EXPECT_EQ(APMPBGetInt64(*bundle, MeasurementBundleSlot::UploadLibraryVersion),
                  APMIdentity::varUradazaduroLibraryVersion());
        EXPECT_FALSE(APMPBHasField(*bundle, MeasurementBundleSlot::UploadRetryCount));
    }
    EXPECT_EQ(retryCounts(), (std::vector<std::int32_t>{1, 1}));

    for (const auto& bundle : bundlesOf(upload())) {
        EXPECT_EQ(APMPBGetInt32(*bundle, MeasurementBundleSlot::UploadRetryCount), 1);
    }
}

TEST_F(Upload, EachAnswerSetsTheQueueAndTheUploadTimes) {
    const struct {
        int status;
        bool deleted;
        bool backoff;
    } cases[] = {{200, true, false}, {204, true, false}, {500, false, false},
                 {503, false, true},  {429, false, true}, {404, false, false}};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.status);
        APMError error;
        ASSERT_TRUE(engine->database()->reset(&error));
        ASSERT_TRUE(engine->database()->updateRemoteConfigSuccessfulTimestamp(now(), &error));
        persisted->setLastSuccessfulUploadTimestamp(0);
        persisted->setLastBackoffTimestamp(0);
        queue();
        server.answer(test.status, "");
        upload();
        EXPECT_EQ(retryCounts(), test.deleted ? std::vector<std::int32_t>{} : std::vector<std::int32_t>{1});
        EXPECT_EQ(persisted->lastSuccessfulUploadTimestamp(), test.deleted ? now() : 0);
        EXPECT_EQ(persisted->lastFailedUploadTimestamp(), test.deleted ? 0 : now());
        EXPECT_EQ(persisted->lastBackoffTimestamp(), test.backoff ? now() : 0);
    }
}

TEST_F(Upload, ABatchStopsAtTheFirstBundleOfAnotherAppOrDevice) {
    const auto pair = [](const std::string& appID, const std::string& device, std::int64_t row) {
        return std::make_pair(makeBundle(1, appID, device), row);
    };
    const std::vector<APMMeasurement::BundleToUpload> bundles = {pair(kAppID, "d", 1), pair(kAppID, "", 2),
                                                                 pair(kAppID, "e", 3), pair("other", "", 4)};
    const struct {
        const char* label;
        std::optional<std::string> resettable;
        std::optional<std::string> vendor;
        std::size_t kept;
    } cases[] = {{"device d: up to device e", "d", std::nullopt, 2},
                 {"no device: up to the other app", std::nullopt, std::nullopt, 3},
                 {"both device IDs: none", "d", "v", 0}};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.label);
        EXPECT_EQ(engine->filteredBundlesWithCompatibleAppID(kAppID, test.resettable, test.vendor, bundles).size(),
                  test.kept);
    }
}

TEST_F(Upload, BundlesOfAnotherAppWaitAndComeFirstNextTime) {
    queue(1);
    queue(2, "1:1234:macos:other");
    server.answer(200, "");
    upload();  // the success uploads again at once while data remains
    ASSERT_TRUE(runUntil([&] { return server.received().size() == 2 && !engine->isNetworkRequestPending(); }));
    const auto second = bundlesOf(server.received()[1]);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(APMPBGetString(*second[0], MeasurementBundleSlot::AppID), "1:1234:macos:other");
    EXPECT_TRUE(retryCounts().empty());
}

TEST_F(Upload, UnreadableQueueRowsAreDroppedCountedAndTheRowsBehindThemUpload) {
    queue(1);
    queue(2);
    queue(3);
    {
        APMError error;
        auto store = APMSqliteStore::open((folder.path() / "measurement.sql").string(), &error);
        // A bundle that decodes but is larger than the queue's cap.
        auto huge = makeBundle(1);
        std::vector<std::shared_ptr<APMPBEvent>> events;
        for (int i = 0; i < 9; ++i) {
            events.push_back(APMPBEvent::initWithBuffer({}));
            APMPBSetString(*events.back(), EventSlot::Name, std::string(1'000'000, 'x'));
        }
        APMPBSetArray(*huge, MeasurementBundleSlot::Events, APMPBArrayOfMessages(events));
        const auto bomb = vul_dataByGzippingData(huge->protoBuffer()->toVector());
        ASSERT_TRUE(store->execute("UPDATE queue SET data = ? WHERE rowid = 1", {APMSqliteValue(*bomb.data)}).value);
        ASSERT_TRUE(store->execute("UPDATE queue SET data = x'1f8b0102' WHERE rowid = 2", {}).value);
    }
    // One bundle per upload: the dropped rows must not use up the count.
    ASSERT_TRUE(engine->remoteConfigInstance()->updateMeasurementConfig(
        makeConfig(kAppID, {{"measurement.upload.max_bundles", "1"}})));
    server.answer(200, "");
    const auto bundles = bundlesOf(upload());
    ASSERT_EQ(bundles.size(), 1u);
    EXPECT_EQ(APMPBGetInt64(*bundles[0], MeasurementBundleSlot::EndTimestamp), 3);
    EXPECT_TRUE(retryCounts().empty());
    std::int64_t dropped = 0;
    const auto signals = engine->database()->consumeDiagnosticsSignals();
    ASSERT_TRUE(signals.value);
    for (const auto& signal : *signals.value) {
        if (signal.signalName == "bundle_dropped_count" && signal.metadata == "unreadable") dropped += signal.count;
    }
    EXPECT_EQ(dropped, 2);
}

TEST_F(Upload, TheQueueRefusesABundleOverItsCap) {
    APMError error;
    EXPECT_FALSE(engine->database()->insertBundle(APMBytes(kAPMMaxQueuedBundleBytes + 1, 0), false, &error));
    EXPECT_EQ(error.description, "Failed to insert bundle larger than the queue's limit");
}

TEST_F(Upload, ASessionThatCannotBeMadeSendsNoEmptyListToTheRetryCounter) {
    endpoints.uploadBaseURL.reset();
    engine = APMMeasurement::create(kAppID, true, false, {}, configuration());
    dispatcher.drain();
    queue();
    engine->uploadData();
    ASSERT_TRUE(runUntil([&] { return !engine->isNetworkRequestPending(); }));
    EXPECT_EQ(attempts.linesWithCode(23040), 1u);
    EXPECT_EQ(attempts.linesWithCode(23166), 0u);
    EXPECT_EQ(persisted->lastFailedUploadTimestamp(), now());
    EXPECT_EQ(retryCounts(), std::vector<std::int32_t>{1});
    EXPECT_TRUE(engine->uploadingBundleIDs().empty());
}

// The attempt has counted its retry before the request leaves, as it has set
// the failure time: a process that ends before the answer loses no count.
TEST_F(Upload, AnAttemptCountsItsRetryBeforeTheAnswerArrives) {
    RawServer silent("", false);
    endpoints.uploadBaseURL = silent.url("");
    engine = APMMeasurement::create(kAppID, true, false, {}, configuration());
    dispatcher.drain();
    queue();
    engine->uploadData();
    ASSERT_TRUE(engine->isNetworkRequestPending());
    EXPECT_EQ(retryCounts(), std::vector<std::int32_t>{1});
    EXPECT_EQ(persisted->lastFailedUploadTimestamp(), now());
}

TEST_F(Upload, AfterABackOffAnswerNoStartPostsUntilTheBackOffEnds) {
    queue();
    engine->updateSchedule();  // the new data's timer, which fires before the back-off ends and stays
    server.answer(503, "");
    upload();
    const double backoffEnd = now() + 43200;  // the default back-off period
    ASSERT_EQ(engine->alarm()->scheduledTimestamp(), now() + 15);
    engine->handleAppWillResignActiveEvent();
    dispatcher.drain();
    dispatcher.advance(15);
    EXPECT_EQ(engine->alarm()->scheduledTimestamp(), backoffEnd);  // the held start planned again
    dispatcher.advance(backoffEnd - now() - 1);
    EXPECT_EQ(server.received().size(), 1u);
    EXPECT_EQ(attempts.count(), 1u);

    server.answer(200, "");
    dispatcher.advance(1);
    ASSERT_TRUE(runUntil([&] { return server.received().size() == 2 && !engine->isNetworkRequestPending(); }));
    EXPECT_TRUE(retryCounts().empty());
}

TEST_F(Upload, ServerSideTaggingPostsToItsURLWithItsHeaderAndTheSubdomain) {
    writeInfoPlist({{"VADOVA_ANALYTICS_SVTM_UPLOAD_ENABLED", PropertyValue(std::int64_t{1})}});
    LoopbackServer tagging;
    auto config = makeConfig(kAppID);
    auto svtm = APMPBSvtmSetting::initWithBuffer({});
    APMPBSetString(*svtm, SvtmSettingSlot::UploadURL, tagging.url("/tagging"));
    APMPBSetString(*svtm, SvtmSettingSlot::ServerInfo, "server-1");
    APMPBSetInt32(*svtm, SvtmSettingSlot::RolloutPercentage, 100);
    APMPBSetMessage(*config, MeasurementConfigSlot::SvtmSetting, svtm.get());
    APMPBSetString(*config, MeasurementConfigSlot::UploadSubdomain, "sub");
    ASSERT_TRUE(engine->remoteConfigInstance()->updateMeasurementConfig(config));
    queue();
    tagging.answer(200, "");
    engine->uploadData();
    ASSERT_TRUE(runUntil([&] { return !tagging.received().empty() && !engine->isNetworkRequestPending(); }));

    const ReceivedRequest request = tagging.received().front();
    EXPECT_EQ(request.path, "/tagging");
    EXPECT_EQ(request.header("x-svtm-server-info"), "server-1");
    const auto batch = APMPBMeasurementBatch::initWithBuffer(
        std::span(reinterpret_cast<const std::uint8_t*>(request.body.data()), request.body.size()));
    ASSERT_TRUE(batch);
    EXPECT_EQ(APMPBGetString(*batch, 2), "sub");  // upload_subdomain
    EXPECT_TRUE(server.received().empty());
    EXPECT_TRUE(retryCounts().empty());
}

}  // namespace
}  // namespace engine_test
