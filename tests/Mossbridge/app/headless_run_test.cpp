// The run on the in-memory desktop: its options, the shipped scenario on a
// virtual clock (performance lines, screen pictures with the pets at their
// stored frames) and bad input that stops it with one line.

#include "Mossbridge/app/HeadlessRun.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "CoordinatorFixture.h"
#include "Mossbridge/model/AssignmentStore.h"
#include "Mossbridge/model/PetKind.h"
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

    // Runs the application; `errors` gets what it wrote to standard error,
    // `diagnostics` (when given) what it wrote to standard output.
    int run(const HeadlessOptions& options, std::string& errors, std::string* diagnostics = nullptr) {
        int status = -1;
        std::string out;
        errors = capturedErrors(
            [&] { out = captured([&] { status = runHeadless(options, testpaths::binaryDir() / "bin"); }); });
        if (diagnostics) *diagnostics = out;
        return status;
    }
};

TEST_F(HeadlessRun, TheShippedScenarioLogsItsStartAndPassesAndPicturesThePetsAtTheirStoredFrames) {
    setenv("MOSSBRIDGE_PERF_LOGS", "1", 1);
    const HeadlessOptions options = shippedScenario();
    std::string errors, output;
    ASSERT_EQ(run(options, errors, &output), 0) << errors;
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

// The chat's pet (stored at 1240, 420, 92 x 104) announces the record that
// arrives three seconds in: its bubble stands above the pet, where nothing
// was drawn before.
TEST_F(HeadlessRun, TheShippedScenarioAnnouncesANotificationThatArrivesDuringTheRun) {
    HeadlessOptions options = shippedScenario();
    options.seconds = 12;
    std::string output;
    ASSERT_EQ(run(options, output), 0) << output;
    std::vector<int> drawnAbovePet;
    for (int i = 1; i <= 12; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "screen-%04d.png", i);
        const auto picture = platform::Bitmap::loadPng(*options.snapshots / name);
        ASSERT_TRUE(picture) << name;
        const std::uint32_t desktop = picture->pixel(250, 450);
        int drawn = 0;
        for (int y = 900 - (524 + 80); y < 900 - 524; ++y)
            for (int x = 1140; x < 1440; ++x) drawn += picture->pixel(x, y) != desktop;
        drawnAbovePet.push_back(drawn);
    }
    EXPECT_EQ(drawnAbovePet.front(), 0);
    EXPECT_GT(*std::max_element(drawnAbovePet.begin(), drawnAbovePet.end()), 2000)
        << ::testing::PrintToString(drawnAbovePet);
}

TEST_F(HeadlessRun, BadInputStopsWithOneLineAndAnError) {
    const fs::path scenario = platform::temporaryDirectory() / "bad.json";
    std::ofstream(scenario) << R"({"applications": [{"bundleIdentifier": "a", "pid": "five"}]})";
    HeadlessOptions options = shippedScenario();
    options.scenario = scenario;
    std::string output;
    std::string diagnostics;
    EXPECT_EQ(run(options, output, &diagnostics), 2);
    EXPECT_EQ(diagnostics, "");
    EXPECT_EQ(occurrences(output, "\n"), 1) << output;
    EXPECT_NE(output.find("Mossbridge: scenario " + scenario.string() + ": applications[0].pid"), std::string::npos)
        << output;

    options.resources = platform::temporaryDirectory() / "no-resources";
    EXPECT_EQ(run(options, output), 2);
    EXPECT_EQ(output, "Mossbridge: no resources folder at " + options.resources->string() +
                          " (from --resources); set MOSSBRIDGE_RESOURCES or pass --resources DIR\n");
}

// A run starts by removing the pictures of an earlier one, by the names it
// gives them, and leaves every other file in the folder.
TEST_F(HeadlessRun, OnlyThePicturesOfAnEarlierRunAreRemoved) {
    HeadlessOptions options = shippedScenario();
    options.seconds = 0.25;
    options.snapshots = platform::temporaryDirectory() / "shared-pictures";
    const struct {
        const char* name;
        bool ours;
    } files[] = {
        {"screen-0002.png", true},      {"screen-10000.png", true},  {"screen-1.png", false},
        {"screen-123.png", false},      {"screen-abcd.png", false},  {"screen-.png", false},
        {"screen-0001.png.bak", false}, {"screen-00x1.png", false},  {"notes-0001.png", false},
    };
    fs::create_directories(*options.snapshots);
    for (const auto& file : files) std::ofstream(*options.snapshots / file.name) << "earlier";
    std::string errors;
    ASSERT_EQ(run(options, errors), 0) << errors;
    for (const auto& file : files) EXPECT_EQ(fs::exists(*options.snapshots / file.name), !file.ours) << file.name;
}

