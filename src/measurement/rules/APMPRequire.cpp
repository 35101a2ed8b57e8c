#include "measurement/rules/APMPRequire.h"

#include "measurement/rules/APMPEvaluator.h"
#include "measurement/rules/ScalarValues.h"

namespace measurement::rules {

APMPRequire::APMPRequire(std::shared_ptr<const APMPDynamicProvider> provider)
    : APMPFunctionValue(u"require"), provider_(std::move(provider)) {}

APMPRequire::~APMPRequire() { releaseReferencesOf(*this); }

ValuePtr APMPRequire::invokeWithArguments(const ValueList& arguments, const ScopePtr& scope,
                                          ErrorSlot& error) {
    if (!checkArgumentCount(arguments, 1, error)) return undefinedValue();
    const ValueList values = evaluateArguments(arguments, scope, error);
    if (error) return undefinedValue();
    std::u16string name = values[0]->stringValueOrError(error);
    if (error) return undefinedValue();
    if (const auto cached = modules_.find(name); cached != modules_.end()) return cached->second;
    ValuePtr module = provider_->moduleForName(name, error);
    if (error) return undefinedValue();
    modules_.emplace(std::move(name), module);
    return module;
}

void APMPRequire::appendReferences(std::vector<const Collectable*>& out) const {
    APMPFunctionValue::appendReferences(out);
    for (const auto& [name, module] : modules_) out.push_back(module.get());
}

void APMPRequire::detachReferences(std::vector<CollectablePtr>& out) {
    APMPFunctionValue::detachReferences(out);
    for (auto& [name, module] : modules_) out.push_back(std::move(module));
    modules_.clear();
}

}  // namespace measurement::rules
