// The running-application list, the accessibility operations every window
// operation uses, the Dock-style open and focusing an application.

#include "Mossbridge/system/RunningAppService.h"

#include <algorithm>

#include "Mossbridge/model/DiagnosticLine.h"
#include "Mossbridge/model/PerformanceLog.h"
#include "platform/core/Collation.h"

namespace Mossbridge {

namespace {

// A refresh is worth a performance line only above this.
constexpr double kSlowRefreshMilliseconds = 3.0;

std::string focusFailureMessage(bool trusted, bool opened) {
    if (trusted) return opened ? "I asked macOS to activate it like the Dock." : "I couldn't raise the top window for this app.";
    return opened ? "I opened it, but need Accessibility to raise the top window."
                  : "I need Accessibility access to bring this forward.";
}

}  // namespace

std::string diagnosticName(const platform::RunningApplication& app) {
    if (app.bundleIdentifier) return *app.bundleIdentifier;
    if (app.localizedName) return *app.localizedName;
    return "unknown";
}

std::shared_ptr<RunningAppService> RunningAppService::create(Services services) {
    return std::shared_ptr<RunningAppService>(new RunningAppService(std::move(services)));
}

RunningAppService::RunningAppService(Services services) : services_(std::move(services)) {}

void RunningAppService::refresh() {
    const std::uint64_t start = services_.clock->monotonicNanos();
    std::vector<RunningApp> listed;
    for (const auto& running : services_.workspace->runningApplications()) {
        if (running.activationPolicy != platform::ActivationPolicy::regular || !running.bundleIdentifier) continue;
        listed.push_back(RunningApp{*running.bundleIdentifier, running.localizedName.value_or(*running.bundleIdentifier),
                                    running.processIdentifier, running.icon});
    }
    std::stable_sort(listed.begin(), listed.end(), [](const RunningApp& a, const RunningApp& b) {
        return platform::localizedCaseInsensitiveCompare(a.name, b.name) < 0;
    });
    apps_ = std::move(listed);
    const auto frontmost = services_.workspace->frontmostApplication();
    frontmostBundleIdentifier_ = frontmost ? frontmost->bundleIdentifier : std::nullopt;
    const double milliseconds = static_cast<double>(services_.clock->monotonicNanos() - start) / 1e6;
    if (milliseconds > kSlowRefreshMilliseconds) logPerformanceRunningAppsRefresh(milliseconds, apps_.size());
}

std::optional<RunningApp> RunningAppService::app(const std::string& bundleIdentifier) const {
    for (const auto& candidate : apps_) {
        if (candidate.bundleIdentifier == bundleIdentifier) return candidate;
    }
    return std::nullopt;
}

std::optional<platform::RunningApplication> RunningAppService::runningApplication(
    const std::string& bundleIdentifier) const {
    for (auto& running : services_.workspace->runningApplications()) {
        if (running.bundleIdentifier == bundleIdentifier) return running;
    }
    return std::nullopt;
}

bool RunningAppService::openApplicationDockStyle(const platform::RunningApplication& app) {
    if (!app.bundleURL) return false;
    const std::string name = diagnosticName(app);
    services_.workspace->openApplication(*app.bundleURL, platform::OpenConfiguration{true, false},
                                         [name](const std::optional<std::string>& error) {
                                             if (error) printDiagnosticLine("Dock-style open failed for " + name + ": " + *error);
                                         });
    return true;
}

std::pair<std::vector<platform::AccessibilityElement>, std::optional<std::string>>
RunningAppService::accessibilityWindows(const platform::RunningApplication& app) {
    const auto copied = services_.accessibility->copyAttributeValue(
        platform::Accessibility::applicationElement(app.processIdentifier), platform::kAXWindowsAttribute);
    if (copied.error != platform::AccessibilityError::success) {
        const std::string error(platform::accessibilityErrorName(copied.error));
        printDiagnosticLine("AX windows failed for " + diagnosticName(app) + ": " + error);
        return {{}, error};
    }
    std::vector<platform::AccessibilityElement> windows;
    if (copied.value) {
        if (const auto* list = std::get_if<platform::AccessibilityElementList>(&*copied.value)) {
            for (const auto& element : *list) {
                if (element) windows.push_back(*element);
            }
        }
    }
    return {windows, std::nullopt};
}

bool RunningAppService::raiseAccessibilityWindow(const platform::AccessibilityElement& window,
                                                 const platform::RunningApplication& app) {
    auto& accessibility = *services_.accessibility;
    // A failing write does not stop the raise: only the raise action decides.
    (void)accessibility.setAttributeValue(platform::Accessibility::applicationElement(app.processIdentifier),
                                          platform::kAXFrontmostAttribute, true);
    (void)accessibility.setAttributeValue(window, platform::kAXMainAttribute, true);
    (void)accessibility.setAttributeValue(window, platform::kAXFocusedAttribute, true);
    return accessibility.performAction(window, platform::kAXRaiseAction) == platform::AccessibilityError::success;
}

bool RunningAppService::raiseTopWindow(const platform::RunningApplication& app) {
    // A failing write does not stop the raise: only the raise action decides.
    (void)services_.accessibility->setAttributeValue(
        platform::Accessibility::applicationElement(app.processIdentifier), platform::kAXFrontmostAttribute, true);
    const auto windows = accessibilityWindows(app).first;
    if (!windows.empty()) return raiseAccessibilityWindow(windows.front(), app);
    printDiagnosticLine("no windows to raise for " + diagnosticName(app));
    return false;
}

AppFocusResult RunningAppService::focusTopWindow(const std::string& bundleIdentifier) {
    const bool trusted = services_.accessibility->isProcessTrusted();
    const auto running = runningApplication(bundleIdentifier);
    if (!running) return {false, false, false, trusted, "I can't find that app right now."};
    printDiagnosticLine("focusing top window for " + bundleIdentifier);
    const bool opened = openApplicationDockStyle(*running);
    // Activation is a request only: whether the window came up is what the raise answers.
    (void)services_.workspace->activate(running->processIdentifier, platform::kActivateIgnoringOtherApps);
    if (raiseTopWindow(*running)) return {true, true, opened, trusted, "Here it is."};
    scheduleFocusRetry(bundleIdentifier);
    return {true, false, opened, trusted, focusFailureMessage(trusted, opened)};
}

void RunningAppService::scheduleFocusRetry(const std::string& bundleIdentifier) {
    // A newer focus request replaces a retry still waiting.
    if (pendingFocusRetry_) pendingFocusRetry_->cancel();
    std::weak_ptr<RunningAppService> weakSelf = weak_from_this();
    pendingFocusRetry_ = std::make_shared<platform::WorkItem>([weakSelf, bundleIdentifier] {
        const auto self = weakSelf.lock();
        if (!self) return;
        const auto running = self->runningApplication(bundleIdentifier);
        if (!running) return;
        // The retry's outcome is reported to nobody.
        (void)self->services_.workspace->activate(running->processIdentifier, platform::kActivateIgnoringOtherApps);
        (void)self->raiseTopWindow(*running);
    });
    services_.mainQueue->after(focusRetryDelaySeconds, pendingFocusRetry_);
}

bool RunningAppService::quitApp(const std::string& bundleIdentifier) {
    const auto running = runningApplication(bundleIdentifier);
    return running && services_.workspace->terminate(running->processIdentifier);
}

}  // namespace Mossbridge
