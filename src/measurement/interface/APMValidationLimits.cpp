#include "measurement/interface/APMValidationLimits.h"

#include <utility>

#include "measurement/storage/APMSharedInstance.h"

namespace {

struct InstalledSource;
using Installed = APMSharedInstance<InstalledSource, APMValidationLimitsSource>;

}  // namespace

APMValidationLimitsSource APMSetValidationLimitsSource(APMValidationLimitsSource source) {
    return Installed::exchange(std::move(source));
}

APMValidationLimits APMCurrentValidationLimits() {
    // A copy, called unlocked: the source reads the configuration's own state.
    const APMValidationLimitsSource source = Installed::current();
    return source ? source() : APMValidationLimits{};
}
