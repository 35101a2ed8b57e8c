#pragma once
// The system colours the companion panels draw with (light appearance) that
// the shared palette does not carry, and the calibrated blend between two
// colours.

#include "platform/drawing/Color.h"
#include "platform/drawing/SystemColors.h"

namespace Mossbridge::BubbleColors {

inline constexpr platform::Color cyan{0.196, 0.678, 0.902, 1};
inline constexpr platform::Color mint{0.0, 0.780, 0.745, 1};
inline constexpr platform::Color accent{0.0, 0.478, 1.0, 1};
inline constexpr platform::Color tertiaryLabel{0, 0, 0, 0.26};
inline constexpr platform::Color separator{0, 0, 0, 0.1};
inline constexpr platform::Color controlBackground{1, 1, 1, 1};

// `from` moved `fraction` of the way towards `to`, every component alike.
constexpr platform::Color blended(const platform::Color& from, double fraction, const platform::Color& to) {
    auto mix = [fraction](double a, double b) { return a + (b - a) * fraction; };
    return {mix(from.red, to.red), mix(from.green, to.green), mix(from.blue, to.blue), mix(from.alpha, to.alpha)};
}

}  // namespace Mossbridge::BubbleColors
