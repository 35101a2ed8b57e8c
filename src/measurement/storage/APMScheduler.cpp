#include "measurement/storage/APMScheduler.h"

#include <exception>

#include "measurement/storage/APMMonitor.h"

namespace {

// Runs the block, turning an escaping exception into one monitor line.
void runGuarded(const std::function<void()>& block, int level, long code, const char* message,
                const std::string& blockID) {
    try {
        block();
    } catch (const std::exception& exception) {
        APMMonitor::shared()->log(level, code, message, blockID, exception.what());
    } catch (...) {
        APMMonitor::shared()->log(level, code, message, blockID, "unknown exception");
    }
}

}  // namespace

APMScheduler::APMScheduler(platform::Dispatcher& dispatcher, const std::string& workerQueueLabel)
    : dispatcher_(dispatcher), workerQueue_(dispatcher.makeSerialQueue(workerQueueLabel)) {}

void APMScheduler::scheduleOnWorkerQueue(const std::string& blockID, std::function<void()> block) {
    if (!block) {
        APMMonitor::shared()->log(1, 30005, "Nil block dispatched asynchronously on worker queue. Block ID=%@.",
                                  blockID);
        return;
    }
    workerQueue_->async([blockID, block = std::move(block)] {
        runGuarded(block, 1, 30002, "Asynchronous task failed. Block ID=%@", blockID);
    });
}

void APMScheduler::dispatchSyncOnWorkerQueue(const std::string& blockID, std::function<void()> block) {
    if (!block) return;
    auto guarded = [&] { runGuarded(block, 4, 30004, "Synchronous task failed. Block ID=%@", blockID); };
    // Waiting on the worker queue from the worker queue would never end.
    if (workerQueue_->isCurrent()) {
        guarded();
        return;
    }
    workerQueue_->sync(guarded);
}

bool APMScheduler::checkOnBackgroundThread(const std::string& methodName, platform::Dispatcher& dispatcher) {
    if (!dispatcher.mainQueue()->isCurrent()) return true;
    APMMonitor::shared()->log(1, 30001, "Method %@ should execute on background thread",
                              methodName.empty() ? std::string("<empty method name>") : methodName);
    return false;
}

bool APMScheduler::checkOnBackgroundThread(const std::string& methodName) const {
    return checkOnBackgroundThread(methodName, dispatcher_);
}
