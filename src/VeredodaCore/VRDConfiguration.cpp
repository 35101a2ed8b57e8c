#include "VeredodaCore/VRDConfiguration.h"

VRDConfiguration::VRDConfiguration() : analyticsConfiguration_(std::make_shared<RADOdodavaziConfiguration>()) {}

VRDConfiguration& VRDConfiguration::sharedInstance() {
    static VRDConfiguration configuration;
    return configuration;
}
