#include "Mossbridge/app/SingleInstance.h"

#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "Mossbridge/model/DiagnosticLine.h"
#include "platform/core/InstanceLock.h"
#include "platform/core/XdgPaths.h"

namespace Mossbridge {
namespace {

namespace fs = std::filesystem;
using Outcome = platform::InstanceLockAttempt::Outcome;

// A lock held without its holder's ID is held by a launch between taking its
// locks and writing its ID, or by one looking at it, for microseconds. The
// claim then starts again, holding nothing meanwhile, after a pause drawn at
// random so that two launches that met do not meet again; a holder still
// without an ID after this long is named as such.
constexpr auto kHolderWait = std::chrono::milliseconds(250);
constexpr int kShortestPauseMicroseconds = 100;
constexpr int kLongestPauseMicroseconds = 1000;

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

// A lock another process holds, and its holder's ID when known.
struct HeldLock {
    fs::path file;
    std::optional<pid_t> holder;
};

// One try at every lock: either one found held, with nothing of this try
// held any more, or every lock that could be taken, with why the others could
// not.
struct Claim {
    std::optional<HeldLock> held;
    std::vector<platform::InstanceLock> taken;
    std::vector<std::string> failures;
};

Claim claimOnce(const std::vector<fs::path>& files) {
    Claim claim;
    // A launch that ends leaves even its own folders as they were: the lock
    // files that exist are looked at first, each given up at once, so a lock
    // held in a shared folder is found before a missing file is created in a
    // folder of this launch's own.
    for (const fs::path& file : files) {
        std::error_code error;
        if (!fs::exists(file, error)) continue;
        const platform::InstanceLockAttempt probe = platform::lockInstance(file);
        if (probe.outcome == Outcome::HeldElsewhere) {
            claim.held = HeldLock{file, probe.holder};
            return claim;
        }
    }
    for (const fs::path& file : files) {
        platform::InstanceLockAttempt attempt = platform::lockInstance(file);
        switch (attempt.outcome) {
        case Outcome::Acquired:
            claim.taken.push_back(std::move(*attempt.lock));
            break;
        case Outcome::HeldElsewhere:
            claim.taken.clear();  // given up unwritten
            claim.held = HeldLock{file, attempt.holder};
            return claim;
        case Outcome::Failed:
            claim.failures.push_back(std::move(attempt.error));
            break;
        }
    }
    return claim;
}

void sayRunning(const HeldLock& held) {
    const std::string holder =
        held.holder ? "as process " + std::to_string(*held.holder) : "(its process ID is not known yet)";
    printErrorLine("already running " + holder + " on these user folders (" + held.file.string() +
                   " is locked); this launch ends and changes nothing");
}

}  // namespace

bool claimUserFolders() {
    const std::vector<fs::path> files = lockFiles();
    const auto deadline = std::chrono::steady_clock::now() + kHolderWait;
    std::minstd_rand random(std::random_device{}());
    std::uniform_int_distribution<int> pause(kShortestPauseMicroseconds, kLongestPauseMicroseconds);
    for (;;) {
        Claim claim = claimOnce(files);
        if (!claim.held) {
            for (const std::string& failure : claim.failures) {
                printErrorLine(failure + "; running without the guard against a second instance on these user folders");
            }
            for (platform::InstanceLock& lock : claim.taken) std::move(lock).keepForLife();
            return true;
        }
        if (claim.held->holder || std::chrono::steady_clock::now() >= deadline) {
            sayRunning(*claim.held);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
    }
}

}  // namespace Mossbridge
