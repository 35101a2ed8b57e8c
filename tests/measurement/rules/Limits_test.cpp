// Programs that try to exhaust the stack or memory fail with an error and
// leave the runtime usable.

#include <gtest/gtest.h>

#include "ProgramText.h"
#include "measurement/rules/APMPStatementValue.h"
#include "measurement/rules/ExecutionLimits.h"
#include "measurement/rules/ScalarValues.h"

namespace measurement::rules::testing {
namespace {

TEST(NestingLimit, DeepRecursionFailsBeforeTheStackRunsOut) {
    APMPRuntime runtime;
    EXPECT_EQ(runProgram(runtime, R"~((50 "r" (7 "n") (36 (r (0 (15 "n") 1)))) (r 0))~"), "error 19");
    runtime.resetInstructionCount();
    EXPECT_EQ(runProgram(runtime, R"~((50 "down" (7 "n") (22 (12 (15 "n") 0) (46 (36 0)))
        (36 (0 1 (down (37 (15 "n") 1))))) (down 100))~"), "100");
}

TEST(NestingLimit, DeeplyNestedProgramTreesFailCleanly) {
    ValuePtr tree = APMPNumberValue::make(1);
    for (int i = 0; i < 100'000; ++i) tree = APMPStatementValue::make(u"34", {tree});
    APMPRuntime runtime;
    ErrorSlot error;
    runtime.executeStatements({tree}, error);
    EXPECT_TRUE(hasPixieCode(error, PixieErrorCode::NestingTooDeep));
    tree.reset();  // taken apart without recursion
}

TEST(GrowthLimits, TextsArraysAndRunsAreCapped) {
    expectPrograms({
        // s = s + s until it is too long.
        {R"~((41 "s") (3 "s" "ab") (42 true 0 false (46 (3 "s" (0 (15 "s") (15 "s"))))))~", "error 20"},
        {R"~((41 "a") (3 "a" (7)) (43 (15 "a") 1e15 1))~", "error 20"},
        {R"~((43 (7) "length" 1e300))~", "error 20"},
        // Many texts below the cap still exhaust the run's budget.
        {R"~((41 "s" "kept" "i") (3 "s" "x") (3 "i" 0) (3 "kept" (7))
             (42 (23 (15 "i") 19) (3 "i" (0 (15 "i") 1)) false (46 (3 "s" (0 (15 "s") (15 "s")))))
             (42 true 0 false (46 (43 (15 "kept") (16 (15 "kept") "length") (0 (15 "s") "")))))~", "error 20"},
    });
}

TEST(GrowthLimits, AResetRestoresTheBudget) {
    APMPRuntime runtime;
    const char* fill = R"~((41 "a") (3 "a" (7)) (43 (15 "a") 200000 1) (16 (15 "a") "length"))~";
    std::string outcome;
    for (int run = 0; run < 20 && outcome != "error 20"; ++run) outcome = runProgram(runtime, fill);
    EXPECT_EQ(outcome, "error 20");
    runtime.resetInstructionCount();
    EXPECT_EQ(runProgram(runtime, fill), "200001");
}

TEST(SelfContainingValues, ConvertAndCompareWithoutEndlessRecursion) {
    expectPrograms({
        {R"~((41 "a") (3 "a" (7 1)) (43 (15 "a") 1 (15 "a")) (0 (15 "a") ""))~", R"~("1,")~"},
        {R"~((41 "a") (3 "a" (7 1)) (43 (15 "a") 1 (15 "a")) (12 (15 "a") "1,"))~", "true"},
        {R"~((41 "a") (3 "a" (7 1)) (43 (15 "a") 1 (15 "a")) (26 (15 "a") 1))~", "NaN"},
        {R"~((41 "a") (3 "a" (7 1)) (43 (15 "a") 1 (15 "a")) (15 "a"))~", "[1,<cycle>]"},
        {R"~((41 "m") (3 "m" (8)) (43 (15 "m") "me" (15 "m")) (0 (15 "m") ""))~", R"~("[object Object]")~"},
    });
}

TEST(HugeNumbers, SaturateAsIndexes) {
    expectPrograms({
        {R"~((16 "abc" 1e300))~", "undefined"},
        {R"~((16 (7 1) 1e300))~", "undefined"},
        {R"~((16 (7 1) 18446744073709551616))~", "undefined"},
        {R"~((16 "abc" Infinity))~", "undefined"},
    });
}

}  // namespace
}  // namespace measurement::rules::testing
