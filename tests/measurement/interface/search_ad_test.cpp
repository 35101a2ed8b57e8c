#include <gtest/gtest.h>

#include <future>

#include "EventTestSupport.h"
#include "VadovaUtilities/LoopbackServer.h"
#include "measurement/interface/APMSearchAdReporter.h"
#include "platform/core/DeterministicDispatch.h"
#include "platform/core/UserDefaults.h"

using event_test::InternalEventRecorder;
using event_test::MonitorCapture;

namespace {

constexpr double kDay = 86400;

// The reporter against a loopback attribution service. Requests go out
// through a real HTTP transport; the test waits for each answer to arrive
// (no sleeping) and then runs the worker queue on virtual time.
class SearchAd : public testing::Test {
protected:
    void SetUp() override {
        config->setFirstOpenTimestampMilliseconds(5000);
        tokens->setToken("token-1");
    }

    APMSearchAdReporter::Environment environment() {
        APMSearchAdReporter::Environment environment;
        environment.tokens = tokens;
        environment.attributionBaseURL = server.url("");
        environment.send = [this](VULHTTPRequest request, std::function<void(VULHTTPOutcome)> completion) {
            auto done = std::make_shared<std::promise<void>>();
            answered = done->get_future();
            return transport.start(std::move(request), [done, completion](VULHTTPOutcome outcome) {
                completion(std::move(outcome));
                done->set_value();
            });
        };
        return environment;
    }

    std::shared_ptr<APMSearchAdReporter> startReporter() {
        auto reporter = APMSearchAdReporter::create(dispatcher, worker, config, environment());
        if (!reporter) return nullptr;
        reporter->setSearchAdReporterEnabled(true);
        worker->sync([&] { reporter->start(); });
        return reporter;
    }

    // Runs what is due, waits for the request's answer, runs its handling.
    void runAttempt() {
        dispatcher.drain();
        ASSERT_TRUE(answered.valid());
        answered.wait();
        answered = {};
        dispatcher.drain();
    }

    double now() { return dispatcher.clock().now(); }

    MonitorCapture monitor{{"-APMAnalyticsVerboseLoggingEnabled"}};
    InternalEventRecorder events;
    storage_test::TemporaryFolder folder;
    std::shared_ptr<APMPersistedConfig> config =
        std::make_shared<APMPersistedConfig>(std::make_shared<platform::UserDefaults>("app", folder.path()));
    std::shared_ptr<platform::InMemoryAttributionToken> tokens = std::make_shared<platform::InMemoryAttributionToken>();
    platform::DeterministicDispatcher dispatcher;
    platform::QueueRef worker = dispatcher.makeSerialQueue("worker");
    LoopbackServer server;
    VULHTTPTransport transport;
    std::future<void> answered;
};

}  // namespace

TEST(SearchAdURL, OnlyHttpsOrLoopbackHttpBases) {
    EXPECT_EQ(APMSearchAdAttributionURL("https://attribution.example"), "https://attribution.example/api/v1/");
    EXPECT_EQ(APMSearchAdAttributionURL("http://127.0.0.1:8080/"), "http://127.0.0.1:8080/api/v1/");
    EXPECT_EQ(APMSearchAdAttributionURL("https://attribution.example/x?y#z"), "https://attribution.example/api/v1/");
    EXPECT_FALSE(APMSearchAdAttributionURL("http://attribution.example"));
    EXPECT_FALSE(APMSearchAdAttributionURL("http://127.0.0.1.example.com"));
    EXPECT_FALSE(APMSearchAdAttributionURL("https://host name"));
    EXPECT_FALSE(APMSearchAdAttributionURL("ftp://127.0.0.1"));
    EXPECT_FALSE(APMSearchAdAttributionURL(std::nullopt));
}

TEST_F(SearchAd, FirstAttemptRunsAtOnceAndACampaignIsLoggedOnce) {
    server.answer(200, R"({"attribution": true, "campaignId": 42, "keywordId": "7", "adId": 3})");
    auto reporter = startReporter();
    ASSERT_TRUE(reporter);
    const double started = now();
    dispatcher.drain();
    answered.wait();
    // The answer is in, but its handling waits for the worker queue.
    EXPECT_FALSE(config->searchAdCampaignValue().has_value());
    EXPECT_TRUE(events.events().empty());
    dispatcher.drain();

    const auto requests = server.received();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/api/v1/");
    EXPECT_EQ(requests[0].header("cache-control"), "no-cache");
    EXPECT_EQ(requests[0].header("Content-Type"), "text/plain");
    EXPECT_EQ(requests[0].body, "token-1");

    EXPECT_EQ(config->searchAdRetryCount(), 1);
    EXPECT_EQ(config->lastSearchAdLookUpTimestamp(), started);
    EXPECT_EQ(config->searchAdCampaignValue(), true);
    ASSERT_EQ(events.events().size(), 1u);
    const auto& event = events.events()[0];
    EXPECT_EQ(event.origin, "auto");
    EXPECT_EQ(event.name, "_cmp");
    EXPECT_EQ(event.parameters, (APMParameters{{"source", APMValue("Apple")},
                                               {"medium", APMValue("search")},
                                               {"campaign", APMValue("42")},
                                               {"term", APMValue("7")},
                                               {"click_timestamp", APMValue(4999)}}));
    EXPECT_FALSE(reporter->scheduledTimestamp());
    EXPECT_FALSE(APMSearchAdReporter::create(dispatcher, worker, config, environment()));
}

