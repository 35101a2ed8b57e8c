// Encoding records: empty messages, field order by tag, unpacked repeated
// fields, the number encodings and the encoder's refusal.
#include <gtest/gtest.h>

#include "MessageTestSupport.h"
#include "WireWriter.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/APMPBMessages.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/MessageRuntime.h"

using namespace measurement::messages;

TEST(MessageEncoding, NothingPresentEncodesToZeroBytesAsSuccess) {
    OwnedRecord bundle(kMeasurementBundle);
    std::uint8_t* buffer = nullptr;
    EXPECT_EQ(APMMessageInfoEncodeToBuffer(kMeasurementBundle, bundle.get(), &buffer), 0u);
    EXPECT_NE(buffer, nullptr);
    std::free(buffer);
}

TEST(MessageEncoding, BundleFieldsAreWrittenInTagOrderNotSlotOrder) {
    auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
    APMPBSetInt64(*bundle, 6, 26);   // tag 26
    APMPBSetInt64(*bundle, 7, 7);    // tag 7
    APMPBSetString(*bundle, 20, "v");  // tag 27
    APMPBSetBool(*bundle, 21, true);   // tag 20
    APMPBSetInt32(*bundle, 55, 3);     // tag 87
    APMPBSetString(*bundle, 40, "G1");  // tag 52
    EXPECT_EQ(bytesOf(bundle->protoBuffer()),
              WireWriter().varint(7, 7).varint(20, 1).varint(26, 26).string(27, "v").string(52, "G1").varint(87, 3).bytes());
}

TEST(MessageEncoding, RepeatedFieldsAreWrittenOneTagPerElement) {
    auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
    APMPBSetArray(*bundle, 37, APMPBArray{APMPBNumber::numberWithUnsignedInt(1), APMPBNumber::numberWithUnsignedInt(2),
                                           APMPBNumber::numberWithUnsignedInt(300)});
    APMPBSetArray(*bundle, 44, APMPBArray{std::string("app_instance_id"), std::string("")});
    EXPECT_EQ(bytesOf(bundle->protoBuffer()),
              WireWriter().varint(45, 1).varint(45, 2).varint(45, 300).string(64, "app_instance_id").string(64, "").bytes());
}

TEST(MessageEncoding, EncodingChangesNothingAndRepeats) {
    auto event = APMPBEvent::initWithBuffer(WireWriter().string(2, "e").message(1, WireWriter().string(1, "p")).bytes());
    ASSERT_NE(event, nullptr);
    auto first = event->protoBuffer();
    auto second = event->protoBuffer();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->bytes(), second->bytes());
    EXPECT_EQ(*first, *second);
}

TEST(MessageEncoding, MissingRepeatedRecordFailsWithItsText) {
    OwnedRecord event(kEvent);
    std::free(event.get()->fields[0]);
    event.get()->fields[0] = nullptr;
    std::uint8_t* buffer = nullptr;
    std::uint32_t length = 0;
    const std::string output = stdoutOf([&] { length = APMMessageInfoEncodeToBuffer(kEvent, event.get(), &buffer); });
    EXPECT_EQ(length, kEncodeFailed);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(output, "<ERROR> Event Encoder: 'params' should have been allocated\n");
}

TEST(MessageEncoding, ANestedMessageThatCannotBeEncodedFailsItsParent) {
    // current_data (slot 1) holds a ResultData whose 'status' record is missing.
    OwnedRecord leaf(kAudienceLeafFilterResult);
    MessageInfo* child = newMessageInfo(kResultData);
    ASSERT_NE(child, nullptr);
    std::free(child->fields[ResultDataSlot::Status]);
    child->fields[ResultDataSlot::Status] = nullptr;
    leaf.get()->fields[1] = child;
    std::uint8_t* buffer = nullptr;
    std::uint32_t length = 0;
    const std::string output =
        stdoutOf([&] { length = APMMessageInfoEncodeToBuffer(kAudienceLeafFilterResult, leaf.get(), &buffer); });
    EXPECT_EQ(length, kEncodeFailed);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(output, "<ERROR> ResultData Encoder: 'status' should have been allocated\n");
}

