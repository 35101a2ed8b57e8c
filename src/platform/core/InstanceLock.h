#pragma once
// One running process per lock file: an exclusive flock held until the
// process ends, however it ends (the kernel drops it at exit, SIGKILL
// included), so a file left behind by a killed process never stands in the
// way. The holder writes its process ID into the file, in place (the lock
// belongs to the file's inode), so a process that finds the file locked can
// name the one that holds it; that process leaves the file as it was.
//
// A process that needs several locks takes them all before keeping any: the
// ID is written only on keeping, so a process that finds a later lock taken
// gives up the earlier ones with their files as they were. A lock found held
// without an ID is as a rule held for a moment (by a process between its
// taking and its keeping, or by one that takes it only to look and gives it
// up at once): the finder gives up its own locks, which that holder may be
// about to take, before it looks again. A kept lock's
// descriptor is close-on-exec and never closed: children do not inherit the
// lock, and nothing can give it up early.

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

namespace platform {

// A lock this process has taken: given up when the object goes, unless kept.
class InstanceLock {
public:
    explicit InstanceLock(int descriptor) : descriptor_(descriptor) {}
    InstanceLock(InstanceLock&& other) noexcept : descriptor_(other.descriptor_) { other.descriptor_ = -1; }
    InstanceLock& operator=(InstanceLock&&) = delete;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock();

    // Writes this process's ID into the file and holds the lock until the process ends.
    void keepForLife() &&;

private:
    int descriptor_;
};

struct InstanceLockAttempt {
    enum class Outcome {
        Acquired,       // this process holds the lock now, in `lock`
        HeldElsewhere,  // another process holds it
        Failed,         // the file could not be created, opened or locked
    };
    Outcome outcome = Outcome::Failed;
    std::optional<InstanceLock> lock;  // Acquired
    // HeldElsewhere: the holder's process ID, when it has written it and it
    // names a living process; read once, without waiting for it.
    std::optional<pid_t> holder;
    std::string error;  // Failed: what went wrong
};

// Creates `file` and its folder when missing, then takes the lock without
// waiting. Once per file in a process: a second call finds the first one's
// lock in the way, as another process would.
[[nodiscard]] InstanceLockAttempt lockInstance(const std::filesystem::path& file);

}  // namespace platform
