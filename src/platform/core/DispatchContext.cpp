#include "platform/core/DispatchContext.h"

#include <atomic>

namespace platform {

namespace {
thread_local const ExecutionContext* tlsInnermost = nullptr;
std::atomic<std::uint64_t> nextQueueId{1};
}  // namespace

ExecutionScope::ExecutionScope(ExecutionContext& context) : previous_(tlsInnermost) {
    // A context entered inline (not across a thread hop) nests under the
    // code that was running.
    if (context.caller == nullptr) context.caller = previous_;
    tlsInnermost = &context;
}

ExecutionScope::~ExecutionScope() { tlsInnermost = previous_; }

const ExecutionContext* currentExecutionContext() { return tlsInnermost; }

bool isRunningOnQueue(std::uint64_t queueId) {
    return tlsInnermost != nullptr && tlsInnermost->queueId == queueId;
}

bool isQueueInCallChain(std::uint64_t queueId) {
    for (const ExecutionContext* c = tlsInnermost; c != nullptr; c = c->caller) {
        if (c->queueId == queueId) return true;
    }
    return false;
}

std::shared_ptr<Queue> currentQueueOf(const void* dispatcher) {
    if (tlsInnermost == nullptr || tlsInnermost->dispatcher != dispatcher) return nullptr;
    return tlsInnermost->queue.lock();
}

std::uint64_t makeQueueId() { return nextQueueId.fetch_add(1); }

}  // namespace platform
