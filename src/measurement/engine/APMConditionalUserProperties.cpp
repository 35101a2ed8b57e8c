#include "measurement/engine/APMConditionalUserProperties.h"

#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMMeasurementEventSupport.h"
#include "measurement/interface/APMDataTypeValidator.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMNameMaps.h"
#include "measurement/storage/APMScheduler.h"

namespace {

using Record = APMConditionalUserPropertyRecord;

APMMonitor& monitor() { return *APMMeasurement::monitor(); }

APMLogContext errorContext(const std::optional<APMError>& error) {
    return error ? APMLogContext(*error) : APMLogContext("(null)");
}

std::string displayName(const std::string& name) { return APMUserPropertyDisplayName(name); }

// A delete that "fails" without an error found nothing to delete.
bool failedWithError(bool succeeded, const APMError& error) { return !succeeded && !error.domain.empty(); }

bool isWithinIntervalLimits(double seconds) {
    // Written so that NaN falls outside.
    return seconds >= kAPMMinConditionalUserPropertyInterval && seconds <= kAPMMaxConditionalUserPropertyInterval;
}

std::optional<APMBytes> encoded(const std::optional<APMEvent>& event) {
    if (!event) return std::nullopt;
    APMBytes bytes = APMEncodedEvent(*event);
    if (bytes.empty()) return std::nullopt;
    return bytes;
}

// `ok` turns false when stored bytes are there but do not decode.
std::optional<APMEvent> decoded(const std::optional<APMBytes>& bytes, bool& ok) {
    if (!bytes) return std::nullopt;
    auto proto = APMPBEvent::initWithBuffer(*bytes);
    std::optional<APMEvent> event = proto ? APMEvent::initWithEventProto(*proto) : std::nullopt;
    if (!event) ok = false;
    return event;
}

Record recordFromProperty(const APMConditionalUserProperty& property) {
    Record record;
    record.name = property.name;
    record.origin = property.origin.value_or("");
    record.value = property.value;
    record.creationTimestamp = property.creationTimestamp;
    record.active = property.active;
    record.triggerTimeout = property.triggerTimeout;
    record.triggeredTimestamp = property.triggeredTimestamp;
    record.timeToLive = property.timeToLive;
    if (!property.triggerEventName.empty()) record.triggerEventName = property.triggerEventName;
    record.triggeredEvent = encoded(property.triggeredEvent);
    record.timedOutEvent = encoded(property.timedOutEvent);
    record.expiredEvent = encoded(property.expiredEvent);
    return record;
}

// None when one of the stored events does not decode.
std::optional<APMConditionalUserProperty> propertyFromRecord(const Record& record) {
    APMConditionalUserProperty property;
    bool ok = true;
    property.name = record.name;
    property.origin = record.origin;
    property.value = record.value;
    property.triggerEventName = record.triggerEventName.value_or("");
    property.triggerTimeout = record.triggerTimeout;
    property.timeToLive = record.timeToLive;
    property.triggeredEvent = decoded(record.triggeredEvent, ok);
    property.timedOutEvent = decoded(record.timedOutEvent, ok);
    property.expiredEvent = decoded(record.expiredEvent, ok);
    property.creationTimestamp = record.creationTimestamp;
    property.active = record.active;
    property.triggeredTimestamp = record.triggeredTimestamp;
    if (!ok) return std::nullopt;
    return property;
}

// The event logged for a property: its origin, not public, the name and
// parameters the caller chose, no previous time.
std::optional<APMEvent> eventToLog(const std::string& origin, const APMEvent& chosen, double timestamp) {
    return APMEvent::initWithOrigin(origin, false, chosen.name(), timestamp, 0,
                                    APMObjectParametersFrom(chosen.parameters()));
}

// The same from a stored event. A stored event that no longer decodes
// cannot be logged; its property still moves on, so that one damaged row
// does not fail every later pass.
std::optional<APMEvent> eventToLog(const Record& record, const std::optional<APMBytes>& stored, double timestamp) {
    bool ok = true;
    std::optional<APMEvent> chosen = decoded(stored, ok);
    return chosen ? eventToLog(record.origin, *chosen, timestamp) : std::nullopt;
}

}  // namespace

