#include "Mossbridge/pets/PetBadgeLayout.h"

#include <algorithm>
#include <cmath>

#include "platform/core/Unicode.h"

namespace Mossbridge {

double appBadgeDiameter(double appIconSizeScale) { return std::min(std::max(26 * appIconSizeScale, 16.0), 48.0); }

platform::Rect appBadgeRect(const platform::Rect& bounds, double appIconSizeScale) {
    const double d = appBadgeDiameter(appIconSizeScale);
    return {bounds.midX() - d / 2, 2, d, d};
}

platform::Rect appIconRect(const platform::Rect& badge) {
    const double inset = std::max(0.15 * badge.width(), 3.0);
    return {badge.minX() + inset, badge.minY() + inset, badge.width() - 2 * inset, badge.height() - 2 * inset};
}

platform::Font appLetterFont(const platform::Rect& badge) {
    return platform::Font::boldSystem(std::max(0.54 * badge.width(), 10.0));
}

std::string appInitial(const std::string& appName) {
    return platform::toUpperCase(platform::composedCharacterPrefix(appName, 1));
}

std::optional<StatusBadgeLayout> statusBadgeLayout(const platform::Rect& badge, bool displayBadges,
                                                   const AppStatus& status) {
    if (!displayBadges || !status.badgeText || status.badgeText->empty()) return std::nullopt;
    StatusBadgeLayout layout;
    layout.text = platform::composedCharacterCount(*status.badgeText) >= 4 ? "99+" : *status.badgeText;

    const double h = std::min(std::max(badge.height() * 0.5, 16.0), 20.0);
    layout.font = platform::Font::boldSystem(std::min(std::max(h * 0.62, 10.0), 12.0));
    layout.textSize = platform::measureText(layout.text, layout.font);

    const double sideInset = platform::composedCharacterCount(layout.text) == 1 ? h * 0.28 : h * 0.42;
    const double w = std::ceil(std::max(h, layout.textSize.width + 2 * sideInset));
    layout.pillRect = {std::round(badge.maxX() - 0.78 * w), std::round(badge.maxY() - 0.78 * h), w, h};
    layout.cornerRadius = h / 2;

    const double textHeight = std::ceil(layout.textSize.height);
    layout.textRect = {layout.pillRect.minX(), std::round(layout.pillRect.midY() - textHeight / 2), w, textHeight};
    return layout;
}

std::optional<WindowDotsLayout> windowDotsLayout(const platform::Rect& bounds, int windowCount) {
    if (windowCount < 1) return std::nullopt;
    const int n = std::min(windowCount, 5);
    const double rowWidth = 5.0 * n + 4.0 * (n - 1);
    const double x0 = bounds.midX() - rowWidth / 2;
    WindowDotsLayout layout;
    layout.background = {x0 - 5, 26, rowWidth + 10, 13};
    for (int i = 0; i < n; ++i) layout.dots.push_back({x0 + 9.0 * i, 30, 5, 5});
    if (windowCount > n) layout.overflowText = "+" + std::to_string(windowCount - n);
    layout.overflowRect = {x0 + rowWidth + 4, 27, 28, 12};
    return layout;
}

std::array<std::pair<platform::Point, platform::Point>, 3> resizeGripLines(const platform::Rect& b) {
    std::array<std::pair<platform::Point, platform::Point>, 3> lines;
    for (int i = 0; i < 3; ++i) {
        const double k = 4.0 * i;
        lines[i] = {{b.maxX() - 14 + k, b.minY() + 5}, {b.maxX() - 5, b.minY() + 14 - k}};
    }
    return lines;
}

}  // namespace Mossbridge
