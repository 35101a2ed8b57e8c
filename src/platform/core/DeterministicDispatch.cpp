#include "platform/core/DeterministicDispatch.h"

#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/core/DispatchContext.h"
#include "platform/core/DispatchSchedule.h"

namespace platform {

namespace {
constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();
const std::string kMainQueueLabel = "main";
}  // namespace

// All queues share one Schedule. Blocks run on the thread that drives the
// dispatcher (drain, advance, semaphore waits), one at a time, and never
// while the mutex is held, so a block may schedule, cancel or drive again.
struct DeterministicDispatcher::Impl final : TimerHost {
    explicit Impl(double startWallSeconds) : clock(startWallSeconds) {}

    VirtualClock clock;
    mutable std::mutex mutex;
    Schedule schedule;
    QueueRef mainQueue;

    std::uint64_t now() const { return clock.monotonicNanos(); }

    void post(std::uint64_t due, ScheduledEntry entry) {
        std::lock_guard lock(mutex);
        schedule.add(due, std::move(entry));
    }

    std::optional<ScheduledEntry> unschedule(ScheduledTimer& timer) override {
        std::lock_guard lock(mutex);
        return schedule.removeFiring(timer);
    }

    // A queue whose block is running on this thread (or waiting in sync for
    // one) is busy: its next block must wait, as on a real serial queue.
    static bool isIdle(std::uint64_t queueId) { return !isQueueInCallChain(queueId); }

    // Runs the earliest runnable block due at or before `limit`, first moving
    // the clock to its due time. False when there is none.
    bool runOne(std::uint64_t limit) {
        std::optional<std::pair<Schedule::Key, ScheduledEntry>> taken;
        {
            std::lock_guard lock(mutex);
            taken = schedule.takeFirst(limit, isIdle);
            if (!taken) return false;
        }
        const std::uint64_t due = taken->first.first;
        if (due > now()) clock.advance(static_cast<double>(due - now()) / 1e9);
        run(due, std::move(taken->second));
        return true;
    }

    // Runs, in order, the blocks of one queue that are due now: what a real
    // serial queue would finish before a sync() submitted to it.
    void runQueuedOn(std::uint64_t queueId) {
        for (;;) {
            std::optional<std::pair<Schedule::Key, ScheduledEntry>> taken;
            {
                std::lock_guard lock(mutex);
                taken = schedule.takeFirst(now(), [queueId](std::uint64_t id) { return id == queueId && isIdle(id); });
                if (!taken) return;
            }
            run(taken->first.first, std::move(taken->second));
        }
    }

    void run(std::uint64_t due, ScheduledEntry entry) {
        runScheduledEntry(due, std::move(entry), this, [this](std::uint64_t firedDue, ScheduledEntry& firing) {
            std::lock_guard lock(mutex);
            return rearmTimer(schedule, firing, firedDue, now());
        });
    }

    // The queue is gone: its future blocks and its timers go with it; blocks
    // already due still run, as they would have on a real queue.
    void forgetQueue(std::uint64_t queueId) {
        std::vector<ScheduledEntry> dropped;
        {
            std::lock_guard lock(mutex);
            const std::uint64_t current = now();
            dropped = schedule.removeIf([&](const Schedule::Key& key, const ScheduledEntry& entry) {
                return entry.queueId == queueId && (entry.timer || key.first > current);
            });
        }
        discardEntries(std::move(dropped));
    }
};

namespace {

class DeterministicQueue final : public Queue, public std::enable_shared_from_this<DeterministicQueue> {
public:
    DeterministicQueue(std::string label, std::weak_ptr<DeterministicDispatcher::Impl> impl)
        : label_(std::move(label)), id_(makeQueueId()), impl_(std::move(impl)) {}

    ~DeterministicQueue() override {
        if (auto impl = impl_.lock()) impl->forgetQueue(id_);
    }

    using Queue::after;
    using Queue::async;

    const std::string& label() const override { return label_; }
    bool isCurrent() const override { return isRunningOnQueue(id_); }

    void async(Block block) override { after(0, std::move(block)); }

    // Runs on the calling thread, with this queue current. Called from
    // outside the queue, the blocks already due on it run first, in order,
    // as they would on a real serial queue; called from code already on it,
    // the block runs inline at once.
    void sync(Block block) override {
        auto impl = impl_.lock();
        if (impl && !isQueueInCallChain(id_)) impl->runQueuedOn(id_);
        ExecutionContext context{id_, weak_from_this(), impl.get(), nullptr};
        ExecutionScope scope(context);
        if (block) block();
    }

    void after(double seconds, Block block) override {
        if (!block) return;
        ScheduledEntry entry;
        entry.block = std::move(block);
        post(seconds, std::move(entry));
    }

