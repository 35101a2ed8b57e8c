#include "measurement/engine/APMServiceEndpoints.h"

#include "VeredodaCore/VRDOptions.h"

namespace {

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
