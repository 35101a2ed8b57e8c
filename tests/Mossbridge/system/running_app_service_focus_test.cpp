// The running-application list and focusing an application: the outcome
// table, the order of accessibility calls and the retry.

#include "Mossbridge/system/RunningAppService.h"

#include <gtest/gtest.h>

#include "RunningAppServiceFixture.h"

namespace Mossbridge {
namespace {

using RunningAppServiceFocusTest = RunningAppServiceFixture;
using Calls = std::vector<std::string>;

TEST_F(RunningAppServiceFocusTest, RefreshListsRegularAppsWithBundleIdentifiersByLocalizedName) {
    install(1, "org.example.beta", "Beta");
    install(2, "org.example.alpha", "alpha");
    install(3, std::nullopt, "No Bundle");
    install(4, "org.example.unnamed", std::nullopt);
    install(5, "org.example.agent", "Agent").application.activationPolicy = platform::ActivationPolicy::accessory;
    install(6, "org.example.emile", "\xC3\x89mile");  // É sorts with E, not after Z
    desktop.workspace->setFrontmost(2);
    service->refresh();

    std::vector<std::string> names;
    for (const auto& app : service->apps()) names.push_back(app.name);
    EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Beta", "\xC3\x89mile", "org.example.unnamed"}));
    EXPECT_EQ(service->frontmostBundleIdentifier(), "org.example.alpha");
    EXPECT_EQ(service->app("org.example.beta")->processIdentifier, 1);
    EXPECT_FALSE(service->app("org.example.agent"));
}

TEST_F(RunningAppServiceFocusTest, NoFrontmostOrOneWithoutBundleIdentifierLeavesItEmpty) {
    install(3, std::nullopt, "No Bundle");
    desktop.workspace->setFrontmost(3);
    service->refresh();
    EXPECT_FALSE(service->frontmostBundleIdentifier());
    desktop.workspace->setFrontmost(std::nullopt);
    service->refresh();
    EXPECT_FALSE(service->frontmostBundleIdentifier());
}

TEST_F(RunningAppServiceFocusTest, AnAppThatIsNotRunningIsNotFoundAndNothingIsPrinted) {
    desktop.accessibility->setTrusted(true);
    AppFocusResult result;
    EXPECT_EQ(captured([&] { result = service->focusTopWindow("org.example.gone"); }), "");
    EXPECT_FALSE(result.found);
    EXPECT_FALSE(result.opened);
    EXPECT_TRUE(result.accessibilityTrusted);
    EXPECT_EQ(result.message, "I can't find that app right now.");
}

TEST_F(RunningAppServiceFocusTest, ARaisedTopWindowAnswersHereItIsAfterOpeningAndActivating) {
    desktop.accessibility->setTrusted(true);
    install(7, "org.example.editor", "Editor", {"Report", "Notes"});
    AppFocusResult result;
    const std::string output = captured([&] { result = service->focusTopWindow("org.example.editor"); });
    EXPECT_EQ(output, "Mossbridge: focusing top window for org.example.editor\n");
    EXPECT_TRUE(result.found && result.raised && result.opened && result.accessibilityTrusted);
    EXPECT_EQ(result.message, "Here it is.");
    EXPECT_EQ(desktop.workspace->openRequests(),
              (std::vector<platform::OpenRequest>{{"/Applications/7.app", {true, false}}}));
    EXPECT_EQ(desktop.workspace->activations(), (std::vector<platform::ActivationRequest>{{7, 2}}));
    EXPECT_EQ(desktop.accessibility->calls(),
              (Calls{"set 7 AXFrontmost=true", "set 7 AXFrontmost=true", "set 7/1 AXMain=true",
                     "set 7/1 AXFocused=true", "perform 7/1 AXRaise"}));
    EXPECT_EQ(dispatcher.pendingCount(), 0u);
}

TEST_F(RunningAppServiceFocusTest, FailingAttributeWritesDoNotStopTheRaise) {
    desktop.accessibility->setTrusted(true);
    install(7, "org.example.editor", "Editor", {"Report"});
    auto* app = desktop.accessibility->application(7);
    app->failures[platform::kAXFrontmostAttribute] = platform::AccessibilityError::cannotComplete;
    app->windows[0].failures[platform::kAXMainAttribute] = platform::AccessibilityError::failure;
    app->windows[0].failures[platform::kAXFocusedAttribute] = platform::AccessibilityError::failure;
    EXPECT_TRUE(service->focusTopWindow("org.example.editor").raised);
    app->windows[0].failures[platform::kAXRaiseAction] = platform::AccessibilityError::cannotComplete;
    captured([&] { EXPECT_FALSE(service->focusTopWindow("org.example.editor").raised); });
}

struct FocusCase {
    bool trusted;
    bool hasBundleURL;
    const char* message;
};

class FocusOutcomeTest : public RunningAppServiceFixture, public ::testing::WithParamInterface<FocusCase> {};

TEST_P(FocusOutcomeTest, AWindowlessAppAnswersByTrustAndOpenAndRetriesOnce) {
    const FocusCase c = GetParam();
    desktop.accessibility->setTrusted(c.trusted);
    auto& app = install(8, "org.example.empty", "Empty");
    if (!c.hasBundleURL) app.application.bundleURL.reset();
    AppFocusResult result;
    const std::string output = captured([&] { result = service->focusTopWindow("org.example.empty"); });
    EXPECT_TRUE(result.found);
    EXPECT_FALSE(result.raised);
    EXPECT_EQ(result.opened, c.hasBundleURL);
    EXPECT_EQ(result.accessibilityTrusted, c.trusted);
    EXPECT_EQ(result.message, c.message);
    EXPECT_NE(output.find("Mossbridge: no windows to raise for org.example.empty\n"), std::string::npos);

    // One retry 0.35 s later: activate again and try the top window again.
    dispatcher.advance(0.34);
    EXPECT_EQ(desktop.workspace->activations().size(), 1u);
    captured([&] { dispatcher.advance(0.01); });
    EXPECT_EQ(desktop.workspace->activations(), (std::vector<platform::ActivationRequest>{{8, 2}, {8, 2}}));
    captured([&] { dispatcher.advance(5); });
    EXPECT_EQ(desktop.workspace->activations().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FocusOutcomeTest,
    ::testing::Values(FocusCase{true, true, "I asked macOS to activate it like the Dock."},
                      FocusCase{true, false, "I couldn't raise the top window for this app."},
                      FocusCase{false, true, "I opened it, but need Accessibility to raise the top window."},
                      FocusCase{false, false, "I need Accessibility access to bring this forward."}),
    [](const auto& info) {
        return std::string(info.param.trusted ? "Trusted" : "Untrusted") +
               (info.param.hasBundleURL ? "_WithBundleURL" : "_WithoutBundleURL");
    });

TEST_F(RunningAppServiceFocusTest, ANewerFocusRequestReplacesAPendingRetryAndAGoneAppIsNotRetried) {
    install(8, "org.example.empty", "Empty");
    captured([&] {
        EXPECT_FALSE(service->focusTopWindow("org.example.empty").raised);
        dispatcher.advance(0.2);
        EXPECT_FALSE(service->focusTopWindow("org.example.empty").raised);
        dispatcher.advance(0.34);
    });
    EXPECT_EQ(desktop.workspace->activations().size(), 2u);
    captured([&] { dispatcher.advance(0.01); });
    EXPECT_EQ(desktop.workspace->activations().size(), 3u);

    captured([&] { EXPECT_FALSE(service->focusTopWindow("org.example.empty").raised); });
    desktop.workspace->find(8)->running = false;
    dispatcher.advance(1);
    EXPECT_EQ(desktop.workspace->activations().size(), 4u);
}

TEST_F(RunningAppServiceFocusTest, AFailedDockStyleOpenIsOnlyPrinted) {
    desktop.accessibility->setTrusted(true);
    install(9, "org.example.broken", "Broken", {"Main"}).openFailure = "The file couldn't be opened.";
    AppFocusResult result;
    const std::string output = captured([&] { result = service->focusTopWindow("org.example.broken"); });
    EXPECT_TRUE(result.opened);
    EXPECT_TRUE(result.raised);
    EXPECT_NE(output.find("Mossbridge: Dock-style open failed for org.example.broken: The file couldn't be opened.\n"),
              std::string::npos);
}

TEST_F(RunningAppServiceFocusTest, AnAccessibilityErrorIsPrintedAndReadsAsNoWindows) {
    desktop.accessibility->setTrusted(true);
    install(10, "org.example.hung", "Hung", {"Main"});
    desktop.accessibility->application(10)->failures[platform::kAXWindowsAttribute] =
        platform::AccessibilityError::cannotComplete;
    std::pair<std::vector<platform::AccessibilityElement>, std::optional<std::string>> listed;
    const std::string output = captured([&] { listed = service->accessibilityWindows(desktop.workspace->find(10)->application); });
    EXPECT_TRUE(listed.first.empty());
    EXPECT_EQ(listed.second, "cannotComplete");
    EXPECT_EQ(output, "Mossbridge: AX windows failed for org.example.hung: cannotComplete\n");

    desktop.accessibility->application(10)->failures.clear();
    desktop.accessibility->application(10)->windowsHaveValue = false;
    listed = service->accessibilityWindows(desktop.workspace->find(10)->application);
    EXPECT_TRUE(listed.first.empty());
    EXPECT_FALSE(listed.second);
}

TEST_F(RunningAppServiceFocusTest, QuittingAnswersTheTerminationAndFalseForAGoneApp) {
    install(11, "org.example.quits", "Quits");
    install(12, "org.example.stays", "Stays").terminateAccepted = false;
    EXPECT_TRUE(service->quitApp("org.example.quits"));
    EXPECT_FALSE(service->quitApp("org.example.stays"));
    EXPECT_FALSE(service->quitApp("org.example.quits"));
    EXPECT_EQ(desktop.workspace->terminations(), (std::vector<std::int32_t>{11, 12}));
}

}  // namespace
}  // namespace Mossbridge
