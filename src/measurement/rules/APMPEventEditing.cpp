#include "measurement/rules/APMPEventEditing.h"

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/rules/APMPControlValue.h"
#include "measurement/rules/APMPMapValue.h"
#include "measurement/rules/APMPRuntimeEntityConverter.h"
#include "measurement/rules/APMPScope.h"
#include "measurement/rules/EventModules.h"
#include "measurement/rules/ExecutionLimits.h"
#include "measurement/rules/ScalarValues.h"
#include "measurement/rules/Utf16Text.h"

namespace measurement::rules {
namespace {

// Field slots of the program messages.
enum { kProgramInstructions = 0, kProgramActivities = 1 };
enum { kActivitiesList = 0 };
enum { kActivityName = 0, kActivityData = 1 };

}  // namespace

APMPEventEditing::APMPEventEditing() : APMPEventEditing(std::make_unique<APMPRuntime>()) {}

APMPEventEditing::APMPEventEditing(std::unique_ptr<APMPRuntime> runtime)
    : runtime_(std::move(runtime)),
      eventContext_(std::make_shared<APMPEventContext>()),
      callbackHandler_(std::make_shared<APMPEditingCallbackHandler>()) {
    runtime_->addGarbageCollectionRoot(callbackHandler_);
    runtime_->setModuleCreator(
        [handler = callbackHandler_] { return std::make_shared<APMPRegisterCallbackNativeFunctionValue>(handler); },
        u"internal.registerCallback");
    runtime_->setModuleCreator([context = eventContext_] { return std::make_shared<APMPEventLogger>(context); },
                               u"internal.eventLogger");
}

void APMPEventEditing::setModuleCreator(ModuleCreator creator, std::u16string name) {
    runtime_->setModuleCreator(std::move(creator), std::move(name));
}

bool APMPEventEditing::loadProgram(const APMPBProgram& program, ErrorSlot& error) {
    if (APMPRuntimeEntityConverter::programEntityCount(program, kMaxProgramEntities) > kMaxProgramEntities) {
        return fail(error, PixieErrorCode::SizeLimitExceeded);
    }
    const APMPBArray statements = APMPBGetArray<APMPBRuntimeEntity>(program, kProgramInstructions).value_or(APMPBArray{});
    const ValuePtr last = runtime_->executeStatements(statements, error);
    if (error) return false;
    if (isControlValue(last)) return fail(error, EditingErrorCode::ProgramEndsWithControlValue);
    if (const auto activities = APMPBGetMessage<APMPBOgtActivities>(program, kProgramActivities)) {
        const APMPBArray list = APMPBGetArray<APMPBOgtActivity>(*activities, kActivitiesList).value_or(APMPBArray{});
        for (const APMPBObject& object : list) {
            const auto* activity = std::get_if<std::shared_ptr<NANOMessageBase>>(&object);
            if (!activity || !*activity) continue;
            if (!loadActivityData(static_cast<const APMPBOgtActivity&>(**activity), error)) return false;
        }
    }
    runtime_->collectGarbage();
    return true;
}

bool APMPEventEditing::loadActivityData(const APMPBOgtActivity& activity, ErrorSlot& error) {
    const std::u16string name = utf16FromUtf8(APMPBGetString(activity, kActivityName).value_or(std::string()));
    const APMPBArray statements = APMPBGetArray<APMPBRuntimeEntity>(activity, kActivityData).value_or(APMPBArray{});
    for (const APMPBObject& statement : statements) {
        const ValuePtr rule = runtime_->executeStatements(APMPBArray{statement}, error);
        if (error) return false;
        const auto map = sharedValueAs<APMPMapValue>(rule);
        if (!map) return fail(error, EditingErrorCode::RuleIsNotAMap);
        if (!registerRuleWithName(name, map, error)) return false;
    }
    return true;
}

bool APMPEventEditing::registerRuleWithName(const std::u16string& name, const std::shared_ptr<APMPMapValue>& rule,
                                            ErrorSlot& error) {
    const ScopePtr runScope = runtime_->getRunScope();
    const ValuePtr function = runScope->valueForName(name);
    auto* callable = valueAs<APMPFunctionValue>(function);
    if (!callable) return fail(error, EditingErrorCode::RuleFunctionMissing);
    callable->invokeWithArguments({rule}, runScope, error);
    return !error;
}

bool APMPEventEditing::handleEvent(const APMPEvent& event, ErrorSlot& error) {
    eventContext_->setInputEvent(event);
    runtime_->resetInstructionCount();
    const bool triggered = callbackHandler_->triggerCallbacksWithScope(runtime_->getRunScope(), eventContext_, error);
    runtime_->collectGarbage();
    if (!triggered) return false;
    return hasEdits() || hasCreatedEvents();
}

bool APMPEventEditing::hasEdits() const {
    return !eventContext_->outputEvent().isEqualToEvent(eventContext_->inputEvent());
}

bool APMPEventEditing::hasCreatedEvents() const { return !eventContext_->eventsToLog().empty(); }

}  // namespace measurement::rules
