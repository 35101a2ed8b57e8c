// The "screens" section: the first screen is the main one.

#include <nlohmann/json.hpp>

#include "platform/desktop/ScenarioSections.h"

namespace platform::scenario {

void readScreens(const Json& section, const std::string& path, Scenario& scenario, const ReadContext&) {
    if (!section.is_array()) fail(path, "expected an array");
    for (std::size_t i = 0; i < section.size(); ++i) {
        const std::string at = childPath(path, i);
        const Json& entry = section[i];
        requireObject(entry, at);
        rejectUnknownMembers(entry, at, {"frame", "visibleFrame", "backingScaleFactor"});
        if (!entry.contains("frame")) fail(childPath(at, "frame"), "required");
        Screen screen;
        screen.frame = readRect(entry.at("frame"), childPath(at, "frame"));
        screen.visibleFrame =
            entry.contains("visibleFrame") ? readRect(entry.at("visibleFrame"), childPath(at, "visibleFrame")) : screen.frame;
        if (entry.contains("backingScaleFactor")) {
            screen.backingScaleFactor = readNumber(entry.at("backingScaleFactor"), childPath(at, "backingScaleFactor"));
            if (!(screen.backingScaleFactor > 0)) fail(childPath(at, "backingScaleFactor"), "must be positive");
        }
        scenario.screens.push_back(screen);
    }
}

}  // namespace platform::scenario
