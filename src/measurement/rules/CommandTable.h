#pragma once
// The opcode table of the interpreter: every opcode a program may use, with
// how its arguments reach the routine and the routine itself. The table is
// built once per process from the evaluators' lists and never changes.

#include <span>
#include <string_view>

#include "measurement/rules/APMPRuntimeValue.h"

namespace measurement::rules {

enum class ArgumentPolicy {
    // All arguments evaluated, left to right, before the routine runs.
    Evaluated,
    // Exactly two arguments (else code 9), both evaluated (comparisons).
    TwoEvaluated,
    // The statements as written; the routine evaluates what it needs.
    Unevaluated,
};

using CommandRoutine = ValuePtr (*)(const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error);

struct CommandHandler {
    std::u16string_view opcode;
    ArgumentPolicy policy;
    CommandRoutine run;
};

// The evaluators' lists, in registration order.
std::span<const CommandHandler> bitwiseCommands();
std::span<const CommandHandler> comparisonCommands();
std::span<const CommandHandler> controlCommands();
std::span<const CommandHandler> logicalCommands();
std::span<const CommandHandler> loopCommands();
std::span<const CommandHandler> mathCommands();
std::span<const CommandHandler> variableCommands();

// The handler of an opcode, or null when the name is not an opcode.
const CommandHandler* findCommand(std::u16string_view opcode);

}  // namespace measurement::rules
