// The scenario loader and the in-memory desktop built from it: every
// section, defaults, consistency between the stand-ins, and malformed files
// rejected with the path of the offending value.

#include "platform/desktop/Scenario.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "TestPaths.h"
#include "platform/desktop/InMemoryDesktop.h"
#include "platform/core/XdgPaths.h"

namespace platform {
namespace {

const char* const kScenario = R"({
  "screens": [{"frame": {"x": 0, "y": 0, "width": 1440, "height": 900},
               "visibleFrame": {"x": 0, "y": 0, "width": 1440, "height": 875}},
              {"frame": {"x": 1440, "y": 0, "width": 1920, "height": 1080}, "backingScaleFactor": 1}],
  "accessibilityTrusted": true,
  "screenCaptureAllowed": true,
  "frontmost": "com.example.editor",
  "applications": [
    {"bundleIdentifier": "com.example.editor", "name": "Editor", "pid": 501,
     "bundleURL": "/Applications/Editor.app", "info": {"CFBundleDisplayName": "Editor Pro"},
     "accessibilityFailures": {"AXFrontmost": "cannotComplete"},
     "windows": [
       {"title": "Report", "number": 7001, "bounds": {"x": 10, "y": 20, "width": 800, "height": 600},
        "color": "#ff0000", "accessibilityFailures": {"AXRaise": "failure"}},
       {"title": "Palette", "layer": 3, "alpha": 0.5, "accessible": false},
       {"title": "Minimized", "onScreen": false, "windowServerName": null}
     ]},
    {"bundleIdentifier": "com.example.agent", "activationPolicy": "accessory"},
    {"bundleIdentifier": "com.example.installed", "name": "Installed", "running": false,
     "bundleURL": "/Applications/Installed.app", "openFailure": "No such file", "terminates": false}
  ]
})";

TEST(ScenarioTest, EverySectionIsRead) {
    const ScenarioLoad load = parseScenario(kScenario, "/");
    ASSERT_TRUE(load.scenario) << load.error;
    const Scenario& s = *load.scenario;
    ASSERT_EQ(s.screens.size(), 2u);
    EXPECT_EQ(s.screens[0].visibleFrame, (Rect{0, 0, 1440, 875}));
    EXPECT_EQ(s.screens[1].visibleFrame, s.screens[1].frame);  // defaults to the frame
    EXPECT_EQ(s.screens[1].backingScaleFactor, 1);
    EXPECT_TRUE(s.accessibilityTrusted);
    EXPECT_EQ(s.frontmostProcessIdentifier, 501);
    ASSERT_EQ(s.applications.size(), 3u);
    EXPECT_EQ(s.applications[1].installed.application.processIdentifier, 1001);  // numbered by position
    EXPECT_EQ(s.applications[1].installed.application.activationPolicy, ActivationPolicy::accessory);
    EXPECT_FALSE(s.applications[1].installed.application.localizedName);
    const auto& windows = s.applications[0].windows;
    EXPECT_EQ(windows[0].color, (Color{1, 0, 0, 1}));
    EXPECT_EQ(windows[1].number, 100u);  // unnumbered windows get free numbers
    EXPECT_EQ(windows[1].windowServerName, "Palette");
    EXPECT_FALSE(windows[2].windowServerName);
}

// Without a visibleFrame, the main screen loses the menu bar along its top,
// as a desktop reports it; other screens keep their whole frame.
TEST(ScenarioTest, ScreensVisibleFramesDefaultAsADesktopReportsThem) {
    struct Row {
        const char* screens;
        std::size_t index;
        Rect visibleFrame;
    };
    const Row rows[] = {
        {R"([{"frame": {"x": 0, "y": 0, "width": 800, "height": 600}}])", 0, {0, 0, 800, 576}},
        {R"([{"frame": {"x": 0, "y": 0, "width": 800, "height": 600},
              "visibleFrame": {"x": 0, "y": 0, "width": 800, "height": 600}}])", 0, {0, 0, 800, 600}},
        {R"([{"frame": {"x": 0, "y": 0, "width": 800, "height": 600}},
             {"frame": {"x": 800, "y": 0, "width": 640, "height": 480}}])", 1, {800, 0, 640, 480}},
    };
    for (const Row& row : rows) {
        const ScenarioLoad load = parseScenario(std::string("{\"screens\": ") + row.screens + "}", "/");
        ASSERT_TRUE(load.scenario) << load.error;
        EXPECT_EQ(load.scenario->screens.at(row.index).visibleFrame, row.visibleFrame) << row.screens;
    }
}

