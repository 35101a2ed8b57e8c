// The Flag functions of the experiment format.
#include <gtest/gtest.h>

#include <vector>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/APMPBFlag.h"
#include "measurement/messages/SemanticsTestSupport.h"

TEST(FlagWithNameValue, FloatingPointGoesToTheDoubleSlot) {
    RecordingLogger logger;
    auto flag = APMPBFlagWithNameValue(std::string("rate"), APMPBNumber::numberWithDouble(1.5), logger);
    ASSERT_NE(flag, nullptr);
    EXPECT_EQ(APMPBGetString(*flag, FlagSlot::Name), "rate");
    EXPECT_EQ(APMPBGetDouble(*flag, FlagSlot::DoubleValue), 1.5);
    EXPECT_FALSE(APMPBHasField(*flag, FlagSlot::IntValue));
    EXPECT_TRUE(logger.lines.empty());
}

TEST(FlagWithNameValue, BooleansAndIntegersGoToTheIntegerSlot) {
    RecordingLogger logger;
    auto flag = APMPBFlagWithNameValue(std::string("on"), APMPBNumber::numberWithBool(true), logger);
    EXPECT_EQ(APMPBGetInt64(*flag, FlagSlot::IntValue), 1);
    EXPECT_FALSE(APMPBHasField(*flag, FlagSlot::BoolValue));
    flag = APMPBFlagWithNameValue(std::string("n"), APMPBNumber::numberWithFloat(2.5f), logger);
    EXPECT_EQ(APMPBGetDouble(*flag, FlagSlot::DoubleValue), 2.5);
    flag = APMPBFlagWithNameValue(std::string("s"), std::string("text"), logger);
    EXPECT_EQ(APMPBGetString(*flag, FlagSlot::StringValue), "text");
}

TEST(FlagWithNameValue, RefusalsAreLoggedAsErrors) {
    RecordingLogger logger;
    EXPECT_EQ(APMPBFlagWithNameValue(std::nullopt, std::string("v"), logger), nullptr);
    EXPECT_EQ(APMPBFlagWithNameValue(APMPBNumber::numberWithInt(1), std::string("v"), logger), nullptr);
    EXPECT_EQ(APMPBFlagWithNameValue(std::string("name"), APMPBData(), logger), nullptr);
    EXPECT_EQ(APMPBFlagWithNameValue(std::string("name"), std::nullopt, logger), nullptr);
    EXPECT_EQ(logger.lines, (std::vector<LoggedLine>{{1, 850000, "Flag name must not be nil", std::nullopt},
                                                     {1, 850001, "Flag name must be a string", "APMPBNumber"},
                                                     {1, 850002, "Flag value is invalid", "APMPBData"},
                                                     {1, 850002, "Flag value is invalid", std::nullopt}}));
}

TEST(FlagValue, ReadsTheFirstPresentValueInOrder) {
    EXPECT_EQ(APMPBFlagValue(nullptr), std::nullopt);
    auto flag = APMPBFlag::initWithBuffer({});
    EXPECT_EQ(APMPBFlagValue(flag.get()), std::nullopt);
    APMPBSetBool(*flag, FlagSlot::BoolValue, true);
    EXPECT_EQ(APMPBFlagValue(flag.get()), APMPBObject(APMPBNumber::numberWithBool(true)));
    APMPBSetString(*flag, FlagSlot::StringValue, "x");
    EXPECT_EQ(APMPBFlagValue(flag.get()), APMPBObject(std::string("x")));
    APMPBSetDouble(*flag, FlagSlot::DoubleValue, 0.5);
    EXPECT_EQ(APMPBFlagValue(flag.get()), APMPBObject(APMPBNumber::numberWithDouble(0.5)));
    APMPBSetInt64(*flag, FlagSlot::IntValue, 1);
    EXPECT_EQ(APMPBFlagValue(flag.get()), APMPBObject(APMPBNumber::numberWithLongLong(1)));
}
