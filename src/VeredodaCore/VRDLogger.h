#pragma once
// The core library's lines on the shared logger, under the service
// "[VeredodaCore]" with message codes "I-COR" and six digits. Logging through
// here also registers the core version that starts every logger line.

#include <string>

inline constexpr const char* kVRDLoggerSubsystem = "com.vadova.veredoda.core";
inline constexpr const char* kVRDLoggerCore = "[VeredodaCore]";

// Makes the shared logger start its lines with the core version.
void VRDLoggerInitialize();

void VRDLogWarning(const std::string& messageCode, const std::string& message);
