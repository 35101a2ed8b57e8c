// The real dispatcher: a worker thread per serial queue, the main queue run
// by whichever thread calls runMain()/runMainUntil(), delays and timers on
// the system's monotonic clock (each queue waits for its own next due time).
#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/core/Dispatch.h"
#include "platform/core/DispatchContext.h"
#include "platform/core/DispatchSchedule.h"

namespace platform {

namespace {

constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();
const std::string kMainQueueLabel = "main";

std::uint64_t monotonicNow() { return systemClock().monotonicNanos(); }

// The pending work of one queue. Whoever runs the queue (its worker thread,
// or the main loop) takes entries with next() and runs them with run().
class QueueCore final : public TimerHost {
public:
    QueueCore(std::string label, const void* dispatcher)
        : label(std::move(label)), id(makeQueueId()), dispatcher(dispatcher) {}

    const std::string label;
    const std::uint64_t id;
    const void* const dispatcher;
    std::weak_ptr<Queue> queue;  // set once, before any work is posted

    // Adds an entry; after shutdown the entry is dropped instead.
    void post(std::uint64_t due, ScheduledEntry entry) {
        entry.queueId = id;
        entry.queue = queue;
        bool accepted = false;
        {
            std::lock_guard lock(mutex_);
            if (!closed_) {
                schedule_.add(due, std::move(entry));
                accepted = true;
            }
        }
        if (accepted) {
            wake_.notify_all();
        } else {
            std::vector<ScheduledEntry> dropped;
            dropped.push_back(std::move(entry));
            discardEntries(std::move(dropped));
        }
    }

    std::optional<ScheduledEntry> unschedule(ScheduledTimer& timer) override {
        std::lock_guard lock(mutex_);
        return schedule_.removeFiring(timer);
    }

    // Waits for the next entry to fall due. Empty when `until` passes, when
    // interrupt() was called, or when the queue has shut down and has
    // finished the work that was due at that moment.
    std::optional<std::pair<Schedule::Key, ScheduledEntry>> next(std::uint64_t until) {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (interrupted_) {
                interrupted_ = false;
                return std::nullopt;
            }
            const std::uint64_t now = monotonicNow();
            if (auto taken = schedule_.takeFirst(closed_ ? closedAt_ : now)) return taken;
            if (closed_ || now >= until) return std::nullopt;
            const std::uint64_t wakeAt = std::min(until, schedule_.earliestDue().value_or(kNever));
            if (wakeAt == kNever) {
                wake_.wait(lock);
            } else {
                wake_.wait_for(lock, std::chrono::nanoseconds(wakeAt - now));
            }
        }
    }

    void run(std::pair<Schedule::Key, ScheduledEntry> taken) {
        runScheduledEntry(taken.first.first, std::move(taken.second), dispatcher,
                          [this](std::uint64_t firedDue, ScheduledEntry& firing) {
                              std::lock_guard lock(mutex_);
                              return !closed_ && rearmTimer(schedule_, firing, firedDue, monotonicNow());
                          });
    }

    // Shuts the queue down: later posts are dropped, and so are timers and
    // delayed blocks. With `finishDue`, blocks already due still run.
    void close(bool finishDue) {
        std::vector<ScheduledEntry> dropped;
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
            closedAt_ = monotonicNow();
            dropped = schedule_.removeIf([&](const Schedule::Key& key, const ScheduledEntry& entry) {
                return !finishDue || entry.timer || key.first > closedAt_;
            });
        }
        wake_.notify_all();
        discardEntries(std::move(dropped));
    }

    // Makes the current or next call of next() return empty.
    void interrupt() {
        {
            std::lock_guard lock(mutex_);
            interrupted_ = true;
        }
        wake_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    Schedule schedule_;
    bool closed_ = false;
    bool interrupted_ = false;
    std::uint64_t closedAt_ = 0;
};

// Opens a sync() caller's latch when the block posted for it is destroyed:
// after it ran, or when a queue that shut down dropped it.
struct SyncLatch {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;

    void release() {
        {
            std::lock_guard lock(mutex);
            open = true;
        }
        opened.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex);
        opened.wait(lock, [this] { return open; });
    }
};

class SyncLatchOpener {
public:
    explicit SyncLatchOpener(std::shared_ptr<SyncLatch> latch) : latch_(std::move(latch)) {}
    SyncLatchOpener(const SyncLatchOpener&) = delete;
    SyncLatchOpener& operator=(const SyncLatchOpener&) = delete;
    ~SyncLatchOpener() { latch_->release(); }

private:
    std::shared_ptr<SyncLatch> latch_;
};

