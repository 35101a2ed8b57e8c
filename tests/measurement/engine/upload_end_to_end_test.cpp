// The road from logged events to a real HTTP server and back: events stored
// through the engine, the configuration fetch, bundling, the gzip POST (its
// body decoded by the message layer and by protoc), retries held to the
// scheduled times, and faults on the wire that must lose nothing.

#include "measurement/storage/APMAlarm.h"
#include "EngineTestSupport.h"
#include "VadovaUtilities/VULMainBundle.h"
#include "platform/core/PropertyList.h"

namespace engine_test {
namespace {


// Remote-configuration defaults the expected times follow.
constexpr double kInitialDelay = 15;      // "measurement.upload.initial_upload_delay_time"
constexpr double kRetryTime = 1800;       // "measurement.upload.retry_time"
constexpr double kBackoffPeriod = 43200;  // "measurement.upload.backoff_period"
constexpr double kEventTime = 1.7e9;      // the fixture's clock at the start
// No success yet: the first upload follows the newest data by the initial delay.
constexpr double kFirstUpload = kEventTime + kInitialDelay;
// After the 503: the first retry step (+1 retry time) lies inside the back-off.
constexpr double kSecondUpload = kFirstUpload + kBackoffPeriod;
// After the 500: the steps add 1, 3, 7, 15, 31 retry times to the base; 31 is
// the first past that failure.
constexpr double kThirdUpload = kFirstUpload + 31 * kRetryTime;
// A transport failure at the first upload: the first retry step.
constexpr double kRetryAfterTransportFailure = kFirstUpload + kRetryTime;

const std::vector<std::string> kEventNames = {"alpha", "beta", "gamma"};

class UploadEndToEnd : public EngineFixture {
protected:
    void SetUp() override {}

    // Starts the engine against the servers and logs the three events. The
    // main bundle has an identifier: the queue takes only bundles with an app ID.
    void startAgainst(const std::string& uploadBaseURL, bool keepAutomaticEvents = false) {
        writeBundleIdentifier();
        network = std::make_shared<VULNetwork>(std::make_shared<FixedReachability>());
        endpoints.uploadBaseURL = uploadBaseURL;
        endpoints.configBaseURL = configServer.url("");
        configServer.answer(404, "");
        start();
        if (!keepAutomaticEvents) discardStartRecords();
        ASSERT_TRUE(engine->identity());
        engine->identity()->setAppIDFromVAZ(kAppID);
        for (const auto& name : kEventNames) log(name);
    }
    // Advances the clock to `time` and waits for every request it starts.
    void advanceTo(double time, std::size_t posts) {
        dispatcher.advance(time - now());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(45);
        while ((postsReceived() < posts || engine->isNetworkRequestPending()) &&
               std::chrono::steady_clock::now() < deadline) {
            dispatcher.drain();
            std::this_thread::yield();
        }
        dispatcher.drain();
        ASSERT_EQ(postsReceived(), posts);
        ASSERT_FALSE(engine->isNetworkRequestPending());
    }
    std::size_t postsReceived() const { return raw ? raw->requests().size() : uploadServer.received().size(); }
    std::vector<std::int32_t> retryCounts() { return queuedRetryCounts(*engine->database()); }
    std::optional<double> timer() { return engine->alarm()->scheduledTimestamp(); }

