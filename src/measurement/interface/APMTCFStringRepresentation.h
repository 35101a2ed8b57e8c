#pragma once
// The text that identifies a TCF reading ("tcf_StringRepresentation"): items
// joined by ",", starting "_v_=2,isTCFDataEnabled=<0|1>", then each value
// that is present. Two readings with equal texts mean the same to the library.

#include <string>

class APMTCFData;

inline constexpr const char* kAPMTCFRepresentationVersionItem = "_v_=2";

std::string APMTCFStringRepresentation(const APMTCFData& data);
