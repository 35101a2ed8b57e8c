#pragma once
// What a ConsentConfig says, as name maps: consent type name to status name
// (defaults, and the regional defaults of `enforced_defaults`), consent type
// name to the type it is delegated to, the set of core platform services and
// the DMA-region flag. Entries apply in wire order, so a later entry for a
// type replaces an earlier one; a code without a name maps under or to "".

#include <map>
#include <set>
#include <string>

#include "measurement/messages/APMPBMessages.h"

struct APMConsentConfigMaps {
    std::map<std::string, std::string> defaults;
    std::map<std::string, std::string> delegations;
    std::map<std::string, std::string> regionalDefaults;
    std::set<std::string> corePlatformServices;
    bool isDMARegion = false;  // false when the flag is absent
};

APMConsentConfigMaps APMConsentConfigMapsFromMessage(const APMPBConsentConfig& consentConfig);
