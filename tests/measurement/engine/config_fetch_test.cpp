// The configuration fetch against a loopback server: each answer, what is
// stored, the validators, and the become-active refresh rule.

#include "EngineTestSupport.h"
#include "VadovaUtilities/LoopbackServer.h"

namespace engine_test {
namespace {

class ConfigFetch : public EngineFixture {
protected:
    void SetUp() override {
        network = std::make_shared<VULNetwork>();
        endpoints.configBaseURL = server.url("");
        start();
        ASSERT_TRUE(engine->identity());
        engine->identity()->setAppIDFromVAZ(kAppID);
        dispatcher.drain();
    }
    // Fetches once and waits for the answer to be handled.
    void fetch() {
        const auto before = server.received().size();
        engine->fetchRemoteConfig();
        ASSERT_TRUE(runUntil([&] { return server.received().size() > before && !engine->isNetworkRequestPending(); }));
    }
    std::shared_ptr<APMRemoteConfig> config() { return engine->remoteConfigInstance(); }

    LoopbackServer server;
};

TEST_F(ConfigFetch, OkStoresTheConfigurationAndItsValidatorsAndTheNextFetchIsConditional) {
    server.answer(200, encoded(*makeConfig(kAppID, {{"measurement.upload.interval", "60000"}})),
                  {{"ETag", "\"v1\""}, {"Last-Modified", "Tue, 01 Oct 2024 10:00:00 GMT"}});
    fetch();
    EXPECT_EQ(server.received().back().path, "/config/app/" + std::string(kAppID));
    EXPECT_EQ(server.received().back().headerCount("If-None-Match"), 0u);
    EXPECT_EQ(config()->uploadingInterval(), 60);
    EXPECT_EQ(persisted->configServerETag(), "\"v1\"");
    EXPECT_EQ(persisted->configServerLastModifiedString(), "Tue, 01 Oct 2024 10:00:00 GMT");
    EXPECT_FALSE(config()->isExpired());

    server.answer(304, "");
    fetch();
    EXPECT_EQ(server.received().back().header("If-None-Match"), "\"v1\"");
    EXPECT_EQ(server.received().back().header("If-Modified-Since"), "Tue, 01 Oct 2024 10:00:00 GMT");
    EXPECT_EQ(config()->uploadingInterval(), 60);
}

TEST_F(ConfigFetch, ValidatorsFromAnotherLibraryVersionAreNotSent) {
    persisted->setConfigServerETag("\"old\"");
    persisted->setConfigVAZVersion(1);
    server.answer(304, "");
    fetch();
    EXPECT_EQ(server.received().back().headerCount("If-None-Match"), 0u);
}

TEST_F(ConfigFetch, UnsafeValidatorsAreNeverStoredNorSent) {
    server.answer(200, encoded(*makeConfig(kAppID)), {{"ETag", std::string(2000, 'e')}});
    fetch();
    EXPECT_EQ(persisted->configServerETag(), std::nullopt);
    persisted->setConfigServerLastModifiedString("Mon\r\nX-Injected: 1");
    server.answer(304, "");
    fetch();
    EXPECT_EQ(server.received().back().headerCount("If-Modified-Since"), 0u);
    EXPECT_EQ(server.received().back().headerCount("X-Injected"), 0u);
}

TEST_F(ConfigFetch, RefusedBodiesKeepTheStoredConfigurationAndValidators) {
    server.answer(200, encoded(*makeConfig(kAppID, {{"measurement.upload.interval", "60000"}})), {{"ETag", "a"}});
    fetch();
    const struct {
        const char* label;
        std::string body;
        long code;
    } cases[] = {{"not a message", std::string("\xff\xff\xff\xff", 4), 23135},
                 {"another app", encoded(*makeConfig("other", {{"measurement.upload.interval", "120000"}})), 23136},
                 {"over the size cap", std::string(2 * 1024 * 1024 + 1, '\0'), 23135}};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.label);
        monitor.clear();
        server.answer(200, test.body, {{"ETag", "b"}});
        fetch();
        EXPECT_EQ(monitor.linesWithCode(test.code).size(), 1u);
        EXPECT_EQ(persisted->configServerETag(), "a");
        EXPECT_EQ(config()->uploadingInterval(), 60);
        EXPECT_EQ(APMRemoteConfig::create(kAppID, engine->database(), nullptr, nullptr)->uploadingInterval(), 60);
    }
}

