#pragma once
// The one rule for the base URLs of the services the measurement library
// talks to (upload, configuration, experiments, search-ad attribution,
// deferred deep links): TLS to a named host, or plain HTTP only to this
// machine's loopback, so that tests can run a local server.
//
// Accepted: "https://host[:port][/...]" and "http://loopback[:port][/...]",
// schemes in lower case, no whitespace or control characters anywhere, no
// user information. A host is dot-separated labels of letters, digits and
// hyphens with no empty label (so no trailing dot); a host whose last label
// is a number must be four decimal octets without leading zeros (decimal,
// hexadecimal, octal and shortened IPv4 forms are refused, since resolvers
// read them as other addresses). The only bracketed literal is "[::1]". A
// port is 1 to 65535 in decimal digits. Loopback is "localhost", "[::1]" or
// 127.0.0.0/8 as four octets.

#include <optional>
#include <string>

// The parts of an accepted URL.
struct APMServiceURL {
    std::string scheme;  // "https", or "http" for a loopback host
    std::string host;
    std::string port;    // empty when none was given
    std::string rest;    // path, query and fragment as given, possibly empty

    std::string text() const;
};

// None unless `url` follows the rule above.
[[nodiscard]] std::optional<APMServiceURL> APMParseServiceURL(const std::string& url);

// The place (scheme, host, port) of an accepted `baseURL` with the service's
// own `path`: a path, query or fragment of the base is not the service's, and
// appending to them would make another URL. None unless `baseURL` is accepted.
[[nodiscard]] std::optional<std::string> APMServiceURLWithPath(const std::string& baseURL, const std::string& path);
