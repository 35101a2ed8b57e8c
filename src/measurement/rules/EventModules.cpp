#include "measurement/rules/EventModules.h"

#include "measurement/rules/APMPEvaluator.h"
#include "measurement/rules/APMPMapValue.h"
#include "measurement/rules/APMPRuntimeEntityConverter.h"
#include "measurement/rules/NumberConversion.h"
#include "measurement/rules/ScalarValues.h"
#include "measurement/rules/Utf16Text.h"

namespace measurement::rules {

APMPRegisterCallbackNativeFunctionValue::APMPRegisterCallbackNativeFunctionValue(
    std::shared_ptr<APMPEditingCallbackHandler> callbackHandler)
    : APMPFunctionValue(u"internal.registerCallback"), callbackHandler_(std::move(callbackHandler)) {}

ValuePtr APMPRegisterCallbackNativeFunctionValue::invokeWithArguments(const ValueList& arguments,
                                                                      const ScopePtr& scope, ErrorSlot& error) {
    const ValueList values = evaluateArguments(arguments, scope, error);
    if (error || !checkArgumentCount(values, 3, error)) return undefinedValue();
    const auto callback = sharedValueAs<APMPFunctionValue>(values[1]);
    const auto* options = valueAs<APMPMapValue>(values[2]);
    if (!callback || !options) {
        fail(error, PixieErrorCode::WrongArgumentKind);
        return undefinedValue();
    }
    if (!options->hasProperty(u"type")) {
        fail(error, EditingErrorCode::MissingRuleType);
        return undefinedValue();
    }
    const std::u16string ruleType = options->valueForProperty(u"type")->stringValueOrError(error);
    if (error) return undefinedValue();
    std::int32_t priority = kDefaultCallbackPriority;
    if (options->hasProperty(u"priority")) {
        priority = toInt32(options->valueForProperty(u"priority")->doubleValueOrError(error));
        if (error) return undefinedValue();
    }
    if (const auto handler = callbackHandler_.lock()) {
        // A refusal travels up in `error`; the answer is undefined either way.
        (void)handler->registerWithPriority(priority, callback, ruleType, error);
    }
    return undefinedValue();
}

APMPEventLogger::APMPEventLogger(std::shared_ptr<APMPEventContext> eventContext)
    : APMPFunctionValue(u"internal.eventLogger"), eventContext_(std::move(eventContext)) {}

ValuePtr APMPEventLogger::invokeWithArguments(const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error) {
    const ValueList values = evaluateArguments(arguments, scope, error);
    if (error || !checkArgumentCount(values, 3, error)) return undefinedValue();
    const std::u16string name = values[0]->stringValueOrError(error);
    if (error) return undefinedValue();
    const double timestamp = static_cast<double>(saturatingInt64(toInteger(values[1]->doubleValueOrError(error))));
    if (error) return undefinedValue();
    const auto* map = valueAs<APMPMapValue>(values[2]);
    if (!map) {
        fail(error, PixieErrorCode::WrongArgumentKind);
        return undefinedValue();
    }
    platform::PropertyDictionary parameters;
    for (const std::u16string& key : map->allPropertyNames()) {
        std::optional<platform::PropertyValue> object =
            APMPRuntimeEntityConverter::objectFromRuntimeValue(*map->valueForProperty(key), error);
        if (error) return undefinedValue();
        if (object) parameters.emplace(utf8FromUtf16(key), std::move(*object));
    }
    eventContext_->logEventWithName(utf8FromUtf16(name), timestamp, parameters);
    return undefinedValue();
}

}  // namespace measurement::rules
