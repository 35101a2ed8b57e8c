#include "Mossbridge/model/AppAssignment.h"

namespace Mossbridge {

CodableRect::CodableRect(const platform::Rect& rect)
    : x(rect.origin.x), y(rect.origin.y), width(rect.width()), height(rect.height()) {}

}  // namespace Mossbridge
