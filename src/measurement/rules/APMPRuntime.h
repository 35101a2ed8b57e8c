#pragma once
// One interpreter instance: the root scope, the global scope (program-level
// names and "require"), the module provider, the object manager and the
// execution budget.
//
// The instruction count is a native field of the runtime, invisible to
// programs: they can neither read, reset nor shadow it. Destroying the
// runtime empties every container it made, so closures and self-referencing
// structures do not outlive it.

#include <cstdint>
#include <memory>
#include <string>

#include "measurement/messages/APMPBObject.h"
#include "measurement/rules/APMPDynamicProvider.h"
#include "measurement/rules/APMPRuntimeValue.h"

namespace measurement::rules {

class APMPObjectManager;
struct ExecutionContext;

class APMPRuntime {
public:
    APMPRuntime();
    ~APMPRuntime();
    APMPRuntime(const APMPRuntime&) = delete;
    APMPRuntime& operator=(const APMPRuntime&) = delete;

    // Sent with every configuration fetch and answered by "getVersion".
    static std::int64_t runtimeVersion() { return 0; }

    void setModuleCreator(ModuleCreator creator, std::u16string name);

    // Evaluates top-level statements in order in the global scope; the first
    // error ends the run (undefined). A control value does not stop the
    // loop: the result is the value of the last statement.
    ValuePtr executeStatements(const ValueList& statements, ErrorSlot& error);
    // The same for program entities (RuntimeEntity messages), each converted
    // just before it runs; a conversion error ends the run like any other.
    ValuePtr executeStatements(const APMPBArray& entities, ErrorSlot& error);

    // A new child of the global scope, for one run of a callback.
    ScopePtr getRunScope();

    std::int32_t getInstructionCount() const;
    // Restores the instruction and growth budgets, for each handled event.
    void resetInstructionCount();

    const ScopePtr& initialScope() const { return initialScope_; }
    const ScopePtr& globalScope() const { return globalScope_; }
    APMPObjectManager& objectManager();

    void addGarbageCollectionRoot(const std::shared_ptr<const Collectable>& root);
    void collectGarbage();

private:
    std::shared_ptr<ExecutionContext> context_;
    std::shared_ptr<APMPDynamicProvider> provider_;
    ScopePtr initialScope_;
    ScopePtr globalScope_;
};

}  // namespace measurement::rules
