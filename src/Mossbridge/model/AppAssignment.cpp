#include "Mossbridge/model/AppAssignment.h"

#include <cmath>

namespace Mossbridge {

CodableRect::CodableRect(const platform::Rect& rect)
    : x(rect.origin.x), y(rect.origin.y), width(rect.width()), height(rect.height()) {}

bool isShowableFrameSide(double side) { return side >= kSmallestFrameSide && side <= kLargestFrameSide; }

bool isStorableFrame(const CodableRect& frame) {
    return std::isfinite(frame.x) && std::isfinite(frame.y) && isShowableFrameSide(frame.width) &&
           isShowableFrameSide(frame.height);
}

}  // namespace Mossbridge
