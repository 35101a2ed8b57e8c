// The network's reachability and logger delegates.
#include <gtest/gtest.h>

#include "CompletionRecorder.h"
#include "LoopbackServer.h"
#include "VadovaUtilities/VULNetwork.h"

namespace {

class FakeReachability final : public VULReachability {
public:
    bool reachable = true;
    std::function<void()> handler;

    bool isReachable() const override { return reachable; }
    void setChangeHandler(std::function<void()> onChange) override { handler = std::move(onChange); }
    void flip() {
        reachable = !reachable;
        if (handler) handler();
    }
};

struct CountingReachabilityDelegate final : VULNetworkReachabilityDelegate {
    int changes = 0;
    void reachabilityDidChange() override { ++changes; }
};

struct LoggedNetworkLine {
    VULNetworkLogLevel level;
    long code;
    std::string message;
    std::vector<std::string> contexts;
};

struct RecordingLogger final : VULNetworkLoggerDelegate {
    std::vector<LoggedNetworkLine> lines;
    void VULNetwork_logWithLevel(VULNetworkLogLevel level, long code, const std::string& message) override {
        lines.push_back({level, code, message, {}});
    }
    void VULNetwork_logWithLevel(VULNetworkLogLevel level, long code, const std::string& message,
                                 const std::optional<std::string>& context) override {
        lines.push_back({level, code, message, context ? std::vector<std::string>{*context} : std::vector<std::string>{}});
    }
    void VULNetwork_logWithLevel(VULNetworkLogLevel level, long code, const std::string& message,
                                 const std::vector<std::string>& contexts) override {
        lines.push_back({level, code, message, contexts});
    }
};

TEST(NetworkReachability, ConnectedStateAndChangesComeFromTheWatcher) {
    auto reachability = std::make_shared<FakeReachability>();
    VULNetwork network(reachability);
    EXPECT_TRUE(network.isNetworkConnected());

    auto delegate = std::make_shared<CountingReachabilityDelegate>();
    network.setReachabilityDelegate(delegate);
    reachability->flip();
    EXPECT_FALSE(network.isNetworkConnected());
    EXPECT_EQ(delegate->changes, 1);

    network.setReachabilityDelegate({});  // nil stops the calls
    reachability->flip();
    EXPECT_EQ(delegate->changes, 1);
    EXPECT_TRUE(network.isNetworkConnected());
}

TEST(NetworkReachability, ANetworkThatIsGoneStopsTheWatcher) {
    auto reachability = std::make_shared<FakeReachability>();
    auto delegate = std::make_shared<CountingReachabilityDelegate>();
    {
        VULNetwork network(reachability);
        network.setReachabilityDelegate(delegate);
    }
    EXPECT_FALSE(static_cast<bool>(reachability->handler));
}

TEST(NetworkLogger, FailuresAlwaysAndDebugLinesOnlyInDebugMode) {
    auto queue = std::make_shared<TestQueue>();
    auto record = std::make_shared<CompletionRecord>();
    VULNetwork network(std::make_shared<FakeReachability>());
    auto logger = std::make_shared<RecordingLogger>();
    network.setLoggerDelegate(logger);

    network.getURL("not a url", {}, queue, false, recordInto(record, queue));
    ASSERT_EQ(logger->lines.size(), 1u);
    EXPECT_EQ(logger->lines[0].level, VULNetworkLogLevel::Error);
    EXPECT_EQ(logger->lines[0].code, VULNetworkMessageCodeInvalidURL);
    EXPECT_EQ(logger->lines[0].contexts, std::vector<std::string>{"not a url"});

    // A request to a closed loopback port: debug "started" only in debug mode.
    const std::string refusingURL = "http://127.0.0.1:" + std::to_string(closedLoopbackPort()) + "/";
    network.getURL(refusingURL, {}, queue, false, recordInto(record, queue));
    ASSERT_TRUE(queue->runNext());
    ASSERT_TRUE(queue->runNext());
    ASSERT_EQ(logger->lines.size(), 2u);
    EXPECT_EQ(logger->lines[1].code, VULNetworkMessageCodeRequestFailed);

    network.setIsDebugModeEnabled(true);
    EXPECT_TRUE(network.isDebugModeEnabled());
    network.getURL(refusingURL, {}, queue, false, recordInto(record, queue));
    ASSERT_TRUE(queue->runNext());
    ASSERT_EQ(logger->lines.size(), 4u);
    EXPECT_EQ(logger->lines[2].level, VULNetworkLogLevel::Debug);
    EXPECT_EQ(logger->lines[2].code, VULNetworkMessageCodeRequestStarted);
    EXPECT_EQ(logger->lines[3].code, VULNetworkMessageCodeRequestFailed);
}

// It sends in the foreground only, so no background session is its to finish.
TEST(NetworkBackgroundSessions, TheSystemsCompletionIsLeftToTheSessionsOwner) {
    bool called = false;
    VULNetwork::handleEventsForBackgroundURLSessionID("any", [&] { called = true; });
    EXPECT_FALSE(called);
}

}  // namespace
