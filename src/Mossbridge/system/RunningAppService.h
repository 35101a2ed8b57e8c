#pragma once
// RunningAppService: the running regular applications (refreshed by the
// coordinator), and everything that acts on one application: bringing it or
// one of its windows to the front, listing its windows, window previews and
// quitting. Operations that act on an application look it up afresh among
// the workspace's running applications (first bundle-identifier match,
// whatever its activation policy). Nothing fails towards the caller: user
// requests answer flags and a short first-person message, probe failures
// print "Mossbridge: " lines and fall through to the next source. Main
// thread only; window listing may block it while AppleScript runs.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Mossbridge/model/AppStatus.h"
#include "platform/desktop/Accessibility.h"
#include "platform/desktop/DesktopWindowList.h"
#include "platform/core/Dispatch.h"
#include "platform/desktop/Workspace.h"

namespace Mossbridge {

struct [[nodiscard]] AppFocusResult {
    bool found = false;
    bool raised = false;
    bool opened = false;  // the Dock-style open request was issued
    bool accessibilityTrusted = false;
    std::string message;
};

class RunningAppService : public std::enable_shared_from_this<RunningAppService> {
public:
    // Runs one script and answers its trimmed output (see AppleScriptRunner).
    using ScriptRunner = std::function<std::optional<std::string>(const std::string& script)>;

    struct Services {
        std::shared_ptr<platform::Workspace> workspace;
        std::shared_ptr<platform::Accessibility> accessibility;
        std::shared_ptr<platform::DesktopWindowList> windowList;
        ScriptRunner runScript;
        platform::QueueRef mainQueue;
        const platform::Clock* clock = &platform::systemClock();
    };

    static constexpr double focusRetryDelaySeconds = 0.35;
    static constexpr std::size_t maxPreviews = 6;

    static std::shared_ptr<RunningAppService> create(Services services);

    // Regular applications with a bundle identifier, by localized name, as
    // of the last refresh().
    const std::vector<RunningApp>& apps() const { return apps_; }
    const std::optional<std::string>& frontmostBundleIdentifier() const { return frontmostBundleIdentifier_; }

    void refresh();
    std::optional<RunningApp> app(const std::string& bundleIdentifier) const;

    // --- Focusing (a click on a pet) ---
    AppFocusResult focusTopWindow(const std::string& bundleIdentifier);
    [[nodiscard]] bool openApplicationDockStyle(const platform::RunningApplication& app);
    // The window elements, and an error text when the list could not be read.
    std::pair<std::vector<platform::AccessibilityElement>, std::optional<std::string>> accessibilityWindows(
        const platform::RunningApplication& app);
    [[nodiscard]]
    bool raiseAccessibilityWindow(const platform::AccessibilityElement& window, const platform::RunningApplication& app);
    [[nodiscard]] bool raiseTopWindow(const platform::RunningApplication& app);

    // --- Window lists ---
    AppContextMenuInfo contextMenuInfo(const std::string& bundleIdentifier, bool allowScripting);
    std::vector<AppWindowInfo> visibleWindowList(const platform::RunningApplication& app);
    static bool isPlaceholderWindowTitle(const std::string& title, const std::string& appName);
    std::vector<AppWindowInfo> scriptedWindowTitles(const std::string& bundleIdentifier);
    std::vector<AppWindowInfo> systemEventsWindowTitles(const std::optional<std::string>& processName);

    // --- Raising one window, previews, quitting ---
    AppFocusResult raiseWindow(const std::string& bundleIdentifier, int index);
    // At most maxPreviews, in window-list order.
    std::vector<AppWindowPreviewInfo> windowPreviews(const std::string& bundleIdentifier);
    [[nodiscard]] bool quitApp(const std::string& bundleIdentifier);

    // Test hook: forgets that the screen-capture line was written.
    static void resetScreenCaptureNoticeForTesting();

private:
    explicit RunningAppService(Services services);

    std::optional<platform::RunningApplication> runningApplication(const std::string& bundleIdentifier) const;
    void scheduleFocusRetry(const std::string& bundleIdentifier);
    std::vector<AppWindowInfo> joinedScriptedTitles(const std::string& bundleIdentifier,
                                                    const platform::RunningApplication& app);

    Services services_;
    std::vector<RunningApp> apps_;
    std::optional<std::string> frontmostBundleIdentifier_;
    platform::WorkItemRef pendingFocusRetry_;
};

// The name used in diagnostic lines: bundle identifier, else localized name,
// else "unknown".
std::string diagnosticName(const platform::RunningApplication& app);

}  // namespace Mossbridge
