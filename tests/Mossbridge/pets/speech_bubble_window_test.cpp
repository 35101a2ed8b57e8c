// The speech-bubble panel: how long bubbles stay, which request replaces
// which, where the panel goes, and the fades, all on virtual time.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "CompanionPanelFixture.h"
#include "Mossbridge/pets/NotificationBubbleViews.h"
#include "Mossbridge/pets/PlayerBubbleView.h"
#include "Mossbridge/pets/SpeechBubbleWindow.h"
#include "platform/drawing/Panel.h"

namespace Mossbridge {
namespace {

using Mode = SpeechBubbleWindow::Mode;
using TailEdge = SpeechBubbleWindow::TailEdge;

class SpeechBubbleWindowTest : public testing::CompanionPanelTest {
protected:
    static constexpr platform::Rect pet{600, 300, 92, 104};

    static MediaPlaybackInfo player() {
        MediaPlaybackInfo info;
        info.appName = "Tunes";
        info.state = MediaPlaybackState::playing;
        info.title = "Song";
        return info;
    }
    static AppNotificationItem notification(std::int64_t id) {
        AppNotificationItem item;
        item.recordID = id;
        item.title = "Title " + std::to_string(id);
        item.body = "Body";
        return item;
    }
    bool shown() const { return bubble->panel().isVisible(); }

