#include "measurement/rules/APMPEvaluator.h"

#include "measurement/rules/APMPControlValue.h"
#include "measurement/rules/APMPFunctionValue.h"
#include "measurement/rules/APMPScope.h"
#include "measurement/rules/APMPStatementValue.h"
#include "measurement/rules/CommandTable.h"
#include "measurement/rules/ExecutionBudget.h"
#include "measurement/rules/ScalarValues.h"

namespace measurement::rules {
namespace {

ValuePtr runCommand(const CommandHandler& command, const ValueList& arguments, const ScopePtr& scope,
                    ErrorSlot& error) {
    switch (command.policy) {
        case ArgumentPolicy::TwoEvaluated:
            if (!checkArgumentCount(arguments, 2, error)) return undefinedValue();
            [[fallthrough]];
        case ArgumentPolicy::Evaluated: {
            const ValueList values = evaluateArguments(arguments, scope, error);
            if (error) return undefinedValue();
            return command.run(values, scope, error);
        }
        case ArgumentPolicy::Unevaluated:
            return command.run(arguments, scope, error);
    }
    return undefinedValue();
}

// A statement named after a function in scope calls it; any other name
// (or a name bound to a non-function) yields undefined.
ValuePtr callNamedFunction(const APMPStatementValue& statement, const ScopePtr& scope, ErrorSlot& error) {
    const ValuePtr callee = scope->valueForName(statement.functionName());
    auto* function = valueAs<APMPFunctionValue>(callee);
    if (!function) return undefinedValue();
    return function->invokeWithArguments(statement.arguments(), scope, error);
}

}  // namespace

ValuePtr APMPEvaluator::evaluateStatement(const ValuePtr& value, const ScopePtr& scope, ErrorSlot& error) {
    ExecutionBudget& budget = scope->budget();
    if (!budget.countInstruction(error)) return undefinedValue();
    const auto* statement = valueAs<APMPStatementValue>(value);
    if (!statement) return value;

    const NestingGuard nesting(budget, error);
    if (!nesting.ok()) return undefinedValue();
    ValuePtr result = statement->command() ? runCommand(*statement->command(), statement->arguments(), scope, error)
                                           : callNamedFunction(*statement, scope, error);
    return error ? undefinedValue() : result;
}

ValuePtr APMPEvaluator::executeStatements(const ValueList& statements, const ScopePtr& scope,
                                          ErrorSlot& error) {
    ValuePtr result = undefinedValue();
    for (const ValuePtr& statement : statements) {
        result = evaluateStatement(statement, scope, error);
        if (error) return undefinedValue();
        if (isControlValue(result)) return result;
    }
    return result;
}

ValueList evaluateArguments(const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error) {
    ValueList values;
    values.reserve(arguments.size());
    for (const ValuePtr& argument : arguments) {
        values.push_back(APMPEvaluator::evaluateStatement(argument, scope, error));
        if (error) break;
    }
    return values;
}

bool checkArgumentCount(const ValueList& arguments, std::size_t n, ErrorSlot& error) {
    return arguments.size() == n || fail(error, PixieErrorCode::WrongArgumentCount);
}

bool checkArgumentCountAtLeast(const ValueList& arguments, std::size_t n, ErrorSlot& error) {
    return arguments.size() >= n || fail(error, PixieErrorCode::WrongArgumentCount);
}

bool checkArgumentCountAtMost(const ValueList& arguments, std::size_t n, ErrorSlot& error) {
    return arguments.size() <= n || fail(error, PixieErrorCode::WrongArgumentCount);
}

}  // namespace measurement::rules
