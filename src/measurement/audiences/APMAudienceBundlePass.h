#pragma once
// The audience work of building one upload bundle, in the order bundling
// runs it inside its transaction:
//
//   APMAudienceBundlePass pass(audience);
//   if (raw events hold "_s") pass.startSession(bundle's user attributes);
//       then bundling clears the current-session counts itself;
//   per event, after its aggregates were incremented and saved:
//       pass.evaluateEvent(event, aggregates)   (only when analytics storage
//       is not denied);
//   pass.finish(user attributes, evaluation time, bundle)   (only when not
//       denied): evaluates the user attributes, then puts the results into
//       the bundle's audience evaluation results.
//
// Every step answers false on a database failure; bundling must then roll
// its transaction back, which undoes the results already written by the pass.
// One pass shares one timestamps cache across its bundle, reads each filter
// name's rows and each audience's result once, and writes the results the
// events and attributes changed in one batch at `finish`. A pass serves one
// bundle, in the order above.

#include <memory>
#include <utility>
#include <vector>

#include "measurement/audiences/APMAudience.h"
#include "measurement/audiences/APMAudienceTimestampsCache.h"
#include "measurement/messages/APMPBMessages.h"

class APMAudienceBundlePass {
public:
    explicit APMAudienceBundlePass(APMAudience& audience, APMAudienceRegexBudget regexBudget = APMAudienceRegexBudget())
        : audience_(audience), regexBudget_(std::move(regexBudget)), state_(regexBudget_) {}

    // Clears the session-scoped results, then evaluates each attribute
    // without cache and without evaluation time (its own set time).
    [[nodiscard]] bool startSession(const std::vector<std::shared_ptr<APMPBUserAttribute>>& userAttributes);
    // One event with its updated aggregates (which already count the event).
    [[nodiscard]] bool evaluateEvent(const APMEvent& event, const APMEventAggregates& aggregates);
    [[nodiscard]]
    bool evaluateEvent(const std::string& name, const APMParameters& parameters, double timestamp,
                       const APMEventAggregates& aggregates);
    // Evaluates each attribute at `evaluationTime` (the bundle start), then
    // collects the results; a non-empty list becomes the bundle's field 29.
    // A collection failure logs 23113 (level 1).
    [[nodiscard]]
    bool finish(const std::vector<std::shared_ptr<APMPBUserAttribute>>& userAttributes, double evaluationTime,
                APMPBMeasurementBundle& bundle);

    APMAudienceTimestampsCache& cache() { return cache_; }

private:
    APMAudience& audience_;
    APMAudienceTimestampsCache cache_;
    // The events' and the finishing attributes' regular expressions share it;
    // the session start's few attributes are evaluated outside the budget.
    APMAudienceRegexBudget regexBudget_;
    APMAudience::BundleState state_;
};
