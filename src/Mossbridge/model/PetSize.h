#pragma once
// The size of a pet's panel at a pet size: a new pet is 92 by 104 points at
// scale 1, and the scale multiplies both sides.

#include "platform/core/Geometry.h"

namespace Mossbridge {

inline platform::Size petSize(double scale) {
    constexpr platform::Size atScaleOne{92, 104};
    return {atScaleOne.width * scale, atScaleOne.height * scale};
}

}  // namespace Mossbridge
