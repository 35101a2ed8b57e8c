// The text bubbles: the bubble shape, message sizes and typing, the
// notification read out, and the notifications list.

#include <gtest/gtest.h>

#include <cmath>

#include "CompanionPanelFixture.h"
#include "Mossbridge/pets/MessageBubbleView.h"
#include "Mossbridge/pets/NotificationBubbleViews.h"
#include "Mossbridge/pets/SpeechBubbleView.h"
#include "platform/drawing/Panel.h"

namespace Mossbridge {
namespace {

using Mode = SpeechBubbleView::Mode;
const platform::Font regular = platform::Font::system(11);
const platform::Font semibold = platform::Font::system(11, platform::FontWeight::semibold);

double messageLineHeight() { return std::ceil(std::max(fontLineHeight(regular), fontLineHeight(semibold))); }

class BubbleViewsTest : public testing::CompanionPanelTest {
protected:
    std::shared_ptr<MessageBubbleView> message(MessageBubbleContent content, bool reveal = true) {
        return MessageBubbleView::make(std::move(content), BubbleTailEdge::bottom, reveal, dispatcher);
    }
    static AppNotificationItem item(std::int64_t id, std::string title, std::optional<std::string> subtitle = {}) {
        AppNotificationItem notification;
        notification.recordID = id;
        notification.title = std::move(title);
        notification.subtitle = std::move(subtitle);
        notification.body = "Body of " + std::to_string(id);
        return notification;
    }
};

// --- The shape ---------------------------------------------------------------

TEST(BubbleShape, TheTailSitsOnTheChosenEdgeAndItsTipStaysOffTheCorners) {
    const BubbleShape below = bubbleShape({200, 100}, true, BubbleTailEdge::bottom);
    EXPECT_EQ(below.body, (platform::Rect{4, 4, 192, 84}));
    EXPECT_EQ(below.tail[1], (platform::Point{100, 95}));
    EXPECT_EQ(below.tail[0], (platform::Point{92, 87}));

    const BubbleShape above = bubbleShape({200, 100}, true, BubbleTailEdge::top);
    EXPECT_EQ(above.body, (platform::Rect{4, 11, 192, 84}));
    EXPECT_EQ(above.tail[1], (platform::Point{100, 4}));

    const BubbleShape plain = bubbleShape({200, 100}, false, BubbleTailEdge::top);
    EXPECT_FALSE(plain.hasTail);
    EXPECT_EQ(plain.body, (platform::Rect{4, 4, 192, 92}));

    EXPECT_EQ(bubbleShape({30, 100}, true, BubbleTailEdge::bottom).tail[1].x, 30 - 4 - 18);
}

// --- Wrapping --------------------------------------------------------------------

TEST(BubbleText, WrapsAtSpacesAndLineFeedsAndBreaksWordsTooWideForALine) {
    const AttributedText text{{"one two three", regular}, {"\nfour", semibold}};
    const auto unwrapped = wrapText(text, 0);
    ASSERT_EQ(unwrapped.size(), 2u);
    EXPECT_EQ(plainText(unwrapped[1].pieces), "four");
    EXPECT_EQ(unwrapped[1].pieces.front().font, semibold);

    const double width = platform::measureText("one two", regular).width;
    const auto wrapped = wrapText(text, width + 1);
    ASSERT_EQ(wrapped.size(), 3u);
    EXPECT_EQ(plainText(wrapped[0].pieces), "one two ");
    EXPECT_NEAR(wrapped[0].width, width, 0.5) << "trailing spaces do not count";

    const auto broken = wrapText({{std::string(60, 'W'), regular}}, 50);
    EXPECT_GT(broken.size(), 5u);
    std::string rejoined;
    for (const TextLine& line : broken) {
        EXPECT_LE(line.width, 50);
        rejoined += plainText(line.pieces);
    }
    EXPECT_EQ(rejoined, std::string(60, 'W'));
}

// --- Messages ----------------------------------------------------------------

TEST_F(BubbleViewsTest, AnEmptyMessageIsOneLineAtTheMinimumWidthAndNeverTypes) {
    auto bubble = message(std::string());
    EXPECT_FALSE(bubble->isTyping());
    EXPECT_EQ(bubble->labelSize().width, 124);
    EXPECT_EQ(bubble->labelSize().height, messageLineHeight());
    EXPECT_EQ(bubble->fittingSize().width, 160);
    EXPECT_EQ(bubble->fittingSize().height, messageLineHeight() + 20 + 15);
    dispatcher.advance(1);
    EXPECT_TRUE(bubble->visibleLabel().attributedText().empty());
}

TEST_F(BubbleViewsTest, TypingSpeedDependsOnTheLength) {
    EXPECT_DOUBLE_EQ(MessageBubbleView::typingInterval(10), 0.035);
    EXPECT_DOUBLE_EQ(MessageBubbleView::typingInterval(40), 0.018);
    EXPECT_DOUBLE_EQ(MessageBubbleView::typingInterval(200), 0.012);
}

TEST_F(BubbleViewsTest, AMessageTypesInOneCharacterPerTickAndThenStops) {
    auto bubble = message(std::string("Hi 👋🏽!"));  // the waving hand is one character
    ASSERT_EQ(bubble->messageCharacters().size(), 5u);
    EXPECT_TRUE(bubble->visibleLabel().attributedText().empty());
    dispatcher.advance(0.035 * 4 + 0.001);
    EXPECT_EQ(bubble->visibleLabel().text(), "Hi 👋🏽");
    dispatcher.advance(0.035 * 2);
    EXPECT_EQ(bubble->visibleLabel().text(), "Hi 👋🏽!");
    EXPECT_FALSE(bubble->isTyping());
    EXPECT_EQ(dispatcher.pendingCount(), 0u);
}

TEST_F(BubbleViewsTest, TheBubbleHasTheSizeOfItsWholeTextWhileItTypes) {
    auto typed = message(std::string("A short note"));
    auto whole = message(std::string("A short note"), false);
    EXPECT_EQ(typed->fittingSize(), whole->fittingSize());
    EXPECT_EQ(whole->visibleLabel().text(), "A short note");
}

TEST_F(BubbleViewsTest, ALongMessageIsCutAtFiveLinesOfTheMaximumWidth) {
    std::string text;
    for (int i = 0; i < 80; ++i) text += "word" + std::to_string(i) + " ";
    auto bubble = message(text, false);
    // Wrapped at 380 points, the label is as wide as its widest line.
    EXPECT_LE(bubble->labelSize().width, 380);
    EXPECT_GT(bubble->labelSize().width, 330);
    EXPECT_EQ(bubble->labelSize().height, 5 * messageLineHeight());
    EXPECT_EQ(bubble->fittingSize().width, bubble->labelSize().width + 36);
    bubble->setFrame({{0, 0}, bubble->fittingSize()});
    EXPECT_EQ(bubble->visibleLabel().visibleLines().size(), 5u);
}

TEST_F(BubbleViewsTest, RemovingATypingBubbleFromItsWindowStopsTheTimer) {
    auto view = SpeechBubbleView::make({}, dispatcher);
    auto panel = platform::Panel::make(server, {0, 0, 200, 100});
    panel->setContentView(view);
    view->animatesMessageReveal = true;
    view->setMode(Mode::message("Some words to type"));
    auto bubble = std::static_pointer_cast<MessageBubbleView>(view->arrangedSubviews().at(0));
    EXPECT_TRUE(bubble->isTyping());
    view->setMode(Mode::hidden());
    EXPECT_FALSE(bubble->isTyping());
}

// --- A notification read out ---------------------------------------------------

TEST(NotificationSpeechMessage, JoinsTitleAndSubtitleAndKeepsTheBody) {
    AppNotificationItem notification;
    notification.title = "Anna";
    notification.subtitle = "Lunch";
    notification.body = "Noon?";
    EXPECT_EQ(NotificationSpeechMessage(notification), NotificationSpeechMessage("Anna - Lunch", "Noon?"));
    notification.title = "";
    EXPECT_EQ(NotificationSpeechMessage(notification).title, "Lunch");
    notification.subtitle = "";
    EXPECT_EQ(NotificationSpeechMessage(notification).title, std::nullopt);
    EXPECT_EQ(displayText(NotificationSpeechMessage(notification)), "Noon?");
}

TEST_F(BubbleViewsTest, TheTitleIsSemiboldAndGrowsWithTheTypedText) {
    const MessageBubbleContent content = NotificationSpeechMessage("Hello", "World");
    EXPECT_EQ(displayText(content), "Hello\nWorld");
    EXPECT_EQ(messageAttributedText(content, "Hello\nWorld"),
              (AttributedText{{"Hello", semibold}, {"\nWorld", regular}}));

    auto bubble = message(content);
    dispatcher.advance(0.035 * 3 + 0.001);
    EXPECT_EQ(bubble->visibleLabel().attributedText(), (AttributedText{{"Hel", semibold}}));
}

TEST_F(BubbleViewsTest, WithoutATitleEverythingIsRegular) {
    EXPECT_EQ(messageAttributedText(NotificationSpeechMessage(std::nullopt, "Body"), "Body"),
              (AttributedText{{"Body", regular}}));
    EXPECT_EQ(messageAttributedText(NotificationSpeechMessage("", "Body"), "Body"),
              (AttributedText{{"Body", regular}}));
    EXPECT_EQ(messageAttributedText(std::string("Plain"), "Plain"), (AttributedText{{"Plain", regular}}));
}

TEST_F(BubbleViewsTest, TheSemiboldRangeCountsUtf16Units) {
    // "é" is one UTF-16 unit but two UTF-8 bytes; "😀" is two units.
    const MessageBubbleContent content = NotificationSpeechMessage("é😀", "x");
    EXPECT_EQ(messageAttributedText(content, "é😀\nx"), (AttributedText{{"é😀", semibold}, {"\nx", regular}}));
}

// --- The notifications list -----------------------------------------------------

TEST(RelativeDeliveryText, GivesWholeMinutesHoursAndDays) {
    const double now = 1e9;
    EXPECT_EQ(relativeDeliveryText(now - 59, now), "now");
    EXPECT_EQ(relativeDeliveryText(now - 60, now), "1m");
    EXPECT_EQ(relativeDeliveryText(now - 3599, now), "59m");
    EXPECT_EQ(relativeDeliveryText(now - 3600, now), "1h");
    EXPECT_EQ(relativeDeliveryText(now - 86399, now), "23h");
    EXPECT_EQ(relativeDeliveryText(now - 86400, now), "1d");
    EXPECT_EQ(relativeDeliveryText(now - 86400 * 12.5, now), "12d");
    EXPECT_EQ(relativeDeliveryText(now + 500, now), "now");
    EXPECT_EQ(relativeDeliveryText(std::nan(""), now), "now");
}

TEST_F(BubbleViewsTest, TheListShowsAHeaderAndTheFirstThreeWithOneTail) {
    std::vector<AppNotificationItem> items;
    for (int i = 1; i <= 5; ++i) items.push_back(item(i, "T" + std::to_string(i)));
    auto view = SpeechBubbleView::make({}, dispatcher);
    for (BubbleTailEdge edge : {BubbleTailEdge::bottom, BubbleTailEdge::top}) {
        view->tailEdge = edge;
        view->setMode(Mode::notifications(items));
        view->rebuildContent();
        const auto& arranged = view->arrangedSubviews();
        ASSERT_EQ(arranged.size(), 4u);
        EXPECT_NE(std::dynamic_pointer_cast<NotificationHeaderView>(arranged[0]), nullptr);
        std::vector<bool> tails;
        for (std::size_t i = 1; i < 4; ++i) {
            auto bubble = std::static_pointer_cast<NotificationBubbleView>(arranged[i]);
            EXPECT_EQ(bubble->titleLabel().text(), "T" + std::to_string(i));
            tails.push_back(bubble->showsTail());
        }
        EXPECT_EQ(tails, edge == BubbleTailEdge::bottom ? (std::vector<bool>{false, false, true})
                                                        : (std::vector<bool>{true, false, false}));
    }
    // The header on top, the bubbles below it, 3 apart.
    EXPECT_DOUBLE_EQ(view->arrangedSubviews()[0]->frame().minY() - view->arrangedSubviews()[1]->frame().maxY(), 3);
}

TEST_F(BubbleViewsTest, ANotificationWithoutTitleOrSubtitle) {
    AppNotificationItem notification = item(7, "");
    notification.deliveredDate = dispatcher.clock().now() - 7200;
    NotificationBubbleView bubble(notification, false, BubbleTailEdge::bottom, dispatcher.clock().now());
    bubble.setFrame({{0, 0}, bubble.fittingSize()});
    EXPECT_EQ(bubble.titleLabel().text(), "Notification");
    EXPECT_EQ(bubble.timeLabel().text(), "2h");
    EXPECT_EQ(bubble.subtitleLabel(), nullptr);
    EXPECT_DOUBLE_EQ(bubble.titleLabel().frame().minY() - bubble.bodyLabel().frame().maxY(), 4);
    EXPECT_EQ(bubble.fittingSize().width, 390);

    NotificationBubbleView withSubtitle(item(8, "Mail", "From Bo"), false, BubbleTailEdge::bottom, 0);
    withSubtitle.setFrame({{0, 0}, withSubtitle.fittingSize()});
    ASSERT_NE(withSubtitle.subtitleLabel(), nullptr);
    EXPECT_DOUBLE_EQ(withSubtitle.titleLabel().frame().minY() - withSubtitle.subtitleLabel()->frame().maxY(), 2);
    EXPECT_DOUBLE_EQ(withSubtitle.subtitleLabel()->frame().minY() - withSubtitle.bodyLabel().frame().maxY(), 4);
}

TEST_F(BubbleViewsTest, TheBodyShowsAtMostThreeLines) {
    AppNotificationItem notification = item(1, "Long");
    notification.body.clear();
    for (int i = 0; i < 60; ++i) notification.body += "lorem ipsum ";
    NotificationBubbleView bubble(notification, false, BubbleTailEdge::bottom, 0);
    EXPECT_EQ(bubble.bodyLabel().fittingSize().height, std::ceil(3 * fontLineHeight(platform::Font::system(10))));
}

TEST_F(BubbleViewsTest, TheClearButtonNeedsAnInstalledCallbackAndALiveView) {
    auto view = SpeechBubbleView::make({}, dispatcher);
    view->setMode(Mode::notifications({item(1, "A")}));
    auto header = std::static_pointer_cast<NotificationHeaderView>(view->arrangedSubviews().at(0));
    EXPECT_EQ(header->clearButton()->symbolName(), "xmark.circle.fill");
    EXPECT_EQ(header->clearButton()->toolTip, "Clear current notifications");
    header->clearButton()->performClick();  // no callback: nothing happens

    int clears = 0;
    view->onNotificationsClear = [&] { ++clears; };
    header->clearButton()->performClick();
    EXPECT_EQ(clears, 1);
    view.reset();
    header->clearButton()->performClick();
    EXPECT_EQ(clears, 1);
}

TEST(SpeechBubbleMode, ComparesCaseAndEveryPayloadField) {
    AppNotificationItem a;
    a.recordID = 1;
    AppNotificationItem b = a;
    EXPECT_EQ(Mode::notifications({a}), Mode::notifications({b}));
    b.deliveredDate = 5;
    EXPECT_NE(Mode::notifications({a}), Mode::notifications({b}));
    EXPECT_NE(Mode::message(""), Mode::hidden());
    EXPECT_EQ(Mode::message("x").kind(), Mode::Case::message);
    EXPECT_EQ(Mode().kind(), Mode::Case::hidden);
}

}  // namespace
}  // namespace Mossbridge
