#pragma once
// Internal to the scenario loader: the reader of each top-level section and
// the typed value readers they share. Readers throw ScenarioFailure naming
// the path of the bad value.

#include <filesystem>
#include <stdexcept>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "platform/desktop/Scenario.h"

namespace platform::scenario {

using Json = nlohmann::json;

struct ScenarioFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct ReadContext {
    std::filesystem::path baseDirectory;
};

[[noreturn]] void fail(const std::string& path, const std::string& what);
std::string childPath(const std::string& parent, const std::string& key);
std::string childPath(const std::string& parent, std::size_t index);

// Typed reads of one value; each fails with the path when mistyped.
void requireObject(const Json& value, const std::string& path);
bool readBool(const Json& value, const std::string& path);
double readNumber(const Json& value, const std::string& path);
std::int64_t readInteger(const Json& value, const std::string& path, std::int64_t min, std::int64_t max);
std::string readString(const Json& value, const std::string& path);
// {"x", "y", "width", "height"}, all finite.
Rect readRect(const Json& value, const std::string& path);
// "#rrggbb" or "#rrggbbaa".
Color readColor(const Json& value, const std::string& path);
// Fails on any member of `object` outside `known`.
void rejectUnknownMembers(const Json& object, const std::string& path, std::initializer_list<const char*> known);

// Section readers, one file each.
void readScreens(const Json& section, const std::string& path, Scenario& scenario, const ReadContext& context);
void readApplications(const Json& section, const std::string& path, Scenario& scenario, const ReadContext& context);
void readBadges(const Json& section, const std::string& path, Scenario& scenario);
// After every section: each badge names an application of the scenario.
void checkBadges(const Scenario& scenario);

}  // namespace platform::scenario
