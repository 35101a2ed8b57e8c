#include "measurement/storage/APMFilePaths.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "measurement/storage/APMError.h"
#include "measurement/storage/APMMonitor.h"
#include "platform/core/XdgPaths.h"

std::string APMMeasurementDirectoryPath() {
    return (platform::applicationSupportDirectory() / "Vadova" / "Measurement").string();
}

std::string APMMeasurementFilePath(const std::string& fileName) {
    std::filesystem::path folder = APMMeasurementDirectoryPath();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder, error)) {
        APMMonitor::shared()->log(1, 19001, "Unable to find or create the measurement folder. Path, error",
                                  folder.string(), error.message());
        return {};
    }
    return (folder / fileName).string();
}

bool APMDeleteFile(const std::string& path, APMError* error) {
    std::error_code failure;
    if (std::filesystem::remove(path, failure)) return true;
    std::string reason = failure ? failure.message() : std::string("No such file");
    APMSetError(error, failure ? failure.value() : ENOENT, "Failed to delete file " + path + ": " + reason);
    return false;
}

bool APMExcludeFromBackup(const std::string& path, APMError* error) {
    static const char kValue[] = "false";
    if (setxattr(path.c_str(), "user.xdg.robots.backup", kValue, sizeof kValue - 1, 0) == 0) return true;
    int code = errno;
    // A file system without extended attributes has no backup marks to honour.
    std::error_code exists;
    if (code == ENOTSUP && std::filesystem::exists(path, exists)) return true;
    APMSetError(error, code, "Failed to exclude " + path + " from backup: " + std::strerror(code));
    return false;
}
