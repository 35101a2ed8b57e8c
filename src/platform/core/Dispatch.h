#pragma once
// Dispatch: serial queues, the main queue, delayed and cancellable work,
// timers, semaphores, groups and a suspendable operation queue.
//
// Two Dispatcher implementations stand behind these interfaces:
//  - makeRealDispatcher(): one thread per serial queue; the main queue runs
//    on whichever thread calls runMain()/runMainUntil(); the system clock.
//  - DeterministicDispatcher (DeterministicDispatch.h): every queue runs on
//    the calling thread in time order on a VirtualClock that the test moves
//    with advance(seconds) and drain().
//
// Components take a Dispatcher& (or a queue) and never assume which one.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/core/Clock.h"

namespace platform {

using Block = std::function<void()>;

// A block that can be cancelled before it runs. Cancelling after it started
// has no effect on the running block. Thread-safe.
class WorkItem {
public:
    explicit WorkItem(Block block);
    void cancel();
    bool isCancelled() const;
    // Runs the block unless cancelled; the block runs at most once.
    void perform();

private:
    struct State;
    std::shared_ptr<State> state_;
};

using WorkItemRef = std::shared_ptr<WorkItem>;

// A one-shot or repeating timer. A repeating timer fires every `interval`
// seconds, measured from its scheduled fire time, until cancelled.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void cancel() = 0;
    virtual bool isValid() const = 0;
    virtual double interval() const = 0;
    virtual double tolerance() const = 0;
};

using TimerRef = std::shared_ptr<Timer>;

class Queue {
public:
    virtual ~Queue() = default;
    virtual const std::string& label() const = 0;
    // True while the calling code runs on this queue (inside one of its
    // blocks, or inside a sync() block on it).
    virtual bool isCurrent() const = 0;
    virtual void async(Block block) = 0;
    // Runs the block on this queue and waits for it. Called from code already
    // running on this queue (or from a block that this queue waits for in a
    // sync of its own), the block runs inline instead (never deadlocks).
    virtual void sync(Block block) = 0;
    // Runs the block after `seconds` (a negative or zero delay runs it as soon
    // as the queue is free).
    virtual void after(double seconds, Block block) = 0;
    // Schedules a timer whose block runs on this queue. The first firing is
    // after `interval` seconds (at once when negative); a repeating timer's
    // interval is at least 0.1 ms. Tolerance is recorded; firing is on time.
    virtual TimerRef scheduleTimer(double interval, double tolerance, bool repeats, Block block) = 0;

    // Cancellable variants: the item is skipped if cancelled before it runs.
    void async(const WorkItemRef& item);
    void after(double seconds, const WorkItemRef& item);
};

// Destroying a queue (dropping its last QueueRef) lets the blocks already
// due finish and drops its delayed blocks and timers; work submitted to a
// queue that has shut down is dropped, and sync() on it returns at once.
using QueueRef = std::shared_ptr<Queue>;

// A counting semaphore; signal() is safe from any thread. wait() with a
// time-out answers false on time-out.
class Semaphore {
public:
    virtual ~Semaphore() = default;
    virtual void signal() = 0;
    // Waits at most `seconds` (negative: forever). True when acquired.
    [[nodiscard]] virtual bool wait(double seconds) = 0;
};

using SemaphoreRef = std::shared_ptr<Semaphore>;

class Dispatcher {
public:
    virtual ~Dispatcher() = default;
    virtual Clock& clock() = 0;
    virtual QueueRef mainQueue() = 0;
    // A new serial queue; blocks submitted to it run one at a time, in order.
    virtual QueueRef makeSerialQueue(const std::string& label) = 0;
    virtual SemaphoreRef makeSemaphore(long initialValue) = 0;
    // The queue the caller runs on, or null when on none of this dispatcher's.
    virtual QueueRef currentQueue() = 0;
};

// Groups of asynchronous work: notify runs once every entered unit has left.
class Group {
public:
    explicit Group(Dispatcher& dispatcher);
    void enter();
    // A leave() without a matching enter() is ignored.
    void leave();
    void async(const QueueRef& queue, Block block);
    // Runs `block` on `queue` when the group is (or next becomes) empty.
    void notify(const QueueRef& queue, Block block);
    // Waits until the group is empty, at most `seconds`; true when empty.
    [[nodiscard]] bool wait(double seconds);

private:
    struct State;
    std::shared_ptr<State> state_;
};

// A serial operation queue that holds its operations while suspended and
// runs them one at a time, in order, on its underlying queue once resumed.
// Suspending holds the operations not yet started.
class OperationQueue {
public:
    explicit OperationQueue(QueueRef underlying, bool startSuspended = false);
    void addOperation(Block block);
    // For an operation that only hands work on to another queue (a quick,
    // non-blocking post): while the queue is resumed and has no operation
    // waiting or running, it runs at once on the caller's thread, under the
    // queue's lock, which keeps it after every earlier operation and before
    // any later one without a trip through the underlying queue's thread.
    // Otherwise it is added like any operation.
    void addHandOffOperation(Block block);
    void setSuspended(bool suspended);
    bool isSuspended() const;
    const QueueRef& underlyingQueue() const { return queue_; }

private:
    struct State;
    QueueRef queue_;
    std::shared_ptr<State> state_;
};

// The real dispatcher. Serial queues own a worker thread each; the main
// queue's blocks run inside runMain()/runMainUntil() on the calling thread
// (a sync() onto the main queue waits for that loop). Destroying the
// dispatcher drops main-queue work; serial queues live on while referenced.
class RealDispatcher : public Dispatcher {
public:
    // Runs main-queue blocks until stopMain() is called.
    virtual void runMain() = 0;
    // Runs main-queue blocks until `done()` answers true or `seconds` pass;
    // answers done().
    [[nodiscard]] virtual bool runMainUntil(const std::function<bool()>& done, double seconds) = 0;
    // Ends the running runMain()/runMainUntil(), or the next one to start.
    virtual void stopMain() = 0;
    // Ends every queue of this dispatcher, the main queue included, for the
    // end of the process: a block already running finishes, pending blocks,
    // delayed blocks and timers are dropped, and so is later work (sync()
    // returns at once; queues made afterwards start ended). Returns when
    // every worker thread has finished, but for the caller's own.
    virtual void shutDown() = 0;
};

std::unique_ptr<RealDispatcher> makeRealDispatcher();

// The real dispatcher of the libraries that are handed none: made on first
// use and never destroyed, so no order of static destruction can pull it
// from under a queue; the process's shutdown ends its queues.
RealDispatcher& processDispatcher();

}  // namespace platform
