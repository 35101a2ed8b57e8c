#pragma once
// The fixed maps from public to internal names of events, event parameters
// and user properties (built once, immutable), and the display names that
// log lines use for names.

#include <map>
#include <string>

// Public event name to internal name ("screen_view" -> "_vs").
const std::map<std::string, std::string>& APMPublicToInternalEventNameMap();
// The same pairs reversed; "_cmp" reads back as "veredoda_campaign".
const std::map<std::string, std::string>& APMInternalToPublicEventNameMap();
// Public event-parameter name to internal name ("screen_name" -> "_sn").
const std::map<std::string, std::string>& APMParameterInternalNames();
// Public user-property name to internal name ("first_open_time" -> "_fot");
// its keys are the reserved public user-property names.
const std::map<std::string, std::string>& APMUserPropertyInternalNames();

// Names for log lines: in debug mode an internal name that has a public twin
// reads "public (internal)"; otherwise the name as it is.
std::string APMEventDisplayName(const std::string& name);
std::string APMParameterDisplayName(const std::string& name);
std::string APMUserPropertyDisplayName(const std::string& name);
