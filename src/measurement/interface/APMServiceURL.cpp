#include "measurement/interface/APMServiceURL.h"

std::optional<std::string> APMServiceURLWithPath(const std::string& baseURL, const std::string& path) {
    auto service = APMParseServiceURL(baseURL);
    if (!service) return std::nullopt;
    service->rest = path;
    return service->text();
}
