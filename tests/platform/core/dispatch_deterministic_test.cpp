#include "platform/core/DeterministicDispatch.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using platform::DeterministicDispatcher;
using platform::QueueRef;
using platform::TimerRef;
using platform::WorkItem;

class DeterministicDispatch : public ::testing::Test {
protected:
    DeterministicDispatcher dispatcher;
    QueueRef main = dispatcher.mainQueue();
    QueueRef worker = dispatcher.makeSerialQueue("com.vadova.divu.worker");
    std::vector<std::string> log;

    double elapsed() { return dispatcher.virtualClock().uptime() - start; }
    double start = dispatcher.virtualClock().uptime();
};

// ---- ordering -------------------------------------------------------------

TEST_F(DeterministicDispatch, NothingRunsUntilDrained) {
    main->async([&] { log.push_back("a"); });
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(dispatcher.pendingCount(), 1u);
    EXPECT_EQ(dispatcher.drain(), 1u);
    EXPECT_EQ(log, std::vector<std::string>{"a"});
    EXPECT_EQ(dispatcher.pendingCount(), 0u);
    EXPECT_LT(dispatcher.nextDueTime(), 0);
}

TEST_F(DeterministicDispatch, EqualDueTimesKeepSubmissionOrderAcrossQueues) {
    main->async([&] { log.push_back("main1"); });
    worker->async([&] { log.push_back("worker1"); });
    main->after(1.0, [&] { log.push_back("main-late"); });
    worker->after(1.0, [&] { log.push_back("worker-late"); });
    main->async([&] { log.push_back("main2"); });
    dispatcher.advance(1.0);
    EXPECT_EQ(log, (std::vector<std::string>{"main1", "worker1", "main2", "main-late", "worker-late"}));
}

TEST_F(DeterministicDispatch, BlocksRunAtTheirDueTimeInTimeOrder) {
    std::vector<double> times;
    main->after(3.0, [&] { times.push_back(elapsed()); });
    main->after(1.0, [&] { times.push_back(elapsed()); });
    worker->after(2.0, [&] { times.push_back(elapsed()); });
    main->after(-5.0, [&] { times.push_back(elapsed()); });  // negative: at once
    EXPECT_EQ(dispatcher.advance(2.5), 3u);
    EXPECT_EQ(times, (std::vector<double>{0.0, 1.0, 2.0}));
    EXPECT_DOUBLE_EQ(elapsed(), 2.5);
    EXPECT_EQ(dispatcher.pendingCount(), 1u);
    EXPECT_DOUBLE_EQ(dispatcher.nextDueTime() - dispatcher.virtualClock().uptime(), 0.5);
}

TEST_F(DeterministicDispatch, WorkScheduledDuringAdvanceRunsAtItsOwnTime) {
    std::vector<double> times;
    main->after(1.0, [&] {
        times.push_back(elapsed());
        worker->after(0.5, [&] { times.push_back(elapsed()); });
        worker->after(5.0, [&] { times.push_back(elapsed()); });  // beyond the advance
        main->async([&] { times.push_back(elapsed()); });
    });
    dispatcher.advance(2.0);
    EXPECT_EQ(times, (std::vector<double>{1.0, 1.0, 1.5}));
    dispatcher.advance(4.0);
    EXPECT_EQ(times.back(), 6.0);
}

TEST_F(DeterministicDispatch, DrainRunsOnlyWhatIsDueIncludingWorkItQueuesForNow) {
    main->after(0.1, [&] { log.push_back("later"); });
    main->async([&] {
        log.push_back("first");
        worker->async([&] { log.push_back("chained"); });
    });
    EXPECT_EQ(dispatcher.drain(), 2u);
    EXPECT_EQ(log, (std::vector<std::string>{"first", "chained"}));
    EXPECT_DOUBLE_EQ(elapsed(), 0.0);
}

TEST_F(DeterministicDispatch, ReentrantDrainKeepsOrderAndSerialQueues) {
    main->async([&] {
        log.push_back("main1");
        dispatcher.drain();  // may run other queues, never main's next block
        log.push_back("main1-end");
    });
    main->async([&] { log.push_back("main2"); });
    worker->async([&] { log.push_back("worker"); });
    dispatcher.drain();
    EXPECT_EQ(log, (std::vector<std::string>{"main1", "worker", "main1-end", "main2"}));
}

