#pragma once
// The application bundle on Linux: one folder of resources (the options
// property list, sprite sheets, scenarios), which may also hold the
// application's Info.plist. The folder is, in this order:
//   1. the one given to setResourcesDirectory (main and tests set it);
//   2. the environment variable MOSSBRIDGE_RESOURCES when it is not empty;
//   3. "resources" beside the executable's folder (<executable dir>/../resources).
// Thread-safe.

#include <filesystem>
#include <optional>
#include <string>

#include "platform/core/PropertyList.h"

class VULMainBundle {
public:
    static std::filesystem::path resourcesDirectory();
    // Pins the folder; nullopt returns to the environment and default rules.
    static void setResourcesDirectory(std::optional<std::filesystem::path> directory);

    // "<folder>/<name>.<type>" when that file exists, else nullopt.
    static std::optional<std::filesystem::path> pathForResource(const std::string& name, const std::string& type);

    // The value under `key` in the folder's Info.plist; nullopt when the file
    // is absent, unreadable, not a dictionary, or lacks the key.
    static std::optional<platform::PropertyValue> objectForInfoDictionaryKey(const std::string& key);
};
