// VULNetwork against a real HTTP server on the loopback interface.
#include <gtest/gtest.h>

#include "CompletionRecorder.h"
#include "LoopbackServer.h"
#include "VadovaUtilities/VULGzip.h"
#include "VadovaUtilities/VULNetwork.h"

namespace {

class NetworkHTTP : public ::testing::Test {
protected:
    LoopbackServer server;
    std::shared_ptr<TestQueue> queue = std::make_shared<TestQueue>("com.vadova.divu.worker");
    std::unique_ptr<VULNetwork> network = std::make_unique<VULNetwork>("127.0.0.1");
    std::shared_ptr<CompletionRecord> record = std::make_shared<CompletionRecord>();

    // Waits for the completion, then makes sure no second one follows: the
    // network is destroyed (which ends its thread) and the queue must be empty.
    void finishAndExpectExactlyOneCompletion() {
        ASSERT_TRUE(queue->runNext()) << "no completion arrived";
        network.reset();
        EXPECT_EQ(queue->pendingCount(), 0u);
        EXPECT_EQ(record->calls, 1);
        EXPECT_TRUE(record->onQueue);
    }
};

TEST_F(NetworkHTTP, PostSendsTheGzippedBodyWithTheFixedHeaders) {
    server.answer(204, "", {{"X-Answer", "yes"}});
    const VULData payload(5000, 'p');
    const auto sessionID =
        network->postURL(server.url("/a"), VULHTTPHeaders{{"x-svtm-server-info", "preview"}}, payload, queue, false,
                         recordInto(record, queue));
    EXPECT_TRUE(sessionID.has_value());
    finishAndExpectExactlyOneCompletion();

    const auto requests = server.received();
    ASSERT_EQ(requests.size(), 1u);
    const ReceivedRequest& request = requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/a");
    EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(request.header("Content-Encoding"), "gzip");
    EXPECT_EQ(request.header("Content-Length"), std::to_string(vul_dataByGzippingData(payload).data->size()));
    EXPECT_EQ(request.header("x-svtm-server-info"), "preview");
    // The server's own zlib inflated the body: it arrived as valid gzip.
    EXPECT_EQ(request.body, std::string(payload.begin(), payload.end()));

    ASSERT_TRUE(record->response.has_value());
    EXPECT_FALSE(record->error.has_value());
    EXPECT_EQ(record->response->statusCode, 204);
    EXPECT_EQ(record->response->valueForHTTPHeaderField("x-answer"), "yes");
}

TEST_F(NetworkHTTP, CallerValuesForTheFixedHeadersAreReplaced) {
    network->postURL(server.url("/sdk-exp"),
                     VULHTTPHeaders{{"content-type", "text/plain"}, {"Content-Encoding", "identity"}},
                     VULData{'x'}, queue, false, recordInto(record, queue));
    finishAndExpectExactlyOneCompletion();
    const ReceivedRequest request = server.received().at(0);
    EXPECT_EQ(request.headerCount("Content-Type"), 1u);
    EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(request.headerCount("Content-Encoding"), 1u);
    EXPECT_EQ(request.header("Content-Encoding"), "gzip");
    EXPECT_EQ(request.body, "x");
}

TEST_F(NetworkHTTP, PostWithoutHeadersAnswersStatusAndBody) {
    server.answer(200, "experiment response");
    network->postURL(server.url("/sdk-exp"), VULData{'r', 'e', 'q'}, queue, false, recordInto(record, queue));
    finishAndExpectExactlyOneCompletion();
    ASSERT_TRUE(record->response.has_value());
    EXPECT_EQ(record->response->statusCode, 200);
    EXPECT_EQ(textOf(record->data), "experiment response");
    EXPECT_EQ(record->response->expectedContentLength, 19);
    EXPECT_EQ(server.received().at(0).body, "req");
}

TEST_F(NetworkHTTP, GetSendsHeadersAndDeliversAnErrorStatusAsAResponse) {
    server.answer(404, "not here", {{"ETag", "\"v1\""}, {"Last-Modified", "Tue, 01 Oct 2024 10:00:00 GMT"}});
    const auto sessionID = network->getURL(server.url("/config/app/1:2:macos:3?platform=macos"),
                                           VULHTTPHeaders{{"If-None-Match", "\"v0\""}}, queue, false,
                                           recordInto(record, queue));
    EXPECT_TRUE(sessionID.has_value());
    finishAndExpectExactlyOneCompletion();

    const ReceivedRequest request = server.received().at(0);
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.header("If-None-Match"), "\"v0\"");
    EXPECT_TRUE(request.body.empty());

    ASSERT_TRUE(record->response.has_value());
    EXPECT_FALSE(record->error.has_value());
    EXPECT_EQ(record->response->statusCode, 404);
    EXPECT_EQ(textOf(record->data), "not here");
    EXPECT_EQ(record->response->valueForHTTPHeaderField("etag"), "\"v1\"");
    EXPECT_EQ(record->response->valueForHTTPHeaderField("LAST-MODIFIED"), "Tue, 01 Oct 2024 10:00:00 GMT");
    EXPECT_EQ(record->response->valueForHTTPHeaderField("X-Missing"), std::nullopt);
}

TEST_F(NetworkHTTP, UploadIsInProgressExactlyWhileARequestIsInFlight) {
    server.holdAnswers();
    EXPECT_FALSE(network->hasUploadInProgress());
    std::optional<bool> inProgressSeenByCompletion;
    const auto first = network->postURL(server.url("/a"), VULData{1}, queue, false,
                                        [&](const auto&, const auto&, const auto&) {
                                            ++record->calls;
                                            inProgressSeenByCompletion = network->hasUploadInProgress();
                                        });
    EXPECT_TRUE(network->hasUploadInProgress());
    server.release();
    ASSERT_TRUE(queue->runNext());
    // The request leaves the table before its completion is queued, so the
    // completion (which may start the next upload) sees none in progress.
    EXPECT_EQ(inProgressSeenByCompletion, false);
    EXPECT_FALSE(network->hasUploadInProgress());

    auto second = std::make_shared<CompletionRecord>();
    const auto next = network->getURL(server.url("/b"), {}, queue, false, recordInto(second, queue));
    ASSERT_TRUE(queue->runNext());
    EXPECT_NE(first, next);
    EXPECT_EQ(record->calls, 1);
    EXPECT_EQ(second->calls, 1);
}

}  // namespace
