#pragma once
// The module "internal.platform": its method "getVersion" answers the
// runtime version as a number; calling the module itself gives undefined.

#include "measurement/rules/APMPFunctionValue.h"

namespace measurement::rules {

class APMPRuntimePlatform final : public APMPFunctionValue {
public:
    APMPRuntimePlatform();
};

class APMPFunctionGetVersion final : public APMPFunctionValue {
public:
    APMPFunctionGetVersion();
    ValuePtr invokeWithArguments(const ValueList& arguments, const ScopePtr& scope,
                                 ErrorSlot& error) override;
};

}  // namespace measurement::rules
