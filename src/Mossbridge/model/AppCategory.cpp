#include "Mossbridge/model/AppCategory.h"

#include <vector>

#include "platform/core/Unicode.h"

namespace Mossbridge {

namespace {

enum class Haystack { both, bundleOnly, bundlePrefix };

struct InferenceRule {
    Haystack haystack;
    std::vector<std::string_view> needles;
    AppCategory category;
};

// Tried in order; the first needle that matches decides.
const InferenceRule inferenceRules[] = {
    {Haystack::both, {"music", "spotify"}, AppCategory::music},
    {Haystack::both, {"calendar"}, AppCategory::calendar},
    {Haystack::bundleOnly, {"ical", "fantastical"}, AppCategory::calendar},
    {Haystack::both, {"slack", "telegram", "discord", "messages", "whatsapp", "teams"}, AppCategory::chat},
    {Haystack::both, {"safari", "chrome", "firefox", "arc", "browser"}, AppCategory::browser},
    {Haystack::both, {"figma", "sketch", "photoshop", "illustrator"}, AppCategory::design},
    {Haystack::both, {"notes", "obsidian", "notion", "textedit"}, AppCategory::notes},
    {Haystack::both, {"finder", "system settings"}, AppCategory::system},
    {Haystack::bundlePrefix, {"com.apple.system"}, AppCategory::system},
    {Haystack::both,
     {"xcode", "code", "cursor", "terminal", "iterm", "jetbrains", "pages", "word", "excel"},
     AppCategory::work},
};

bool matches(const InferenceRule& rule, std::string_view needle, const std::string& bundle, const std::string& both) {
    switch (rule.haystack) {
        case Haystack::both: return both.find(needle) != std::string::npos;
        case Haystack::bundleOnly: return bundle.find(needle) != std::string::npos;
        case Haystack::bundlePrefix: return bundle.starts_with(needle);
    }
    return false;
}

}  // namespace

std::string_view rawValue(AppCategory category) {
    switch (category) {
        case AppCategory::music: return "Music";
        case AppCategory::calendar: return "Calendar";
        case AppCategory::chat: return "Chat";
        case AppCategory::work: return "Work";
        case AppCategory::browser: return "Browser";
        case AppCategory::design: return "Design";
        case AppCategory::notes: return "Notes";
        case AppCategory::system: return "System";
        case AppCategory::other: return "Other";
    }
    return "Other";
}

std::optional<AppCategory> appCategoryFromRawValue(std::string_view raw) {
    for (auto category : allAppCategories) {
        if (rawValue(category) == raw) return category;
    }
    return std::nullopt;
}

AppCategory inferCategory(std::string_view bundleIdentifier, std::string_view appName) {
    const std::string bundle = platform::toLowerCase(bundleIdentifier);
    const std::string both = bundle + " " + platform::toLowerCase(appName);

    if (bundle == "com.spotify.client" || bundle == "com.apple.music") return AppCategory::music;

    for (const auto& rule : inferenceRules) {
        for (auto needle : rule.needles) {
            if (matches(rule, needle, bundle, both)) return rule.category;
        }
    }
    return AppCategory::other;
}

}  // namespace Mossbridge
