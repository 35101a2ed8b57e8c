// Event writing: conditional user properties, the blocklist, default
// conversions and the one transaction that records lifetime value, applies
// the daily limits, decides real-time and stores the raw event.

#include <cmath>

#include "measurement/engine/APMLifetimeValueRecorder.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/interface/APMErrorEvents.h"
#include "measurement/interface/APMEventNames.h"
#include "measurement/interface/APMEventParameterRules.h"
#include "measurement/interface/APMIdentity.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMNameMaps.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMScheduler.h"

namespace {

// Limit lines are written for the first event over the limit and then once
// per thousand further events.
bool isEveryThousandth(std::int64_t excess) { return excess % 1000 == 0; }

bool isSubjectToRealtimeDailyLimit(const APMEvent& event, bool debugMode) {
    const std::string& name = event.name();
    return !debugMode && name != "_iap" && name != "_f" && name != "_dcu" && name != "_fx";
}

bool isDCURealtimeEvent(const APMEvent& event, bool debugMode) { return !debugMode && event.name() == "_dcu"; }

}  // namespace

bool APMMeasurement::isDebugMode() const { return monitor()->isDebugModeEnabled(); }

std::int32_t APMMeasurement::currentDayNumber() const {
    const double day = std::floor((now() - persistedConfig_->midnightOffset()) / 86400.0);
    if (!std::isfinite(day)) return 0;
    return static_cast<std::int32_t>(std::clamp(day, -2147483648.0, 2147483647.0));
}

void APMMeasurement::writeEventOnWorkerQueue(APMEvent& event) {
    (void)scheduler_->checkOnBackgroundThread("writeEventOnWorkerQueue:");
    const auto& log = monitor();
    if (log->isLoggable(7)) {
        log->log(7, 23051, "Logging event: origin, name, params", event.origin(), APMEventDisplayName(event.name()),
                 APMObjectDescription(event.parameters()));
    }
    // Conditional user properties write their timed-out and expired events
    // themselves and answer the events this one triggered.
    std::optional<std::vector<APMEvent>> triggered = processConditionalUserPropertiesOnWorkerQueue(event);
    if (!triggered) {
        log->log(4, 23050, "Unable to process conditional user property. Event name, origin",
                 APMEventDisplayName(event.name()), event.origin());
    }
    writeFilteredEventOnWorkerQueue(event);
    for (APMEvent& next : triggered.value_or(std::vector<APMEvent>{})) writeFilteredEventOnWorkerQueue(next);
}

void APMMeasurement::writeFilteredEventOnWorkerQueue(APMEvent& event) {
    const auto config = configuration();
    const auto& log = monitor();
    if (config->isEventBlocklisted(event.name())) {
        log->log(5, 23052, "Rejected event. Event name", APMEventDisplayName(event.name()));
        if (!config->blocklistInternal() && !config->blocklistPublic() && !APMIsErrorEvent(event)) {
            APMLogErrorEvent(APMErrorCodeEventIsBlocked, event.name(), 40, nullptr);
        }
        incrementOnWorkerQueueDiagnosticsSignal("event_dropped_count", "blocklisted");
        return;
    }
    if (const auto identity = this->identity()) identity->updateIdentifiers();
    if (APMIsDefaultConversionEvent(event.name())) event.setConversion(true);
    const auto database = this->database();
    if (!database) return;
    // A failed write is rolled back whole and logged by the database; the
    // event is not retried.
    (void)performCommittedTransaction(*database, [&] { return writeFilteredEventInTransaction(event); });
}

bool APMMeasurement::writeFilteredEventInTransaction(APMEvent& event) {
    const auto database = this->database();
    const auto& log = monitor();
    if (!updateLifetimeValueWithEvent(event)) return false;
    const bool isPublic = APMIsPublicName(event.name());
    auto counts = database->dailyCounts();
    if (!counts.value) {
        log->log(1, 23054, "Data loss. Unable to query daily event counts. Error",
                 counts.error ? APMLogContext(*counts.error) : APMLogContext("(null)"));
        return false;
    }
    APMDailyCounts dailyCounts = *counts.value;
    const bool isNewEventType = !database->eventAggregatesWithName(event.name()).value.has_value();
    const bool process = shouldProcessEvent(event, dailyCounts, isPublic, isNewEventType);
    const bool realtime = isRealtimeEvent(event, dailyCounts);
    APMError error;
    if (!database->updateDailyCounts(dailyCounts, &error)) {
        log->log(1, 23061, "Data loss. Unable to update daily event counts. Name, error",
                 APMEventDisplayName(event.name()), error);
        return false;
    }
    return process ? writeEvent(event, isPublic, realtime, !isNewEventType) : true;
}

bool APMMeasurement::updateLifetimeValueWithEvent(const APMEvent& event) {
    if (!APMLifetimeValueRecorder::isPurchaseEvent(event)) return true;
    const auto database = this->database();
    if (database && APMLifetimeValueRecorder::recordLifetimeValueToDatabase(
                        *database, event, configuration()->maxTrackedCurrencies(), now())) {
        return true;
    }
    const APMValue* currency = event.parameters().find("currency");
    const APMValue* value = event.parameters().find("value");
    monitor()->log(1, 23053, "Cannot record lifetime value of event. Name, currency code, transaction value",
                   APMEventDisplayName(event.name()), currency ? APMLogContext(*currency) : APMLogContext("(null)"),
                   value ? APMLogContext(*value) : APMLogContext("(null)"));
    return false;
}