    std::shared_ptr<SpeechBubbleWindow> bubble = SpeechBubbleWindow::make(server, dispatcher);
};

TEST_F(SpeechBubbleWindowTest, StartsHiddenOnTheFloatingLevel) {
    EXPECT_FALSE(shown());
    EXPECT_EQ(bubble->panel().alphaValue, 0);
    EXPECT_EQ(bubble->panel().level, 3);
    EXPECT_EQ(bubble->mode(), Mode::hidden());
    EXPECT_EQ(bubble->tailEdge(), TailEdge::bottom);
}

// --- Timing and replacement --------------------------------------------------

TEST_F(SpeechBubbleWindowTest, AMessageFadesInAndHidesItselfAfterItsTime) {
    bubble->showMessage("Hello there", pet);
    EXPECT_TRUE(shown());
    EXPECT_LT(bubble->panel().alphaValue, 1);
    dispatcher.advance(0.12);
    EXPECT_EQ(bubble->panel().alphaValue, 1);

    dispatcher.advance(3.2 - 0.12 - 0.01);
    EXPECT_EQ(bubble->mode(), Mode::message("Hello there"));
    dispatcher.advance(0.01);
    EXPECT_EQ(bubble->mode(), Mode::hidden());
    EXPECT_TRUE(bubble->bubbleView().arrangedSubviews().empty());
    EXPECT_TRUE(shown()) << "still fading out";
    dispatcher.advance(0.12);
    EXPECT_FALSE(shown());
    EXPECT_EQ(bubble->panel().alphaValue, 0);
}

TEST_F(SpeechBubbleWindowTest, ANotificationReadOutStaysLongerThanAMessage) {
    bubble->showNotificationSpeech(notification(1), pet);
    EXPECT_EQ(bubble->mode(), Mode::notificationSpeech(NotificationSpeechMessage(notification(1))));
    dispatcher.advance(4.39);
    EXPECT_NE(bubble->mode(), Mode::hidden());
    dispatcher.advance(0.01);
    EXPECT_EQ(bubble->mode(), Mode::hidden());
}

TEST_F(SpeechBubbleWindowTest, ASecondMessageCancelsTheFirstHide) {
    bubble->showMessage("one", pet);
    dispatcher.advance(2);
    bubble->showMessage("two", pet);
    dispatcher.advance(1.5);  // 3.5 s after the first
    EXPECT_EQ(bubble->mode(), Mode::message("two"));
    dispatcher.advance(1.7);  // 3.2 s after the second
    EXPECT_EQ(bubble->mode(), Mode::hidden());
}

TEST_F(SpeechBubbleWindowTest, AMessageOverThePlayerHidesThePanelRatherThanReturningToIt) {
    bubble->showMediaPlayer(player(), pet);
    dispatcher.advance(1);
    bubble->showMessage("Hi", pet);
    EXPECT_EQ(bubble->mode(), Mode::message("Hi"));
    dispatcher.advance(3.2 + 0.12);
    EXPECT_EQ(bubble->mode(), Mode::hidden());
    EXPECT_FALSE(shown());
}

TEST_F(SpeechBubbleWindowTest, PersistentBubblesCancelAPendingHide) {
    bubble->showMessage("Hi", pet);
    dispatcher.advance(1);
    bubble->showMediaPlayer(player(), pet);
    EXPECT_FALSE(bubble->hasPendingHide());
    dispatcher.advance(10);
    EXPECT_EQ(bubble->mode(), Mode::mediaPlayer(player()));
    EXPECT_TRUE(shown());

    CalendarEventInfo event;
    event.title = "Standup";
    bubble->showNotificationSpeech(notification(2), pet);
    dispatcher.advance(1);
    bubble->showCalendarEvent(event, pet);
    dispatcher.advance(10);
    EXPECT_EQ(bubble->mode(), Mode::calendarEvent(event));
}

TEST_F(SpeechBubbleWindowTest, ABubbleShownJustAfterAHideStaysOnScreen) {
    bubble->showMessage("first", pet);
    dispatcher.advance(0.5);
    bubble->hideBubble();
    dispatcher.advance(0.05);
    bubble->showMediaPlayer(player(), pet);
    dispatcher.advance(0.5);
    EXPECT_TRUE(shown()) << "the earlier fade-out must not order the new bubble out";
    EXPECT_EQ(bubble->panel().alphaValue, 1);
    EXPECT_EQ(bubble->mode(), Mode::mediaPlayer(player()));
}

TEST_F(SpeechBubbleWindowTest, PresentingTheSameModeAgainBuildsTheBubbleAfresh) {
    bubble->showMessage("A message that types", pet);
    dispatcher.advance(0.2);
    const auto first = bubble->bubbleView().arrangedSubviews().at(0);
    ASSERT_GT(std::static_pointer_cast<MessageBubbleView>(first)->visibleCharacterCount(), 0u);

    bubble->showMessage("A message that types", pet);
    const auto second = std::static_pointer_cast<MessageBubbleView>(bubble->bubbleView().arrangedSubviews().at(0));
    EXPECT_NE(first, second);
    EXPECT_EQ(second->visibleCharacterCount(), 0u);
    EXPECT_TRUE(second->isTyping());

    bubble->showMediaPlayer(player(), pet);
    const auto playerView = bubble->bubbleView().arrangedSubviews().at(0);
    bubble->showMediaPlayer(player(), pet);
    EXPECT_NE(playerView, bubble->bubbleView().arrangedSubviews().at(0));
}

// --- Placement --------------------------------------------------------------

TEST_F(SpeechBubbleWindowTest, TailLengthFollowsThePetHeightWithinLimits) {
    EXPECT_EQ(SpeechBubbleWindow::tailLength({0, 0, 90, 100}), 18);
    EXPECT_DOUBLE_EQ(SpeechBubbleWindow::tailLength({0, 0, 90, 200}), 36);
    EXPECT_EQ(SpeechBubbleWindow::tailLength({0, 0, 90, 300}), 48);
    EXPECT_EQ(SpeechBubbleWindow::tailLength({0, 0, 90, 20}), 18);
    EXPECT_EQ(SpeechBubbleWindow::tailLength({0, 0, 90, std::numeric_limits<double>::quiet_NaN()}), 18);
}

TEST_F(SpeechBubbleWindowTest, ABubbleAboveThePetOverlapsItsTopByTheTail) {
    bubble->showMessage("Hello", pet);
    const platform::Rect frame = bubble->panel().frame();
    const double tail = 0.18 * pet.height();
    EXPECT_EQ(bubble->tailEdge(), TailEdge::bottom);
    EXPECT_DOUBLE_EQ(frame.minY(), pet.maxY() + 2 - tail);
    EXPECT_DOUBLE_EQ(frame.midX(), pet.midX());
    EXPECT_EQ(frame.size, bubble->measureBubble(Mode::message("Hello")));
}

TEST_F(SpeechBubbleWindowTest, APetAtTheTopOfTheScreenGetsItsBubbleBelow) {
    const platform::Rect high{600, 780, 92, 104};
    bubble->showMessage("Hello", high);
    const platform::Rect frame = bubble->panel().frame();
    EXPECT_EQ(bubble->tailEdge(), TailEdge::top);
    EXPECT_EQ(bubble->bubbleView().tailEdge, TailEdge::top);
    EXPECT_DOUBLE_EQ(frame.minY(), high.minY() - frame.height() - 2 + 0.18 * high.height());

    // Right at the limit it still fits above; a little higher it does not.
    const double h = bubble->measureBubble(Mode::message("Hello")).height;
    const double t = SpeechBubbleWindow::tailLength(pet);
    const double highestTop = 875 - 10 - h - 2 + t;
    EXPECT_EQ(bubble->chooseTailEdge(Mode::message("Hello"), {600, highestTop - 104 - 0.001, 92, 104}),
              TailEdge::bottom);
    EXPECT_EQ(bubble->chooseTailEdge(Mode::message("Hello"), {600, highestTop - 104 + 0.001, 92, 104}),
              TailEdge::top);
}

TEST_F(SpeechBubbleWindowTest, TheFrameIsKeptInsideTheVisibleFrame) {
    bubble->showMessage("Hello", {-40, 300, 92, 104});
    EXPECT_EQ(bubble->panel().frame().minX(), 10);
    bubble->showMessage("Hello", {1400, 300, 92, 104});
    EXPECT_EQ(bubble->panel().frame().maxX(), 1440 - 10);

    // Too wide for the screen: the right-hand limit wins.
    server.setScreens({platform::Screen{{0, 0, 150, 900}, {0, 0, 150, 875}, 2}});
    bubble->showMessage("Hello", {20, 300, 92, 104});
    const platform::Rect frame = bubble->panel().frame();
    EXPECT_GT(frame.width(), 130);
    EXPECT_DOUBLE_EQ(frame.minX(), 150 - frame.width() - 10);
}

TEST_F(SpeechBubbleWindowTest, ThePetsScreenIsTheFirstWhoseVisibleFrameItMeets) {
    server.setScreens({platform::Screen{{0, 0, 1440, 900}, {0, 0, 1440, 875}, 2},
                       platform::Screen{{1440, 0, 1000, 800}, {1440, 0, 1000, 780}, 2}});
    EXPECT_EQ(visibleFrameContaining(server, {1500, 100, 90, 100}), (platform::Rect{1440, 0, 1000, 780}));
    EXPECT_EQ(visibleFrameContaining(server, {5000, 100, 90, 100}), (platform::Rect{0, 0, 1440, 875}));
    server.setScreens({});
    EXPECT_EQ(visibleFrameContaining(server, {5000, 100, 90, 100}), (platform::Rect{0, 0, 1440, 900}));
}

TEST_F(SpeechBubbleWindowTest, RepositionFollowsThePetAndRebuildsOnlyWhenTheEdgeChanges) {
    const platform::Rect before = bubble->panel().frame();
    bubble->reposition(pet);
    EXPECT_EQ(bubble->panel().frame(), before) << "hidden: nothing moves";

    bubble->showMessage("Typing along nicely", pet);
    dispatcher.advance(0.2);
    auto typing = std::static_pointer_cast<MessageBubbleView>(bubble->bubbleView().arrangedSubviews().at(0));
    const std::size_t typed = typing->visibleCharacterCount();
    ASSERT_GT(typed, 0u);

    bubble->reposition({700, 300, 92, 104});
    EXPECT_DOUBLE_EQ(bubble->panel().frame().midX(), 746);
    EXPECT_EQ(bubble->bubbleView().arrangedSubviews().at(0), typing) << "same edge: the bubble keeps typing";
    EXPECT_TRUE(typing->isTyping());

    bubble->reposition({700, 780, 92, 104});
    EXPECT_EQ(bubble->tailEdge(), TailEdge::top);
    auto rebuilt = std::static_pointer_cast<MessageBubbleView>(bubble->bubbleView().arrangedSubviews().at(0));
    EXPECT_NE(rebuilt, typing);
    EXPECT_EQ(rebuilt->tailEdge(), TailEdge::top);
    EXPECT_EQ(rebuilt->visibleCharacterCount(), 0u);
}

// --- Events out --------------------------------------------------------------

TEST_F(SpeechBubbleWindowTest, ButtonClicksReachTheOwnersCallbacks) {
    std::vector<MediaPlaybackCommand> commands;
    bubble->onMediaCommand = [&](MediaPlaybackCommand command) { commands.push_back(command); };
    bubble->showMediaPlayer(player(), pet);
    dispatcher.advance(0.12);
    auto view = std::static_pointer_cast<PlayerBubbleView>(bubble->bubbleView().arrangedSubviews().at(0));
    const auto& next = view->buttons()[2];
    platform::Point centre{next->frame().midX(), next->frame().midY()};
    for (const platform::View* v = next->superview(); v; v = v->superview()) {
        centre.x += v->frame().minX();
        centre.y += v->frame().minY();
    }
    const platform::Point onScreen{bubble->panel().frame().minX() + centre.x, bubble->panel().frame().minY() + centre.y};
    server.pressLeft(onScreen);
    server.releaseLeft(onScreen);
    EXPECT_EQ(commands, std::vector<MediaPlaybackCommand>{MediaPlaybackCommand::next});

    int clears = 0;
    bubble->onNotificationsClear = [&] { ++clears; };
    bubble->present(Mode::notifications({notification(1)}), pet);
    auto header = std::static_pointer_cast<NotificationHeaderView>(bubble->bubbleView().arrangedSubviews().at(0));
    header->clearButton()->performClick();
    EXPECT_EQ(clears, 1);
}

TEST_F(SpeechBubbleWindowTest, ThePointerOverTheBubbleIsReported) {
    std::vector<bool> hovering;
    bubble->bubbleView().onHoverChanged = [&](bool over) { hovering.push_back(over); };
    bubble->showMessage("Hover me", pet);
    const platform::Rect frame = bubble->panel().frame();
    server.movePointer({frame.midX(), frame.midY()});
    server.movePointer({frame.midX() + 1, frame.midY()});
    server.movePointer({10, 10});
    EXPECT_EQ(hovering, (std::vector<bool>{true, true, true, false})) << "enter and move, move, leave";
}

}  // namespace
}  // namespace Mossbridge
