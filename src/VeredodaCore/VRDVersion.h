#pragma once
// The version of the Veredoda core library, shown in every logger line.

inline constexpr const char* kVRDVersion = "12.18.0";
