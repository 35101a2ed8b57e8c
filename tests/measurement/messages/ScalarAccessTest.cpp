// Typed access to presence, scalars, strings and bytes, with every refusal.
#include <gtest/gtest.h>

#include "MessageTestSupport.h"
#include "WireWriter.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/APMPBMessages.h"

using namespace measurement::messages;

class ScalarAccess : public testing::Test {
protected:
    std::shared_ptr<APMPBEvent> event = APMPBEvent::initWithMessageInfo(nullptr);
    std::shared_ptr<APMPBEventParam> param = APMPBEventParam::initWithMessageInfo(nullptr);
};

TEST_F(ScalarAccess, SettersMakeFieldsPresentAndClearingMakesThemAbsent) {
    EXPECT_FALSE(APMPBHasField(*event, 2));
    APMPBSetInt64(*event, 2, 1234);
    EXPECT_TRUE(APMPBHasField(*event, 2));
    EXPECT_EQ(APMPBGetInt64(*event, 2), 1234);
    APMPBClearField(*event, 2);
    EXPECT_FALSE(APMPBHasField(*event, 2));
    EXPECT_EQ(APMPBGetInt64(*event, 2), 0);

    APMPBSetFloat(*param, 3, 0.25f);
    APMPBSetDouble(*param, 4, 1e300);
    EXPECT_EQ(APMPBGetFloat(*param, 3), 0.25f);
    EXPECT_EQ(APMPBGetDouble(*param, 4), 1e300);
}

TEST_F(ScalarAccess, RepeatedFieldsAlwaysCountAsPresent) {
    EXPECT_TRUE(APMPBHasField(*event, 0));
    APMPBClearField(*event, 0);
    EXPECT_TRUE(APMPBHasField(*event, 0));
    EXPECT_EQ(APMPBGetArray(*event, 0), APMPBArray{});
}

TEST_F(ScalarAccess, BoolReadsTrueOnlyForOne) {
    auto attribute = APMPBAudienceLeafFilterResult::initWithMessageInfo(nullptr);
    EXPECT_EQ(stderrOf([&] { EXPECT_FALSE(APMPBGetBool(*attribute, 3)); }), "");
    APMPBSetBool(*attribute, 3, true);
    EXPECT_TRUE(APMPBGetBool(*attribute, 3));
    APMPBSetBool(*attribute, 3, false);
    EXPECT_FALSE(APMPBGetBool(*attribute, 3));
    EXPECT_TRUE(APMPBHasField(*attribute, 3));
}

TEST_F(ScalarAccess, Int32ServesEnumsAndUnsignedSlots) {
    auto entity = APMPBRuntimeEntity::initWithMessageInfo(nullptr);
    APMPBSetInt32(*entity, 0, 4);
    EXPECT_EQ(APMPBGetInt32(*entity, 0), 4);
    auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
    APMPBSetInt32(*bundle, 41, -1);  // enum slot
    EXPECT_EQ(APMPBGetInt32(*bundle, 41), -1);
    EXPECT_EQ(bytesOf(bundle->protoBuffer()), WireWriter().varint(53, 0xFFFFFFFF).bytes());
}

TEST_F(ScalarAccess, StringsComeBackAsCopiesAndNilClears) {
    APMPBSetString(*event, 1, "purchase");
    EXPECT_EQ(APMPBGetString(*event, 1), "purchase");
    APMPBSetString(*event, 1, "");
    EXPECT_TRUE(APMPBHasField(*event, 1));
    EXPECT_EQ(APMPBGetString(*event, 1), "");
    EXPECT_EQ(stringAt(event->messageInfo(), 1).length, 0u);
    APMPBSetString(*event, 1, std::nullopt);
    EXPECT_FALSE(APMPBHasField(*event, 1));
    EXPECT_EQ(APMPBGetString(*event, 1), std::nullopt);
}