TEST(ScenarioTest, TheDesktopKeepsWorkspaceAccessibilityAndWindowListConsistent) {
    const InMemoryDesktop desktop = InMemoryDesktop::fromScenario(*parseScenario(kScenario, "/").scenario);
    EXPECT_EQ(desktop.workspace->runningApplications().size(), 2u);
    EXPECT_EQ(desktop.workspace->frontmostApplication()->bundleIdentifier, "com.example.editor");
    EXPECT_EQ(desktop.workspace->urlForApplication("com.example.installed"), "/Applications/Installed.app");
    EXPECT_EQ(desktop.workspace->bundleInfoDictionary("/Applications/Editor.app")->at("CFBundleDisplayName"),
              PropertyValue("Editor Pro"));
    EXPECT_FALSE(desktop.workspace->bundleInfoDictionary("/Applications/Nothing.app"));

    // Accessibility lists the accessible windows, handles from 1.
    const auto windows = desktop.accessibility->copyAttributeValue(Accessibility::applicationElement(501), kAXWindowsAttribute);
    ASSERT_TRUE(windows.value);
    EXPECT_EQ(std::get<AccessibilityElementList>(*windows.value),
              (AccessibilityElementList{AccessibilityElement{501, 1}, AccessibilityElement{501, 2}}));
    EXPECT_EQ(desktop.accessibility->copyAttributeValue({501, 2}, kAXTitleAttribute).value, AccessibilityValue("Minimized"));
    EXPECT_EQ(desktop.accessibility->performAction({501, 1}, kAXRaiseAction), AccessibilityError::failure);
    EXPECT_EQ(desktop.accessibility->setAttributeValue({501, 0}, kAXFrontmostAttribute, true),
              AccessibilityError::cannotComplete);

    // The window list holds the on-screen windows in order, with pictures.
    const auto list = desktop.windowList->copyWindowInfo(17, 0);
    const PropertyArray& entries = *list->asArray();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].find(kCGWindowNumber)->asInteger(), 7001);
    EXPECT_EQ(*entries[0].find(kCGWindowOwnerName)->asString(), "Editor");
    EXPECT_EQ(entries[1].find(kCGWindowLayer)->asInteger(), 3);
    const BitmapRef picture = desktop.windowList->createWindowImage(std::nullopt, 8, 7001, 9);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width(), 800);
    EXPECT_EQ(picture->pixel(0, 0), 0xFFFF0000u);
}

long residentBytes() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

// Thousands of listed windows cost no pixels until a capture shows one.
TEST(ScenarioTest, AWindowsPictureIsMadeWhenACaptureAsksForIt) {
    std::string text = R"({"screenCaptureAllowed": true, "applications": [{"pid": 7, "windows": [)";
    for (int i = 0; i < 100; ++i) {
        text += std::string(i ? "," : "") + R"({"bounds": {"x": 0, "y": 0, "width": 1024, "height": 1024}})";
    }
    text += "]}]}";
    const ScenarioLoad load = parseScenario(text, "/");
    ASSERT_TRUE(load.scenario) << load.error;
    const long before = residentBytes();
    const InMemoryDesktop desktop = InMemoryDesktop::fromScenario(*load.scenario);
    EXPECT_LT(residentBytes() - before, 64L << 20);  // the pictures of all would take 400 MB
    const BitmapRef picture = desktop.windowList->createWindowImage(std::nullopt, 0, 150, 0);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width(), 1024);
}

TEST(ScenarioTest, OpeningAndTerminatingFollowTheScenario) {
    InMemoryDesktop desktop = InMemoryDesktop::fromScenario(*parseScenario(kScenario, "/").scenario);
    std::optional<std::string> failure;
    desktop.workspace->openApplication("/Applications/Installed.app", {}, [&](const auto& error) { failure = error; });
    EXPECT_EQ(failure, "No such file");
    EXPECT_FALSE(desktop.workspace->terminate(1002));
    EXPECT_TRUE(desktop.workspace->terminate(501));
    EXPECT_FALSE(desktop.workspace->frontmostApplication());
}

