// Tests of the real dispatcher's threads. Waits are short and bounded: each
// test finishes well under a second.
#include "platform/core/Dispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using platform::QueueRef;
using platform::SemaphoreRef;

class RealDispatch : public ::testing::Test {
protected:
    std::unique_ptr<platform::RealDispatcher> dispatcher = platform::makeRealDispatcher();
    QueueRef queue = dispatcher->makeSerialQueue("com.vadova.divu.worker");

    double uptime() { return dispatcher->clock().uptime(); }
};

TEST_F(RealDispatch, SerialQueueRunsBlocksInOrderOnItsOwnThread) {
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    for (int i = 0; i < 500; ++i) {
        queue->async([&, i] {
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
        });
    }
    queue->sync([] {});  // every earlier block has run
    ASSERT_EQ(order.size(), 500u);
    for (int i = 0; i < 500; ++i) ASSERT_EQ(order[i], i);
    for (const auto& id : threads) EXPECT_EQ(id, threads.front());
    EXPECT_NE(threads.front(), std::this_thread::get_id());
    EXPECT_EQ(queue->label(), "com.vadova.divu.worker");
}

TEST_F(RealDispatch, SyncWithinTheSameQueueRunsInline) {
    auto other = dispatcher->makeSerialQueue("other");
    std::vector<std::string> log;
    queue->sync([&] {
        EXPECT_TRUE(queue->isCurrent());
        EXPECT_EQ(dispatcher->currentQueue(), queue);
        queue->sync([&] { log.push_back("inline"); });
        other->sync([&] {
            EXPECT_TRUE(other->isCurrent());
            EXPECT_FALSE(queue->isCurrent());
            queue->sync([&] { log.push_back(queue->isCurrent() ? "back-inline" : "wrong"); });
        });
    });
    EXPECT_EQ(log, (std::vector<std::string>{"inline", "back-inline"}));
    EXPECT_FALSE(queue->isCurrent());
    EXPECT_EQ(dispatcher->currentQueue(), nullptr);
}

TEST_F(RealDispatch, AfterFiresInDueOrderNoEarlierThanAsked) {
    auto done = dispatcher->makeSemaphore(0);
    std::vector<int> order;
    const double start = uptime();
    double firedAt = 0;
    queue->after(0.06, [&] {
        order.push_back(2);
        firedAt = uptime();
        done->signal();
    });
    queue->after(0.02, [&] { order.push_back(1); });
    queue->after(-1, [&] { order.push_back(0); });
    ASSERT_TRUE(done->wait(1.0));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_GE(firedAt - start, 0.06);
}

TEST_F(RealDispatch, RepeatingTimerStopsWhenCancelled) {
    std::atomic<int> fires{0};
    auto third = dispatcher->makeSemaphore(0);
    auto timer = queue->scheduleTimer(0.01, 0.002, true, [&] {
        if (++fires == 3) third->signal();
    });
    EXPECT_DOUBLE_EQ(timer->tolerance(), 0.002);
    ASSERT_TRUE(third->wait(1.0));
    timer->cancel();
    queue->sync([] {});  // a firing under way has finished
    const int afterCancel = fires;
    EXPECT_FALSE(dispatcher->makeSemaphore(0)->wait(0.05));  // several intervals pass
    EXPECT_EQ(fires, afterCancel);
    EXPECT_FALSE(timer->isValid());
}

TEST_F(RealDispatch, TimerCancelledInsideItsOwnBlockFiresNoMore) {
    std::atomic<int> fires{0};
    auto fired = dispatcher->makeSemaphore(0);
    platform::TimerRef timer;
    std::mutex timerMutex;
    {
        std::lock_guard lock(timerMutex);
        timer = queue->scheduleTimer(0.005, 0, true, [&] {
            ++fires;
            std::lock_guard lock(timerMutex);
            timer->cancel();
            fired->signal();
        });
    }
    ASSERT_TRUE(fired->wait(1.0));
    EXPECT_FALSE(fired->wait(0.03));
    EXPECT_EQ(fires, 1);
}

TEST_F(RealDispatch, SemaphoreTimesOutAfterAShortWait) {
    auto semaphore = dispatcher->makeSemaphore(0);
    const double start = uptime();
    EXPECT_FALSE(semaphore->wait(0.05));
    const double waited = uptime() - start;
    EXPECT_GE(waited, 0.05);
    EXPECT_LT(waited, 0.5);
}

TEST_F(RealDispatch, MainQueueRunsInsideRunMainUntilOnTheCallingThread) {
    std::atomic<bool> done{false};
    std::thread::id ranOn;
    bool wasCurrent = false;
    queue->async([&] {
        dispatcher->mainQueue()->async([&] {
            ranOn = std::this_thread::get_id();
            wasCurrent = dispatcher->mainQueue()->isCurrent() && dispatcher->currentQueue() == dispatcher->mainQueue();
            done = true;
        });
    });
    EXPECT_TRUE(dispatcher->runMainUntil([&] { return done.load(); }, 1.0));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(wasCurrent);
    EXPECT_FALSE(dispatcher->mainQueue()->isCurrent());

    const double start = uptime();
    EXPECT_FALSE(dispatcher->runMainUntil([] { return false; }, 0.03));
    EXPECT_GE(uptime() - start, 0.03);
}

