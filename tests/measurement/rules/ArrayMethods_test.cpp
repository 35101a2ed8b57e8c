// The array method table: each method's normal and edge results, callback
// iteration, reduce, sorting and the growth charged to a run.

#include <gtest/gtest.h>

#include "ProgramText.h"

namespace measurement::rules::testing {
namespace {

// (2 receiver "name" (7 arguments...)) is a method call; (51 "" (7 params) body)
// an anonymous function; opcodes 0 add, 18 greater, 23 less, 37 subtract.

TEST(ArrayMethods, ConcatCopiesSlotsAndFlattensOneLevel) {
    expectPrograms({
        {R"~((2 (7 1 2) "concat" (7 (7 3 (7 4)) 5)))~", "[1,2,3,[4],5]"},
        {R"~((2 (7 1) "concat" (7)))~", "[1]"},
        {R"~((41 "a") (3 "a" (7)) (43 (15 "a") 2 "x") (2 (15 "a") "concat" (7 1)))~", R"~([,,"x",1])~"},
        {R"~((41 "a") (3 "a" (7 1)) (2 (15 "a") "concat" (7 2)) (15 "a"))~", "[1]"},
        {R"~((41 "a") (3 "a" (7 1)) (2 (15 "a") "concat" (7 (15 "a"))))~", "[1,1]"},
        {R"~((2 (7) "concat" (7 (7 (4)))))~", "[<break>]"},
        {R"~((2 (7) "concat" (7 (4))))~", "error 10"},
    });
}

TEST(ArrayMethods, EverySomeFilterForEachAndMapIterateOverPresentSlots) {
    expectPrograms({
        {R"~((2 (7 1 2 3) "every" (7 (51 "" (7 "x") (36 (18 (15 "x") 0))))))~", "true"},
        {R"~((2 (7 1 -2 3) "every" (7 (51 "" (7 "x") (36 (18 (15 "x") 0))))))~", "false"},
        {R"~((2 (7) "every" (7 (51 "" (7)))))~", "true"},
        {R"~((2 (7) "some" (7 (51 "" (7)))))~", "false"},
        {R"~((2 (7 -1 2) "some" (7 (51 "" (7 "x") (36 (18 (15 "x") 0))))))~", "true"},
        {R"~((2 (7 1 2 3 4) "filter" (7 (51 "" (7 "x" "i") (36 (23 (15 "i") 2))))))~", "[1,2]"},
        {R"~((2 (7 1 2) "map" (7 (51 "" (7 "x" "i" "a") (36 (7 (15 "x") (15 "i") (16 (15 "a") "length")))))))~",
         "[[1,0,2],[2,1,2]]"},
        {R"~((41 "n") (3 "n" 0) (2 (7 5 6) "forEach" (7 (51 "" (7 "x") (3 "n" (0 (15 "n") (15 "x")))))) (15 "n"))~",
         "11"},
        {R"~((2 (7 5 6) "forEach" (7 (51 "" (7)))))~", "undefined"},
        {R"~((2 (7 1) "every" (7 5)))~", "error 10"},
        {R"~((2 (7 1) "some" (7)))~", "error 9"},
        {R"~((2 (7 1) "map" (7 (51 "" (7)) 2)))~", "error 9"},
        {R"~((2 (7 1) "filter" (7 (51 "" (7) (27)))))~", "error 9"},
    });
}

TEST(ArrayMethods, IterationSkipsHolesAndSeesChangesMadeDuringIt) {
    expectPrograms({
        // Holes stay holes in "map", and trailing holes are not written.
        {R"~((41 "a") (3 "a" (7 1)) (43 (15 "a") 2 3) (43 (15 "a") "length" 5)
             (2 (15 "a") "map" (7 (51 "" (7 "x") (36 (26 (15 "x") 10))))))~",
         "[10,,30]"},
        // Appended slots are not visited; removed slots are skipped: the first
        // call leaves [1, 2], the second [1].
        {R"~((41 "a" "n") (3 "a" (7 1 2 3)) (3 "n" 0)
             (2 (15 "a") "forEach" (7 (51 "" (7 "x") (2 (15 "a") "push" (7 9)) (2 (15 "a") "pop" (7)) (2 (15 "a") "pop" (7))
                                      (3 "n" (0 (15 "n") 1)))))
             (7 (15 "n") (15 "a")))~",
         "[2,[1]]"},
    });
}

