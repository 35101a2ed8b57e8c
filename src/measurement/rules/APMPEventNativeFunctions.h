#pragma once
// The object handed to every callback: methods on the context's output
// event. Arguments are evaluated first, then counted exactly (code 9):
//   getEventName()             the name
//   getParamValue(name)        the parameter as a runtime value (null when absent)
//   getParams()                a new map of all parameters
//   getTimestamp()             the timestamp
//   setEventName(name)         sets the name (undefined or null: code 10)
//   setParamValue(name, value) stores the value as a plain object (null removes)
// Any other name behaves as on a map.

#include <memory>

#include "measurement/rules/APMPEventContext.h"
#include "measurement/rules/APMPMapValue.h"

namespace measurement::rules {

class APMPEventNativeFunctions final : public APMPMapValue {
public:
    explicit APMPEventNativeFunctions(std::shared_ptr<APMPEventContext> context);

    ValuePtr applyWithName(std::u16string_view name, const ValueList& arguments, const ScopePtr& scope,
                           ErrorSlot& error) override;

private:
    std::shared_ptr<APMPEventContext> eventContext_;
};

}  // namespace measurement::rules
