#pragma once
// Test-only shorthand for rule programs and their results.
//
// parseProgram reads statements written as s-expressions:
//   (0 "a" 1)                 statement "0" with the string "a" and the number 1
//   (f 1 true) (15 "x")       several top-level statements
// Literals: numbers (-1.5, 1e3, NaN, Infinity, -Infinity), strings in double
// quotes (\" \\ \n \uXXXX escapes), true and false. A statement's name is
// any token (an opcode or a function name).
//
// describe prints a value canonically: undefined, null, true, 3, "text",
// [1,,"a"] (an empty piece for a hole), {a:1,b:[]} (names sorted),
// function:name, <return 1>, <break>, <continue>, and <cycle> for a
// container already being printed.
//
// runProgram runs a program in a fresh runtime's global scope and answers
// describe(result), or "error N" for a pixie error with code N.

#include <initializer_list>
#include <string>
#include <string_view>

#include "measurement/rules/APMPRuntime.h"
#include "measurement/rules/APMPRuntimeValue.h"

namespace measurement::rules::testing {

ValueList parseProgram(std::string_view text);
std::string describe(const ValuePtr& value);
std::string describeOutcome(const ValuePtr& value, const ErrorSlot& error);

std::string runProgram(std::string_view text);
// The same in a given runtime (state carries over between calls).
std::string runProgram(APMPRuntime& runtime, std::string_view text);

struct ProgramCase {
    const char* program;
    const char* expected;
};

// Runs each program in a fresh runtime and expects its described outcome.
void expectPrograms(std::initializer_list<ProgramCase> cases);

}  // namespace measurement::rules::testing
