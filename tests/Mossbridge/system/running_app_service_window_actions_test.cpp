// Raising one listed window (the outcome table) and window previews (at
// most six, captures or the icon, the screen-capture line once).

#include "Mossbridge/system/RunningAppService.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "RunningAppServiceFixture.h"

namespace Mossbridge {
namespace {

class RunningAppServiceWindowActionsTest : public RunningAppServiceFixture {
protected:
    void SetUp() override { RunningAppService::resetScreenCaptureNoticeForTesting(); }

    static platform::ImageRef solidImage(int width, int height) {
        return std::make_shared<const platform::Image>(
            platform::Bitmap::make(width, height, std::vector<std::uint32_t>(std::size_t(width) * height, 0xFF0000FFu)));
    }
};

TEST_F(RunningAppServiceWindowActionsTest, AnAppThatIsNotRunningIsNotFound) {
    const auto result = service->raiseWindow("org.example.gone", 0);
    EXPECT_FALSE(result.found || result.raised || result.opened);
    EXPECT_EQ(result.message, "I can't find that app right now.");
    EXPECT_TRUE(service->windowPreviews("org.example.gone").empty());
}

TEST_F(RunningAppServiceWindowActionsTest, TrustedRaisingActivatesAllWindowsAndRaisesTheElementAtItsPosition) {
    desktop.accessibility->setTrusted(true);
    install(50, "org.example.editor", "Editor", {"One", "Two", "Three"});
    const auto result = service->raiseWindow("org.example.editor", 2);
    EXPECT_TRUE(result.found && result.raised && result.opened && result.accessibilityTrusted);
    EXPECT_EQ(result.message, "Here it is.");
    EXPECT_EQ(desktop.workspace->activations(), (std::vector<platform::ActivationRequest>{{50, 3}}));
    EXPECT_EQ(desktop.accessibility->calls().back(), "perform 50/3 AXRaise");

    desktop.accessibility->application(50)->windows[0].failures[platform::kAXRaiseAction] =
        platform::AccessibilityError::failure;
    const auto failed = service->raiseWindow("org.example.editor", 0);
    EXPECT_TRUE(failed.found);
    EXPECT_FALSE(failed.raised);
    EXPECT_EQ(failed.message, "I couldn't raise that window.");
}

TEST_F(RunningAppServiceWindowActionsTest, TrustedPickingAWindowThatIsGoneSaysSo) {
    desktop.accessibility->setTrusted(true);
    install(51, "org.example.editor", "Editor", {"One"});
    const auto result = service->raiseWindow("org.example.editor", 5);
    EXPECT_FALSE(result.raised);
    EXPECT_EQ(result.message, "I couldn't find that window anymore.");
}

TEST_F(RunningAppServiceWindowActionsTest, UntrustedPickingAWindowServerWindowBringsTheAppForward) {
    install(52, "org.example.viewer", "Viewer", {"Hidden"});
    addVisibleWindow(52, 90, "Photo");
    AppFocusResult result;
    captured([&] { result = service->raiseWindow("org.example.viewer", 0); });
    EXPECT_TRUE(result.found && result.raised);
    EXPECT_FALSE(result.accessibilityTrusted);
    EXPECT_EQ(result.message, "I brought the app forward. Exact window picking needs Accessibility.");
}

TEST_F(RunningAppServiceWindowActionsTest, UntrustedPickingAScriptListedWindowNeedsAccessibility) {
    install(53, "org.example.mail", "Mail").application.bundleURL.reset();
    scriptAnswers = {"Inbox", std::nullopt};
    captured([&] {
        const auto result = service->raiseWindow("org.example.mail", 0);
        EXPECT_TRUE(result.found);
        EXPECT_FALSE(result.raised);
        EXPECT_FALSE(result.opened);
        EXPECT_EQ(result.message, "I need Accessibility access to list and raise windows.");
    });
    EXPECT_EQ(scripts.size(), 2u);  // raising allows scripting
}

TEST_F(RunningAppServiceWindowActionsTest, NineWindowsGiveSixPreviewsWithCapturedPictures) {
    desktop.accessibility->setTrusted(true);
    desktop.windowList->setScreenCaptureAllowed(true);
    install(54, "org.example.busy", "Busy");
    for (std::uint32_t n = 100; n < 109; ++n) {
        addVisibleWindow(54, n, "W" + std::to_string(n));
        desktop.windowList->setImage(n, solidImage(64, 48)->bitmap());
    }
    const auto previews = service->windowPreviews("org.example.busy");
    ASSERT_EQ(previews.size(), 6u);
    EXPECT_EQ(previews[5].index, 5);
    EXPECT_EQ(previews[5].title, "W105");
    ASSERT_TRUE(previews[0].image);
    EXPECT_EQ(previews[0].image->size(), (platform::Size{64, 48}));
    ASSERT_EQ(desktop.windowList->imageRequests().size(), 6u);
    EXPECT_EQ(desktop.windowList->imageRequests()[0], (platform::WindowListRequest{8, 100, 9, true}));
    EXPECT_TRUE(scripts.empty());  // previews never script
}

TEST_F(RunningAppServiceWindowActionsTest, AccessibilityWindowsBorrowTheWindowNumberAtTheSamePosition) {
    desktop.accessibility->setTrusted(true);
    desktop.windowList->setScreenCaptureAllowed(true);
    auto& app = install(55, "org.example.editor", "Editor", {"A", "B", "C", "D"});
    app.application.icon = solidImage(16, 16);
    for (std::uint32_t n : {200u, 201u, 202u}) {
        addVisibleWindow(55, n, std::nullopt);
        desktop.windowList->setImage(n, solidImage(10 + int(n - 200), 10)->bitmap());
    }
    const auto previews = service->windowPreviews("org.example.editor");
    ASSERT_EQ(previews.size(), 4u);
    EXPECT_EQ(previews[2].title, "C");
    EXPECT_EQ(previews[2].image->size(), (platform::Size{12, 10}));  // the third visible window
    EXPECT_EQ(previews[3].image, desktop.workspace->find(55)->application.icon);  // no fourth: the icon
}

TEST_F(RunningAppServiceWindowActionsTest, WithoutCapturePermissionEveryPreviewIsTheIconAndTheLineIsWrittenOnce) {
    setenv("MOSSBRIDGE_PERF_LOGS", "1", 1);
    install(56, "org.example.viewer", "Viewer").application.icon = solidImage(16, 16);
    addVisibleWindow(56, 300, "One");
    addVisibleWindow(56, 301, "Two");
    std::vector<AppWindowPreviewInfo> previews;
    const std::string first = captured([&] { previews = service->windowPreviews("org.example.viewer"); });
    const std::string second = captured([&] { service->windowPreviews("org.example.viewer"); });
    unsetenv("MOSSBRIDGE_PERF_LOGS");
    ASSERT_EQ(previews.size(), 2u);
    for (const auto& preview : previews) EXPECT_EQ(preview.image, desktop.workspace->find(56)->application.icon);
    EXPECT_NE(first.find("window.preview.screenCaptureUnavailable using-app-icon-fallback"), std::string::npos);
    EXPECT_EQ(second.find("screenCaptureUnavailable"), std::string::npos);
    EXPECT_TRUE(desktop.windowList->imageRequests().empty());
}

TEST_F(RunningAppServiceWindowActionsTest, AFailedCaptureFallsBackToTheIconOrNothing) {
    desktop.windowList->setScreenCaptureAllowed(true);
    install(57, "org.example.bare", "Bare");
    addVisibleWindow(57, 400, "No picture");
    const auto previews = service->windowPreviews("org.example.bare");
    ASSERT_EQ(previews.size(), 1u);
    EXPECT_EQ(previews[0].image, nullptr);  // no capture and no icon
    EXPECT_EQ(desktop.windowList->imageRequests().size(), 1u);
}

}  // namespace
}  // namespace Mossbridge
