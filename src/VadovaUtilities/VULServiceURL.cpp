#include "VadovaUtilities/VULServiceURL.h"

#include <charconv>
#include <string_view>
#include <vector>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (!isDigit(c)) return false;
    }
    return true;
}

bool isLabelCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c) || c == '-';
}

std::vector<std::string_view> labelsOf(std::string_view host) {
    std::vector<std::string_view> labels;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = host.find('.', start);
        labels.push_back(host.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
        if (dot == std::string_view::npos) return labels;
        start = dot + 1;
    }
}

// A label a resolver would read as a number: decimal digits, or "0x"
// followed by hexadecimal digits.
bool isNumericLabel(std::string_view label) {
    if (isDigits(label)) return true;
    if (label.size() < 2 || label[0] != '0' || (label[1] != 'x' && label[1] != 'X')) return false;
    for (char c : label.substr(2)) {
        if (!isDigit(c) && !((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

// The octets of four decimal labels of at most 255 without leading zeros.
std::optional<std::vector<int>> canonicalIPv4(const std::vector<std::string_view>& labels) {
    if (labels.size() != 4) return std::nullopt;
    std::vector<int> octets;
    for (std::string_view label : labels) {
        if (!isDigits(label) || label.size() > 3 || (label.size() > 1 && label[0] == '0')) return std::nullopt;
        int value = 0;
        std::from_chars(label.data(), label.data() + label.size(), value);
        if (value > 255) return std::nullopt;
        octets.push_back(value);
    }
    return octets;
}

// A host name or a canonical IPv4 address; `loopback` tells whether it is this machine.
bool isAcceptableHost(std::string_view host, bool& loopback) {
    if (host == "[::1]") {
        loopback = true;
        return true;
    }
    const std::vector<std::string_view> labels = labelsOf(host);
    for (std::string_view label : labels) {
        if (label.empty()) return false;
        for (char c : label) {
            if (!isLabelCharacter(c)) return false;
        }
    }
    if (isNumericLabel(labels.back())) {
        const auto octets = canonicalIPv4(labels);
        if (!octets) return false;
        loopback = octets->front() == 127;
        return true;
    }
    loopback = host == "localhost";
    return true;
}

bool isAcceptablePort(std::string_view port) {
    if (!isDigits(port) || port.size() > 5) return false;
    int value = 0;
    std::from_chars(port.data(), port.data() + port.size(), value);
    return value >= 1 && value <= 65535;
}

}  // namespace

std::string VULServiceURL::text() const {
    std::string url = scheme + "://" + host;
    if (!port.empty()) url += ":" + port;
    return url + rest;
}

bool VULIsAcceptableRedirect(const std::string& fromURL, const std::string& toURL) {
    const auto target = VULParseServiceURL(toURL);
    return target && (target->scheme == "https" || fromURL.starts_with("http://"));
}

std::optional<VULServiceURL> VULParseServiceURL(const std::string& url) {
    for (unsigned char c : url) {
        if (c <= 0x20 || c == 0x7f) return std::nullopt;
    }
    VULServiceURL parsed;
    std::string_view remainder(url);
    if (remainder.starts_with("https://")) {
        parsed.scheme = "https";
        remainder.remove_prefix(8);
    } else if (remainder.starts_with("http://")) {
        parsed.scheme = "http";
        remainder.remove_prefix(7);
    } else {
        return std::nullopt;
    }
    const std::size_t end = remainder.find_first_of("/?#");
    std::string_view authority = remainder.substr(0, end);
    if (end != std::string_view::npos) parsed.rest = std::string(remainder.substr(end));

    std::string_view host = authority;
    std::optional<std::string_view> port;
    if (authority.starts_with("[")) {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = authority.substr(0, close + 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty() && after[0] != ':') return std::nullopt;
        if (!after.empty()) port = after.substr(1);
    } else if (const std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    bool loopback = false;
    if (!isAcceptableHost(host, loopback)) return std::nullopt;
    if (port && !isAcceptablePort(*port)) return std::nullopt;
    if (parsed.scheme == "http" && !loopback) return std::nullopt;
    parsed.host = std::string(host);
    if (port) parsed.port = std::string(*port);
    return parsed;
}
