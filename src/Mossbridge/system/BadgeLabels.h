#pragma once
// Badge labels of running applications, read from the launch services tool
// "/usr/bin/lsappinfo": one "list" run, and when that yields no label, an
// "info" run per target (by process identifier, then by bundle identifier).
// Every run is bounded by 0.75 s; a tool that is missing, hangs or fails
// only leaves labels absent. A tool that cannot be started is reported in
// one line by the first run that finds it so, not at every run: on a system
// without it, that is every run of every pass. Runs on the status
// refresher's executor.

#include <atomic>
#include <functional>
#include <memory>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Mossbridge/model/AppStatus.h"
#include "platform/core/Process.h"

namespace Mossbridge {

inline constexpr double kLSAppInfoTimeoutSeconds = 0.75;

class BadgeLabelReader {
public:
    using ProcessRunner = platform::ProcessRunner;

    // `toolPath` and `runner` are replaced by tests (a fake tool, a recorded
    // run) and by the in-memory desktop (its stand-in for the tool). Copies
    // share the record of the reported start failure.
    explicit BadgeLabelReader(std::string toolPath = "/usr/bin/lsappinfo", ProcessRunner runner = platform::runProcess);

    // Labels per target bundle identifier; targets without one are absent.
    std::map<std::string, std::string> launchServicesBadges(const std::vector<AppStatusTarget>& targets) const;

    // The tool's trimmed standard output when it exits with status 0 in time.
    [[nodiscard]] std::optional<std::string> runLSAppInfo(const std::vector<std::string>& arguments) const;

private:
    std::map<std::string, std::string> launchServicesBadgeLabels(const std::vector<AppStatusTarget>& targets) const;
    std::optional<std::string> lsappinfoStatusLabelInfo(const AppStatusTarget& target) const;

    std::string toolPath_;
    ProcessRunner runner_;
    std::shared_ptr<std::atomic<bool>> reportedFailureToStart_ = std::make_shared<std::atomic<bool>>(false);
};

// The reader as a badge source of the app status service.
std::function<std::map<std::string, std::string>(const std::vector<AppStatusTarget>&)> badgeSource(
    BadgeLabelReader reader);

}  // namespace Mossbridge
