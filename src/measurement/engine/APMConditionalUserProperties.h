#pragma once
// Conditional user properties: a user property that is set only once a named
// event is logged. It waits for its trigger at most `triggerTimeout` seconds
// after its creation, and once active it lives `timeToLive` seconds; each
// outcome (triggered, timed out, expired) and an explicit clearing may log an
// event of the caller's choice. The properties are rows of the measurement
// database's "conditional_properties" table (at most 1000 rows).
//
// Time-outs and expiries are found only when some event is logged: the
// engine's event road calls processEventOnWorkerQueue for every event before
// it stores that event, and no timer runs for them.
//
// Threads: the public operations may be called from any thread; set and
// clear validate on the caller's thread and hand the work to the engine's
// worker queue, the query waits for the worker queue. Every read and write of
// the table, and of the user properties it drives, happens on that queue.
// The controller keeps no mutable state of its own; its queued blocks hold
// it weakly.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/interface/APMEvent.h"
#include "measurement/storage/APMValue.h"

class APMMeasurement;

// Time-outs and times to live lie in [kAPMMinConditionalUserPropertyInterval,
// kAPMMaxConditionalUserPropertyInterval] seconds (180 days), both ends allowed.
inline constexpr double kAPMMinConditionalUserPropertyInterval = 0.001;
inline constexpr double kAPMMaxConditionalUserPropertyInterval = 15552000;

struct APMConditionalUserProperty {
    std::string name;
    // Becomes the origin of the user property and of every event logged for it.
    std::optional<std::string> origin;
    // None asks the set operation to remove the stored property.
    std::optional<APMValue> value;
    // Empty: active from the start.
    std::string triggerEventName;
    double triggerTimeout = 0;  // seconds, counted from creationTimestamp
    double timeToLive = 0;      // seconds, counted from triggeredTimestamp
    std::optional<APMEvent> triggeredEvent;
    std::optional<APMEvent> timedOutEvent;
    // On a clear request it carries the clear event.
    std::optional<APMEvent> expiredEvent;
    double creationTimestamp = 0;  // seconds since 1970, set when a set request is accepted
    bool active = false;
    double triggeredTimestamp = 0;  // seconds since 1970

    bool isActive() const { return active; }
};

// Origin, name, value (when there is one), time-out and time to live, in this
// order; the first failure is logged and answers false.
bool APMIsValidConditionalUserProperty(const APMConditionalUserProperty& property);

class APMConditionalUserPropertyController
    : public std::enable_shared_from_this<APMConditionalUserPropertyController> {
public:
    // Where the controller finds the engine (its worker queue, database,
    // clock and event road); none when there is no engine.
    using EngineSource = std::function<std::shared_ptr<APMMeasurement>()>;

    // The process's controller, working on the engine's shared instance.
    static std::shared_ptr<APMConditionalUserPropertyController> sharedInstance();
    // A controller working on the engine `engine` answers.
    static std::shared_ptr<APMConditionalUserPropertyController> create(EngineSource engine);

    // Any thread. The copy named `name` is validated here (an invalid one is
    // dropped) and stored later on the worker queue; one without a value
    // removes the stored property of that name instead.
    void setConditionalUserProperty(const std::optional<APMConditionalUserProperty>& property,
                                    const std::string& name);
    // Any thread. Removes the property of a valid name later on the worker
    // queue, logging `clearEvent` when one is given and the property existed.
    void clearConditionalUserPropertyWithClearEvent(const std::optional<APMEvent>& clearEvent,
                                                    const std::string& name);
    // Any thread; waits for the worker queue. Properties whose name begins
    // with `prefix` and whose origin matches `origin` (each only when not
    // empty; both are LIKE patterns, ASCII case ignored), in the store's
    // order; none on failure.
    std::optional<std::vector<APMConditionalUserProperty>> conditionalUserPropertiesWithNamePrefix(
        const std::optional<std::string>& prefix, const std::optional<std::string>& origin);

    // Worker queue.
    void setConditionalUserPropertyOnWorkerQueue(const std::optional<APMConditionalUserProperty>& property);
    void removeConditionalUserPropertyOnWorkerQueue(const std::optional<APMConditionalUserProperty>& property);
    // The pass every event makes before it is stored: removes timed-out and
    // expired properties (writing their events through the filtered write),
    // activates the properties the event's name triggers and answers their
    // triggered events, to be written after the event. None when the pass
    // failed and was rolled back whole.
    std::optional<std::vector<APMEvent>> processEventOnWorkerQueue(const APMEvent* event);
    // Steps of that pass, inside its transaction; false aborts it.
    [[nodiscard]] bool removeTimedOutCUPWithTimedOutEvents(std::vector<APMEvent>& timedOutEvents);
    [[nodiscard]] bool removeExpiredCUPWithExpiredEvents(std::vector<APMEvent>& expiredEvents);
    std::optional<std::vector<APMEvent>> updateConditionalUserPropertiesWithEventNameOnWorkerQueue(
        const std::string& eventName);

    explicit APMConditionalUserPropertyController(EngineSource engine);

private:
    void scheduleOnWorkerQueue(const APMMeasurement& engine, const std::string& blockID,
                               std::function<void(APMConditionalUserPropertyController&)> block);

    const EngineSource engine_;
};
