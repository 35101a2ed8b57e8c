// Decoding wire bytes into messages: presence, the number encodings, repeated
// and packed input, duplicates, unknown tags, wire-type checks, the string
// bound and the nesting bound.
#include <gtest/gtest.h>

#include "MessageTestSupport.h"
#include "TestNames.h"
#include "WireWriter.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/APMPBMessages.h"

using namespace measurement::messages;

namespace {

// Bytes of an EventParam (or RuntimeEntity) chain `levels` messages deep, each
// holding the next in its repeated self field; built without re-copying.
std::vector<std::uint8_t> nestedChain(std::uint32_t selfTag, std::size_t levels) {
    const std::vector<std::uint8_t> innermost;  // an empty message
    std::vector<std::vector<std::uint8_t>> headers;
    std::size_t length = innermost.size();
    for (std::size_t level = 1; level < levels; ++level) {
        WireWriter header;
        header.key(selfTag, WireWriter::LengthDelimited).rawVarint(length);
        length += header.bytes().size();
        headers.push_back(header.bytes());
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(length);
    for (auto header = headers.rbegin(); header != headers.rend(); ++header) {
        bytes.insert(bytes.end(), header->begin(), header->end());
    }
    bytes.insert(bytes.end(), innermost.begin(), innermost.end());
    return bytes;
}

}  // namespace

TEST(MessageDecoding, ZeroBytesGiveAnEmptyMessage) {
    OwnedRecord bundle(kMeasurementBundle);
    ASSERT_TRUE(bundle.decode({}));
    for (std::uint32_t slot = 0; slot < kMeasurementBundle.slotCount; ++slot) {
        if (kMeasurementBundle.flags[slot] & FieldFlag::Repeated) {
            EXPECT_EQ(repeatedAt(bundle.get(), slot).count, 0u);
        } else {
            EXPECT_EQ(bundle.get()->fields[slot], nullptr) << slot;
        }
    }
}

TEST(MessageDecoding, OnlyFieldsOnTheWireArePresentWhateverTheDeclaredDefaults) {
    auto psm = APMPBPsmSetting::initWithBuffer(WireWriter().varint(2, 7).bytes());
    ASSERT_NE(psm, nullptr);
    EXPECT_FALSE(APMPBHasField(*psm, 0));
    EXPECT_EQ(APMPBGetInt32(*psm, 0), 0);
    EXPECT_TRUE(APMPBHasField(*psm, 1));
    EXPECT_EQ(APMPBGetInt32(*psm, 1), 7);

    auto config = APMPBMeasurementConfig::initWithBuffer(WireWriter().varint(1, 3).bytes());
    ASSERT_NE(config, nullptr);
    EXPECT_FALSE(APMPBHasField(*config, 7));
    EXPECT_EQ(bytesOf(config->protoBuffer()), WireWriter().varint(1, 3).bytes());
}

TEST(MessageDecoding, NegativeInt32ReadsBackAndIsWrittenSignExtended) {
    const auto tenBytes = WireWriter().varint(5, static_cast<std::uint64_t>(-5)).bytes();
    ASSERT_EQ(tenBytes.size(), 11u);
    auto event = APMPBEvent::initWithBuffer(tenBytes);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(APMPBGetInt32(*event, 4), -5);
    EXPECT_EQ(bytesOf(event->protoBuffer()), tenBytes);

    // The 32-bit form some writers use reads as the same value.
    auto shortForm = APMPBEvent::initWithBuffer(WireWriter().varint(5, 0xFFFFFFFBu).bytes());
    ASSERT_NE(shortForm, nullptr);
    EXPECT_EQ(APMPBGetInt32(*shortForm, 4), -5);
    EXPECT_EQ(bytesOf(shortForm->protoBuffer()), tenBytes);
}

TEST(MessageDecoding, PackedNumbersGiveOneElementPerValueAndAreWrittenUnpacked) {
    auto result = APMPBResultData::initWithBuffer(WireWriter().packed(1, {1, 300, 1ull << 40}).varint(1, 9).bytes());
    ASSERT_NE(result, nullptr);
    const auto status = APMPBGetArray(*result, 0);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, (APMPBArray{APMPBNumber::numberWithUnsignedLongLong(1),
                                   APMPBNumber::numberWithUnsignedLongLong(300),
                                   APMPBNumber::numberWithUnsignedLongLong(1ull << 40),
                                   APMPBNumber::numberWithUnsignedLongLong(9)}));
    EXPECT_EQ(bytesOf(result->protoBuffer()),
              WireWriter().varint(1, 1).varint(1, 300).varint(1, 1ull << 40).varint(1, 9).bytes());
}

TEST(MessageDecoding, RepeatedUInt32FromA64BitVarintReadsItsLow32Bits) {
    auto config = APMPBMeasurementConfig::initWithBuffer(WireWriter().varint(20, 0x1'0000'0005ull).bytes());
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(APMPBGetArray(*config, 16), (APMPBArray{APMPBNumber::numberWithUnsignedInt(5)}));
}

