// The wrapper classes: making messages from records and bytes, encoding them,
// and owning their record alone.
#include <gtest/gtest.h>

#include "MessageTestSupport.h"
#include "WireWriter.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/APMPBMessages.h"

using namespace measurement::messages;

TEST(Wrapper, NoBytesGiveAnEmptyMessageThatEncodesToEmptyData) {
    for (auto event : {APMPBEvent::initWithBuffer({}), APMPBEvent::initWithBuffer(std::vector<std::uint8_t>{})}) {
        ASSERT_NE(event, nullptr);
        EXPECT_FALSE(APMPBHasField(*event, 1));
        EXPECT_TRUE(APMPBHasField(*event, 0));
        EXPECT_EQ(APMPBGetArray(*event, 0), APMPBArray{});
        const auto data = event->protoBuffer();
        ASSERT_TRUE(data.has_value());
        EXPECT_EQ(data->length(), 0u);
    }
}

TEST(Wrapper, UndecodableBytesGiveNothing) {
    std::shared_ptr<APMPBMeasurementConfig> config;
    stdoutOf([&] { config = APMPBMeasurementConfig::initWithBuffer(std::vector<std::uint8_t>{0x0A, 0x05, 0x01}); });
    EXPECT_EQ(config, nullptr);
}

TEST(Wrapper, RecordOfAnotherMessageGivesNothingSilently) {
    OwnedRecord event(kEvent);
    std::shared_ptr<APMPBUserAttribute> attribute;
    const std::string output = stdoutOf([&] { attribute = APMPBUserAttribute::initWithMessageInfo(event.get()); });
    EXPECT_EQ(attribute, nullptr);
    EXPECT_EQ(output, "");
}

TEST(Wrapper, CopiesTheCallersRecordAndLeavesItUnchanged) {
    OwnedRecord event(kEvent);
    const auto bytes = WireWriter().string(2, "name").varint(3, 5).bytes();
    ASSERT_TRUE(event.decode(bytes));
    {
        auto wrapper = APMPBEvent::initWithMessageInfo(event.get());
        ASSERT_NE(wrapper, nullptr);
        EXPECT_NE(wrapper->messageInfo(), event.get());
        APMPBSetString(*wrapper, 1, "changed");
    }
    EXPECT_EQ(encodeRecord(kEvent, event.get()), bytes);
}

TEST(Wrapper, NullRecordGivesAnEmptyMessage) {
    auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
    ASSERT_NE(bundle, nullptr);
    EXPECT_STREQ(bundle->messageID(), "MeasurementBundle");
    EXPECT_STREQ(bundle->messageInfo()->name, "MeasurementBundle");
    EXPECT_EQ(bundle->className(), "APMPBMeasurementBundle");
    EXPECT_EQ(bundle->protoBuffer()->length(), 0u);
}

TEST(Wrapper, PlainConstructionHasNoRecord) {
    APMPBEvent event;
    EXPECT_EQ(event.messageInfo(), nullptr);
    EXPECT_FALSE(event.protoBuffer().has_value());
}

TEST(Wrapper, RecordOperationsAreThoseOfItsMessage) {
    auto filter = APMPBFilter::initWithMessageInfo(nullptr);
    auto* fresh = static_cast<MessageInfo*>(std::calloc(1, sizeof(MessageInfo)));
    ASSERT_TRUE(filter->initMessageInfoFn()(fresh));
    EXPECT_STREQ(fresh->name, "Filter");
    EXPECT_TRUE(filter->deallocMessageFieldFn()(fresh, 3));
    const std::string output = stdoutOf([&] { EXPECT_FALSE(filter->deallocMessageFieldFn()(fresh, 4)); });
    EXPECT_EQ(output, "<ERROR> Filter: Cannot deallocate field 4: Unknown field\n");
    MessageInfo* copy = nullptr;
    EXPECT_TRUE(filter->copyMessageInfoFn()(&copy, fresh));
    EXPECT_STREQ(copy->name, "Filter");
    EXPECT_TRUE(APMMessageInfoFree(kFilter, copy));
    EXPECT_TRUE(APMMessageInfoFree(kFilter, fresh));
}

TEST(Wrapper, DecodedMessageSurvivesRoundTrip) {
    const auto bytes = WireWriter()
                           .varint(1, 12)
                           .string(2, "app")
                           .message(4, WireWriter().string(1, "measurement.upload.interval").string(2, "3600000"))
                           .message(15, WireWriter().message(1, WireWriter().varint(1, 1).varint(2, 2)).varint(4, 1))
                           .message(16, WireWriter().varint(2, 11))
                           .varint(20, 5)
                           .bytes();
    auto config = APMPBMeasurementConfig::initWithBuffer(bytes);
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(bytesOf(config->protoBuffer()), bytes);
}