    LoopbackServer configServer;
    LoopbackServer uploadServer;
    std::unique_ptr<RawServer> raw;  // the upload's server instead, when set
};

class UploadEndToEndSuccess : public UploadEndToEnd, public ::testing::WithParamInterface<int> {};

TEST_P(UploadEndToEndSuccess, RetriesHeldToTheirTimesThenTheQueueEmpties) {
    startAgainst(uploadServer.url(""));
    ASSERT_EQ(timer(), kFirstUpload);

    uploadServer.answer(503, "");
    advanceTo(kFirstUpload, 1);
    EXPECT_EQ(configServer.received().size(), 1u);
    const ReceivedRequest first = uploadServer.received()[0];
    const auto bundles = bundlesOf(first);
    ASSERT_EQ(bundles.size(), 1u);
    const APMPBMeasurementBundle& bundle = *bundles[0];
    EXPECT_EQ(eventNamesOf(bundle), kEventNames);
    EXPECT_EQ(APMPBGetInt64(bundle, MeasurementBundleSlot::UploadTimestamp), static_cast<std::int64_t>(kFirstUpload * 1000));
    EXPECT_EQ(APMPBGetInt64(bundle, MeasurementBundleSlot::StartTimestamp), static_cast<std::int64_t>(kEventTime * 1000));
    EXPECT_EQ(APMPBGetInt64(bundle, MeasurementBundleSlot::EndTimestamp), static_cast<std::int64_t>(kEventTime * 1000));
    EXPECT_FALSE(APMPBHasField(bundle, MeasurementBundleSlot::UploadRetryCount));
    EXPECT_EQ(APMPBGetString(bundle, MeasurementBundleSlot::Platform), "macos");
    EXPECT_EQ(APMPBGetString(bundle, MeasurementBundleSlot::AppID), kBundleIdentifier);

    const auto text = protocDecodedBody(first.body, folder.path());
    ASSERT_TRUE(text);
    EXPECT_EQ(occurrences(*text, "bundles {"), 1u) << *text;
    for (const auto& name : kEventNames) EXPECT_EQ(occurrences(*text, "name: \"" + name + "\""), 1u);
    EXPECT_EQ(occurrences(*text, "upload_retry_count"), 0u);
    EXPECT_EQ(occurrences(*text, "platform: \"macos\""), 1u);
    EXPECT_EQ(occurrences(*text, "upload_timestamp_millis: " +
                                                  std::to_string(static_cast<std::int64_t>(kFirstUpload * 1000))),
              1u);

    EXPECT_EQ(retryCounts(), std::vector<std::int32_t>{1});
    EXPECT_EQ(persisted->lastFailedUploadTimestamp(), kFirstUpload);
    EXPECT_EQ(persisted->lastBackoffTimestamp(), kFirstUpload);
    EXPECT_EQ(timer(), kSecondUpload);

    uploadServer.answer(500, "");
    advanceTo(kSecondUpload - 1, 1);  // held back until the back-off ends
    advanceTo(kSecondUpload, 2);
    ASSERT_EQ(bundlesOf(uploadServer.received()[1]).size(), 1u);
    EXPECT_EQ(APMPBGetInt32(*bundlesOf(uploadServer.received()[1])[0], MeasurementBundleSlot::UploadRetryCount), 1);
    EXPECT_EQ(persisted->lastFailedUploadTimestamp(), kSecondUpload);
    EXPECT_EQ(timer(), kThirdUpload);

    uploadServer.answer(GetParam(), "");
    advanceTo(kThirdUpload, 3);
    ASSERT_EQ(bundlesOf(uploadServer.received()[2]).size(), 1u);
    EXPECT_EQ(APMPBGetInt32(*bundlesOf(uploadServer.received()[2])[0], MeasurementBundleSlot::UploadRetryCount), 2);
    EXPECT_TRUE(retryCounts().empty());
    EXPECT_EQ(persisted->lastSuccessfulUploadTimestamp(), kThirdUpload);
    EXPECT_EQ(persisted->lastFailedUploadTimestamp(), 0);
    EXPECT_EQ(persisted->lastBackoffTimestamp(), 0);
    EXPECT_EQ(timer(), std::nullopt);
}

// With the events the engine logs on its own (first open, engagement), one
// upload carries every stored event, the three logged ones among them in order.
TEST_F(UploadEndToEnd, AutomaticEventsTravelWithTheLoggedOnes) {
    startAgainst(uploadServer.url(""), true);
    const auto stored = engine->database()->allRawEvents();
    ASSERT_TRUE(stored.value);
    uploadServer.answer(200, "");
    advanceTo(kFirstUpload, 1);
    std::vector<std::string> names;
    for (const auto& bundle : bundlesOf(uploadServer.received()[0])) {
        for (const auto& name : eventNamesOf(*bundle)) names.push_back(name);
    }
    EXPECT_EQ(names.size(), stored.value->size());
    EXPECT_NE(std::find(names.begin(), names.end(), "_f"), names.end());
    std::vector<std::string> logged;
    std::copy_if(names.begin(), names.end(), std::back_inserter(logged), [](const std::string& name) {
        return !name.starts_with("_");
    });
    EXPECT_EQ(logged, kEventNames);
    EXPECT_TRUE(retryCounts().empty());
}

INSTANTIATE_TEST_SUITE_P(OkAndNoContent, UploadEndToEndSuccess, ::testing::Values(200, 204),
                         [](const auto& info) { return std::to_string(info.param); });

// Delivery is at least once: a batch whose answer was lost goes again, with
// the fields that let the server drop the copy (checked by protoc's names).
TEST_F(UploadEndToEnd, ABatchSentAgainCarriesTheSameInstanceIDAndSequenceIndex) {
    RawServer server({{"", RawServer::Then::Reset}, {"HTTP/1.1 204 No Content\r\n\r\n"}});
    startAgainst(server.url(""));
    for (const auto& [time, posts] : {std::pair{kFirstUpload, 1u}, std::pair{kRetryAfterTransportFailure, 2u}}) {
        dispatcher.advance(time - now());
        ASSERT_TRUE(runUntil([&] { return server.requests().size() == posts && !engine->isNetworkRequestPending(); }));
    }
    EXPECT_TRUE(retryCounts().empty());
    std::vector<std::string> copies;
    for (const auto& raw : server.requests()) {
        const auto text = protocDecodedBody(receivedRequestOf(raw).body, folder.path());
        ASSERT_TRUE(text);
        std::string fields;
        for (const std::string name : {"app_instance_id", "bundle_sequence_index"}) {
            const auto start = text->find("\n  " + name + ": ");
            ASSERT_NE(start, std::string::npos) << name << " in " << *text;
            fields += text->substr(start, text->find('\n', start + 1) - start);
        }
        copies.push_back(fields);
    }
    EXPECT_EQ(copies[0], copies[1]);
}

enum class Fault {
    TimesOut,
    ClosedMidResponse,
    GarbageGzipBody,
    HugeBody,
    ResetBeforeStatusLine,
    RefusedRedirect,
    ServerDown
};

std::string faultName(const ::testing::TestParamInfo<Fault>& info) {
    static const char* const names[] = {"TimesOut",  "ClosedMidResponse",     "GarbageGzipBody", "HugeBody",
                                        "ResetBeforeStatusLine", "RefusedRedirect", "ServerDown"};
    return names[static_cast<int>(info.param)];
}

class UploadFault : public UploadEndToEnd, public ::testing::WithParamInterface<Fault> {
protected:
    // Sets the upload's server up to show `fault`; answers the base URL to upload to.
    std::string serve(Fault fault) {
        switch (fault) {
        case Fault::TimesOut: raw = std::make_unique<RawServer>("", false); break;
        case Fault::ClosedMidResponse:
            raw = std::make_unique<RawServer>("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nabc");
            break;
        case Fault::GarbageGzipBody:  // a gzip header, then a block of the reserved type
            raw = std::make_unique<RawServer>(
                "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 12\r\n\r\n" +
                std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\xff\xff", 12));
            break;
        case Fault::HugeBody: uploadServer.answerWithBodyOfSize(200, 50u << 20); break;
        case Fault::ResetBeforeStatusLine:
            raw = std::make_unique<RawServer>(std::vector<RawServer::Reply>{{"", RawServer::Then::Reset}});
            break;
        case Fault::RefusedRedirect:
            uploadServer.answer(307, "", {{"Location", "http://" + nonLoopbackAddress() + ":" +
                                                           std::to_string(elsewhere.port()) + "/elsewhere"}});
            break;
        case Fault::ServerDown: return "http://127.0.0.1:" + std::to_string(closedLoopbackPort());
        }
        return raw ? raw->url("") : uploadServer.url("");
    }

    // Where a refused redirect points: this machine, but not its loopback.
    RawServer elsewhere{std::vector<RawServer::Reply>{{"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"}}, INADDR_ANY};
};

class UploadWireFault : public UploadFault {};

// Every fault leaves the batch queued, counted once, with the retry planned.
TEST_P(UploadWireFault, LosesNothing) {
    startAgainst(serve(GetParam()));
    if (GetParam() == Fault::TimesOut) {
        // The shortest time-out the configuration allows, so the test waits 30 s, not 60 s.
        configServer.answer(200, encoded(*makeConfig(kAppID, {{"measurement.network.network_timeout", "30000"}})));
    }
    dispatcher.advance(kInitialDelay);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(45);
    while ((persisted->lastFailedUploadTimestamp() == 0 || engine->isNetworkRequestPending() ||
            configServer.received().empty()) &&
           std::chrono::steady_clock::now() < deadline) {
        dispatcher.drain();
        std::this_thread::yield();
    }
    dispatcher.drain();
    EXPECT_EQ(uploadServer.received().size(), GetParam() == Fault::RefusedRedirect ? 1u : 0u);
    EXPECT_EQ(elsewhere.connections(), 0u);
    EXPECT_EQ(retryCounts(), std::vector<std::int32_t>{1});
    EXPECT_EQ(persisted->lastFailedUploadTimestamp(), kFirstUpload);
    EXPECT_EQ(persisted->lastBackoffTimestamp(), 0);
    EXPECT_EQ(timer(), kRetryAfterTransportFailure);
}

INSTANTIATE_TEST_SUITE_P(Faults, UploadWireFault,
                         ::testing::Values(Fault::TimesOut, Fault::ResetBeforeStatusLine, Fault::RefusedRedirect,
                                           Fault::ServerDown),
                         faultName);

class UploadBrokenAnswer : public UploadFault {};

// The answer's body is not the upload's: once a success's status and headers
// are in, the batch has arrived, whatever the body then does (breaks off,
// does not inflate, runs far past the cap). Its rows are deleted, once, and
// it is never sent again.
TEST_P(UploadBrokenAnswer, DeletesTheBatchOnce) {
    startAgainst(serve(GetParam()));
    advanceTo(kFirstUpload, 1);
    EXPECT_TRUE(retryCounts().empty());
    EXPECT_EQ(persisted->lastSuccessfulUploadTimestamp(), kFirstUpload);
    EXPECT_EQ(timer(), std::nullopt);
    advanceTo(kFirstUpload + kBackoffPeriod, 1);
}

INSTANTIATE_TEST_SUITE_P(SuccessWithABrokenBody, UploadBrokenAnswer,
                         ::testing::Values(Fault::ClosedMidResponse, Fault::GarbageGzipBody, Fault::HugeBody),
                         faultName);

}  // namespace
}  // namespace engine_test
