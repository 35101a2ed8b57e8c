// The event handling pipeline: enabled check, safelist, sessions from
// events, subscription and rollout de-duplication, session-start side
// effects, the event-editing rules, and the writes they lead to.

#include "measurement/engine/APMEngineWiring.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMMeasurementEventSupport.h"
#include "measurement/interface/APMEventNames.h"
#include "measurement/interface/APMEventParameterRules.h"
#include "measurement/messages/MessageType.h"
#include "measurement/messages/RepeatedMessages.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/rules/APMPEventEditing.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMNameMaps.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMScheduler.h"

namespace rules = measurement::rules;

namespace {

platform::PropertyDictionary plainDictionary(const APMObjectParameters& parameters) {
    platform::PropertyDictionary dictionary;
    for (const auto& [name, object] : parameters) {
        if (const auto* property = std::get_if<platform::PropertyValue>(&object)) dictionary[name] = *property;
    }
    return dictionary;
}

APMObjectParameters objectParameters(const platform::PropertyDictionary& dictionary) {
    return APMObjectParametersFrom(dictionary);
}

std::string originOf(const platform::PropertyDictionary& parameters) {
    auto found = parameters.find("_o");
    if (found != parameters.end() && found->second.asString()) return *found->second.asString();
    return "app";
}

}  // namespace

// MARK: - Support shared by the event road

APMBytes APMEncodedMessage(const NANOMessageBase& message) {
    auto buffer = message.protoBuffer();
    return buffer ? buffer->toVector() : APMBytes{};
}

int APMBundleSlotForTag(int tag) {
    const auto* type = measurement::messages::messageTypeNamed("MeasurementBundle");
    const auto* slot = type ? type->slotForTag(static_cast<std::uint32_t>(tag)) : nullptr;
    return slot ? static_cast<int>(slot - type->slots) : -1;
}

bool APMMetadataHasUserAttributeNamed(const APMBytes& encodedBundle, const std::string& name) {
    auto bundle = APMPBMeasurementBundle::initWithBuffer(encodedBundle);
    if (!bundle) return false;
    for (const auto& attribute :
         APMPBGetMessages<APMPBUserAttribute>(*bundle, MeasurementBundleSlot::UserAttributes)) {
        if (APMPBGetString(*attribute, UserAttributeSlot::Name) == name) return true;
    }
    return false;
}

// MARK: - Entry points

void APMMeasurement::handleInternalEventOnWorkerQueue(APMEvent event) {
    if (APMIsNotErrorEventName(event.name())) {
        if (auto defaults = persistedConfig_->defaultEventParameters(); defaults && !defaults->empty()) {
            if (event.name() == "_cmp") *defaults = APMParametersByRemovingVadParameters(*defaults);
            event.applyParameters(APMObjectParametersFrom(*defaults), true);
        }
    }
    handleEventOnWorkerQueue(event);
    if (hasEventListeners()) seams_.notifyEventListeners(event.copy());
}

void APMMeasurement::handleEventOnWorkerQueue(APMEvent& event) {
    (void)scheduler_->checkOnBackgroundThread("handleEventOnWorkerQueue:");
    const auto& log = monitor();
    if (!isEnabled()) {
        log->log(7, 23049, "Analytics is disabled. Event not logged");
        return;
    }
    // A step that changes the event hands on a copy; the caller's object
    // then no longer follows the writes.
    std::optional<APMEvent> replacement;
    APMEvent* current = &event;
    auto replace = [&](APMEvent next) {
        replacement.emplace(std::move(next));
        current = &*replacement;
    };

    std::optional<APMEvent> safelisted = eventAfterSafelistingEvent(*current);
    if (!safelisted) return;
    if (!safelistedEvents_.empty()) replace(std::move(*safelisted));
    processSessionFromEvent(*current);
    if (!dedupeSubscriptionEvent(*current)) return;
    if (shouldDropDuplicatedSessionStartWithRolloutEvent(*current)) return;
    if (auto withRollouts = appExceptionEventWithVeredodaFeatureRollouts(*current)) replace(std::move(*withRollouts));
    writeSessionStartEventOnWorkerQueue(*current);

    const std::shared_ptr<rules::APMPEventEditing> editing = configuration()->eventEditing();
    rules::ErrorSlot error;
    if (editing) {
        const rules::APMPEvent input(current->editEventName(), current->timestamp(),
                                     plainDictionary(current->editEventParameters()));
        // Only the error slot counts: no answer without an error means "unchanged".
        (void)editing->handleEvent(input, error);
    }
    if (error) {
        writeEventOnWorkerQueue(*current);
        log->log(1, 23223, "Event editing failed. Event name", APMEventDisplayName(current->name()));
        // The upload is planned like after any other event.
        updateSchedule();
        return;
    }
    if (editing && editing->hasEdits()) {
        const rules::APMPEvent& output = editing->eventContext().outputEvent();
        std::optional<APMEvent> edited =
            APMEvent::eventFromEditEvent(output.name(), output.timestamp(), objectParameters(output.parameters()));
        if (edited) {
            replace(std::move(*edited));
        } else {
            log->log(1, 23223, "Event editing failed. Event name", APMEventDisplayName(output.name()));
        }
    }
    writeEventOnWorkerQueue(*current);
    if (editing && editing->hasCreatedEvents()) {
        // Copied: a write may run the rules again through nested events.
        const std::vector<rules::APMPEvent> created = editing->eventContext().eventsToLog();
        for (const rules::APMPEvent& entry : created) {
            std::optional<APMEvent> made =
                APMIsAcceptableEventTimestamp(entry.timestamp())
                    ? APMEvent::initWithOrigin(originOf(entry.parameters()), false, entry.name(), entry.timestamp(), 0,
                                               objectParameters(entry.parameters()))
                    : std::nullopt;
            if (!made) {
                log->log(1, 23223, "Event editing failed. Event name", APMEventDisplayName(entry.name()));
                continue;
            }
            writeEventOnWorkerQueue(*made);
        }
    }
    updateSchedule();
}