TEST(MessageDecoding, RepeatedStringKeepsFirstOccurrenceAndScalarKeepsLast) {
    auto event = APMPBEvent::initWithBuffer(
        WireWriter().string(2, "first").varint(3, 10).string(2, "second").varint(3, 20).bytes());
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(APMPBGetString(*event, 1), "first");
    EXPECT_EQ(APMPBGetInt64(*event, 2), 20);
}

TEST(MessageDecoding, UnknownTagsOfEveryWireTypeAreSkipped) {
    const auto bytes = WireWriter()
                           .varint(90, 1)
                           .string(2, "name")
                           .fixed64(91, 7)
                           .string(92, "unknown")
                           .fixed32(93, 8)
                           .varint(3, 1000)
                           .bytes();
    auto event = APMPBEvent::initWithBuffer(bytes);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(APMPBGetString(*event, 1), "name");
    EXPECT_EQ(bytesOf(event->protoBuffer()), WireWriter().string(2, "name").varint(3, 1000).bytes());
}

struct WrongWireTypeCase {
    const char* kind;
    const MessageType* type;
    std::vector<std::uint8_t> bytes;
};

class MessageDecodingWrongWireType : public testing::TestWithParam<WrongWireTypeCase> {};

TEST_P(MessageDecodingWrongWireType, FailsTheDecode) {
    const WrongWireTypeCase& example = GetParam();
    OwnedRecord record(*example.type);
    bool decoded = true;
    const std::string output = stdoutOf([&] { decoded = record.decode(example.bytes); });
    EXPECT_FALSE(decoded) << example.kind;
    EXPECT_NE(output.find("decoder failed: "), std::string::npos) << output;
}

INSTANTIATE_TEST_SUITE_P(
    EveryFieldKind, MessageDecodingWrongWireType,
    testing::Values(
        WrongWireTypeCase{"int64 as length-delimited", &kEvent, WireWriter().string(3, "x").bytes()},
        WrongWireTypeCase{"float as varint", &kEventParam, WireWriter().varint(4, 1).bytes()},
        WrongWireTypeCase{"double as 32-bit", &kEventParam, WireWriter().fixed32(5, 1).bytes()},
        WrongWireTypeCase{"string as varint", &kEvent, WireWriter().varint(2, 5).bytes()},
        WrongWireTypeCase{"string as 64-bit", &kSetting, WireWriter().fixed64(1, 5).bytes()},
        WrongWireTypeCase{"repeated string as varint", &kMeasurementBundle, WireWriter().varint(64, 1).bytes()},
        WrongWireTypeCase{"repeated message as varint", &kEvent, WireWriter().varint(1, 1).bytes()},
        WrongWireTypeCase{"repeated message as 32-bit", &kMeasurementBatch, WireWriter().fixed32(1, 1).bytes()},
        WrongWireTypeCase{"single message as varint", &kMeasurementBundle, WireWriter().varint(79, 1).bytes()},
        WrongWireTypeCase{"repeated number as 64-bit", &kMeasurementBundle, WireWriter().fixed64(45, 1).bytes()},
        WrongWireTypeCase{"string inside a single message", &kMeasurementBundle,
                          WireWriter().message(79, WireWriter().varint(1, 3)).bytes()},
        WrongWireTypeCase{"string inside a repeated element", &kMeasurementBatch,
                          WireWriter().message(1, WireWriter().message(2, WireWriter().varint(2, 3))).bytes()},
        WrongWireTypeCase{"group wire type", &kEvent, WireWriter().key(2, 3).bytes()}),
    [](const auto& info) { return testnames::fromText(info.param.kind); });

TEST(MessageDecoding, WrongWireTypeNamesTheMessageAndNanopbText) {
    OwnedRecord event(kEvent);
    const std::string output = stdoutOf([&] { EXPECT_FALSE(event.decode(WireWriter().varint(2, 5).bytes())); });
    EXPECT_EQ(output, "<ERROR> Event decoder failed: wrong wire type\n");
}

TEST(MessageDecoding, StringsUpToOneMebibyteDecode) {
    const std::string largest(1048576, 'a');
    auto event = APMPBEvent::initWithBuffer(WireWriter().string(2, largest).bytes());
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(APMPBGetString(*event, 1)->size(), 1048576u);
}

TEST(MessageDecoding, LongerStringFailsTheWholeDecode) {
    const std::string tooLong(1048577, 'a');
    const auto bytes = WireWriter().varint(3, 1).string(2, tooLong).bytes();
    std::shared_ptr<APMPBEvent> event;
    const std::string output = stdoutOf([&] { event = APMPBEvent::initWithBuffer(bytes); });
    EXPECT_EQ(event, nullptr);
    EXPECT_EQ(output,
              "Unable to process proto stream. Buffer is too big. 1048577 > 1048576"
              "<ERROR> Event decoder failed: callback failed\n");
}

