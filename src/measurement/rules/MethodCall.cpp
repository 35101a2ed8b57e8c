#include "measurement/rules/MethodCall.h"

#include "measurement/rules/APMPEvaluator.h"
#include "measurement/rules/APMPFunctionValue.h"
#include "measurement/rules/APMPPropertyMap.h"
#include "measurement/rules/ScalarValues.h"

namespace measurement::rules {

ValuePtr invokeAsMethod(const ValuePtr& property, const ValueList& arguments,
                        const ScopePtr& scope, ErrorSlot& error) {
    // A copy keeps the function alive even if the call replaces the
    // property that held it.
    const ValuePtr held = property;
    auto* function = valueAs<APMPFunctionValue>(held);
    if (!function) {
        fail(error, PixieErrorCode::NotAFunction);
        return undefinedValue();
    }
    return function->invokeWithArguments(arguments, scope, error);
}

ValuePtr hasOwnPropertyMethod(const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error,
                              const std::function<bool(std::u16string_view)>& has) {
    const ValueList values = evaluateArguments(arguments, scope, error);
    if (error || !checkArgumentCount(values, 1, error)) return undefinedValue();
    const std::u16string key = values[0]->stringValueOrError(error);
    if (error) return undefinedValue();
    return booleanValue(has(key));
}

ValuePtr applyWithOwnProperties(APMPRuntimeValue& value, const APMPPropertyMap& properties,
                                std::u16string_view name, const ValueList& arguments,
                                const ScopePtr& scope, ErrorSlot& error) {
    if (const ValuePtr* property = properties.find(name)) {
        return invokeAsMethod(*property, arguments, scope, error);
    }
    if (name == u"hasOwnProperty") {
        return hasOwnPropertyMethod(arguments, scope, error, [&properties](std::u16string_view key) {
            return properties.hasName(key);
        });
    }
    return value.APMPRuntimeValue::applyWithName(name, arguments, scope, error);
}

}  // namespace measurement::rules
