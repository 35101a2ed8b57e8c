#pragma once
// What a class must implement to be started by the default app: the class
// registered under kVRDAnalyticsClassName in VRDClassRegistry "responds to
// startWithConfiguration:options:" when it implements this interface.

#include <memory>

#include "VeredodaCore/RADOdodavaziConfiguration.h"
#include "VeredodaCore/VRDClassRegistry.h"
#include "VeredodaCore/VRDOptions.h"

inline constexpr const char* kVRDAnalyticsClassName = "RADOdodavazi";

class VRDAnalyticsStarting : public virtual VRDRuntimeClass {
public:
    virtual void startWithConfiguration(const std::shared_ptr<RADOdodavaziConfiguration>& configuration,
                                        const VRDOptions& options) = 0;
};
