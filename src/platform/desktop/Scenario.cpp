#include "platform/desktop/Scenario.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>

#include <nlohmann/json.hpp>

#include "platform/desktop/ScenarioSections.h"

namespace platform {

namespace scenario {

void fail(const std::string& path, const std::string& what) { throw ScenarioFailure(path + ": " + what); }

std::string childPath(const std::string& parent, const std::string& key) {
    return parent.empty() ? key : parent + "." + key;
}

std::string childPath(const std::string& parent, std::size_t index) {
    return parent + "[" + std::to_string(index) + "]";
}

void requireObject(const Json& value, const std::string& path) {
    if (!value.is_object()) fail(path, "expected an object");
}

bool readBool(const Json& value, const std::string& path) {
    if (!value.is_boolean()) fail(path, "expected true or false");
    return value.get<bool>();
}

double readNumber(const Json& value, const std::string& path) {
    if (!value.is_number()) fail(path, "expected a number");
    const double number = value.get<double>();
    if (!std::isfinite(number)) fail(path, "expected a finite number");
    return number;
}

std::int64_t readInteger(const Json& value, const std::string& path, std::int64_t min, std::int64_t max) {
    const std::string range = "out of range (" + std::to_string(min) + " to " + std::to_string(max) + ")";
    if (value.is_number_float()) {
        // A whole number written as a real (5.0, 1e30) is an integer, maybe too large.
        const double real = value.get<double>();
        if (!std::isfinite(real) || std::trunc(real) != real) fail(path, "expected an integer");
        if (real < static_cast<double>(min) || real > static_cast<double>(max)) fail(path, range);
        return static_cast<std::int64_t>(real);
    }
    if (!value.is_number_integer()) fail(path, "expected an integer");
    if (value.is_number_unsigned() && value.get<std::uint64_t>() > static_cast<std::uint64_t>(max)) fail(path, range);
    const auto number = value.get<std::int64_t>();
    if (number < min || number > max) fail(path, range);
    return number;
}

std::string readString(const Json& value, const std::string& path) {
    if (!value.is_string()) fail(path, "expected a string");
    return value.get<std::string>();
}

Rect readRect(const Json& value, const std::string& path) {
    requireObject(value, path);
    rejectUnknownMembers(value, path, {"x", "y", "width", "height"});
    Rect rect;
    const auto member = [&](const char* key) {
        if (!value.contains(key)) fail(childPath(path, key), "required");
        return readNumber(value.at(key), childPath(path, key));
    };
    rect.origin = {member("x"), member("y")};
    rect.size = {member("width"), member("height")};
    return rect;
}

Color readColor(const Json& value, const std::string& path) {
    const std::string text = readString(value, path);
    const bool wellFormed = (text.size() == 7 || text.size() == 9) && text[0] == '#' &&
                            text.find_first_not_of("0123456789abcdefABCDEF", 1) == std::string::npos;
    if (!wellFormed) fail(path, "expected a colour as \"#rrggbb\" or \"#rrggbbaa\"");
    const auto channel = [&](std::size_t at) { return std::stoi(text.substr(at, 2), nullptr, 16) / 255.0; };
    return Color{channel(1), channel(3), channel(5), text.size() == 9 ? channel(7) : 1.0};
}

void rejectUnknownMembers(const Json& object, const std::string& path, std::initializer_list<const char*> known) {
    for (const auto& [key, unused] : object.items()) {
        bool listed = false;
        for (const char* name : known) listed = listed || key == name;
        if (!listed) fail(childPath(path, key), "unknown member");
    }
}

}  // namespace scenario

namespace {

using namespace scenario;

// Sections that only set one flag or name, read here; the larger ones have
// their own files.
struct Pending {
    std::optional<std::string> frontmostBundleIdentifier;
};

using SectionReader =
    std::function<void(const Json&, const std::string&, Scenario&, Pending&, const ReadContext&)>;

const std::vector<std::pair<std::string, SectionReader>>& sectionReaders() {
    static const std::vector<std::pair<std::string, SectionReader>> readers = {
        {"screens", [](const Json& j, const std::string& p, Scenario& s, Pending&,
                       const ReadContext& c) { readScreens(j, p, s, c); }},
        {"applications", [](const Json& j, const std::string& p, Scenario& s, Pending&,
                            const ReadContext& c) { readApplications(j, p, s, c); }},
        {"frontmost", [](const Json& j, const std::string& p, Scenario&, Pending& pending,
                         const ReadContext&) { pending.frontmostBundleIdentifier = readString(j, p); }},
        {"accessibilityTrusted", [](const Json& j, const std::string& p, Scenario& s, Pending&,
                                    const ReadContext&) { s.accessibilityTrusted = readBool(j, p); }},
        {"screenCaptureAllowed", [](const Json& j, const std::string& p, Scenario& s, Pending&,
                                    const ReadContext&) { s.screenCaptureAllowed = readBool(j, p); }},
        {"playerNotifications", [](const Json& j, const std::string& p, Scenario& s, Pending&,
                                   const ReadContext&) { scenario::readPlayerNotifications(j, p, s.events); }},
        {"calendar", [](const Json& j, const std::string& p, Scenario& s, Pending&,
                        const ReadContext&) { scenario::readCalendar(j, p, s.events); }},
    };
    return readers;
}

void resolveFrontmost(const Pending& pending, Scenario& scenario) {
    if (!pending.frontmostBundleIdentifier) return;
    for (const auto& app : scenario.applications) {
        if (app.installed.running && app.installed.application.bundleIdentifier == pending.frontmostBundleIdentifier) {
            scenario.frontmostProcessIdentifier = app.installed.application.processIdentifier;
            return;
        }
    }
    fail("frontmost", "no running application has the bundle identifier \"" + *pending.frontmostBundleIdentifier + "\"");
}

}  // namespace

ScenarioLoad parseScenario(const std::string& jsonText, const std::filesystem::path& baseDirectory) {
    try {
        Json root;
        try {
            root = Json::parse(jsonText);
        } catch (const Json::exception& error) {
            return {std::nullopt, std::string("not valid JSON: ") + error.what()};
        }
        requireObject(root, "top level");
        Scenario scenario;
        Pending pending;
        const ReadContext context{baseDirectory};
        for (const auto& [key, value] : root.items()) {
            const auto& readers = sectionReaders();
            const auto reader = std::find_if(readers.begin(), readers.end(),
                                             [&key = key](const auto& entry) { return entry.first == key; });
            if (reader == readers.end()) fail(key, "unknown section");
            reader->second(value, key, scenario, pending, context);
        }
        resolveFrontmost(pending, scenario);
        return {std::move(scenario), {}};
    } catch (const ScenarioFailure& failure) {
        return {std::nullopt, failure.what()};
    }
}

ScenarioLoad loadScenarioFile(const std::filesystem::path& path) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) return {std::nullopt, path.string() + ": is a folder"};
    std::ifstream file(path, std::ios::binary);
    if (!file) return {std::nullopt, path.string() + ": cannot be read"};
    std::ostringstream text;
    text << file.rdbuf();
    return parseScenario(text.str(), path.parent_path());
}

}  // namespace platform
