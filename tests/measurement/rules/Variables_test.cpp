// Variable, literal and property opcodes.

#include <gtest/gtest.h>

#include "ProgramText.h"

namespace measurement::rules::testing {
namespace {

TEST(VariableOpcodes, AssignDeclareAndRead) {
    expectPrograms({
        {R"~((41 "x") (3 "x" 5) (15 "x"))~", "5"},
        {R"~((41 "x") (3 "x" 5))~", "5"},
        {R"~((41 "x" "y") (15 "y"))~", "undefined"},
        {R"~((41 "x") (3 "x" 1) (41 "x") (15 "x"))~", "undefined"},
        {R"~((41))~", "undefined"},
        {R"~((15 "nope"))~", "undefined"},
        {R"~((3 "y" 1))~", "error 2"},
        {R"~((3 1 1))~", "error 10"},
        {R"~((3 "x"))~", "error 9"},
        {R"~((15 1))~", "error 10"},
        {R"~((15))~", "error 9"},
        {R"~((15 "a" "b"))~", "error 9"},
        {R"~((41 "a" 2))~", "error 10"},
    });
}

TEST(VariableOpcodes, ConstantsKeepTheirFirstValue) {
    expectPrograms({
        {R"~((52 "c" 1) (3 "c" 2))~", "2"},
        {R"~((52 "c" 1) (3 "c" 2) (15 "c"))~", "1"},
        {R"~((52 "c" 1) (41 "c") (15 "c"))~", "1"},
        {R"~((52 "c" 1 "d" 2) (0 (15 "c") (15 "d")))~", "3"},
        {R"~((52))~", "undefined"},
        {R"~((52 "a" 1 "b"))~", "error 9"},
        {R"~((52 "a" 1 2 3))~", "error 10"},
    });
}

TEST(VariableOpcodes, DeclarationsBeforeAFailingNameStay) {
    APMPRuntime runtime;
    EXPECT_EQ(runProgram(runtime, R"~((52 "a" 1 2 3))~"), "error 10");
    EXPECT_EQ(runProgram(runtime, R"~((41 "b" 7 "c"))~"), "error 10");
    EXPECT_EQ(runProgram(runtime, R"~((7 (15 "a") (15 "b") (15 "c")))~"), "[1,undefined,undefined]");
}

TEST(VariableOpcodes, ArrayAndObjectLiterals) {
    expectPrograms({
        {R"~((7 1 "a" (45)))~", R"~([1,"a",null])~"},
        {R"~((7))~", "[]"},
        {R"~((8 "a" 1 "b" 2))~", "{a:1,b:2}"},
        {R"~((8 1 "x" "1" "y"))~", R"~({1:"y"})~"},
        {R"~((8 (7 1 2) 3))~", "{1,2:3}"},
        {R"~((8))~", "{}"},
        {R"~((8 "a"))~", "error 9"},
        {R"~((8 (46 (15 "x")) 1))~", "error 5"},
    });
}

TEST(VariableOpcodes, TypeNamesAndLiterals) {
    expectPrograms({
        {R"~((40 (45)))~", R"~("object")~"},
        {R"~((40 (7)))~", R"~("object")~"},
        {R"~((40 (8)))~", R"~("object")~"},
        {R"~((40 1))~", R"~("number")~"},
        {R"~((40 "s"))~", R"~("string")~"},
        {R"~((40 true))~", R"~("boolean")~"},
        {R"~((40 (44)))~", R"~("undefined")~"},
        {R"~((40 (51 "" (7))))~", R"~("function")~"},
        {R"~((40 (15 "require")))~", R"~("function")~"},
        {R"~((40))~", "error 9"},
        {R"~((44 1 2))~", "undefined"},
        {R"~((45 1))~", "null"},
    });
}

TEST(PropertyOpcodes, ReadStringsArraysMapsAndFunctions) {
    expectPrograms({
        {R"~((16 "abc" 1))~", R"~("b")~"},
        {R"~((16 "abc" "1"))~", R"~("b")~"},
        {R"~((16 "abc" -0))~", R"~("a")~"},
        {R"~((16 "abc" 3))~", "undefined"},
        {R"~((16 "abc" -1))~", "undefined"},
        {R"~((16 "abc" 1.5))~", "undefined"},
        {R"~((16 "abc" "length"))~", "3"},
        {R"~((16 "a\uD83D\uDE00" "length"))~", "3"},
        {R"~((16 (44) "a"))~", "undefined"},
        {R"~((16 (45) 1))~", "undefined"},
        {R"~((16 5 "a"))~", "undefined"},
        {R"~((16 true "length"))~", "undefined"},
        {R"~((16 (8 "a" 1) "a"))~", "1"},
        {R"~((16 (8 "a" 1) "b"))~", "undefined"},
        {R"~((16 (8 "1" 1) 1))~", "1"},
        {R"~((17 (7 10 20) 1))~", "20"},
        {R"~((17 (7 10 20) "length"))~", "2"},
        {R"~((16 (7 10) 5))~", "undefined"},
        {R"~((50 "f" (7)) (43 (15 "f") "p" 3) (16 (15 "f") "p"))~", "3"},
        {R"~((16 "abc"))~", "error 9"},
        {R"~((17 "abc" 1 2))~", "error 9"},
    });
}

TEST(PropertyOpcodes, WriteMapsArraysAndFunctions) {
    expectPrograms({
        {R"~((41 "m") (3 "m" (8)) (43 (15 "m") "k" 2) (15 "m"))~", "{k:2}"},
        {R"~((41 "m") (3 "m" (8)) (43 (15 "m") 1.5 2) (15 "m"))~", "{1.5:2}"},
        {R"~((43 (8) "k" 2))~", "2"},
        {R"~((41 "a") (3 "a" (7)) (43 (15 "a") 5 1) (15 "a"))~", "[,,,,,1]"},
        {R"~((41 "a") (3 "a" (7 1 2 3 4 5)) (43 (15 "a") "length" 2) (15 "a"))~", "[1,2]"},
        {R"~((41 "a") (3 "a" (7 1)) (43 (15 "a") "length" "3") (15 "a"))~", "[1,,]"},
        {R"~((43 (7) "length" -1))~", "error 11"},
        {R"~((43 (7) "length" 1.5))~", "error 11"},
        {R"~((43 (7) "length" true))~", "error 11"},
        {R"~((43 5 "a" 1))~", "1"},
        {R"~((43 "s" 0 "x"))~", R"~("x")~"},
        {R"~((43 (44) "a" 1))~", "error 6"},
        {R"~((43 (45) "a" 1))~", "error 6"},
        {R"~((43 (7) 1))~", "error 9"},
        {R"~((43 (8) (46 (15 "x")) 1))~", "error 5"},
    });
}

}  // namespace
}  // namespace measurement::rules::testing
