#include "measurement/interface/APMErrorEventLogging.h"

#include <mutex>
#include <utility>

namespace {

std::mutex& loggerMutex() {
    static std::mutex mutex;
    return mutex;
}

APMInternalEventLogger& installedLogger() {
    static APMInternalEventLogger logger;
    return logger;
}

}  // namespace

APMInternalEventLogger APMSetInternalEventLogger(APMInternalEventLogger logger) {
    std::lock_guard lock(loggerMutex());
    return std::exchange(installedLogger(), std::move(logger));
}

void APMLogInternalEvent(const std::string& origin, const std::string& name, const APMParameters& parameters) {
    APMInternalEventLogger logger;
    {
        std::lock_guard lock(loggerMutex());
        logger = installedLogger();
    }
    // Called unlocked: the facade may log further events from inside.
    if (logger) logger(origin, name, parameters);
}
