// The attributes of one file system item, as the engine reads them.

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "measurement/engine/APMMeasurement.h"
#include "measurement/storage/APMMonitor.h"

namespace {

APMFileAttributes::Type typeOf(mode_t mode) {
    if (S_ISREG(mode)) return APMFileAttributes::Type::Regular;
    if (S_ISDIR(mode)) return APMFileAttributes::Type::Directory;
    if (S_ISLNK(mode)) return APMFileAttributes::Type::SymbolicLink;
    return APMFileAttributes::Type::Other;
}

}  // namespace

std::optional<APMFileAttributes> APMMeasurement::fileAttributesForPath(const std::string& path) const {
    if (path.empty()) return std::nullopt;
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        const int error = errno;
        monitor()->log(5, 23022, "Unable to read attributes of path. Path, error", path, std::strerror(error));
        return std::nullopt;
    }
    APMFileAttributes attributes;
    attributes.type = typeOf(status.st_mode);
    attributes.size = static_cast<std::uint64_t>(status.st_size);
    attributes.modificationDate =
        static_cast<double>(status.st_mtim.tv_sec) + static_cast<double>(status.st_mtim.tv_nsec) / 1e9;
    return attributes;
}
