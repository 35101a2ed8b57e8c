#include "platform/core/XdgPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <optional>
#include <vector>

#include "platform/core/Environment.h"

namespace platform {
namespace {

const char* const kApplicationFolder = "Mossbridge";

// An environment value usable as a base folder: set, non-empty and absolute.
// Relative values are ignored, so files never land beside the working folder.
std::optional<std::filesystem::path> absoluteFromEnvironment(const char* name) {
    auto value = environmentValue(name);
    if (!value || value->empty() || (*value)[0] != '/') return std::nullopt;
    return std::filesystem::path(*value);
}

std::filesystem::path baseDirectory(const char* variable, const char* homeRelativeDefault) {
    if (auto base = absoluteFromEnvironment(variable)) return *base;
    return homeDirectory() / homeRelativeDefault;
}

}  // namespace

std::filesystem::path homeDirectory() {
    if (auto home = absoluteFromEnvironment("HOME")) return *home;
    // No usable HOME: ask the password database, as a login shell would.
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr &&
        result->pw_dir != nullptr && result->pw_dir[0] == '/') {
        return std::filesystem::path(result->pw_dir);
    }
    return std::filesystem::path("/");
}

std::filesystem::path applicationSupportDirectory() {
    return baseDirectory("XDG_DATA_HOME", ".local/share") / kApplicationFolder;
}

std::filesystem::path userDefaultsDirectory() {
    return baseDirectory("XDG_CONFIG_HOME", ".config") / kApplicationFolder;
}

std::filesystem::path cachesDirectory() {
    return baseDirectory("XDG_CACHE_HOME", ".cache") / kApplicationFolder;
}

std::filesystem::path temporaryDirectory() {
    if (auto tmp = absoluteFromEnvironment("TMPDIR")) return *tmp;
    return std::filesystem::path("/tmp");
}

}  // namespace platform
