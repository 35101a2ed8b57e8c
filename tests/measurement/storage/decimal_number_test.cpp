#include "measurement/storage/APMDecimalNumber.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "StorageTestSupport.h"

using storage_test::MonitorCapture;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Optional;

TEST(DecimalNumberString, AcceptsPlainDecimalsOnly) {
    for (const char* text : {"0", "12", "+3", "-4", "5.", ".5", "-.5", "+0.25", "007", "1.50"}) {
        EXPECT_TRUE(APMIsDecimalNumberString(text)) << text;
    }
    for (const char* text : {"", ".", "+", "-", "1e5", "1,5", " 1", "1 ", "0x10", "1.2.3", "nan", "inf", "--1",
                             "\xd9\xa1"}) {
        EXPECT_FALSE(APMIsDecimalNumberString(text)) << text;
    }
}

TEST(DecimalNumber, ReadsTheNumber) {
    MonitorCapture capture;
    EXPECT_THAT(APMDecimalNumberFromString("12"), Optional(12.0));
    EXPECT_THAT(APMDecimalNumberFromString("+3.25"), Optional(3.25));
    EXPECT_THAT(APMDecimalNumberFromString("-.5"), Optional(-0.5));
    EXPECT_THAT(APMDecimalNumberFromString(".5"), Optional(0.5));
    EXPECT_THAT(APMDecimalNumberFromString("5."), Optional(5.0));
    EXPECT_THAT(APMDecimalNumberFromString("1.50"), Optional(1.5));
    EXPECT_THAT(APMDecimalNumberFromString("-0"), Optional(0.0));
    EXPECT_THAT(capture.lines(), IsEmpty());
}

TEST(DecimalNumber, RefusesTextsThatAreNoDecimal) {
    MonitorCapture capture;
    EXPECT_EQ(APMDecimalNumberFromString("1e5"), std::nullopt);
    EXPECT_THAT(capture.linesWithCode(26001),
                ElementsAre(HasSubstr("ERROR I-ACS026001 String value does not represent a numeric value. Value, 1e5")));
}

TEST(DecimalNumber, RefusesNumbersThatLoseDigits) {
    MonitorCapture capture;
    EXPECT_EQ(APMDecimalNumberFromString("123456789012345678901"), std::nullopt);
    EXPECT_EQ(APMDecimalNumberFromString("9007199254740993"), std::nullopt);
    EXPECT_EQ(capture.linesWithCode(26003).size(), 2u);
    EXPECT_THAT(APMDecimalNumberFromString("9007199254740992"), Optional(9007199254740992.0));
}

TEST(DecimalNumber, RefusesNumbersBeyondRange) {
    MonitorCapture capture;
    EXPECT_EQ(APMDecimalNumberFromString("1" + std::string(400, '0')), std::nullopt);
    EXPECT_EQ(capture.linesWithCode(26002).size(), 1u);
}

TEST(DecimalText, IsTheShortestFixedText) {
    EXPECT_EQ(APMDecimalText(0.1), "0.1");
    EXPECT_EQ(APMDecimalText(5), "5");
    EXPECT_EQ(APMDecimalText(-2.25), "-2.25");
    EXPECT_EQ(APMDecimalText(-0.0), "0");
    EXPECT_EQ(APMDecimalText(1e20), "100000000000000000000");
}
