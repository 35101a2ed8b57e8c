// Host modules reached through "require": settings, data providers and the
// program logger with its level mapping.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ProgramText.h"
#include "measurement/rules/APMPKeyValueStore.h"
#include "measurement/rules/APMPMessageLogger.h"
#include "measurement/rules/APMPObjectProvider.h"
#include "measurement/rules/APMPixieLogger.h"
#include "measurement/storage/APMMonitor.h"
#include "platform/core/UserDefaults.h"

namespace measurement::rules::testing {
namespace {

class Modules : public ::testing::Test {
protected:
    void SetUp() override {
        runtime.setModuleCreator(
            [this] {
                return std::make_shared<APMPKeyValueStore>(u"internal.remoteConfig", [this](const std::string& key) {
                    const auto found = settings.find(key);
                    return found == settings.end() ? std::nullopt : std::optional<std::string>(found->second);
                });
            },
            u"internal.remoteConfig");
        runtime.setModuleCreator(
            [] {
                return std::make_shared<APMPObjectProvider>(u"internal.appMetadata", [] {
                    return std::optional<platform::PropertyValue>(
                        platform::PropertyDictionary{{"platform", "macos"}, {"vaz_version", 121800LL}});
                });
            },
            u"internal.appMetadata");
        APMMonitor::Options options;
        options.launchArguments = {"-RADOdodavaziVerboseLoggingEnabled"};
        options.userDefaults = std::make_shared<platform::UserDefaults>(
            "monitor", std::filesystem::temp_directory_path() / "rules-modules-defaults");
        options.sink = [this](const std::string& line) { lines.push_back(line); };
        monitor = std::make_shared<APMMonitor>(options);
        runtime.setModuleCreator(
            [this] { return std::make_shared<APMPMessageLogger>(std::make_shared<APMPixieLogger>(monitor)); },
            u"internal.logger");
    }

    APMPRuntime runtime;
    std::map<std::string, std::string> settings{{"measurement.limit", "25"}};
    std::shared_ptr<APMMonitor> monitor;
    std::vector<std::string> lines;
};

TEST_F(Modules, RequireCachesModulesAndCreatorsThatMadeNothingAreAskedAgain) {
    int made = 0;
    runtime.setModuleCreator([&made]() -> ValuePtr { return ++made < 2 ? nullptr : std::make_shared<APMPKeyValueStore>(u"m", nullptr); },
                             u"flaky");
    EXPECT_EQ(runProgram(runtime, R"~((require "flaky"))~"), "error 15");
    EXPECT_EQ(runProgram(runtime, R"~((20 (require "flaky") (require "flaky")))~"), "true");
    EXPECT_EQ(made, 2);
    EXPECT_EQ(runProgram(runtime, R"~((require "later"))~"), "undefined");
    runtime.setModuleCreator([] { return std::make_shared<APMPKeyValueStore>(u"later", nullptr); }, u"later");
    EXPECT_EQ(runProgram(runtime, R"~((require "later"))~"), "undefined");
    EXPECT_EQ(runProgram(runtime, R"~((2 (require "internal.platform") "getVersion" (7)))~"), "0");
}

TEST_F(Modules, GetValueAnswersTheSettingOrTheFallbackUnchanged) {
    const struct {
        const char* program;
        const char* expected;
    } cases[] = {
        {R"~((2 (require "internal.remoteConfig") "getValue" (7 "measurement.limit" 5)))~", R"~("25")~"},
        {R"~((2 (require "internal.remoteConfig") "getValue" (7 "absent" 5)))~", "5"},
        {R"~((2 (require "internal.remoteConfig") "getValue" (7 "absent" (7 1))))~", "[1]"},
        {R"~((2 (require "internal.remoteConfig") "getValue" (7 "absent")))~", "error 9"},
        {R"~((52 "rc" (require "internal.remoteConfig")) (rc))~", "undefined"},
        {R"~((52 "meta" (require "internal.appMetadata")) (meta 1 (27)))~", R"~({platform:"macos",vaz_version:121800})~"},
    };
    for (const auto& c : cases) EXPECT_EQ(runProgram(runtime, c.program), c.expected) << c.program;
}

TEST_F(Modules, LogWritesProgramLinesToTheMonitor) {
    const struct {
        const char* program;
        const char* expectedLine;
    } cases[] = {
        {R"~((2 (require "internal.logger") "log" (7 "x")))~", "NOTICE I-ACS024005 x"},
        {R"~((2 (require "internal.logger") "log" (7 2 "m" "a" "b" "c" "d" "e")))~", "VERBOSE I-ACS024005 m, a, b, c"},
        {R"~((2 (2 (require "internal.logger") "unmonitored" (7)) "log" (7 6 "u")))~", "ERROR I-ACS024005 u"},
        {R"~((2 (2 (require "internal.logger") "silent" (7)) "log" (7 5 "s")))~", "WARNING I-ACS024005 s"},
    };
    for (const auto& c : cases) {
        lines.clear();
        EXPECT_EQ(runProgram(runtime, c.program), "undefined") << c.program;
        ASSERT_EQ(lines.size(), 1u) << c.program;
        EXPECT_NE(lines[0].find(c.expectedLine), std::string::npos) << lines[0];
    }
    lines.clear();
    EXPECT_EQ(runProgram(runtime, R"~((2 (require "internal.logger") "log" (7)))~"), "error 9");
    EXPECT_TRUE(lines.empty());
}

TEST(PixieLoggerLevels, ProgramLevelsMapToMonitorLevels) {
    const struct {
        std::int64_t level;
        bool silent;
        bool monitored;
        int expected;
    } cases[] = {
        {2, false, true, 8}, {3, true, false, 7}, {4, false, false, 6}, {5, true, false, 5},  {5, false, true, 4},
        {5, false, false, 3}, {6, true, true, 2}, {6, false, true, 1}, {6, false, false, 0}, {1, false, true, 6},
        {7, true, true, 6},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(APMPixieLogger::monitorLevel(c.level, c.silent, c.monitored), c.expected) << c.level;
    }
}

}  // namespace
}  // namespace measurement::rules::testing