TEST(MessageDecoding, EmptyStringIsPresentWithLengthZero) {
    OwnedRecord event(kEvent);
    ASSERT_TRUE(event.decode(WireWriter().string(2, "").bytes()));
    ASSERT_NE(event.get()->fields[1], nullptr);
    EXPECT_EQ(stringAt(event.get(), 1).length, 0u);
    EXPECT_NE(stringAt(event.get(), 1).data, nullptr);
    EXPECT_EQ(encodeRecord(kEvent, event.get()), (std::vector<std::uint8_t>{0x12, 0x00}));
}

TEST(MessageDecoding, NestedRepeatedMessagesAreFilledAtEveryLevel) {
    WireWriter event = WireWriter().string(2, "e").message(1, WireWriter().string(1, "p1")).message(
        1, WireWriter().string(1, "p2").message(6, WireWriter().varint(3, 4)));
    WireWriter bundle = WireWriter().message(2, event).message(2, event).message(2, event);
    OwnedRecord batch(kMeasurementBatch);
    ASSERT_TRUE(batch.decode(WireWriter().message(1, bundle).message(1, bundle).bytes()));

    const RepeatedArray& bundles = repeatedAt(batch.get(), 0);
    ASSERT_EQ(bundles.count, 2u);
    EXPECT_EQ(bundles.filled, 2u);
    for (std::uint32_t b = 0; b < bundles.count; ++b) {
        const RepeatedArray& events = repeatedAt(static_cast<MessageInfo*>(bundles.items[b]), 1);
        ASSERT_EQ(events.count, 3u);
        EXPECT_EQ(events.filled, 3u);
        for (std::uint32_t e = 0; e < events.count; ++e) {
            const RepeatedArray& params = repeatedAt(static_cast<MessageInfo*>(events.items[e]), 0);
            ASSERT_EQ(params.count, 2u);
            EXPECT_EQ(params.filled, 2u);
            const RepeatedArray& values = repeatedAt(static_cast<MessageInfo*>(params.items[1]), 5);
            EXPECT_EQ(values.count, 1u);
            EXPECT_EQ(values.filled, 1u);
        }
    }
}

TEST(MessageDecoding, AFailingElementLeavesAPartialRecordThatIsFreedOnce) {
    WireWriter good = WireWriter().message(2, WireWriter().string(2, "ok"));
    WireWriter bad = WireWriter().message(2, WireWriter().string(2, "ok")).message(2, WireWriter().key(20, 7));
    OwnedRecord batch(kMeasurementBatch);
    std::string output = stdoutOf([&] { EXPECT_FALSE(batch.decode(WireWriter().message(1, good).message(1, bad).bytes())); });
    EXPECT_NE(output.find("<ERROR> MeasurementBundle decoder failed: Unable to decode repeated MeasurementBundle\n"),
              std::string::npos);
    EXPECT_NE(output.find("<ERROR> Event decoder failed: invalid wire_type\n"), std::string::npos);
    EXPECT_EQ(repeatedAt(batch.get(), 0).filled, 1u) << output;
    // OwnedRecord frees the partial record; the sanitizer build checks it is freed exactly once.
}

TEST(MessageDecoding, SelfNestingUpToOneHundredLevelsDecodes) {
    EXPECT_NE(APMPBEventParam::initWithBuffer(nestedChain(6, 101)), nullptr);
    EXPECT_NE(APMPBRuntimeEntity::initWithBuffer(nestedChain(2, 101)), nullptr);
}

TEST(MessageDecoding, DeeperSelfNestingIsUndecodable) {
    std::shared_ptr<APMPBEventParam> param;
    const std::string output = stdoutOf([&] { param = APMPBEventParam::initWithBuffer(nestedChain(6, 102)); });
    EXPECT_EQ(param, nullptr);
    EXPECT_EQ(output.rfind("<ERROR> EventParam decoder failed: nesting too deep\n", 0), 0u) << output.substr(0, 200);

    std::shared_ptr<APMPBRuntimeEntity> entity;
    stdoutOf([&] { entity = APMPBRuntimeEntity::initWithBuffer(nestedChain(2, 20000)); });
    EXPECT_EQ(entity, nullptr);
}

TEST(MessageDecoding, NestingCountsFromTheOutermostMessage) {
    // An event's parameters sit one level below the event.
    WireWriter event;
    const auto chain = nestedChain(6, 100);
    event.string(1, std::string(chain.begin(), chain.end()));
    EXPECT_NE(APMPBEvent::initWithBuffer(event.bytes()), nullptr);
    const auto deeper = nestedChain(6, 101);
    std::shared_ptr<APMPBEvent> tooDeep;
    stdoutOf([&] { tooDeep = APMPBEvent::initWithBuffer(WireWriter().string(1, std::string(deeper.begin(), deeper.end())).bytes()); });
    EXPECT_EQ(tooDeep, nullptr);
}

TEST(MessageDecoding, TruncatedInputReportsNanopbText) {
    const auto bytes = WireWriter().string(2, "truncated").bytes();
    OwnedRecord event(kEvent);
    const std::string output = stdoutOf([&] { EXPECT_FALSE(event.decode({bytes.begin(), bytes.end() - 2})); });
    EXPECT_EQ(output, "<ERROR> Event decoder failed: end-of-stream\n");
}
