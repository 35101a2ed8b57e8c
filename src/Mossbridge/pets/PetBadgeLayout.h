#pragma once
// Geometry of what a pet shows besides its body, shared by the sprite pets'
// overlay layers and the vector pets' drawing: the application badge, the
// red status pill on it, the window dots and the resize grip. All in the
// pet view's unflipped coordinates.

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Mossbridge/model/AppStatus.h"
#include "platform/core/Geometry.h"
#include "platform/drawing/TextLayout.h"

namespace Mossbridge {

// Diameter 26 x scale, kept within [16, 48], centred at the bottom (y = 2).
double appBadgeDiameter(double appIconSizeScale);
platform::Rect appBadgeRect(const platform::Rect& bounds, double appIconSizeScale);
// The inset of the icon in the badge: max(0.15 x d, 3) on each side.
platform::Rect appIconRect(const platform::Rect& badge);
// The bold font of the application's initial: max(0.54 x d, 10) points.
platform::Font appLetterFont(const platform::Rect& badge);
// First composed character of the name, upper-cased ("" for an empty name).
std::string appInitial(const std::string& appName);

struct StatusBadgeLayout {
    std::string text;
    platform::Font font;
    platform::Size textSize;
    platform::Rect pillRect;
    platform::Rect textRect;
    double cornerRadius = 0;
};

// The pill over the top-right of `badge`, or none when badges are off or
// the status has no badge text. Texts of four or more characters read "99+".
std::optional<StatusBadgeLayout> statusBadgeLayout(const platform::Rect& badge, bool displayBadges,
                                                   const AppStatus& status);

struct WindowDotsLayout {
    platform::Rect background;
    std::vector<platform::Rect> dots;  // at most five
    std::optional<std::string> overflowText;  // "+<windows beyond five>"
    platform::Rect overflowRect;
};

// None when there is no window to show.
std::optional<WindowDotsLayout> windowDotsLayout(const platform::Rect& bounds, int windowCount);

// The three strokes of the grip in the bottom-right corner.
std::array<std::pair<platform::Point, platform::Point>, 3> resizeGripLines(const platform::Rect& bounds);

}  // namespace Mossbridge
