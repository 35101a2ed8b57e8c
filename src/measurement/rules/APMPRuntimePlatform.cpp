#include "measurement/rules/APMPRuntimePlatform.h"

#include "measurement/rules/APMPRuntime.h"
#include "measurement/rules/ScalarValues.h"

namespace measurement::rules {

APMPRuntimePlatform::APMPRuntimePlatform() : APMPFunctionValue(u"internal.platform") {
    setValue(std::make_shared<APMPFunctionGetVersion>(), u"getVersion");
}

APMPFunctionGetVersion::APMPFunctionGetVersion() : APMPFunctionValue(u"getVersion") {}

ValuePtr APMPFunctionGetVersion::invokeWithArguments(const ValueList&, const ScopePtr&, ErrorSlot&) {
    return APMPNumberValue::make(static_cast<double>(APMPRuntime::runtimeVersion()));
}

}  // namespace measurement::rules
