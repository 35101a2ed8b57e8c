// Bundling-time counting: conversion and real-time daily limits, event
// aggregates, the customer type of purchases and the analytics-storage
// consent transitions.

#include "measurement/engine/APMEngineWiring.h"
#include "measurement/engine/APMLifetimeValueRecorder.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMMeasurementEventSupport.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMEnvironmentInfo.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMNameMaps.h"
#include "measurement/storage/APMPersistedConfig.h"

namespace {

bool isCustomerTypeEventName(const std::string& name) {
    return name == "_iap" || name == "purchase" || name == "in_app_purchase" || name == "ecommerce_purchase";
}

bool isAnalyticsStorageDeniedInSignals(const std::optional<std::string>& signals) {
    if (!signals || signals->size() < 4) return false;
    const char c = (*signals)[3];
    return c == '0' || c == 'd' || c == 'D';
}

}  // namespace

bool APMMeasurement::checkConversion(APMEvent& event, APMDailyCounts& dailyCounts) {
    const auto config = configuration();
    if (config->isEventCustomConversion(event.name())) event.setConversion(true);
    if (!event.name().empty() && event.name()[0] == '_') return false;
    if (!event.isConversion()) return false;
    if (dailyCounts.conversionsCount() < config->maxConversionsPerDay()) {
        dailyCounts.incrementCountsForCurrentDay(currentDayNumber(), false, true);
        dailyCounts.decrementAllEventsCount();
        return true;
    }
    event.setConversion(false);
    monitor()->log(3, 23102, "Too many conversion events. Not logging event as conversion. Name, limit", event.name(),
                   config->maxConversionsPerDay());
    incrementOnWorkerQueueDiagnosticsSignal("conversion_downgrade", "");
    return false;
}

bool APMMeasurement::checkRealtime(APMEvent& event, APMDailyCounts& dailyCounts) {
    if (!event.isRealtime() && !event.isConversion()) return false;
    const auto config = configuration();
    const auto& log = monitor();
    const bool debug = isDebugMode();
    const std::string& name = event.name();
    if (!debug && name != "_iap" && name != "_f" && name != "_dcu" && name != "_fx") {
        if (dailyCounts.realtimeCount() >= config->maxRealtimeEventCountPerDay()) {
            event.setRealtime(false);
            if (log->isLoggable(4)) {
                log->log(4, 23104,
                         "Number of real-time events is over the real-time event count daily limit. Event is no longer "
                         "real-time. Event name, parameters",
                         name, APMObjectDescription(event.parameters()));
            }
            return false;
        }
        dailyCounts.incrementRealtimeCountsForCurrentDay(currentDayNumber());
        event.setRealtime(true);
        if (log->isLoggable(7)) {
            log->log(7, 23103,
                     "Event is under real-time event count daily limit. Marking the event as real-time. Event name, "
                     "parameters",
                     name, APMObjectDescription(event.parameters()));
        }
        return true;
    }
    if (debug || name != "_dcu") {
        event.setRealtime(true);
        if (log->isLoggable(7)) {
            log->log(7, 23105,
                     "Event is not subject to real-time event count daily limit. Marking an event as real-time. Event "
                     "name, parameters",
                     name, APMObjectDescription(event.parameters()));
        }
        return false;
    }
    if (dailyCounts.dcuRealtimeCount() < config->maxRealtimeDCUEventCountPerDay()) {
        dailyCounts.incrementDCURealtimeCountsForCurrentDay(currentDayNumber());
        event.setRealtime(true);
        return true;
    }
    event.setRealtime(false);
    return false;
}

APMEvent APMMeasurement::purchaseEventWithCustomerTypeParam(const APMEvent& event) {
    if (!configuration()->customerTypeEnabled() || !isCustomerTypeEventName(event.name())) return event;
    const auto database = this->database();
    if (!database) return event;
    auto all = database->allEventAggregates();
    if (!all.value) {
        monitor()->log(1, 23274, "Failed to query all event aggregates. Error",
                       all.error ? APMLogContext(*all.error) : APMLogContext("(null)"));
        return event;
    }
    bool returning = false;
    for (const APMEventAggregates& aggregates : *all.value) {
        returning = returning || (isCustomerTypeEventName(aggregates.name()) && aggregates.lifetimeCount() > 0);
    }
    APMObjectParameters parameters = APMObjectParametersFrom(event.parameters());
    parameters.emplace_back("_ct", APMValue(returning ? "returning" : "new"));
    return event.copyWithParameters(APMUniqueObjectParameters(parameters));
}

