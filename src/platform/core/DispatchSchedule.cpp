#include "platform/core/DispatchSchedule.h"

#include <algorithm>
#include <cmath>

namespace platform {

namespace {
// About 31 years: far enough to mean "never", small enough not to overflow.
constexpr double kMaximumDelaySeconds = 1e9;
// A repeating timer with a shorter (or zero) interval would fire without end
// within one instant; it is held to this minimum instead.
constexpr double kMinimumRepeatInterval = 1e-4;
}  // namespace

void discardEntries(std::vector<ScheduledEntry> entries) {
    for (auto& entry : entries) {
        if (entry.timer) entry.timer->retire();
    }
}

std::uint64_t delayToNanos(double seconds) {
    if (!(seconds > 0)) return 0;
    return static_cast<std::uint64_t>(std::llround(std::min(seconds, kMaximumDelaySeconds) * 1e9));
}

Schedule::Key Schedule::add(std::uint64_t due, ScheduledEntry entry) {
    Key key{due, nextSequence_++};
    if (entry.timer) entry.timer->key = key;
    entries_.emplace(key, std::move(entry));
    return key;
}

// Moves an entry out of the schedule; a timer no longer has a firing here.
ScheduledEntry Schedule::detach(ScheduledEntry&& entry) {
    if (entry.timer) entry.timer->key.reset();
    return std::move(entry);
}

std::optional<ScheduledEntry> Schedule::removeFiring(ScheduledTimer& timer) {
    if (!timer.key) return std::nullopt;
    auto it = entries_.find(*timer.key);
    if (it == entries_.end()) return std::nullopt;
    ScheduledEntry entry = detach(std::move(it->second));
    entries_.erase(it);
    return entry;
}

std::optional<std::pair<Schedule::Key, ScheduledEntry>> Schedule::takeFirst(
    std::uint64_t limit, const std::function<bool(std::uint64_t)>& runnable) {
    for (auto it = entries_.begin(); it != entries_.end() && it->first.first <= limit; ++it) {
        if (runnable && !runnable(it->second.queueId)) continue;
        std::pair<Key, ScheduledEntry> taken{it->first, detach(std::move(it->second))};
        entries_.erase(it);
        return taken;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> Schedule::earliestDue(const std::function<bool(std::uint64_t)>& runnable) const {
    for (const auto& [key, entry] : entries_) {
        if (!runnable || runnable(entry.queueId)) return key.first;
    }
    return std::nullopt;
}

std::vector<ScheduledEntry> Schedule::removeIf(const std::function<bool(const Key&, const ScheduledEntry&)>& drop) {
    std::vector<ScheduledEntry> removed;
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (drop(it->first, it->second)) {
            removed.push_back(detach(std::move(it->second)));
            it = entries_.erase(it);
        } else {
            ++it;
        }
    }
    return removed;
}

ScheduledTimer::ScheduledTimer(double interval, double tolerance, bool repeats, Block block,
                               std::weak_ptr<TimerHost> host)
    : interval_(repeats ? std::max(interval, kMinimumRepeatInterval) : interval),
      tolerance_(tolerance),
      repeats_(repeats),
      intervalNanos_(delayToNanos(interval_)),
      block_(std::move(block)),
      host_(std::move(host)) {}

void ScheduledTimer::cancel() {
    if (!valid_.exchange(false)) return;
    auto host = host_.lock();
    if (!host) return;
    // With its pending firing removed no firing can start; otherwise the
    // firing under way retires the timer when it finds it cancelled.
    if (auto removed = host->unschedule(*this)) retire();
}

void ScheduledTimer::retire() {
    valid_.store(false);
    Block released = std::move(block_);
    block_ = nullptr;
}

bool ScheduledTimer::beginFiring() {
    if (repeats_) return valid_.load();
    return valid_.exchange(false);
}

std::optional<std::uint64_t> ScheduledTimer::nextFiring(std::uint64_t due, std::uint64_t now) const {
    if (!repeats_ || !valid_.load()) return std::nullopt;
    std::uint64_t next = due + intervalNanos_;
    if (next <= now) next += ((now - next) / intervalNanos_ + 1) * intervalNanos_;
    return next;
}

bool rearmTimer(Schedule& schedule, ScheduledEntry& firing, std::uint64_t firedDue, std::uint64_t now) {
    auto next = firing.timer->nextFiring(firedDue, now);
    if (!next) return false;
    schedule.add(*next, std::move(firing));
    return true;
}

void runScheduledEntry(std::uint64_t due, ScheduledEntry entry, const void* dispatcher, const RearmTimer& rearm) {
    ExecutionContext context{entry.queueId, entry.queue, dispatcher, entry.caller};
    if (!entry.timer) {
        ExecutionScope scope(context);
        if (entry.block) entry.block();
        return;  // the block is released here, after it ran
    }
    const std::shared_ptr<ScheduledTimer> timer = entry.timer;
    if (!timer->beginFiring()) {
        timer->retire();
        return;
    }
    {
        ExecutionScope scope(context);
        timer->fire();
    }
    if (!rearm(due, entry)) timer->retire();
}

}  // namespace platform
