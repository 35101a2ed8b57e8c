#include "measurement/messages/EventConversion.h"

#include <limits>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/ScalarValueSlots.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMSaturatingConversion.h"

namespace {

constexpr const char* kOriginParameter = "_o";

// Read back as the string, else the integer, else the double.
constexpr APMPBScalarSlots kValueSlots = {{{APMPBScalarKind::String, EventParamSlot::StringValue},
                                           {APMPBScalarKind::Integer, EventParamSlot::IntValue},
                                           {APMPBScalarKind::Double, EventParamSlot::DoubleValue}}};

std::shared_ptr<APMPBEventParam> newEventParam() { return APMPBEventParam::initWithMessageInfo(nullptr); }

// A named parameter with a scalar value.
std::shared_ptr<APMPBEventParam> scalarParam(const std::string& name, const APMValue& value) {
    auto param = newEventParam();
    APMPBSetString(*param, EventParamSlot::Name, name);
    APMPBSetScalarValue(*param, kValueSlots, value);
    return param;
}

// The parameters of one array item: scalars only.
APMPBArray itemParams(const APMParameters& item, const std::string& eventName) {
    APMPBArray params;
    for (const auto& [name, value] : item) {
        if (value.isArray()) {
            APMMonitor::shared()->log(2, 16007, "Nested params cannot have more than 1 level. Event name, param name",
                                      eventName, name);
            continue;
        }
        params.emplace_back(scalarParam(name, value));
    }
    return params;
}

std::shared_ptr<APMPBEventParam> arrayParam(const std::string& name, const std::vector<APMParameters>& items,
                                            const std::string& eventName) {
    APMPBArray elements;
    for (const APMParameters& item : items) {
        auto element = newEventParam();
        APMPBSetArray(*element, EventParamSlot::ParamValue, itemParams(item, eventName));
        elements.emplace_back(std::move(element));
    }
    auto param = newEventParam();
    APMPBSetString(*param, EventParamSlot::Name, name);
    APMPBSetArray(*param, EventParamSlot::ParamValue, elements);
    return param;
}

}  // namespace

APMPBArray APMPBEventParamsFromParameters(const APMParameters& parameters, const std::string& eventName) {
    APMPBArray params;
    for (const auto& [name, value] : parameters) {
        if (const auto* items = value.arrayValue()) {
            params.emplace_back(arrayParam(name, *items, eventName));
            continue;
        }
        params.emplace_back(scalarParam(name, value));
    }
    return params;
}

std::optional<APMEventParamsContents> APMParametersFromEventParams(const APMPBArray& eventParams,
                                                                   const std::string& eventName) {
    APMEventParamsContents contents;
    for (const APMPBObject& object : eventParams) {
        const auto* message = std::get_if<std::shared_ptr<NANOMessageBase>>(&object);
        if (message == nullptr || *message == nullptr) {
            continue;
        }
        const NANOMessageBase& param = **message;
        std::optional<std::string> name = APMPBGetString(param, EventParamSlot::Name);
        if (!name) {
            APMMonitor::shared()->log(2, 15000, "Ignoring parameter. Parameter name is nil. Event name", eventName);
            continue;
        }
        if (*name == kOriginParameter) {
            std::optional<std::string> origin = APMPBGetString(param, EventParamSlot::StringValue);
            if (!origin) {
                APMMonitor::shared()->log(
                    2, 15001, "Cannot create an event from event proto. Origin parameter is not a string. Event name",
                    eventName);
                return std::nullopt;
            }
            contents.origin = std::move(origin);
            continue;
        }
        std::optional<APMValue> value = APMPBGetScalarValue(param, kValueSlots);
        if (!value) {
            APMMonitor::shared()->log(
                5, 15002,
                "Unknown event parameter type from converting an event proto into APMEvent instance. Event param name",
                *name);
            continue;
        }
        contents.parameters.set(std::move(*name), std::move(*value));
    }
    return contents;
}

std::shared_ptr<APMPBEvent> APMPBEventWithContents(const std::string& name, double timestamp,
                                                   double previousTimestamp, const APMParameters& parameters) {
    auto event = APMPBEvent::initWithMessageInfo(nullptr);
    APMPBSetString(*event, EventSlot::Name, name);
    if (previousTimestamp > std::numeric_limits<double>::epsilon()) {
        APMPBSetInt64(*event, EventSlot::PreviousTimestamp, apm_millisecondsFromSeconds(previousTimestamp));
    }
    APMPBSetInt64(*event, EventSlot::Timestamp, apm_millisecondsFromSeconds(timestamp));
    APMPBSetArray(*event, EventSlot::Params, APMPBEventParamsFromParameters(parameters, name));
    return event;
}

std::optional<APMEventContents> APMEventContentsFromProto(const APMPBEvent& event) {
    APMEventContents contents;
    contents.name = APMPBGetString(event, EventSlot::Name).value_or("");
    contents.timestamp = static_cast<double>(APMPBGetInt64(event, EventSlot::Timestamp)) / 1000.0;
    contents.previousTimestamp = static_cast<double>(APMPBGetInt64(event, EventSlot::PreviousTimestamp)) / 1000.0;
    std::optional<APMPBArray> params = APMPBGetArray<APMPBEventParam>(event, EventSlot::Params);
    std::optional<APMEventParamsContents> converted =
        APMParametersFromEventParams(params.value_or(APMPBArray{}), contents.name);
    if (!converted) {
        return std::nullopt;
    }
    contents.origin = std::move(converted->origin);
    contents.parameters = std::move(converted->parameters);
    return contents;
}
