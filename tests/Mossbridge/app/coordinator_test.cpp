// The coordinator's start, its menus and status item, the settings window's
// reuse and rebuild, and the callbacks it installs.

#include "CoordinatorFixture.h"

namespace Mossbridge::testing {
namespace {

using Coordinator = CoordinatorFixture;

TEST_F(Coordinator, StartInstallsTheMenusTheStatusItemTheSettingsWindowAndTheTimer) {
    make().start();
    const auto& mainMenu = application.mainMenu();
    ASSERT_TRUE(mainMenu);
    ASSERT_EQ(mainMenu->numberOfItems(), 1u);
    const auto& appMenu = mainMenu->itemAt(0)->submenu();
    ASSERT_TRUE(appMenu);
    EXPECT_EQ(appMenu->title, "Mossbridge");
    EXPECT_EQ(appMenu->itemTitles(), (std::vector<std::string>{"Settings...", "-", "Quit Mossbridge"}));
    EXPECT_EQ(appMenu->itemAt(0)->keyEquivalent, ",");
    EXPECT_EQ(appMenu->itemAt(2)->keyEquivalent, "q");

    const auto& item = *coordinator->statusItem();
    EXPECT_EQ(item.button().title, " Mossbridge");
    EXPECT_EQ(item.button().accessibilityDescription, "Mossbridge");
    EXPECT_TRUE(item.button().image);
    EXPECT_EQ(item.menu, coordinator->statusMenu());
    EXPECT_EQ(item.menu->itemTitles(),
              (std::vector<std::string>{"Settings...", "Refresh Apps", "-", "Quit Mossbridge"}));
    for (const auto& entry : item.menu->items()) EXPECT_EQ(entry->keyEquivalent, "");
    ASSERT_TRUE(coordinator->statusItem()->performClick());
    EXPECT_TRUE(item.menu->isOpen());  // a panel on the screen, so pictures of it show the menu
    item.menu->cancelTracking();

    const auto& window = coordinator->settingsWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->title, "Mossbridge");
    EXPECT_EQ(window->contentSize(), (platform::Size{640, 760}));
    EXPECT_TRUE(window->isKeyWindow());
    EXPECT_TRUE(application.isActive());

    ASSERT_TRUE(coordinator->timer());
    EXPECT_EQ(coordinator->timer()->interval(), 2.0);
    EXPECT_EQ(coordinator->timer()->tolerance(), 0.4);
    EXPECT_EQ(badgeReads, 0);  // the first pass only started the status task
    dispatcher.drain();
    EXPECT_EQ(badgeReads, 1);
}

TEST_F(Coordinator, SettingsIsBroughtForwardWhileOpenAndBuiltAnewAfterClosing) {
    make().start();
    const auto first = coordinator->settingsWindow();
    const auto firstController = coordinator->settingsViewController();
    const int activations = application.activationCount();

    const std::string said = captured([&] { ASSERT_TRUE(application.performKeyEquivalent(",")); });
    EXPECT_EQ(said, "Mossbridge: Settings selected\n");
    EXPECT_EQ(coordinator->settingsWindow(), first);
    EXPECT_EQ(application.activationCount(), activations + 1);

    first->close();
    EXPECT_FALSE(coordinator->settingsWindow());
    EXPECT_FALSE(application.isTerminated());  // closing the last window keeps the application

    captured([&] { ASSERT_TRUE(coordinator->statusMenu()->performItem(0)); });
    const auto second = coordinator->settingsWindow();
    ASSERT_TRUE(second);
    EXPECT_NE(second, first);
    EXPECT_NE(coordinator->settingsViewController(), firstController);
    EXPECT_EQ(second->contentSize(), (platform::Size{640, 760}));
    EXPECT_TRUE(second->isVisible());
    const auto visible = server.mainScreen()->visibleFrame;
    EXPECT_DOUBLE_EQ(second->frame().midX(), visible.midX());

    coordinator->windowWillClose(first.get());  // another window's close changes nothing
    EXPECT_EQ(coordinator->settingsWindow(), second);
}

TEST_F(Coordinator, AStoredPetOnTheSecondScreenStaysPut) {
    server.setScreens({server.screens().front(), platform::Screen{{1440, 0, 1920, 1080}, {1440, 0, 1920, 1080}, 1}});
    const platform::Rect onSecond{2000, 300, 92, 104};
    EXPECT_EQ(capturedErrors([&] { make({assignment("com.example.editor", AppCategory::work, onSecond)}); }), "");
    EXPECT_EQ(coordinator->store()->assignments.at(0).frame.rect(), onSecond);
}

TEST_F(Coordinator, RefreshAppsReloadsTheSettingsListOnlyWhileItIsOpen) {
    make().start();
    dispatcher.drain();
    coordinator->store()->assignments.push_back(assignment("com.example.editor", AppCategory::work));
    const auto controller = coordinator->settingsViewController();
    ASSERT_TRUE(coordinator->statusMenu()->performItem(1));
    EXPECT_EQ(controller->assignmentRows().size(), 1u);

    coordinator->settingsWindow()->close();
    coordinator->store()->assignments.push_back(assignment("com.spotify.client", AppCategory::music));
    ASSERT_TRUE(coordinator->statusMenu()->performItem(1));
    EXPECT_EQ(controller->assignmentRows().size(), 1u);
}

TEST_F(Coordinator, QuitItemsTerminateTheApplication) {
    make().start();
    ASSERT_TRUE(coordinator->statusMenu()->performItem(3));
    EXPECT_TRUE(application.isTerminated());
}

TEST_F(Coordinator, APlayerReportMergesAtOnceAndTheCallbacksOutliveNoCoordinator) {
    make({assignment("com.spotify.client", AppCategory::music)}).start();
    dispatcher.drain();
    distributedCenter.post("com.spotify.client.PlaybackStateChanged", nullptr,
                           platform::PropertyDictionary{{"Player State", "Playing"}, {"Name", "Song"}});
    dispatcher.drain();
    const auto& status = coordinator->latestStatuses().at("com.spotify.client");
    ASSERT_TRUE(status.mediaPlayback);
    EXPECT_EQ(status.activityText, "Playing: Song");

    coordinator.reset();
    distributedCenter.post("com.spotify.client.PlaybackStateChanged", nullptr,
                           platform::PropertyDictionary{{"Player State", "Paused"}});
    dispatcher.advance(5);  // timer fires and the post find nothing to reach
}

TEST_F(Coordinator, APetsMediaCommandGoesToThePlayer) {
    make({assignment("com.spotify.client", AppCategory::music)}).start();
    dispatcher.drain();
    coordinator->petController()->onMediaCommandRequested("com.spotify.client", MediaPlaybackCommand::next);
    ASSERT_EQ(scripts.size(), 1u);
    EXPECT_NE(scripts[0].find("next track"), std::string::npos);
}

}  // namespace
}  // namespace Mossbridge::testing
