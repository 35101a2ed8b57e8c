#include "platform/core/AtomicFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace platform {
namespace {

std::error_code lastError() { return std::error_code(errno, std::generic_category()); }

[[nodiscard]] bool writeAll(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

void syncDirectory(const std::filesystem::path& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;  // the rename itself has happened; durability is best effort here
    ::fsync(fd);
    ::close(fd);
}

// Temporary files of `target` are named this and six random characters.
std::string temporaryFilePrefix(const std::filesystem::path& target) {
    return (target.parent_path() / ("." + target.filename().string() + ".")).string();
}

}  // namespace

std::error_code replaceFileAtomically(const std::filesystem::path& target, const std::vector<std::uint8_t>& bytes) {
    const std::filesystem::path directory = target.parent_path();
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) return error;

    std::string name = temporaryFilePrefix(target) + "XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return lastError();
    // Held until the file is renamed or removed: a temporary file nobody
    // holds was left by a write that never finished.
    ::flock(fd, LOCK_EX);
    if (!writeAll(fd, bytes) || ::fsync(fd) != 0) error = lastError();
    if (::close(fd) != 0 && !error) error = lastError();
    if (!error && ::rename(name.c_str(), target.c_str()) != 0) error = lastError();
    if (error) {
        ::unlink(name.c_str());
        return error;
    }
    syncDirectory(directory);
    return {};
}

void removeStaleTemporaryFiles(const std::filesystem::path& target) {
    const std::string prefix = temporaryFilePrefix(target);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(target.parent_path(), error)) {
        const std::string name = entry.path().string();
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
        const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue;
        // A write in progress holds its file locked.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) ::unlink(name.c_str());
        ::close(fd);
    }
}

}  // namespace platform
