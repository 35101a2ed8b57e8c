#include "measurement/messages/ExperimentRequest.h"

#include <algorithm>
#include <charconv>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageSlots.h"
#include "platform/core/Unicode.h"

namespace {

constexpr std::size_t kVersionSuffixLength = 3;

// The SDK's properties with the dynamic ones laid over them: a key keeps its
// first position and takes the dynamic value.
APMExperimentProperties mergedProperties(const APMExperimentSDKInfo& sdk) {
    APMExperimentProperties merged = sdk.customProperties;
    for (const auto& [key, value] : sdk.dynamicCustomProperties) {
        // `key` is captured explicitly: not every compiler captures a structured binding implicitly.
        auto existing = std::find_if(merged.begin(), merged.end(), [&key = key](const auto& entry) { return entry.first == key; });
        if (existing != merged.end()) {
            existing->second = value;
        } else {
            merged.emplace_back(key, value);
        }
    }
    return merged;
}

}  // namespace

std::int64_t APMExperimentClientVersion(std::string_view versionText) {
    if (versionText.size() <= kVersionSuffixLength) {
        return 0;
    }
    const std::string_view number = versionText.substr(0, versionText.size() - kVersionSuffixLength);
    std::int64_t version = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), version);
    return error == std::errc() ? version : 0;
}

std::shared_ptr<APMPBAppProperty> APMPBAppPropertyFromInfo(const APMExperimentAppInfo& info) {
    auto property = APMPBAppProperty::initWithMessageInfo(nullptr);
    if (!info.preferredLanguages.empty()) {
        APMPBSetString(*property, AppPropertySlot::Language, platform::toLowerCase(info.preferredLanguages.front()));
    }
    APMPBSetString(*property, AppPropertySlot::BundleID, info.bundleID);
    APMPBSetString(*property, AppPropertySlot::Platform, "macos");
    APMPBSetBool(*property, AppPropertySlot::FromAppStore, info.fromAppStore);
    APMPBSetInt64(*property, AppPropertySlot::ClientVersion, info.clientVersion);
    return property;
}

std::shared_ptr<APMPBClientProperty> APMPBClientPropertyFromSDKInfo(const APMExperimentSDKInfo& sdk,
                                                                    const std::string& fallbackDiversionKey,
                                                                    ExperimentLogger& logger) {
    const std::string& diversionKey = sdk.diversionKey.empty() ? fallbackDiversionKey : sdk.diversionKey;
    if (diversionKey.empty()) {
        logger.logWithLevel(1, 860001, "Diversion key is empty", std::nullopt);
        return nullptr;
    }
    auto property = APMPBClientProperty::initWithMessageInfo(nullptr);
    APMPBSetString(*property, ClientPropertySlot::DiversionID, diversionKey + "-" + sdk.name);
    APMPBSetString(*property, ClientPropertySlot::SDKName, sdk.name);
    APMPBSetString(*property, ClientPropertySlot::AppID, sdk.appID);
    APMPBSetInt64(*property, ClientPropertySlot::SDKVersion, sdk.version);
    APMPBArray customProperties;
    for (const auto& [key, value] : mergedProperties(sdk)) {
        auto entry = APMPBCustomProperty::initWithMessageInfo(nullptr);
        APMPBSetString(*entry, CustomPropertySlot::Key, key);
        APMPBSetString(*entry, CustomPropertySlot::Value, value);
        customProperties.emplace_back(std::move(entry));
    }
    if (!customProperties.empty()) {
        APMPBSetArray(*property, ClientPropertySlot::CustomProperties, customProperties);
    }
    return property;
}

std::shared_ptr<APMPBExperimentRequest> APMPBExperimentRequestWith(
    const APMPBAppProperty& appProperty, const std::vector<std::shared_ptr<APMPBClientProperty>>& clientProperties) {
    auto request = APMPBExperimentRequest::initWithMessageInfo(nullptr);
    APMPBArray made;
    for (const auto& property : clientProperties) {
        if (property != nullptr) {
            made.emplace_back(property);
        }
    }
    if (!made.empty()) {
        APMPBSetArray(*request, ExperimentRequestSlot::ClientProperties, made);
    }
    APMPBSetMessage(*request, ExperimentRequestSlot::AppProperty, &appProperty);
    return request;
}