TEST_F(SearchAd, FailedAnswersPersistNothingAndAreRetriedADayLater) {
    struct Case {
        int status;
        const char* body;
    };
    const Case cases[] = {
        {500, R"({"attribution": true})"},                      // not a success status
        {200, "not json"},                                      // not JSON
        {200, "[1, 2]"},                                        // not an object
        {200, R"({"attribution": true, "campaignId": null})"},  // a field of the wrong kind
        {200, R"({"campaignId": "5"})"},                        // no Boolean "attribution"
        {200, R"({"attribution": "yes"})"},
        {200, R"({"attribution": true, "adId": "1234567890", "campaignId": "1234567890"})"},  // test data
        {200, "{}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        config->clearValues();
        server.answer(c.status, c.body);
        auto reporter = startReporter();
        ASSERT_TRUE(reporter);
        const double attempted = now();
        runAttempt();
        EXPECT_FALSE(config->searchAdCampaignValue().has_value());
        EXPECT_EQ(config->searchAdRetryCount(), 1);
        EXPECT_EQ(reporter->scheduledTimestamp(), attempted + kDay);
        EXPECT_TRUE(events.events().empty());
    }
    server.answer(200, R"({"attribution": true})");
    auto reporter = startReporter();  // the persisted count is 1: the attempt is a day after the last
    dispatcher.advance(kDay);
    answered.wait();
    dispatcher.drain();
    EXPECT_EQ(config->searchAdRetryCount(), 2);
    EXPECT_EQ(config->searchAdCampaignValue(), true);
}

TEST_F(SearchAd, NoAttributionIsPersistedAndEndsTheReporter) {
    server.answer(200, R"({"attribution": false, "campaignId": "9"})");
    auto reporter = startReporter();
    runAttempt();
    EXPECT_EQ(config->searchAdCampaignValue(), false);
    EXPECT_TRUE(events.events().empty());
    EXPECT_FALSE(reporter->scheduledTimestamp());
    EXPECT_FALSE(APMSearchAdReporter::create(dispatcher, worker, config, environment()));
}

TEST_F(SearchAd, TenFailedAttemptsEndTheRetries) {
    server.answer(503, "");
    auto reporter = startReporter();
    runAttempt();
    for (int attempt = 2; attempt <= 10; ++attempt) {
        dispatcher.advance(kDay);
        answered.wait();
        answered = {};
        dispatcher.drain();
    }
    EXPECT_EQ(config->searchAdRetryCount(), 10);
    EXPECT_FALSE(reporter->scheduledTimestamp());
    EXPECT_FALSE(monitor.linesWithCode(32007).empty());
    EXPECT_EQ(server.received().size(), 10u);
    EXPECT_FALSE(APMSearchAdReporter::create(dispatcher, worker, config, environment()));
}

TEST_F(SearchAd, RestartPlansTheNextAttemptADayAfterTheLast) {
    config->setSearchAdRetryCount(1);
    config->setLastSearchAdLookUpTimestamp(now() - 3 * 3600);
    auto reporter = startReporter();
    EXPECT_EQ(reporter->scheduledTimestamp(), now() + 21 * 3600);
}

TEST_F(SearchAd, WithoutTheTokenServiceNothingHappens) {
    auto environment = this->environment();
    environment.tokens = std::make_shared<platform::NoAttributionToken>();
    auto reporter = APMSearchAdReporter::create(dispatcher, worker, config, environment);
    reporter->setSearchAdReporterEnabled(true);
    worker->sync([&] { reporter->start(); });
    dispatcher.advance(kDay);
    EXPECT_EQ(monitor.linesWithCode(32014).size(), 1u);
    EXPECT_EQ(config->searchAdRetryCount(), 0);
    EXPECT_TRUE(server.received().empty());
}
