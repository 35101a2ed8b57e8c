#include "measurement/rules/APMPFunctionValue.h"

#include <limits>

#include "measurement/rules/APMPControlValue.h"
#include "measurement/rules/APMPEvaluator.h"
#include "measurement/rules/APMPScope.h"
#include "measurement/rules/MethodCall.h"
#include "measurement/rules/ScalarValues.h"

namespace measurement::rules {

APMPFunctionValue::APMPFunctionValue(std::u16string functionName,
                                     std::vector<std::u16string> parameterNames,
                                     ValueList statements, ScopePtr definingScope)
    : APMPRuntimeValue(kKind),
      functionName_(std::move(functionName)),
      parameterNames_(std::move(parameterNames)),
      body_(std::make_shared<const ValueList>(std::move(statements))),
      definingScope_(std::move(definingScope)) {}

APMPFunctionValue::APMPFunctionValue(std::u16string functionName)
    : APMPFunctionValue(std::move(functionName), {}, {}, nullptr) {}

APMPFunctionValue::~APMPFunctionValue() { releaseReferencesOf(*this); }

const ValueList& APMPFunctionValue::statements() const {
    static const ValueList none;
    return body_ ? *body_ : none;
}

ValuePtr APMPFunctionValue::invokeWithArguments(const ValueList& arguments, const ScopePtr& scope,
                                                ErrorSlot& error) {
    const ValueList values = evaluateArguments(arguments, scope, error);
    if (error) return undefinedValue();
    return invokeWithEvaluatedArguments(values, error);
}

ValuePtr APMPFunctionValue::invokeWithEvaluatedArguments(const ValueList& arguments,
                                                         ErrorSlot& error) {
    // A native function, or one emptied by the collector, has nothing to run.
    if (!definingScope_ || !body_) return undefinedValue();
    const ScopePtr callScope = definingScope_->createChildScope();
    for (std::size_t i = 0; i < parameterNames_.size(); ++i) {
        callScope->addValue(i < arguments.size() ? arguments[i] : undefinedValue(),
                            parameterNames_[i]);
    }
    // Held for the call, so that a call which redefines this function cannot
    // pull its statements out from under us.
    const std::shared_ptr<const ValueList> body = body_;
    ValuePtr result = APMPEvaluator::executeStatements(*body, callScope, error);
    if (error) return undefinedValue();
    if (const auto* control = valueAs<APMPControlValue>(result);
        control && control->type() == ControlType::Return) {
        return control->data();
    }
    return result;
}

ValuePtr APMPFunctionValue::applyWithName(std::u16string_view name, const ValueList& arguments,
                                          const ScopePtr& scope, ErrorSlot& error) {
    return applyWithOwnProperties(*this, properties_, name, arguments, scope, error);
}

std::u16string APMPFunctionValue::stringValueOrError(ErrorSlot&) const { return functionName_; }

double APMPFunctionValue::doubleValueOrError(ErrorSlot&) const {
    return std::numeric_limits<double>::quiet_NaN();
}

bool APMPFunctionValue::booleanValueOrError(ErrorSlot&) const { return true; }

void APMPFunctionValue::appendReferences(std::vector<const Collectable*>& out) const {
    properties_.appendReferences(out);
    if (definingScope_) out.push_back(definingScope_.get());
}

void APMPFunctionValue::detachReferences(std::vector<CollectablePtr>& out) {
    properties_.detachReferences(out);
    body_.reset();
    if (definingScope_) out.push_back(std::move(definingScope_));
}

}  // namespace measurement::rules
