// The per-message tables generated from the schema: message set, slot counts,
// slot-to-tag maps where they differ from tag - 1, type flags, and agreement
// with nanopb's descriptors.
#include <gtest/gtest.h>
#include <pb_common.h>

#include <map>
#include <string>

#include "measurement/messages/MessageInfo.h"
#include "measurement/messages/MessageTypes.h"

using namespace measurement::messages;

namespace {

std::vector<std::uint32_t> tagsOf(const MessageType& type) {
    std::vector<std::uint32_t> tags;
    for (std::uint32_t slot = 0; slot < type.slotCount; ++slot) {
        tags.push_back(type.slots[slot].tag);
    }
    return tags;
}

}  // namespace

TEST(MessageTables, HoldAllMessagesWithTheirSlotCounts) {
    const std::map<std::string, std::uint32_t> expected = {
        {"AdCampaignInfo", 11}, {"AppProperty", 7}, {"Audience", 5}, {"AudienceLeafFilterResult", 4},
        {"ClientProperty", 5}, {"ConsentConfig", 5}, {"ConsentDefaultEntry", 3}, {"ConsentDelegationEntry", 2},
        {"ConsentInfoExtra", 1}, {"CorePlatformServiceEntry", 2}, {"CustomProperty", 2}, {"DataControl", 3},
        {"DeepLinkVadParamsEntry", 2}, {"DiagnosticSignal", 4}, {"DynamicFilterResultTimestamp", 2}, {"Event", 7},
        {"EventConfig", 4}, {"EventFilter", 8}, {"EventParam", 6}, {"Experiment", 2}, {"ExperimentRequest", 2},
        {"ExperimentResponse", 2}, {"Filter", 4}, {"Flag", 5}, {"LimitedDataEntry", 2},
        {"MarketReferrerVadParamsEntry", 2}, {"MeasurementBatch", 4}, {"MeasurementBundle", 57},
        {"MeasurementConfig", 17}, {"NumberFilter", 5}, {"OgtActivities", 1}, {"OgtActivity", 2},
        {"OnDeviceMeasurementInfo", 9}, {"OnDeviceMeasurementValue", 2}, {"Program", 2}, {"PropertyFilter", 6},
        {"PsmSetting", 5}, {"Region", 2}, {"ResultData", 4}, {"RuntimeEntity", 6}, {"SdkResponse", 3},
        {"SequenceFilterResultTimestamp", 2}, {"Setting", 2}, {"SvtmSetting", 5}, {"Snapshot", 2},
        {"StringFilter", 4}, {"UserAttribute", 6}};
    std::map<std::string, std::uint32_t> actual;
    for (const MessageType* type : allMessageTypes()) {
        actual[type->name] = type->slotCount;
    }
    EXPECT_EQ(actual, expected);
}

TEST(MessageTables, BundleSlotsFollowTheBundleLayoutNotTheTags) {
    std::vector<std::uint32_t> expected = {1, 2, 3, 4, 5, 6, 26};
    for (std::uint32_t tag = 7; tag <= 19; ++tag) expected.push_back(tag);
    expected.push_back(27);
    for (std::uint32_t tag = 20; tag <= 25; ++tag) expected.push_back(tag);
    for (std::uint32_t tag = 28; tag <= 35; ++tag) expected.push_back(tag);
    for (std::uint32_t tag : {39, 41, 45, 47, 50, 52, 53, 55, 63, 64, 65, 67, 71, 72, 73, 75, 77, 79, 84, 86, 87, 89})
        expected.push_back(tag);
    ASSERT_EQ(expected.size(), 57u);
    EXPECT_EQ(tagsOf(kMeasurementBundle), expected);
}

TEST(MessageTables, BundleSlotsHaveTheirTypeFlags) {
    const std::map<int, std::uint32_t> expected = {
        {0, 0x82}, {1, 0x4008}, {2, 0x4008}, {6, 0x202}, {8, 0x2002}, {20, 0x2002}, {21, 0x22}, {28, 0x4008},
        {35, 0x82}, {37, 0x108}, {41, 0x42}, {44, 0x2008}, {52, 0x4002}, {53, 0x4002}, {54, 0x4002}, {56, 0x4008}};
    for (const auto& [slot, flags] : expected) {
        EXPECT_EQ(kMeasurementBundle.flags[slot], flags) << "slot " << slot;
    }
    EXPECT_EQ(kMeasurementBundle.slots[52].message, &kAdCampaignInfo);
    EXPECT_EQ(kMeasurementBundle.slots[53].message, &kOnDeviceMeasurementInfo);
    EXPECT_EQ(kMeasurementBundle.slots[54].message, &kConsentInfoExtra);
    EXPECT_STREQ(kMeasurementBundle.slots[56].name, "diagnostic_signals");
}

TEST(MessageTables, ConfigSlotsAreDeclarationOrderWithGapsInTheTags) {
    EXPECT_EQ(tagsOf(kMeasurementConfig),
              (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 14, 15, 16, 17, 18, 20}));
    EXPECT_EQ(kMeasurementConfig.flags[16], 0x108u);
    EXPECT_EQ(kMeasurementConfig.slots[15].message, &kRegion);
    EXPECT_EQ(kMeasurementBatch.flags[3], 0x42u);
}

TEST(MessageTables, SelfContainingMessagesPointAtThemselves) {
    EXPECT_EQ(kEventParam.slots[5].message, &kEventParam);
    EXPECT_EQ(kEventParam.flags[5], 0x4008u);
    EXPECT_EQ(kRuntimeEntity.slots[1].message, &kRuntimeEntity);
    EXPECT_EQ(kEventParam.flags[3], 0x802u);
    EXPECT_EQ(kEventParam.flags[4], 0x1002u);
    EXPECT_EQ(kResultData.flags[0], 0x408u);
    EXPECT_EQ(kSequenceFilterResultTimestamp.flags[1], 0x208u);
}

TEST(MessageTables, AgreeWithNanopbDescriptorsEntryByEntry) {
    for (const MessageType* type : allMessageTypes()) {
        std::vector<unsigned char> wire(type->structSize);
        pb_field_iter_t field;
        ASSERT_TRUE(pb_field_iter_begin(&field, type->descriptor, wire.data())) << type->name;
        std::uint32_t entries = 0;
        do {
            EXPECT_EQ(type->slots[type->slotsByTag[field.index]].tag, field.tag) << type->name;
            ++entries;
        } while (pb_field_iter_next(&field));
        EXPECT_EQ(entries, type->slotCount) << type->name;
        for (std::uint32_t slot = 0; slot < type->slotCount; ++slot) {
            EXPECT_EQ(type->slotForTag(type->slots[slot].tag), &type->slots[slot]) << type->name;
        }
        EXPECT_EQ(type->slotForTag(1000), nullptr);
    }
}
