#include "measurement/rules/APMPScope.h"

#include "measurement/rules/ExecutionContext.h"
#include "measurement/rules/ScalarValues.h"

namespace measurement::rules {

APMPScope::APMPScope(ScopePtr parent, std::shared_ptr<ExecutionContext> context)
    : parent_(std::move(parent)), context_(std::move(context)) {}

APMPScope::~APMPScope() {
    // Most scopes (loop iterations, calls) die holding nothing of their own;
    // only one that is the last owner of something needs the careful release.
    if (contents_.holdsSoleReference() || (parent_ && parent_.use_count() == 1)) releaseReferencesOf(*this);
}

ScopePtr APMPScope::makeRoot(std::shared_ptr<ExecutionContext> context) {
    return std::make_shared<APMPScope>(nullptr, std::move(context));
}

ScopePtr APMPScope::createChildScope() {
    return std::make_shared<APMPScope>(shared_from_this(), context_);
}

const APMPScope* APMPScope::nearestDeclaring(std::u16string_view name) const {
    for (const APMPScope* scope = this; scope; scope = scope->parent_.get()) {
        if (scope->contents_.hasName(name)) return scope;
    }
    return nullptr;
}

bool APMPScope::hasName(std::u16string_view name) const { return nearestDeclaring(name) != nullptr; }

const ValuePtr& APMPScope::valueForName(std::u16string_view name) const {
    const APMPScope* scope = nearestDeclaring(name);
    return scope ? scope->contents_.valueForName(name) : undefinedValue();
}

void APMPScope::addValue(ValuePtr value, std::u16string_view name) {
    contents_.setValue(std::move(value), name);
}

void APMPScope::addImmutableValue(ValuePtr value, std::u16string_view name) {
    contents_.setImmutableValue(std::move(value), name);
}

void APMPScope::setValue(ValuePtr value, std::u16string_view name) {
    // The write travels up to the declaring scope (or stays here for a new
    // name); an immutable scope on the way refuses it silently.
    const APMPScope* declaring = nearestDeclaring(name);
    APMPScope* scope = this;
    if (declaring) {
        for (; scope != declaring; scope = scope->parent_.get()) {
            if (scope->contents_.isImmutable()) return;
        }
    }
    scope->contents_.setValue(std::move(value), name);
}

APMPObjectManager& APMPScope::objectManager() const { return context_->objectManager; }

ExecutionBudget& APMPScope::budget() const { return context_->budget; }

void APMPScope::appendReferences(std::vector<const Collectable*>& out) const {
    contents_.appendReferences(out);
    if (parent_) out.push_back(parent_.get());
}

void APMPScope::detachReferences(std::vector<CollectablePtr>& out) {
    contents_.detachReferences(out);
    if (parent_) out.push_back(std::move(parent_));
}

}  // namespace measurement::rules
