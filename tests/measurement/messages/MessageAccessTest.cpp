// Typed access to sub-messages and repeated fields: copies in both
// directions, element conversion, and every refusal.
#include <gtest/gtest.h>

#include "MessageTestSupport.h"
#include "WireWriter.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/APMPBMessages.h"

using namespace measurement::messages;

namespace {

std::shared_ptr<APMPBEventParam> namedParam(const std::string& name, std::int64_t value) {
    auto param = APMPBEventParam::initWithMessageInfo(nullptr);
    APMPBSetString(*param, 0, name);
    APMPBSetInt64(*param, 2, value);
    return param;
}

std::shared_ptr<NANOMessageBase> asObject(std::shared_ptr<NANOMessageBase> wrapper) { return wrapper; }

}  // namespace

TEST(MessageAccess, GetMessageHandsOutACopyUntilStoredBack) {
    auto filter = APMPBPropertyFilter::initWithMessageInfo(nullptr);
    auto inner = APMPBFilter::initWithMessageInfo(nullptr);
    APMPBSetString(*inner, 3, "value");
    APMPBSetMessage(*filter, 2, inner.get());
    APMPBSetString(*inner, 3, "changed after storing");

    auto copy = APMPBGetMessage<APMPBFilter>(*filter, 2);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(APMPBGetString(*copy, 3), "value");
    APMPBSetBool(*copy, 2, true);
    EXPECT_FALSE(APMPBGetBool(*APMPBGetMessage<APMPBFilter>(*filter, 2), 2));
    APMPBSetMessage(*filter, 2, copy.get());
    EXPECT_TRUE(APMPBGetBool(*APMPBGetMessage<APMPBFilter>(*filter, 2), 2));
}

TEST(MessageAccess, GetMessageWithAnotherClassOrAbsentGivesNothing) {
    auto filter = APMPBPropertyFilter::initWithMessageInfo(nullptr);
    EXPECT_EQ(APMPBGetMessage<APMPBFilter>(*filter, 2), nullptr);
    auto inner = APMPBFilter::initWithMessageInfo(nullptr);
    APMPBSetMessage(*filter, 2, inner.get());
    EXPECT_EQ(APMPBGetMessage<APMPBNumberFilter>(*filter, 2), nullptr);
    const std::string output = stderrOf([&] { EXPECT_EQ(APMPBGetMessage(*filter, 2, nullptr), nullptr); });
    EXPECT_EQ(output, "<ERROR> Provided class doesn't implement initWithMessageInfo: method. Class: (null)\n");
}

TEST(MessageAccess, SetMessageRefusesAMessageOfAnotherType) {
    auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
    auto campaign = APMPBAdCampaignInfo::initWithMessageInfo(nullptr);
    APMPBSetString(*campaign, 0, "vclid");
    APMPBSetMessage(*bundle, 52, campaign.get());
    auto event = APMPBEvent::initWithMessageInfo(nullptr);
    APMPBEvent recordless;
    const std::string output = stderrOf([&] {
        APMPBSetMessage(*bundle, 52, event.get());
        APMPBSetMessage(*bundle, 52, &recordless);
        APMPBSetMessage(*bundle, 52, nullptr);
    });
    EXPECT_EQ(output,
              "<Nano/Failure> Value isn't a AdCampaignInfo message. Message: MeasurementBundle, field ID: 52\n"
              "<Nano/Failure> Value isn't a AdCampaignInfo message. Message: MeasurementBundle, field ID: 52\n"
              "<Nano/Failure> Value isn't a AdCampaignInfo message. Message: MeasurementBundle, field ID: 52\n");
    EXPECT_EQ(APMPBGetString(*APMPBGetMessage<APMPBAdCampaignInfo>(*bundle, 52), 0), "vclid");
    EXPECT_EQ(bytesOf(bundle->protoBuffer()), WireWriter().message(79, WireWriter().string(1, "vclid")).bytes());
}

