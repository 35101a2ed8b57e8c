#pragma once
// Records every usage event the application logs, for the life of the
// recorder, with its exact parameters (none and empty kept apart).

#include <optional>
#include <string>
#include <vector>

#include "Mossbridge/model/UsageEvents.h"

namespace Mossbridge {

struct RecordedUsageEvent {
    std::string name;
    std::optional<APMParameters> parameters;
};

class UsageEventRecorder {
public:
    UsageEventRecorder() {
        setUsageEventLogger([this](const std::string& name, const std::optional<APMParameters>& parameters) {
            events.push_back({name, parameters});
        });
    }
    ~UsageEventRecorder() { setUsageEventLogger(nullptr); }
    UsageEventRecorder(const UsageEventRecorder&) = delete;
    UsageEventRecorder& operator=(const UsageEventRecorder&) = delete;

    // The parameters as "key=value" texts, in order.
    static std::vector<std::string> entries(const APMParameters& parameters) {
        std::vector<std::string> texts;
        for (const auto& [key, value] : parameters) texts.push_back(key + "=" + value.description());
        return texts;
    }

    std::vector<RecordedUsageEvent> events;
};

}  // namespace Mossbridge
