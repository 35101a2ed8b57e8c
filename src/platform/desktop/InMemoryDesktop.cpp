#include "platform/desktop/InMemoryDesktop.h"

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

// Captures are plain fills; large windows are pictured at a bounded size.
constexpr int kMaxCaptureSide = 1024;

std::uint32_t premultipliedWord(const Color& color) {
    const auto channel = [](double v) { return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
    const double a = std::clamp(color.alpha, 0.0, 1.0);
    return channel(a) << 24 | channel(color.red * a) << 16 | channel(color.green * a) << 8 | channel(color.blue * a);
}

// Made on each capture: a scenario may list thousands of windows, and only
// the few a preview shows need a picture.
std::function<BitmapRef()> windowPicture(const ScenarioWindow& window) {
    const auto side = [](double points) {
        return static_cast<int>(std::clamp(points, 1.0, double(kMaxCaptureSide)));
    };
    const int width = side(window.bounds.width());
    const int height = side(window.bounds.height());
    const std::uint32_t fill = premultipliedWord(window.color);
    return [width, height, fill] {
        return Bitmap::make(width, height, std::vector<std::uint32_t>(std::size_t(width) * height, fill));
    };
}

}  // namespace

InMemoryDesktop InMemoryDesktop::fromScenario(const Scenario& scenario) {
    InMemoryDesktop desktop;
    desktop.screens = scenario.screens;
    desktop.accessibility->setTrusted(scenario.accessibilityTrusted);
    desktop.windowList->setScreenCaptureAllowed(scenario.screenCaptureAllowed);
    for (const auto& app : scenario.applications) {
        const RunningApplication& running = app.installed.application;
        desktop.workspace->install(app.installed);
        AccessibilityApplication accessible;
        accessible.failures = app.accessibilityFailures;
        for (const auto& window : app.windows) {
            if (window.accessible) {
                const auto handle = static_cast<std::uint64_t>(accessible.windows.size() + 1);
                accessible.windows.push_back({handle, window.title ? std::optional<AccessibilityValue>(*window.title)
                                                                   : std::nullopt,
                                              window.accessibilityFailures});
            }
            if (!window.onScreen) continue;
            desktop.windowList->addWindow(DesktopWindow{window.number, running.processIdentifier, running.localizedName,
                                                        window.windowServerName, window.bounds, window.layer,
                                                        window.alpha});
            desktop.windowList->setImageMaker(window.number, windowPicture(window));
        }
        desktop.accessibility->setApplication(running.processIdentifier, std::move(accessible));
    }
    desktop.workspace->setFrontmost(scenario.frontmostProcessIdentifier);
    return desktop;
}

}  // namespace platform