// Each bad input names what is wrong in one line. The sprite sheets are the
// one input a run can do without: it goes on after its line.
TEST_F(HeadlessRun, EachBadInputIsNamedInOneLine) {
    const fs::path folder = platform::temporaryDirectory() / "bad-inputs";
    const fs::path bareResources = folder / "resources-without-sheets";
    fs::create_directories(bareResources);
    fs::copy(testpaths::binaryDir() / "resources", bareResources, fs::copy_options::recursive);
    for (const auto& entry : fs::directory_iterator(bareResources)) {
        if (entry.path().extension() == ".png") fs::remove(entry.path());
    }
    const auto screen = [](const std::string& frame, const std::string& scale) {
        return R"({"screens": [{"frame": )" + frame + R"(, "backingScaleFactor": )" + scale + "}]}";
    };
    const std::string normalFrame = R"({"x": 0, "y": 0, "width": 800, "height": 600})";
    const std::size_t sheets = spriteSheetNames().size();
    const fs::path pictures = folder / "pictures";
    const std::vector<std::string> onePicture = {"--snapshot-interval", "1", "--snapshots", pictures.string()};
    const struct {
        const char* name;
        std::string scenario;  // empty: the shipped one
        std::vector<std::string> arguments;
        int status;
        std::string line;  // empty: a run that goes on, whatever it says
        std::pair<int, int> picture = {};  // the size of the one picture taken, if any
    } cases[] = {
        {"negative screen", screen(R"({"x": 0, "y": 0, "width": -5, "height": 0})", "1"), {}, 2,
         "screens[0].frame.width: must be positive"},
        {"flat screen", screen(R"({"x": 0, "y": 0, "width": 5, "height": 0})", "1"), {}, 2,
         "screens[0].frame.height: must be positive"},
        {"wide screen", screen(R"({"x": 0, "y": 0, "width": 100000, "height": 600})", "1"), {}, 2,
         "screens[0].frame.width: out of range (up to 16384)"},
        {"tall screen", screen(R"({"x": 0, "y": 0, "width": 800, "height": 1e308})", "1"), {}, 2,
         "screens[0].frame.height: out of range (up to 16384)"},
        {"huge visible frame",
         R"({"screens": [{"frame": )" + normalFrame +
             R"(, "visibleFrame": {"x": 0, "y": 0, "width": 16385, "height": 600}}]})",
         {}, 2, "screens[0].visibleFrame.width: out of range (up to 16384)"},
        {"huge scale", screen(normalFrame, "1e9"), {}, 2, "screens[0].backingScaleFactor: out of range (1 to 4)"},
        {"small scale", screen(normalFrame, "0.5"), {}, 2, "screens[0].backingScaleFactor: out of range (1 to 4)"},
        {"too many pixels", screen(R"({"x": 0, "y": 0, "width": 8192, "height": 300})", "4"), onePicture, 2,
         "screens[0].frame.width: out of range (up to 16384 pixels at backingScaleFactor 4)"},
        {"most pixels", screen(R"({"x": 0, "y": 0, "width": 4096, "height": 300})", "4"), onePicture, 0, "",
         {16384, 1200}},
        {"huge pid", R"({"applications": [{"pid": 1e30}]})", {}, 2, "applications[0].pid: out of range"},
        {"fractional pid", R"({"applications": [{"pid": 2.5}]})", {}, 2, "applications[0].pid: expected an integer"},
        {"folder as scenario", "", {"--scenario", folder.string()}, 2, folder.string() + ": is a folder"},
        {"tiny interval", "", {"--snapshot-interval", "1e-9"}, 2,
         "--snapshot-interval: 0 or at least 0.05 seconds: 1e-9"},
        // As long as the shipped scenario's own run, so the analytics start is over before the end.
        {"no sprite sheets", "", {"--resources", bareResources.string(), "--seconds", "3"}, 0,
         "the resources folder " + bareResources.string() + " lacks " + std::to_string(sheets) + " of the " +
             std::to_string(sheets) + " sprite sheets ("},
    };
    for (const auto& c : cases) {
        fs::remove_all(pictures);
        std::vector<std::string> arguments = {"--seconds", "0.25", "--virtual-time", "--snapshot-interval", "0",
                                              "--resources", (testpaths::binaryDir() / "resources").string()};
        if (!c.scenario.empty()) {
            std::ofstream(folder / "scenario.json") << c.scenario;
            arguments.insert(arguments.end(), {"--scenario", (folder / "scenario.json").string()});
        }
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const ParsedArguments parsed = parseArguments(arguments);
        std::string output = parsed.error;
        int status = 2;
        if (parsed.options) status = run(*parsed.options, output);
        EXPECT_EQ(status, c.status) << c.name << ": " << output;
        if (!c.line.empty()) {
            EXPECT_EQ(occurrences(output, c.line), 1) << c.name << ": " << output;
        }
        const auto picture = platform::Bitmap::loadPng(pictures / "screen-0001.png");
        EXPECT_EQ(picture ? std::pair(picture->width(), picture->height()) : std::pair(0, 0), c.picture) << c.name;
        if (c.status == 2) {
            EXPECT_LE(occurrences(output, "\n"), 1) << c.name << ": " << output;
        }
    }
}

}  // namespace
}  // namespace Mossbridge::testing
