// The player and calendar bubbles: their texts and their buttons.

#include <gtest/gtest.h>

#include <unicode/locid.h>
#include <unicode/timezone.h>

#include "Mossbridge/pets/CalendarBubbleView.h"
#include "Mossbridge/pets/PlayerBubbleView.h"

namespace Mossbridge {
namespace {

MediaPlaybackInfo playerInfo(MediaPlaybackState state) {
    MediaPlaybackInfo info;
    info.appName = "Tunes";
    info.state = state;
    return info;
}

TEST(PlayerBubble, WithNothingKnownItSaysNothingPlayingAndOffersPlay) {
    std::vector<MediaPlaybackCommand> commands;
    auto bubble = PlayerBubbleView::make(playerInfo(MediaPlaybackState::paused), true, BubbleTailEdge::bottom,
                                         [&](MediaPlaybackCommand command) { commands.push_back(command); });
    EXPECT_EQ(bubble->appLabel().text(), "Tunes");
    EXPECT_EQ(bubble->titleLabel().text(), "Nothing playing");
    EXPECT_EQ(bubble->detailLabel().text(), "Paused");
    const auto& middle = bubble->buttons()[1];
    EXPECT_EQ(middle->symbolName(), "play.fill");
    EXPECT_EQ(middle->toolTip, "Play");
    EXPECT_EQ(middle->accessibilityDescription(), "Play");
    EXPECT_EQ(bubble->fittingSize().width, 280);
}

TEST(PlayerBubble, WhilePlayingTheMiddleButtonPauses) {
    MediaPlaybackInfo info = playerInfo(MediaPlaybackState::playing);
    info.title = "Song";
    info.artist = "Band";
    auto bubble = PlayerBubbleView::make(info, true, BubbleTailEdge::top, {});
    EXPECT_EQ(bubble->detailLabel().text(), "Band");
    EXPECT_EQ(bubble->buttons()[1]->symbolName(), "pause.fill");
    EXPECT_EQ(bubble->buttons()[1]->toolTip, "Pause");
    EXPECT_EQ(bubble->buttons()[0]->symbolName(), "backward.fill");
    EXPECT_EQ(bubble->buttons()[2]->toolTip, "Next");
}

TEST(PlayerBubble, DetailJoinsArtistAndAlbumAndSkipsEmptyOnes) {
    MediaPlaybackInfo info = playerInfo(MediaPlaybackState::stopped);
    EXPECT_EQ(playerDetailText(info), "Stopped");
    info.artist = "";
    info.album = "Record";
    EXPECT_EQ(playerDetailText(info), "Record");
    info.artist = "Band";
    EXPECT_EQ(playerDetailText(info), "Band - Record");
}

TEST(PlayerBubble, EachButtonSendsItsCommandAndUnknownTagsDoNothing) {
    std::vector<MediaPlaybackCommand> commands;
    auto bubble = PlayerBubbleView::make(playerInfo(MediaPlaybackState::playing), true, BubbleTailEdge::bottom,
                                         [&](MediaPlaybackCommand command) { commands.push_back(command); });
    for (const auto& button : bubble->buttons()) button->performClick();
    EXPECT_EQ(commands, (std::vector<MediaPlaybackCommand>{MediaPlaybackCommand::previous,
                                                           MediaPlaybackCommand::playPause,
                                                           MediaPlaybackCommand::next}));
    bubble->runCommand(3);
    bubble->runCommand(-1);
    EXPECT_EQ(commands.size(), 3u);
    bubble->buttons()[0]->tag = 9;
    bubble->buttons()[0]->performClick();
    EXPECT_EQ(commands.size(), 3u);
}

// --- Calendar -------------------------------------------------------------------

CalendarEventInfo eventAt(double start, double end) {
    CalendarEventInfo event;
    event.title = "Design review";
    event.startDate = start;
    event.endDate = end;
    return event;
}

TEST(CalendarBubble, StartTextCountsMinutesRoundedUp) {
    const double now = 1.7e9;
    EXPECT_EQ(CalendarBubbleView::relativeStartText(eventAt(now - 300, now + 1500), now), "Now");
    EXPECT_EQ(CalendarBubbleView::relativeStartText(eventAt(now, now + 60), now), "Now");
    EXPECT_EQ(CalendarBubbleView::relativeStartText(eventAt(now + 60, now + 600), now), "Starting now");
    EXPECT_EQ(CalendarBubbleView::relativeStartText(eventAt(now + 61, now + 600), now), "In 2 min");
    EXPECT_EQ(CalendarBubbleView::relativeStartText(eventAt(now + 90, now + 600), now), "In 2 min");
    EXPECT_EQ(CalendarBubbleView::relativeStartText(eventAt(now + 1500, now + 1800), now), "In 25 min");
    // Over already: not "Now", and a start in the past rounds below 2.
    EXPECT_EQ(CalendarBubbleView::relativeStartText(eventAt(now - 600, now - 60), now), "Starting now");
}

class CalendarTimeText : public ::testing::Test {
protected:
    void SetUp() override {
        savedLocale_ = icu::Locale::getDefault();
        savedZone_.reset(icu::TimeZone::createDefault());
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale("en_US"), status);
        icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("UTC"));
    }
    void TearDown() override {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(savedLocale_, status);
        icu::TimeZone::setDefault(*savedZone_);
    }

private:
    icu::Locale savedLocale_;
    std::unique_ptr<icu::TimeZone> savedZone_;
};

