// Event intake: the road from the public call onto the worker queue, the
// default event parameters and the backfills that rewrite stored events.

#include <cmath>
#include <cstdlib>
#include <limits>

#include "measurement/engine/APMEngineWiring.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMMeasurementEventSupport.h"
#include "measurement/interface/APMDataTypeValidator.h"
#include "measurement/interface/APMErrorEvents.h"
#include "measurement/interface/APMEventNames.h"
#include "measurement/interface/APMParameterSanitizer.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMNameMaps.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMScheduler.h"

namespace {

// Events of the engine itself and ad exposures never reach listeners or
// interceptors.
bool isInternalOrAdExposureEvent(const APMEvent& event) {
    return event.origin() == "am" || event.name() == "_xa" || event.name() == "_xu";
}

std::string describe(const std::optional<APMObjectParameters>& parameters) {
    if (!parameters) return "(null)";
    APMParameters typed;
    for (const auto& [name, object] : *parameters) {
        if (auto value = APMValue::valueFromObject(&object, true)) typed.set(name, std::move(*value));
    }
    return APMObjectDescription(typed);
}

}  // namespace

bool APMIsAcceptableEventTimestamp(double seconds) {
    // Below one millisecond the wire time is 0; beyond the year 9999 (or not
    // a number) the queue refuses the bundle and would stall behind it.
    constexpr double kLatest = 253402300799.0;  // 9999-12-31T23:59:59Z
    return std::isfinite(seconds) && seconds >= 0.001 && seconds <= kLatest;
}

APMBytes APMEncodedEvent(const APMEvent& event) {
    auto proto = event.protoEvent();
    auto buffer = proto ? proto->protoBuffer() : std::nullopt;
    if (!buffer) return {};
    return APMBytes(buffer->bytes(), buffer->bytes() + buffer->length());
}

// MARK: - The road onto the worker queue

void APMMeasurement::logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                        std::optional<APMObjectParameters> parameters, double timestamp,
                                        bool enabled, bool ignoreEnabled, bool ignoreInterceptor,
                                        EventInterceptor interceptor,
                                        std::optional<APMObjectParameters> addedScreenParameters) {
    // The block keeps the engine alive until it has run.
    scheduler_->scheduleOnWorkerQueue(
        "APMMeasurement:2445",
        [self = shared_from_this(), origin, isPublicEvent, name, parameters = std::move(parameters), timestamp,
         enabled, ignoreEnabled, ignoreInterceptor, interceptor = std::move(interceptor),
         screen = std::move(addedScreenParameters)] {
            self->logEventOnWorkerQueueWithOrigin(origin, isPublicEvent, name, parameters, timestamp, enabled,
                                                  ignoreEnabled, ignoreInterceptor, interceptor, screen);
        });
}

void APMMeasurement::logEventOnWorkerQueueWithOrigin(const std::string& origin, bool isPublicEvent,
                                                     const std::string& name,
                                                     std::optional<APMObjectParameters> parameters, double timestamp,
                                                     bool enabled, bool ignoreEnabled, bool ignoreInterceptor,
                                                     const EventInterceptor& interceptor,
                                                     const std::optional<APMObjectParameters>& addedScreenParameters) {
    if (!ignoreInterceptor && APMIsNotErrorEventName(name)) {
        parameters = parametersWithAddedDefaultEventParameters(parameters);
    }
    std::optional<APMEvent> event;
    if (APMIsAcceptableEventTimestamp(timestamp)) {
        event = APMEvent::initWithOrigin(origin, isPublicEvent, name, timestamp, 0,
                                         parameters.value_or(APMObjectParameters{}));
    }
    if (!event) {
        monitor()->log(1, 23219, "Attempted to log nil event. Origin, name, parameters", origin,
                       APMEventDisplayName(name), describe(parameters));
        return;
    }
    if (addedScreenParameters && !addedScreenParameters->empty()) (void)event->addScreenParameters(*addedScreenParameters);

    if (!enabled && !ignoreEnabled) {
        logEventOnWorkerQueue(std::move(*event), false);
    } else if (isInternalOrAdExposureEvent(*event)) {
        logEventOnWorkerQueue(std::move(*event), false);
    } else if (!ignoreInterceptor && isPublicEvent && interceptor) {
        APMObjectParameters merged = parameters.value_or(APMObjectParameters{});
        if (addedScreenParameters && !addedScreenParameters->empty()) {
            // A screen parameter replaces a parameter of the same name.
            for (const auto& entry : *addedScreenParameters) merged.push_back(entry);
            merged = APMUniqueObjectParameters(merged);
        }
        interceptor(origin, name, merged, timestamp);
    } else {
        logEventOnWorkerQueue(std::move(*event), true);
    }
}