    TimerRef scheduleTimer(double interval, double tolerance, bool repeats, Block block) override {
        auto impl = impl_.lock();
        auto timer = std::make_shared<ScheduledTimer>(interval, tolerance, repeats, std::move(block),
                                                      impl ? std::weak_ptr<TimerHost>(impl) : std::weak_ptr<TimerHost>());
        ScheduledEntry entry;
        entry.timer = timer;
        post(timer->interval(), std::move(entry));
        return timer;
    }

private:
    // Adds the entry for this queue, or drops it once the dispatcher is gone.
    void post(double delaySeconds, ScheduledEntry entry) {
        auto impl = impl_.lock();
        if (!impl) {
            std::vector<ScheduledEntry> dropped;
            dropped.push_back(std::move(entry));
            discardEntries(std::move(dropped));
            return;
        }
        entry.queueId = id_;
        entry.queue = weak_from_this();
        impl->post(impl->now() + delayToNanos(delaySeconds), std::move(entry));
    }

    std::string label_;
    std::uint64_t id_;
    std::weak_ptr<DeterministicDispatcher::Impl> impl_;
};

// Counts like a real semaphore; a wait drives the dispatcher instead of
// blocking, since everything that could signal runs on the waiting thread.
class DeterministicSemaphore final : public Semaphore {
public:
    DeterministicSemaphore(long initialValue, std::weak_ptr<DeterministicDispatcher::Impl> impl)
        : value_(initialValue), impl_(std::move(impl)) {}

    // Safe from any thread; notifies under the lock, since a waiter may
    // destroy the semaphore as soon as its wait returns.
    void signal() override {
        std::lock_guard lock(mutex_);
        ++value_;
        signalled_.notify_all();
    }

    bool wait(double seconds) override {
        auto impl = impl_.lock();
        if (!impl) return waitForOtherThreads(seconds < 0);
        const bool forever = seconds < 0;
        const std::uint64_t deadline = forever ? kNever : impl->now() + delayToNanos(seconds);
        for (;;) {
            if (tryAcquire()) return true;
            if (impl->runOne(deadline)) continue;
            if (!forever) {
                // Nothing here can signal in time: the wait times out at its
                // deadline.
                if (deadline > impl->now()) impl->clock.advance(static_cast<double>(deadline - impl->now()) / 1e9);
                return tryAcquire();
            }
            // Only another thread can signal now (or post work that will).
            if (waitForOtherThreads(false)) return true;
        }
    }

private:
    bool tryAcquire() {
        std::lock_guard lock(mutex_);
        if (value_ <= 0) return false;
        --value_;
        return true;
    }

    // Waits in real time for a signal from another thread: briefly (so that
    // work posted from elsewhere gets run) or, with `block`, until it comes.
    bool waitForOtherThreads(bool block) {
        std::unique_lock lock(mutex_);
        auto available = [this] { return value_ > 0; };
        if (block) {
            signalled_.wait(lock, available);
        } else if (!signalled_.wait_for(lock, std::chrono::milliseconds(10), available)) {
            return false;
        }
        --value_;
        return true;
    }

    std::mutex mutex_;
    std::condition_variable signalled_;
    long value_;
    std::weak_ptr<DeterministicDispatcher::Impl> impl_;
};

}  // namespace

DeterministicDispatcher::DeterministicDispatcher(double startWallSeconds)
    : impl_(std::make_shared<Impl>(startWallSeconds)) {
    impl_->mainQueue = std::make_shared<DeterministicQueue>(kMainQueueLabel, impl_);
}

DeterministicDispatcher::~DeterministicDispatcher() {
    // Pending blocks are dropped; destroy them outside the lock, since what
    // they hold may call back (a queue forgetting its work, say).
    std::vector<ScheduledEntry> dropped;
    {
        std::lock_guard lock(impl_->mutex);
        dropped = impl_->schedule.removeIf([](const Schedule::Key&, const ScheduledEntry&) { return true; });
    }
    discardEntries(std::move(dropped));
}

Clock& DeterministicDispatcher::clock() { return impl_->clock; }

VirtualClock& DeterministicDispatcher::virtualClock() { return impl_->clock; }

QueueRef DeterministicDispatcher::mainQueue() { return impl_->mainQueue; }

QueueRef DeterministicDispatcher::makeSerialQueue(const std::string& label) {
    return std::make_shared<DeterministicQueue>(label, impl_);
}

SemaphoreRef DeterministicDispatcher::makeSemaphore(long initialValue) {
    return std::make_shared<DeterministicSemaphore>(initialValue, impl_);
}

QueueRef DeterministicDispatcher::currentQueue() { return currentQueueOf(impl_.get()); }

std::size_t DeterministicDispatcher::drain() {
    std::size_t count = 0;
    while (impl_->runOne(impl_->now())) ++count;
    return count;
}

std::size_t DeterministicDispatcher::advance(double seconds) {
    const std::uint64_t target = impl_->now() + delayToNanos(seconds);
    std::size_t count = 0;
    while (impl_->runOne(target)) ++count;
    if (target > impl_->now()) impl_->clock.advance(static_cast<double>(target - impl_->now()) / 1e9);
    return count + drain();
}

std::size_t DeterministicDispatcher::pendingCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->schedule.size();
}

double DeterministicDispatcher::nextDueTime() const {
    std::lock_guard lock(impl_->mutex);
    auto due = impl_->schedule.earliestDue();
    return due ? static_cast<double>(*due) / 1e9 : -1.0;
}

}  // namespace platform
