#pragma once
// The two modules an APMPEventEditing gives its programs:
// - "internal.registerCallback" (APMPRegisterCallbackNativeFunctionValue):
//   called with three arguments (code 9), evaluated first: the first is
//   unused, the second the callback (a function, else code 10), the third
//   an options map (else code 10) with "type" ("edit" or "create"; absent:
//   code 2 of the editing domain) and an optional "priority" (ToInt32,
//   default 1000). Answers undefined.
// - "internal.eventLogger" (APMPEventLogger): called with name, timestamp
//   and a parameter map (three arguments, code 9; a non-map: code 10) it
//   creates an event: the name's string form, the timestamp truncated to an
//   integer, the map's properties as plain objects (null ones left out).
//   Answers undefined.

#include <memory>

#include "measurement/rules/APMPEditingCallbackHandler.h"
#include "measurement/rules/APMPEventContext.h"
#include "measurement/rules/APMPFunctionValue.h"

namespace measurement::rules {

inline constexpr std::int32_t kDefaultCallbackPriority = 1000;

class APMPRegisterCallbackNativeFunctionValue final : public APMPFunctionValue {
public:
    explicit APMPRegisterCallbackNativeFunctionValue(std::shared_ptr<APMPEditingCallbackHandler> callbackHandler);
    ValuePtr invokeWithArguments(const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error) override;

private:
    // Weak: the handler owns the callbacks, which may hold this module.
    std::weak_ptr<APMPEditingCallbackHandler> callbackHandler_;
};

class APMPEventLogger final : public APMPFunctionValue {
public:
    explicit APMPEventLogger(std::shared_ptr<APMPEventContext> eventContext);
    ValuePtr invokeWithArguments(const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error) override;

private:
    std::shared_ptr<APMPEventContext> eventContext_;
};

}  // namespace measurement::rules
