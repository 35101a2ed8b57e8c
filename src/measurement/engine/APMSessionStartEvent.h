#pragma once
// The session-start event "_s" the engine logs on its worker queue: origin
// "auto", internal, time stamp T, previous time stamp 0, with "_sid" (T in
// whole seconds) and "_sno"; started in the background it carries "_aib" = 1,
// in the foreground the current screen's parameters instead.

#include <cstdint>
#include <optional>

#include "measurement/interface/APMEvent.h"

// None only when the event cannot be built (a refused name or origin).
std::optional<APMEvent> APMSessionStartEvent(std::int64_t sessionNumber, bool appInBackground, double timestamp);