bool APMMeasurement::shouldProcessEvent(const APMEvent& event, APMDailyCounts& dailyCounts, bool isPublicEvent,
                                        bool isNewEventType) {
    const auto config = configuration();
    const auto& log = monitor();
    const std::int32_t day = currentDayNumber();
    if (dailyCounts.day() != day) dailyCounts.resetWithNewDay(day);
    const bool isError = APMIsErrorEvent(event);
    const std::string displayName = APMEventDisplayName(event.name());

    bool drop = false;
    bool countAsEvent = true;
    bool cardinalityExceeded = false;
    const std::int64_t allExcess = std::int64_t{dailyCounts.allEventsCount()} - config->maxEventsPerDay();
    if (allExcess >= 0) {
        if (isEveryThousandth(allExcess)) {
            log->log(1, 23055, "Data loss. Too many events logged. Name, limit", displayName, config->maxEventsPerDay());
        }
        drop = true;
        countAsEvent = !isError;
    } else if (isError) {
        const std::int64_t errorExcess = std::int64_t{dailyCounts.errorEventsCount()} - config->maxErrorEventsPerDay();
        if (errorExcess >= 0) {
            drop = true;
            if (isEveryThousandth(errorExcess)) {
                const APMValue* code = event.parameters().find("_err");
                log->log(1, 23056, "Too many error events logged. Error code, limit",
                         code ? APMLogContext(*code) : APMLogContext("(null)"), config->maxErrorEventsPerDay());
            }
        }
        countAsEvent = false;
    }
    const auto& reserved = APMAllowedReservedEventNameMap();
    if (isNewEventType && isPublicEvent && reserved.find(event.name()) == reserved.end()) {
        auto stored = database()->publicEventCount();
        if (!stored.value && stored.error) log->log(1, 23064, "Cannot query event count. Error", *stored.error);
        if (stored.value.value_or(0) >= config->maxEventNameCardinality()) {
            log->log(1, 23065, "Cannot set event. Reached limit on set events. Name", displayName);
            APMLogErrorCodeEvent(APMErrorCodeEventLimitReached);
            drop = true;
            cardinalityExceeded = true;
        }
    }
    if (isPublicEvent && !drop) {
        const std::int64_t publicExcess =
            std::int64_t{dailyCounts.publicEventsCount()} - config->maxPublicEventsPerDay();
        if (publicExcess >= 0) {
            if (isEveryThousandth(publicExcess)) {
                log->log(1, 23057, "Data loss. Too many public events logged. Name, limit", displayName,
                         config->maxPublicEventsPerDay());
            }
            APMLogErrorCodeEvent(APMErrorCodePublicEventLimitReached);
            drop = true;
        }
    }
    if (countAsEvent) {
        const std::int64_t effective = 1 + APMEffectiveEventCount(event);
        dailyCounts.incrementCountsForCurrentDay(day, isPublicEvent, false,
                                                 static_cast<std::int32_t>(std::min<std::int64_t>(effective, 1000000)));
    } else {
        dailyCounts.incrementErrorEventsCountForCurrentDay(day);
    }
    if (drop) {
        incrementOnWorkerQueueDiagnosticsSignal("event_dropped_count",
                                                cardinalityExceeded ? "event_cardinality_exceeded" : "quota_exceeded");
        if (allExcess < 0) dailyCounts.decrementAllEventsCount();
    }
    return !drop;
}

bool APMMeasurement::isRealtimeEvent(APMEvent& event, const APMDailyCounts& dailyCounts) {
    const auto config = configuration();
    const bool debug = isDebugMode();
    const bool subject = isSubjectToRealtimeDailyLimit(event, debug);
    const bool underLimit = dailyCounts.realtimeCount() < config->maxRealtimeEventCountPerDay();
    const bool conversionRealtime =
        (event.isConversion() || config->isEventCustomConversion(event.name())) && (!subject || underLimit);
    if (event.isRealtime() && subject && !underLimit) {
        event.setRealtime(false);
        const auto& log = monitor();
        if (log->isLoggable(4)) {
            log->log(4, 23060, "Too many real-time events. Event is no longer real-time. Event name, parameters",
                     APMEventDisplayName(event.name()), APMObjectDescription(event.parameters()));
        }
    }
    if (event.isRealtime() && isDCURealtimeEvent(event, debug) &&
        dailyCounts.dcuRealtimeCount() >= config->maxRealtimeDCUEventCountPerDay()) {
        event.setRealtime(false);
    }
    maybeAddDebugAndRealtimeParameters(event);
    return event.isRealtime() || conversionRealtime;
}

void APMMeasurement::maybeAddDebugAndRealtimeParameters(APMEvent& event) {
    if (!isDebugMode()) return;
    event.setRealtime(true);
    event.setDebug(true);
    const auto& log = monitor();
    if (log->isLoggable(7)) {
        log->log(7, 23073, "Debug mode is enabled. Marking event as debug and real-time. Event name, parameters",
                 APMEventDisplayName(event.name()), APMObjectDescription(event.parameters()));
    }
}

void APMMeasurement::incrementOnWorkerQueueDiagnosticsSignal(const std::string& signal, const std::string& metadata) {
    incrementOnWorkerQueueByCount(1, signal, metadata);
}

void APMMeasurement::incrementOnWorkerQueueByCount(std::int64_t count, const std::string& signal,
                                                   const std::string& metadata) {
    if (!configuration()->diagnosticsEnabled()) return;
    const auto database = this->database();
    if (!database) return;
    APMError error;
    if (!database->incrementDiagnosticsSignalCountBy(count, signal, metadata, &error)) {
        monitor()->log(1, 23332, "Cannot record diagnostic signal. Error", error);
    }
}