// The worker threads of a dispatcher still inside their loop, counted so
// that a shutdown can wait for them to finish.
class WorkerCount {
public:
    void started() {
        std::lock_guard lock(mutex_);
        ++running_;
    }
    void finished() {
        std::lock_guard lock(mutex_);
        --running_;
        changed_.notify_all();
    }
    void waitUntilAtMost(int count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return running_ <= count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int running_ = 0;
};

// Worker threads of queues that were released by one of their own blocks:
// such a thread cannot join itself, so the dispatcher joins it later.
class WorkerReaper {
public:
    void adopt(std::thread worker) {
        std::lock_guard lock(mutex_);
        finished_.push_back(std::move(worker));
    }
    void joinAll() {
        std::vector<std::thread> finished;
        {
            std::lock_guard lock(mutex_);
            finished.swap(finished_);
        }
        for (auto& worker : finished) {
            if (worker.get_id() == std::this_thread::get_id()) {
                worker.detach();
            } else {
                worker.join();
            }
        }
    }

private:
    std::mutex mutex_;
    std::vector<std::thread> finished_;
};

class RealQueue final : public Queue, public std::enable_shared_from_this<RealQueue> {
public:
    // A serial queue with its own worker thread.
    static std::shared_ptr<RealQueue> makeSerial(const std::string& label, const void* dispatcher,
                                                 std::weak_ptr<WorkerReaper> reaper,
                                                 std::shared_ptr<WorkerCount> workers) {
        auto queue = std::make_shared<RealQueue>(std::make_shared<QueueCore>(label, dispatcher));
        queue->reaper_ = std::move(reaper);
        workers->started();
        queue->worker_ = std::thread([core = queue->core_, workers = std::move(workers)] {
            // Thread names are limited to 15 characters.
            pthread_setname_np(pthread_self(), core->label.substr(0, 15).c_str());
            while (auto taken = core->next(kNever)) core->run(std::move(*taken));
            workers->finished();
        });
        return queue;
    }

    // A queue run by someone else (the main loop) through core().
    explicit RealQueue(std::shared_ptr<QueueCore> core) : core_(std::move(core)) {}

    ~RealQueue() override {
        const bool hasWorker = worker_.joinable();
        core_->close(hasWorker);
        if (!hasWorker) return;
        if (worker_.get_id() != std::this_thread::get_id()) {
            worker_.join();
            return;
        }
        // Released by a block of its own: the worker finishes the due work
        // after this block and ends; the dispatcher joins it.
        if (auto reaper = reaper_.lock()) {
            reaper->adopt(std::move(worker_));
        } else {
            worker_.detach();
        }
    }

    void attach() { core_->queue = weak_from_this(); }
    QueueCore& core() { return *core_; }
    std::weak_ptr<QueueCore> sharedCore() const { return core_; }

    using Queue::after;
    using Queue::async;

    const std::string& label() const override { return core_->label; }
    bool isCurrent() const override { return isRunningOnQueue(core_->id); }

    void async(Block block) override { after(0, std::move(block)); }

    void after(double seconds, Block block) override {
        if (!block) return;
        ScheduledEntry entry;
        entry.block = std::move(block);
        core_->post(monotonicNow() + delayToNanos(seconds), std::move(entry));
    }

    void sync(Block block) override {
        if (!block) return;
        if (isQueueInCallChain(core_->id)) {
            // This queue is running the caller (or waits for it): waiting
            // for the queue would never end, so run here.
            ExecutionContext context{core_->id, weak_from_this(), core_->dispatcher, nullptr};
            ExecutionScope scope(context);
            block();
            return;
        }
        auto latch = std::make_shared<SyncLatch>();
        ScheduledEntry entry;
        entry.caller = currentExecutionContext();
        entry.block = [&block, opener = std::make_shared<SyncLatchOpener>(latch)] { block(); };
        core_->post(monotonicNow(), std::move(entry));
        latch->wait();
    }

