#include "measurement/interface/APMValidationLimits.h"

#include <mutex>
#include <utility>

namespace {

std::mutex& sourceMutex() {
    static std::mutex mutex;
    return mutex;
}

APMValidationLimitsSource& installedSource() {
    static APMValidationLimitsSource source;
    return source;
}

}  // namespace

APMValidationLimitsSource APMSetValidationLimitsSource(APMValidationLimitsSource source) {
    std::lock_guard lock(sourceMutex());
    return std::exchange(installedSource(), std::move(source));
}

APMValidationLimits APMCurrentValidationLimits() {
    APMValidationLimitsSource source;
    {
        std::lock_guard lock(sourceMutex());
        source = installedSource();
    }
    return source ? source() : APMValidationLimits{};
}
