#include "measurement/interface/APMErrorEventLogging.h"

#include <utility>

#include "measurement/storage/APMSharedInstance.h"

namespace {

struct InstalledLogger;
using Installed = APMSharedInstance<InstalledLogger, APMInternalEventLogger>;

}  // namespace

APMInternalEventLogger APMSetInternalEventLogger(APMInternalEventLogger logger) {
    return Installed::exchange(std::move(logger));
}

void APMLogInternalEvent(const std::string& origin, const std::string& name, const APMParameters& parameters) {
    // A copy, called unlocked: the facade may log further events from inside.
    const APMInternalEventLogger logger = Installed::current();
    if (logger) logger(origin, name, parameters);
}
