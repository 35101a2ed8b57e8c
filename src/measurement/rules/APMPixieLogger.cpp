#include "measurement/rules/APMPixieLogger.h"

#include "measurement/storage/APMMonitor.h"

namespace measurement::rules {

namespace {
constexpr long kProgramLogCode = 24005;
}

APMPixieLogger::APMPixieLogger(std::shared_ptr<APMMonitor> monitor) : monitor_(std::move(monitor)) {}

int APMPixieLogger::monitorLevel(std::int64_t level, bool silent, bool monitored) {
    switch (level) {
        case 2: return 8;
        case 3: return 7;
        case 4: return 6;
        case 5: return silent ? 5 : (monitored ? 4 : 3);
        case 6: return silent ? 2 : (monitored ? 1 : 0);
        default: return 6;
    }
}

void APMPixieLogger::logWithLevel(std::int64_t level, const std::string& message,
                                  const std::vector<std::string>& context, bool silent, bool monitored) const {
    const std::shared_ptr<APMMonitor> monitor = monitor_ ? monitor_ : APMMonitor::shared();
    monitor->log(monitorLevel(level, silent, monitored), kProgramLogCode, message, context);
}

}  // namespace measurement::rules