TEST_F(DeterministicDispatch, ReentrantAdvanceNeverMovesTheClockBack) {
    main->after(1.0, [&] {
        dispatcher.advance(5.0);
        log.push_back("outer");
    });
    worker->after(3.0, [&] { log.push_back("worker@" + std::to_string(static_cast<int>(elapsed()))); });
    dispatcher.advance(2.0);
    EXPECT_EQ(log, (std::vector<std::string>{"worker@3", "outer"}));
    EXPECT_DOUBLE_EQ(elapsed(), 6.0);
}

// ---- work items -----------------------------------------------------------

TEST_F(DeterministicDispatch, CancelledWorkItemNeverRuns) {
    auto item = std::make_shared<WorkItem>([&] { log.push_back("ran"); });
    main->after(0.18, item);
    dispatcher.advance(0.1);
    item->cancel();
    dispatcher.advance(1.0);
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(item->isCancelled());
}

TEST_F(DeterministicDispatch, DebouncedRequestsEndInOneRunAfterTheLast) {
    std::shared_ptr<WorkItem> pending;
    std::vector<double> writes;
    auto request = [&] {
        if (pending) pending->cancel();
        pending = std::make_shared<WorkItem>([&] { writes.push_back(elapsed()); });
        main->after(0.18, pending);
    };
    request();
    dispatcher.advance(0.1);
    request();
    dispatcher.advance(0.1);
    request();
    dispatcher.advance(1.0);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_NEAR(writes[0], 0.38, 1e-9);
}

TEST_F(DeterministicDispatch, WorkItemRunsAtMostOnceAndCancelInsideHasNoEffect) {
    int runs = 0;
    std::shared_ptr<WorkItem> item;
    item = std::make_shared<WorkItem>([&] {
        ++runs;
        item->cancel();
    });
    main->async(item);
    main->async(item);
    item->perform();
    dispatcher.drain();
    EXPECT_EQ(runs, 1);
}

// ---- timers ---------------------------------------------------------------

TEST_F(DeterministicDispatch, RepeatingTimerFiresOnTimeAcrossAdvance) {
    std::vector<double> fires;
    TimerRef timer = main->scheduleTimer(2.0, 0.4, true, [&] { fires.push_back(elapsed()); });
    EXPECT_DOUBLE_EQ(timer->interval(), 2.0);
    EXPECT_DOUBLE_EQ(timer->tolerance(), 0.4);
    dispatcher.advance(10.0);
    EXPECT_EQ(fires, (std::vector<double>{2.0, 4.0, 6.0, 8.0, 10.0}));
    EXPECT_TRUE(timer->isValid());
    EXPECT_EQ(dispatcher.pendingCount(), 1u);
    timer->cancel();
    EXPECT_FALSE(timer->isValid());
    EXPECT_EQ(dispatcher.pendingCount(), 0u);
    dispatcher.advance(10.0);
    EXPECT_EQ(fires.size(), 5u);
}

TEST_F(DeterministicDispatch, TimerCancelledInsideItsOwnBlockStops) {
    int fires = 0;
    TimerRef timer;
    timer = worker->scheduleTimer(1.0, 0, true, [&] {
        if (++fires == 3) timer->cancel();
    });
    dispatcher.advance(10.0);
    EXPECT_EQ(fires, 3);
    EXPECT_EQ(dispatcher.pendingCount(), 0u);
}

TEST_F(DeterministicDispatch, TimerHoldingItselfIsReleasedWhenCancelled) {
    auto fired = std::make_shared<int>(0);
    std::weak_ptr<platform::Timer> watch;
    {
        auto timer = main->scheduleTimer(1.0, 0, true, nullptr);
        watch = timer;
        // A block that keeps its own timer alive: a cycle until cancelled.
        timer = main->scheduleTimer(1.0, 0, true, [fired, timer] { ++*fired; });
        watch.lock()->cancel();
        watch = timer;
        dispatcher.advance(1.0);
        timer->cancel();
    }
    dispatcher.drain();
    EXPECT_EQ(*fired, 1);
    EXPECT_TRUE(watch.expired());
}

