#include "VeredodaCore/VRDLogger.h"

#include "VadovaUtilities/VULLogger.h"
#include "VeredodaCore/VRDVersion.h"

void VRDLoggerInitialize() {
    VULLoggerRegisterVersion(kVRDVersion);
}

void VRDLogWarning(const std::string& messageCode, const std::string& message) {
    VRDLoggerInitialize();
    VULLogBasic(VULLoggerLevel::Warning, kVRDLoggerSubsystem, kVRDLoggerCore, false, messageCode, message);
}
