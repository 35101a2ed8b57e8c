// The settings window's view controller: its lists, the live update, the
// notification folder bookmark, the calendar request and the live
// preferences.

#include "Mossbridge/settings/SettingsViewController.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>

#include "Mossbridge/pets/SnapshotSupport.h"
#include "Mossbridge/system/NotificationDatabaseReader.h"
#include "platform/core/Bookmark.h"
#include "platform/core/DeterministicDispatch.h"
#include "platform/core/XdgPaths.h"
#include "platform/desktop/InMemoryAccessibility.h"
#include "platform/desktop/InMemoryCalendarStore.h"
#include "platform/desktop/InMemoryDesktopWindowList.h"
#include "platform/desktop/InMemoryWorkspace.h"
#include "platform/drawing/Window.h"
#include "platform/drawing/WindowServer.h"

namespace Mossbridge {
namespace {

class SettingsViewControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(folder);
        install("com.example.editor", "Editor", 501);
        runningApps->refresh();
        controller = SettingsViewController::create(
            store, runningApps, {accessibility, windowList, calendarStore, defaults, dispatcher.mainQueue()});
    }

    void install(const std::string& bundleIdentifier, const std::string& name, std::int32_t pid) {
        platform::InstalledApplication app;
        app.application.processIdentifier = pid;
        app.application.bundleIdentifier = bundleIdentifier;
        app.application.localizedName = name;
        workspace->install(app);
    }

    void showInWindow(unsigned moreStyle = 0) {
        window = platform::Window::make(
            server, {SettingsViewController::contentWidth, SettingsViewController::contentHeight},
            platform::WindowStyleMask::titled | moreStyle);
        window->setContentView(controller->view());
        window->makeKeyAndOrderFront();
    }

    platform::DeterministicDispatcher dispatcher;
    std::filesystem::path folder = platform::temporaryDirectory() / "settings";
    std::shared_ptr<platform::UserDefaults> defaults = std::make_shared<platform::UserDefaults>("Mossbridge", folder);
    std::shared_ptr<AssignmentStore> store =
        AssignmentStore::create(defaults, dispatcher.mainQueue(), [] { return std::vector<platform::Rect>{}; });
    std::shared_ptr<platform::InMemoryWorkspace> workspace = std::make_shared<platform::InMemoryWorkspace>();
    std::shared_ptr<platform::InMemoryAccessibility> accessibility = std::make_shared<platform::InMemoryAccessibility>();
    std::shared_ptr<platform::InMemoryDesktopWindowList> windowList =
        std::make_shared<platform::InMemoryDesktopWindowList>();
    platform::NotificationCenter center;
    std::shared_ptr<platform::InMemoryCalendarStore> calendarStore =
        std::make_shared<platform::InMemoryCalendarStore>(center);
    std::shared_ptr<RunningAppService> runningApps =
        RunningAppService::create({workspace, accessibility, windowList, nullptr, dispatcher.mainQueue()});
    platform::WindowServer server{{platform::Screen{{0, 0, 1440, 900}, {0, 0, 1440, 875}, 1}}};
    std::shared_ptr<SettingsViewController> controller;
    std::shared_ptr<platform::Window> window;
};

TEST_F(SettingsViewControllerTest, ReloadRebuildsThePetListFromTheStore) {
    EXPECT_TRUE(controller->assignmentRows().empty());
    AppAssignment assignment;
    assignment.bundleIdentifier = "com.example.editor";
    assignment.appName = "Editor";
    assignment.category = AppCategory::work;
    store->assignments.push_back(assignment);
    controller->reloadAssignments();
    EXPECT_EQ(controller->assignmentRows(), (std::vector<std::string>{"Editor - Robot V1 (Work)"}));
}

TEST_F(SettingsViewControllerTest, TheLiveUpdateRunsOnlyWhileVisibleAndRebuildsThePopupOnlyOnChange) {
    EXPECT_EQ(controller->applicationPopupItems(), (std::vector<std::string>{"Editor"}));
    accessibility->setTrusted(true);
    controller->refreshLiveState();
    EXPECT_EQ(controller->permissionRows().at(0).status, "Not granted");  // not in a window yet

    showInWindow();
    controller->refreshLiveState();
    EXPECT_EQ(controller->permissionRows().at(0), (SettingsViewController::PermissionRow{"Accessibility", "Granted"}));
    EXPECT_EQ(controller->applicationPopupBuildCount(), 1);

    install("com.example.chat", "Chat", 502);
    runningApps->refresh();
    controller->refreshLiveState();
    EXPECT_EQ(controller->applicationPopupItems(), (std::vector<std::string>{"Chat", "Editor"}));
    controller->refreshLiveState();
    EXPECT_EQ(controller->applicationPopupBuildCount(), 2);
}

