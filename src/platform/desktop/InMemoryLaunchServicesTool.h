#pragma once
// The launch services tool "/usr/bin/lsappinfo" of the in-memory desktop:
// a process runner that answers the tool's "list" and
// "info -only StatusLabel <#pid | bundle identifier>" requests from the
// applications and badge labels it was made with, in the tool's text form,
// and hands every other request to `fallback`. Immutable, so any thread may
// run it (the badge reader runs on the status refresher's queue).

#include <map>
#include <string>
#include <vector>

#include "platform/core/Process.h"
#include "platform/desktop/Workspace.h"

namespace platform {

inline constexpr const char* kLaunchServicesToolPath = "/usr/bin/lsappinfo";

// `labels`: badge label by bundle identifier.
ProcessRunner makeInMemoryLaunchServicesTool(std::vector<RunningApplication> applications,
                                             std::map<std::string, std::string> labels,
                                             ProcessRunner fallback = runProcess);

}  // namespace platform