TEST(ArrayMethods, HasOwnPropertyIndexOfAndLastIndexOf) {
    expectPrograms({
        {R"~((41 "a") (3 "a" (7)) (43 (15 "a") 5 1) (7 (2 (15 "a") "hasOwnProperty" (7 2))
             (2 (15 "a") "hasOwnProperty" (7 5)) (2 (15 "a") "hasOwnProperty" (7 "length"))
             (2 (15 "a") "hasOwnProperty" (7 "5"))))~",
         "[false,true,true,true]"},
        {R"~((2 (7) "hasOwnProperty" (7)))~", "error 9"},
        {R"~((2 (7 "1" 1) "indexOf" (7 1)))~", "1"},
        {R"~((2 (7 "1") "indexOf" (7 1)))~", "-1"},
        {R"~((2 (7 NaN) "indexOf" (7 NaN)))~", "-1"},
        {R"~((2 (7 (44) 1) "indexOf" (7)))~", "0"},
        {R"~((2 (7 1 2 3) "indexOf" (7 1 10)))~", "-1"},
        {R"~((2 (7 1 2 1) "indexOf" (7 1 -1)))~", "2"},
        {R"~((2 (7 1 2 3) "indexOf" (7 1 -1)))~", "-1"},
        {R"~((2 (7 1 2 3) "indexOf" (7 1 -10)))~", "0"},
        {R"~((2 (7 1 2 1) "indexOf" (7 1 0.9)))~", "0"},
        {R"~((2 (7) "indexOf" (7 1 2 3)))~", "error 9"},
        {R"~((2 (7 1 2 1) "lastIndexOf" (7 1)))~", "2"},
        {R"~((2 (7 1 2 1) "lastIndexOf" (7 1 NaN)))~", "2"},
        {R"~((2 (7 1 2 1) "lastIndexOf" (7 1 1)))~", "0"},
        {R"~((2 (7 1 2 1) "lastIndexOf" (7 1 -2)))~", "0"},
        {R"~((2 (7 1 2 1) "lastIndexOf" (7 1 -4)))~", "-1"},
        {R"~((2 (7 1 2 1) "lastIndexOf" (7 1 99)))~", "2"},
        {R"~((2 (7) "lastIndexOf" (7 1)))~", "-1"},
    });
}

TEST(ArrayMethods, JoinAndToString) {
    expectPrograms({
        {R"~((2 (7 (44) (45) 1) "join" (7 "-")))~", R"~("--1")~"},
        {R"~((2 (7 1 2) "join" (7)))~", R"~("1,2")~"},
        {R"~((2 (7 1 2) "join" (7 (44))))~", R"~("12")~"},
        {R"~((2 (7 1 2) "join" (7 (45))))~", R"~("12")~"},
        {R"~((2 (7 1 2) "join" (7 0)))~", R"~("102")~"},
        {R"~((2 (7) "join" (7 "-")))~", R"~("")~"},
        {R"~((2 (7 1 (7 2 3)) "toString" (7)))~", R"~("1,2,3")~"},
        {R"~((2 (7) "join" (7 1 2)))~", "error 9"},
        {R"~((2 (7) "toString" (7 1)))~", "error 9"},
    });
}

TEST(ArrayMethods, PushPopShiftUnshiftAndReverseChangeTheReceiver) {
    expectPrograms({
        {R"~((41 "a") (3 "a" (7 1)) (7 (2 (15 "a") "push" (7 2 3)) (15 "a")))~", "[3,[1,2,3]]"},
        {R"~((41 "a") (3 "a" (7 1)) (7 (2 (15 "a") "unshift" (7 2 3)) (15 "a")))~", "[3,[2,3,1]]"},
        {R"~((41 "a") (3 "a" (7 1 2)) (7 (2 (15 "a") "pop" (7)) (15 "a")))~", "[2,[1]]"},
        {R"~((41 "a") (3 "a" (7 1 2)) (7 (2 (15 "a") "shift" (7)) (15 "a")))~", "[1,[2]]"},
        {R"~((2 (7) "pop" (7)))~", "undefined"},
        {R"~((2 (7) "shift" (7)))~", "undefined"},
        {R"~((41 "a") (3 "a" (7 1)) (43 (15 "a") "length" 3) (7 (2 (15 "a") "pop" (7)) (16 (15 "a") "length")))~",
         "[undefined,2]"},
        {R"~((41 "a") (3 "a" (7 1 2 3)) (20 (2 (15 "a") "reverse" (7)) (15 "a")))~", "true"},
        {R"~((2 (7 1 2 3) "reverse" (7)))~", "[3,2,1]"},
        {R"~((2 (7) "pop" (7 1)))~", "error 9"},
        {R"~((2 (7) "reverse" (7 1)))~", "error 9"},
    });
}

