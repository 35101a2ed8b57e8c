#include "Mossbridge/app/SingleInstance.h"

#include <filesystem>
#include <string>

#include "Mossbridge/model/DiagnosticLine.h"
#include "platform/core/InstanceLock.h"
#include "platform/core/XdgPaths.h"

namespace Mossbridge {

bool claimUserFolders() {
    const std::filesystem::path file = platform::applicationSupportDirectory() / "instance.lock";
    const platform::InstanceLockAttempt attempt = platform::lockInstance(file);
    switch (attempt.outcome) {
    case platform::InstanceLockAttempt::Outcome::Acquired:
        return true;
    case platform::InstanceLockAttempt::Outcome::HeldElsewhere: {
        const std::string holder =
            attempt.holder ? "as process " + std::to_string(*attempt.holder) : "(its process ID is not known yet)";
        printErrorLine("already running " + holder + " on these user folders (" + file.string() +
                       " is locked); this launch ends and changes nothing");
        return false;
    }
    case platform::InstanceLockAttempt::Outcome::Failed:
        printErrorLine(attempt.error + "; running without the guard against a second instance on these user folders");
        return true;
    }
    return true;
}

}  // namespace Mossbridge
