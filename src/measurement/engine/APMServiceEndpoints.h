#pragma once
// Where the engine's services live, and the checks that keep what the
// server or the configuration says from reaching a request unchecked.
//
// The hosts are deployment values of the options property list
// ("VadovaService-Info"): each is a base URL, "https://host[:port]" (plain
// "http://" only for a loopback host, so that tests can run a local
// server; the rule is APMParseServiceURL's). A value that is missing or
// fails that rule leaves the service without a URL: nothing is sent to it.

#include <cstddef>
#include <optional>
#include <string>

#include "measurement/interface/APMServiceURL.h"

struct VRDOptions;

struct APMServiceEndpoints {
    std::optional<std::string> uploadBaseURL;
    std::optional<std::string> alternateUploadBaseURL;  // used when the app-data consent status is 3
    std::optional<std::string> configBaseURL;
    std::optional<std::string> deepLinkBaseURL;  // the deferred deep-link service

    // From the options file read through VRDOptions; all empty when the file
    // is missing or unreadable.
    static APMServiceEndpoints fromDefaultOptions();
    static APMServiceEndpoints fromOptions(const VRDOptions& options);
};

// Values that come from a server answer or from the configuration and go
// into a later request header: refused when longer than this or when they
// hold CR, LF or NUL.
inline constexpr std::size_t kAPMMaxHeaderValueLength = 1024;
bool APMIsSafeHeaderValue(const std::string& value);

// Percent-encodes all but the characters a URL path allows.
std::string APMPercentEncodePath(const std::string& text);