TEST_F(ScalarAccess, StringsThatAreNotUtf8ReadAsNothingButKeepTheirBytes) {
    auto decoded = APMPBEvent::initWithBuffer(WireWriter().string(2, "\xC0\x80").bytes());
    ASSERT_NE(decoded, nullptr);
    EXPECT_TRUE(APMPBHasField(*decoded, 1));
    EXPECT_EQ(APMPBGetString(*decoded, 1), std::nullopt);
    EXPECT_EQ(APMPBGetBytes(*decoded, 1)->toVector(), (std::vector<std::uint8_t>{0xC0, 0x80}));
    APMPBSetString(*decoded, 1, "\xF0\x9F\x90\xBE paw");
    EXPECT_EQ(APMPBGetString(*decoded, 1), "\xF0\x9F\x90\xBE paw");
}

TEST_F(ScalarAccess, BytesOnStringSlots) {
    const std::vector<std::uint8_t> raw = {0, 1, 2, 255};
    APMPBSetBytes(*event, 1, raw);
    EXPECT_EQ(APMPBGetBytes(*event, 1)->toVector(), raw);
    EXPECT_EQ(stringAt(event->messageInfo(), 1).length, 4u);
    APMPBSetBytes(*event, 1, std::nullopt);
    EXPECT_FALSE(APMPBHasField(*event, 1));
}

TEST_F(ScalarAccess, TypeMismatchesLogAndChangeNothing) {
    APMPBSetInt64(*event, 2, 9);
    const std::string output = stderrOf([&] {
        EXPECT_FALSE(APMPBGetBool(*event, 2));
        EXPECT_EQ(APMPBGetInt32(*event, 2), 0);
        APMPBSetInt32(*event, 2, 5);
        EXPECT_EQ(APMPBGetInt64(*event, 4), 0);
        EXPECT_EQ(APMPBGetFloat(*event, 2), 0.0f);
        EXPECT_EQ(APMPBGetDouble(*event, 2), 0.0);
        EXPECT_EQ(APMPBGetString(*event, 2), std::nullopt);
        APMPBSetString(*event, 0, "x");
        EXPECT_EQ(APMPBGetMessage<APMPBEventParam>(*event, 1), nullptr);
        EXPECT_EQ(APMPBGetArray(*event, 1), std::nullopt);
        APMPBSetArray(*event, 1, APMPBArray{});
    });
    EXPECT_EQ(output,
              "<Nano/Failure> Field type isn't a scalar BOOL. Message: Event, field ID: 2\n"
              "<Nano/Failure> Field type isn't a scalar INT32. Message: Event, field ID: 2\n"
              "<Nano/Failure> Field type isn't a scalar INT32. Message: Event, field ID: 2\n"
              "<Nano/Failure> Field type isn't a scalar INT64. Message: Event, field ID: 4\n"
              "<Nano/Failure> Field type isn't a scalar FLOAT. Message: Event, field ID: 2\n"
              "<Nano/Failure> Field type isn't a scalar DOUBLE. Message: Event, field ID: 2\n"
              "<Nano/Failure> Field type isn't a scalar STRING. Message: Event, field ID: 2\n"
              "<Nano/Failure> Field type isn't a scalar STRING. Message: Event, field ID: 0\n"
              "<Nano/Failure> Field type isn't a scalar MESSAGE. Message: Event, field ID: 1\n"
              "<Nano/Failure> Field type isn't REPEATED. Message: Event, field ID: 1\n"
              "<Nano/Failure> Field type isn't REPEATED. Message: Event, field ID: 1\n");
    EXPECT_EQ(APMPBGetInt64(*event, 2), 9);
    EXPECT_EQ(APMPBGetArray(*event, 0), APMPBArray{});
}

