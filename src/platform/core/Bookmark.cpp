#include "platform/core/Bookmark.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace platform {

namespace {

// The data is a binary property list with these keys; nothing else is read.
const char* const kPathKey = "path";
const char* const kDeviceKey = "device";
const char* const kInodeKey = "inode";
const char* const kBirthKey = "birth";

// Inode numbers are reused once a folder is deleted, so a folder made anew at
// the same path can get the old number; its birth time (nanoseconds, 0 where
// the file system keeps none) tells the two apart.
struct Identity {
    std::int64_t device = 0;
    std::int64_t inode = 0;
    std::int64_t birth = 0;
};

std::optional<Identity> identityAt(const std::filesystem::path& path, std::string& error) {
    struct statx info {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_INO | STATX_BTIME, &info) != 0) {
        const int code = errno;
        error = "The bookmarked item \"" + path.filename().string() + "\" couldn't be found: " + std::strerror(code);
        return std::nullopt;
    }
    Identity identity;
    identity.device = static_cast<std::int64_t>(makedev(info.stx_dev_major, info.stx_dev_minor));
    identity.inode = static_cast<std::int64_t>(info.stx_ino);
    if (info.stx_mask & STATX_BTIME) {
        identity.birth = static_cast<std::int64_t>(info.stx_btime.tv_sec) * 1000000000 + info.stx_btime.tv_nsec;
    }
    return identity;
}

}  // namespace

std::optional<PropertyData> createBookmarkData(const std::filesystem::path& path, std::string& error) {
    if (!path.is_absolute()) {
        error = "A bookmark needs an absolute path: \"" + path.string() + "\"";
        return std::nullopt;
    }
    const auto identity = identityAt(path, error);
    if (!identity) return std::nullopt;
    PropertyDictionary bookmark{
        {kPathKey, path.lexically_normal().string()},
        {kDeviceKey, static_cast<long long>(identity->device)},
        {kInodeKey, static_cast<long long>(identity->inode)},
        {kBirthKey, static_cast<long long>(identity->birth)},
    };
    auto data = serializePropertyList(PropertyValue(std::move(bookmark)), PropertyListFormat::Binary);
    if (!data) error = "The path \"" + path.string() + "\" cannot be kept in a bookmark";
    return data;
}

std::optional<ResolvedBookmark> resolveBookmarkData(const PropertyData& data, std::string& error) {
    const auto parsed = parsePropertyList(data);
    const PropertyValue* path = parsed ? parsed->find(kPathKey) : nullptr;
    const PropertyValue* device = parsed ? parsed->find(kDeviceKey) : nullptr;
    const PropertyValue* inode = parsed ? parsed->find(kInodeKey) : nullptr;
    if (!path || !path->asString() || path->asString()->empty() || (*path->asString())[0] != '/' || !device ||
        device->kind() != PropertyValue::Kind::Integer || !inode || inode->kind() != PropertyValue::Kind::Integer) {
        error = "The bookmark data isn't in the correct format.";
        return std::nullopt;
    }
    ResolvedBookmark resolved{*path->asString(), false};
    const auto identity = identityAt(resolved.path, error);
    if (!identity) return std::nullopt;
    const PropertyValue* birth = parsed->find(kBirthKey);
    const std::int64_t storedBirth = birth && birth->asInteger() ? *birth->asInteger() : 0;
    resolved.isStale = identity->device != *device->asInteger() || identity->inode != *inode->asInteger() ||
                       identity->birth != storedBirth;
    return resolved;
}

}  // namespace platform
