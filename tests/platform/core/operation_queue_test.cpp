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

// A hand-off runs on the caller while nothing waits or runs, and otherwise
// takes its turn; either way the serial queue sees the call order.
TEST_F(OperationQueueTest, HandOffsRunAtOnceOnlyWhenNothingIsAheadOfThem) {
    platform::QueueRef underlying = dispatcher.makeSerialQueue("APMAnalyticsOperationQueue");
    OperationQueue operations(underlying, true);
    auto handOff = [&](const std::string& name) {
        operations.addHandOffOperation([this, name] { serial->async([this, name] { log.push_back(name); }); });
    };
    handOff("held");
    operations.setSuspended(false);
    handOff("behind-held");
    dispatcher.drain();
    EXPECT_EQ(log, (std::vector<std::string>{"held", "behind-held"}));

    // Idle: handed on before the underlying queue runs anything.
    log.clear();
    handOff("idle");
    serial->async([this] { log.push_back("posted-after"); });
    dispatcher.drain();
    EXPECT_EQ(log, (std::vector<std::string>{"idle", "posted-after"}));

    // While an operation runs, a hand-off made from it waits its turn.
    log.clear();
    operations.addOperation([&] {
        handOff("from-running");
        serial->async([this] { log.push_back("running-posted"); });
    });
    dispatcher.drain();
    EXPECT_EQ(log, (std::vector<std::string>{"running-posted", "from-running"}));
}

}  // namespace
