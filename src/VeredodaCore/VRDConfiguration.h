#pragma once
// Process-wide configuration of the Veredoda libraries.

#include <memory>

#include "VeredodaCore/RADOdodavaziConfiguration.h"

class VRDConfiguration {
public:
    static VRDConfiguration& sharedInstance();
    // The one analytics configuration, the same object on every call.
    std::shared_ptr<RADOdodavaziConfiguration> analyticsConfiguration() const { return analyticsConfiguration_; }

private:
    VRDConfiguration();
    const std::shared_ptr<RADOdodavaziConfiguration> analyticsConfiguration_;
};