bool APMIsValidConditionalUserProperty(const APMConditionalUserProperty& property) {
    const auto text = [](const std::optional<std::string>& value) -> APMOptionalText {
        return value ? APMOptionalText(*value) : std::nullopt;
    };
    if (!APMDataTypeValidator::isValidConditionalUserPropertyOrigin(text(property.origin), nullptr) ||
        !APMDataTypeValidator::isValidConditionalUserPropertyName(property.name, nullptr) ||
        (property.value && !APMDataTypeValidator::isValidConditionalUserPropertyValue(&*property.value, nullptr))) {
        return false;
    }
    if (!isWithinIntervalLimits(property.triggerTimeout)) {
        monitor().log(2, 11000, "Invalid conditional user property trigger timeout", property.triggerTimeout);
        return false;
    }
    if (!isWithinIntervalLimits(property.timeToLive)) {
        monitor().log(2, 11001, "Invalid conditional user property time to live", property.timeToLive);
        return false;
    }
    return true;
}

APMConditionalUserPropertyController::APMConditionalUserPropertyController(EngineSource engine)
    : engine_(std::move(engine)) {}

std::shared_ptr<APMConditionalUserPropertyController> APMConditionalUserPropertyController::sharedInstance() {
    static const auto shared = create([]() -> std::shared_ptr<APMMeasurement> {
        return APMMeasurement::hasSharedInstance() ? APMMeasurement::sharedInstance() : nullptr;
    });
    return shared;
}

std::shared_ptr<APMConditionalUserPropertyController> APMConditionalUserPropertyController::create(EngineSource engine) {
    return std::make_shared<APMConditionalUserPropertyController>(std::move(engine));
}

void APMConditionalUserPropertyController::scheduleOnWorkerQueue(
    const APMMeasurement& engine, const std::string& blockID,
    std::function<void(APMConditionalUserPropertyController&)> block) {
    engine.scheduler()->scheduleOnWorkerQueue(blockID, [weak = weak_from_this(), block = std::move(block)] {
        if (const auto self = weak.lock()) block(*self);
    });
}

// MARK: - Any thread

void APMConditionalUserPropertyController::setConditionalUserProperty(
    const std::optional<APMConditionalUserProperty>& property, const std::string& name) {
    if (!property) {
        monitor().log(2, 11002, "Cannot set nil conditional user property");
        return;
    }
    APMConditionalUserProperty copy = *property;
    copy.name = name;
    if (!APMIsValidConditionalUserProperty(copy)) return;
    // Without an engine there is no worker queue to run the request on.
    const auto engine = engine_();
    if (!engine) return;
    copy.creationTimestamp = engine->dispatcher().clock().now();
    scheduleOnWorkerQueue(*engine, "APMConditionalUserPropertyController:88",
                          [copy = std::move(copy)](APMConditionalUserPropertyController& self) {
                              if (copy.value) {
                                  self.setConditionalUserPropertyOnWorkerQueue(copy);
                              } else {
                                  self.removeConditionalUserPropertyOnWorkerQueue(copy);
                              }
                          });
}

void APMConditionalUserPropertyController::clearConditionalUserPropertyWithClearEvent(
    const std::optional<APMEvent>& clearEvent, const std::string& name) {
    if (!APMDataTypeValidator::isValidConditionalUserPropertyName(name, nullptr)) return;
    const auto engine = engine_();
    if (!engine) return;
    APMConditionalUserProperty request;
    request.name = name;
    request.expiredEvent = clearEvent;
    scheduleOnWorkerQueue(*engine, "APMConditionalUserPropertyController:113",
                          [request = std::move(request)](APMConditionalUserPropertyController& self) {
                              self.removeConditionalUserPropertyOnWorkerQueue(request);
                          });
}

