#include "Mossbridge/system/NotificationDatabaseCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Mossbridge/model/DiagnosticLine.h"
#include "Mossbridge/model/PerformanceLog.h"
#include "platform/core/Clock.h"
#include "platform/core/Uuid.h"

namespace Mossbridge {

namespace {

constexpr std::array<const char*, 2> kCompanionSuffixes = {"-wal", "-shm"};

std::filesystem::path withSuffix(const std::filesystem::path& path, const char* suffix) {
    return std::filesystem::path(path.string() + suffix);
}

// Closes a descriptor on every path out.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

std::string copyError(const std::filesystem::path& from, const std::string& reason) {
    return "The file \"" + from.filename().string() + "\" couldn't be copied: " + reason;
}

// Copies the regular file `from` to the new file `to` (created exclusively,
// mode 0600, never through a link). On failure `error` says why and a file
// `to` made by this call is removed again.
bool copyFilePrivately(const std::filesystem::path& from, const std::filesystem::path& to, std::string& error) {
    Descriptor in{::open(from.c_str(), O_RDONLY | O_CLOEXEC)};
    struct stat info {};
    if (in.fd < 0 || ::fstat(in.fd, &info) != 0) {
        error = copyError(from, std::strerror(errno));
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = copyError(from, S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "not a regular file");
        return false;
    }
    Descriptor out{::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600)};
    if (out.fd < 0) {
        error = copyError(from, std::strerror(errno));
        return false;
    }
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t got = ::read(in.fd, buffer.data(), buffer.size());
        if (got == 0) return true;
        if (got < 0 && errno == EINTR) continue;
        bool written = got > 0;
        for (ssize_t done = 0; written && done < got;) {
            const ssize_t put = ::write(out.fd, buffer.data() + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) written = false;
            else done += put;
        }
        if (!written) {
            error = copyError(from, std::strerror(errno));
            ::unlink(to.c_str());
            return false;
        }
    }
}

}  // namespace

std::optional<std::filesystem::path> copyNotificationDatabaseToTemporary(const std::filesystem::path& database,
                                                                         const std::filesystem::path& folder) {
    const std::uint64_t start = platform::systemClock().monotonicNanos();
    const std::filesystem::path copy = folder / ("MossbridgeNotificationDB-" + platform::makeUuidString() + ".db");
    std::vector<std::filesystem::path> made;
    std::string error;
    std::error_code ignored;

    bool copied = true;
    std::filesystem::remove(copy, ignored);
    if (copyFilePrivately(database, copy, error)) {
        made.push_back(copy);
        for (const char* suffix : kCompanionSuffixes) {
            const auto target = withSuffix(copy, suffix);
            std::filesystem::remove(target, ignored);
            const auto source = withSuffix(database, suffix);
            if (!std::filesystem::exists(source, ignored)) continue;
            if (!copyFilePrivately(source, target, error)) {
                copied = false;
                break;
            }
            made.push_back(target);
        }
    } else {
        copied = false;
    }

    if (!copied) {
        // A half-made copy of the user's notifications must not linger in a
        // shared folder.
        for (const auto& path : made) std::filesystem::remove(path, ignored);
        printDiagnosticLine("Notification DB /private/tmp copy failed: " + error);
        return std::nullopt;
    }
    logPerformanceEvent("status.notificationDB.copy", [&] {
        char elapsed[32];
        std::snprintf(elapsed, sizeof elapsed, "%.1fms",
                      static_cast<double>(platform::systemClock().monotonicNanos() - start) / 1e6);
        return std::string(elapsed);
    });
    return copy;
}

void removeTemporaryNotificationDatabase(const std::filesystem::path& copy) {
    std::error_code ignored;
    std::filesystem::remove(copy, ignored);
    for (const char* suffix : kCompanionSuffixes) std::filesystem::remove(withSuffix(copy, suffix), ignored);
}

}  // namespace Mossbridge
