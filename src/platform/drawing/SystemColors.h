#pragma once
// The named system colours the interface uses, in the light appearance.

#include "platform/drawing/Color.h"

namespace platform::SystemColors {

inline constexpr Color windowBackground{0.925, 0.925, 0.925, 1};
inline constexpr Color label{0, 0, 0, 0.85};
inline constexpr Color secondaryLabel{0, 0, 0, 0.5};
inline constexpr Color red{1.0, 0.231, 0.188, 1};
inline constexpr Color white{1, 1, 1, 1};
inline constexpr Color black{0, 0, 0, 1};
inline constexpr Color clear{0, 0, 0, 0};

// `color` with its alpha replaced.
constexpr Color withAlpha(Color color, double alpha) {
    color.alpha = alpha;
    return color;
}

}  // namespace platform::SystemColors