std::optional<std::vector<APMConditionalUserProperty>>
APMConditionalUserPropertyController::conditionalUserPropertiesWithNamePrefix(
    const std::optional<std::string>& prefix, const std::optional<std::string>& origin) {
    const auto engine = engine_();
    if (!engine) {
        monitor().log(3, 11021, "Cannot query for conditional user properties. Analytics has not been initialized");
        return std::nullopt;
    }
    if (!engine->isEnabled()) {
        monitor().log(3, 11005, "Cannot query for conditional user properties. Analytics is disabled");
        return std::nullopt;
    }
    const std::string namePrefix = prefix.value_or("");
    const std::string originPattern = origin.value_or("");
    std::optional<std::vector<APMConditionalUserProperty>> answer;
    engine->scheduler()->dispatchSyncOnWorkerQueue("APMConditionalUserPropertyController:162", [&] {
        std::vector<std::string> conditions;
        APMSqliteStore::Parameters parameters;
        // Bound as given: "%" and "_" in them act as wildcards.
        if (!originPattern.empty()) {
            conditions.push_back("origin LIKE ?");
            parameters.emplace_back(originPattern);
        }
        if (!namePrefix.empty()) {
            conditions.push_back("name LIKE ? || '%'");
            parameters.emplace_back(namePrefix);
        }
        std::string condition;
        for (const std::string& part : conditions) condition += (condition.empty() ? "" : " AND ") + part;
        const auto database = engine->database();
        APMResult<std::vector<Record>> rows =
            database ? database->conditionalUserPropertiesWithCondition(condition.empty() ? "1 == 1" : condition,
                                                                        parameters)
                     : APMResult<std::vector<Record>>::none();
        std::optional<APMError> error = rows.error;
        std::vector<APMConditionalUserProperty> properties;
        for (const Record& record : rows.value.value_or(std::vector<Record>{})) {
            auto property = propertyFromRecord(record);
            if (!property) {
                error = APMError::withCode(kAPMDatabaseErrorInvalidData, "Unable to parse conditional user property event");
                break;
            }
            properties.push_back(std::move(*property));
        }
        if (!rows.value || error) {
            monitor().log(2, 11006, "Cannot query for conditional user properties. Name prefix, origin, error",
                          namePrefix, originPattern, errorContext(error));
            return;
        }
        answer = std::move(properties);
    });
    return answer;
}

// MARK: - Worker queue: set and remove

void APMConditionalUserPropertyController::setConditionalUserPropertyOnWorkerQueue(
    const std::optional<APMConditionalUserProperty>& property) {
    const auto engine = engine_();
    if (engine) (void)engine->scheduler()->checkOnBackgroundThread("setConditionalUserPropertyOnWorkerQueue:");
    if (!engine || !engine->isEnabled()) {
        monitor().log(3, 11007, "Cannot set conditional user property. Analytics is disabled");
        return;
    }
    if (!property) {
        monitor().log(2, 11008, "Cannot set nil conditional user property on worker queue");
        return;
    }
    const auto database = engine->database();
    if (!database) return;
    APMConditionalUserProperty incoming = *property;
    const std::string name = displayName(incoming.name);
    std::optional<APMEvent> triggered;
    const bool committed = database->performTransaction([&] {
        auto found = database->conditionalUserPropertyWithName(incoming.name);
        if (found.failed()) {
            monitor().log(1, 11009, "Cannot query conditional user property. Name, origin, error", name,
                          incoming.origin.value_or(""), *found.error);
            return false;
        }
        const std::optional<Record>& saved = found.value;
        if (saved && saved->origin != incoming.origin.value_or("")) {
            monitor().log(5, 11010, "Updating a conditional user property with different origin. Name, origin, saved origin",
                          name, incoming.origin.value_or(""), saved->origin);
        }
        Record row = recordFromProperty(incoming);
        bool newlyActivated = false;
        if (saved && saved->active) {
            // The first trigger's settings stay; the value, time to live and
            // the later outcome events are the new ones.
            row.origin = saved->origin;
            row.creationTimestamp = saved->creationTimestamp;
            row.triggerEventName = saved->triggerEventName;
            row.triggeredEvent = saved->triggeredEvent;
            row.triggerTimeout = saved->triggerTimeout;
        } else if (incoming.triggerEventName.empty()) {
            row.active = true;
            row.triggeredTimestamp = row.creationTimestamp;
            newlyActivated = true;
        }
        if (row.active && row.value) {
            APMError error;
            if (database->updateUserAttribute(APMUserAttribute(row.origin, row.name, *row.value, row.triggeredTimestamp),
                                              &error)) {
                if (monitor().isLoggable(7)) {
                    monitor().log(7, 11012, "User property updated. Name, origin", name, row.origin);
                }
            } else {
                monitor().log(1, 11011, "Cannot update user property from conditional user property. Name, origin, error",
                              name, row.origin, error);
            }
            if (newlyActivated && incoming.triggeredEvent) {
                triggered = eventToLog(row.origin, *incoming.triggeredEvent, row.triggeredTimestamp);
            }
        }
        if (saved && saved->active) {
            row.active = saved->active;
            row.triggeredTimestamp = saved->triggeredTimestamp;
        }
        APMError error;
        if (database->updateConditionalUserProperty(row, &error)) {
            if (monitor().isLoggable(7)) {
                monitor().log(7, 11013, "Conditional user property added. Name, origin", name, row.origin);
            }
        } else {
            // A refused row (such as a full table) keeps what the user
            // property write did.
            monitor().log(1, 11014, "Cannot insert user property from conditional user property. Name, origin, error",
                          name, row.origin, error);
        }
        return true;
    });
    if (committed && triggered) engine->writeEventOnWorkerQueue(*triggered);
}

