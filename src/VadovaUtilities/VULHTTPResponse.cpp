#include "VadovaUtilities/VULHTTPResponse.h"

#include <algorithm>
#include <cctype>

bool VULCaseInsensitiveLess::operator()(const std::string& left, const std::string& right) const {
    return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) < std::tolower(static_cast<unsigned char>(b));
    });
}

std::optional<std::string> VULHTTPResponse::valueForHTTPHeaderField(const std::string& name) const {
    const auto found = allHeaderFields.find(name);
    if (found == allHeaderFields.end()) return std::nullopt;
    return found->second;
}