TEST_F(RealDispatch, RunMainEndsOnStopMainAndSyncToMainWaitsForIt) {
    auto main = dispatcher->mainQueue();
    int value = 0;
    queue->async([&] {
        main->sync([&] { value = 42; });  // waits for the main loop to run it
        main->async([&] { dispatcher->stopMain(); });
    });
    dispatcher->runMain();
    EXPECT_EQ(value, 42);
}

TEST_F(RealDispatch, GroupNotifiesTheMainQueueAfterWorkOnTwoQueues) {
    auto other = dispatcher->makeSerialQueue("other");
    platform::Group group(*dispatcher);
    std::atomic<int> work{0};
    bool notified = false;
    group.async(queue, [&] { ++work; });
    group.async(other, [&] { ++work; });
    group.notify(dispatcher->mainQueue(), [&] { notified = work == 2; });
    EXPECT_TRUE(group.wait(1.0));
    EXPECT_TRUE(dispatcher->runMainUntil([&] { return notified; }, 1.0));
}

// ---- shutdown -------------------------------------------------------------

TEST_F(RealDispatch, DestroyingAQueueFinishesDueWorkAndDropsTheRest) {
    std::atomic<int> ran{0};
    auto delayedCapture = std::make_shared<int>(0);
    auto gate = dispatcher->makeSemaphore(0);
    // Holds the worker while the queue fills and is destroyed.
    queue->async([gate] { EXPECT_FALSE(gate->wait(0.1)); });
    for (int i = 0; i < 10; ++i) queue->async([&] { ++ran; });
    queue->after(10.0, [delayedCapture] {});
    auto timer = queue->scheduleTimer(0.001, 0, true, [&] { ran += 100; });
    const double start = uptime();
    queue.reset();  // joins the worker
    EXPECT_LT(uptime() - start, 0.5);
    EXPECT_EQ(ran, 10);
    EXPECT_EQ(delayedCapture.use_count(), 1);
    EXPECT_FALSE(timer->isValid());
}

TEST_F(RealDispatch, QueueReleasedByItsOwnBlockShutsDownCleanly) {
    // The block holds the last reference: the queue is destroyed on its own
    // worker thread, which cannot join itself; the dispatcher joins it.
    struct LastReference {
        QueueRef queue;
        SemaphoreRef released;
        ~LastReference() {
            queue.reset();
            released->signal();
        }
    };
    auto released = dispatcher->makeSemaphore(0);
    auto holder = std::make_shared<LastReference>();
    holder->queue = dispatcher->makeSerialQueue("self-owned");
    holder->released = released;
    std::weak_ptr<platform::Queue> watch = holder->queue;
    holder->queue->async([holder] {});
    holder.reset();
    EXPECT_TRUE(released->wait(1.0));
    EXPECT_TRUE(watch.expired());
}

TEST_F(RealDispatch, ShutDownLetsTheRunningBlockFinishDropsTheRestAndEndsTheWorkers) {
    std::atomic<bool> runningFinished{false};
    std::atomic<int> ran{0};
    auto started = dispatcher->makeSemaphore(0);
    auto other = dispatcher->makeSerialQueue("other");
    queue->async([&] {
        started->signal();
        // Still running when the shutdown begins.
        EXPECT_FALSE(dispatcher->makeSemaphore(0)->wait(0.05));
        runningFinished = true;
    });
    for (int i = 0; i < 10; ++i) queue->async([&] { ++ran; });
    other->after(10.0, [&] { ++ran; });
    auto timer = queue->scheduleTimer(0.001, 0, true, [&] { ran += 100; });
    dispatcher->mainQueue()->async([&] { ++ran; });
    ASSERT_TRUE(started->wait(1.0));

    dispatcher->shutDown();
    EXPECT_TRUE(runningFinished);
    EXPECT_EQ(ran, 0);
    EXPECT_FALSE(timer->isValid());

    // Later work, on old and new queues alike, is dropped; sync returns.
    auto late = dispatcher->makeSerialQueue("late");
    for (const QueueRef& ended : {queue, other, late, dispatcher->mainQueue()}) {
        ended->sync([&] { ++ran; });
        ended->async([&] { ++ran; });
    }
    EXPECT_EQ(ran, 0);
}

TEST_F(RealDispatch, ShutDownAskedByABlockOfItsOwnQueueDoesNotWaitForItself) {
    auto done = dispatcher->makeSemaphore(0);
    queue->async([&] {
        dispatcher->shutDown();
        done->signal();
    });
    EXPECT_TRUE(done->wait(1.0));
}

TEST(RealDispatchShutdown, MainQueueWorkIsDroppedOnceTheDispatcherIsGone) {
    auto captured = std::make_shared<int>(0);
    QueueRef main;
    {
        auto dispatcher = platform::makeRealDispatcher();
        main = dispatcher->mainQueue();
        main->after(0, [captured] {});
    }
    EXPECT_EQ(captured.use_count(), 1);
    bool ran = false;
    main->sync([&] { ran = true; });  // returns at once instead of waiting forever
    main->async([&] { ran = true; });
    EXPECT_FALSE(ran);
}

}  // namespace
