#include "measurement/engine/APMSessionStartEvent.h"

#include "measurement/engine/APMScreenViewReporter.h"
#include "measurement/storage/APMSaturatingConversion.h"

std::optional<APMEvent> APMSessionStartEvent(std::int64_t sessionNumber, bool appInBackground, double timestamp) {
    APMParameters parameters;
    parameters.set("_sid", APMValue(apm_saturatingInt64(timestamp)));
    parameters.set("_sno", APMValue(sessionNumber));
    if (appInBackground) {
        parameters.set("_aib", APMValue(std::int64_t{1}));
    } else if (const auto reporter = APMScreenViewReporter::sharedInstance()) {
        for (const auto& [name, value] : reporter->screenParameters()) parameters.set(name, value);
    }
    return APMEvent::initWithOrigin("auto", false, "_s", timestamp, 0, APMObjectParametersFrom(parameters));
}
