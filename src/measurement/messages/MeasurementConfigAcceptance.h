#pragma once
// Accepting a fetched remote configuration: the body must decode into a
// MeasurementConfig that encodes again (else 23135) and belong to the
// engine's app (else 23136). The audience definitions are taken out of the
// accepted message, so the configuration that is stored never holds them;
// they go to the audience evaluator alone.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "measurement/messages/APMPBMessages.h"

struct APMAcceptedMeasurementConfig {
    std::shared_ptr<APMPBMeasurementConfig> config;          // without audiences
    std::vector<std::shared_ptr<APMPBAudience>> audiences;  // in wire order
};

// None, after logging the refusal (level 2), when the body is refused.
[[nodiscard]]
std::optional<APMAcceptedMeasurementConfig> APMAcceptMeasurementConfig(std::span<const std::uint8_t> body,
                                                                       const std::string& appID);
