#pragma once
// Evaluation of program statements, and the small routines every command
// shares.
//
// Every evaluation counts one instruction, literals and values already
// evaluated included. A statement whose name is an opcode goes to that
// opcode's handler; any other name is looked up in scope and, when it is a
// function, invoked with the unevaluated arguments (else undefined).
// A statement list stops at the first error or control value.

#include <cstddef>

#include "measurement/rules/APMPRuntimeValue.h"

namespace measurement::rules {

class APMPEvaluator {
public:
    static ValuePtr evaluateStatement(const ValuePtr& statement, const ScopePtr& scope, ErrorSlot& error);
    // The value of the last statement, the first control value, or undefined
    // (an empty list, or an error).
    static ValuePtr executeStatements(const ValueList& statements, const ScopePtr& scope, ErrorSlot& error);
};

// Each argument evaluated in order; at the first error the failing result
// ends the list.
ValueList evaluateArguments(const ValueList& arguments, const ScopePtr& scope, ErrorSlot& error);

// Code 9 unless the count is exactly n (at least n; at most n).
[[nodiscard]] bool checkArgumentCount(const ValueList& arguments, std::size_t n, ErrorSlot& error);
[[nodiscard]] bool checkArgumentCountAtLeast(const ValueList& arguments, std::size_t n, ErrorSlot& error);
[[nodiscard]] bool checkArgumentCountAtMost(const ValueList& arguments, std::size_t n, ErrorSlot& error);

}  // namespace measurement::rules