void APMConditionalUserPropertyController::removeConditionalUserPropertyOnWorkerQueue(
    const std::optional<APMConditionalUserProperty>& property) {
    const auto engine = engine_();
    if (engine) (void)engine->scheduler()->checkOnBackgroundThread("removeConditionalUserPropertyOnWorkerQueue:");
    if (!engine || !engine->isEnabled()) {
        monitor().log(3, 11015, "Cannot remove conditional user property. Analytics is disabled");
        return;
    }
    if (!property) {
        monitor().log(0, 11016, "Cannot remove nil conditional user property on worker queue");
        return;
    }
    const auto database = engine->database();
    if (!database) return;
    const APMConditionalUserProperty& request = *property;
    const std::string name = displayName(request.name);
    std::optional<APMEvent> cleared;
    const bool committed = database->performTransaction([&] {
        auto found = database->conditionalUserPropertyWithName(request.name);
        if (!found.value) {
            if (found.error) {
                monitor().log(1, 11017, "Cannot query conditional user property to remove. Name, origin, error", name,
                              request.origin.value_or(""), *found.error);
                return false;
            }
            monitor().log(4, 11018, "Cannot remove nonexistent conditional user property. Name, origin", name,
                          request.origin.value_or(""));
            return true;
        }
        const Record& saved = *found.value;
        APMError error;
        if (failedWithError(database->deleteConditionalUserPropertyWithName(request.name, &error), error)) {
            monitor().log(1, 11019, "Cannot delete conditional user property. Name, origin, error", name, saved.origin,
                          error);
            return false;
        }
        // An inactive property never set the user property of its name.
        if (saved.active && failedWithError(database->deleteUserAttributeWithName(request.name, &error), error)) {
            monitor().log(1, 11020,
                          "Cannot remove conditional user property. Failed to delete the user property. Name, origin, "
                          "error",
                          name, saved.origin, error);
            return false;
        }
        if (request.expiredEvent) {
            cleared = eventToLog(saved.origin, *request.expiredEvent, engine->dispatcher().clock().now());
        }
        return true;
    });
    if (committed && cleared) engine->writeEventOnWorkerQueue(*cleared);
}

// MARK: - Worker queue: the per-event pass

std::optional<std::vector<APMEvent>> APMConditionalUserPropertyController::processEventOnWorkerQueue(
    const APMEvent* event) {
    if (!event) {
        monitor().log(2, 10000, "Cannot process nil event for conditional user property");
        return std::nullopt;
    }
    const auto engine = engine_();
    const auto database = engine ? engine->database() : nullptr;
    if (!database) return std::nullopt;
    (void)engine->scheduler()->checkOnBackgroundThread("processEventOnWorkerQueue:");
    // Most stores hold no conditional property: one read spares every event
    // an exclusive transaction that would find nothing. A failed read takes
    // the full pass, which reports the failure.
    if (const auto any = database->containsConditionalUserProperties(); any.value && !*any.value) {
        return std::vector<APMEvent>{};
    }
    std::vector<APMEvent> timedOut;
    std::vector<APMEvent> expired;
    std::optional<std::vector<APMEvent>> triggered;
    const bool committed = database->performTransaction([&] {
        if (!removeTimedOutCUPWithTimedOutEvents(timedOut)) return false;
        if (!removeExpiredCUPWithExpiredEvents(expired)) return false;
        triggered = updateConditionalUserPropertiesWithEventNameOnWorkerQueue(event->name());
        return triggered.has_value();
    });
    if (!committed) return std::nullopt;
    for (APMEvent& next : timedOut) engine->writeFilteredEventOnWorkerQueue(next);
    for (APMEvent& next : expired) engine->writeFilteredEventOnWorkerQueue(next);
    return triggered;
}

bool APMConditionalUserPropertyController::removeTimedOutCUPWithTimedOutEvents(std::vector<APMEvent>& timedOutEvents) {
    const auto engine = engine_();
    const auto database = engine ? engine->database() : nullptr;
    if (!database) return false;
    (void)engine->scheduler()->checkOnBackgroundThread("removeTimedOutCUPWithTimedOutEvents:");
    auto rows = database->timedOutConditionalUserProperties();
    if (rows.failed()) {
        monitor().log(1, 10001, "Cannot fetch timed out conditional user properties. Error", *rows.error);
        return false;
    }
    for (const Record& row : rows.value.value_or(std::vector<Record>{})) {
        const std::string name = displayName(row.name);
        if (monitor().isLoggable(7)) monitor().log(7, 10002, "Conditional user property has timed out. Name", name);
        APMError error;
        if (failedWithError(database->deleteConditionalUserPropertyWithName(row.name, &error), error)) {
            monitor().log(1, 10003, "Cannot delete timed out condition user property. Name, error", name, error);
            return false;
        }
        if (auto event = eventToLog(row, row.timedOutEvent, engine->dispatcher().clock().now())) {
            timedOutEvents.push_back(std::move(*event));
        }
    }
    return true;
}

