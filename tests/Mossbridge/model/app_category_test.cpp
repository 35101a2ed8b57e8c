#include "Mossbridge/model/AppCategory.h"

#include <gtest/gtest.h>

#include "TestNames.h"

namespace Mossbridge {
namespace {

struct InferenceCase {
    const char* bundle;
    const char* name;
    AppCategory expected;
};

class CategoryInference : public ::testing::TestWithParam<InferenceCase> {};

TEST_P(CategoryInference, Infers) {
    const auto& c = GetParam();
    EXPECT_EQ(rawValue(inferCategory(c.bundle, c.name)), rawValue(c.expected)) << c.bundle << " / " << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CategoryInference,
    ::testing::Values(
        // exact players, whatever the case
        InferenceCase{"com.apple.Music", "Anything", AppCategory::music},
        InferenceCase{"COM.SPOTIFY.CLIENT", "x", AppCategory::music},
        // each group, on bundle and on name
        InferenceCase{"org.example.a", "My Music Box", AppCategory::music},
        InferenceCase{"org.example.calendar", "x", AppCategory::calendar},
        InferenceCase{"com.apple.iCal", "Cal", AppCategory::calendar},
        InferenceCase{"com.flexibits.fantastical2", "x", AppCategory::calendar},
        InferenceCase{"org.example.slack", "x", AppCategory::chat},
        InferenceCase{"org.example.a", "Microsoft Teams", AppCategory::chat},
        InferenceCase{"org.example.a", "Arc", AppCategory::browser},
        InferenceCase{"org.example.a", "Figma", AppCategory::design},
        InferenceCase{"org.example.a", "TextEdit", AppCategory::notes},
        InferenceCase{"org.example.a", "Finder", AppCategory::system},
        InferenceCase{"org.example.a", "System Settings", AppCategory::system},
        InferenceCase{"com.apple.systempreferences", "Prefs", AppCategory::system},
        InferenceCase{"org.example.a", "iTerm", AppCategory::work},
        InferenceCase{"org.example.x", "Zzz", AppCategory::other},
        InferenceCase{"", "", AppCategory::other},
        // traps: the bundle-only needles are not tested on the name
        InferenceCase{"org.example.x", "iCal Sync", AppCategory::other},
        InferenceCase{"org.example.x", "My System Tool", AppCategory::other},
        InferenceCase{"org.example.com.apple.system", "x", AppCategory::other},
        // traps: plain substrings, no word boundaries
        InferenceCase{"org.example.search", "Finder", AppCategory::browser},
        InferenceCase{"org.example.x", "Password Keeper", AppCategory::work},
        InferenceCase{"org.example.x", "Barcode", AppCategory::browser},
        // traps: group order decides ties
        InferenceCase{"org.example.code", "Notes", AppCategory::notes},
        InferenceCase{"org.example.x", "Music Notes", AppCategory::music},
        InferenceCase{"org.example.calendar", "Slack", AppCategory::calendar},
        // the joining blank lets a two-word needle span bundle and name
        InferenceCase{"org.example.system", "settings", AppCategory::system},
        // lower-casing is Unicode-aware: the Kelvin sign folds to "k"
        InferenceCase{"org.example.x", "S\u212Aetch", AppCategory::design}),
    [](const auto& info) { return testnames::fromText(std::string(info.param.bundle) + " " + info.param.name); });

TEST(AppCategoryRawValue, ExactCaseSensitiveMatch) {
    ASSERT_EQ(allAppCategories.size(), 9u);
    const char* expected[] = {"Music", "Calendar", "Chat", "Work", "Browser", "Design", "Notes", "System", "Other"};
    for (std::size_t i = 0; i < allAppCategories.size(); ++i) {
        EXPECT_EQ(rawValue(allAppCategories[i]), expected[i]);
        EXPECT_EQ(appCategoryFromRawValue(expected[i]), allAppCategories[i]);
    }
    EXPECT_EQ(appCategoryFromRawValue("music"), std::nullopt);
    EXPECT_EQ(appCategoryFromRawValue("Music "), std::nullopt);
}

}  // namespace
}  // namespace Mossbridge
