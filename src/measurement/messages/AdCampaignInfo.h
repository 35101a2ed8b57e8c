#pragma once
// The ad-campaign information that bundles carry (AdCampaignInfo): built
// from a deep link's campaign parameters or from an existing "_vbraid" user
// property, persisted as its encoded bytes, and attached to bundles.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "measurement/messages/APMPBMessages.h"
#include "measurement/storage/APMUserAttribute.h"
#include "measurement/storage/APMValue.h"

struct APMDeepLinkCampaign {
    APMParameters parameters;            // the link's campaign parameters, in order
    double timestamp = 0;                // campaign time, seconds since 1970
    std::optional<std::string> linkURL;  // the link; none when the link is not to be reported
};

// None when the parameters hold no "vclid", no "vbraid" and no "vad_"
// parameter with a value. Every "vad_" parameter (including "vad_source")
// becomes a DeepLinkVadParamsEntry; the link is reported without its query
// and fragment.
std::shared_ptr<APMPBAdCampaignInfo> APMAdCampaignInfoFromDeepLink(const APMDeepLinkCampaign& campaign);

// The information of an existing "_vbraid" property: its value as text and
// its set time in milliseconds.
std::shared_ptr<APMPBAdCampaignInfo> APMAdCampaignInfoFromVbraidProperty(const APMUserAttribute& vbraid);

// Sets field 79 of the bundle to the decoded persisted buffer; leaves the
// bundle unchanged for an empty buffer or one that does not decode.
void APMSetBundleAdCampaignInfo(APMPBMeasurementBundle& bundle, std::span<const std::uint8_t> persistedBuffer);

// `url` cut before its query ("?") or fragment ("#"), whichever comes first.
std::string APMURLWithoutQueryAndFragment(std::string_view url);
