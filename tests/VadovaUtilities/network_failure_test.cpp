// VULNetwork requests that cannot be made or do not succeed: each still
// completes exactly once, on the given queue.
#include <gtest/gtest.h>

#include "CompletionRecorder.h"
#include "LoopbackServer.h"
#include "VadovaUtilities/VULNetwork.h"

namespace {

class NetworkFailure : public ::testing::Test {
protected:
    std::shared_ptr<TestQueue> queue = std::make_shared<TestQueue>();
    std::shared_ptr<CompletionRecord> record = std::make_shared<CompletionRecord>();

    void expectOneCompletionWithError(std::unique_ptr<VULNetwork>& network, const char* domain, long code) {
        ASSERT_TRUE(queue->runNext()) << "no completion arrived";
        network.reset();
        EXPECT_EQ(queue->pendingCount(), 0u);
        EXPECT_EQ(record->calls, 1);
        EXPECT_TRUE(record->onQueue);
        EXPECT_FALSE(record->response.has_value());
        EXPECT_FALSE(record->data.has_value());
        ASSERT_TRUE(record->error.has_value());
        EXPECT_EQ(record->error->domain, domain);
        EXPECT_EQ(record->error->code, code);
    }
};

TEST_F(NetworkFailure, RefusedConnectionCompletesWithCannotConnect) {
    auto network = std::make_unique<VULNetwork>("127.0.0.1");
    const auto sessionID = network->postURL("http://127.0.0.1:" + std::to_string(closedLoopbackPort()) + "/a", VULData{1},
                                            queue, false, recordInto(record, queue));
    EXPECT_TRUE(sessionID.has_value());  // the request was made; the server refused it
    expectOneCompletionWithError(network, "NSURLErrorDomain", VULURLErrorCannotConnectToHost);
}

TEST_F(NetworkFailure, SlowServerCompletesWithTimedOut) {
    LoopbackServer server;
    server.holdAnswers();
    auto network = std::make_unique<VULNetwork>("127.0.0.1");
    network->setTimeoutInterval(0.3);
    network->getURL(server.url("/config"), {}, queue, false, recordInto(record, queue));
    EXPECT_TRUE(network->hasUploadInProgress());
    expectOneCompletionWithError(network, "NSURLErrorDomain", VULURLErrorTimedOut);
}

TEST_F(NetworkFailure, CompressionFailureCompletesWithCode3AndAnswersNoSession) {
    LoopbackServer server;
    auto failingCompressor = [](const VULData&) {
        return VULDataResult{std::nullopt, VULError{"com.vadova.VULNSDataZlibErrorDomain", 1025, "no memory"}};
    };
    auto network = std::make_unique<VULNetwork>(VULMakeHostReachability("127.0.0.1"), failingCompressor);
    const auto sessionID =
        network->postURL(server.url("/a"), VULHTTPHeaders{}, VULData{1, 2}, queue, false, recordInto(record, queue));
    EXPECT_EQ(sessionID, std::nullopt);
    EXPECT_FALSE(network->hasUploadInProgress());
    expectOneCompletionWithError(network, "com.vul.network.ErrorDomain", VULNetworkErrorCodePayloadCompression);
    EXPECT_NE(record->error->message.find("no memory"), std::string::npos);
    EXPECT_TRUE(server.received().empty());
}

TEST_F(NetworkFailure, UnusableURLCompletesWithInvalidURL) {
    for (const std::string url : {"", "measurement.vadova.com/a", "ftp://127.0.0.1/a", "http://"}) {
        auto network = std::make_unique<VULNetwork>("127.0.0.1");
        record = std::make_shared<CompletionRecord>();
        EXPECT_EQ(network->getURL(url, {}, queue, false, recordInto(record, queue)), std::nullopt) << url;
        expectOneCompletionWithError(network, "com.vul.network.ErrorDomain", VULNetworkErrorCodeInvalidURL);
    }
}

TEST_F(NetworkFailure, DestroyingTheNetworkCancelsRequestsInFlight) {
    LoopbackServer server;
    server.holdAnswers();
    auto network = std::make_unique<VULNetwork>("127.0.0.1");
    network->postURL(server.url("/a"), VULData{1}, queue, false, recordInto(record, queue));
    network.reset();  // completes the held request, cancelled
    expectOneCompletionWithError(network, "NSURLErrorDomain", VULURLErrorCancelled);
}

TEST(NetworkTimeout, ZeroOrLessMeansSixtySeconds) {
    VULNetwork network("127.0.0.1");
    EXPECT_EQ(network.timeoutInterval(), 60.0);
    network.setTimeoutInterval(12.5);
    EXPECT_EQ(network.timeoutInterval(), 12.5);
    network.setTimeoutInterval(0);
    EXPECT_EQ(network.timeoutInterval(), 60.0);
    network.setTimeoutInterval(-3);
    EXPECT_EQ(network.timeoutInterval(), 60.0);
}

}  // namespace
