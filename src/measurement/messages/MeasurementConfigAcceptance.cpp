#include "measurement/messages/MeasurementConfigAcceptance.h"

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"
#include "measurement/storage/APMMonitor.h"

std::optional<APMAcceptedMeasurementConfig> APMAcceptMeasurementConfig(std::span<const std::uint8_t> body,
                                                                       const std::string& appID) {
    std::shared_ptr<APMPBMeasurementConfig> config = APMPBMeasurementConfig::initWithBuffer(body);
    if (config == nullptr || !config->protoBuffer()) {
        APMMonitor::shared()->log(2, 23135, "Configuration data is invalid.");
        return std::nullopt;
    }
    if (APMPBGetString(*config, MeasurementConfigSlot::AppID) != appID) {
        APMMonitor::shared()->log(2, 23136, "Configuration does not have valid Vadova App ID.");
        return std::nullopt;
    }
    APMAcceptedMeasurementConfig accepted{config,
                                          APMPBGetMessages<APMPBAudience>(*config, MeasurementConfigSlot::Audiences)};
    APMPBClearField(*config, MeasurementConfigSlot::Audiences);
    return accepted;
}
