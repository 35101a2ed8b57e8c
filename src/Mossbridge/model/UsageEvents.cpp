#include "Mossbridge/model/UsageEvents.h"

#include <mutex>

namespace Mossbridge {

namespace {

// The slot of the analytics interface's class-level call; set at start-up.
struct LoggerSlot {
    std::mutex mutex;
    UsageEventLogger logger;
};

LoggerSlot& slot() {
    static LoggerSlot shared;
    return shared;
}

}  // namespace

void setUsageEventLogger(UsageEventLogger logger) {
    std::lock_guard lock(slot().mutex);
    slot().logger = std::move(logger);
}

void logUsageEvent(const std::string& name, const std::optional<APMParameters>& parameters) {
    UsageEventLogger logger;
    {
        std::lock_guard lock(slot().mutex);
        logger = slot().logger;
    }
    if (logger) logger(name, parameters);
}

APMParameters analyticsParameters(const AppAssignment& assignment, const APMParameters& extra) {
    APMParameters parameters{
        {"bundle_identifier", APMValue(assignment.bundleIdentifier)},
        {"app_name", APMValue(assignment.appName)},
        {"pet_kind", APMValue(std::string(rawValue(assignment.petKind)))},
        {"category", APMValue(std::string(rawValue(assignment.category)))},
    };
    for (const auto& [key, value] : extra) parameters.set(key, value);
    return parameters;
}

void logPetEvent(const AppAssignment& assignment, const std::string& source, const std::string& name) {
    logUsageEvent(name, analyticsParameters(assignment, {{"source", APMValue(source)}}));
}

void logPetAdded(const AppAssignment& assignment, const std::string& source) {
    logPetEvent(assignment, source, "pet_added");
}

void logPetRemoved(const AppAssignment& assignment, const std::string& source) {
    logPetEvent(assignment, source, "pet_removed");
}

void logWindowPreviewClick(const AppAssignment& assignment, std::int64_t windowIndex) {
    logUsageEvent("window_preview_click", analyticsParameters(assignment, {{"window_index", APMValue(windowIndex)}}));
}

}  // namespace Mossbridge
