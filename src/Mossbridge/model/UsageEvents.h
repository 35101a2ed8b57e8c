#pragma once
// Usage events of the application, recorded through the analytics
// interface. Pet events carry the four assignment parameters
// "bundle_identifier", "app_name", "pet_kind" and "category", in that order,
// then their extras. Main thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "Mossbridge/model/AppAssignment.h"
#include "measurement/storage/APMValue.h"

namespace Mossbridge {

// The one way an event leaves the application: the analytics interface's
// log-event call. Parameters none and parameters empty are different calls.
using UsageEventLogger = std::function<void(const std::string& name, const std::optional<APMParameters>& parameters)>;

// Installs the logger every event goes through (the analytics interface at
// start-up, a recorder in tests); an empty function drops events.
void setUsageEventLogger(UsageEventLogger logger);
void logUsageEvent(const std::string& name, const std::optional<APMParameters>& parameters);

// The assignment parameters with every extra set over them (an extra named
// like one of the four replaces its value in place).
APMParameters analyticsParameters(const AppAssignment& assignment, const APMParameters& extra);

// `name` with the assignment parameters and "source".
void logPetEvent(const AppAssignment& assignment, const std::string& source, const std::string& name);
void logPetAdded(const AppAssignment& assignment, const std::string& source);    // "pet_added"
void logPetRemoved(const AppAssignment& assignment, const std::string& source);  // "pet_removed"
// "window_preview_click" with "window_index".
void logWindowPreviewClick(const AppAssignment& assignment, std::int64_t windowIndex);

}  // namespace Mossbridge