void APMMeasurement::logEventOnWorkerQueue(APMEvent event, bool notifyEventListeners) {
    if (!notifyEventListeners || !hasEventListeners()) {
        handleEventOnWorkerQueue(event);
        return;
    }
    // Listeners hear of the event as it was before the pipeline, once it has been handled.
    APMEvent copy = event.copy();
    handleEventOnWorkerQueue(event);
    seams_.notifyEventListeners(std::move(copy));
}

void APMMeasurement::logEvent(std::optional<APMEvent> event) {
    if (!event || !APMIsAcceptableEventTimestamp(event->timestamp())) {
        monitor()->log(4, 23048, "Attempted to log nil event");
        return;
    }
    scheduleWeakly("APMMeasurement:2551",
                   [event = std::move(*event)](APMMeasurement& self) mutable { self.handleEventOnWorkerQueue(event); });
}

// MARK: - Default event parameters

std::optional<APMObjectParameters> APMMeasurement::parametersWithAddedDefaultEventParameters(
    const std::optional<APMObjectParameters>& parameters) {
    const std::optional<APMParameters> defaults = persistedConfig_->defaultEventParameters();
    if (!defaults || defaults->empty()) return parameters;
    APMObjectParameters merged = APMObjectParametersFrom(*defaults);
    if (parameters) merged.insert(merged.end(), parameters->begin(), parameters->end());
    // An event parameter replaces a default of the same name.
    return APMUniqueObjectParameters(merged);
}

void APMMeasurement::setDefaultEventParameters(std::optional<DefaultParameterEntries> parameters) {
    scheduleWeakly("APMMeasurement:2559", [parameters = std::move(parameters)](APMMeasurement& self) {
        const bool backfill = self.shouldBackfillEvents();
        self.handleSetDefaultEventParametersOnWorkerQueue(parameters, backfill);
    });
}

bool APMMeasurement::shouldBackfillEvents() {
    const auto database = this->database();
    if (!database) return false;
    auto events = database->allRawEvents();
    if (!events.value || events.value->empty()) return false;
    const double start = initTimestamp();
    for (const APMRawEventRecord& record : *events.value) {
        if (record.timestamp < start) continue;
        APMError error;
        auto data = APMRawEventData::fromRecord(record, &error);
        if (data && data->rawEvent.origin().rfind("app", 0) == 0) return false;
    }
    return true;
}

void APMMeasurement::handleSetDefaultEventParametersOnWorkerQueue(
    const std::optional<DefaultParameterEntries>& parameters, bool backfillEvents) {
    (void)scheduler_->checkOnBackgroundThread("handleSetDefaultEventParametersOnWorkerQueue:");
    const auto& log = monitor();
    APMParameters set = persistedConfig_->defaultEventParameters().value_or(APMParameters{});
    if (!parameters) set = APMParameters{};
    for (const auto& [name, object] : parameters.value_or(DefaultParameterEntries{})) {
        if (object) {
            const auto* property = std::get_if<platform::PropertyValue>(&*object);
            const bool scalar = !property || property->isNumber() || property->asString() ||
                                property->kind() == platform::PropertyValue::Kind::Boolean;
            if (!scalar) {
                if (property->asArray()) APMLogErrorCodeEvent(27);
                log->log(4, 23213, "Invalid key in default event parameters. Parameter ignored.");
                continue;
            }
            if (const auto* value = std::get_if<APMValue>(&*object); value && value->isArray()) {
                APMLogErrorCodeEvent(27);
                log->log(4, 23213, "Invalid key in default event parameters. Parameter ignored.");
                continue;
            }
        }
        APMValidationFailure failure = APMValidationFailure::None;
        if (!APMDataTypeValidator::isValidPublicEventParameterName(name, &failure)) {
            log->log(4, 23214, "Invalid default event parameter name. Name", name);
            continue;
        }
        if (!object) {
            (void)set.erase(name);
            continue;
        }
        std::optional<APMValue> value = APMValue::valueFromObject(&*object);
        if (value && APMDataTypeValidator::isValidPublicEventParameterValue(&*value, &failure)) {
            set.set(name, std::move(*value));
        }
    }
    const std::int32_t limit = configuration()->maxPublicEventParams();
    if (static_cast<std::int64_t>(set.size()) > limit) {
        APMTrimPublicParametersToLimit(set, static_cast<std::size_t>(std::max(limit, 0)));
        APMLogErrorCodeEvent(26);
        log->log(4, 23215, "Too many default event parameters set. Discarding beyond event parameter limit");
    }
    if (backfillEvents) {
        const double start = initTimestamp();
        backfillEventsWithParameters(set, true,
                                     [start](const APMRawEventData& event) { return event.rawEvent.timestamp() >= start; });
        if (log->isLoggable(7)) {
            log->log(7, 23272, "Updating default event parameters with backfill. Parameters", APMObjectDescription(set));
        }
    } else if (log->isLoggable(7)) {
        log->log(7, 23216, "Updating default event parameters. Parameters", APMObjectDescription(set));
    }
    persistedConfig_->setDefaultEventParameters(set);
}

