#pragma once
// The whole pretend desktop of a run without a display, built from a
// scenario: the screens, the workspace, accessibility and the window
// server's list, kept consistent with each other (the same applications,
// process identifiers and windows in all three).

#include <memory>
#include <vector>

#include "platform/desktop/InMemoryAccessibility.h"
#include "platform/core/Process.h"
#include "platform/desktop/InMemoryDesktopWindowList.h"
#include "platform/desktop/InMemoryWorkspace.h"
#include "platform/desktop/Scenario.h"

namespace platform {

struct InMemoryDesktop {
    std::vector<Screen> screens;
    std::shared_ptr<InMemoryWorkspace> workspace = std::make_shared<InMemoryWorkspace>();
    std::shared_ptr<InMemoryAccessibility> accessibility = std::make_shared<InMemoryAccessibility>();
    std::shared_ptr<InMemoryDesktopWindowList> windowList = std::make_shared<InMemoryDesktopWindowList>();
    // Runs child processes; the launch services tool answers from the
    // scenario's running applications and badges (InMemoryLaunchServicesTool.h).
    ProcessRunner processes = runProcess;

    // Windows that are on screen go into the window list in scenario order
    // (the first application's first window frontmost); accessible windows
    // are each application's accessibility windows, handles counted from 1.
    static InMemoryDesktop fromScenario(const Scenario& scenario);
};

}  // namespace platform