bool APMConditionalUserPropertyController::removeExpiredCUPWithExpiredEvents(std::vector<APMEvent>& expiredEvents) {
    const auto engine = engine_();
    const auto database = engine ? engine->database() : nullptr;
    if (!database) return false;
    (void)engine->scheduler()->checkOnBackgroundThread("removeExpiredCUPWithExpiredEvents:");
    auto rows = database->expiredConditionalUserProperties();
    if (rows.failed()) {
        monitor().log(1, 10004, "Cannot fetch expired conditional user properties. Error", *rows.error);
        return false;
    }
    for (const Record& row : rows.value.value_or(std::vector<Record>{})) {
        const std::string name = displayName(row.name);
        std::optional<APMEvent> event = eventToLog(row, row.expiredEvent, engine->dispatcher().clock().now());
        if (monitor().isLoggable(7)) {
            monitor().log(7, 10005, "Conditional user property has expired. Name, expired event", name,
                          event ? APMLogContext(APMEventDisplayName(event->name())) : APMLogContext("(null)"));
        }
        APMError error;
        if (failedWithError(database->deleteUserAttributeWithName(row.name, &error), error)) {
            monitor().log(1, 10006,
                          "Cannot remove conditional user property. Failed to delete the user property. Name, origin, "
                          "error",
                          name, row.origin, error);
            return false;
        }
        if (failedWithError(database->deleteConditionalUserPropertyWithName(row.name, &error), error)) {
            monitor().log(1, 10007, "Cannot delete expired condition user property. Name, error", name, error);
            return false;
        }
        if (event) expiredEvents.push_back(std::move(*event));
    }
    return true;
}

std::optional<std::vector<APMEvent>>
APMConditionalUserPropertyController::updateConditionalUserPropertiesWithEventNameOnWorkerQueue(
    const std::string& eventName) {
    const auto engine = engine_();
    const auto database = engine ? engine->database() : nullptr;
    if (!database) return std::nullopt;
    (void)engine->scheduler()->checkOnBackgroundThread("updateConditionalUserPropertiesWithEventNameOnWorkerQueue:");
    auto rows = database->triggeredConditionalUserPropertiesWithEventName(eventName);
    if (rows.failed()) {
        monitor().log(1, 10008, "Cannot fetch triggering conditional user properties. Event name, error",
                      APMEventDisplayName(eventName), *rows.error);
        return std::nullopt;
    }
    std::vector<Record> matched = std::move(rows.value).value_or(std::vector<Record>{});
    if (matched.empty() && (eventName == "ad_impression" || eventName == "in_app_purchase")) {
        // Properties may wait for the internal name of these two events.
        auto aliased = database->triggeredConditionalUserPropertiesWithEventName(eventName == "ad_impression" ? "_ai"
                                                                                                             : "_iap");
        matched = std::move(aliased.value).value_or(std::vector<Record>{});
    }
    std::vector<APMEvent> triggered;
    for (Record& row : matched) {
        const std::string name = displayName(row.name);
        const double now = engine->dispatcher().clock().now();
        APMError error;
        if (row.value && database->updateUserAttribute(APMUserAttribute(row.origin, row.name, *row.value, now), &error)) {
            if (monitor().isLoggable(7)) {
                monitor().log(7, 10010, "User property updated. Name, origin, value", name, row.origin, *row.value);
            }
        } else {
            monitor().log(1, 10009, "Cannot update user property from conditional user property. Name, origin, error",
                          name, row.origin, error);
        }
        if (auto event = eventToLog(row, row.triggeredEvent, now)) triggered.push_back(std::move(*event));
        row.active = true;
        row.triggeredTimestamp = now;
        APMError updateError;
        if (failedWithError(database->updateConditionalUserProperty(row, &updateError), updateError)) {
            monitor().log(1, 10011, "Cannot update conditional user property. Name, origin, error", name, row.origin,
                          updateError);
            return std::nullopt;
        }
    }
    return triggered;
}