TEST_F(CalendarTimeText, ShortTimesJoinedWithoutSpacesThenThePlace) {
    const double nineOhFive = 1699952700;  // 2023-11-14 09:05 UTC
    const std::string start = shortTimeText(nineOhFive);
    EXPECT_EQ(start.rfind("9:05", 0), 0u) << start;
    EXPECT_NE(start.find("AM"), std::string::npos) << start;

    CalendarEventInfo event = eventAt(nineOhFive, nineOhFive + 1800);
    const std::string range = start + "-" + shortTimeText(nineOhFive + 1800);
    EXPECT_EQ(CalendarBubbleView::timeRangeText(event), range);
    event.location = "Room 4";
    event.calendarTitle = "Work";
    EXPECT_EQ(CalendarBubbleView::timeRangeText(event), range + " - Room 4 - Work");
    event.location = "";
    EXPECT_EQ(CalendarBubbleView::timeRangeText(event), range + " - Work");
}

TEST(CalendarBubble, TheButtonOpensTheCalendar) {
    std::vector<CalendarEventCommand> commands;
    auto bubble = CalendarBubbleView::make(eventAt(100, 200), true, BubbleTailEdge::bottom, 50,
                                           [&](CalendarEventCommand command) { commands.push_back(command); });
    EXPECT_EQ(bubble->openButton()->title, "Open Calendar");
    EXPECT_EQ(bubble->startLabel().text(), "Starting now");
    EXPECT_EQ(bubble->titleLabel().text(), "Design review");
    bubble->openButton()->performClick();
    EXPECT_EQ(commands, std::vector<CalendarEventCommand>{CalendarEventCommand::openCalendar});
    EXPECT_EQ(bubble->fittingSize().width, 300);
}

TEST(CalendarBubble, ALongTitleWrapsToTwoLinesAtMost) {
    CalendarEventInfo event = eventAt(0, 1);
    event.title.clear();
    for (int i = 0; i < 30; ++i) event.title += "Quarterly ";
    auto bubble = CalendarBubbleView::make(event, true, BubbleTailEdge::bottom, 0, {});
    EXPECT_EQ(bubble->titleLabel().fittingSize().height, std::ceil(2 * fontLineHeight(platform::Font::boldSystem(12))));
}

}  // namespace
}  // namespace Mossbridge