TEST_F(ConfigFetch, FailuresSetTheRetryAndBackOffTimes) {
    const struct {
        int status;
        bool failed;
        bool backoff;
    } cases[] = {{404, false, false}, {429, true, true}, {500, true, false}, {503, true, true}, {204, false, false}};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.status);
        persisted->setLastFailedUploadTimestamp(1);
        persisted->setLastBackoffTimestamp(1);
        server.answer(test.status, "");
        fetch();
        EXPECT_EQ(persisted->lastFailedUploadTimestamp() != 0, test.failed);
        EXPECT_EQ(persisted->lastBackoffTimestamp() == now(), test.backoff);
    }
}

TEST_F(ConfigFetch, ARefusedConnectionCountsAsAFailure) {
    endpoints.configBaseURL = "http://127.0.0.1:" + std::to_string(closedLoopbackPort());
    engine = APMMeasurement::create(kAppID, true, false, {}, configuration());
    dispatcher.drain();
    engine->fetchRemoteConfig();
    ASSERT_TRUE(runUntil([&] { return !engine->isNetworkRequestPending(); }));
    EXPECT_EQ(persisted->lastFailedUploadTimestamp(), now());
    EXPECT_EQ(monitor.linesWithCode(23128).size(), 1u);
}

// The fetch uses the answer's body: over the transport's cap it is a failure.
// A redirect off this machine's loopback is not followed, and fails too.
TEST_F(ConfigFetch, AnAnswerOverTheCapAndARefusedRedirectCountAsFailures) {
    RawServer elsewhere({{"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"}}, INADDR_ANY);
    const std::function<void()> answers[] = {
        [&] { server.answerWithBodyOfSize(200, 50u << 20); },
        [&] {
            server.answer(302, "", {{"Location", "http://" + nonLoopbackAddress() + ":" +
                                                     std::to_string(elsewhere.port()) + "/config"}});
        },
    };
    for (const auto& answer : answers) {
        monitor.clear();
        persisted->setLastFailedUploadTimestamp(0);
        answer();
        fetch();
        EXPECT_EQ(persisted->lastFailedUploadTimestamp(), now());
        EXPECT_EQ(monitor.linesWithCode(23128).size(), 1u);
    }
    EXPECT_EQ(elsewhere.connections(), 0u);
}

TEST_F(ConfigFetch, BecomingActiveRefreshesOnlyAWeekOldConfigurationWithTheInternalBlocklistOn) {
    server.answer(200, encoded(*makeConfig(kAppID, {{"measurement.upload.blacklist_internal", "1"}})));
    fetch();
    const auto fetched = server.received().size();
    const struct {
        double age;
        std::size_t expectedRequests;
    } cases[] = {{6 * 86400, 0}, {8 * 86400, 1}};
    for (const auto& test : cases) {
        APMError error;
        ASSERT_TRUE(engine->database()->updateRemoteConfigSuccessfulTimestamp(now() - test.age, &error));
        engine->handleAppDidBecomeActiveEvent();
        dispatcher.drain();
        if (test.expectedRequests > 0) {
            runUntil([&] { return server.received().size() > fetched && !engine->isNetworkRequestPending(); });
        }
        EXPECT_EQ(engine->isNetworkRequestPending(), false);
        EXPECT_EQ(server.received().size() - fetched, test.expectedRequests) << test.age;
    }
}

}  // namespace
}  // namespace engine_test
