// Conditional user properties on the event road: every event first passes
// through the engine's own controller, which ends timed-out and expired
// properties and activates the ones the event triggers.

#include "measurement/engine/APMConditionalUserProperties.h"
#include "measurement/engine/APMMeasurement.h"

std::shared_ptr<APMConditionalUserPropertyController> APMMeasurement::conditionalUserPropertyController() {
    std::call_once(conditionalUserPropertyControllerOnce_, [this] {
        // Held weakly: the engine owns its controller.
        conditionalUserPropertyController_ = APMConditionalUserPropertyController::create(
            [weak = weak_from_this()]() -> std::shared_ptr<APMMeasurement> { return weak.lock(); });
    });
    return conditionalUserPropertyController_;
}

std::optional<std::vector<APMEvent>> APMMeasurement::processConditionalUserPropertiesOnWorkerQueue(
    const APMEvent& event) {
    return conditionalUserPropertyController()->processEventOnWorkerQueue(&event);
}