TEST_F(ScalarAccess, BytesCallsOnNumberSlotsAreRefused) {
    APMPBSetInt64(*event, 2, 77);
    const std::string output = stderrOf([&] {
        EXPECT_EQ(APMPBGetBytes(*event, 2), std::nullopt);
        APMPBSetBytes(*event, 2, std::vector<std::uint8_t>{1, 2, 3});
        EXPECT_EQ(APMPBGetBytes(*event, 0), std::nullopt);
    });
    EXPECT_EQ(output,
              "<Nano/Failure> Field type isn't a scalar BYTES. Message: Event, field ID: 2\n"
              "<Nano/Failure> Field type isn't a scalar BYTES. Message: Event, field ID: 2\n"
              "<Nano/Failure> Field type isn't a scalar BYTES. Message: Event, field ID: 0\n");
    EXPECT_EQ(APMPBGetInt64(*event, 2), 77);
}

TEST_F(ScalarAccess, SlotsOutsideTheMessageAreRefused) {
    const std::string output = stderrOf([&] {
        EXPECT_FALSE(APMPBHasField(*event, 7));
        APMPBClearField(*event, -1);
        APMPBSetInt64(*event, 100, 1);
        EXPECT_EQ(APMPBGetString(*event, 7), std::nullopt);
        EXPECT_EQ(APMPBGetArray(*event, 7), std::nullopt);
    });
    EXPECT_EQ(output,
              "<Nano/Failure> Field ID is out of range. Message: Event, field ID: 7\n"
              "<Nano/Failure> Field ID is out of range. Message: Event, field ID: -1\n"
              "<Nano/Failure> Field ID is out of range. Message: Event, field ID: 100\n"
              "<Nano/Failure> Field ID is out of range. Message: Event, field ID: 7\n"
              "<Nano/Failure> Field ID is out of range. Message: Event, field ID: 7\n");
}

TEST(FieldAccessWithoutRecord, EveryFunctionLogsItsNotInitialisedText) {
    APMPBFlag flag;
    APMPBFlag other;
    const std::string output = stderrOf([&] {
        EXPECT_FALSE(APMPBHasField(flag, 0));
        APMPBClearField(flag, 0);
        EXPECT_FALSE(APMPBGetBool(flag, 4));
        APMPBSetBool(flag, 4, true);
        EXPECT_EQ(APMPBGetInt32(flag, 1), 0);
        APMPBSetInt32(flag, 1, 1);
        EXPECT_EQ(APMPBGetInt64(flag, 1), 0);
        APMPBSetInt64(flag, 1, 1);
        EXPECT_EQ(APMPBGetFloat(flag, 3), 0.0f);
        APMPBSetFloat(flag, 3, 1);
        EXPECT_EQ(APMPBGetDouble(flag, 3), 0.0);
        APMPBSetDouble(flag, 3, 1);
        EXPECT_EQ(APMPBGetString(flag, 0), std::nullopt);
        APMPBSetString(flag, 0, "x");
        EXPECT_EQ(APMPBGetBytes(flag, 0), std::nullopt);
        APMPBSetBytes(flag, 0, std::nullopt);
        EXPECT_EQ(APMPBGetMessage(flag, 0, nullptr), nullptr);
        APMPBSetMessage(flag, 0, &other);
        EXPECT_EQ(APMPBGetArray(flag, 0), std::nullopt);
        APMPBSetArray(flag, 0, std::nullopt);
    });
    std::string expected =
        "ProtocolBuffer message hasn't been initialized. HasField operation can't be performed. Message name Flag\n"
        "ProtocolBuffer message hasn't been initialized. ClearField can't be performed\n";
    for (const char* operation : {"GetBool", "SetBool", "GetInt32", "SetInt32", "GetInt64", "SetInt64", "GetFloat",
                                  "SetFloat", "GetDouble", "SetDouble", "GetString", "SetString", "GetBytes",
                                  "SetBytes", "GetMessage", "SetMessage", "GetArray", "SetArray"}) {
        expected += std::string("ProtocolBuffer message hasn't been initialized. ") + operation + " can't be performed\n";
    }
    EXPECT_EQ(output, expected);
}
