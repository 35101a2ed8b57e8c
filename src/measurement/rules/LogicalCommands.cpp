// Logical opcodes: && and || (short-circuit, answering an operand) and !.
// The argument count is checked before anything is evaluated.

#include "measurement/rules/APMPEvaluator.h"
#include "measurement/rules/CommandTable.h"
#include "measurement/rules/ScalarValues.h"

namespace measurement::rules {
namespace {

// Evaluates the first operand; when its truthiness equals `decideOn`, it is
// the result, otherwise the second operand's value is.
ValuePtr shortCircuit(const ValueList& args, const ScopePtr& scope, ErrorSlot& error, bool decideOn) {
    if (!checkArgumentCount(args, 2, error)) return undefinedValue();
    ValuePtr first = APMPEvaluator::evaluateStatement(args[0], scope, error);
    if (error) return undefinedValue();
    const bool truthy = first->booleanValueOrError(error);
    if (error) return undefinedValue();
    if (truthy == decideOn) return first;
    ValuePtr second = APMPEvaluator::evaluateStatement(args[1], scope, error);
    return error ? undefinedValue() : second;
}

ValuePtr logicalAnd(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    return shortCircuit(args, scope, error, false);
}

ValuePtr logicalOr(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    return shortCircuit(args, scope, error, true);
}

ValuePtr logicalNot(const ValueList& args, const ScopePtr& scope, ErrorSlot& error) {
    if (!checkArgumentCount(args, 1, error)) return undefinedValue();
    const ValuePtr value = APMPEvaluator::evaluateStatement(args[0], scope, error);
    if (error) return undefinedValue();
    const bool truthy = value->booleanValueOrError(error);
    if (error) return undefinedValue();
    return booleanValue(!truthy);
}

constexpr auto U = ArgumentPolicy::Unevaluated;
constexpr CommandHandler kLogical[] = {
    {u"1", U, logicalAnd},
    {u"28", U, logicalNot},
    {u"30", U, logicalOr},
};

}  // namespace

std::span<const CommandHandler> logicalCommands() { return kLogical; }

}  // namespace measurement::rules
