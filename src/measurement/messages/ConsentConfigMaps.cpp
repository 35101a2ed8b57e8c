#include "measurement/messages/ConsentConfigMaps.h"

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/ConsentNames.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"

namespace {

void putDefaults(const APMPBConsentConfig& config, int slot, std::map<std::string, std::string>& into) {
    for (const auto& entry : APMPBGetMessages<APMPBConsentDefaultEntry>(config, slot)) {
        into[APMConsentTypeString(APMPBGetInt32(*entry, ConsentDefaultEntrySlot::Type))] =
            APMConsentStatusString(APMPBGetInt32(*entry, ConsentDefaultEntrySlot::Status));
    }
}

}  // namespace

APMConsentConfigMaps APMConsentConfigMapsFromMessage(const APMPBConsentConfig& consentConfig) {
    APMConsentConfigMaps maps;
    maps.isDMARegion = APMPBGetBool(consentConfig, ConsentConfigSlot::DMARegion);
    putDefaults(consentConfig, ConsentConfigSlot::Defaults, maps.defaults);
    for (const auto& entry :
         APMPBGetMessages<APMPBConsentDelegationEntry>(consentConfig, ConsentConfigSlot::Delegations)) {
        maps.delegations[APMConsentTypeString(APMPBGetInt32(*entry, ConsentDelegationEntrySlot::Type))] =
            APMConsentTypeString(APMPBGetInt32(*entry, ConsentDelegationEntrySlot::DelegateType));
    }
    for (const auto& entry :
         APMPBGetMessages<APMPBCorePlatformServiceEntry>(consentConfig, ConsentConfigSlot::CorePlatformServices)) {
        if (auto name = APMPBGetString(*entry, CorePlatformServiceEntrySlot::Name)) {
            maps.corePlatformServices.insert(std::move(*name));
        }
    }
    putDefaults(consentConfig, ConsentConfigSlot::EnforcedDefaults, maps.regionalDefaults);
    return maps;
}
