#include "measurement/rules/APMPEventNativeFunctions.h"

#include <unordered_map>

#include "measurement/rules/APMPEvaluator.h"
#include "measurement/rules/APMPObjectManager.h"
#include "measurement/rules/APMPRuntimeEntityConverter.h"
#include "measurement/rules/APMPScope.h"
#include "measurement/rules/ExecutionBudget.h"
#include "measurement/rules/ScalarValues.h"
#include "measurement/rules/Utf16Text.h"

namespace measurement::rules {
namespace {

using Handler = ValuePtr (*)(APMPEvent& event, const ValueList& values, const ScopePtr& scope, ErrorSlot& error);

ValuePtr getEventName(APMPEvent& event, const ValueList&, const ScopePtr& scope, ErrorSlot& error) {
    return scope->budget().newString(utf16FromUtf8(event.name()), error);
}

ValuePtr getParamValue(APMPEvent& event, const ValueList& values, const ScopePtr& scope, ErrorSlot& error) {
    const std::u16string name = values[0]->stringValueOrError(error);
    if (error) return undefinedValue();
    return APMPRuntimeEntityConverter::runtimeValueFromNSObject(event.parameterForName(utf8FromUtf16(name)), scope,
                                                                error);
}

ValuePtr getParams(APMPEvent& event, const ValueList&, const ScopePtr& scope, ErrorSlot& error) {
    const auto map = APMPObjectManager::mapValueWithScope(*scope);
    for (const auto& [name, value] : event.parameters()) {
        ValuePtr converted = APMPRuntimeEntityConverter::runtimeValueFromNSObject(&value, scope, error);
        if (error) return undefinedValue();
        map->setValue(std::move(converted), utf16FromUtf8(name));
    }
    return map;
}

ValuePtr getTimestamp(APMPEvent& event, const ValueList&, const ScopePtr&, ErrorSlot&) {
    return APMPNumberValue::make(event.timestamp());
}

ValuePtr setEventName(APMPEvent& event, const ValueList& values, const ScopePtr& scope, ErrorSlot& error) {
    const ValueKind kind = values[0]->kind();
    if (kind == ValueKind::Undefined || kind == ValueKind::Null) {
        fail(error, PixieErrorCode::WrongArgumentKind);
        return undefinedValue();
    }
    std::u16string name = values[0]->stringValueOrError(error);
    if (error) return undefinedValue();
    event.setName(utf8FromUtf16(name));
    return scope->budget().newString(std::move(name), error);
}

ValuePtr setParamValue(APMPEvent& event, const ValueList& values, const ScopePtr&, ErrorSlot& error) {
    const std::u16string name = values[0]->stringValueOrError(error);
    if (error) return undefinedValue();
    std::optional<platform::PropertyValue> object = APMPRuntimeEntityConverter::objectFromRuntimeValue(*values[1], error);
    if (error) return undefinedValue();
    event.setParameter(std::move(object), utf8FromUtf16(name));
    return values[1];
}

struct EventFunction {
    std::size_t argumentCount;
    Handler run;
};

const std::unordered_map<std::u16string_view, EventFunction>& eventFunctions() {
    static const std::unordered_map<std::u16string_view, EventFunction> handlers = {
        {u"getEventName", {0, getEventName}},   {u"getParamValue", {1, getParamValue}},
        {u"getParams", {0, getParams}},         {u"getTimestamp", {0, getTimestamp}},
        {u"setEventName", {1, setEventName}},   {u"setParamValue", {2, setParamValue}},
    };
    return handlers;
}

}  // namespace

APMPEventNativeFunctions::APMPEventNativeFunctions(std::shared_ptr<APMPEventContext> context)
    : eventContext_(std::move(context)) {}

ValuePtr APMPEventNativeFunctions::applyWithName(std::u16string_view name, const ValueList& arguments,
                                                 const ScopePtr& scope, ErrorSlot& error) {
    const auto found = eventFunctions().find(name);
    if (found == eventFunctions().end()) return APMPMapValue::applyWithName(name, arguments, scope, error);
    const ValueList values = evaluateArguments(arguments, scope, error);
    if (error || !checkArgumentCount(values, found->second.argumentCount, error)) return undefinedValue();
    return found->second.run(eventContext_->outputEvent(), values, scope, error);
}

}  // namespace measurement::rules
