// AdCampaignInfo: from a deep link, from the "_vbraid" property, and into a
// bundle.
#include <gtest/gtest.h>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/AdCampaignInfo.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/SemanticsTestSupport.h"

namespace {

std::vector<std::pair<std::string, std::string>> vadEntries(const APMPBAdCampaignInfo& info) {
    std::vector<std::pair<std::string, std::string>> entries;
    for (const auto& entry : APMPBGetMessages<APMPBDeepLinkVadParamsEntry>(info, AdCampaignInfoSlot::DeepLinkVadParams)) {
        entries.emplace_back(APMPBGetString(*entry, DeepLinkVadParamsEntrySlot::Key).value_or("?"),
                             APMPBGetString(*entry, DeepLinkVadParamsEntrySlot::Value).value_or("?"));
    }
    return entries;
}

}  // namespace

TEST(AdCampaignInfoFromDeepLink, NothingWithoutClickIDsOrVadParameters) {
    APMDeepLinkCampaign campaign{{{"source", APMValue("news")}, {"medium", APMValue("mail")}}, 10, "https://x/y"};
    EXPECT_EQ(APMAdCampaignInfoFromDeepLink(campaign), nullptr);
}

TEST(AdCampaignInfoFromDeepLink, VadSourceAloneIsEnoughAndIsAlsoAnEntry) {
    APMDeepLinkCampaign campaign{{{"vad_source", APMValue("search")}}, 12.3456, std::nullopt};
    auto info = APMAdCampaignInfoFromDeepLink(campaign);
    ASSERT_NE(info, nullptr);
    info = throughWire(*info);
    EXPECT_EQ(APMPBGetString(*info, AdCampaignInfoSlot::VadSource), "search");
    EXPECT_EQ(vadEntries(*info), (std::vector<std::pair<std::string, std::string>>{{"vad_source", "search"}}));
    EXPECT_EQ(APMPBGetInt64(*info, AdCampaignInfoSlot::CampaignTimestamp), 12345);
    EXPECT_FALSE(APMPBHasField(*info, AdCampaignInfoSlot::Vclid));
    EXPECT_FALSE(APMPBHasField(*info, AdCampaignInfoSlot::DeepLinkURL));
}

TEST(AdCampaignInfoFromDeepLink, ClickIDsNumbersAndTheLinkWithoutQuery) {
    APMDeepLinkCampaign campaign{{{"vclid", APMValue("c1")},
                                  {"vbraid", APMValue("b1")},
                                  {"vad_campaignid", APMValue(7)},
                                  {"vad_items", APMValue(std::vector<APMParameters>{})},
                                  {"utm_source", APMValue("x")}},
                                 20,
                                 "https://example.com/path?vclid=c1#frag"};
    auto info = APMAdCampaignInfoFromDeepLink(campaign);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(APMPBGetString(*info, AdCampaignInfoSlot::Vclid), "c1");
    EXPECT_EQ(APMPBGetString(*info, AdCampaignInfoSlot::Vbraid), "b1");
    EXPECT_EQ(vadEntries(*info), (std::vector<std::pair<std::string, std::string>>{{"vad_campaignid", "7"}}));
    EXPECT_EQ(APMPBGetString(*info, AdCampaignInfoSlot::DeepLinkURL), "https://example.com/path");
}

TEST(AdCampaignInfoFromDeepLink, AnUnrepresentableTimeSaturates) {
    APMDeepLinkCampaign campaign{{{"vclid", APMValue("c")}}, -1e300, std::nullopt};
    auto info = APMAdCampaignInfoFromDeepLink(campaign);
    EXPECT_EQ(APMPBGetInt64(*info, AdCampaignInfoSlot::CampaignTimestamp), std::numeric_limits<std::int64_t>::min());
}

TEST(AdCampaignInfoFromDeepLink, TheLinkLosesQueryAndFragmentWhicheverComesFirst) {
    EXPECT_EQ(APMURLWithoutQueryAndFragment("app://open#part?x=1"), "app://open");
    EXPECT_EQ(APMURLWithoutQueryAndFragment("app://open"), "app://open");
}

TEST(AdCampaignInfoFromVbraid, CarriesTheValueAndItsSetTime) {
    auto info = APMAdCampaignInfoFromVbraidProperty(APMUserAttribute("auto", "_vbraid", APMValue("wb"), 3.0009));
    EXPECT_EQ(APMPBGetString(*info, AdCampaignInfoSlot::Vbraid), "wb");
    EXPECT_EQ(APMPBGetInt64(*info, AdCampaignInfoSlot::CampaignTimestamp), 3000);
    info = APMAdCampaignInfoFromVbraidProperty(APMUserAttribute("auto", "_vbraid", APMValue(42), 1));
    EXPECT_EQ(APMPBGetString(*info, AdCampaignInfoSlot::Vbraid), "42");
}

TEST(BundleAdCampaignInfo, ThePersistedBufferIsAttachedWhenItDecodes) {
    auto info = APMAdCampaignInfoFromDeepLink({{{"vclid", APMValue("c")}}, 1, std::nullopt});
    auto bytes = info->protoBuffer()->toVector();
    auto bundle = newMessage<APMPBMeasurementBundle>();
    APMSetBundleAdCampaignInfo(*bundle, {});
    EXPECT_FALSE(APMPBHasField(*bundle, MeasurementBundleSlot::AdCampaignInfo));
    const std::vector<std::uint8_t> garbage{0x0a, 0x05, 'x'};
    APMSetBundleAdCampaignInfo(*bundle, garbage);
    EXPECT_FALSE(APMPBHasField(*bundle, MeasurementBundleSlot::AdCampaignInfo));
    APMSetBundleAdCampaignInfo(*bundle, bytes);
    auto attached = APMPBGetMessage<APMPBAdCampaignInfo>(*bundle, MeasurementBundleSlot::AdCampaignInfo);
    ASSERT_NE(attached, nullptr);
    EXPECT_EQ(APMPBGetString(*attached, AdCampaignInfoSlot::Vclid), "c");
}
