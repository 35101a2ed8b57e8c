#include "measurement/interface/APMEvent.h"

#include <array>

#include "measurement/interface/APMDataTypeValidator.h"
#include "measurement/interface/APMErrorEvents.h"
#include "measurement/interface/APMEventNames.h"
#include "measurement/interface/APMEventParameterRules.h"
#include "measurement/interface/APMParameterSanitizer.h"
#include "measurement/storage/APMMonitor.h"
#include "platform/core/Unicode.h"

namespace {

constexpr const char* kOriginParameter = "_o";
constexpr const char* kConversionParameter = "_c";
constexpr const char* kRealtimeParameter = "_r";
constexpr const char* kDebugParameter = "_dbg";

using Validator = APMDataTypeValidator;

bool isIntegerOne(const APMValue* value) { return value && value->isInt64() && value->int64Value() == 1; }

void setFlag(APMParameters& parameters, const char* name, bool on) {
    if (on) {
        parameters.set(name, APMValue(std::int64_t{1}));
    } else {
        parameters.erase(name);
    }
}

bool isAcceptedOrigin(const std::string& origin) {
    APMValidationFailure failure = APMValidationFailure::None;
    if (Validator::isValidForwardedEventOrigin(origin, &failure)) return true;
    return failure == APMValidationFailure::NotForwarded && Validator::isValidInternalEventOrigin(origin, nullptr);
}

// The text of a screen parameter given as a string object or a string value.
std::optional<std::string> screenText(const APMObject& object) {
    if (const auto* value = std::get_if<APMValue>(&object)) {
        if (const auto* text = value->stringValue()) return *text;
        return std::nullopt;
    }
    if (const auto* text = std::get<platform::PropertyValue>(object).asString()) return *text;
    return std::nullopt;
}

bool isScreenInstanceID(const APMObject& object) {
    if (const auto* value = std::get_if<APMValue>(&object)) return value->isInt64();
    const auto& property = std::get<platform::PropertyValue>(object);
    return property.isNumber() || property.isBoolean();
}

// Checks an optional "_sc" / "_sn"; true when absent or a valid screen string.
bool isAcceptableScreenText(const APMObject* object, long code, const char* message) {
    if (!object) return true;
    const std::optional<std::string> text = screenText(*object);
    if (!text) return false;
    if (Validator::isValidScreenParameterValue(*text, nullptr)) return true;
    APMMonitor::shared()->log(3, code, message,
                              platform::isValidUtf8(*text) ? *text : std::string(kAPMNonStringClassName));
    return false;
}

}  // namespace

std::optional<APMEvent> APMEvent::initWithOrigin(const std::string& origin, bool isPublic, const std::string& name,
                                                 double timestamp, double previousTimestamp,
                                                 const APMObjectParameters& parameters) {
    if (!isAcceptedOrigin(origin)) return std::nullopt;
    if (isPublic && !Validator::isValidPublicEventName(name, nullptr)) return std::nullopt;
    if (!Validator::isValidInternalEventName(name, nullptr)) return std::nullopt;
    if (previousTimestamp > timestamp) {
        APMMonitor::shared()->log(5, 16002, "Event created with previous timestamp after current timestamp");
    }
    APMEvent event;
    event.origin_ = origin;
    event.name_ = name;
    event.timestamp_ = timestamp;
    event.previousTimestamp_ = previousTimestamp;
    event.parameters_ =
        APMSanitizedEventParameters(parameters, name, isPublic, false, &event.diagnosticsCounts_).value_or(APMParameters{});
    event.parameters_.set(kOriginParameter, APMValue(origin));
    if (event.shouldValidateParams() &&
        !APMCheckValueAndCurrency(event.parameters_, event.shouldRequireValueParam())) {
        event.parameters_.erase(kConversionParameter);
    }
    return event;
}

APMEvent APMEvent::copyWith(double previousTimestamp, const APMObjectParameters& parameters) const {
    // The origin and name passed the stricter rules once; as an internal
    // event they pass again, so the fallback never serves in practice.
    auto copy = initWithOrigin(origin_, false, name_, timestamp_, previousTimestamp, parameters);
    return copy ? std::move(*copy) : *this;
}

