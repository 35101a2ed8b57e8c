#pragma once
// The global function "require": require(name) makes the module through the
// provider the first time and returns the cached value ever after (also for
// names without creator, which stay undefined). The cache is marked by the
// collector through this function, so module objects and whatever programs
// attach to them survive collections.

#include <memory>
#include <string>
#include <unordered_map>

#include "measurement/rules/APMPDynamicProvider.h"
#include "measurement/rules/APMPFunctionValue.h"

namespace measurement::rules {

class APMPRequire final : public APMPFunctionValue {
public:
    explicit APMPRequire(std::shared_ptr<const APMPDynamicProvider> provider);
    ~APMPRequire() override;

    ValuePtr invokeWithArguments(const ValueList& arguments, const ScopePtr& scope,
                                 ErrorSlot& error) override;

    void appendReferences(std::vector<const Collectable*>& out) const override;
    void detachReferences(std::vector<CollectablePtr>& out) override;

private:
    std::shared_ptr<const APMPDynamicProvider> provider_;
    std::unordered_map<std::u16string, ValuePtr> modules_;
};

}  // namespace measurement::rules
