#pragma once
// Which queue the calling code runs on, for the dispatch implementations.
//
// Each thread keeps a chain of execution contexts: the innermost is the
// queue whose block runs now; outer links are queues that wait for it,
// either because they called sync() inline on the same thread or because a
// sync() hopped to another thread and its caller is blocked. Queues answer
// isCurrent() from the innermost link, and sync() runs inline when the target
// already appears anywhere in the chain (that wait could never end).

#include <cstdint>
#include <memory>

namespace platform {

class Queue;

struct ExecutionContext {
    std::uint64_t queueId = 0;
    std::weak_ptr<Queue> queue;
    const void* dispatcher = nullptr;  // the dispatcher that owns the queue
    const ExecutionContext* caller = nullptr;
};

// Makes `context` the calling thread's innermost context for its lifetime.
class ExecutionScope {
public:
    explicit ExecutionScope(ExecutionContext& context);
    ~ExecutionScope();
    ExecutionScope(const ExecutionScope&) = delete;
    ExecutionScope& operator=(const ExecutionScope&) = delete;

private:
    const ExecutionContext* previous_;
};

// The calling thread's innermost context, or null when it runs on no queue.
const ExecutionContext* currentExecutionContext();
// True when the innermost context is the queue `queueId`.
bool isRunningOnQueue(std::uint64_t queueId);
// True when `queueId` appears anywhere in the calling thread's chain.
bool isQueueInCallChain(std::uint64_t queueId);
// The queue the caller runs on when `dispatcher` owns it, else null.
std::shared_ptr<Queue> currentQueueOf(const void* dispatcher);
// A process-wide unique identity for a new queue.
std::uint64_t makeQueueId();

}  // namespace platform
