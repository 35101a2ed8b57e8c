#pragma once
// Names of the consent enumerations that the configuration and the consent
// settings share: type 1 "ad_storage", 2 "analytics_storage",
// 3 "ad_user_data", 4 "ad_personalization"; status 1 "granted", 2 "denied".
// Any other code is the empty name.

#include <cstdint>
#include <string>

std::string APMConsentTypeString(std::int32_t code);
std::string APMConsentStatusString(std::int32_t code);
