// The "badges" section: the label the launch services tool reports for an
// application, by bundle identifier ({"com.example.chat": "3"}).
#include <nlohmann/json.hpp>

#include "platform/desktop/ScenarioSections.h"

namespace platform::scenario {

void readBadges(const Json& section, const std::string& path, Scenario& scenario) {
    requireObject(section, path);
    for (const auto& [bundleIdentifier, label] : section.items()) {
        scenario.badges[bundleIdentifier] = readString(label, childPath(path, bundleIdentifier));
    }
}

void checkBadges(const Scenario& scenario) {
    for (const auto& [bundleIdentifier, label] : scenario.badges) {
        bool known = false;
        for (const auto& app : scenario.applications) {
            known = known || app.installed.application.bundleIdentifier == bundleIdentifier;
        }
        if (!known) fail(childPath("badges", bundleIdentifier), "no application has this bundle identifier");
    }
}

}  // namespace platform::scenario
