#pragma once
// APMScheduler owns the measurement worker queue: one serial queue on which
// the engine and its storage do almost all their work. Blocks are named by a
// block ID ("APMMeasurement:60") that appears only in diagnostics.

#include <functional>
#include <string>

#include "platform/core/Dispatch.h"

// The label of the engine's worker queue.
inline constexpr const char* kAPMWorkerQueueLabel = "com.vadova.divu.worker";

class APMScheduler {
public:
    APMScheduler(platform::Dispatcher& dispatcher, const std::string& workerQueueLabel);

    const platform::QueueRef& workerQueue() const { return workerQueue_; }

    // Runs the block later on the worker queue. An exception escaping it is
    // caught and logged (30002, level 1) with the block ID; a missing block
    // logs 30005 (level 1) and nothing is queued.
    void scheduleOnWorkerQueue(const std::string& blockID, std::function<void()> block);
    // Runs the block on the worker queue and waits for it; called on the
    // worker queue itself, it runs the block inline instead of waiting for
    // itself. An exception escaping the block is logged (30004, level 4).
    void dispatchSyncOnWorkerQueue(const std::string& blockID, std::function<void()> block);

    // False on the main thread (the dispatcher's main queue), after logging
    // 30001 (level 1) with the method name ("<empty method name>" when empty);
    // true elsewhere. Never stops the caller.
    static bool checkOnBackgroundThread(const std::string& methodName, platform::Dispatcher& dispatcher);
    bool checkOnBackgroundThread(const std::string& methodName) const;

private:
    platform::Dispatcher& dispatcher_;
    platform::QueueRef workerQueue_;
};
