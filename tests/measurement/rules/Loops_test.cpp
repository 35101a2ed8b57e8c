// Loop opcodes: for with per-iteration bindings, while and do-while,
// for-in and for-of with their three bindings.

#include <gtest/gtest.h>

#include "ProgramText.h"

namespace measurement::rules::testing {
namespace {

TEST(WhileLoopOpcode, RunsWhileTheConditionHolds) {
    expectPrograms({
        {R"~((41 "i" "s") (3 "i" 0) (3 "s" 0)
             (42 (23 (15 "i") 5) (3 "i" (0 (15 "i") 1)) false (46 (3 "s" (0 (15 "s") (15 "i")))))
             (15 "s"))~", "10"},
        {R"~((41 "n") (3 "n" 0) (42 false 0 true (46 (3 "n" (0 (15 "n") 1)))) (15 "n"))~", "1"},
        {R"~((41 "n") (3 "n" 0) (42 false 0 false (46 (3 "n" (0 (15 "n") 1)))) (15 "n"))~", "0"},
        {R"~((42 true 0 false (46 (4))))~", "undefined"},
        {R"~((42 true 0 true (46 (4))))~", "undefined"},
        {R"~((41 "i" "s") (3 "i" 0) (3 "s" 0)
             (42 (23 (15 "i") 5) 0 false
                 (46 (3 "i" (0 (15 "i") 1)) (22 (12 (15 "i") 3) (46 (6))) (3 "s" (0 (15 "s") (15 "i")))))
             (15 "s"))~", "12"},
        {R"~((50 "f" (7) (42 true 0 false (46 (36 9)))) (f))~", "9"},
        {R"~((42 false 0 false 5))~", "error 10"},
        {R"~((42 1 2 3))~", "error 9"},
        {R"~((42 (36) 0 false (46)))~", "error 3"},
    });
}

TEST(ForLoopOpcode, GivesEachIterationItsOwnBindings) {
    expectPrograms({
        {R"~((41 "i" "s") (3 "i" 0) (3 "s" "")
             (63 (7 "i") (23 (15 "i") 3) (3 "i" (0 (15 "i") 1)) (46 (3 "s" (0 (15 "s") (15 "i")))))
             (7 (15 "s") (15 "i")))~", R"~(["012",0])~"},
        {R"~((41 "i" "fs" "g") (3 "fs" (7)) (3 "i" 0)
             (63 (7 "i") (23 (15 "i") 3) (3 "i" (0 (15 "i") 1))
                 (46 (43 (15 "fs") (15 "i") (51 "" (7) (15 "i")))))
             (3 "g" (16 (15 "fs") 0)) (41 "a") (3 "a" (g))
             (3 "g" (16 (15 "fs") 2)) (7 (15 "a") (g)))~", "[0,2]"},
        {R"~((41 "i") (3 "i" 0) (63 (7 "i") true (3 "i" (0 (15 "i") 1)) (46 (22 (12 (15 "i") 4) (46 (4))))))~", "undefined"},
        {R"~((50 "f" (7) (41 "i") (3 "i" 0) (63 (7 "i") true (3 "i" (0 (15 "i") 1)) (46 (22 (12 (15 "i") 4) (46 (36 (15 "i"))))))) (f))~", "4"},
        {R"~((63 5 false 0 (46)))~", "error 10"},
        {R"~((63 (7) false 0 5))~", "error 10"},
        {R"~((63 (7) false 0))~", "error 9"},
    });
}

TEST(ForInOpcodes, WalkKeys) {
    const char* collect = R"~((41 "k" "s") (3 "s" "") (47 "k" %s (46 (3 "s" (0 (15 "s") (15 "k"))))) (15 "s"))~";
    const auto keys = [&](const std::string& subject) {
        char buffer[512];
        std::snprintf(buffer, sizeof buffer, collect, subject.c_str());
        return runProgram(buffer);
    };
    EXPECT_EQ(keys(R"~("abc")~"), R"~("012")~");
    EXPECT_EQ(keys(R"~((8 "b" 1 "a" 2))~"), R"~("ab")~");
    EXPECT_EQ(keys("(7)"), R"~("")~");
    EXPECT_EQ(keys("5"), R"~("")~");
    EXPECT_EQ(keys("(45)"), R"~("")~");

    expectPrograms({
        {R"~((41 "a" "k" "s") (3 "a" (7 1 2)) (43 (15 "a") 4 5) (43 (15 "a") "x" 0) (3 "s" "")
             (47 "k" (15 "a") (46 (3 "s" (0 (15 "s") (15 "k"))))) (15 "s"))~", R"~("x014")~"},
        {R"~((50 "f" (7)) (43 (15 "f") "p" 1) (41 "k") (47 "k" (15 "f") (46)) (15 "k"))~", R"~("p")~"},
        {R"~((41 "k") (47 "k" "abc" (46)) (15 "k"))~", R"~("2")~"},
        {R"~((41 "k") (47 "k" 5 (46 (3 "k" 1))) (15 "k"))~", "undefined"},
        {R"~((47 "k" 5 6))~", "error 10"},
        {R"~((47 "k" "ab"))~", "error 9"},
        {R"~((50 "f" (7) (47 "k" "abc" (46 (22 (12 (15 "k") "1") (46 (36 (15 "k")))))) 9) (f))~", R"~("1")~"},
    });
}

TEST(ForOfOpcodes, WalkItems) {
    expectPrograms({
        {R"~((41 "x" "s") (3 "s" "") (64 "x" "abc" (46 (3 "s" (0 (15 "s") (0 (15 "x") "."))))) (15 "s"))~", R"~("a.b.c.")~"},
        {R"~((41 "x" "s") (3 "s" (7)) (64 "x" "\uD83D\uDE00" (46 (43 (15 "s") (16 (15 "s") "length") (15 "x")))) (16 (15 "s") "length"))~", "2"},
        {R"~((41 "a" "x" "n") (3 "n" 0) (3 "a" (7 1 2)) (43 (15 "a") 3 4)
             (64 "x" (15 "a") (46 (3 "n" (0 (15 "n") 1)))) (7 (15 "n") (15 "x")))~", "[4,4]"},
        {R"~((41 "a" "x" "s") (3 "s" "") (3 "a" (7 1)) (43 (15 "a") 2 3)
             (64 "x" (15 "a") (46 (3 "s" (0 (15 "s") (40 (15 "x")))))) (15 "s"))~", R"~("numberundefinednumber")~"},
        {R"~((41 "x") (64 "x" (7 1 2 3) (46 (22 (12 (15 "x") 2) (46 (4))))) (15 "x"))~", "2"},
        {R"~((41 "x") (64 "x" 5 (46)))~", "error 16"},
        {R"~((41 "x") (64 "x" (8) (46)))~", "error 16"},
        {R"~((41 "x") (65 "x" (44) (46)))~", "error 16"},
        // A break inside a switch inside a loop ends only the switch.
        {R"~((41 "n") (3 "n" 0)
             (64 "x" (7 1 2 3) (46 (38 (15 "x") (46 2) (46 (4))) (3 "n" (0 (15 "n") 1)))) (15 "n"))~", "3"},
    });
}

TEST(ForInOfBindings, ExistingConstantOrVariable) {
    expectPrograms({
        {R"~((41 "s") (3 "s" "") (54 "k" "ab" (46 (3 "k" "z") (3 "s" (0 (15 "s") (15 "k"))))) (7 (15 "s") (15 "k")))~", R"~(["01",undefined])~"},
        {R"~((41 "s") (3 "s" "") (55 "k" "ab" (46 (3 "k" "z") (3 "s" (0 (15 "s") (15 "k"))))) (7 (15 "s") (15 "k")))~", R"~(["zz",undefined])~"},
        {R"~((41 "s") (3 "s" "") (65 "k" "ab" (46 (3 "k" "z") (3 "s" (0 (15 "s") (15 "k"))))) (15 "s"))~", R"~("ab")~"},
        {R"~((41 "s") (3 "s" "") (66 "k" "ab" (46 (3 "k" "z") (3 "s" (0 (15 "s") (15 "k"))))) (15 "s"))~", R"~("zz")~"},
        {R"~((41 "k") (64 "k" "ab" (46)) (15 "k"))~", R"~("b")~"},
        // Closures made in fresh bindings keep their own item.
        {R"~((41 "fs" "g") (3 "fs" (7)) (66 "x" (7 10 20) (46 (43 (15 "fs") (16 (15 "fs") "length") (51 "" (7) (15 "x")))))
             (3 "g" (16 (15 "fs") 0)) (g))~", "10"},
    });
}

}  // namespace
}  // namespace measurement::rules::testing