void APMMeasurement::backfillEventsWithParameters(const APMParameters& parameters, bool isPublic,
                                                  const std::function<bool(const APMRawEventData&)>& eventFilter) {
    if (parameters.empty()) return;
    const auto database = this->database();
    if (!database) return;
    const auto& log = monitor();
    auto events = database->allRawEvents();
    if (!events.value) {
        log->log(1, 23270, "Unable to backfill events with default event parameters. Fetch failed. Error",
                 events.error ? APMLogContext(*events.error) : APMLogContext("(null)"));
        return;
    }
    const APMObjectParameters objects = APMObjectParametersFrom(parameters);
    long failures = 0;
    std::optional<APMError> lastError;
    for (const APMRawEventRecord& record : *events.value) {
        APMError error;
        std::optional<APMRawEventData> data = APMRawEventData::fromRecord(record, &error);
        if (!data) continue;  // an unreadable row keeps its contents
        if (eventFilter && !eventFilter(*data)) continue;
        data->rawEvent.applyParameters(objects, isPublic);
        APMRawEventRecord updated = record;
        updated.data = APMEncodedEvent(data->rawEvent);
        if (!database->updateRawEvent(updated, &error)) {
            ++failures;
            lastError = error;
        }
    }
    if (failures >= 1) {
        log->log(1, 23271, "Unable to backfill some events with default event parameters. Update failed. Count, last error",
                 failures, lastError ? APMLogContext(*lastError) : APMLogContext("(null)"));
    }
}

void APMMeasurement::backfillSessionID(const APMValue& sessionID, const APMValue& sessionNumber) {
    const APMParameters parameters{{"_sid", sessionID}, {"_sno", sessionNumber}};
    const double start = backfillStartTimestampForSessionID(sessionID);
    std::map<std::int64_t, bool> cache;
    backfillEventsWithParameters(parameters, false, [&](const APMRawEventData& event) {
        return shouldBackfillSessionID(sessionID, start, cache, event);
    });
}

double APMMeasurement::backfillStartTimestampForSessionID(const APMValue& sessionID) {
    const double fallback = static_cast<double>(sessionID.int64Value()) - 15.0;
    const auto database = this->database();
    if (!database) return fallback;
    auto events = database->allRawEvents();
    if (!events.value) return fallback;
    for (const APMRawEventRecord& record : *events.value) {
        if (record.name == "_f") return record.timestamp;
    }
    return fallback;
}

bool APMMeasurement::shouldBackfillSessionID(const APMValue&, double startTimestamp,
                                             std::map<std::int64_t, bool>& fingerprintToSessionIDExistence,
                                             const APMRawEventData& event) {
    if (event.rawEvent.timestamp() < startTimestamp) return false;
    if (auto cached = fingerprintToSessionIDExistence.find(event.metadataFingerprint);
        cached != fingerprintToSessionIDExistence.end()) {
        return !cached->second;
    }
    const auto database = this->database();
    if (!database) return false;
    auto metadata = database->queryRawEventsMetadataWithFingerprint(event.metadataFingerprint);
    if (metadata.error) {
        monitor()->log(1, 23273, "Unable to backfill session ID. Fetch metadata failed. Error", *metadata.error);
        return false;
    }
    const bool hasSessionID = metadata.value && APMMetadataHasUserAttributeNamed(*metadata.value, "_sid");
    fingerprintToSessionIDExistence[event.metadataFingerprint] = hasSessionID;
    return !hasSessionID;
}

// MARK: - First open

APMParameters APMMeasurement::firstOpenConsentedEventParams() {
    const std::int64_t previous = persistedConfig_->previousFirstOpenCount();
    std::int64_t unwantedAttribution = 0;
    if (const auto database = this->database()) {
        auto firstInstall = database->userAttributeWithName("_fi");
        if (firstInstall.value && firstInstall.value->value().int64Value() <= 0) unwantedAttribution = 1;
    }
    return APMParameters{{"_pfo", APMValue(std::max<std::int64_t>(previous - 1, 0))},
                         {"_uwa", APMValue(unwantedAttribution)}};
}

APMParameters APMMeasurement::paramsWithAddedFirstOpenConsentedEventParams(const APMParameters& parameters) {
    APMParameters result = firstOpenConsentedEventParams();
    for (const auto& [name, value] : parameters) result.set(name, value);
    return result;
}

std::optional<std::string> APMMeasurement::previousFirstOpenCount() {
    return std::to_string(persistedConfig_->previousFirstOpenCount());
}

void APMMeasurement::setPreviousFirstOpenCount(const std::optional<std::string>& count) {
    if (!count) {
        persistedConfig_->setPreviousFirstOpenCount(0);
        return;
    }
    // Read as leading digits, saturating, 0 for none.
    const long long parsed = std::strtoll(count->c_str(), nullptr, 10);
    persistedConfig_->setPreviousFirstOpenCount(parsed);
}