APMEvent APMEvent::copy() const {
    APMEvent event = copyWith(previousTimestamp_, APMObjectParametersFrom(parameters_));
    event.setDiagnosticsCounts(diagnosticsCounts_);
    return event;
}

APMEvent APMEvent::copyWithPreviousTimestamp(double previousTimestamp) const {
    APMEvent event = copyWith(previousTimestamp, APMObjectParametersFrom(parameters_));
    event.setDiagnosticsCounts(diagnosticsCounts_);
    return event;
}

APMEvent APMEvent::copyWithParameters(const APMObjectParameters& parameters) const {
    return copyWith(previousTimestamp_, parameters);
}

bool APMEvent::isConversion() const { return isIntegerOne(parameters_.find(kConversionParameter)); }

void APMEvent::setConversion(bool conversion) {
    if (conversion) {
        if (!APMCheckValueAndCurrency(parameters_, shouldRequireValueParam())) return;
        setFlag(parameters_, kConversionParameter, true);
        const APMValue* error = parameters_.find(kAPMErrorCodeParameter);
        if (error && error->isInt64() && error->int64Value() == APMErrorCodeConversionEventLimitReached) {
            parameters_.erase(kAPMErrorCodeParameter);
        }
    } else if (parameters_.erase(kConversionParameter)) {
        APMRecordErrorCode(parameters_, APMErrorCodeConversionEventLimitReached);
    }
}

bool APMEvent::isRealtime() const {
    const APMValue* realtime = parameters_.find(kRealtimeParameter);
    if (realtime && !realtime->isInt64()) {
        APMMonitor::shared()->log(2, 16006, "Realtime parameter must be an int64. Event name", name_);
        return false;
    }
    return isIntegerOne(realtime);
}

void APMEvent::setRealtime(bool realtime) { setFlag(parameters_, kRealtimeParameter, realtime); }

bool APMEvent::isDebug() const { return isIntegerOne(parameters_.find(kDebugParameter)); }

void APMEvent::setDebug(bool debug) { setFlag(parameters_, kDebugParameter, debug); }

bool APMEvent::shouldValidateParams() const {
    return isConversion() || name_ == "ad_impression" || name_ == "_ai";
}

bool APMEvent::shouldRequireValueParam() const {
    return (name_ == "in_app_purchase" || name_ == "_iap") && origin_.starts_with("app");
}

void APMEvent::applyParameters(const APMObjectParameters& parameters, bool isPublic) {
    if (parameters.empty()) return;
    const auto sanitized = APMSanitizedEventParameters(parameters, std::nullopt, isPublic, false, nullptr);
    if (!sanitized) return;
    // The event's own parameters win over the applied ones.
    for (const auto& [name, value] : *sanitized) {
        if (!parameters_.contains(name)) parameters_.set(name, value);
    }
}

bool APMEvent::addScreenParameters(const APMObjectParameters& screenParameters) {
    if (screenParameters.empty() || APMHasScreenParameters(parameters_)) return false;
    const APMObject* instanceID = APMFindObject(screenParameters, kAPMScreenInstanceIDParameter);
    if (!instanceID) return false;
    const APMObject* screenClass = APMFindObject(screenParameters, kAPMScreenClassParameter);
    if (!isAcceptableScreenText(screenClass, 16003, "Received invalid screen class")) return false;
    if (!isScreenInstanceID(*instanceID)) return false;
    const APMObject* screenName = APMFindObject(screenParameters, kAPMScreenNameParameter);
    if (!isAcceptableScreenText(screenName, 16004, "Received invalid screen name")) return false;

    std::optional<APMValue> instanceValue = APMValue::valueFromObject(instanceID);
    if (!instanceValue) return false;
    parameters_.set(kAPMScreenInstanceIDParameter, std::move(*instanceValue));
    if (screenClass) parameters_.set(kAPMScreenClassParameter, APMValue(*screenText(*screenClass)));
    if (screenName) parameters_.set(kAPMScreenNameParameter, APMValue(*screenText(*screenName)));
    return true;
}
