#include "measurement/rules/APMPRuntime.h"

#include <limits>

#include "measurement/rules/APMPControlValue.h"
#include "measurement/rules/APMPEvaluator.h"
#include "measurement/rules/APMPRequire.h"
#include "measurement/rules/APMPRuntimeEntityConverter.h"
#include "measurement/rules/APMPRuntimePlatform.h"
#include "measurement/rules/APMPScope.h"
#include "measurement/rules/ExecutionContext.h"
#include "measurement/rules/ScalarValues.h"

namespace measurement::rules {

APMPRuntime::APMPRuntime()
    : context_(std::make_shared<ExecutionContext>()),
      provider_(std::make_shared<APMPDynamicProvider>()),
      initialScope_(APMPScope::makeRoot(context_)),
      globalScope_(initialScope_->createChildScope()) {
    context_->objectManager.addRoot(initialScope_);
    context_->objectManager.addRoot(globalScope_);
    globalScope_->addValue(std::make_shared<APMPRequire>(provider_), u"require");
    provider_->setModuleCreator([] { return std::make_shared<APMPRuntimePlatform>(); }, u"internal.platform");
    resetInstructionCount();
}

APMPRuntime::~APMPRuntime() {
    context_->objectManager.releaseAll();
    releaseReferencesOf(*globalScope_);
    releaseReferencesOf(*initialScope_);
}

void APMPRuntime::setModuleCreator(ModuleCreator creator, std::u16string name) {
    provider_->setModuleCreator(std::move(creator), std::move(name));
}

ValuePtr APMPRuntime::executeStatements(const ValueList& statements, ErrorSlot& error) {
    ValuePtr result = undefinedValue();
    for (const ValuePtr& statement : statements) {
        result = APMPEvaluator::evaluateStatement(statement, globalScope_, error);
        if (error) return undefinedValue();
    }
    return result;
}

ValuePtr APMPRuntime::executeStatements(const APMPBArray& entities, ErrorSlot& error) {
    ValuePtr result = undefinedValue();
    for (const APMPBObject& object : entities) {
        const auto* message = std::get_if<std::shared_ptr<NANOMessageBase>>(&object);
        if (!message || !*message) continue;
        const ValuePtr statement = APMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(
            static_cast<const APMPBRuntimeEntity&>(**message), error);
        if (error) return undefinedValue();
        result = APMPEvaluator::evaluateStatement(statement, globalScope_, error);
        if (error) return undefinedValue();
    }
    return result;
}

ScopePtr APMPRuntime::getRunScope() { return globalScope_->createChildScope(); }

std::int32_t APMPRuntime::getInstructionCount() const {
    const std::int64_t count = context_->budget.instructionCount();
    return count > std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::max()
                                                             : static_cast<std::int32_t>(count);
}

void APMPRuntime::resetInstructionCount() { context_->budget.reset(); }

APMPObjectManager& APMPRuntime::objectManager() { return context_->objectManager; }

void APMPRuntime::addGarbageCollectionRoot(const std::shared_ptr<const Collectable>& root) {
    context_->objectManager.addRoot(root);
}

void APMPRuntime::collectGarbage() { context_->objectManager.collectGarbage(); }

}  // namespace measurement::rules
