// Raising one listed window and taking window previews.

#include <atomic>
#include <map>

#include "Mossbridge/model/PerformanceLog.h"
#include "Mossbridge/system/RunningAppService.h"

namespace Mossbridge {

namespace {

// Written once per process: capture permission does not change while we run
// often enough to repeat it.
std::atomic<bool> screenCaptureNoticeWritten{false};

platform::ImageRef capturedImage(platform::DesktopWindowList& windowList, std::uint32_t window) {
    const platform::BitmapRef bitmap =
        windowList.createWindowImage(std::nullopt, platform::kWindowListOptionIncludingWindow, window,
                                     platform::kWindowImageBoundsIgnoreFraming | platform::kWindowImageBestResolution);
    if (!bitmap || bitmap->width() <= 0 || bitmap->height() <= 0) return nullptr;
    // One point per captured pixel.
    return std::make_shared<const platform::Image>(bitmap);
}

}  // namespace

void RunningAppService::resetScreenCaptureNoticeForTesting() { screenCaptureNoticeWritten = false; }

AppFocusResult RunningAppService::raiseWindow(const std::string& bundleIdentifier, int index) {
    const bool trusted = services_.accessibility->isProcessTrusted();
    const auto running = runningApplication(bundleIdentifier);
    if (!running) return {false, false, false, trusted, "I can't find that app right now."};
    const bool opened = openApplicationDockStyle(*running);
    // Activation is a request only: whether the window came up is what the raise answers.
    (void)services_.workspace->activate(running->processIdentifier,
                                        platform::kActivateAllWindows | platform::kActivateIgnoringOtherApps);

    const auto listed = contextMenuInfo(bundleIdentifier, true).windows;
    const auto entry = std::find_if(listed.begin(), listed.end(), [&](const AppWindowInfo& w) { return w.index == index; });
    const bool hasWindowNumber = entry != listed.end() && entry->cgWindowID.has_value();
    const int position = entry != listed.end() ? entry->axIndex.value_or(index) : index;

    const auto elements = accessibilityWindows(*running).first;
    if (position >= 0 && static_cast<std::size_t>(position) < elements.size()) {
        if (raiseAccessibilityWindow(elements[static_cast<std::size_t>(position)], *running)) {
            return {true, true, opened, trusted, "Here it is."};
        }
        return {true, false, opened, trusted, "I couldn't raise that window."};
    }
    if (hasWindowNumber) {
        return {true, true, opened, trusted, "I brought the app forward. Exact window picking needs Accessibility."};
    }
    return {true, false, opened, trusted,
            trusted ? "I couldn't find that window anymore." : "I need Accessibility access to list and raise windows."};
}

std::vector<AppWindowPreviewInfo> RunningAppService::windowPreviews(const std::string& bundleIdentifier) {
    std::vector<AppWindowPreviewInfo> previews;
    const auto running = runningApplication(bundleIdentifier);
    if (!running) return previews;
    const auto windows = contextMenuInfo(bundleIdentifier, false).windows;
    std::map<int, std::uint32_t> visibleNumbers;
    for (const auto& visible : visibleWindowList(*running)) {
        if (visible.cgWindowID) visibleNumbers.emplace(visible.index, *visible.cgWindowID);
    }
    for (std::size_t i = 0; i < windows.size() && i < maxPreviews; ++i) {
        const AppWindowInfo& window = windows[i];
        std::optional<std::uint32_t> number = window.cgWindowID;
        if (!number) {
            if (const auto found = visibleNumbers.find(window.index); found != visibleNumbers.end()) number = found->second;
        }
        platform::ImageRef image = running->icon;
        if (!services_.windowList->preflightScreenCaptureAccess()) {
            if (!screenCaptureNoticeWritten.exchange(true)) logPerformanceScreenCaptureUnavailable();
        } else if (number) {
            if (platform::ImageRef captured = capturedImage(*services_.windowList, *number)) image = std::move(captured);
        }
        previews.push_back({window.index, window.title, image});
    }
    return previews;
}

}  // namespace Mossbridge
