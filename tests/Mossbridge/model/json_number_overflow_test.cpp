#include "Mossbridge/model/JsonNumberOverflow.h"

#include <gtest/gtest.h>

namespace Mossbridge {
namespace {

const std::string kPlus = R"({"\u0000overflow":"+"})";
const std::string kMinus = R"({"\u0000overflow":"-"})";

TEST(JsonNumberOverflow, RewritesOnlyNumbersTooLargeForADouble) {
    EXPECT_EQ(rewriteOverflowingJsonNumbers(R"({"a":1e400,"b":-2.5E+309,"c":1})"),
              R"({"a":)" + kPlus + R"(,"b":)" + kMinus + R"(,"c":1})");
    EXPECT_EQ(rewriteOverflowingJsonNumbers("[0.01e311]"), "[" + kPlus + "]");
    EXPECT_EQ(rewriteOverflowingJsonNumbers("[1" + std::string(400, '0') + "]"), "[" + kPlus + "]");
    EXPECT_EQ(rewriteOverflowingJsonNumbers("[1e99999999999999999999999]"), "[" + kPlus + "]");
}

TEST(JsonNumberOverflow, LeavesEverythingElseByteForByte) {
    for (const char* text : {
             R"({"a":1e308,"b":1.7976931348623157e308,"c":-0.0,"d":12345678901234567890123})",
             "[1e-400, 0.0000e999, 0e400, -1e-99999999999999999999, 0.001e311]",  // tiny, zero or fits
             R"(["1e400", "esc\"aped 1e400 \\", 1e2])",                // inside strings
             "[01e400, 1.e400, 1e+, -, --1e400, 1e400.5]",              // not well-formed numbers
             "",
         }) {
        EXPECT_EQ(rewriteOverflowingJsonNumbers(text), text);
    }
}

}  // namespace
}  // namespace Mossbridge
