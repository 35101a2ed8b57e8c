// Arithmetic, logical and bitwise opcodes.

#include <gtest/gtest.h>

#include "ProgramText.h"

namespace measurement::rules::testing {
namespace {

TEST(MathOpcodes, AddNumbersOrConcatenateStringLikeValues) {
    expectPrograms({
        {R"~((0 1 2))~", "3"},
        {R"~((0 "a" 1))~", R"~("a1")~"},
        {R"~((0 1 "a"))~", R"~("1a")~"},
        {R"~((0 true true))~", "2"},
        {R"~((0 (45) 1))~", "1"},
        {R"~((0 (44) 1))~", "NaN"},
        {R"~((0 (7) 1))~", R"~("1")~"},
        {R"~((0 (8) 1))~", R"~("[object Object]1")~"},
        {R"~((0 (7 1 2) (7 3)))~", R"~("1,23")~"},
        {R"~((0 "" 1e21))~", R"~("1e+21")~"},
        {R"~((0 (51 "f" (7)) 1))~", R"~("f1")~"},
        {R"~((0 1))~", "error 9"},
        {R"~((0 1 2 3))~", "error 9"},
        {R"~((0 (46 (15 "x")) 1))~", "error 5"},
        {R"~((0 (4) 1))~", "error 4"},
    });
}

TEST(MathOpcodes, DivideRemainderMultiplyNegateSubtract) {
    expectPrograms({
        {R"~((10 7 2))~", "3.5"},
        {R"~((10 1 0))~", "Infinity"},
        {R"~((10 -1 0))~", "-Infinity"},
        {R"~((10 0 0))~", "NaN"},
        {R"~((10 "9" "3"))~", "3"},
        {R"~((25 5 0))~", "NaN"},
        {R"~((25 -5 3))~", "-2"},
        {R"~((25 5.5 2))~", "1.5"},
        {R"~((25 Infinity 2))~", "NaN"},
        {R"~((25 5 Infinity))~", "5"},
        {R"~((26 "3" 4))~", "12"},
        {R"~((26 (7 2) (7 3)))~", "6"},
        {R"~((26 (8) 1))~", "NaN"},
        {R"~((27 "5"))~", "-5"},
        {R"~((27 (45)))~", "0"},
        {R"~((37 10 "4"))~", "6"},
        {R"~((10 1))~", "error 9"},
        {R"~((25 1 2 3))~", "error 9"},
        {R"~((26 1))~", "error 9"},
        {R"~((27 1 2))~", "error 9"},
        {R"~((37))~", "error 9"},
        {R"~((37 (36) 1))~", "error 4"},
    });
}

TEST(MathOpcodes, PassThroughsAnswerTheirFirstArgument) {
    expectPrograms({
        {R"~((32 1 2))~", "1"},
        {R"~((33 "a" 2))~", R"~("a")~"},
        {R"~((34 "x"))~", R"~("x")~"},
        {R"~((35 (7 1)))~", "[1]"},
        {R"~((32 1))~", "error 9"},
        {R"~((33 1 2 3))~", "error 9"},
        {R"~((34))~", "error 9"},
        {R"~((35 1 2))~", "error 9"},
    });
}

TEST(MathOpcodes, AnArgumentErrorEndsTheStatement) {
    expectPrograms({
        {R"~((0 (27) 1))~", "error 9"},
        {R"~((26 1 (3 "undeclared" 1)))~", "error 2"},
    });
}

TEST(LogicalOpcodes, AndAndOrAnswerAnOperandAndShortCircuit) {
    expectPrograms({
        {R"~((1 0 (27)))~", "0"},
        {R"~((1 1 "b"))~", R"~("b")~"},
        {R"~((1 "" 5))~", R"~("")~"},
        {R"~((1 (8) (7)))~", "[]"},
        {R"~((1 1 (27)))~", "error 9"},
        {R"~((30 "s" (27)))~", R"~("s")~"},
        {R"~((30 0 (45)))~", "null"},
        {R"~((30 (45) (44)))~", "undefined"},
        {R"~((30 NaN (27)))~", "error 9"},
        {R"~((28 0))~", "true"},
        {R"~((28 "a"))~", "false"},
        {R"~((28 (8)))~", "false"},
        {R"~((28 (7)))~", "false"},
        {R"~((28 (36)))~", "error 3"},
        {R"~((1 (36) 1))~", "error 3"},
        {R"~((1 1))~", "error 9"},
        {R"~((30 1 2 3))~", "error 9"},
        {R"~((28))~", "error 9"},
    });
}

TEST(LogicalOpcodes, WrongCountFailsBeforeAnyOperandIsEvaluated) {
    APMPRuntime runtime;
    EXPECT_EQ(runProgram(runtime, R"~((41 "x") (1 (3 "x" 1) 2 3))~"), "error 9");
    EXPECT_EQ(runProgram(runtime, R"~((30 (3 "x" 2)))~"), "error 9");
    EXPECT_EQ(runProgram(runtime, R"~((15 "x"))~"), "undefined");
}

TEST(BitwiseOpcodes, WorkOnThe32BitFormsOfTheNumbers) {
    expectPrograms({
        {R"~((56 4294967295 1))~", "1"},
        {R"~((56 "12" 10))~", "8"},
        {R"~((56 NaN 1))~", "0"},
        {R"~((57 1 33))~", "2"},
        {R"~((57 1 31))~", "-2147483648"},
        {R"~((57 3 -1))~", "-2147483648"},
        {R"~((58 0))~", "-1"},
        {R"~((58 2147483648))~", "2147483647"},
        {R"~((59 1 2))~", "3"},
        {R"~((59 1.9 (45)))~", "1"},
        {R"~((60 -8 1))~", "-4"},
        {R"~((60 -1 31))~", "-1"},
        {R"~((61 -1 0))~", "4294967295"},
        {R"~((61 -8 1))~", "2147483644"},
        {R"~((62 5 1))~", "4"},
        {R"~((62 -1 Infinity))~", "-1"},
        {R"~((56 1))~", "error 9"},
        {R"~((58 1 2))~", "error 9"},
        {R"~((61))~", "error 9"},
        {R"~((62 (4) 1))~", "error 4"},
    });
}

}  // namespace
}  // namespace measurement::rules::testing
