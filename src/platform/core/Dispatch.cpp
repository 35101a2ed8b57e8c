// The parts of dispatch that work over any Queue and Dispatcher: cancellable
// work items, groups and the suspendable operation queue.
#include "platform/core/Dispatch.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

namespace platform {

// ---- WorkItem ---------------------------------------------------------------

struct WorkItem::State {
    std::atomic<bool> cancelled{false};
    std::atomic<bool> started{false};
    Block block;
};

WorkItem::WorkItem(Block block) : state_(std::make_shared<State>()) { state_->block = std::move(block); }

void WorkItem::cancel() { state_->cancelled.store(true); }

bool WorkItem::isCancelled() const { return state_->cancelled.load(); }

void WorkItem::perform() {
    if (state_->cancelled.load() || state_->started.exchange(true)) return;
    // Only the first performer gets here, so the block is moved out safely;
    // releasing it after the run drops what it captured.
    Block block = std::move(state_->block);
    if (block) block();
}

void Queue::async(const WorkItemRef& item) {
    if (!item) return;
    async([item] { item->perform(); });
}

void Queue::after(double seconds, const WorkItemRef& item) {
    if (!item) return;
    after(seconds, [item] { item->perform(); });
}

// ---- Group ------------------------------------------------------------------

struct Group::State {
    Dispatcher& dispatcher;
    std::mutex mutex;
    long count = 0;
    std::vector<std::pair<QueueRef, Block>> notifications;
    std::vector<SemaphoreRef> waiters;

    explicit State(Dispatcher& d) : dispatcher(d) {}

    void leave() {
        std::vector<std::pair<QueueRef, Block>> ready;
        std::vector<SemaphoreRef> released;
        {
            std::lock_guard lock(mutex);
            // An unbalanced leave is ignored rather than corrupting the count.
            if (count == 0) return;
            if (--count > 0) return;
            ready.swap(notifications);
            released.swap(waiters);
        }
        for (auto& [queue, block] : ready) queue->async(std::move(block));
        for (auto& waiter : released) waiter->signal();
    }
};

Group::Group(Dispatcher& dispatcher) : state_(std::make_shared<State>(dispatcher)) {}

void Group::enter() {
    std::lock_guard lock(state_->mutex);
    ++state_->count;
}

void Group::leave() { state_->leave(); }

void Group::async(const QueueRef& queue, Block block) {
    enter();
    queue->async([state = state_, block = std::move(block)] {
        struct Leave {
            State& state;
            ~Leave() { state.leave(); }
        } leaveWhenDone{*state};
        block();
    });
}

void Group::notify(const QueueRef& queue, Block block) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->count > 0) {
            state_->notifications.emplace_back(queue, std::move(block));
            return;
        }
    }
    queue->async(std::move(block));
}

bool Group::wait(double seconds) {
    SemaphoreRef waiter;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->count == 0) return true;
        waiter = state_->dispatcher.makeSemaphore(0);
        state_->waiters.push_back(waiter);
    }
    if (waiter->wait(seconds)) return true;
    std::lock_guard lock(state_->mutex);
    std::erase(state_->waiters, waiter);
    return state_->count == 0;
}

// ---- OperationQueue ---------------------------------------------------------

// Operations wait in `pending`; while not suspended, one "pump" block at a
// time is on the underlying queue and runs the next operation, so operations
// run one at a time and in order, and a suspension takes effect before the
// next one starts.
struct OperationQueue::State {
    std::mutex mutex;
    bool suspended = false;
    bool pumping = false;
    bool running = false;  // an operation taken from `pending` has not returned yet
    std::deque<Block> pending;

    // Under the lock: whether a pump must be put on the queue now.
    bool claimPump() {
        if (suspended || pumping || pending.empty()) return false;
        pumping = true;
        return true;
    }

    static void schedulePump(const std::shared_ptr<State>& state, const QueueRef& queue) {
        std::weak_ptr<Queue> weakQueue = queue;
        queue->async([state, weakQueue] {
            Block operation;
            {
                std::lock_guard lock(state->mutex);
                state->pumping = false;
                if (state->suspended || state->pending.empty()) return;
                operation = std::move(state->pending.front());
                state->pending.pop_front();
                state->running = true;
            }
            if (operation) operation();
            auto queue = weakQueue.lock();
            bool again;
            {
                std::lock_guard lock(state->mutex);
                state->running = false;
                again = queue && state->claimPump();
            }
            if (again) schedulePump(state, queue);
        });
    }
};

OperationQueue::OperationQueue(QueueRef underlying, bool startSuspended)
    : queue_(std::move(underlying)), state_(std::make_shared<State>()) {
    state_->suspended = startSuspended;
}

void OperationQueue::addOperation(Block block) {
    bool pump;
    {
        std::lock_guard lock(state_->mutex);
        state_->pending.push_back(std::move(block));
        pump = state_->claimPump();
    }
    if (pump) State::schedulePump(state_, queue_);
}

void OperationQueue::addHandOffOperation(Block block) {
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->suspended && !state_->pumping && !state_->running && state_->pending.empty()) {
            if (block) block();
            return;
        }
    }
    addOperation(std::move(block));
}

void OperationQueue::setSuspended(bool suspended) {
    bool pump;
    {
        std::lock_guard lock(state_->mutex);
        state_->suspended = suspended;
        pump = state_->claimPump();
    }
    if (pump) State::schedulePump(state_, queue_);
}

bool OperationQueue::isSuspended() const {
    std::lock_guard lock(state_->mutex);
    return state_->suspended;
}

}  // namespace platform