TEST(ScenarioTest, IconsAreReadRelativeToTheScenarioFile) {
    std::filesystem::create_directories(temporaryDirectory());
    std::string pattern = (temporaryDirectory() / "scenario-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::filesystem::path folder = pattern;
    ASSERT_TRUE(Bitmap::make(2, 3, std::vector<std::uint32_t>(6, 0xFF00FF00u))->writePng(folder / "icon.png"));
    std::ofstream(folder / "desk.json") << R"({"applications": [{"bundleIdentifier": "a", "icon": "icon.png"}]})";
    const ScenarioLoad load = loadScenarioFile(folder / "desk.json");
    ASSERT_TRUE(load.scenario) << load.error;
    EXPECT_EQ(load.scenario->applications[0].installed.application.icon->size(), (Size{2, 3}));

    std::ofstream(folder / "bad.json") << R"({"applications": [{"icon": "missing.png"}]})";
    EXPECT_NE(loadScenarioFile(folder / "bad.json").error.find("applications[0].icon: not a readable PNG file"),
              std::string::npos);
    EXPECT_NE(loadScenarioFile(folder / "absent.json").error.find("cannot be read"), std::string::npos);
    std::filesystem::remove_all(folder);
}

// The README's example, as a reader would copy it into a file anywhere.
TEST(ScenarioTest, TheReadmeExampleLoadsFromAnyFolder) {
    std::ifstream file(testpaths::sourceDir() / "README.md");
    const std::string readme(std::istreambuf_iterator<char>(file), {});
    const std::string opening = "```json\n";
    const std::size_t start = readme.find(opening, readme.find("## Running without a display"));
    ASSERT_NE(start, std::string::npos);
    const std::size_t body = start + opening.size();
    const std::size_t end = readme.find("```", body);
    ASSERT_NE(end, std::string::npos);
    const ScenarioLoad load = parseScenario(readme.substr(body, end - body), temporaryDirectory() / "anywhere");
    EXPECT_TRUE(load.scenario) << load.error;
}

TEST(ScenarioTest, MalformedScenariosNameTheOffendingValue) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"[1, 2]", "top level: expected an object"},
        {"{\"screen\": []}", "screen: unknown section"},
        {"{\"screens\": [{}]}", "screens[0].frame: required"},
        {"{\"screens\": [{\"frame\": {\"x\": 0, \"y\": 0, \"width\": \"wide\", \"height\": 1}}]}",
         "screens[0].frame.width: expected a number"},
        {"{\"accessibilityTrusted\": 1}", "accessibilityTrusted: expected true or false"},
        {"{\"applications\": [{\"pid\": 0}]}", "applications[0].pid: out of range"},
        {"{\"applications\": [{\"pid\": 5}, {\"pid\": 5}]}", "applications[1].pid: used twice"},
        {"{\"applications\": [{\"windows\": [{\"number\": 9}, {\"number\": 9}]}]}",
         "applications[0].windows[1].number: used twice"},
        {"{\"applications\": [{\"windows\": [{\"colour\": \"#fff\"}]}]}", "applications[0].windows[0].colour: unknown member"},
        {"{\"applications\": [{\"windows\": [{\"color\": \"red\"}]}]}", "applications[0].windows[0].color: expected a colour"},
        {"{\"applications\": [{\"accessibilityFailures\": {\"AXRaise\": \"oops\"}}]}",
         "applications[0].accessibilityFailures.AXRaise: unknown accessibility error"},
        {"{\"frontmost\": \"nobody\"}", "frontmost: no running application"},
        {"{\"applications\": [", "not valid JSON"},
    };
    for (const auto& [text, expected] : cases) {
        const ScenarioLoad load = parseScenario(text, "/");
        EXPECT_FALSE(load.scenario) << text;
        EXPECT_NE(load.error.find(expected), std::string::npos) << text << " gave: " << load.error;
    }
}

}  // namespace
}  // namespace platform
