#pragma once
// The base URLs of the services the measurement library talks to (upload,
// configuration, experiments, search-ad attribution, deferred deep links)
// follow the networking layer's one rule for service URLs, which redirects
// are held to as well: see VULServiceURL.h.

#include <optional>
#include <string>

#include "VadovaUtilities/VULServiceURL.h"

// The parts of an accepted URL.
using APMServiceURL = VULServiceURL;

// None unless `url` follows the rule.
[[nodiscard]] inline std::optional<APMServiceURL> APMParseServiceURL(const std::string& url) {
    return VULParseServiceURL(url);
}

// The place (scheme, host, port) of an accepted `baseURL` with the service's
// own `path`: a path, query or fragment of the base is not the service's, and
// appending to them would make another URL. None unless `baseURL` is accepted.
[[nodiscard]] std::optional<std::string> APMServiceURLWithPath(const std::string& baseURL, const std::string& path);
