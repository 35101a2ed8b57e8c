#include "Mossbridge/system/NotificationDatabaseReader.h"

#include <unistd.h>

#include <algorithm>

#include "Mossbridge/model/DiagnosticLine.h"
#include "Mossbridge/system/NotificationDatabaseCopy.h"
#include "platform/core/Bookmark.h"
#include "platform/core/Environment.h"
#include "platform/core/XdgPaths.h"

namespace Mossbridge {

namespace {

// The name under which the system's C library reports the per-user Darwin
// directory; other systems answer nothing for it.
constexpr int kDarwinUserDirectoryName = 65536;

std::optional<std::filesystem::path> darwinUserDirectoryURL() {
    const std::size_t length = ::confstr(kDarwinUserDirectoryName, nullptr, 0);
    if (length < 1) return std::nullopt;
    std::vector<char> buffer(length, '\0');
    if (::confstr(kDarwinUserDirectoryName, buffer.data(), buffer.size()) < 1) return std::nullopt;
    const std::string text(buffer.data());  // up to the first zero byte
    if (text.empty()) return std::nullopt;
    return std::filesystem::path(text);
}

std::vector<std::filesystem::path> candidatesUnder(
    const std::filesystem::path& home, const std::optional<std::filesystem::path>& darwinUserDirectory) {
    std::vector<std::filesystem::path> all = {
        home / "Library/Group Containers/group.com.apple.usernoted/db2/db",
        home / "Library/Group Containers/group.com.apple.usernoted/db/db",
        home / "Library/Application Support/NotificationCenter/db2/db",
        home / "Library/Application Support/NotificationCenter/db/db",
    };
    if (darwinUserDirectory) {
        all.push_back(*darwinUserDirectory / "com.apple.notificationcenter/db2/db");
        all.push_back(*darwinUserDirectory / "com.apple.notificationcenter/db/db");
    }
    std::vector<std::filesystem::path> unique;
    for (auto& path : all) {
        if (std::find(unique.begin(), unique.end(), path) == unique.end()) unique.push_back(std::move(path));
    }
    return unique;
}

bool hasItems(const NotificationQueryResult& result) { return !result.error && !result.items.empty(); }

}  // namespace

const std::vector<std::filesystem::path>& notificationDatabaseCandidates() {
    static const auto candidates = candidatesUnder(platform::homeDirectory(), darwinUserDirectoryURL());
    return candidates;
}

const std::filesystem::path& defaultNotificationDatabaseFolderURL() {
    static const auto folder = platform::homeDirectory() / "Library/Group Containers/group.com.apple.usernoted/db2";
    return folder;
}

AppDisplayNameLookup workspaceAppDisplayName(std::shared_ptr<const platform::Workspace> workspace) {
    return [workspace = std::move(workspace)](const std::string& bundleIdentifier) -> std::string {
        const auto url = workspace ? workspace->urlForApplication(bundleIdentifier) : std::nullopt;
        const auto info = url ? workspace->bundleInfoDictionary(*url) : std::nullopt;
        if (!info) return bundleIdentifier;
        for (const char* key : {"CFBundleDisplayName", "CFBundleName"}) {
            const auto value = info->find(key);
            if (value != info->end() && value->second.asString()) return *value->second.asString();
        }
        return std::filesystem::path(*url).stem().string();
    };
}

std::optional<std::filesystem::path> resolveNotificationDatabaseFolderBookmark(platform::UserDefaults& defaults) {
    const auto data = defaults.data(kNotificationDatabaseFolderBookmarkKey);
    if (!data) return std::nullopt;
    std::string error;
    auto resolved = platform::resolveBookmarkData(*data, error);
    if (resolved && resolved->isStale) {
        auto renewed = platform::createBookmarkData(resolved->path, error);
        // A failed file write keeps the renewed bookmark in memory for the defaults' next write.
        if (renewed) (void)defaults.set(kNotificationDatabaseFolderBookmarkKey, std::move(*renewed));
        else resolved.reset();
    }
    if (!resolved) {
        printDiagnosticLine("Notification DB folder bookmark failed: " + error);
        (void)defaults.remove(kNotificationDatabaseFolderBookmarkKey);  // as above: removed in memory at least
        return std::nullopt;
    }
    return resolved->path;
}

NotificationDatabaseReader::NotificationDatabaseReader() : NotificationDatabaseReader(Options{}) {}

NotificationDatabaseReader::NotificationDatabaseReader(Options options) : options_(std::move(options)) {
    if (!options_.defaults) options_.defaults = platform::UserDefaults::standard();
}

NotificationQueryResult NotificationDatabaseReader::readNotificationItems(
    const std::vector<AppStatusTarget>& targets) const {
    if (auto folder = resolveNotificationDatabaseFolderBookmark(*options_.defaults)) {
        // The user's choice replaces the default locations entirely.
        return readNotificationDatabase({*folder / "db"}, targets);
    }
    return readNotificationDatabase(options_.candidates ? *options_.candidates : notificationDatabaseCandidates(),
                                    targets);
}

NotificationQueryResult NotificationDatabaseReader::readNotificationDatabase(
    const std::vector<std::filesystem::path>& candidates, const std::vector<AppStatusTarget>& targets) const {
    const std::filesystem::path temporaryFolder =
        options_.temporaryFolder ? *options_.temporaryFolder : platform::temporaryDirectory();
    std::optional<std::string> firstError;
    for (const auto& candidate : candidates) {
        std::error_code ignored;
        if (!std::filesystem::exists(candidate, ignored)) continue;

        auto direct = queryNotificationDatabase(readOnlyDatabaseURI(candidate), targets, options_.appDisplayName);
        if (hasItems(direct)) return direct;
        if (!direct.error) continue;

        std::optional<std::string> error = direct.error;
        if (auto copy = copyNotificationDatabaseToTemporary(candidate, temporaryFolder)) {
            auto copied = queryNotificationDatabase(copy->string(), targets, options_.appDisplayName);
            removeTemporaryNotificationDatabase(*copy);
            if (hasItems(copied)) return copied;
            if (copied.error) error = copied.error;
        }
        if (!firstError) firstError = error;
    }
    return {{}, firstError};
}

}  // namespace Mossbridge
