#pragma once
// A lexical scope: names to values, a parent, and the runtime's shared
// execution context. Reads and assignments walk up the parent chain;
// declarations act on this scope only. An immutable scope silently refuses
// every change, as does an immutable (constant) name.

#include <memory>
#include <string_view>

#include "measurement/rules/APMPPropertyMap.h"
#include "measurement/rules/APMPRuntimeValue.h"

namespace measurement::rules {

struct ExecutionContext;
class APMPObjectManager;
class ExecutionBudget;

class APMPScope final : public Collectable, public std::enable_shared_from_this<APMPScope> {
public:
    // A scope without parent, the root of a runtime.
    static ScopePtr makeRoot(std::shared_ptr<ExecutionContext> context);
    ScopePtr createChildScope();

    bool hasName(std::u16string_view name) const;
    // From the nearest scope that has the name; undefined when none has.
    const ValuePtr& valueForName(std::u16string_view name) const;
    void addValue(ValuePtr value, std::u16string_view name);
    void addImmutableValue(ValuePtr value, std::u16string_view name);
    // Sets the name where it is declared (nearest scope), else here.
    void setValue(ValuePtr value, std::u16string_view name);
    void makeImmutable() { contents_.makeImmutable(); }

    const ScopePtr& parentScope() const { return parent_; }
    APMPObjectManager& objectManager() const;
    ExecutionBudget& budget() const;
    const std::shared_ptr<ExecutionContext>& context() const { return context_; }

    // Marking reaches the values of this scope and the whole parent chain:
    // a closure needs every enclosing scope, not only its own.
    void appendReferences(std::vector<const Collectable*>& out) const override;
    void detachReferences(std::vector<CollectablePtr>& out) override;

    APMPScope(ScopePtr parent, std::shared_ptr<ExecutionContext> context);
    ~APMPScope() override;

private:
    const APMPScope* nearestDeclaring(std::u16string_view name) const;

    ScopePtr parent_;
    APMPPropertyMap contents_;
    std::shared_ptr<ExecutionContext> context_;
};

}  // namespace measurement::rules
