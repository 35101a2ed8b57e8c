// Control opcodes: method calls, blocks, lists, break, continue, return,
// sequence, if, conditional, switch and functions.

#include <gtest/gtest.h>

#include "ProgramText.h"

namespace measurement::rules::testing {
namespace {

TEST(MethodCallOpcode, DispatchesOnTheReceiver) {
    expectPrograms({
        {R"~((2 (8 "a" 1) "hasOwnProperty" (7 "a")))~", "true"},
        {R"~((2 (8 "a" 1) "hasOwnProperty" (7 "b")))~", "false"},
        {R"~((2 (8) "hasOwnProperty" (7)))~", "error 9"},
        {R"~((2 (8) "toString" (7)))~", R"~("[object Object]")~"},
        {R"~((2 (8 "f" 1) "f" (7)))~", "error 17"},
        {R"~((2 (8 "toString" (51 "" (7) (36 "mine"))) "toString" (7)))~", R"~("mine")~"},
        {R"~((41 "m") (3 "m" (8 "f" (51 "" (7 "x") (36 (26 (15 "x") 2))))) (2 (15 "m") "f" (7 21)))~", "42"},
        {R"~((2 1 "toString" (7)))~", R"~("1")~"},
        {R"~((2 true "toString" (7)))~", R"~("true")~"},
        {R"~((2 true "valueOf" (7)))~", "error 17"},
        {R"~((2 (7 1 (44) (45) 2) "toString" (7)))~", R"~("1,,,2")~"},
        {R"~((2 "ab" "toString" (7)))~", R"~("ab")~"},
        {R"~((2 (44) "toString" (46 (27))))~", "error 7"},
        {R"~((2 (45) "toString" (46 (27))))~", "error 7"},
        {R"~((2 1 2 (7)))~", "error 10"},
        {R"~((2 1 "toString" 5))~", "error 10"},
        {R"~((2 1 "toString"))~", "error 9"},
        {R"~((50 "g" (7)) (43 (15 "g") "p" 1) (2 (15 "g") "hasOwnProperty" (7 "p")))~", "true"},
        {R"~((50 "g" (7)) (43 (15 "g") "p" 1) (2 (15 "g") "p" (7)))~", "error 17"},
        {R"~((50 "g" (7)) (2 (15 "g") "toString" (7)))~", R"~("g")~"},
    });
}

TEST(BlockAndListOpcodes, RunStatementsInTheirScopes) {
    expectPrograms({
        {R"~((41 "x") (3 "x" 1) (53 (41 "x") (3 "x" 2)) (15 "x"))~", "1"},
        {R"~((41 "x") (3 "x" 1) (53 (3 "x" 2)) (15 "x"))~", "2"},
        {R"~((53 1 2))~", "2"},
        {R"~((53))~", "undefined"},
        {R"~((53 (4) 5))~", "<break>"},
        {R"~((5 (46 1 2)))~", "2"},
        {R"~((41 "x") (5 (46 (41 "x") (3 "x" 4))) (15 "x"))~", "4"},
        {R"~((9 (46 (36 3) 4)))~", "<return 3>"},
        {R"~((5 1))~", "error 10"},
        {R"~((5))~", "error 9"},
        {R"~((46 1 (15 "x")))~", "[1,(15 ...)]"},
        {R"~((4))~", "<break>"},
        {R"~((6))~", "<continue>"},
        {R"~((4 1))~", "error 9"},
        {R"~((36))~", "<return undefined>"},
        {R"~((36 (0 2 3)))~", "<return 5>"},
        {R"~((36 1 2))~", "error 9"},
    });
}

TEST(SequenceAndConditionOpcodes, ChooseWhatToEvaluate) {
    expectPrograms({
        {R"~((13 1 2 3))~", "3"},
        {R"~((13))~", "error 9"},
        {R"~((13 1 (4)))~", "error 10"},
        {R"~((22 true 1 2))~", "1"},
        {R"~((22 false 1 2))~", "2"},
        {R"~((22 false 1))~", "undefined"},
        {R"~((22 true))~", "undefined"},
        {R"~((22 true (46 1 2)))~", "2"},
        {R"~((22 "" 1 (46 (36 7))))~", "<return 7>"},
        {R"~((41 "x") (22 true (46 (41 "y") (3 "y" 3))) (15 "y"))~", "3"},
        {R"~((22 false (27) 5))~", "5"},
        {R"~((22))~", "error 9"},
        {R"~((22 1 2 3 4))~", "error 9"},
        {R"~((22 (36) 1))~", "error 3"},
        {R"~((39 1 "a" (27)))~", R"~("a")~"},
        {R"~((39 0 (27) "b"))~", R"~("b")~"},
        {R"~((39 1 2))~", "error 9"},
    });
}

TEST(SwitchOpcode, MatchesStrictlyAndFallsThrough) {
    const std::string append = R"~((41 "r") (3 "r" "") )~";
    const auto body = [](const char* letter) {
        return std::string(R"~((3 "r" (0 (15 "r") ")~") + letter + R"~(")))~";
    };
    const std::string bodies = "(46 " + body("a") + " " + body("b") + " " + body("c") + " " + body("d") + ")";
    const auto run = [&](const std::string& discriminant, const std::string& bodyList) {
        return runProgram(append + "(38 " + discriminant + " (46 1 2 3) " + bodyList + R"~() (15 "r"))~");
    };
    EXPECT_EQ(run("2", bodies), R"~("bcd")~");
    EXPECT_EQ(run("9", bodies), R"~("d")~");
    EXPECT_EQ(run(R"~("2")~", bodies), R"~("d")~");
    const std::string withoutDefault = "(46 " + body("a") + " " + body("b") + " " + body("c") + ")";
    EXPECT_EQ(run("9", withoutDefault), R"~("")~");
    const std::string withBreak = "(46 " + body("a") + " (53 " + body("b") + " (4)) " + body("c") + " " + body("d") + ")";
    EXPECT_EQ(run("1", withBreak), R"~("ab")~");
    EXPECT_EQ(run("3", withBreak), R"~("cd")~");

    expectPrograms({
        {R"~((38 1 (46 1) (46 (36 7))))~", "<return 7>"},
        {R"~((38 1 (46 1) (46 (4))))~", "undefined"},
        {R"~((38 5 (46 1) (46 2 (36 8))))~", "<return 8>"},
        {R"~((38 1 (46 1 2) (46 3)))~", "error 9"},
        {R"~((38 1 5 (46)))~", "error 9"},
        {R"~((38 1 (46) 5))~", "error 9"},
        {R"~((38 1 (46)))~", "error 9"},
        {R"~((38 1 (46 (27)) (46 1)))~", "error 9"},
    });
}

TEST(FunctionOpcodes, MakeAndCallFunctions) {
    expectPrograms({
        {R"~((51 "f" (7 "a" "b") (0 (15 "a") (15 "b"))))~", "function:f"},
        {R"~((51 "" (7)))~", "function:"},
        {R"~((50 "add" (7 "a" "b") (36 (0 (15 "a") (15 "b")))) (add 2 3))~", "5"},
        {R"~((50 "f" (7 "a" "b") (15 "b")) (f 1))~", "undefined"},
        {R"~((50 "f" (7 "a") (15 "a")) (f 1 2 3))~", "1"},
        {R"~((50 "f" (7) 1 2) (f))~", "2"},
        {R"~((50 "f" (7)) (f))~", "undefined"},
        {R"~((50 "f" (7) (36) 5) (f))~", "undefined"},
        {R"~((50 "f" (7) (4) 1) (f))~", "<break>"},
        {R"~((50 "fact" (7 "n") (22 (24 (15 "n") 1) (46 (36 1))) (36 (26 (15 "n") (fact (37 (15 "n") 1))))) (fact 10))~", "3628800"},
        {R"~((41 "g") (3 "g" (51 "named" (7))) (15 "named"))~", "undefined"},
        {R"~((nope 1 2))~", "undefined"},
        {R"~((41 "v") (3 "v" 1) (v))~", "undefined"},
        {R"~((50 "f" (7) 1) (f (27)))~", "error 9"},
        {R"~((51 "f"))~", "error 9"},
        {R"~((51 "f" 5))~", "error 10"},
        {R"~((51 (15 "x") (7)))~", "error 5"},
    });
}

TEST(FunctionOpcodes, ScopesOfCalls) {
    expectPrograms({
        // Setting a global from inside a function changes the global.
        {R"~((41 "g") (3 "g" 1) (50 "f" (7) (3 "g" 2)) (f) (15 "g"))~", "2"},
        // A declaration inside a function stays local to the call.
        {R"~((41 "g") (3 "g" 1) (50 "f" (7) (41 "g") (3 "g" 2)) (f) (15 "g"))~", "1"},
        // A function declared inside a function is set in the call's scope.
        {R"~((50 "outer" (7) (50 "inner" (7) 5) (inner)) (outer))~", "5"},
        // Closures keep their defining scope.
        {R"~((50 "counter" (7) (41 "n") (3 "n" 0) (36 (51 "" (7) (3 "n" (0 (15 "n") 1)))))
             (41 "c") (3 "c" (counter)) (c) (c) (c))~", "3"},
        // Parameters shadow outer names.
        {R"~((41 "a") (3 "a" 1) (50 "f" (7 "a") (3 "a" 9) (15 "a")) (7 (f 2) (15 "a")))~", "[9,1]"},
    });
}

}  // namespace
}  // namespace measurement::rules::testing