TEST_F(DeterministicDispatch, OneShotTimerFiresOnceAndNegativeIntervalFiresAtOnce) {
    int late = 0, now = 0;
    TimerRef oneShot = worker->scheduleTimer(1.5, 0.1, false, [&] { ++late; });
    TimerRef immediate = worker->scheduleTimer(-3.0, 0, false, [&] { ++now; });
    dispatcher.drain();
    EXPECT_EQ(now, 1);
    EXPECT_EQ(late, 0);
    EXPECT_FALSE(immediate->isValid());
    dispatcher.advance(10.0);
    EXPECT_EQ(late, 1);
    EXPECT_FALSE(oneShot->isValid());
    EXPECT_EQ(dispatcher.pendingCount(), 0u);
}

TEST_F(DeterministicDispatch, RepeatingTimerWithZeroIntervalCannotStallDrain) {
    int fires = 0;
    TimerRef timer = main->scheduleTimer(0, 0, true, [&] { ++fires; });
    dispatcher.drain();
    EXPECT_EQ(fires, 0);  // the next firing is always in the future
    dispatcher.advance(0.001);
    EXPECT_EQ(fires, 10);
    timer->cancel();
}

// ---- sync and the current queue -------------------------------------------

TEST_F(DeterministicDispatch, SyncRunsInlineWithTheQueueCurrent) {
    main->async([&] { log.push_back("pending"); });
    bool insideIsCurrent = false;
    worker->sync([&] {
        insideIsCurrent = worker->isCurrent();
        EXPECT_EQ(dispatcher.currentQueue(), worker);
        log.push_back("sync");
    });
    EXPECT_TRUE(insideIsCurrent);
    EXPECT_EQ(worker->label(), "com.vadova.divu.worker");
    EXPECT_FALSE(worker->isCurrent());
    EXPECT_EQ(dispatcher.currentQueue(), nullptr);
    EXPECT_EQ(log, std::vector<std::string>{"sync"});  // pending work did not run first
}

TEST_F(DeterministicDispatch, SyncWaitsForWorkAlreadyQueuedOnItsQueue) {
    // A read submitted with sync() after a write submitted with async() must
    // see the write, as on a real serial queue; later work stays later.
    int value = 0;
    worker->async([&] { value = 1; log.push_back("write"); });
    worker->after(1.0, [&] { log.push_back("later"); });
    main->async([&] { log.push_back("other queue"); });
    int seen = -1;
    worker->sync([&] { seen = value; log.push_back("read"); });
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(log, (std::vector<std::string>{"write", "read"}));
    dispatcher.advance(1.0);
    EXPECT_EQ(log, (std::vector<std::string>{"write", "read", "other queue", "later"}));
}

TEST_F(DeterministicDispatch, SyncOnOwnQueueAndAcrossQueuesNeverDeadlocks) {
    worker->async([&] {
        worker->sync([&] { log.push_back(worker->isCurrent() ? "worker-inline" : "wrong"); });
        main->sync([&] {
            log.push_back(main->isCurrent() && !worker->isCurrent() ? "main" : "wrong");
            worker->sync([&] { log.push_back(worker->isCurrent() ? "back-on-worker" : "wrong"); });
        });
        log.push_back(worker->isCurrent() ? "worker-again" : "wrong");
    });
    dispatcher.drain();
    EXPECT_EQ(log, (std::vector<std::string>{"worker-inline", "main", "back-on-worker", "worker-again"}));
}

// ---- semaphores -----------------------------------------------------------

TEST_F(DeterministicDispatch, SemaphoreTimeOutMovesClockToDeadline) {
    auto semaphore = dispatcher.makeSemaphore(0);
    worker->after(4.0, [&] { semaphore->signal(); });  // too late
    EXPECT_FALSE(semaphore->wait(1.5));
    EXPECT_DOUBLE_EQ(elapsed(), 1.5);
    EXPECT_EQ(dispatcher.pendingCount(), 1u);
}

TEST_F(DeterministicDispatch, SemaphoreWaitRunsWorkUntilSignalled) {
    auto semaphore = dispatcher.makeSemaphore(0);
    worker->after(0.5, [&] { log.push_back("step"); });
    worker->after(1.0, [&] { semaphore->signal(); });
    worker->after(1.2, [&] { log.push_back("after-signal"); });
    EXPECT_TRUE(semaphore->wait(1.5));
    EXPECT_DOUBLE_EQ(elapsed(), 1.0);
    EXPECT_EQ(log, std::vector<std::string>{"step"});
}

