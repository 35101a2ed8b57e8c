#pragma once
// The pending work of the dispatch implementations: entries ordered by due
// time (monotonic nanoseconds), then by submission order, and the timers
// that re-arm themselves in it. Not locked: each owner guards its Schedule
// with its own mutex, and destroys removed entries only after unlocking
// (destroying a block may release objects that call back into dispatch).

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/core/Dispatch.h"
#include "platform/core/DispatchContext.h"

namespace platform {

// Seconds to nanoseconds for delays: NaN, zero and negative delays are 0,
// huge ones are capped so that due times never overflow.
std::uint64_t delayToNanos(double seconds);

class ScheduledTimer;

struct ScheduledEntry {
    std::uint64_t queueId = 0;
    std::weak_ptr<Queue> queue;
    Block block;
    std::shared_ptr<ScheduledTimer> timer;   // set when this entry is a timer's firing
    const ExecutionContext* caller = nullptr;  // a sync() caller blocked on another thread
};

// Retires the timers among dropped entries, then destroys the entries. Call
// without holding the owner's lock.
void discardEntries(std::vector<ScheduledEntry> entries);

class Schedule {
public:
    using Key = std::pair<std::uint64_t, std::uint64_t>;  // due, submission number

    // A timer's firing is tracked through the timer's `key`, kept up to date
    // by every operation here.
    Key add(std::uint64_t due, ScheduledEntry entry);
    // Removes and answers the timer's pending firing, if one is waiting.
    std::optional<ScheduledEntry> removeFiring(ScheduledTimer& timer);
    // Takes the earliest entry due at or before `limit` whose queue `runnable`
    // accepts (all queues when `runnable` is empty).
    std::optional<std::pair<Key, ScheduledEntry>> takeFirst(
        std::uint64_t limit, const std::function<bool(std::uint64_t queueId)>& runnable = {});
    // Due time of the earliest entry `runnable` accepts.
    std::optional<std::uint64_t> earliestDue(
        const std::function<bool(std::uint64_t queueId)>& runnable = {}) const;
    // Removes and returns the entries `drop` selects.
    std::vector<ScheduledEntry> removeIf(const std::function<bool(const Key&, const ScheduledEntry&)>& drop);
    std::size_t size() const { return entries_.size(); }

private:
    static ScheduledEntry detach(ScheduledEntry&& entry);

    std::map<Key, ScheduledEntry> entries_;
    std::uint64_t nextSequence_ = 0;
};

// What a timer needs from the implementation holding its firings.
class TimerHost {
public:
    virtual ~TimerHost() = default;
    // Schedule::removeFiring under the host's lock.
    virtual std::optional<ScheduledEntry> unschedule(ScheduledTimer& timer) = 0;
};

// A timer whose firings are entries of a Schedule. `key` belongs to that
// Schedule (and is guarded like it).
class ScheduledTimer final : public Timer {
public:
    ScheduledTimer(double interval, double tolerance, bool repeats, Block block, std::weak_ptr<TimerHost> host);

    void cancel() override;
    bool isValid() const override { return valid_.load(); }
    double interval() const override { return interval_; }
    double tolerance() const override { return tolerance_; }

    // Called as a firing starts; false when the timer was cancelled. A
    // one-shot timer stops being valid as it fires.
    [[nodiscard]] bool beginFiring();
    void fire() const { if (block_) block_(); }
    // Called by the host once the timer will never fire again and no firing
    // runs: releases the block, which may hold the timer itself.
    void retire();
    // When a repeating timer that fired at `due` fires next: one interval on,
    // skipping firings already missed by `now`. Empty when it must not re-arm.
    std::optional<std::uint64_t> nextFiring(std::uint64_t due, std::uint64_t now) const;

    std::optional<Schedule::Key> key;

private:
    double interval_;
    double tolerance_;
    bool repeats_;
    std::uint64_t intervalNanos_;
    Block block_;
    std::weak_ptr<TimerHost> host_;
    std::atomic<bool> valid_{true};
};

// Puts a repeating timer's firing back into `schedule` for its next due
// time; false when the timer must not fire again. Call under the host's lock.
[[nodiscard]] bool rearmTimer(Schedule& schedule, ScheduledEntry& firing, std::uint64_t firedDue, std::uint64_t now);

// Re-arms a repeating timer's firing in its host's Schedule; answers false
// when the host will not hold it again (timer cancelled, queue shut down).
using RearmTimer = std::function<bool(std::uint64_t firedDue, ScheduledEntry& firing)>;

// Runs an entry taken from a Schedule at `due` with its queue current on the
// calling thread. A timer firing is re-armed through `rearm`, or retired.
void runScheduledEntry(std::uint64_t due, ScheduledEntry entry, const void* dispatcher, const RearmTimer& rearm);

}  // namespace platform
