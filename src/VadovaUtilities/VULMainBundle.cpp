#include "VadovaUtilities/VULMainBundle.h"

#include <mutex>
#include <system_error>

#include "platform/core/Environment.h"

namespace {

std::mutex& pinnedDirectoryMutex() {
    static std::mutex mutex;
    return mutex;
}

std::optional<std::filesystem::path>& pinnedDirectory() {
    static std::optional<std::filesystem::path> directory;
    return directory;
}

std::filesystem::path besideExecutable() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::filesystem::path("resources");
    return executable.parent_path().parent_path() / "resources";
}

}  // namespace

std::filesystem::path VULMainBundle::resourcesDirectory() {
    {
        std::lock_guard lock(pinnedDirectoryMutex());
        if (pinnedDirectory()) return *pinnedDirectory();
    }
    if (auto fromEnvironment = platform::environmentValue("MOSSBRIDGE_RESOURCES"); fromEnvironment && !fromEnvironment->empty()) {
        return std::filesystem::path(*fromEnvironment);
    }
    return besideExecutable();
}

void VULMainBundle::setResourcesDirectory(std::optional<std::filesystem::path> directory) {
    std::lock_guard lock(pinnedDirectoryMutex());
    pinnedDirectory() = std::move(directory);
}

std::optional<std::filesystem::path> VULMainBundle::pathForResource(const std::string& name, const std::string& type) {
    const std::filesystem::path path = resourcesDirectory() / (type.empty() ? name : name + "." + type);
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
    return path;
}

std::optional<platform::PropertyValue> VULMainBundle::objectForInfoDictionaryKey(const std::string& key) {
    const auto path = pathForResource("Info", "plist");
    if (!path) return std::nullopt;
    const auto contents = platform::readPropertyListFile(path->string());
    if (!contents) return std::nullopt;
    const platform::PropertyValue* value = contents->find(key);
    if (value == nullptr) return std::nullopt;
    return *value;
}
