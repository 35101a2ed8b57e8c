// Window lists: the window server's filters, placeholder titles, the
// scripts, and which source wins with which message.

#include "Mossbridge/system/RunningAppService.h"

#include <gtest/gtest.h>

#include "RunningAppServiceFixture.h"

namespace Mossbridge {
namespace {

using RunningAppServiceWindowListsTest = RunningAppServiceFixture;
using Titles = std::vector<std::string>;

Titles titles(const std::vector<AppWindowInfo>& windows) {
    Titles result;
    for (const auto& w : windows) result.push_back(w.title);
    return result;
}

platform::PropertyDictionary windowEntry(std::int32_t pid, std::uint32_t number) {
    return platform::DesktopWindow{number, pid, std::nullopt, std::nullopt, {0, 0, 400, 300}, 0, 1}.describe();
}

TEST_F(RunningAppServiceWindowListsTest, TheWindowServerListSkipsWhatIsNotAnOrdinaryWindowOfTheApp) {
    const auto& app = install(20, "org.example.preview", "Preview").application;
    addVisibleWindow(21, 1, "Someone else's");
    addVisibleWindow(20, 2, std::nullopt);
    addVisibleWindow(20, 2, "Duplicate number");
    desktop.windowList->addWindow({3, 20, std::nullopt, "Menu", {0, 0, 400, 300}, 25, 1});
    desktop.windowList->addWindow({4, 20, std::nullopt, "Invisible", {0, 0, 400, 300}, 0, 0});
    addVisibleWindow(20, 5, "Too narrow", {0, 0, 39, 300});
    addVisibleWindow(20, 6, "Too low", {0, 0, 400, 29});
    addVisibleWindow(20, 7, "  Just big enough \n", {0, 0, 40, 30});
    addVisibleWindow(20, 8, "");

    const auto windows = service->visibleWindowList(app);
    EXPECT_EQ(titles(windows), (Titles{"Preview Window 1", "Just big enough", "Preview Window 3"}));
    EXPECT_EQ(windows[1].index, 1);
    EXPECT_EQ(windows[1].cgWindowID, 7u);
    EXPECT_FALSE(windows[1].axIndex);
    EXPECT_EQ(desktop.windowList->listRequests().front(), (platform::WindowListRequest{17, 0, 0, true}));
}

TEST_F(RunningAppServiceWindowListsTest, MalformedDictionariesAreSkippedAndNeverCrash) {
    const auto& app = install(20, std::string("org.example.x"), std::nullopt).application;
    auto add = [&](std::function<void(platform::PropertyDictionary&)> change) {
        auto entry = windowEntry(20, 1);
        change(entry);
        desktop.windowList->addRawEntry(entry);
    };
    add([](auto& e) { e.erase(platform::kCGWindowOwnerPID); });
    add([](auto& e) { e[platform::kCGWindowOwnerPID] = platform::PropertyValue("20"); });
    add([](auto& e) { e.erase(platform::kCGWindowNumber); });
    add([](auto& e) { e[platform::kCGWindowNumber] = platform::PropertyValue(-1); });
    add([](auto& e) { e[platform::kCGWindowNumber] = platform::PropertyValue(2.5); });
    add([](auto& e) { e[platform::kCGWindowBounds] = platform::PropertyValue(platform::PropertyDictionary{{"Width", 400.0}}); });
    add([](auto& e) { e[platform::kCGWindowBounds] = platform::PropertyValue(platform::PropertyDictionary{{"Width", "400"}, {"Height", 300.0}}); });
    // Missing or mistyped optional fields pass.
    add([](auto& e) {
        e.erase(platform::kCGWindowLayer);
        e[platform::kCGWindowAlpha] = platform::PropertyValue("opaque");
        e[platform::kCGWindowBounds] = platform::PropertyValue("not a dictionary");
        e[platform::kCGWindowName] = platform::PropertyValue(7);
        e[platform::kCGWindowNumber] = platform::PropertyValue(9.0);
    });
    const auto windows = service->visibleWindowList(app);
    EXPECT_EQ(titles(windows), (Titles{"App Window 1"}));
    EXPECT_EQ(windows[0].cgWindowID, 9u);

    desktop.windowList->addRawEntry(platform::PropertyValue("not a dictionary"));
    EXPECT_TRUE(service->visibleWindowList(app).empty());
    desktop.windowList->setAnswer(platform::PropertyValue(platform::PropertyDictionary{}));
    EXPECT_TRUE(service->visibleWindowList(app).empty());
    desktop.windowList->setAnswer(std::nullopt);
    EXPECT_TRUE(service->visibleWindowList(app).empty());
}

TEST(PlaceholderTitleTest, NumberedAppAndWindowTitlesArePlaceholders) {
    EXPECT_TRUE(RunningAppService::isPlaceholderWindowTitle("Preview Window 2", "Preview"));
    EXPECT_TRUE(RunningAppService::isPlaceholderWindowTitle("Window 3", "Preview"));
    EXPECT_FALSE(RunningAppService::isPlaceholderWindowTitle("Preview Window", "Preview"));
    EXPECT_FALSE(RunningAppService::isPlaceholderWindowTitle("preview Window 2", "Preview"));
    EXPECT_FALSE(RunningAppService::isPlaceholderWindowTitle("My Preview Window 2", "Preview"));
    // The name is matched literally, not as a pattern.
    EXPECT_TRUE(RunningAppService::isPlaceholderWindowTitle("C++ (beta) Window 1", "C++ (beta)"));
    EXPECT_FALSE(RunningAppService::isPlaceholderWindowTitle("CCC (beta) Window 1", "C++ (beta)"));
}

TEST_F(RunningAppServiceWindowListsTest, ScriptsAreTheExactTextsWithEscapedNames) {
    install(30, "org.ex\"am\\ple", " Odd \"Name\\ \n");
    scriptAnswers = {"One\n\n  Two  \r\nThree", "   \n  "};
    EXPECT_EQ(titles(service->scriptedWindowTitles("org.ex\"am\\ple")), (Titles{"One", "Two", "Three"}));
    EXPECT_TRUE(service->systemEventsWindowTitles(std::string(" Odd \"Name\\ \n")).empty());
    ASSERT_EQ(scripts.size(), 2u);
    EXPECT_EQ(scripts[0],
              "tell application id \"org.ex\\\"am\\\\ple\"\n"
              "    set windowNames to {}\n"
              "    try\n"
              "        repeat with currentWindow in windows\n"
              "            try\n"
              "                set windowName to name of currentWindow as text\n"
              "                if windowName is not \"\" then set end of windowNames to windowName\n"
              "            end try\n"
              "        end repeat\n"
              "    end try\n"
              "    set AppleScript's text item delimiters to linefeed\n"
              "    return windowNames as text\n"
              "end tell");
    EXPECT_EQ(scripts[1],
              "tell application \"System Events\"\n"
              "    set windowNames to {}\n"
              "    if exists process \"Odd \\\"Name\\\\\" then\n"
              "        tell process \"Odd \\\"Name\\\\\"\n"
              "            repeat with currentWindow in windows\n"
              "                try\n"
              "                    set windowName to name of currentWindow as text\n"
              "                    if windowName is \"\" then set windowName to \"Odd \\\"Name\\\\ Window\"\n"
              "                    set end of windowNames to windowName\n"
              "                on error\n"
              "                    set end of windowNames to \"Odd \\\"Name\\\\ Window\"\n"
              "                end try\n"
              "            end repeat\n"
              "        end tell\n"
              "    end if\n"
              "    set AppleScript's text item delimiters to linefeed\n"
              "    return windowNames as text\n"
              "end tell");
    // A blank name runs nothing.
    EXPECT_TRUE(service->systemEventsWindowTitles(std::string(" \n")).empty());
    EXPECT_TRUE(service->systemEventsWindowTitles(std::nullopt).empty());
    EXPECT_EQ(scripts.size(), 2u);
}

TEST_F(RunningAppServiceWindowListsTest, NotRunning) {
    desktop.accessibility->setTrusted(true);
    const auto info = service->contextMenuInfo("org.example.gone", true);
    EXPECT_TRUE(info.windows.empty());
    EXPECT_TRUE(info.accessibilityTrusted);
    EXPECT_EQ(info.message, "That app is not running.");
}

TEST_F(RunningAppServiceWindowListsTest, TrustedAccessibilityWindowsWinWithBlankTitlesNumbered) {
    desktop.accessibility->setTrusted(true);
    install(40, "org.example.editor", "Editor", {" Spaced title ", "   "});
    auto* app = desktop.accessibility->application(40);
    app->windows.push_back({3, platform::AccessibilityValue(true), {}});
    app->windows.push_back({4, std::nullopt, {}});
    addVisibleWindow(40, 50, "Ignored");
    const auto info = service->contextMenuInfo("org.example.editor", true);
    EXPECT_EQ(titles(info.windows), (Titles{" Spaced title ", "Window 2", "Window 3", "Window 4"}));
    EXPECT_EQ(info.windows[1].axIndex, 1);
    EXPECT_FALSE(info.windows[1].cgWindowID);
    EXPECT_FALSE(info.message);
    EXPECT_TRUE(scripts.empty());
}

TEST_F(RunningAppServiceWindowListsTest, AnEmptyTrustedListFallsThroughToTheWindowServerWithoutMessage) {
    desktop.accessibility->setTrusted(true);
    install(41, "org.example.viewer", "Viewer");
    addVisibleWindow(41, 60, "Photo");
    const auto info = service->contextMenuInfo("org.example.viewer", false);
    EXPECT_EQ(titles(info.windows), (Titles{"Photo"}));
    EXPECT_FALSE(info.message);
}

TEST_F(RunningAppServiceWindowListsTest, AnAccessibilityErrorFallsBackToTheWindowServerAndIsPrintedTwice) {
    desktop.accessibility->setTrusted(true);
    install(42, "org.example.hung", "Hung", {"Main"});
    desktop.accessibility->application(42)->failures[platform::kAXWindowsAttribute] = platform::AccessibilityError::apiDisabled;
    addVisibleWindow(42, 61, "Visible");
    AppContextMenuInfo info;
    const std::string output = captured([&] { info = service->contextMenuInfo("org.example.hung", false); });
    EXPECT_EQ(output,
              "Mossbridge: AX windows failed for org.example.hung: apiDisabled\n"
              "Mossbridge: AX window list fell back to CG for org.example.hung: apiDisabled\n");
    EXPECT_EQ(titles(info.windows), (Titles{"Visible"}));
}

TEST_F(RunningAppServiceWindowListsTest, UntrustedVisibleWindowsSayAccessibilityEnablesExactSelection) {
    install(43, "org.example.viewer", "Viewer", {"Hidden from us"});
    addVisibleWindow(43, 62, "Photo");
    const auto info = service->contextMenuInfo("org.example.viewer", true);
    EXPECT_EQ(titles(info.windows), (Titles{"Photo"}));
    EXPECT_FALSE(info.accessibilityTrusted);
    EXPECT_EQ(info.message, "Visible windows only. Accessibility enables exact window selection.");
    EXPECT_TRUE(scripts.empty());  // real titles need no scripts
}

TEST_F(RunningAppServiceWindowListsTest, ScriptedTitlesReplacePlaceholdersPositionByPosition) {
    install(44, "org.example.preview", "Preview");
    for (std::uint32_t n : {70u, 71u, 72u}) addVisibleWindow(44, n, std::nullopt);
    scriptAnswers = {"Scan.pdf", "Photo.png"};
    AppContextMenuInfo info;
    const std::string output = captured([&] { info = service->contextMenuInfo("org.example.preview", true); });
    EXPECT_EQ(titles(info.windows), (Titles{"Scan.pdf", "Photo.png", "Preview Window 3"}));
    EXPECT_EQ(info.windows[2].cgWindowID, 72u);
    EXPECT_EQ(info.message, "Scripted app access supplied window titles. Accessibility enables exact selection.");
    EXPECT_EQ(output, "Mossbridge: scripted window titles replaced placeholder CG titles for org.example.preview\n");
    EXPECT_EQ(scripts.size(), 2u);  // both scripts, always in order
    EXPECT_EQ(scripts[0].rfind("tell application id", 0), 0u);
    EXPECT_EQ(scripts[1].rfind("tell application \"System Events\"", 0), 0u);
}

TEST_F(RunningAppServiceWindowListsTest, PlaceholdersStayWhenScriptsFindNothingOrScriptingIsOff) {
    install(45, "org.example.preview", "Preview");
    addVisibleWindow(45, 80, std::nullopt);
    auto info = service->contextMenuInfo("org.example.preview", true);
    EXPECT_EQ(titles(info.windows), (Titles{"Preview Window 1"}));
    EXPECT_EQ(info.message, "Visible windows only. Accessibility enables exact window selection.");
    EXPECT_EQ(scripts.size(), 2u);
    info = service->contextMenuInfo("org.example.preview", false);
    EXPECT_EQ(scripts.size(), 2u);
}

TEST_F(RunningAppServiceWindowListsTest, WithoutVisibleWindowsTheScriptsOwnListIsUsed) {
    desktop.accessibility->setTrusted(true);
    install(46, "org.example.mail", "Mail");
    scriptAnswers = {"Inbox", "Inbox\nDraft"};
    AppContextMenuInfo info;
    const std::string output = captured([&] { info = service->contextMenuInfo("org.example.mail", true); });
    EXPECT_EQ(titles(info.windows), (Titles{"Inbox", "Inbox", "Draft"}));
    EXPECT_EQ(info.windows[2].index, 1);  // each script numbers its own entries
    EXPECT_FALSE(info.message);
    EXPECT_EQ(output, "Mossbridge: scripted window fallback found 3 windows for org.example.mail\n");

    desktop.accessibility->setTrusted(false);
    scriptAnswers = {"Inbox"};
    info = service->contextMenuInfo("org.example.mail", true);
    EXPECT_EQ(info.message, "Scripted app access listed these windows. Accessibility enables exact selection.");
}

TEST_F(RunningAppServiceWindowListsTest, NothingAnywhereAnswersByTrust) {
    install(47, "org.example.none", "None");
    auto info = service->contextMenuInfo("org.example.none", false);
    EXPECT_EQ(info.message, "No visible windows. Accessibility may help with hidden or minimized windows.");
    EXPECT_TRUE(scripts.empty());
    desktop.accessibility->setTrusted(true);
    info = service->contextMenuInfo("org.example.none", true);
    EXPECT_EQ(info.message, "No visible windows for this app.");
    EXPECT_EQ(scripts.size(), 2u);
}

}  // namespace
}  // namespace Mossbridge
