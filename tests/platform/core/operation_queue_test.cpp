#include "platform/core/DeterministicDispatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using platform::OperationQueue;

class OperationQueueTest : public ::testing::Test {
protected:
    platform::DeterministicDispatcher dispatcher;
    platform::QueueRef serial = dispatcher.makeSerialQueue("APMAnalyticsQueue");
    std::vector<std::string> log;
};

TEST_F(OperationQueueTest, HoldsOperationsWhileSuspendedThenRunsThemInOrder) {
    OperationQueue operations(dispatcher.makeSerialQueue("APMAnalyticsOperationQueue"), true);
    EXPECT_TRUE(operations.isSuspended());
    for (const char* name : {"first", "second", "third"}) {
        operations.addOperation([this, name] { serial->async([this, name] { log.push_back(name); }); });
    }
    dispatcher.advance(60.0);
    EXPECT_TRUE(log.empty());

    // The start puts its own work on the serial queue before resuming, so
    // everything held runs after it.
    serial->async([this] { log.push_back("start"); });
    operations.setSuspended(false);
    dispatcher.drain();
    EXPECT_EQ(log, (std::vector<std::string>{"start", "first", "second", "third"}));
}

TEST_F(OperationQueueTest, RunsOnItsUnderlyingQueueOneAtATime) {
    OperationQueue operations(serial);
    EXPECT_FALSE(operations.isSuspended());
    EXPECT_EQ(operations.underlyingQueue(), serial);
    operations.addOperation([&] {
        log.push_back(serial->isCurrent() ? "on-queue" : "elsewhere");
        operations.addOperation([&] { log.push_back("added-while-running"); });
    });
    operations.addOperation([&] { log.push_back("second"); });
    dispatcher.drain();
    EXPECT_EQ(log, (std::vector<std::string>{"on-queue", "second", "added-while-running"}));
}

TEST_F(OperationQueueTest, SuspendingFromAnOperationHoldsTheRest) {
    OperationQueue operations(serial);
    operations.addOperation([&] {
        log.push_back("one");
        operations.setSuspended(true);
    });
    operations.addOperation([&] { log.push_back("two"); });
    dispatcher.drain();
    EXPECT_EQ(log, std::vector<std::string>{"one"});

    // Resumed later, as a delayed block on the serial queue would.
    serial->after(0.5, [&] { operations.setSuspended(false); });
    dispatcher.advance(0.4);
    EXPECT_EQ(log.size(), 1u);
    dispatcher.advance(0.1);
    EXPECT_EQ(log, (std::vector<std::string>{"one", "two"}));
}

TEST_F(OperationQueueTest, ResumingTwiceDoesNotRunAnOperationTwiceOrOutOfOrder) {
    OperationQueue operations(serial, true);
    operations.addOperation([&] { log.push_back("a"); });
    operations.addOperation([&] { log.push_back("b"); });
    operations.setSuspended(false);
    operations.setSuspended(true);
    operations.setSuspended(false);
    dispatcher.drain();
    EXPECT_EQ(log, (std::vector<std::string>{"a", "b"}));
}

TEST_F(OperationQueueTest, WaitingForQueuedOperationsWithASemaphore) {
    OperationQueue operations(serial);
    for (int i = 0; i < 3; ++i) operations.addOperation([&, i] { log.push_back(std::to_string(i)); });
    auto finished = dispatcher.makeSemaphore(0);
    operations.addOperation([&] { finished->signal(); });
    EXPECT_TRUE(finished->wait(-1));
    EXPECT_EQ(log, (std::vector<std::string>{"0", "1", "2"}));
}

}  // namespace
