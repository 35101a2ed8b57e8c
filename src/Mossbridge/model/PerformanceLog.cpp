#include "Mossbridge/model/PerformanceLog.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "platform/core/Environment.h"
#include "platform/core/UserDefaults.h"

namespace Mossbridge {

namespace {

// The clock and the reference date, created at the first line written.
struct Timeline {
    std::mutex mutex;
    const platform::Clock* clock = nullptr;
    std::optional<double> referenceDate;

    double secondsSinceReference() {
        std::lock_guard lock(mutex);
        const platform::Clock& source = clock ? *clock : platform::systemClock();
        if (!referenceDate) referenceDate = source.now();
        return source.now() - *referenceDate;
    }
};

Timeline& timeline() {
    static Timeline shared;
    return shared;
}

std::string formatted(const char* format, double value) {
    char buffer[64];
    const int length = std::snprintf(buffer, sizeof buffer, format, value);
    return length < 0 ? std::string() : std::string(buffer, std::min<std::size_t>(length, sizeof buffer - 1));
}

std::string milliseconds(double value) { return formatted("%.1fms", value); }

void writeLine(std::string_view label, std::string_view details) {
    std::string line = "MossbridgePerf " + formatted("%.3fs", timeline().secondsSinceReference());
    line += ' ';
    line += label;
    if (!details.empty()) {
        line += ' ';
        line += details;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);  // one call, so lines from threads never interleave
}

}  // namespace

bool isPerformanceLoggingEnabled() {
    if (platform::environmentValue("MOSSBRIDGE_PERF_LOGS") == "1") return true;
    const auto defaults = platform::UserDefaults::standard();
    if (!defaults) return false;
    const auto stored = defaults->object("MossbridgePerformanceLogs");
    return stored && stored->isBoolean() && *stored->asBoolean();
}

void logPerformanceMark(std::string_view label) {
    if (isPerformanceLoggingEnabled()) writeLine(label, {});
}

void logPerformanceEvent(std::string_view label, const std::function<std::string()>& details) {
    if (isPerformanceLoggingEnabled()) writeLine(label, details ? details() : std::string());
}

void logPerformanceDuration(std::string_view label, double ms, std::string_view details) {
    logPerformanceEvent(label, [&] {
        std::string text = milliseconds(ms);
        if (!details.empty()) text += " " + std::string(details);
        return text;
    });
}

void logPerformanceMediaMonitorStart() {
    logPerformanceEvent("media.monitor.start", [] { return "sources=spotify,music"; });
}

void logPerformanceRunningAppsRefresh(double ms, std::size_t apps) {
    logPerformanceEvent("runningApps.refresh", [&] { return milliseconds(ms) + " apps=" + std::to_string(apps); });
}

void logPerformanceStatusTaskSkip(std::size_t apps) {
    logPerformanceEvent("status.refresh.task.skip",
                        [&] { return "reason=task-in-flight apps=" + std::to_string(apps); });
}

void logPerformanceStatusRefreshSkip(std::size_t apps) {
    logPerformanceEvent("status.refresh.skip", [&] { return "reason=already-running apps=" + std::to_string(apps); });
}

void logPerformanceClockFallback() {
    logPerformanceEvent("animation.clock.fallback", [] { return "reason=display-link-unavailable"; });
}

void logPerformanceScreenCaptureUnavailable() {
    logPerformanceEvent("window.preview.screenCaptureUnavailable", [] { return "using-app-icon-fallback"; });
}

void logPerformanceLaunchServicesError(std::string_view error) {
    logPerformanceEvent("status.badges.launchServices.error", [&] { return std::string(error); });
}

void logPerformanceLaunchServicesTimeout(const std::vector<std::string>& parts) {
    logPerformanceEvent("status.badges.launchServices.timeout", [&] {
        std::string joined;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            if (i > 0) joined += ' ';
            joined += parts[i];
        }
        return joined;
    });
}

void logPerformanceOsascript(double ms, std::size_t outputChars) {
    logPerformanceEvent("subprocess.osascript",
                        [&] { return milliseconds(ms) + " outputChars=" + std::to_string(outputChars); });
}

void logPerformanceOsascriptFailedToStart(std::string_view errorDescription) {
    logPerformanceEvent("subprocess.osascript.failedToStart", [&] { return std::string(errorDescription); });
}

void logPerformanceTickGap(double ms) {
    logPerformanceEvent("animation.tick.gap", [&] { return milliseconds(ms); });
}

void logPerformanceTickSlow(double ms, std::size_t views) {
    logPerformanceEvent("animation.tick.slow", [&] { return milliseconds(ms) + " views=" + std::to_string(views); });
}

void logPerformancePetDrawSlow(double ms, std::string_view app, PetKind pet, bool sprite) {
    logPerformanceEvent("pet.draw.slow", [&] {
        return milliseconds(ms) + " app=" + std::string(app) + " pet=" + std::string(rawValue(pet)) +
               " sprite=" + (sprite ? "true" : "false");
    });
}

void logPerformanceMediaNotificationKeys(std::string_view name, std::string_view keys) {
    logPerformanceEvent("media.notification.keys",
                        [&] { return "name=" + std::string(name) + " keys=" + std::string(keys); });
}

void logPerformanceMediaNotification(std::string_view bundle, MediaPlaybackState state,
                                     const std::optional<std::string>& title) {
    logPerformanceEvent("media.notification", [&] {
        return "bundle=" + std::string(bundle) + " state=" + std::string(rawValue(state)) +
               " title=" + title.value_or("nil");
    });
}

void usePerformanceLogClock(const platform::Clock* clock) {
    auto& shared = timeline();
    std::lock_guard lock(shared.mutex);
    shared.clock = clock;
}

void resetPerformanceLogForTesting(const platform::Clock* clock) {
    auto& shared = timeline();
    std::lock_guard lock(shared.mutex);
    shared.clock = clock;
    shared.referenceDate.reset();
}

}  // namespace Mossbridge
