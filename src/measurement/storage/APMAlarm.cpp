#include "measurement/storage/APMAlarm.h"

#include <algorithm>
#include <cstdint>
#include <mutex>

#include "measurement/storage/APMMonitor.h"

struct APMAlarm::State {
    std::mutex mutex;
    platform::WorkItemRef pending;
    std::optional<double> scheduledTimestamp;
    std::uint64_t generation = 0;  // bumped by every arm and cancel
};

APMAlarm::APMAlarm(platform::Dispatcher& dispatcher, platform::QueueRef queue, std::string name)
    : dispatcher_(dispatcher), queue_(std::move(queue)), name_(std::move(name)), state_(std::make_shared<State>()) {}

APMAlarm::~APMAlarm() {
    std::lock_guard lock(state_->mutex);
    if (state_->pending) state_->pending->cancel();
}

void APMAlarm::runAfterDelay(double seconds, std::function<void()> block) {
    auto monitor = APMMonitor::shared();
    if (!block) {
        monitor->log(1, 2000, name_ + " tried to schedule an empty block");
        return;
    }
    std::weak_ptr<State> weakState = state_;
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->pending) state_->pending->cancel();
        generation = ++state_->generation;
        state_->scheduledTimestamp = dispatcher_.clock().now() + seconds;
        state_->pending = std::make_shared<platform::WorkItem>([weakState, generation, block = std::move(block)] {
            auto state = weakState.lock();
            if (!state) return;
            {
                std::lock_guard lock(state->mutex);
                // A firing that lost a race with a re-arm or cancel stays silent.
                if (state->generation != generation) return;
                state->scheduledTimestamp.reset();
                state->pending.reset();
            }
            block();
        });
        queue_->after(std::max(seconds, 0.0), state_->pending);
    }
    monitor->log(7, 2002, name_ + " scheduled to fire in approx. (s)", seconds);
}

void APMAlarm::cancel() {
    bool wasPending = false;
    {
        std::lock_guard lock(state_->mutex);
        ++state_->generation;
        if (state_->pending) {
            state_->pending->cancel();
            state_->pending.reset();
            wasPending = true;
        }
        state_->scheduledTimestamp.reset();
    }
    if (wasPending) {
        APMMonitor::shared()->log(7, 2003, name_ + " cancelled");
    } else {
        APMMonitor::shared()->log(7, 2004, name_ + " had nothing to cancel");
    }
}

std::optional<double> APMAlarm::scheduledTimestamp() const {
    std::lock_guard lock(state_->mutex);
    return state_->scheduledTimestamp;
}
