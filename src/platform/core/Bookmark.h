#pragma once
// Bookmarks of folders the user chose, kept as data (in user defaults) and
// resolved back to a path later. A bookmark remembers the path and the
// identity (device and inode) of the folder it was made from: when a
// different folder now stands at that path (the folder was replaced), it
// still resolves, but reports itself stale so the holder can renew it; when
// nothing stands there any more, or the data is not a bookmark, resolving
// fails with a description for logs. There is no sandbox on Linux, so
// bookmarks carry no access scope of their own.

#include <filesystem>
#include <optional>
#include <string>

#include "platform/core/PropertyList.h"

namespace platform {

struct ResolvedBookmark {
    std::filesystem::path path;
    bool isStale = false;
};

// Bookmark data for an existing file-system object at an absolute path; none,
// with `error` set, when there is nothing there.
[[nodiscard]] std::optional<PropertyData> createBookmarkData(const std::filesystem::path& path, std::string& error);

// None, with `error` set, when the data is not a bookmark or nothing is at
// its path any more.
[[nodiscard]] std::optional<ResolvedBookmark> resolveBookmarkData(const PropertyData& data, std::string& error);

}  // namespace platform
