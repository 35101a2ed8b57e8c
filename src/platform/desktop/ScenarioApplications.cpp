// The "applications" section: every application of the session, running or
// merely installed, with its windows front to back.

#include <set>

#include <nlohmann/json.hpp>

#include "platform/desktop/ScenarioSections.h"

namespace platform::scenario {

namespace {

constexpr std::int32_t kFirstProcessIdentifier = 1000;
constexpr std::uint32_t kFirstWindowNumber = 100;

// A string, or none for null.
std::optional<std::string> readOptionalString(const Json& value, const std::string& path) {
    if (value.is_null()) return std::nullopt;
    return readString(value, path);
}

std::map<std::string, AccessibilityError> readFailures(const Json& value, const std::string& path) {
    requireObject(value, path);
    std::map<std::string, AccessibilityError> failures;
    for (const auto& [name, errorName] : value.items()) {
        const auto error = accessibilityErrorFromName(readString(errorName, childPath(path, name)));
        if (!error) fail(childPath(path, name), "unknown accessibility error");
        failures[name] = *error;
    }
    return failures;
}

ActivationPolicy readPolicy(const Json& value, const std::string& path) {
    const std::string text = readString(value, path);
    if (text == "regular") return ActivationPolicy::regular;
    if (text == "accessory") return ActivationPolicy::accessory;
    if (text == "prohibited") return ActivationPolicy::prohibited;
    fail(path, "expected \"regular\", \"accessory\" or \"prohibited\"");
}

ImageRef readIcon(const Json& value, const std::string& path, const ReadContext& context) {
    std::filesystem::path file = readString(value, path);
    if (file.is_relative()) file = context.baseDirectory / file;
    BitmapRef bitmap = Bitmap::loadPng(file);
    if (!bitmap) fail(path, "not a readable PNG file: " + file.string());
    return std::make_shared<const Image>(bitmap);
}

ScenarioWindow readWindow(const Json& entry, const std::string& at) {
    requireObject(entry, at);
    rejectUnknownMembers(entry, at, {"title", "windowServerName", "number", "bounds", "layer", "alpha", "onScreen",
                                     "accessible", "color", "accessibilityFailures"});
    ScenarioWindow window;
    if (entry.contains("title")) window.title = readOptionalString(entry.at("title"), childPath(at, "title"));
    window.windowServerName = window.title;
    if (entry.contains("windowServerName")) {
        window.windowServerName = readOptionalString(entry.at("windowServerName"), childPath(at, "windowServerName"));
    }
    if (entry.contains("number")) {
        window.number = static_cast<std::uint32_t>(readInteger(entry.at("number"), childPath(at, "number"), 1, UINT32_MAX));
    }
    if (entry.contains("bounds")) window.bounds = readRect(entry.at("bounds"), childPath(at, "bounds"));
    if (entry.contains("layer")) window.layer = readInteger(entry.at("layer"), childPath(at, "layer"), INT32_MIN, INT32_MAX);
    if (entry.contains("alpha")) window.alpha = readNumber(entry.at("alpha"), childPath(at, "alpha"));
    if (entry.contains("onScreen")) window.onScreen = readBool(entry.at("onScreen"), childPath(at, "onScreen"));
    if (entry.contains("accessible")) window.accessible = readBool(entry.at("accessible"), childPath(at, "accessible"));
    if (entry.contains("color")) window.color = readColor(entry.at("color"), childPath(at, "color"));
    if (entry.contains("accessibilityFailures")) {
        window.accessibilityFailures = readFailures(entry.at("accessibilityFailures"), childPath(at, "accessibilityFailures"));
    }
    return window;
}

ScenarioApplication readApplication(const Json& entry, const std::string& at, std::int32_t defaultPid,
                                    const ReadContext& context) {
    requireObject(entry, at);
    rejectUnknownMembers(entry, at, {"bundleIdentifier", "name", "pid", "activationPolicy", "bundleURL", "running",
                                     "icon", "info", "terminates", "openFailure", "windows", "accessibilityFailures"});
    ScenarioApplication app;
    RunningApplication& running = app.installed.application;
    running.processIdentifier = defaultPid;
    if (entry.contains("bundleIdentifier")) {
        running.bundleIdentifier = readOptionalString(entry.at("bundleIdentifier"), childPath(at, "bundleIdentifier"));
    }
    if (entry.contains("name")) running.localizedName = readOptionalString(entry.at("name"), childPath(at, "name"));
    if (entry.contains("pid")) {
        running.processIdentifier = static_cast<std::int32_t>(readInteger(entry.at("pid"), childPath(at, "pid"), 1, INT32_MAX));
    }
    if (entry.contains("activationPolicy")) {
        running.activationPolicy = readPolicy(entry.at("activationPolicy"), childPath(at, "activationPolicy"));
    }
    if (entry.contains("bundleURL")) running.bundleURL = readOptionalString(entry.at("bundleURL"), childPath(at, "bundleURL"));
    if (entry.contains("icon")) running.icon = readIcon(entry.at("icon"), childPath(at, "icon"), context);
    if (entry.contains("running")) app.installed.running = readBool(entry.at("running"), childPath(at, "running"));
    if (entry.contains("terminates")) app.installed.terminateAccepted = readBool(entry.at("terminates"), childPath(at, "terminates"));
    if (entry.contains("openFailure")) app.installed.openFailure = readString(entry.at("openFailure"), childPath(at, "openFailure"));
    if (entry.contains("info")) {
        const std::string infoPath = childPath(at, "info");
        requireObject(entry.at("info"), infoPath);
        for (const auto& [key, value] : entry.at("info").items()) {
            app.installed.infoDictionary[key] = PropertyValue(readString(value, childPath(infoPath, key)));
        }
    }
    if (entry.contains("accessibilityFailures")) {
        app.accessibilityFailures = readFailures(entry.at("accessibilityFailures"), childPath(at, "accessibilityFailures"));
    }
    if (entry.contains("windows")) {
        const Json& windows = entry.at("windows");
        const std::string windowsPath = childPath(at, "windows");
        if (!windows.is_array()) fail(windowsPath, "expected an array");
        for (std::size_t i = 0; i < windows.size(); ++i) app.windows.push_back(readWindow(windows[i], childPath(windowsPath, i)));
    }
    return app;
}

// Gives unnumbered windows the next free numbers and rejects duplicates.
void numberWindows(std::vector<ScenarioApplication>& applications, const std::string& path) {
    std::set<std::uint32_t> taken;
    for (std::size_t a = 0; a < applications.size(); ++a) {
        for (std::size_t w = 0; w < applications[a].windows.size(); ++w) {
            const std::uint32_t number = applications[a].windows[w].number;
            if (number != 0 && !taken.insert(number).second) {
                fail(childPath(childPath(childPath(path, a), "windows"), w) + ".number", "used twice");
            }
        }
    }
    std::uint32_t next = kFirstWindowNumber;
    for (auto& app : applications) {
        for (auto& window : app.windows) {
            if (window.number != 0) continue;
            while (taken.count(next)) ++next;
            window.number = next;
            taken.insert(next);
        }
    }
}

}  // namespace

void readApplications(const Json& section, const std::string& path, Scenario& scenario, const ReadContext& context) {
    if (!section.is_array()) fail(path, "expected an array");
    std::set<std::int32_t> pids;
    std::vector<ScenarioApplication> applications;
    for (std::size_t i = 0; i < section.size(); ++i) {
        const std::string at = childPath(path, i);
        ScenarioApplication app =
            readApplication(section[i], at, kFirstProcessIdentifier + static_cast<std::int32_t>(i), context);
        if (!pids.insert(app.installed.application.processIdentifier).second) fail(childPath(at, "pid"), "used twice");
        applications.push_back(std::move(app));
    }
    numberWindows(applications, path);
    scenario.applications = std::move(applications);
}

}  // namespace platform::scenario
