// Initialising, clearing, copying and freeing records, and the shared
// runtime's refusals.
#include <gtest/gtest.h>

#include <set>

#include "MessageTestSupport.h"
#include "WireWriter.h"
#include "measurement/messages/MessageRuntime.h"

using namespace measurement::messages;

namespace {

// Every heap block reachable from a record.
void collectBlocks(const MessageType& type, const MessageInfo* info, std::set<const void*>& blocks) {
    blocks.insert(info);
    blocks.insert(info->fields);
    for (std::uint32_t slot = 0; slot < type.slotCount; ++slot) {
        const void* value = info->fields[slot];
        if (value == nullptr) continue;
        blocks.insert(value);
        const SlotInfo& slotInfo = type.slots[slot];
        auto collectItem = [&](const void* item) {
            if (item == nullptr) return;
            if (slotInfo.flags & FieldFlag::Message) {
                collectBlocks(*slotInfo.message, static_cast<const MessageInfo*>(item), blocks);
            } else {
                blocks.insert(item);
                if (slotInfo.flags & FieldFlag::StringOrBytes) blocks.insert(static_cast<const StringRecord*>(item)->data);
            }
        };
        if (slotInfo.flags & FieldFlag::Repeated) {
            const auto* array = static_cast<const RepeatedArray*>(value);
            if (array->items != nullptr) blocks.insert(array->items);
            for (std::uint32_t index = 0; array->items != nullptr && index < array->count; ++index) {
                collectItem(array->items[index]);
            }
        } else if (slotInfo.flags & FieldFlag::Message) {
            blocks.erase(value);
            collectBlocks(*slotInfo.message, static_cast<const MessageInfo*>(value), blocks);
        } else if (slotInfo.flags & FieldFlag::StringOrBytes) {
            blocks.insert(static_cast<const StringRecord*>(value)->data);
        }
    }
}

std::vector<std::uint8_t> richBundle() {
    WireWriter param = WireWriter().string(1, "items").message(6, WireWriter().message(6, WireWriter().string(1, "id").string(2, "x")));
    WireWriter event = WireWriter().message(1, param).string(2, "purchase").varint(3, 1000);
    WireWriter campaign = WireWriter().string(1, "c").message(9, WireWriter().string(1, "vad_source").string(2, "s"));
    return WireWriter()
        .varint(1, 1)
        .message(2, event)
        .message(3, WireWriter().string(2, "_npa").varint(4, 0))
        .string(14, "app")
        .varint(45, 7)
        .varint(45, 8)
        .string(64, "device_model")
        .message(79, campaign)
        .message(84, WireWriter().message(3, WireWriter().varint(1, 5).string(2, "v")))
        .bytes();
}

}  // namespace

TEST(MessageLifecycle, InitPreparesNameFlagsAndEmptyRepeatedRecords) {
    OwnedRecord config(kMeasurementConfig);
    EXPECT_STREQ(config.get()->name, "MeasurementConfig");
    EXPECT_EQ(config.get()->flags, kMeasurementConfig.flags);
    for (int slot : {3, 4, 5, 8, 9, 16}) {
        ASSERT_NE(config.get()->fields[slot], nullptr);
        EXPECT_EQ(repeatedAt(config.get(), slot).count, 0u);
        EXPECT_EQ(repeatedAt(config.get(), slot).items, nullptr);
    }
    EXPECT_FALSE(APMMessageInfoInit(kMeasurementConfig, nullptr));
}

TEST(MessageLifecycle, DeallocFieldRefusesSlotsBeyondTheMessage) {
    OwnedRecord event(kEvent);
    bool released = true;
    std::string output = stdoutOf([&] { released = APMMessageInfoDeallocField(kEvent, event.get(), 7); });
    EXPECT_FALSE(released);
    EXPECT_EQ(output, "<ERROR> Event: Cannot deallocate field 7: Unknown field\n");
    output = stdoutOf([&] { released = APMMessageInfoDeallocField(kEvent, event.get(), -1); });
    EXPECT_FALSE(released);
    EXPECT_EQ(output, "<ERROR> Event: Cannot deallocate field -1: Unknown field\n");
    EXPECT_TRUE(APMMessageInfoDeallocField(kEvent, event.get(), 3));
    EXPECT_FALSE(APMMessageInfoDeallocField(kEvent, nullptr, 3));
}

