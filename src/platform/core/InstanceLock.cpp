#include "platform/core/InstanceLock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace platform {
namespace {

std::string systemError(const std::string& what, int error) { return what + ": " + std::strerror(error); }

// In place, the ID and a newline, then cut what an earlier, longer ID left
// after it: a reader sees either the old text or a whole first line of the new.
// Failing only costs a second launch the holder's name.
void writeHolder(int fd) {
    const std::string text = std::to_string(getpid()) + "\n";
    if (pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size())) {
        (void)ftruncate(fd, static_cast<off_t>(text.size()));
    }
}

// The first line of the file as the ID of a living process.
std::optional<pid_t> readHolder(int fd) {
    char text[32];
    const ssize_t length = pread(fd, text, sizeof text, 0);
    if (length <= 0) return std::nullopt;
    long pid = 0;
    for (ssize_t i = 0; i < length; ++i) {
        if (text[i] == '\n') {
            if (i == 0 || (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM)) return std::nullopt;
            return static_cast<pid_t>(pid);
        }
        if (text[i] < '0' || text[i] > '9' || pid > 99999999) return std::nullopt;
        pid = pid * 10 + (text[i] - '0');
    }
    return std::nullopt;
}

}  // namespace

InstanceLock::~InstanceLock() {
    if (descriptor_ >= 0) close(descriptor_);
}

void InstanceLock::keepForLife() && {
    writeHolder(descriptor_);
    descriptor_ = -1;  // the descriptor stays open, and the lock held, until the process ends
}

InstanceLockAttempt lockInstance(const std::filesystem::path& file) {
    InstanceLockAttempt attempt;
    std::error_code folderError;
    std::filesystem::create_directories(file.parent_path(), folderError);
    if (folderError) {
        attempt.error = "cannot create " + file.parent_path().string() + ": " + folderError.message();
        return attempt;
    }
    // Never truncated on opening: the file may be another process's, locked.
    const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        attempt.error = systemError("cannot open " + file.string(), errno);
        return attempt;
    }
    int locked;
    do locked = flock(fd, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked == 0) {
        attempt.outcome = InstanceLockAttempt::Outcome::Acquired;
        attempt.lock.emplace(fd);
        return attempt;
    }
    const int error = errno;
    if (error == EWOULDBLOCK) {
        attempt.outcome = InstanceLockAttempt::Outcome::HeldElsewhere;
        attempt.holder = readHolder(fd);
    } else {
        attempt.error = systemError("cannot lock " + file.string(), error);
    }
    close(fd);
    return attempt;
}

}  // namespace platform
