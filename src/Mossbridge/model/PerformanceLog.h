#pragma once
// An opt-in log of timings and notable events, one line per call on standard
// output: "MossbridgePerf <seconds>s <label>[ <details>]", the seconds
// ("%.3f") counted from the first line this process wrote.
//
// The switch is read afresh at every call: on when the environment holds
// MOSSBRIDGE_PERF_LOGS=1, otherwise the Boolean user default
// MossbridgePerformanceLogs (a value of any other kind leaves it off). While
// off, a call builds no text, reads no time and runs no details function.
// Callers compare durations with their own threshold before calling.
// Safe to call from any thread.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Mossbridge/model/AppStatus.h"
#include "Mossbridge/model/PetKind.h"
#include "platform/core/Clock.h"

namespace Mossbridge {

bool isPerformanceLoggingEnabled();

void logPerformanceMark(std::string_view label);
void logPerformanceEvent(std::string_view label, const std::function<std::string()>& details);
// Details "<ms>ms" ("%.1f"), then a blank and `details` when not empty.
void logPerformanceDuration(std::string_view label, double milliseconds, std::string_view details = {});

// Fixed-shape lines, each with its own label.
void logPerformanceMediaMonitorStart();
void logPerformanceRunningAppsRefresh(double milliseconds, std::size_t apps);
void logPerformanceStatusTaskSkip(std::size_t apps);
void logPerformanceStatusRefreshSkip(std::size_t apps);
void logPerformanceClockFallback();
void logPerformanceScreenCaptureUnavailable();
void logPerformanceLaunchServicesError(std::string_view error);
void logPerformanceLaunchServicesTimeout(const std::vector<std::string>& parts);
void logPerformanceOsascript(double milliseconds, std::size_t outputChars);
void logPerformanceOsascriptFailedToStart(std::string_view errorDescription);
void logPerformanceTickGap(double milliseconds);
void logPerformanceTickSlow(double milliseconds, std::size_t views);
void logPerformancePetDrawSlow(double milliseconds, std::string_view app, PetKind pet, bool sprite);
void logPerformanceMediaNotificationKeys(std::string_view name, std::string_view keys);
void logPerformanceMediaNotification(std::string_view bundle, MediaPlaybackState state,
                                     const std::optional<std::string>& title);

// Lines count time on `clock` from now on (null: the system clock), so a run
// on a virtual clock logs virtual seconds. The clock must outlive its use.
void usePerformanceLogClock(const platform::Clock* clock);

// Test hook: reads time from `clock` (null: the system clock) and forgets the
// reference date, so that the next line written shows 0.000s.
void resetPerformanceLogForTesting(const platform::Clock* clock = nullptr);

}  // namespace Mossbridge
