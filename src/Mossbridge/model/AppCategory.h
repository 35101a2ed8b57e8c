#pragma once
// What kind of application a pet belongs to. The raw values are persisted and
// shown to the user; the category steers calendar monitoring and pet
// behaviour. A category that was never stored is inferred from the
// application's bundle identifier and name.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace Mossbridge {

enum class AppCategory { music, calendar, chat, work, browser, design, notes, system, other };

// All nine, in declaration order.
inline constexpr std::array<AppCategory, 9> allAppCategories = {
    AppCategory::music,   AppCategory::calendar, AppCategory::chat,   AppCategory::work,  AppCategory::browser,
    AppCategory::design,  AppCategory::notes,    AppCategory::system, AppCategory::other,
};

// "Music", "Calendar", "Chat", "Work", "Browser", "Design", "Notes", "System", "Other".
std::string_view rawValue(AppCategory category);
// Exact, case-sensitive match of a raw value; anything else gives none.
[[nodiscard]] std::optional<AppCategory> appCategoryFromRawValue(std::string_view raw);

// Infers the category from lower-cased plain substring tests (no word
// boundaries: "arc" matches inside "search"); never fails, `other` when
// nothing matches.
AppCategory inferCategory(std::string_view bundleIdentifier, std::string_view appName);

}  // namespace Mossbridge
