#pragma once
// SIGINT and SIGTERM as a request to quit, so that a signal ends the run
// through the same way out as the quit item. The executable blocks both
// before any of its code runs (blockTerminationSignals), so every thread
// inherits the mask and a signal that comes before anyone waits for it stays
// pending, never taking the default action of ending the process. While an
// instance of TerminationSignals lives, a watcher thread of its own takes
// them, the pending ones first; after it, they stay blocked and pending, and
// the process ends with its own status.

#include <atomic>
#include <csignal>
#include <functional>
#include <thread>

namespace Mossbridge {

// Blocks SIGINT and SIGTERM in the calling thread and the threads it starts.
void blockTerminationSignals();

class TerminationSignals {
public:
    // `onSignal` runs on the watcher thread at each signal: it may only do
    // what is safe from any thread.
    explicit TerminationSignals(std::function<void()> onSignal);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // True once a signal has arrived.
    bool received() const { return received_; }

private:
    std::function<void()> onSignal_;
    sigset_t signals_;
    sigset_t previousMask_;
    std::atomic<bool> received_{false};
    std::atomic<bool> stopping_{false};
    std::thread watcher_;
};

}  // namespace Mossbridge