    TimerRef scheduleTimer(double interval, double tolerance, bool repeats, Block block) override {
        std::shared_ptr<QueueCore> core = core_;
        auto timer = std::make_shared<ScheduledTimer>(interval, tolerance, repeats, std::move(block),
                                                      std::weak_ptr<TimerHost>(core));
        ScheduledEntry entry;
        entry.timer = timer;
        core_->post(monotonicNow() + delayToNanos(timer->interval()), std::move(entry));
        return timer;
    }

private:
    std::shared_ptr<QueueCore> core_;
    std::thread worker_;
    std::weak_ptr<WorkerReaper> reaper_;
};

class RealSemaphore final : public Semaphore {
public:
    explicit RealSemaphore(long initialValue) : value_(initialValue) {}

    // Notifies under the lock: a waiter may destroy the semaphore as soon as
    // its wait returns.
    void signal() override {
        std::lock_guard lock(mutex_);
        ++value_;
        available_.notify_one();
    }

    bool wait(double seconds) override {
        std::unique_lock lock(mutex_);
        auto acquired = [this] { return value_ > 0; };
        if (seconds < 0) {
            available_.wait(lock, acquired);
        } else if (!available_.wait_for(lock, std::chrono::nanoseconds(delayToNanos(seconds)), acquired)) {
            return false;
        }
        --value_;
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable available_;
    long value_;
};

class RealDispatcherImpl final : public RealDispatcher {
public:
    RealDispatcherImpl() : main_(std::make_shared<RealQueue>(std::make_shared<QueueCore>(kMainQueueLabel, this))) {
        main_->attach();
    }

    // Main-queue work nobody will run any more is dropped.
    ~RealDispatcherImpl() override {
        main_->core().close(false);
        reaper_->joinAll();
    }

    Clock& clock() override { return systemClock(); }
    QueueRef mainQueue() override { return main_; }

    QueueRef makeSerialQueue(const std::string& label) override {
        reaper_->joinAll();  // workers of released queues, finished by now or soon
        std::lock_guard lock(queuesMutex_);
        if (isShutDown_) {
            // Born ended: no worker, every post dropped.
            auto queue = std::make_shared<RealQueue>(std::make_shared<QueueCore>(label, this));
            queue->attach();
            queue->core().close(false);
            return queue;
        }
        auto queue = RealQueue::makeSerial(label, this, reaper_, workers_);
        queue->attach();
        std::erase_if(cores_, [](const std::weak_ptr<QueueCore>& core) { return core.expired(); });
        cores_.push_back(queue->sharedCore());
        return queue;
    }

    void shutDown() override {
        std::vector<std::weak_ptr<QueueCore>> cores;
        {
            std::lock_guard lock(queuesMutex_);
            isShutDown_ = true;
            cores.swap(cores_);
        }
        main_->core().close(false);
        for (const auto& weak : cores) {
            if (const auto core = weak.lock()) core->close(false);
        }
        // A block of one of these queues asking for the shutdown cannot wait
        // for its own worker, which ends once the block returns.
        const QueueRef current = currentQueue();
        workers_->waitUntilAtMost(current && current != mainQueue() ? 1 : 0);
        reaper_->joinAll();
    }

    SemaphoreRef makeSemaphore(long initialValue) override { return std::make_shared<RealSemaphore>(initialValue); }
    QueueRef currentQueue() override { return currentQueueOf(this); }

    void runMain() override { runMainLoop([] { return false; }, kNever); }

    bool runMainUntil(const std::function<bool()>& done, double seconds) override {
        const std::uint64_t until = seconds < 0 ? kNever : monotonicNow() + delayToNanos(seconds);
        return runMainLoop(done, until);
    }

    void stopMain() override { main_->core().interrupt(); }

private:
    bool runMainLoop(const std::function<bool()>& done, std::uint64_t until) {
        QueueCore& core = main_->core();
        while (!done()) {
            auto taken = core.next(until);
            if (!taken) break;
            core.run(std::move(*taken));
        }
        return done();
    }

    std::shared_ptr<WorkerReaper> reaper_ = std::make_shared<WorkerReaper>();
    std::shared_ptr<WorkerCount> workers_ = std::make_shared<WorkerCount>();
    std::shared_ptr<RealQueue> main_;
    std::mutex queuesMutex_;  // guards the two below
    std::vector<std::weak_ptr<QueueCore>> cores_;  // the serial queues made so far
    bool isShutDown_ = false;
};

}  // namespace

std::unique_ptr<RealDispatcher> makeRealDispatcher() { return std::make_unique<RealDispatcherImpl>(); }

RealDispatcher& processDispatcher() {
    // Deliberately never destroyed (see the header).
    static RealDispatcher* const dispatcher = makeRealDispatcher().release();
    return *dispatcher;
}

}  // namespace platform
