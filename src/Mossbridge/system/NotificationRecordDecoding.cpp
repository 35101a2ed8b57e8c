#include "Mossbridge/system/NotificationRecordDecoding.h"

#include <algorithm>
#include <array>
#include <set>
#include <string_view>

#include "platform/core/PropertyList.h"
#include "platform/core/Unicode.h"

namespace Mossbridge {

namespace {

constexpr std::size_t kMinimumRunBytes = 4;
constexpr std::size_t kMinimumRunCharacters = 3;
constexpr std::size_t kMaximumRunCharacters = 180;

// Class and key names that a keyed archive carries around the real text.
constexpr std::array<std::string_view, 11> kArchiveTokens = {
    "$archiver", "$objects", "$top",     "$version", "NS.keys",  "NS.objects",
    "NSObject",  "NSDictionary", "NSArray", "NSString", "NSMutable",
};

// Without NUL characters and trimmed of white space and line breaks.
std::string cleaned(std::string_view text) {
    std::string withoutNul;
    withoutNul.reserve(text.size());
    for (const char c : text) {
        if (c != '\0') withoutNul += c;
    }
    return platform::trimWhitespaceAndNewlines(withoutNul);
}

// The cleaned string under `key` of `dictionary`, when it is a string with
// something left after cleaning.
std::optional<std::string> cleanedText(const platform::PropertyValue& dictionary, const char* key) {
    const platform::PropertyValue* value = dictionary.find(key);
    if (!value || !value->asString()) return std::nullopt;
    std::string text = cleaned(*value->asString());
    if (text.empty()) return std::nullopt;
    return text;
}

bool containsArchiveToken(std::string_view text) {
    return std::any_of(kArchiveTokens.begin(), kArchiveTokens.end(),
                       [&](std::string_view token) { return text.find(token) != std::string_view::npos; });
}

std::optional<AppNotificationItem> fromPrintableText(std::int64_t recordID, double deliveredDate,
                                                     const std::uint8_t* bytes, std::size_t size,
                                                     const std::string& appName) {
    const auto texts = printableTextRuns(bytes, size);
    if (texts.empty()) return std::nullopt;
    return AppNotificationItem{recordID, appName, std::nullopt, texts.front(), deliveredDate};
}

}  // namespace

std::optional<AppNotificationItem> decodeNotificationRecordData(std::int64_t recordID, double deliveredDate,
                                                                const std::uint8_t* bytes, std::size_t size,
                                                                const std::string& appName) {
    const auto payload = size > 0 ? platform::parsePropertyList(bytes, size) : std::nullopt;
    const platform::PropertyValue* request = payload && payload->asDictionary() ? payload->find("req") : nullptr;
    if (!request || !request->asDictionary()) {
        return fromPrintableText(recordID, deliveredDate, bytes, size, appName);
    }
    const std::string title = cleanedText(*request, "titl").value_or(appName);
    const std::optional<std::string> subtitle = cleanedText(*request, "subt");
    const std::string body = cleanedText(*request, "body").value_or(subtitle.value_or(title));
    if (body.empty()) return std::nullopt;
    return AppNotificationItem{recordID, title, subtitle, body, deliveredDate};
}

std::vector<std::string> printableTextRuns(const std::uint8_t* bytes, std::size_t size) {
    std::vector<std::string> runs;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= size; ++i) {
        const bool printable = i < size && bytes[i] >= 0x20 && bytes[i] <= 0x7E;
        if (printable) continue;
        if (i - start >= kMinimumRunBytes) runs.emplace_back(reinterpret_cast<const char*>(bytes + start), i - start);
        start = i + 1;
    }

    std::vector<std::string> texts;
    std::set<std::string> taken;
    for (const auto& run : runs) {
        std::string text = cleaned(run);
        if (text.size() < kMinimumRunCharacters || containsArchiveToken(text)) continue;
        if (!taken.insert(text).second) continue;
        texts.push_back(text.substr(0, kMaximumRunCharacters));  // ASCII: bytes are characters
    }
    return texts;
}

}  // namespace Mossbridge
