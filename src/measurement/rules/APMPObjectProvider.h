#pragma once
// A host module that answers data when called, e.g. "internal.appMetadata":
// calling it (arguments ignored, never evaluated) asks the host's block and
// converts the plain object to a runtime value in the caller's scope.

#include <functional>
#include <optional>
#include <string>

#include "measurement/rules/APMPFunctionValue.h"
#include "platform/core/PropertyList.h"

namespace measurement::rules {

using ObjectProviderBlock = std::function<std::optional<platform::PropertyValue>()>;

class APMPObjectProvider final : public APMPFunctionValue {
public:
    APMPObjectProvider(std::u16string name, ObjectProviderBlock block);
    ValuePtr invokeWithArguments(const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error) override;

private:
    ObjectProviderBlock objectProviderBlock_;
};

}  // namespace measurement::rules