TEST(MessageLifecycle, DeallocFieldEmptiesRepeatedButKeepsTheRecord) {
    OwnedRecord bundle(kMeasurementBundle);
    ASSERT_TRUE(bundle.decode(richBundle()));
    const void* record = bundle.get()->fields[1];
    ASSERT_TRUE(APMMessageInfoDeallocField(kMeasurementBundle, bundle.get(), 1));
    EXPECT_EQ(bundle.get()->fields[1], record);
    EXPECT_EQ(repeatedAt(bundle.get(), 1).count, 0u);
    EXPECT_EQ(repeatedAt(bundle.get(), 1).items, nullptr);
    ASSERT_TRUE(APMMessageInfoDeallocField(kMeasurementBundle, bundle.get(), 52));
    EXPECT_EQ(bundle.get()->fields[52], nullptr);
}

TEST(MessageLifecycle, CopySharesNothingAndTerminatesStrings) {
    OwnedRecord source(kMeasurementBundle);
    ASSERT_TRUE(source.decode(richBundle()));
    MessageInfo* copy = nullptr;
    ASSERT_TRUE(APMMessageInfoCopy(kMeasurementBundle, &copy, source.get()));

    std::set<const void*> sourceBlocks, copyBlocks;
    collectBlocks(kMeasurementBundle, source.get(), sourceBlocks);
    collectBlocks(kMeasurementBundle, copy, copyBlocks);
    EXPECT_EQ(sourceBlocks.size(), copyBlocks.size());
    for (const void* block : copyBlocks) {
        EXPECT_EQ(sourceBlocks.count(block), 0u);
    }
    const StringRecord& appId = stringAt(copy, 14);
    ASSERT_EQ(appId.length, 3u);
    EXPECT_EQ(appId.data[3], 0);
    EXPECT_EQ(encodeRecord(kMeasurementBundle, copy), richBundle());
    EXPECT_EQ(repeatedAt(copy, 1).filled, repeatedAt(copy, 1).count);
    EXPECT_TRUE(APMMessageInfoFree(kMeasurementBundle, copy));
}

TEST(MessageLifecycle, CopyReplacesTheDestinationRecord) {
    OwnedRecord source(kEvent);
    ASSERT_TRUE(source.decode(WireWriter().string(2, "new").bytes()));
    OwnedRecord destination(kEvent);
    ASSERT_TRUE(destination.decode(WireWriter().string(2, "old").varint(3, 4).bytes()));
    ASSERT_TRUE(APMMessageInfoCopy(kEvent, destination.address(), source.get()));
    EXPECT_EQ(encodeRecord(kEvent, destination.get()), WireWriter().string(2, "new").bytes());
    EXPECT_FALSE(APMMessageInfoCopy(kEvent, nullptr, source.get()));
    EXPECT_FALSE(APMMessageInfoCopy(kEvent, destination.address(), nullptr));
}

TEST(MessageRuntime, SettersRefuseAMissingDestination) {
    const std::string output = stdoutOf([] {
        EXPECT_FALSE(APMPBSetBoolValue(nullptr, true));
        EXPECT_FALSE(APMPBSetUInt32Value(nullptr, 1));
        EXPECT_FALSE(APMPBSetUInt64Value(nullptr, 1));
        EXPECT_FALSE(APMPBSetFloatValue(nullptr, 1));
        EXPECT_FALSE(APMPBSetDoubleValue(nullptr, 1));
        EXPECT_FALSE(APMPBSetStringValue(nullptr, nullptr, 0));
        EXPECT_FALSE(APMPBDeallocString(nullptr));
        EXPECT_FALSE(APMPBResetArray(nullptr));
    });
    EXPECT_EQ(output,
              "<ERROR> Unable to set bool. Destination pointer is NULL\n"
              "<ERROR> Unable to set uint32. Destination pointer is NULL\n"
              "<ERROR> Unable to set uint64. Destination pointer is NULL\n"
              "<ERROR> Unable to set float. Destination pointer is NULL\n"
              "<ERROR> Unable to set double. Destination pointer is NULL\n"
              "<ERROR> Unable to set string. Destination array is NULL\n"
              "<ERROR> Unable to dealloc string field. String struct is NULL\n"
              "<ERROR> Unable to initialize the array. Array pointer is NULL\n");
}

