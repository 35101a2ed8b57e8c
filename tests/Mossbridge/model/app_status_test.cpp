#include "Mossbridge/model/AppStatus.h"

#include <gtest/gtest.h>

#include <cmath>

namespace Mossbridge {
namespace {

TEST(CalendarActivityText, DependsOnWhereNowLies) {
    platform::VirtualClock clock{1'700'000'000.0};
    const auto text = [&](double startsIn, double lasts = 3600) {
        CalendarEventInfo event;
        event.title = "Standup";
        event.startDate = clock.now() + startsIn;
        event.endDate = event.startDate + lasts;
        return calendarActivityText(event, clock);
    };
    EXPECT_EQ(text(-30), "In event: Standup");
    EXPECT_EQ(text(0), "In event: Standup");
    EXPECT_EQ(text(250), "Event in 5m: Standup");  // minutes round up
    EXPECT_EQ(text(61), "Event in 2m: Standup");
    EXPECT_EQ(text(60), "Event now: Standup");
    EXPECT_EQ(text(-3600, 3540), "Event now: Standup");  // ended a minute ago
    // far-off and malformed dates neither overflow nor trap
    EXPECT_EQ(text(1e30), "Event in 9223372036854775807m: Standup");
    EXPECT_EQ(text(std::nan("")), "Event now: Standup");
}

TEST(MediaActivityText, TitleArtistAndState) {
    const auto text = [](MediaPlaybackState state, std::optional<std::string> title,
                         std::optional<std::string> artist = std::nullopt) {
        return mediaActivityText({"com.example.player", "Player", state, title, artist, std::string("Album")});
    };
    using enum MediaPlaybackState;
    EXPECT_EQ(text(playing, "Song", "Band"), "Playing: Song - Band");
    EXPECT_EQ(text(playing, "Song", ""), "Playing: Song");
    EXPECT_EQ(text(paused, "Song"), "Paused: Song");
    EXPECT_EQ(text(stopped, "Song", "Band"), std::nullopt);
    EXPECT_EQ(text(playing, std::nullopt), "Playing");
    EXPECT_EQ(text(playing, "", "Band"), "Playing");
    EXPECT_EQ(text(paused, std::nullopt), std::nullopt);
}

TEST(MediaPlaybackStateRawValue, ExactMatchOnly) {
    for (auto state : {MediaPlaybackState::playing, MediaPlaybackState::paused, MediaPlaybackState::stopped}) {
        EXPECT_EQ(mediaPlaybackStateFromRawValue(rawValue(state)), state);
    }
    EXPECT_EQ(mediaPlaybackStateFromRawValue("Playing"), std::nullopt);
    EXPECT_EQ(caseName(MediaPlaybackCommand::playPause), "playPause");
}

TEST(AppStatusEquality, OrderOfNotificationsAndAbsenceCount) {
    const AppNotificationItem first{1, "A", std::nullopt, "body", 10};
    const AppNotificationItem second{2, "B", std::string("sub"), "body", 20};
    AppStatus a;
    a.notifications = {first, second};
    AppStatus b = a;
    EXPECT_EQ(a, b);
    b.notifications = {second, first};
    EXPECT_NE(a, b);

    AppStatus emptyBadge;
    emptyBadge.badgeText = "";
    EXPECT_NE(emptyBadge, AppStatus::empty);
}

}  // namespace
}  // namespace Mossbridge
