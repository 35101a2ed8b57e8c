#pragma once
// SIGINT and SIGTERM as a request to quit, so that a signal ends the run
// through the same way out as the quit item. While an instance lives, both
// signals are blocked in the thread that made it (and in the threads it
// starts later, which inherit the mask), and a watcher thread of its own
// waits for them. Make it before the process starts other threads; a thread
// started earlier keeps the default action of ending the process.

#include <atomic>
#include <csignal>
#include <functional>
#include <thread>

namespace Mossbridge {

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