TEST_F(SettingsViewControllerTest, AChosenFolderIsBookmarkedAndAMissingOneIsReported) {
    const auto chosen = folder / "db-folder";
    std::filesystem::create_directories(chosen);
    controller->storeNotificationDatabaseBookmark(chosen);
    ASSERT_TRUE(defaults->data(kNotificationDatabaseFolderBookmarkKey));

    ::testing::internal::CaptureStdout();
    controller->storeNotificationDatabaseBookmark(folder / "gone");
    std::fflush(stdout);
    const std::string output = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(output.rfind("Mossbridge: Notification DB folder bookmark failed: ", 0), 0u) << output;
    std::string error;
    const auto kept = platform::resolveBookmarkData(*defaults->data(kNotificationDatabaseFolderBookmarkKey), error);
    ASSERT_TRUE(kept) << error;
    EXPECT_EQ(kept->path, chosen);
}

TEST_F(SettingsViewControllerTest, TheOwnerHearsOfAnsweredCalendarRequestsAndLivePreferences) {
    int changed = 0, live = 0;
    controller->onChanged = [&] { ++changed; };
    controller->onLivePreferencesChanged = [&] { ++live; };
    controller->requestCalendarAccess();
    EXPECT_EQ(changed, 0);
    calendarStore->answerAccessRequests(true);
    dispatcher.drain();
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(controller->permissionRows().at(2).status, "Granted");

    controller->setPetSizeScale(1.5);
    controller->setPetSizeScale(1.5);  // no change, no call
    controller->setDisplayBadges(false);
    EXPECT_EQ(live, 2);
    EXPECT_FALSE(store->preferences.displayBadges);
}

TEST_F(SettingsViewControllerTest, WhileShownThePetListFollowsEveryChangeOfTheStore) {
    showInWindow();
    std::vector<RunningApp> apps;
    for (int i = 0; i < 30; ++i) {
        apps.push_back({"com.example.app" + std::to_string(i), "App " + std::to_string(i), i, nullptr});
    }
    store->autoAttachRunningApps(apps);
    EXPECT_EQ(controller->assignmentRows().size(), 30u);

    store->updatePetKind(store->assignments[29].id, PetKind::cat);
    store->removeAssignment(store->assignments[0].id, "manual");
    ASSERT_EQ(controller->assignmentRows().size(), 29u);
    EXPECT_EQ(controller->assignmentRows()[28], "App 29 - Cat (Other)");

    // Closed, it is left as it was; gone, it is no longer told.
    window->close();
    store->removeAssignment(store->assignments[0].id, "manual");
    EXPECT_EQ(controller->assignmentRows().size(), 29u);
    controller.reset();
    store->removeAssignment(store->assignments[0].id, "manual");
    EXPECT_EQ(store->assignments.size(), 27u);
}

// The window is taller than an 800 x 600 screen: its title bar stays below
// the menu bar, and the close button at its left end can be clicked.
TEST_F(SettingsViewControllerTest, OnASmallScreenTheTitleBarStaysWithinReach) {
    server.setScreens({platform::Screen{{0, 0, 800, 600}, {0, 0, 800, 575}, 1}});
    showInWindow(platform::WindowStyleMask::closable);
    window->center();
    const platform::Rect visible = server.screens()[0].visibleFrame;
    const platform::Rect frame = window->frame();
    EXPECT_LE(frame.maxY(), visible.maxY());
    const double bar = platform::Window::titleBarHeight;
    const platform::Point closeButton{frame.minX() + bar / 2, frame.maxY() - bar / 2};
    server.pressLeft(closeButton);
    server.releaseLeft(closeButton);
    EXPECT_FALSE(window->isVisible());
}

// Thirty pets and thirty running applications: each list ends with a line
// saying how many more there are, and the permission rows still fit.
TEST_F(SettingsViewControllerTest, LongListsEndWithHowManyMoreThereAre) {
    for (int i = 0; i < 30; ++i) install("com.example.app" + std::to_string(i), "App " + std::to_string(i), 600 + i);
    runningApps->refresh();
    showInWindow();
    store->autoAttachRunningApps(runningApps->apps());
    controller->refreshLiveState();
    ASSERT_EQ(controller->applicationPopupItems().size(), 31u);
    const auto picture = window->panel()->render();
    ASSERT_TRUE(picture);
    EXPECT_TRUE(testing::matchesReference(*picture, "settings", "long-lists"));
}

}  // namespace
}  // namespace Mossbridge
