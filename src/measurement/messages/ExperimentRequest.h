#pragma once
// Assembly of the experiment request: the application's AppProperty, one
// ClientProperty per registered SDK that has a diversion key, and the
// ExperimentRequest that carries them.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "measurement/messages/APMPBMessages.h"
#include "measurement/messages/ExperimentLogger.h"

// The experimentation client's version text.
inline constexpr std::string_view kAPMExperimentClientVersionText = "10000000";

// The version text without its last three characters, read as a number
// ("10000000" gives 10000); 0 for a text shorter than 4 characters or one
// that does not begin with a number.
std::int64_t APMExperimentClientVersion(std::string_view versionText);

struct APMExperimentAppInfo {
    std::vector<std::string> preferredLanguages;  // the user's, most preferred first
    std::optional<std::string> bundleID;
    bool fromAppStore = false;
    std::int64_t clientVersion = 0;
};

// Platform "macos", the first preferred language lower-cased (when there is
// one), the bundle identifier, the install source and the client version.
std::shared_ptr<APMPBAppProperty> APMPBAppPropertyFromInfo(const APMExperimentAppInfo& info);

using APMExperimentProperties = std::vector<std::pair<std::string, std::string>>;

// What a registered SDK declares about itself.
struct APMExperimentSDKInfo {
    std::string name;
    std::int64_t version = 0;
    std::optional<std::string> appID;
    std::string diversionKey;
    APMExperimentProperties customProperties;
    // Supplied by the SDK's delegate at request time; a key present in both
    // takes this value.
    APMExperimentProperties dynamicCustomProperties;
};

// None when neither the SDK nor `fallbackDiversionKey` (the install's) has a
// diversion key (860001, level 1). The diversion ID is "<key>-<SDK name>".
std::shared_ptr<APMPBClientProperty> APMPBClientPropertyFromSDKInfo(const APMExperimentSDKInfo& sdk,
                                                                    const std::string& fallbackDiversionKey,
                                                                    ExperimentLogger& logger);

// The request: the app property always; the client properties (null entries
// left out) only when at least one remains.
std::shared_ptr<APMPBExperimentRequest> APMPBExperimentRequestWith(
    const APMPBAppProperty& appProperty, const std::vector<std::shared_ptr<APMPBClientProperty>>& clientProperties);
