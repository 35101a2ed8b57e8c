#pragma once
// The launch services tool "/usr/bin/lsappinfo" of the in-memory desktop:
// a process runner that answers the tool's "list" and
// "info -only StatusLabel <#pid | bundle identifier>" requests from the
// running applications of a workspace and the badge labels of a scenario,
// in the tool's text form, and hands every other request to `fallback`.
// Thread-safe as far as the workspace is.

#include <map>
#include <memory>
#include <string>

#include "platform/core/Process.h"
#include "platform/desktop/Workspace.h"

namespace platform {

inline constexpr const char* kLaunchServicesToolPath = "/usr/bin/lsappinfo";

// `labels`: badge label by bundle identifier.
ProcessRunner makeInMemoryLaunchServicesTool(std::shared_ptr<const Workspace> workspace,
                                             std::map<std::string, std::string> labels,
                                             ProcessRunner fallback = runProcess);

}  // namespace platform
