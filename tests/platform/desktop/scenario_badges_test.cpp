// The scenario's badge labels: read by bundle identifier, each naming an
// application of the scenario.

#include <gtest/gtest.h>

#include "platform/desktop/Scenario.h"

namespace platform {
namespace {

TEST(ScenarioBadgesTest, LabelsAreReadByBundleIdentifier) {
    const ScenarioLoad load = parseScenario(
        R"({"badges": {"com.example.chat": "3", "com.example.mail": "!"},
            "applications": [{"bundleIdentifier": "com.example.chat"}, {"bundleIdentifier": "com.example.mail"}]})",
        "/");
    ASSERT_TRUE(load.scenario) << load.error;
    EXPECT_EQ(load.scenario->badges,
              (std::map<std::string, std::string>{{"com.example.chat", "3"}, {"com.example.mail", "!"}}));
}

TEST(ScenarioBadgesTest, MistypedAndDanglingBadgesNameTheOffendingValue) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"badges": ["3"]})", "badges: expected an object"},
        {R"({"badges": {"com.example.chat": 3}, "applications": [{"bundleIdentifier": "com.example.chat"}]})",
         "badges.com.example.chat: expected a string"},
        {R"({"badges": {"com.example.nobody": "3"}})",
         "badges.com.example.nobody: no application has this bundle identifier"},
    };
    for (const auto& [text, expected] : cases) {
        const ScenarioLoad load = parseScenario(text, "/");
        EXPECT_FALSE(load.scenario) << text;
        EXPECT_EQ(load.error, expected) << text;
    }
}

}  // namespace
}  // namespace platform
