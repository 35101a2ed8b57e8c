// The string method table: each method's normal and edge results, plain
// and regular-expression search, and the bounds on untrusted patterns.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "ProgramText.h"

namespace measurement::rules::testing {
namespace {

// (2 "text" "name" (7 arguments...)) calls a method on a string.

TEST(StringMethods, CharAtConcatAndHasOwnProperty) {
    expectPrograms({
        {R"~((2 "abc" "charAt" (7)))~", R"~("a")~"},
        {R"~((2 "abc" "charAt" (7 1.7)))~", R"~("b")~"},
        {R"~((2 "abc" "charAt" (7 -1)))~", R"~("")~"},
        {R"~((2 "abc" "charAt" (7 3)))~", R"~("")~"},
        {R"~((2 "abc" "charAt" (7 Infinity)))~", R"~("")~"},
        {R"~((2 "abc" "charAt" (7 "x")))~", R"~("a")~"},
        {R"~((2 "\uD83D\uDE00" "charAt" (7 1)))~", R"~("\uDE00")~"},
        {R"~((2 "a" "concat" (7 1 (45) (7 2 3))))~", R"~("a1null2,3")~"},
        {R"~((2 "a" "concat" (7)))~", R"~("a")~"},
        {R"~((2 "" "hasOwnProperty" (7 0)))~", "false"},
        {R"~((2 "ab" "hasOwnProperty" (7 1)))~", "true"},
        {R"~((2 "ab" "hasOwnProperty" (7 "1")))~", "true"},
        {R"~((2 "ab" "hasOwnProperty" (7 true)))~", "true"},
        {R"~((2 "ab" "hasOwnProperty" (7 1.5)))~", "false"},
        {R"~((2 "ab" "hasOwnProperty" (7 2)))~", "false"},
        {R"~((2 "" "hasOwnProperty" (7 "length")))~", "true"},
        {R"~((2 "ab" "hasOwnProperty" (7)))~", "error 9"},
        {R"~((2 "ab" "charAt" (7 1 2)))~", "error 9"},
    });
}

TEST(StringMethods, IndexOfAndLastIndexOfSearchPlainText) {
    expectPrograms({
        {R"~((2 "abcabc" "indexOf" (7 "c")))~", "2"},
        {R"~((2 "abcabc" "indexOf" (7 "c" 3)))~", "5"},
        {R"~((2 "abc" "indexOf" (7 "c" -5)))~", "2"},
        {R"~((2 "abc" "indexOf" (7 "a" 9)))~", "-1"},
        {R"~((2 "abc" "indexOf" (7 "")))~", "-1"},
        {R"~((2 "is undefined" "indexOf" (7)))~", "3"},
        {R"~((2 "a.c" "indexOf" (7 ".")))~", "1"},
        {R"~((2 "ABC" "indexOf" (7 "b")))~", "-1"},
        {R"~((2 "abcabc" "lastIndexOf" (7 "b")))~", "4"},
        {R"~((2 "abcabc" "lastIndexOf" (7 "b" 3)))~", "1"},
        {R"~((2 "abcabc" "lastIndexOf" (7 "a" 0)))~", "0"},
        {R"~((2 "abcabc" "lastIndexOf" (7 "b" 0)))~", "-1"},
        {R"~((2 "abcabc" "lastIndexOf" (7 "b" NaN)))~", "4"},
        {R"~((2 "abcabc" "lastIndexOf" (7 "c" -3)))~", "-1"},
        {R"~((2 "abc" "lastIndexOf" (7 "")))~", "-1"},
        {R"~((2 "abc" "lastIndexOf" (7 "bc" 99)))~", "1"},
        {R"~((2 "abc" "indexOf" (7 "a" 1 2)))~", "error 9"},
    });
}

TEST(StringMethods, MatchAndSearchUseRegularExpressions) {
    expectPrograms({
        {R"~((2 "abc" "match" (7)))~", R"~([""])~"},
        {R"~((2 "abc" "match" (7 "")))~", R"~([""])~"},
        {R"~((2 "a1b22" "match" (7 "[0-9]+")))~", R"~(["1"])~"},
        {R"~((2 "x-ab-y" "match" (7 "(a)(b)")))~", R"~(["ab"])~"},
        {R"~((2 "abc" "match" (7 "z")))~", "null"},
        {R"~((2 "ABC" "match" (7 "b")))~", "null"},
        {R"~((2 "a\nb" "match" (7 "a.b")))~", "null"},
        {R"~((2 "a\nb" "match" (7 "^b")))~", "null"},
        {R"~((2 "\uD800x" "match" (7 "x")))~", R"~(["x"])~"},
        {R"~((2 "abc" "search" (7 "c")))~", "2"},
        {R"~((2 "\uD83D\uDE00c" "search" (7 "c")))~", "2"},
        {R"~((2 "abc" "search" (7 "z")))~", "-1"},
        {R"~((2 "" "search" (7 "")))~", "0"},
        {R"~((2 "is undefined" "search" (7)))~", "3"},
        {R"~((2 "abc" "match" (7 1 2)))~", "error 9"},
        {R"~((2 "abc" "search" (7 1 2)))~", "error 9"},
    });
}

TEST(StringMethods, AMalformedPatternFailsWithTheEnginesError) {
    for (const char* program : {R"~((2 "abc" "match" (7 "(a")))~", R"~((2 "abc" "search" (7 "[")))~"}) {
        EXPECT_EQ(runProgram(program), "error com.vadova.vaz.measurement.pixie.RegularExpression 1") << program;
    }
}

TEST(StringMethods, CatastrophicBacktrackingIsAbandonedQuickly) {
    const std::string subject(40, 'a');
    const std::string program = "(2 \"" + subject + "b\" \"search\" (7 \"(a+)+$\"))";
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(runProgram(program), "error com.vadova.vaz.measurement.pixie.RegularExpression 2");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST(StringMethods, ReplaceReplacesTheFirstPlainOccurrence) {
    expectPrograms({
        {R"~((2 "a-b-c" "replace" (7 "-" "+")))~", R"~("a+b-c")~"},
        {R"~((2 "a.b" "replace" (7 "." "$&")))~", R"~("a$&b")~"},
        {R"~((2 "a-b" "replace" (7 "-")))~", R"~("aundefinedb")~"},
        {R"~((2 "a-b" "replace" (7 "x" "y")))~", R"~("a-b")~"},
        {R"~((2 "abc" "replace" (7 "" "x")))~", R"~("xabc")~"},
        {R"~((2 "is undefined" "replace" (7)))~", R"~("is undefined")~"},
        {R"~((2 "a-b" "replace" (7 "-" (51 "" (7 "m" "i" "s") (36 (7 (15 "m") (15 "i") (15 "s")))))))~",
         R"~("a-,1,a-bb")~"},
        {R"~((2 "a-b" "replace" (7 "-" (51 "" (7) (27)))))~", "error 9"},
        {R"~((2 "a-b" "replace" (7 "-" "+" 1)))~", "error 9"},
    });
}

TEST(StringMethods, SliceAndSubstring) {
    expectPrograms({
        {R"~((2 "abcdef" "slice" (7)))~", R"~("abcdef")~"},
        {R"~((2 "abcdef" "slice" (7 -2)))~", R"~("ef")~"},
        {R"~((2 "abcdef" "slice" (7 1 -1)))~", R"~("bcde")~"},
        {R"~((2 "abcdef" "slice" (7 4 1)))~", R"~("")~"},
        {R"~((2 "abcdef" "slice" (7 -Infinity 2)))~", R"~("ab")~"},
        {R"~((2 "abcdef" "substring" (7 4 1)))~", R"~("bcd")~"},
        {R"~((2 "abcdef" "substring" (7 0 Infinity)))~", R"~("abcdef")~"},
        {R"~((2 "abcdef" "substring" (7 -3)))~", R"~("abcdef")~"},
        {R"~((2 "abcdef" "substring" (7 NaN 2)))~", R"~("ab")~"},
        {R"~((2 "abc" "slice" (7 1 2 3)))~", "error 9"},
        {R"~((2 "abc" "substring" (7 1 2 3)))~", "error 9"},
    });
}

TEST(StringMethods, SplitOnPlainSeparators) {
    expectPrograms({
        {R"~((2 "a,b," "split" (7 ",")))~", R"~(["a","b",""])~"},
        {R"~((2 ",a" "split" (7 ",")))~", R"~(["","a"])~"},
        {R"~((2 "a,b" "split" (7)))~", R"~(["a,b"])~"},
        {R"~((2 "a,b" "split" (7 "," 0)))~", "[]"},
        {R"~((2 "a,b,c" "split" (7 "," 2)))~", R"~(["a","b"])~"},
        {R"~((2 "a,b,c" "split" (7 "," -1)))~", R"~(["a","b","c"])~"},
        {R"~((2 "abc" "split" (7 "" 2)))~", R"~(["a","b"])~"},
        {R"~((2 "abc" "split" (7 "")))~", R"~(["a","b","c"])~"},
        {R"~((2 "a.b" "split" (7 ".")))~", R"~(["a","b"])~"},
        {R"~((2 "" "split" (7 ",")))~", R"~([""])~"},
        {R"~((2 "" "split" (7 "" 0)))~", R"~([""])~"},
        {R"~((2 "a1b" "split" (7 1)))~", R"~(["a","b"])~"},
        {R"~((2 "abc" "split" (7 "" 2 3)))~", "error 9"},
    });
}

TEST(StringMethods, CaseMappingTrimAndToString) {
    expectPrograms({
        {R"~((2 "aBc" "toLowerCase" (7)))~", R"~("abc")~"},
        {R"~((2 "aBc" "toUpperCase" (7)))~", R"~("ABC")~"},
        {R"~((16 (2 "stra\u00DFe" "toUpperCase" (7)) "length"))~", "7"},
        {R"~((2 "\u0130" "toLowerCase" (7)))~", R"~("i\u0307")~"},
        {R"~((2 "aBc" "toLocaleLowerCase" (7)))~", R"~("abc")~"},
        {R"~((2 "aBc" "toLocaleUpperCase" (7)))~", R"~("ABC")~"},
        {R"~((2 " \u0009\n a b \u00A0\u2028" "trim" (7)))~", R"~("a b")~"},
        {R"~((2 "ab" "toString" (7)))~", R"~("ab")~"},
        {R"~((2 "ab" "toUpperCase" (7 1)))~", "error 9"},
        {R"~((2 "ab" "trim" (7 1)))~", "error 9"},
        {R"~((2 "ab" "valueOf" (7)))~", "error 17"},
    });
}

TEST(StringMethods, NewTextIsChargedToTheRun) {
    // Each "concat" doubles the text: the length cap stops it (code 20).
    expectPrograms({
        {R"~((41 "s") (3 "s" "ab") (42 true 0 false (46 (3 "s" (2 (15 "s") "concat" (7 (15 "s")))))))~", "error 20"},
    });
}

}  // namespace
}  // namespace measurement::rules::testing
