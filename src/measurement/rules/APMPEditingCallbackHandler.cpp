#include "measurement/rules/APMPEditingCallbackHandler.h"

#include <vector>

#include "measurement/rules/APMPEventNativeFunctions.h"
#include "measurement/rules/NumberConversion.h"
#include "measurement/rules/ScalarValues.h"

namespace measurement::rules {
namespace {

// The results of an edit callback that drop its edits.
constexpr std::int32_t kFailed = 2;
constexpr std::int32_t kNoVerdict = -1;

std::vector<std::shared_ptr<APMPFunctionValue>> snapshot(const APMPEditingCallbackHandler::Registry& registry) {
    std::vector<std::shared_ptr<APMPFunctionValue>> callbacks;
    callbacks.reserve(registry.size());
    for (const auto& [priority, callback] : registry) callbacks.push_back(callback);
    return callbacks;
}

}  // namespace

bool APMPEditingCallbackHandler::registerWithPriority(std::int32_t priority,
                                                      std::shared_ptr<APMPFunctionValue> callback,
                                                      std::u16string_view ruleType, ErrorSlot& error) {
    if (editCallbacks_.size() + createCallbacks_.size() >= kMaxEditingCallbacks) {
        return fail(error, EditingErrorCode::TooManyCallbacks);
    }
    if (ruleType == u"create") {
        addCallback(std::move(callback), createCallbacks_, priority);
    } else if (ruleType == u"edit") {
        addCallback(std::move(callback), editCallbacks_, priority);
    } else {
        return fail(error, EditingErrorCode::UnknownRuleType);
    }
    return true;
}

void APMPEditingCallbackHandler::addCallback(std::shared_ptr<APMPFunctionValue> callback, Registry& registry,
                                             std::int64_t priority) {
    if (registry.count(priority)) priority = registry.rbegin()->first + 1;
    registry.emplace(priority, std::move(callback));
}

bool APMPEditingCallbackHandler::triggerCallbacksWithScope(const ScopePtr& scope,
                                                           const std::shared_ptr<APMPEventContext>& context,
                                                           ErrorSlot& error) {
    const ValuePtr eventFunctions = std::make_shared<APMPEventNativeFunctions>(context);
    for (const auto& callback : snapshot(editCallbacks_)) {
        const APMPEvent saved = context->outputEvent();
        const std::int32_t result = invokeCallbackWithScope(scope, *callback, eventFunctions, error);
        if (error || result == kFailed || result == kNoVerdict) context->setOutputEvent(saved);
        if (error) return false;
    }
    for (const auto& callback : snapshot(createCallbacks_)) {
        invokeCallbackWithScope(scope, *callback, eventFunctions, error);
        if (error) return false;
    }
    return true;
}

std::int32_t APMPEditingCallbackHandler::invokeCallbackWithScope(const ScopePtr& scope, APMPFunctionValue& function,
                                                                 const ValuePtr& eventHandler, ErrorSlot& error) {
    const ValuePtr result = function.invokeWithArguments({eventHandler}, scope, error);
    if (error) return kFailed;
    if (const auto* number = valueAs<APMPNumberValue>(result)) return toInt32(number->value());
    return kNoVerdict;
}

void APMPEditingCallbackHandler::appendReferences(std::vector<const Collectable*>& out) const {
    for (const Registry* registry : {&editCallbacks_, &createCallbacks_}) {
        for (const auto& [priority, callback] : *registry) out.push_back(callback.get());
    }
}

}  // namespace measurement::rules