TEST(MessageAccess, ArraysOfMessagesRoundTrip) {
    auto event = APMPBEvent::initWithMessageInfo(nullptr);
    APMPBSetArray(*event, 0, APMPBArray{asObject(namedParam("a", 1)), asObject(namedParam("b", 2))});
    const auto params = APMPBGetArray<APMPBEventParam>(*event, 0);
    ASSERT_TRUE(params.has_value());
    ASSERT_EQ(params->size(), 2u);
    auto second = std::static_pointer_cast<APMPBEventParam>(std::get<std::shared_ptr<NANOMessageBase>>((*params)[1]));
    EXPECT_EQ(APMPBGetString(*second, 0), "b");
    EXPECT_EQ(APMPBGetInt64(*second, 2), 2);
    EXPECT_EQ(bytesOf(event->protoBuffer()), WireWriter()
                                                 .message(1, WireWriter().string(1, "a").varint(3, 1))
                                                 .message(1, WireWriter().string(1, "b").varint(3, 2))
                                                 .bytes());
}

TEST(MessageAccess, HandedOverElementsMoveTheirRecordsAndHeldOnesAreCopied) {
    auto event = APMPBEvent::initWithMessageInfo(nullptr);
    const auto kept = namedParam("kept", 1);
    auto handedOver = namedParam("moved", 2);
    const MessageInfo* handedOverRecord = handedOver->messageInfo();
    APMPBArray elements{asObject(kept)};
    elements.emplace_back(std::shared_ptr<NANOMessageBase>(std::move(handedOver)));

    APMPBSetArray(*event, 0, std::move(elements));
    EXPECT_TRUE(elements.empty());
    const auto* array = static_cast<const RepeatedArray*>(event->messageInfo()->fields[0]);
    ASSERT_EQ(array->count, 2u);
    EXPECT_NE(array->items[0], kept->messageInfo());  // still the caller's: copied
    EXPECT_EQ(array->items[1], handedOverRecord);     // no one else's: moved, not copied
    EXPECT_EQ(APMPBGetString(*kept, 0), "kept");
    EXPECT_EQ(bytesOf(event->protoBuffer()), WireWriter()
                                                 .message(1, WireWriter().string(1, "kept").varint(3, 1))
                                                 .message(1, WireWriter().string(1, "moved").varint(3, 2))
                                                 .bytes());
}

TEST(MessageAccess, ArraysOfNumbersAndStringsKeepTheirTypes) {
    auto sequence = APMPBSequenceFilterResultTimestamp::initWithMessageInfo(nullptr);
    APMPBSetArray(*sequence, 1, APMPBArray{APMPBNumber::numberWithDouble(-3.9), APMPBNumber::numberWithInt(5)});
    EXPECT_EQ(APMPBGetArray(*sequence, 1),
              (APMPBArray{APMPBNumber::numberWithLongLong(-3), APMPBNumber::numberWithLongLong(5)}));

    auto result = APMPBResultData::initWithMessageInfo(nullptr);
    APMPBSetArray(*result, 0, APMPBArray{APMPBNumber::numberWithLongLong(-1)});
    EXPECT_EQ(APMPBGetArray(*result, 0), (APMPBArray{APMPBNumber::numberWithUnsignedLongLong(UINT64_MAX)}));

    auto filter = APMPBStringFilter::initWithMessageInfo(nullptr);
    APMPBSetArray(*filter, 3, APMPBArray{std::string("one"), std::string("two")});
    EXPECT_EQ(APMPBGetArray(*filter, 3), (APMPBArray{std::string("one"), std::string("two")}));
    APMPBSetArray(*filter, 3, std::nullopt);
    EXPECT_EQ(APMPBGetArray(*filter, 3), APMPBArray{});
}

TEST(MessageAccess, ArrayLeavesOutStringsThatAreNotUtf8) {
    auto filter = APMPBStringFilter::initWithBuffer(WireWriter().string(4, "ok").string(4, "\xFF").string(4, "fine").bytes());
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(APMPBGetArray(*filter, 3), (APMPBArray{std::string("ok"), std::string("fine")}));
}

