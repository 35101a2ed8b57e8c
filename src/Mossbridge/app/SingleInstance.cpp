#include "Mossbridge/app/SingleInstance.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "Mossbridge/model/DiagnosticLine.h"
#include "platform/core/InstanceLock.h"
#include "platform/core/XdgPaths.h"

namespace Mossbridge {
namespace {

namespace fs = std::filesystem;

// The lock files in the order they are taken, one per folder. The order is
// the same for every launch: two launches that share folders never each hold
// one the other needs, which would end them both. Folders that are one
// (XDG_CONFIG_HOME set to the data folder, say) get one lock, which a process
// cannot take twice.
std::vector<fs::path> lockFiles() {
    std::vector<fs::path> files, folders;
    for (const fs::path& folder :
         {platform::applicationSupportDirectory(), platform::userDefaultsDirectory(), platform::cachesDirectory()}) {
        std::error_code error;
        fs::path resolved = fs::weakly_canonical(folder, error);
        if (error) resolved = folder.lexically_normal();
        if (std::find(folders.begin(), folders.end(), resolved) != folders.end()) continue;
        folders.push_back(std::move(resolved));
        files.push_back(folder / "instance.lock");
    }
    return files;
}

void sayRunning(const fs::path& file, const platform::InstanceLockAttempt& attempt) {
    const std::string holder =
        attempt.holder ? "as process " + std::to_string(*attempt.holder) : "(its process ID is not known yet)";
    printErrorLine("already running " + holder + " on these user folders (" + file.string() +
                   " is locked); this launch ends and changes nothing");
}

}  // namespace

bool claimUserFolders() {
    const std::vector<fs::path> files = lockFiles();
    // A launch that ends leaves even its own folders as they were: the lock
    // files that exist are looked at first, each given up at once, so a lock
    // held in a shared folder is found before a missing file is created in a
    // folder of this launch's own.
    for (const fs::path& file : files) {
        std::error_code error;
        if (!fs::exists(file, error)) continue;
        const platform::InstanceLockAttempt probe = platform::lockInstance(file);
        if (probe.outcome == platform::InstanceLockAttempt::Outcome::HeldElsewhere) {
            sayRunning(file, probe);
            return false;
        }
    }
    std::vector<platform::InstanceLock> taken;
    for (const fs::path& file : files) {
        platform::InstanceLockAttempt attempt = platform::lockInstance(file);
        switch (attempt.outcome) {
        case platform::InstanceLockAttempt::Outcome::Acquired:
            taken.push_back(std::move(*attempt.lock));
            break;
        case platform::InstanceLockAttempt::Outcome::HeldElsewhere:
            sayRunning(file, attempt);
            return false;  // the locks taken so far go with `taken`, their files unwritten
        case platform::InstanceLockAttempt::Outcome::Failed:
            printErrorLine(attempt.error +
                           "; running without the guard against a second instance on these user folders");
            break;
        }
    }
    for (platform::InstanceLock& lock : taken) std::move(lock).keepForLife();
    return true;
}

}  // namespace Mossbridge