// MARK: - Steps

std::optional<APMEvent> APMMeasurement::eventAfterSafelistingEvent(const APMEvent& event) {
    if (safelistedEvents_.empty()) return event;
    if (std::find(safelistedEvents_.begin(), safelistedEvents_.end(), event.name()) != safelistedEvents_.end()) {
        APMObjectParameters parameters = APMObjectParametersFrom(event.parameters());
        parameters.emplace_back("va_safelisted", APMValue(std::int64_t{1}));
        return event.copyWithParameters(APMUniqueObjectParameters(parameters));
    }
    monitor()->log(3, 23174, "Event dropped. Reason: not in allowlist. Event name, origin", event.name(), event.origin());
    incrementOnWorkerQueueDiagnosticsSignal("event_dropped_count", "not_safelisted");
    return std::nullopt;
}

void APMMeasurement::processSessionFromEvent(const APMEvent& event) {
    if (APMIsAppActive()) return;
    auto expired = [this] { return isSessionExpired(); };
    if (const APMValue* extend = event.parameters().find("extend_session")) {
        if (extend->isInt64() && extend->int64Value() == 1) {
            if (expired()) {
                reportSessionStartOnWorkerQueue(event.timestamp(), true);
            } else {
                (void)extendSession();
            }
        } else {
            monitor()->log(3, 23179,
                           "extend_session is a reserved parameter. To extend or start a session in the background, "
                           "set an event parameter {@'extend_session': @1}");
        }
    }
    if (expired()) removeSessionUserPropertiesOnWorkerQueue();
}

bool APMMeasurement::dedupeSubscriptionEvent(const APMEvent& event) {
    if (!APMIsSubscriptionEvent(event)) return true;
    const APMValue* deviceID = event.parameters().find("_did");
    if (!deviceID || !deviceID->isInt64()) return true;
    const std::string subscriptionID = std::to_string(deviceID->int64Value());
    const APMValue* product = event.parameters().find("product_id");
    const APMLogContext productID = product ? APMLogContext(*product) : APMLogContext("(null)");
    const auto database = this->database();
    if (!database) return true;
    const auto& log = monitor();
    auto inserted = database->insertIfNotDuplicateSubscriptionID(subscriptionID);
    if (!inserted.value && inserted.error) {
        log->log(2, 23181, "Failed to save subscription ID. Product ID, error", productID, *inserted.error);
    } else if (inserted.value && !*inserted.value) {
        log->log(4, 23182, "Event dropped. Reason: Subscription purchase is a duplicate. Product ID", productID);
        return false;
    }
    auto pruned = database->deleteSubscriptionsOverLimit();
    if (!pruned.value) {
        if (pruned.error) {
            log->log(5, 23183, "Failed to delete older subscription records. Error", *pruned.error);
            return false;
        }
        return true;
    }
    if (*pruned.value != 0) log->log(5, 23184, "Deleted older subscription records beyond limit", *pruned.value);
    return true;
}

bool APMMeasurement::shouldDropDuplicatedSessionStartWithRolloutEvent(const APMEvent& event) {
    if (event.name() != "_ssr") return false;
    const APMValue* value = event.parameters().find("_ffr");
    const std::optional<std::string> stored = persistedConfig_->veredodaFeatureRollouts();
    const std::string* text = value ? value->stringValue() : nullptr;
    const bool duplicate = stored ? (text && *text == *stored) : (!value || (text && text->empty()));
    if (duplicate) {
        monitor()->log(8, 23191, "Feature rollouts value is a duplicate, dropping event");
        return true;
    }
    if (text && !text->empty()) {
        persistedConfig_->setVeredodaFeatureRollouts(*text);
    } else {
        if (value && !text) monitor()->log(2, 23190, "Unable to process veredoda feature rollouts, value is not a string.");
        persistedConfig_->setVeredodaFeatureRollouts(std::nullopt);
    }
    return false;
}

std::optional<APMEvent> APMMeasurement::appExceptionEventWithVeredodaFeatureRollouts(const APMEvent& event) {
    if (event.name() != "_ae") return std::nullopt;
    const std::optional<std::string> stored = persistedConfig_->veredodaFeatureRollouts();
    if (!stored) return std::nullopt;
    APMObjectParameters parameters = APMObjectParametersFrom(event.parameters());
    parameters.emplace_back("_ffr", APMValue(*stored));
    return event.copyWithParameters(APMUniqueObjectParameters(parameters));
}

void APMMeasurement::writeSessionStartEventOnWorkerQueue(const APMEvent& event) {
    if (event.name() != "_s") return;
    const APMValue* sessionID = event.parameters().find("_sid");
    const APMValue* sessionNumber = event.parameters().find("_sno");
    if (sessionID && sessionNumber) backfillSessionID(*sessionID, *sessionNumber);
    if (const std::optional<std::string> stored = persistedConfig_->veredodaFeatureRollouts()) {
        std::optional<APMEvent> rollouts =
            APMEvent::initWithOrigin("auto", false, "_ssr", now(), 0, {{"_ffr", APMValue(*stored)}});
        if (rollouts) writeEventOnWorkerQueue(*rollouts);
    }
    if (configuration()->PSMSessionStartEnabled()) initiateODMSessionStartProtocolWithTimestamp(event.timestamp());
    updateAdsOnDeviceConversionMeasurementForSession();
    updateODFIDs();
    updateAdsOnDeviceConversionGroupInfo();
}