TEST(ArrayMethods, ReduceAndReduceRight) {
    expectPrograms({
        {R"~((2 (7 1 2 3) "reduce" (7 (51 "" (7 "s" "x") (36 (0 (15 "s") (15 "x")))))))~", "6"},
        {R"~((2 (7 "a" "b") "reduce" (7 (51 "" (7 "s" "x") (36 (0 (15 "s") (15 "x")))) "z")))~", R"~("zab")~"},
        {R"~((2 (7 "a" "b") "reduceRight" (7 (51 "" (7 "s" "x") (36 (0 (15 "s") (15 "x")))))))~", R"~("ba")~"},
        {R"~((2 (7 "a" "b") "reduce" (7 (51 "" (7 "s" "x" "i" "a") (36 (7 (15 "s") (15 "i") (16 (15 "a") "length")))) 0)))~",
         "[[0,0,2],1,2]"},
        {R"~((2 (7) "reduce" (7 (51 "" (7)))))~", "error 8"},
        {R"~((2 (7) "reduceRight" (7 (51 "" (7)))))~", "error 8"},
        {R"~((2 (7) "reduce" (7 (51 "" (7) (27)) 7)))~", "7"},
        {R"~((41 "a") (3 "a" (7)) (43 (15 "a") 3 5) (2 (15 "a") "reduce" (7 (51 "" (7 "s") (27)))))~", "5"},
        {R"~((2 (7 1) "reduce" (7 1)))~", "error 10"},
        {R"~((2 (7 1) "reduce" (7 (51 "" (7)) (4))))~", "error 10"},
        {R"~((2 (7 1) "reduce" (7)))~", "error 9"},
        {R"~((2 (7 1) "reduce" (7 (51 "" (7)) 1 2)))~", "error 9"},
        {R"~((2 (7 1 2) "reduce" (7 (51 "" (7) (27)))))~", "error 9"},
    });
}

TEST(ArrayMethods, SliceAndSplice) {
    expectPrograms({
        {R"~((2 (7 1 2 3 4) "slice" (7)))~", "[1,2,3,4]"},
        {R"~((2 (7 1 2 3 4) "slice" (7 1 3)))~", "[2,3]"},
        {R"~((2 (7 1 2 3 4) "slice" (7 -2)))~", "[3,4]"},
        {R"~((2 (7 1 2 3 4) "slice" (7 3 1)))~", "[]"},
        {R"~((2 (7 1 2 3 4) "slice" (7 -Infinity Infinity)))~", "[1,2,3,4]"},
        {R"~((2 (7 1 2 3 4) "slice" (7 "1" -1)))~", "[2,3]"},
        {R"~((41 "a") (3 "a" (7 1)) (43 (15 "a") 2 3) (2 (15 "a") "slice" (7)))~", "[1,,3]"},
        {R"~((2 (7) "slice" (7 1 2 3)))~", "error 9"},
        {R"~((41 "a") (3 "a" (7 1 2 3 4)) (7 (2 (15 "a") "splice" (7 1 2 "x")) (15 "a")))~", R"~([[2,3],[1,"x",4]])~"},
        {R"~((41 "a") (3 "a" (7 1 2 3)) (7 (2 (15 "a") "splice" (7 -1)) (15 "a")))~", "[[3],[1,2]]"},
        {R"~((41 "a") (3 "a" (7 1 2 3)) (7 (2 (15 "a") "splice" (7)) (15 "a")))~", "[[],[1,2,3]]"},
        {R"~((41 "a") (3 "a" (7 1 2)) (7 (2 (15 "a") "splice" (7 Infinity 5 8 9)) (15 "a")))~", "[[],[1,2,8,9]]"},
        {R"~((41 "a") (3 "a" (7 1 2)) (7 (2 (15 "a") "splice" (7 0 -3)) (15 "a")))~", "[[],[1,2]]"},
    });
}

