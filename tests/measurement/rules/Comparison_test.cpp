// Comparison opcodes: loose and strict equality, and ordering.

#include <gtest/gtest.h>

#include "ProgramText.h"

namespace measurement::rules::testing {
namespace {

TEST(ComparisonOpcodes, LooseEquality) {
    expectPrograms({
        {R"~((12 (44) (45)))~", "true"},
        {R"~((12 (45) 0))~", "false"},
        {R"~((12 (44) 0))~", "false"},
        {R"~((12 0 ""))~", "true"},
        {R"~((12 "1" 1))~", "true"},
        {R"~((12 true 1))~", "true"},
        {R"~((12 "true" true))~", "false"},
        {R"~((12 (7 1) 1))~", "true"},
        {R"~((12 (7 1) "1"))~", "true"},
        {R"~((12 (8) "[object Object]"))~", "true"},
        {R"~((12 (8) (8)))~", "false"},
        {R"~((41 "m") (3 "m" (8)) (12 (15 "m") (15 "m")))~", "true"},
        {R"~((12 NaN NaN))~", "false"},
        {R"~((29 NaN NaN))~", "true"},
        {R"~((29 "1" 1))~", "false"},
        {R"~((12 1))~", "error 9"},
        {R"~((29 1 2 3))~", "error 9"},
        {R"~((12 (46 (15 "x")) "a"))~", "error 5"},
    });
}

TEST(ComparisonOpcodes, StrictEquality) {
    expectPrograms({
        {R"~((20 1 1))~", "true"},
        {R"~((20 "1" 1))~", "false"},
        {R"~((20 "a" "a"))~", "true"},
        {R"~((20 true true))~", "true"},
        {R"~((20 NaN NaN))~", "false"},
        {R"~((20 0 -0))~", "true"},
        {R"~((20 (45) (45)))~", "true"},
        {R"~((20 (44) (45)))~", "false"},
        {R"~((20 (8) (8)))~", "false"},
        {R"~((20 (7) (7)))~", "false"},
        {R"~((41 "m") (3 "m" (8)) (20 (15 "m") (15 "m")))~", "true"},
        {R"~((21 1 "1"))~", "true"},
        {R"~((21 1 1))~", "false"},
        {R"~((20 1))~", "error 9"},
    });
}

TEST(ComparisonOpcodes, OrderingByTextOrNumber) {
    expectPrograms({
        {R"~((23 1 2))~", "true"},
        {R"~((23 "10" "9"))~", "true"},
        {R"~((23 10 "9"))~", "false"},
        {R"~((23 "a" "b"))~", "true"},
        {R"~((23 "B" "a"))~", "true"},
        {R"~((23 (7 2) (7 10)))~", "false"},
        {R"~((24 2 2))~", "true"},
        {R"~((24 (45) 0))~", "true"},
        {R"~((18 3 2))~", "true"},
        {R"~((18 2 2))~", "false"},
        {R"~((19 2 3))~", "false"},
        {R"~((19 "b" "b"))~", "true"},
        {R"~((23 NaN 1))~", "false"},
        {R"~((18 NaN 1))~", "false"},
        {R"~((24 NaN NaN))~", "false"},
        {R"~((19 (44) (44)))~", "false"},
        {R"~((23 1 2 3))~", "error 9"},
        {R"~((18))~", "error 9"},
        {R"~((23 (36) 1))~", "error 4"},
    });
}

}  // namespace
}  // namespace measurement::rules::testing
