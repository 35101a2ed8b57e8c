#include "measurement/rules/NumberConversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "measurement/rules/Utf16Text.h"

namespace measurement::rules {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string text(double value) { return utf8FromUtf16(numberToString(value)); }
double number(const char16_t* value) { return stringToNumber(value); }

TEST(NumberToString, PrintsTheShortestDigitsInPlainOrExponentForm) {
    const struct {
        double value;
        const char* expected;
    } cases[] = {
        {0, "0"},
        {-0.0, "0"},
        {1, "1"},
        {-1, "-1"},
        {42.0, "42"},
        {2.5, "2.5"},
        {0.1, "0.1"},
        {0.1 + 0.2, "0.30000000000000004"},
        {1.0 / 3, "0.3333333333333333"},
        {-2.0 / 3, "-0.6666666666666666"},
        {123.456, "123.456"},
        {1234567.89, "1234567.89"},
        {4294967295.0, "4294967295"},
        {9007199254740992.0, "9007199254740992"},
        {9007199254740994.0, "9007199254740994"},
        {12345678901234567890.0, "12345678901234567000"},
        {1.0000000000000002, "1.0000000000000002"},
        {1e20, "100000000000000000000"},
        {999999999999999900000.0, "999999999999999900000"},
        {1e21, "1e+21"},
        {-1e21, "-1e+21"},
        {1.5e21, "1.5e+21"},
        {1e100, "1e+100"},
        {1.7976931348623157e308, "1.7976931348623157e+308"},
        {1e-6, "0.000001"},
        {0.000001234, "0.000001234"},
        {1e-7, "1e-7"},
        {1.5e-7, "1.5e-7"},
        {-5e-7, "-5e-7"},
        {1.23e-18, "1.23e-18"},
        {5e-324, "5e-324"},
        {kNaN, "NaN"},
        {kInf, "Infinity"},
        {-kInf, "-Infinity"},
    };
    for (const auto& c : cases) EXPECT_EQ(text(c.value), c.expected) << c.expected;
}

TEST(StringToNumber, ReadsOneWholeTrimmedDecimal) {
    const struct {
        const char16_t* text;
        double expected;
    } cases[] = {
        {u"42", 42},
        {u" 42 ", 42},
        {u"\n\t 7 \u00A0\u3000", 7},
        {u"", 0},
        {u"   ", 0},
        {u"1e3", 1000},
        {u"-1.5", -1.5},
        {u"+5", 5},
        {u".5", 0.5},
        {u"5.", 5},
        {u"-.5e1", -5},
        {u"1E-2", 0.01},
        {u"Infinity", kInf},
        {u" -Infinity ", -kInf},
        {u"1e400", kInf},
        {u"-1e400", -kInf},
        {u"0.0000000001e-400", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(number(c.text), c.expected) << utf8FromUtf16(c.text);
    }
}

TEST(StringToNumber, AnythingElseIsNaN) {
    for (const char16_t* text : {u"NaN", u"infinity", u"+Infinity", u"1 2", u"0x10", u"12px", u"e5", u"1e",
                                 u".", u"--1", u"-", u"1e+", u"\u0661", u"1,000"}) {
        EXPECT_TRUE(std::isnan(number(text))) << utf8FromUtf16(text);
    }
}

TEST(StringToNumber, ReadsBackEveryPrintedNumber) {
    for (double value : {0.1, 123.456, 1e21, 1.5e-7, 5e-324, 1.7976931348623157e308, -9007199254740993.0}) {
        EXPECT_EQ(stringToNumber(numberToString(value)), value);
    }
}

TEST(IntegerConversions, WrapModulo2To32) {
    EXPECT_EQ(toInt32(4294967297.0), 1);
    EXPECT_EQ(toInt32(-1.5), -1);
    EXPECT_EQ(toInt32(2147483648.0), -2147483648);
    EXPECT_EQ(toInt32(-2147483649.0), 2147483647);
    EXPECT_EQ(toInt32(4294967295.0), -1);
    EXPECT_EQ(toInt32(1e300), 0);
    EXPECT_EQ(toInt32(kNaN), 0);
    EXPECT_EQ(toInt32(-kInf), 0);
    EXPECT_EQ(toUint32(-1), 4294967295u);
    EXPECT_EQ(toUint32(-4294967296.5), 0u);
}

TEST(IntegerConversions, ToIntegerTruncatesAndKeepsZerosAndInfinities) {
    EXPECT_EQ(toInteger(kNaN), 0);
    EXPECT_EQ(toInteger(-2.7), -2);
    EXPECT_EQ(toInteger(kInf), kInf);
    EXPECT_TRUE(std::signbit(toInteger(-0.0)));
}

TEST(IntegerConversions, SaturateInsteadOfOverflowing) {
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(saturatingInt64(1e300), kMax);
    EXPECT_EQ(saturatingInt64(9223372036854775808.0), kMax);
    EXPECT_EQ(saturatingInt64(kInf), kMax);
    EXPECT_EQ(saturatingInt64(-1e300), kMin);
    EXPECT_EQ(saturatingInt64(-kInf), kMin);
    EXPECT_EQ(saturatingInt64(kNaN), 0);
    EXPECT_EQ(saturatingInt64(-123.9), -123);
    EXPECT_EQ(saturatingInt64(9007199254740993.0), 9007199254740992);
}

}  // namespace
}  // namespace measurement::rules
