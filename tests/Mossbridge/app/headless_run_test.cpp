// The run on the in-memory desktop: its options, the shipped scenario on a
// virtual clock (performance lines, screen pictures with the pets at their
// stored frames) and bad input that stops it with one line.

#include "Mossbridge/app/HeadlessRun.h"

#include <stdlib.h>

#include <fstream>

#include "CoordinatorFixture.h"
#include "Mossbridge/model/AssignmentStore.h"
#include "TestPaths.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/XdgPaths.h"
#include "platform/drawing/Bitmap.h"

namespace Mossbridge::testing {
namespace {

namespace fs = std::filesystem;

TEST(HeadlessArguments, OptionsAndTheirMistakes) {
    const auto parsed = parseArguments({"--headless", "--scenario", "s.json", "--seconds", "2.5", "--virtual-time",
                                        "--snapshots", "out", "--snapshot-interval", "0", "--resources", "r"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->scenario, fs::path("s.json"));
    EXPECT_EQ(parsed.options->seconds, 2.5);
    EXPECT_TRUE(parsed.options->virtualTime);
    EXPECT_EQ(parsed.options->snapshots, fs::path("out"));
    EXPECT_EQ(parsed.options->snapshotInterval, 0);
    EXPECT_EQ(parsed.options->resources, fs::path("r"));

    const struct {
        std::vector<std::string> arguments;
        const char* error;
    } mistakes[] = {
        {{"--seconds"}, "--seconds needs a value"},
        {{"--seconds", "0"}, "--seconds: not a positive number: 0"},
        {{"--seconds", "3s"}, "--seconds: not a positive number: 3s"},
        {{"--snapshot-interval", "-1"}, "--snapshot-interval: not a number of seconds: -1"},
        {{"--virtual-time"}, "--virtual-time needs --seconds"},
        {{"--frobnicate"}, "unknown option --frobnicate"},
    };
    for (const auto& mistake : mistakes) {
        const auto result = parseArguments(mistake.arguments);
        EXPECT_FALSE(result.options);
        EXPECT_EQ(result.error, mistake.error);
    }
}

class HeadlessRun : public ::testing::Test {
protected:
    HeadlessOptions shippedScenario() {
        HeadlessOptions options;
        options.resources = testpaths::binaryDir() / "resources";
        options.snapshots = platform::temporaryDirectory() / "screens";
        options.seconds = 3;
        options.virtualTime = true;
        return options;
    }

    int run(const HeadlessOptions& options, std::string& output) {
        int status = -1;
        output = captured([&] { status = runHeadless(options, testpaths::binaryDir() / "bin"); });
        return status;
    }
};

TEST_F(HeadlessRun, TheShippedScenarioLogsItsStartAndPassesAndPicturesThePetsAtTheirStoredFrames) {
    setenv("MOSSBRIDGE_PERF_LOGS", "1", 1);
    const HeadlessOptions options = shippedScenario();
    std::string output;
    ASSERT_EQ(run(options, output), 0) << output;
    EXPECT_NE(output.find("MossbridgePerf 0.000s app.start\n"), std::string::npos) << output;
    EXPECT_GE(occurrences(output, " refresh.total "), 2) << output;
    // The scenario's badges, read through the launch services tool's text.
    EXPECT_NE(output.find("Mossbridge: LaunchServices StatusLabel badges found [\"com.example.chat\": \"3\", "
                          "\"com.example.editor\": \"12\"]\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(occurrences(output, "lsappinfo failed to start"), 0) << output;

    // The last picture, taken at the end: the browser's pet stands at its
    // stored frame (80, 200, 92 x 104), and the desktop beside it is empty.
    const auto picture = platform::Bitmap::loadPng(*options.snapshots / "screen-0004.png");
    ASSERT_TRUE(picture);
    ASSERT_EQ(picture->height(), 900);
    const std::uint32_t desktop = picture->pixel(250, 450);
    const auto drawnIn = [&](int left, int top, int width, int height) {
        int drawn = 0;
        for (int y = top; y < top + height; ++y)
            for (int x = left; x < left + width; ++x) drawn += picture->pixel(x, y) != desktop;
        return drawn;
    };
    const int petTop = 900 - (200 + 104);
    EXPECT_GT(drawnIn(80, petTop, 92, 104), 92 * 104 / 10);
    EXPECT_EQ(drawnIn(200, petTop, 92, 104), 0);
}

TEST_F(HeadlessRun, AnUnreadableDefaultsFileIsMovedAsideInOneLineAndTheRunStartsWithDefaults) {
    const fs::path file = platform::userDefaultsDirectory() / "Mossbridge.plist";
    fs::create_directories(file.parent_path());
    const std::string noise(300, '\x9c');
    std::ofstream(file, std::ios::binary) << noise;
    platform::UserDefaults::resetSharedInstancesForTesting();
    HeadlessOptions options = shippedScenario();
    options.seconds = 0.5;
    std::string output;
    ASSERT_EQ(run(options, output), 0) << output;
    platform::UserDefaults::resetSharedInstancesForTesting();

    const std::string named = "Mossbridge: the user defaults file " + file.string() + " could not be read; moved it to ";
    ASSERT_EQ(occurrences(output, named + file.string() + ".unreadable-"), 1) << output;
    const std::size_t asideStart = output.find(named) + named.size();
    const fs::path aside = output.substr(asideStart, output.find(' ', asideStart) - asideStart);
    std::ifstream kept(aside, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), noise) << aside;
    EXPECT_TRUE(platform::UserDefaults("Mossbridge", file.parent_path()).object(AssignmentStore::defaultsKey));
}

TEST_F(HeadlessRun, BadInputStopsWithOneLineAndAnError) {
    const fs::path scenario = platform::temporaryDirectory() / "bad.json";
    std::ofstream(scenario) << R"({"applications": [{"bundleIdentifier": "a", "pid": "five"}]})";
    HeadlessOptions options = shippedScenario();
    options.scenario = scenario;
    std::string output;
    EXPECT_EQ(run(options, output), 2);
    EXPECT_EQ(occurrences(output, "\n"), 1) << output;
    EXPECT_NE(output.find("Mossbridge: scenario " + scenario.string() + ": applications[0].pid"), std::string::npos)
        << output;

    options.resources = platform::temporaryDirectory() / "no-resources";
    EXPECT_EQ(run(options, output), 2);
    EXPECT_EQ(output, "Mossbridge: no resources folder at " + options.resources->string() +
                          " (from --resources); set MOSSBRIDGE_RESOURCES or pass --resources DIR\n");
}

}  // namespace
}  // namespace Mossbridge::testing