TEST(MessageAccess, AWrongObjectLeavesTheFieldEmpty) {
    auto filter = APMPBStringFilter::initWithMessageInfo(nullptr);
    APMPBSetArray(*filter, 3, APMPBArray{std::string("old")});
    const std::string output = stderrOf([&] {
        APMPBSetArray(*filter, 3, APMPBArray{std::string("a"), std::string("b"), APMPBNumber::numberWithInt(3)});
    });
    EXPECT_EQ(output, "<ERROR> Invalid object type. String fields expect NSString. Type: APMPBNumber\n");
    EXPECT_EQ(APMPBGetArray(*filter, 3), APMPBArray{});
    EXPECT_TRUE(APMPBHasField(*filter, 3));
}

TEST(MessageAccess, EachElementTypeNamesWhatItExpects) {
    auto config = APMPBMeasurementConfig::initWithMessageInfo(nullptr);
    auto sequence = APMPBSequenceFilterResultTimestamp::initWithMessageInfo(nullptr);
    auto event = APMPBEvent::initWithMessageInfo(nullptr);
    const std::string output = stderrOf([&] {
        APMPBSetArray(*config, 16, APMPBArray{std::string("1")});
        APMPBSetArray(*sequence, 1, APMPBArray{APMPBData()});
        APMPBSetArray(*event, 0, APMPBArray{std::string("param")});
        APMPBSetArray(*event, 0, APMPBArray{std::shared_ptr<NANOMessageBase>()});
    });
    EXPECT_EQ(output,
              "<ERROR> Invalid object type. Int32 fields expect NSNumber. Type: String\n"
              "<ERROR> Invalid object type. Int64 fields expect NSNumber. Type: APMPBData\n"
              "<ERROR> Invalid object type. Message fields expect NANOMessageBase. Type: String\n"
              "<ERROR> Invalid object type. Message fields expect NANOMessageBase. Type: nil\n");
}

TEST(MessageAccess, ArrayElementsOfAnotherMessageAreRefused) {
    auto event = APMPBEvent::initWithMessageInfo(nullptr);
    auto attribute = APMPBUserAttribute::initWithMessageInfo(nullptr);
    const std::string output = stderrOf([&] {
        APMPBSetArray(*event, 0, APMPBArray{asObject(namedParam("a", 1)), asObject(attribute)});
    });
    EXPECT_EQ(output, "<ERROR> Invalid object type. Message fields expect EventParam. Type: APMPBUserAttribute\n");
    EXPECT_EQ(APMPBGetArray<APMPBEventParam>(*event, 0), APMPBArray{});
    EXPECT_EQ(bytesOf(event->protoBuffer()).size(), 0u);
}

TEST(MessageAccess, GetArrayOfMessagesNeedsAClass) {
    auto event = APMPBEvent::initWithMessageInfo(nullptr);
    APMPBSetArray(*event, 0, APMPBArray{asObject(namedParam("a", 1))});
    const std::string output = stderrOf([&] { EXPECT_EQ(APMPBGetArray(*event, 0), APMPBArray{}); });
    EXPECT_EQ(output, "<ERROR> Provided class doesn't implement initWithMessageInfo: method. Class: (null)\n");
    EXPECT_EQ(APMPBGetArray<APMPBUserAttribute>(*event, 0), APMPBArray{});
}

TEST(MessageAccess, MissingRepeatedRecordAndNullItemsAreLogged) {
    auto filter = APMPBStringFilter::initWithMessageInfo(nullptr);
    APMPBSetArray(*filter, 3, APMPBArray{std::string("a"), std::string("b")});
    auto* array = static_cast<RepeatedArray*>(filter->messageInfo()->fields[3]);
    void* detached = array->items[0];
    array->items[0] = nullptr;
    std::string output = stderrOf([&] { EXPECT_EQ(APMPBGetArray(*filter, 3), (APMPBArray{std::string("b")})); });
    EXPECT_EQ(output, "<ERROR> Unable to convert NULL data to an ObjC object\n");
    array->items[0] = detached;

    filter->messageInfo()->fields[3] = nullptr;
    output = stderrOf([&] {
        EXPECT_EQ(APMPBGetArray(*filter, 3), std::nullopt);
        APMPBSetArray(*filter, 3, APMPBArray{});
    });
    EXPECT_EQ(output,
              "<ERROR> Repeated field should have been allocated\n"
              "<ERROR> Repeated field should have been allocated\n");
    filter->messageInfo()->fields[3] = array;
}
