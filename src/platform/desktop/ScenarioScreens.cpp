// The "screens" section: the first screen is the main one.

#include <nlohmann/json.hpp>

#include <cstdio>

#include "platform/desktop/ScenarioSections.h"
#include "platform/drawing/CairoCanvas.h"
#include "platform/drawing/MenuBar.h"

namespace platform::scenario {

namespace {

// Every picture of the screen is drawn at its size times its scale: a screen
// without area cannot be drawn at all, and a side or a scale beyond the
// largest displays makes each picture cost gigabytes and seconds. A canvas
// cuts what is larger than its largest side, so a screen is held to it in
// pixels, its picture whole.
constexpr double kSmallestBackingScale = 1;
constexpr double kLargestBackingScale = 4;
constexpr int kLargestPixelSide = CairoCanvas::largestPixelSide;
constexpr double kLargestSide = kLargestPixelSide / kSmallestBackingScale;

void checkSide(double side, const std::string& path) {
    if (!(side > 0)) fail(path, "must be positive");
    if (side > kLargestSide) fail(path, "out of range (up to " + std::to_string(kLargestPixelSide) + ")");
}

void checkPixels(double side, double scale, const std::string& path) {
    if (CairoCanvas::pixelsFor(side, scale) <= kLargestPixelSide) return;
    char limit[96];
    std::snprintf(limit, sizeof limit, "out of range (up to %d pixels at backingScaleFactor %g)", kLargestPixelSide,
                  scale);
    fail(path, limit);
}

Rect readArea(const Json& value, const std::string& path) {
    const Rect rect = readRect(value, path);
    checkSide(rect.size.width, childPath(path, "width"));
    checkSide(rect.size.height, childPath(path, "height"));
    return rect;
}

// What a desktop reports when the scenario does not say: the main screen
// loses the menu bar drawn along its top, so that windows kept inside the
// visible frame keep their title bars clear of it.
Rect defaultVisibleFrame(const Rect& frame, bool isMain) {
    if (!isMain || frame.size.height <= MenuBar::defaultHeight) return frame;
    return Rect(frame.origin.x, frame.origin.y, frame.size.width, frame.size.height - MenuBar::defaultHeight);
}

}  // namespace

void readScreens(const Json& section, const std::string& path, Scenario& scenario, const ReadContext&) {
    if (!section.is_array()) fail(path, "expected an array");
    for (std::size_t i = 0; i < section.size(); ++i) {
        const std::string at = childPath(path, i);
        const Json& entry = section[i];
        requireObject(entry, at);
        rejectUnknownMembers(entry, at, {"frame", "visibleFrame", "backingScaleFactor"});
        if (!entry.contains("frame")) fail(childPath(at, "frame"), "required");
        Screen screen;
        screen.frame = readArea(entry.at("frame"), childPath(at, "frame"));
        screen.visibleFrame = entry.contains("visibleFrame")
                                  ? readArea(entry.at("visibleFrame"), childPath(at, "visibleFrame"))
                                  : defaultVisibleFrame(screen.frame, i == 0);
        if (entry.contains("backingScaleFactor")) {
            const std::string scalePath = childPath(at, "backingScaleFactor");
            screen.backingScaleFactor = readNumber(entry.at("backingScaleFactor"), scalePath);
            const double scale = screen.backingScaleFactor;
            if (!(scale >= kSmallestBackingScale && scale <= kLargestBackingScale)) fail(scalePath, "out of range (1 to 4)");
        }
        const std::string framePath = childPath(at, "frame");
        checkPixels(screen.frame.size.width, screen.backingScaleFactor, childPath(framePath, "width"));
        checkPixels(screen.frame.size.height, screen.backingScaleFactor, childPath(framePath, "height"));
        scenario.screens.push_back(screen);
    }
}

}  // namespace platform::scenario
