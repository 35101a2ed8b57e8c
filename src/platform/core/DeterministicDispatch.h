#pragma once
// A dispatcher for tests: every queue runs on the test's thread, in order of
// due time (then submission order), on a VirtualClock. Nothing runs until the
// test calls drain() or advance(); sync() runs its block inline at once, and
// a semaphore wait runs due work, moving the clock towards its deadline,
// until signalled. A queue whose block is running (or waiting in sync) runs
// nothing else meanwhile, as a real serial queue would. Drive the dispatcher
// from one thread; blocks and signals may be posted from any thread.

#include <cstddef>
#include <memory>

#include "platform/core/Dispatch.h"

namespace platform {

class DeterministicDispatcher final : public Dispatcher {
public:
    explicit DeterministicDispatcher(double startWallSeconds = 1.7e9);
    ~DeterministicDispatcher() override;

    Clock& clock() override;
    VirtualClock& virtualClock();
    QueueRef mainQueue() override;
    QueueRef makeSerialQueue(const std::string& label) override;
    SemaphoreRef makeSemaphore(long initialValue) override;
    QueueRef currentQueue() override;

    // Runs everything due now (including work that work due now schedules
    // for now). Answers the number of blocks run.
    std::size_t drain();
    // Moves the clock forward by `seconds`, running each block at its due
    // time in order; ends with drain().
    std::size_t advance(double seconds);
    // Number of blocks and timers waiting, due or not.
    std::size_t pendingCount() const;
    // Due time of the earliest waiting block on the monotonic clock (seconds,
    // comparable with virtualClock().uptime()), or a negative value if none.
    double nextDueTime() const;

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace platform
