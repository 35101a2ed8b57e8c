#pragma once
// A scenario: the desktop a run without a display pretends to have, read
// from a JSON file (the format is documented in the README under "Running
// without a display"). Each top-level section has its own reader; unknown
// sections, mistyped values and dangling references are reported with the
// path of the offending value, and nothing is half-loaded.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/desktop/Accessibility.h"
#include "platform/drawing/Color.h"
#include "platform/core/Geometry.h"
#include "platform/desktop/InMemoryWorkspace.h"
#include "platform/desktop/ScenarioEvents.h"
#include "platform/drawing/WindowServer.h"

namespace platform {

struct ScenarioWindow {
    std::optional<std::string> title;             // the accessibility title
    std::optional<std::string> windowServerName;  // the name in the window list
    std::uint32_t number = 0;                     // window-server number, unique
    Rect bounds{0, 0, 800, 600};
    std::int64_t layer = 0;
    double alpha = 1;
    bool onScreen = true;
    bool accessible = true;  // listed by the accessibility interface
    Color color{0.85, 0.87, 0.9, 1};  // what a capture of the window shows
    std::map<std::string, AccessibilityError> accessibilityFailures;
};

struct ScenarioApplication {
    InstalledApplication installed;  // icon already loaded
    std::vector<ScenarioWindow> windows;
    std::map<std::string, AccessibilityError> accessibilityFailures;
};

struct Scenario {
    std::vector<Screen> screens;
    std::vector<ScenarioApplication> applications;
    std::optional<std::int32_t> frontmostProcessIdentifier;
    bool accessibilityTrusted = false;
    bool screenCaptureAllowed = false;
    ScenarioEvents events;  // player notifications and calendar events over time
    std::map<std::string, std::string> badges;  // badge label by bundle identifier
};

struct ScenarioLoad {
    std::optional<Scenario> scenario;
    std::string error;  // "<path>: <what is wrong>" when there is no scenario
};

// Relative file names inside the scenario (icons) are resolved against
// `baseDirectory`.
ScenarioLoad parseScenario(const std::string& jsonText, const std::filesystem::path& baseDirectory);
ScenarioLoad loadScenarioFile(const std::filesystem::path& path);

}  // namespace platform