std::optional<std::vector<APMEvent>> APMMeasurement::eventsAfterUpdatingEventAggregates(
    const std::vector<APMEvent>& events, bool allowEventFilterEvaluation) {
    const auto database = this->database();
    if (!database) return std::nullopt;
    const auto& log = monitor();
    std::vector<APMEvent> result;
    result.reserve(events.size());
    for (const APMEvent& original : events) {
        APMEvent event = purchaseEventWithCustomerTypeParam(original);
        auto stored = database->eventAggregatesWithName(event.name());
        if (!stored.value && stored.error) {
            log->log(1, 23107, "Failed to query event aggregates. Name, error", event.name(), *stored.error);
            return std::nullopt;
        }
        std::optional<APMEventAggregates> aggregates = std::move(stored.value);
        if (aggregates) {
            event = event.copyWithPreviousTimestamp(aggregates->lastFireTimestamp);
            aggregates->incrementCurrentBundleCount();
            aggregates->incrementLifetimeCount();
            aggregates->incrementCurrentSessionCount();
            aggregates->lastFireTimestamp = event.timestamp();
        } else {
            aggregates.emplace(event.name(), 1, 1, 1, event.timestamp());
        }
        APMError error;
        if (!database->updateEventAggregates(*aggregates, &error)) {
            log->log(1, 23108, "Failed to update event aggregates. Error", error);
            return std::nullopt;
        }
        if (allowEventFilterEvaluation && audienceBundleWork_ &&
            !audienceBundleWork_->evaluateEvent(event, *aggregates)) {
            return std::nullopt;
        }
        result.push_back(std::move(event));
    }
    return result;
}

void APMMeasurement::handleAnalyticsStorageConsentTransitions(const APMPBMeasurementBundle& bundle) {
    const std::optional<std::string> previous = persistedConfig_->previousBundledConsentSignals();
    const std::optional<std::string> current = APMPBGetString(bundle, APMBundleSlotForTag(52));
    if (previous && current && *previous == *current) return;
    const bool wasDenied = isAnalyticsStorageDeniedInSignals(previous);
    const bool isDenied = isAnalyticsStorageDeniedInSignals(current);
    const auto database = this->database();
    APMError error;
    if (database && !wasDenied && isDenied && !database->createEventsSnapshotTable(&error)) {
        monitor()->log(4, 23266, "Unable to create table snapshot. Error", error);
    }
    if (database && wasDenied && !isDenied && !database->restoreFromEventsSnapshotTable(&error)) {
        monitor()->log(4, 23267, "Unable to restore from table snapshot. Error", error);
    }
    // The snapshot and the restore above live in the bundle's transaction;
    // the mark of what was bundled last must share their fate.
    whenCommitted([this, current] { persistedConfig_->setPreviousBundledConsentSignals(current); });
}

// MARK: - Purchases at bundling time

APMRawEventData APMMeasurement::internalEventFromPublicEvent(const APMRawEventData& rawEvent) {
    const auto& map = APMPublicToInternalEventNameMap();
    const auto internal = map.find(rawEvent.rawEvent.name());
    if (internal == map.end()) return rawEvent;
    const APMEvent& event = rawEvent.rawEvent;
    std::optional<APMEvent> renamed =
        APMEvent::initWithOrigin(event.origin(), false, internal->second, event.timestamp(),
                                 event.previousTimestamp(), APMObjectParametersFrom(event.parameters()));
    if (!renamed) return rawEvent;
    return APMRawEventData{std::move(*renamed), rawEvent.rowID, rawEvent.metadataFingerprint};
}

APMRawEventData APMMeasurement::processInAppPurchaseEvent(const APMRawEventData& rawEvent) {
    if (rawEvent.rawEvent.name() != "_iap") return rawEvent;
    if (rawEvent.rawEvent.origin().rfind("app", 0) == 0) return processManualInAppPurchaseEvent(rawEvent);
    return validateAutomaticInAppPurchaseEvent(rawEvent);
}

APMRawEventData APMMeasurement::validateAutomaticInAppPurchaseEvent(const APMRawEventData& rawEvent) {
    const APMEvent& event = rawEvent.rawEvent;
    if (event.name() != "_iap" || event.origin().rfind("auto", 0) != 0) return rawEvent;
    APMObjectParameters parameters = APMObjectParametersFrom(event.parameters());
    if (!event.parameters().contains("sandbox") && APMAEU::isASRS()) {
        parameters.emplace_back("sandbox", APMValue(std::int64_t{1}));
    }
    return APMRawEventData{event.copyWithParameters(parameters), rawEvent.rowID, rawEvent.metadataFingerprint};
}

APMRawEventData APMMeasurement::processManualInAppPurchaseEvent(const APMRawEventData& rawEvent) {
    const APMEvent& event = rawEvent.rawEvent;
    APMParameters parameters = event.parameters();
    const APMValue* quantity = parameters.find("quantity");
    if (!quantity || !(quantity->isInt64() || quantity->isDouble())) parameters.set("quantity", APMValue(std::int64_t{1}));
    for (const char* name : {"price", "value"}) {
        const APMValue* amount = parameters.find(name);
        if (!amount || !(amount->isInt64() || amount->isDouble())) continue;
        // An amount that has no 64-bit form in millionths stays as it was.
        const APMMillionths millionths = APMMillionthsFromValue(*amount, APMMillionthsRounding::TowardZero);
        if (millionths.status == APMMillionths::Status::Ok) parameters.set(name, APMValue(millionths.value));
    }
    return APMRawEventData{event.copyWithParameters(APMObjectParametersFrom(parameters)), rawEvent.rowID,
                           rawEvent.metadataFingerprint};
}
