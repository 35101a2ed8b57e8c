#include "measurement/rules/APMPObjectProvider.h"

#include "measurement/rules/APMPRuntimeEntityConverter.h"

namespace measurement::rules {

APMPObjectProvider::APMPObjectProvider(std::u16string name, ObjectProviderBlock block)
    : APMPFunctionValue(std::move(name)), objectProviderBlock_(std::move(block)) {}

ValuePtr APMPObjectProvider::invokeWithArguments(const ValueList&, const ScopePtr& scope, ErrorSlot& error) {
    const std::optional<platform::PropertyValue> object =
        objectProviderBlock_ ? objectProviderBlock_() : std::nullopt;
    return APMPRuntimeEntityConverter::runtimeValueFromNSObject(object ? &*object : nullptr, scope, error);
}

}  // namespace measurement::rules