TEST_F(DeterministicDispatch, SemaphoreCountsSignalsAndInitialValue) {
    auto semaphore = dispatcher.makeSemaphore(1);
    EXPECT_TRUE(semaphore->wait(0));
    EXPECT_FALSE(semaphore->wait(0));
    semaphore->signal();
    semaphore->signal();
    EXPECT_TRUE(semaphore->wait(0));
    EXPECT_TRUE(semaphore->wait(0));
    EXPECT_DOUBLE_EQ(elapsed(), 0.0);
}

TEST_F(DeterministicDispatch, SemaphoreWaitOnAQueueDoesNotRunThatQueuesBlocks) {
    auto semaphore = dispatcher.makeSemaphore(0);
    bool acquired = true;
    worker->async([&] { acquired = semaphore->wait(1.0); });
    worker->async([&] { semaphore->signal(); });  // stuck behind the waiter, as on a real queue
    dispatcher.drain();
    EXPECT_FALSE(acquired);
    EXPECT_DOUBLE_EQ(elapsed(), 1.0);
}

TEST_F(DeterministicDispatch, SemaphoreAcceptsSignalFromAnotherThread) {
    auto semaphore = dispatcher.makeSemaphore(0);
    std::thread signaller([&] { semaphore->signal(); });
    EXPECT_TRUE(semaphore->wait(-1));
    signaller.join();
}

// ---- groups ---------------------------------------------------------------

TEST_F(DeterministicDispatch, GroupNotifiesOnceEveryoneHasLeft) {
    platform::Group group(dispatcher);
    group.enter();
    group.async(worker, [&] { log.push_back("work"); });
    group.notify(main, [&] { log.push_back("notified"); });
    dispatcher.drain();
    EXPECT_EQ(log, std::vector<std::string>{"work"});
    group.leave();
    group.leave();  // unbalanced: ignored
    dispatcher.drain();
    EXPECT_EQ(log, (std::vector<std::string>{"work", "notified"}));
    group.notify(main, [&] { log.push_back("empty"); });
    dispatcher.drain();
    EXPECT_EQ(log.back(), "empty");
}

TEST_F(DeterministicDispatch, GroupWaitRunsWorkAndTimesOut) {
    platform::Group group(dispatcher);
    group.async(worker, [] {});
    worker->after(2.0, [&] { group.async(main, [] {}); });
    EXPECT_TRUE(group.wait(1.0));
    group.enter();
    EXPECT_FALSE(group.wait(3.0));
    EXPECT_DOUBLE_EQ(elapsed(), 3.0);
}

// ---- lifetimes ------------------------------------------------------------

TEST_F(DeterministicDispatch, DestroyedQueueDropsFutureWorkAndTimers) {
    auto queue = dispatcher.makeSerialQueue("short-lived");
    queue->async([&] { log.push_back("due"); });
    queue->after(1.0, [&] { log.push_back("future"); });
    TimerRef timer = queue->scheduleTimer(0.5, 0, true, [&] { log.push_back("timer"); });
    queue.reset();
    EXPECT_FALSE(timer->isValid());
    dispatcher.advance(2.0);
    EXPECT_EQ(log, std::vector<std::string>{"due"});
}

TEST(DeterministicDispatchLifetime, QueueOutlivingItsDispatcherDropsAsyncButStillSyncs) {
    QueueRef queue;
    auto held = std::make_shared<int>(0);
    {
        DeterministicDispatcher dispatcher;
        queue = dispatcher.makeSerialQueue("q");
        queue->after(1.0, [held] {});
    }
    EXPECT_EQ(held.use_count(), 1);  // pending block was released
    int ran = 0;
    queue->async([&] { ++ran; });
    queue->sync([&] { ran += queue->isCurrent() ? 10 : 100; });
    EXPECT_EQ(ran, 10);
    EXPECT_FALSE(queue->scheduleTimer(1.0, 0, true, [] {})->isValid());
}

}  // namespace
