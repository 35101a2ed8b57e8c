// The refresh pass: one status task at a time, the merge of live media and
// calendar information, calendar monitoring, notification clearing and the
// settings window's live update.

#include <stdlib.h>

#include "CoordinatorFixture.h"

namespace Mossbridge::testing {
namespace {

using RefreshCycle = CoordinatorFixture;

CalendarEventInfo event(const std::string& title, double start, double end) {
    return CalendarEventInfo{title, start, end, std::nullopt, std::nullopt, false};
}

MediaPlaybackInfo playback(MediaPlaybackState state, std::optional<std::string> title = "Song") {
    return MediaPlaybackInfo{"com.spotify.client", "Spotify", state, std::move(title), "Band", std::nullopt};
}

TEST_F(RefreshCycle, OnlyOneStatusTaskIsInFlightAndPassesMeanwhileSayTheySkipped) {
    setenv("MOSSBRIDGE_PERF_LOGS", "1", 1);
    make();
    const std::string lines = captured([&] {
        coordinator->refresh();
        coordinator->refresh();
        coordinator->refresh();
        EXPECT_TRUE(coordinator->isStatusRefreshTaskInFlight());
        dispatcher.drain();
    });
    EXPECT_EQ(occurrences(lines, "status.refresh.task.skip reason=task-in-flight apps=2\n"), 2);
    EXPECT_EQ(occurrences(lines, " refresh.total "), 3);
    EXPECT_EQ(badgeReads, 1);
    EXPECT_FALSE(coordinator->isStatusRefreshTaskInFlight());

    badges = {{"com.example.editor", "3"}};
    dispatcher.advance(6.5);  // past the service's read interval; without start() no timer refreshes
    EXPECT_EQ(badgeReads, 1);
    coordinator->refresh();
    dispatcher.drain();
    EXPECT_EQ(coordinator->latestStatuses().at("com.example.editor").badgeText, "3");
}

TEST_F(RefreshCycle, TheMergeLaysCalendarThenMediaOverTheStatuses) {
    make({assignment("com.apple.iCal", AppCategory::calendar), assignment("com.spotify.client", AppCategory::calendar)});
    const double now = dispatcher.clock().now();
    struct Case {
        const char* name;
        std::optional<CalendarEventInfo> event;
        std::optional<std::string> badge, activity;
        std::optional<std::string> wantBadge, wantActivity;
    };
    const std::vector<Case> cases = {
        {"event, no badge", event("Review", now + 300, now + 900), std::nullopt, "x", "!", "Event in 5m: Review"},
        {"event keeps a badge", event("Review", now - 60, now + 900), "2", std::nullopt, "2", "In event: Review"},
        {"no event clears event text", std::nullopt, std::nullopt, "Event now: Review", std::nullopt, std::nullopt},
        {"no event clears in-event text", std::nullopt, std::nullopt, "In event: Review", std::nullopt, std::nullopt},
        {"no event keeps other text", std::nullopt, "1", "Typing", "1", "Typing"},
    };
    for (const Case& c : cases) {
        coordinator->handleCalendarEventChanged(c.event);
        AppStatus status;
        status.badgeText = c.badge;
        status.activityText = c.activity;
        const auto merged = coordinator->mergeLiveInfo({{"com.apple.iCal", status}});
        EXPECT_EQ(merged.at("com.apple.iCal").badgeText, c.wantBadge) << c.name;
        EXPECT_EQ(merged.at("com.apple.iCal").activityText, c.wantActivity) << c.name;
        EXPECT_EQ(merged.at("com.apple.iCal").calendarEvent, c.event) << c.name;
    }

    // A calendar-category player ends with the media text, or none when stopped.
    coordinator->handleCalendarEventChanged(event("Review", now + 60, now + 900));
    coordinator->handleMediaPlaybackChanged(playback(MediaPlaybackState::playing));
    EXPECT_EQ(coordinator->mergeLiveInfo({}).at("com.spotify.client").activityText, "Playing: Song - Band");
    coordinator->handleMediaPlaybackChanged(playback(MediaPlaybackState::stopped));
    EXPECT_EQ(coordinator->mergeLiveInfo({}).at("com.spotify.client").activityText, std::nullopt);
}

TEST(RefreshCycleRules, SignificantMediaChanges) {
    const auto playing = playback(MediaPlaybackState::playing);
    auto otherAlbum = playing;
    otherAlbum.album = "B-sides";
    const struct {
        std::optional<MediaPlaybackInfo> previous;
        MediaPlaybackInfo info;
        bool significant;
    } cases[] = {
        {std::nullopt, playing, true},
        {playing, playing, false},
        {playback(MediaPlaybackState::paused), playing, true},
        {playing, playback(MediaPlaybackState::playing, "Other"), true},
        {playing, otherAlbum, true},
        {playing, playback(MediaPlaybackState::playing, std::nullopt), true},
        {std::nullopt, playback(MediaPlaybackState::paused), false},
        {playing, playback(MediaPlaybackState::stopped), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MossbridgeCoordinator::isSignificantMediaChange(c.previous, c.info), c.significant);
    }
}

TEST(RefreshCycleRules, SignificantCalendarChanges) {
    const double now = 1.7e9;
    const auto soon = event("Review", now + 300, now + 900);
    const struct {
        std::optional<CalendarEventInfo> previous, event;
        bool significant;
    } cases[] = {
        {soon, std::nullopt, false},
        {std::nullopt, event("Far", now + 660, now + 900), false},    // 11 minutes
        {std::nullopt, event("Near", now + 600, now + 900), true},    // 10 minutes
        {std::nullopt, event("Near", now + 541, now + 900), true},    // 9 min 1 s counts as 10
        {std::nullopt, event("Now", now - 60, now + 900), true},      // in progress
        {event("Far", now + 661, now + 900), event("Far", now + 661, now + 900), false},
        {soon, soon, false},
        {soon, event("Renamed", now + 300, now + 900), true},
        {soon, event("Review", now + 300, now + 960), true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MossbridgeCoordinator::isSignificantCalendarChange(c.previous, c.event, now), c.significant)
            << (c.event ? c.event->title : "none");
    }
}

TEST_F(RefreshCycle, CalendarMonitoringFollowsTheCalendarCategory) {
    make({assignment("com.example.editor", AppCategory::work)});
    coordinator->handleCalendarEventChanged(event("Review", 0, 1));
    coordinator->refresh();
    EXPECT_FALSE(coordinator->calendarEventMonitor().isStarted());
    EXPECT_FALSE(coordinator->latestCalendarEvent());

    coordinator->store()->assignments[0].category = AppCategory::calendar;
    coordinator->refresh();
    EXPECT_TRUE(coordinator->calendarEventMonitor().isStarted());
}

TEST_F(RefreshCycle, ClearingNotificationsEmptiesTheListAtOnceAndTheServiceRemembersIt) {
    const auto item = [](std::int64_t id) { return AppNotificationItem{id, "T", std::nullopt, "B", 0}; };
    notifications = {{"com.example.editor", {item(3), item(2), item(1)}}};
    make().start();
    dispatcher.drain();
    ASSERT_EQ(coordinator->latestStatuses().at("com.example.editor").notifications.size(), 3u);

    coordinator->petController()->onNotificationsClearRequested("com.example.editor", 2);
    EXPECT_EQ(coordinator->latestStatuses().at("com.example.editor").notifications,
              (std::vector<AppNotificationItem>{item(3)}));
    coordinator->handleNotificationsClearRequest("com.example.unknown", 9);
    EXPECT_EQ(coordinator->latestStatuses().at("com.example.unknown"), AppStatus::empty);

    dispatcher.drain();
    EXPECT_EQ(coordinator->latestStatuses().at("com.example.editor").notifications,
              (std::vector<AppNotificationItem>{item(3)}));
    EXPECT_TRUE(defaults->object(kClearedNotificationRecordIDsKey));
}

TEST_F(RefreshCycle, TheSettingsLiveUpdateRunsAtMostEveryFourSecondsOnTheMonotonicClock) {
    make().start();  // the first pass updates although none ran before
    const auto& controller = coordinator->settingsViewController();
    const auto accessibilityStatus = [&] { return controller->permissionRows().at(0).status; };
    EXPECT_EQ(accessibilityStatus(), "Not granted");

    accessibility->setTrusted(true);
    dispatcher.advance(4.0);  // timer passes at 2 s and 4 s: not more than 4 s yet
    EXPECT_EQ(accessibilityStatus(), "Not granted");
    dispatcher.virtualClock().setWallTime(dispatcher.clock().now() - 3600);  // the user sets the clock back
    dispatcher.advance(2.0);
    EXPECT_EQ(accessibilityStatus(), "Granted");

    accessibility->setTrusted(false);
    dispatcher.virtualClock().setWallTime(dispatcher.clock().now() + 7200);  // and forward
    dispatcher.advance(4.0);
    EXPECT_EQ(accessibilityStatus(), "Granted");
    dispatcher.advance(2.0);
    EXPECT_EQ(accessibilityStatus(), "Not granted");
}

}  // namespace
}  // namespace Mossbridge::testing
