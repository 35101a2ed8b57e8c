#pragma once
// The centre that carries notifications between applications, such as the
// playback changes that music players announce. Linux has no such bus for
// them, so this is an in-process centre of its own, apart from
// NotificationCenter::defaultCenter(): whatever posts into it (a scenario,
// a test) plays the role of the other applications. Observers pick their
// delivery queue as with any NotificationCenter (usually the main queue).
// Components take the centre by reference, so tests hand them a private one.

#include "platform/core/NotificationCenter.h"

namespace platform {

class DistributedNotificationCenter {
public:
    // The one process-wide distributed centre; lives until the process ends.
    static NotificationCenter& defaultCenter();
};

}  // namespace platform
