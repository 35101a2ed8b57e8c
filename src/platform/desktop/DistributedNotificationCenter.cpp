#include "platform/desktop/DistributedNotificationCenter.h"

namespace platform {

NotificationCenter& DistributedNotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

}  // namespace platform
