#include "measurement/engine/APMServiceEndpoints.h"

#include <charconv>

#include "VeredodaCore/VRDOptions.h"

namespace {

bool isDigits(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// 127.0.0.0/8 written as four decimal octets, "localhost" or "[::1]": the
// only hosts that may be reached without TLS.
bool isStrictLoopbackHost(const std::string& host) {
    if (host == "localhost" || host == "[::1]") return true;
    int octets = 0;
    std::size_t start = 0;
    int first = -1;
    while (start <= host.size()) {
        std::size_t dot = host.find('.', start);
        if (dot == std::string::npos) dot = host.size();
        const std::string part = host.substr(start, dot - start);
        if (!isDigits(part) || part.size() > 3) return false;
        int value = 0;
        std::from_chars(part.data(), part.data() + part.size(), value);
        if (value > 255) return false;
        if (octets == 0) first = value;
        ++octets;
        start = dot + 1;
        if (dot == host.size()) break;
    }
    return octets == 4 && first == 127;
}

bool isHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

std::optional<std::string> acceptable(const std::optional<std::string>& value) {
    if (!value || !APMParseServiceURL(*value)) return std::nullopt;
    return value;
}

}  // namespace

APMServiceEndpoints APMServiceEndpoints::fromDefaultOptions() {
    const std::optional<VRDOptions> options = VRDOptions::defaultOptions();
    if (!options) return {};
    return fromOptions(*options);
}

APMServiceEndpoints APMServiceEndpoints::fromOptions(const VRDOptions& options) {
    APMServiceEndpoints endpoints;
    endpoints.uploadBaseURL = acceptable(options.measurementUploadURL);
    endpoints.alternateUploadBaseURL = acceptable(options.measurementAlternateUploadURL);
    endpoints.configBaseURL = acceptable(options.measurementConfigURL);
    endpoints.deepLinkBaseURL = acceptable(options.deferredDeepLinkURL);
    return endpoints;
}

std::string APMServiceURL::text() const {
    std::string url = scheme + "://" + host;
    if (!port.empty()) url += ":" + port;
    return url + rest;
}

std::optional<APMServiceURL> APMParseServiceURL(const std::string& url) {
    for (unsigned char c : url) {
        if (c <= 0x20 || c == 0x7f) return std::nullopt;
    }
    APMServiceURL parsed;
    std::string remainder;
    if (url.rfind("https://", 0) == 0) {
        parsed.scheme = "https";
        remainder = url.substr(8);
    } else if (url.rfind("http://", 0) == 0) {
        parsed.scheme = "http";
        remainder = url.substr(7);
    } else {
        return std::nullopt;
    }
    const std::size_t end = remainder.find_first_of("/?#");
    std::string authority = remainder.substr(0, end);
    parsed.rest = end == std::string::npos ? std::string() : remainder.substr(end);
    if (authority.find('@') != std::string::npos) return std::nullopt;
    if (authority.rfind("[", 0) == 0) {
        const std::size_t close = authority.find(']');
        if (close == std::string::npos) return std::nullopt;
        parsed.host = authority.substr(0, close + 1);
        authority = authority.substr(close + 1);
        if (!authority.empty() && authority[0] != ':') return std::nullopt;
        if (!authority.empty()) parsed.port = authority.substr(1);
        if (parsed.host != "[::1]") return std::nullopt;  // no other literal addresses
    } else {
        const std::size_t colon = authority.find(':');
        parsed.host = authority.substr(0, colon);
        if (colon != std::string::npos) parsed.port = authority.substr(colon + 1);
        if (parsed.host.empty()) return std::nullopt;
        for (char c : parsed.host) {
            if (!isHostCharacter(c)) return std::nullopt;
        }
    }
    if (!parsed.port.empty() || authority.find(':') != std::string::npos) {
        if (!isDigits(parsed.port) || parsed.port.size() > 5) return std::nullopt;
        int port = 0;
        std::from_chars(parsed.port.data(), parsed.port.data() + parsed.port.size(), port);
        if (port < 1 || port > 65535) return std::nullopt;
    }
    if (parsed.scheme == "http" && !isStrictLoopbackHost(parsed.host)) return std::nullopt;
    return parsed;
}

bool APMIsSafeHeaderValue(const std::string& value) {
    if (value.size() > kAPMMaxHeaderValueLength) return false;
    return value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

std::string APMPercentEncodePath(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    static const std::string kAllowed = "-._~!$&'()*+,;=:@/";
    std::string encoded;
    for (unsigned char c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           kAllowed.find(static_cast<char>(c)) != std::string::npos;
        if (plain) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 0xF];
        }
    }
    return encoded;
}
