#pragma once
// A pointer event as delivered to a view: what happened, where in the
// window (points, bottom-left origin), and how far the pointer moved since
// the previous event (deltaY positive downwards, as the platform reports).

#include "platform/core/Geometry.h"

namespace platform {

enum class PointerEventType { leftDown, leftDragged, leftUp, rightDown, moved, entered, exited };

struct PointerEvent {
    PointerEventType type = PointerEventType::moved;
    Point locationInWindow;
    double deltaX = 0;
    double deltaY = 0;
};

// The pointer shapes a view may ask for.
enum class Cursor { arrow, resizeLeftRight };

}  // namespace platform
