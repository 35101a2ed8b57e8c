// Version fields of the identity: the library's version and the numbers of
// the application's bundle version.

#include <cstdint>
#include <limits>

#include "measurement/interface/APMIdentity.h"
#include "measurement/storage/APMMonitor.h"

namespace {

constexpr std::string_view kLibraryBuildVersion = "121800000";

bool isDigit(char character) { return character >= '0' && character <= '9'; }

// The digits' value, saturating at the largest 64-bit integer.
std::int64_t integerOfDigits(std::string_view digits) {
    std::int64_t value = 0;
    for (char digit : digits) {
        const int next = digit - '0';
        if (value > (std::numeric_limits<std::int64_t>::max() - next) / 10) return std::numeric_limits<std::int64_t>::max();
        value = value * 10 + next;
    }
    return value;
}

}  // namespace

std::int64_t APMIdentity::varUradazaduroLibraryVersion() {
    if (kLibraryBuildVersion.size() < 4) return 0;
    return integerOfDigits(kLibraryBuildVersion.substr(0, kLibraryBuildVersion.size() - 3));
}

std::vector<std::int64_t> APMIdentity::numericFieldsFromAppVersionNumeric(const std::string& version) {
    std::vector<std::int64_t> fields;
    std::size_t start = 0;
    while (start <= version.size()) {
        std::size_t end = version.find('.', start);
        if (end == std::string::npos) end = version.size();
        const std::string_view component(version.data() + start, end - start);
        start = end + 1;
        if (component.empty()) continue;
        std::string digits;
        std::size_t pieces = 1;
        for (char character : component) {
            if (isDigit(character)) {
                digits += character;
            } else {
                ++pieces;
            }
        }
        if (pieces > 1) APMMonitor::shared()->log(5, 20002, "app version numeric has non-numeric characters");
        fields.push_back(integerOfDigits(digits));
    }
    return fields;
}