TEST(ArrayMethods, SortOrdersByStringOrComparatorWithUndefinedAndHolesLast) {
    expectPrograms({
        {R"~((2 (7 10 9 1) "sort" (7)))~", "[1,10,9]"},
        {R"~((41 "a") (3 "a" (7 (44) "b")) (43 (15 "a") 3 "a") (2 (15 "a") "sort" (7)))~",
         R"~(["a","b",undefined,])~"},
        {R"~((2 (7 10 9 1) "sort" (7 (51 "" (7 "x" "y") (36 (37 (15 "x") (15 "y")))))))~", "[1,9,10]"},
        {R"~((2 (7 1 2 3) "sort" (7 (51 "" (7 "x" "y") (36 (37 (15 "y") (15 "x")))))))~", "[3,2,1]"},
        {R"~((2 (7 "b" "B" "a") "sort" (7)))~", R"~(["B","a","b"])~"},
        {R"~((41 "a") (3 "a" (7 2 1)) (20 (2 (15 "a") "sort" (7)) (15 "a")))~", "true"},
        {R"~((2 (7 1) "sort" (7 5)))~", "[1]"},
        {R"~((2 (7 2 1) "sort" (7 5)))~", "error 10"},
        {R"~((2 (7 2 1) "sort" (7 (51 "" (7) (27)))))~", "error 9"},
        {R"~((2 (7 2 1) "sort" (7 1 2)))~", "error 9"},
    });
}

TEST(ArrayMethods, SortSurvivesInconsistentComparatorsAndChangesDuringTheSort) {
    // A comparator that answers at random-looking positions, and one that
    // empties the array while it runs: the sort ends with the slots it began.
    expectPrograms({
        {R"~((41 "n") (3 "n" 0)
             (16 (2 (7 5 3 8 1 9 2 7 4 6 0 11 13 12) "sort"
                 (7 (51 "" (7 "x" "y") (3 "n" (0 (15 "n") 1)) (36 (37 (25 (15 "n") 3) 1))))) "length"))~",
         "13"},
        {R"~((41 "a") (3 "a" (7 3 1 2))
             (2 (15 "a") "sort" (7 (51 "" (7 "x" "y") (43 (15 "a") "length" 0) (36 (37 (15 "x") (15 "y")))))))~",
         "[1,2,3]"},
    });
}

TEST(ArrayMethods, UnknownMethodsAndPropertiesThatAreNotFunctions) {
    expectPrograms({
        {R"~((2 (7) "valueOf" (7)))~", "error 17"},
        {R"~((41 "a") (3 "a" (7)) (43 (15 "a") "f" 1) (2 (15 "a") "f" (7)))~", "error 17"},
        {R"~((41 "a") (3 "a" (7)) (43 (15 "a") "push" (51 "" (7) (36 "mine"))) (2 (15 "a") "push" (7 1)))~",
         R"~("mine")~"},
    });
}

TEST(ArrayMethods, GrowthStopsAtTheArrayCapAndTheRunsBudget) {
    // kMaxArrayLength is 2^18 slots.
    expectPrograms({
        {R"~((41 "a") (3 "a" (7)) (43 (15 "a") "length" 262143) (2 (15 "a") "push" (7 1)))~", "262144"},
        {R"~((41 "a") (3 "a" (7)) (43 (15 "a") "length" 262143) (2 (15 "a") "push" (7 1 2)))~", "error 20"},
        {R"~((41 "a") (3 "a" (7)) (43 (15 "a") "length" 262143) (2 (15 "a") "unshift" (7 1 2)))~", "error 20"},
        {R"~((41 "a") (3 "a" (7)) (43 (15 "a") "length" 262143) (2 (15 "a") "splice" (7 0 0 1 2)))~", "error 20"},
        {R"~((41 "a") (3 "a" (7)) (43 (15 "a") "length" 262143) (2 (15 "a") "concat" (7 1 2)))~", "error 20"},
        // Many copies of a large array: each stays under the cap, the run's
        // growth budget does not.
        {R"~((41 "a") (3 "a" (7)) (43 (15 "a") "length" 200000)
             (42 true 0 false (46 (2 (15 "a") "slice" (7)))))~",
         "error 20"},
    });
}

}  // namespace
}  // namespace measurement::rules::testing
