#include "measurement/audiences/APMAudienceBundlePass.h"

#include "measurement/interface/APMEvent.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"
#include "measurement/storage/APMMonitor.h"

bool APMAudienceBundlePass::startSession(const std::vector<std::shared_ptr<APMPBUserAttribute>>& userAttributes) {
    if (!audience_.clearEvaluationResultsForSessionScopedFilters()) return false;
    for (const auto& attribute : userAttributes) {
        if (attribute == nullptr) continue;
        if (!audience_.evaluateFiltersForNanoUserProperty(*attribute, nullptr, std::nullopt)) return false;
    }
    return true;
}

bool APMAudienceBundlePass::evaluateEvent(const APMEvent& event, const APMEventAggregates& aggregates) {
    return evaluateEvent(event.name(), event.parameters(), event.timestamp(), aggregates);
}

bool APMAudienceBundlePass::evaluateEvent(const std::string& name, const APMParameters& parameters, double timestamp,
                                          const APMEventAggregates& aggregates) {
    return audience_.evaluateFiltersForEventName(name, parameters, &aggregates, timestamp, cache_, state_);
}

bool APMAudienceBundlePass::finish(const std::vector<std::shared_ptr<APMPBUserAttribute>>& userAttributes,
                                   double evaluationTime, APMPBMeasurementBundle& bundle) {
    for (const auto& attribute : userAttributes) {
        if (attribute == nullptr) continue;
        if (!audience_.evaluateFiltersForNanoUserProperty(*attribute, cache_, evaluationTime, state_)) return false;
    }
    if (!audience_.flushBundleState(state_)) return false;
    std::vector<std::shared_ptr<APMPBAudienceLeafFilterResult>> results;
    if (!audience_.resultsForBundling(&results)) {
        APMMonitor::shared()->log(1, 23113, "Unable to read audience evaluation results");
        return false;
    }
    if (!results.empty()) {
        APMPBSetArray(bundle, MeasurementBundleSlot::AudienceEvaluationResults, APMPBArrayOfMessages(results));
    }
    return true;
}
