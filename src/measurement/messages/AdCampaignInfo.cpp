#include "measurement/messages/AdCampaignInfo.h"

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/storage/APMSaturatingConversion.h"

namespace {

constexpr std::string_view kVadPrefix = "vad_";

// A string as it is, a number as its text; an array has no text.
std::optional<std::string> textOf(const APMValue* value) {
    if (value == nullptr || value->isArray()) {
        return std::nullopt;
    }
    if (const std::string* text = value->stringValue()) {
        return *text;
    }
    return value->description();
}

APMPBArray vadParamsEntries(const APMParameters& parameters) {
    APMPBArray entries;
    for (const auto& [name, value] : parameters) {
        if (!name.starts_with(kVadPrefix)) {
            continue;
        }
        std::optional<std::string> text = textOf(&value);
        if (!text) {
            continue;
        }
        auto entry = APMPBDeepLinkVadParamsEntry::initWithMessageInfo(nullptr);
        APMPBSetString(*entry, DeepLinkVadParamsEntrySlot::Key, name);
        APMPBSetString(*entry, DeepLinkVadParamsEntrySlot::Value, *text);
        entries.emplace_back(std::move(entry));
    }
    return entries;
}

}  // namespace

std::shared_ptr<APMPBAdCampaignInfo> APMAdCampaignInfoFromDeepLink(const APMDeepLinkCampaign& campaign) {
    std::optional<std::string> vclid = textOf(campaign.parameters.find("vclid"));
    std::optional<std::string> vbraid = textOf(campaign.parameters.find("vbraid"));
    APMPBArray entries = vadParamsEntries(campaign.parameters);
    if (!vclid && !vbraid && entries.empty()) {
        return nullptr;
    }
    auto info = APMPBAdCampaignInfo::initWithMessageInfo(nullptr);
    APMPBSetInt64(*info, AdCampaignInfoSlot::CampaignTimestamp, apm_millisecondsFromSeconds(campaign.timestamp));
    APMPBSetString(*info, AdCampaignInfoSlot::Vclid, vclid);
    APMPBSetString(*info, AdCampaignInfoSlot::Vbraid, vbraid);
    APMPBSetString(*info, AdCampaignInfoSlot::VadSource, textOf(campaign.parameters.find("vad_source")));
    if (!entries.empty()) {
        APMPBSetArray(*info, AdCampaignInfoSlot::DeepLinkVadParams, entries);
    }
    if (campaign.linkURL) {
        APMPBSetString(*info, AdCampaignInfoSlot::DeepLinkURL, APMURLWithoutQueryAndFragment(*campaign.linkURL));
    }
    return info;
}

std::shared_ptr<APMPBAdCampaignInfo> APMAdCampaignInfoFromVbraidProperty(const APMUserAttribute& vbraid) {
    auto info = APMPBAdCampaignInfo::initWithMessageInfo(nullptr);
    APMPBSetInt64(*info, AdCampaignInfoSlot::CampaignTimestamp,
                  apm_millisecondsFromSeconds(vbraid.lastSetTimestamp()));
    APMPBSetString(*info, AdCampaignInfoSlot::Vbraid, textOf(&vbraid.value()));
    return info;
}

void APMSetBundleAdCampaignInfo(APMPBMeasurementBundle& bundle, std::span<const std::uint8_t> persistedBuffer) {
    if (persistedBuffer.empty()) {
        return;
    }
    if (auto info = APMPBAdCampaignInfo::initWithBuffer(persistedBuffer)) {
        APMPBSetMessage(bundle, MeasurementBundleSlot::AdCampaignInfo, info.get());
    }
}

std::string APMURLWithoutQueryAndFragment(std::string_view url) {
    return std::string(url.substr(0, url.find_first_of("?#")));
}
