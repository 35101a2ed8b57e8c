// Control opcodes: method calls, blocks, statement lists, break, continue,
// return, the comma sequence, if, the conditional, switch and functions.
// Arguments arrive unevaluated; each routine evaluates what it needs.

#include "measurement/rules/APMPArrayValue.h"
#include "measurement/rules/APMPControlValue.h"
#include "measurement/rules/APMPEvaluator.h"
#include "measurement/rules/APMPFunctionValue.h"
#include "measurement/rules/APMPObjectManager.h"
#include "measurement/rules/APMPScope.h"
#include "measurement/rules/CommandTable.h"
#include "measurement/rules/ExecutionBudget.h"
#include "measurement/rules/ScalarValues.h"
#include "measurement/rules/ValueComparison.h"

namespace measurement::rules {
namespace {

ValuePtr evaluate(const ValuePtr& statement, const ScopePtr& scope, ErrorSlot& error) {
    return APMPEvaluator::evaluateStatement(statement, scope, error);
}

// The array an argument evaluates to; `wrongKind` when it is none.
APMPArrayValue* evaluateToArray(const ValuePtr& statement, const ScopePtr& scope, ErrorSlot& error,
                                ValuePtr& holder, PixieErrorCode wrongKind = PixieErrorCode::WrongArgumentKind) {
    holder = evaluate(statement, scope, error);
    if (error) return nullptr;
    auto* array = valueAs<APMPArrayValue>(holder);
    if (!array) fail(error, wrongKind);
    return array;
}

ValuePtr methodCall(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    if (!checkArgumentCount(args, 3, error)) return undefinedValue();
    const ValueList values = evaluateArguments(args, scope, error);
    if (error) return undefinedValue();
    const auto* name = valueAs<APMPStringValue>(values[1]);
    const auto* list = valueAs<APMPArrayValue>(values[2]);
    if (!name || !list) {
        fail(error, PixieErrorCode::WrongArgumentKind);
        return undefinedValue();
    }
    return values[0]->applyWithName(name->value(), list->allElements(), scope, error);
}

ValuePtr block(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    return APMPEvaluator::executeStatements(args, scope->createChildScope(), error);
}

ValuePtr statementList(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    if (!checkArgumentCount(args, 1, error)) return undefinedValue();
    ValuePtr holder;
    const APMPArrayValue* list = evaluateToArray(args[0], scope, error, holder);
    if (!list) return undefinedValue();
    return APMPEvaluator::executeStatements(list->allElements(), scope, error);
}

ValuePtr statementListLiteral(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    if (!scope->budget().chargeArraySlots(args.size(), error)) return undefinedValue();
    return APMPObjectManager::arrayValueWithArray(args, *scope);
}

ValuePtr breakCommand(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    if (!checkArgumentCount(args, 0, error)) return undefinedValue();
    return APMPControlValue::breakValue();
}

ValuePtr continueCommand(const ValueList& args, const ScopePtr&, ErrorSlot& error) {
    if (!checkArgumentCount(args, 0, error)) return undefinedValue();
    return APMPControlValue::continueValue();
}

ValuePtr returnCommand(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    if (!checkArgumentCountAtMost(args, 1, error)) return undefinedValue();
    if (args.empty()) return APMPControlValue::returnValueWithData(undefinedValue());
    ValuePtr data = evaluate(args[0], scope, error);
    if (error) return undefinedValue();
    return APMPControlValue::returnValueWithData(std::move(data));
}

ValuePtr sequence(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    if (!checkArgumentCountAtLeast(args, 1, error)) return undefinedValue();
    ValuePtr last;
    for (const ValuePtr& arg : args) {
        last = evaluate(arg, scope, error);
        if (error) return undefinedValue();
        if (isControlValue(last)) {
            fail(error, PixieErrorCode::WrongArgumentKind);
            return undefinedValue();
        }
    }
    return last;
}

ValuePtr ifCommand(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    if (!checkArgumentCountAtLeast(args, 1, error) || !checkArgumentCountAtMost(args, 3, error)) {
        return undefinedValue();
    }
    const ValuePtr condition = evaluate(args[0], scope, error);
    if (error) return undefinedValue();
    const bool truthy = condition->booleanValueOrError(error);
    if (error) return undefinedValue();
    const std::size_t branchIndex = truthy ? 1 : 2;
    if (branchIndex >= args.size()) return undefinedValue();
    ValuePtr branch = evaluate(args[branchIndex], scope, error);
    if (error) return undefinedValue();
    // A branch written as a statement list literal runs its statements here.
    if (const auto* list = valueAs<APMPArrayValue>(branch)) {
        return APMPEvaluator::executeStatements(list->allElements(), scope, error);
    }
    return branch;
}

ValuePtr conditional(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    if (!checkArgumentCount(args, 3, error)) return undefinedValue();
    const ValuePtr condition = evaluate(args[0], scope, error);
    if (error) return undefinedValue();
    const bool truthy = condition->booleanValueOrError(error);
    if (error) return undefinedValue();
    ValuePtr chosen = evaluate(args[truthy ? 1 : 2], scope, error);
    return error ? undefinedValue() : chosen;
}

// Evaluates one switch body; true when the switch ends here (with `result`).
bool runSwitchBody(const ValuePtr& body, const ScopePtr& scope, ErrorSlot& error, ValuePtr& result) {
    const ValuePtr value = evaluate(body, scope, error);
    if (error) return true;
    if (const auto* control = valueAs<APMPControlValue>(value)) {
        result = control->type() == ControlType::Break ? undefinedValue() : value;
        return true;
    }
    return false;
}

ValuePtr switchCommand(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    if (!checkArgumentCount(args, 3, error)) return undefinedValue();
    const ValueList values = evaluateArguments(args, scope, error);
    if (error) return undefinedValue();
    const auto* caseList = valueAs<APMPArrayValue>(values[1]);
    const auto* bodyList = valueAs<APMPArrayValue>(values[2]);
    // A body list shorter than the case list has no body to run for some
    // case: refused rather than read past.
    if (!caseList || !bodyList || bodyList->count() < caseList->count()) {
        fail(error, PixieErrorCode::WrongArgumentCount);
        return undefinedValue();
    }
    const ValuePtr& discriminant = values[0];
    const ValueList cases = caseList->allElements();
    const ValueList bodies = bodyList->allElements();
    ValuePtr result = undefinedValue();
    bool matched = false;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        if (!matched) {
            const ValuePtr candidate = evaluate(cases[i], scope, error);
            if (error) return undefinedValue();
            matched = strictEquals(*candidate, *discriminant, error);
            if (error) return undefinedValue();
            if (!matched) continue;
        }
        if (runSwitchBody(bodies[i], scope, error, result)) return error ? undefinedValue() : result;
    }
    if (bodies.size() == cases.size() + 1 && runSwitchBody(bodies.back(), scope, error, result)) {
        return error ? undefinedValue() : result;
    }
    return undefinedValue();
}

std::shared_ptr<APMPFunctionValue> makeFunction(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    if (!checkArgumentCountAtLeast(args, 2, error)) return nullptr;
    std::u16string name = args[0]->stringValueOrError(error);
    if (error) return nullptr;
    ValuePtr holder;
    const APMPArrayValue* parameterList = evaluateToArray(args[1], scope, error, holder);
    if (!parameterList) return nullptr;
    std::vector<std::u16string> parameters;
    for (const ValuePtr& parameter : parameterList->allElements()) {
        parameters.push_back(parameter->stringValueOrError(error));
        if (error) return nullptr;
    }
    ValueList body(args.begin() + 2, args.end());
    return APMPObjectManager::functionValue(std::move(name), std::move(parameters), std::move(body), scope);
}

ValuePtr functionExpression(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    ValuePtr function = makeFunction(args, scope, error);
    return function ? function : undefinedValue();
}

ValuePtr functionDeclaration(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    const auto function = makeFunction(args, scope, error);
    if (!function) return undefinedValue();
    scope->setValue(function, function->functionName());
    return function;
}

constexpr auto U = ArgumentPolicy::Unevaluated;
constexpr CommandHandler kControl[] = {
    {u"2", U, methodCall},   {u"53", U, block},          {u"4", U, breakCommand},
    {u"5", U, statementList}, {u"9", U, statementList},  {u"6", U, continueCommand},
    {u"50", U, functionDeclaration}, {u"13", U, sequence}, {u"51", U, functionExpression},
    {u"22", U, ifCommand},   {u"46", U, statementListLiteral}, {u"36", U, returnCommand},
    {u"38", U, switchCommand}, {u"39", U, conditional},
};

}  // namespace

std::span<const CommandHandler> controlCommands() { return kControl; }

}  // namespace measurement::rules
