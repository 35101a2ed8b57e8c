#include "Mossbridge/app/AnalyticsInterface.h"

#include "Mossbridge/model/UsageEvents.h"
#include "VeredodaAnalytics/RADOdodavazi.h"

namespace Mossbridge {

namespace {

struct Slot {
    std::mutex mutex;
    std::optional<AnalyticsInterface> installed;
};

Slot& slot() {
    static Slot shared;
    return shared;
}

}  // namespace

AnalyticsInterface AnalyticsRecorder::interface() {
    AnalyticsInterface calls;
    calls.setAnalyticsCollectionEnabled = [this](bool enabled) {
        std::lock_guard lock(mutex_);
        collectionEnabled_ = enabled;
    };
    calls.logEvent = [this](const std::string& name, const std::optional<APMParameters>& parameters) {
        std::lock_guard lock(mutex_);
        if (events_.size() == capacity) events_.erase(events_.begin());
        events_.push_back({name, parameters});
    };
    calls.shutDown = [this] {
        std::lock_guard lock(mutex_);
        ++shutDownCount_;
    };
    return calls;
}

std::vector<AnalyticsRecorder::Event> AnalyticsRecorder::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::optional<bool> AnalyticsRecorder::collectionEnabled() const {
    std::lock_guard lock(mutex_);
    return collectionEnabled_;
}

int AnalyticsRecorder::shutDownCount() const {
    std::lock_guard lock(mutex_);
    return shutDownCount_;
}

AnalyticsRecorder& defaultAnalyticsRecorder() {
    static AnalyticsRecorder recorder;
    return recorder;
}

void setAnalyticsInterface(AnalyticsInterface interface) {
    std::lock_guard lock(slot().mutex);
    slot().installed = std::move(interface);
}

AnalyticsInterface analyticsInterface() {
    {
        std::lock_guard lock(slot().mutex);
        if (slot().installed) return *slot().installed;
    }
    return defaultAnalyticsRecorder().interface();
}

void installPublicAnalyticsInterface() {
    RADOdodavazi::registerClass();
    AnalyticsInterface calls;
    calls.setAnalyticsCollectionEnabled = [](bool enabled) { RADOdodavazi::setAnalyticsCollectionEnabled(enabled); };
    calls.logEvent = [](const std::string& name, const std::optional<APMParameters>& parameters) {
        std::optional<APMObjectParameters> objects;
        if (parameters) objects = APMObjectParametersFrom(*parameters);
        RADOdodavazi::logEventWithName(name, std::move(objects));
    };
    calls.shutDown = [] { RADOdodavazi::shutDown(); };
    setAnalyticsInterface(std::move(calls));
}

void routeUsageEventsToAnalytics() {
    setUsageEventLogger([](const std::string& name, const std::optional<APMParameters>& parameters) {
        const AnalyticsInterface calls = analyticsInterface();
        if (calls.logEvent) calls.logEvent(name, parameters);
    });
}

}  // namespace Mossbridge
