#pragma once
// The class-level calls the application makes on the analytics
// interface: switching collection on, logging an event with the origin
// "app", and ending its work when the process ends. They go through a replaceable slot: the application installs the
// public interface (installPublicAnalyticsInterface); until something is
// installed, and in tests, an in-memory recorder takes them. Usage events
// reach the same slot. Thread-safe.

#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/storage/APMValue.h"

namespace Mossbridge {

struct AnalyticsInterface {
    std::function<void(bool enabled)> setAnalyticsCollectionEnabled;
    // Parameters none and parameters empty are different calls.
    std::function<void(const std::string& name, const std::optional<APMParameters>& parameters)> logEvent;
    // The end of the process: the analytics queues end and the databases close.
    std::function<void()> shutDown;
};

// Keeps what the application asked of the analytics interface, so a run
// without the interface loses nothing silently and tests can read it back.
class AnalyticsRecorder {
public:
    struct Event {
        std::string name;
        std::optional<APMParameters> parameters;
    };

    // The newest events are kept; older ones fall off beyond this many.
    static constexpr std::size_t capacity = 1000;

    AnalyticsInterface interface();
    std::vector<Event> events() const;
    std::optional<bool> collectionEnabled() const;
    int shutDownCount() const;

private:
    mutable std::mutex mutex_;
    std::vector<Event> events_;
    std::optional<bool> collectionEnabled_;
    int shutDownCount_ = 0;
};

// The process's slot. Until setAnalyticsInterface() runs, calls go to
// defaultAnalyticsRecorder().
void setAnalyticsInterface(AnalyticsInterface interface);
AnalyticsInterface analyticsInterface();
AnalyticsRecorder& defaultAnalyticsRecorder();

// Puts the public analytics interface into the slot: RADOdodavazi's class
// object is registered (so configuring the default app starts it by name)
// and both calls go to it.
void installPublicAnalyticsInterface();

// Sends every usage event of the application to the slot's logEvent.
void routeUsageEventsToAnalytics();

}  // namespace Mossbridge
