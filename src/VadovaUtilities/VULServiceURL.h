#pragma once
// The one rule for the URLs the analytics libraries send to: the base URLs
// of their services (upload, configuration, experiments, search-ad
// attribution, deferred deep links) and every redirect an answer asks the
// transport to follow. TLS to a named host, or plain HTTP only to this
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
struct VULServiceURL {
    std::string scheme;  // "https", or "http" for a loopback host
    std::string host;
    std::string port;    // empty when none was given
    std::string rest;    // path, query and fragment as given, possibly empty

    std::string text() const;
};

// None unless `url` follows the rule above.
[[nodiscard]] std::optional<VULServiceURL> VULParseServiceURL(const std::string& url);

// Whether a request to `fromURL` may follow a redirect to `toURL`: the target
// follows the rule above, and a request made over TLS never goes on without it.
[[nodiscard]] bool VULIsAcceptableRedirect(const std::string& fromURL, const std::string& toURL);
