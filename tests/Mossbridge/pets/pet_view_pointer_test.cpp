#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PetViewFixture.h"

namespace Mossbridge {
namespace {

// Pointer input through the window server, with every callback recorded.
class PetViewPointer : public testing::PetViewTest {
protected:
    void SetUp() override {
        PetViewTest::SetUp();
        show(PetKind::robotV1);
        view->onClick = [this] { log.push_back("click"); };
        view->onContextMenu = [this](platform::Point p) {
            log.push_back("menu");
            menuPoints.push_back(p);
        };
        view->onHoverChanged = [this](bool on) { log.push_back(on ? "hover" : "unhover"); };
        view->onInteractionChanged = [this](bool on) { log.push_back(on ? "press" : "release"); };
        view->startAnimating();
    }
    // Press at view point (x, y) and release `dx` points to the right.
    std::string clickOutput(double x, double y, double dx) {
        ::testing::internal::CaptureStdout();
        server.pressLeft(onScreen(x, y));
        server.releaseLeft(onScreen(x + dx, y));
        return ::testing::internal::GetCapturedStdout();
    }

    std::vector<std::string> log;
    std::vector<platform::Point> menuPoints;
};

TEST_F(PetViewPointer, ReleaseWithinFivePointsIsOneClick) {
    const std::string printed = clickOutput(40, 60, 4.9);
    EXPECT_EQ(log, (std::vector<std::string>{"press", "click", "release"}));
    EXPECT_EQ(printed, "Mossbridge: pet clicked for Notes\n");
}

TEST_F(PetViewPointer, ReleaseFivePointsAwayIsNoClick) {
    EXPECT_EQ(clickOutput(40, 60, 5.0), "");
    EXPECT_EQ(log, (std::vector<std::string>{"press", "release"}));
}

TEST_F(PetViewPointer, LongPressOpensTheMenuOnceAndSuppressesTheClick) {
    server.pressLeft(onScreen(40, 60));
    dispatcher.advance(0.6);
    server.releaseLeft(onScreen(40, 60));
    dispatcher.advance(1);
    EXPECT_EQ(log, (std::vector<std::string>{"press", "menu", "release"}));
    ASSERT_EQ(menuPoints.size(), 1u);
    EXPECT_EQ(menuPoints[0], (platform::Point{40, 60}));
}

TEST_F(PetViewPointer, LongPressTimingIsFiftyFiveHundredths) {
    server.pressLeft(onScreen(40, 60));
    dispatcher.advance(0.54);
    EXPECT_EQ(log, (std::vector<std::string>{"press"}));
    dispatcher.advance(0.02);
    EXPECT_EQ(log.back(), "menu");
}

TEST_F(PetViewPointer, ADragCancelsTheLongPressAndMovesTheWindow) {
    server.pressLeft(onScreen(40, 60));
    dispatcher.advance(0.1);
    server.dragLeft(onScreen(43, 60));
    dispatcher.advance(1);
    server.releaseLeft(onScreen(43, 60));
    EXPECT_EQ(log, (std::vector<std::string>{"press", "release"}));
    EXPECT_EQ(panel->frame(), (platform::Rect{103, 100, 92, 104}));
}

TEST_F(PetViewPointer, TinyDragsFollowThePointerWithoutCountingAsADrag) {
    server.pressLeft(onScreen(40, 60));
    server.dragLeft(onScreen(40.4, 60.3));
    EXPECT_NEAR(panel->frame().minX(), 100.4, 1e-9);
    EXPECT_NEAR(panel->frame().minY(), 100.3, 1e-9);
    server.releaseLeft(onScreen(40, 60));
    EXPECT_EQ(log, (std::vector<std::string>{"press", "click", "release"}));
}

TEST_F(PetViewPointer, ThePressInTheResizeSquareResizesAndNeverOpensTheMenu) {
    server.pressLeft(onScreen(85, 5));
    EXPECT_EQ(view->dragMode(), PetView::DragMode::resize);
    dispatcher.advance(1);
    EXPECT_EQ(log, (std::vector<std::string>{"press"}));
    server.dragLeft(onScreen(85 + 92, 5));  // twice as wide: scale 2
    EXPECT_DOUBLE_EQ(panel->frame().height(), 208);
    EXPECT_NEAR(panel->frame().width(), 184, 1e-9);
    EXPECT_EQ(panel->frame().origin, (platform::Point{100, 100}));  // the bottom-left corner stays
}

TEST_F(PetViewPointer, ResizingIsHeldBetweenTheSmallestAndLargestSizes) {
    server.pressLeft(onScreen(85, 5));
    server.dragLeft({0, 599});  // far up and left: nothing left
    EXPECT_DOUBLE_EQ(panel->frame().height(), 57.2);
    EXPECT_NEAR(panel->frame().width(), 50.6, 1e-9);
    server.dragLeft({5000, -5000});  // far down and right
    EXPECT_DOUBLE_EQ(panel->frame().height(), 249.6);
    EXPECT_NEAR(panel->frame().width(), 220.8, 1e-9);
    server.dragLeft(onScreen(85, 5 - 104));  // one base height down: scale 2 from the height
    EXPECT_DOUBLE_EQ(panel->frame().height(), 208);
}

TEST_F(PetViewPointer, RightPressOpensTheMenuBetweenInteractionTrueAndFalse) {
    server.movePointer(onScreen(40, 60));
    log.clear();
    server.pressRight(onScreen(30, 70));
    EXPECT_EQ(log, (std::vector<std::string>{"press", "menu", "release"}));
    EXPECT_EQ(menuPoints.back(), (platform::Point{30, 70}));
    EXPECT_TRUE(view->isAnimationActive());  // a right press does not pause the pet
}

TEST_F(PetViewPointer, ThePetHoldsStillWhilePressedAndResumesAfter) {
    server.pressLeft(onScreen(40, 60));
    EXPECT_FALSE(view->isAnimationActive());
    EXPECT_FALSE(PetAnimationClock::shared().hasFallbackTimer());  // no other view: the clock stopped
    const double tick = view->spriteFrameTick();
    dispatcher.advance(0.3);
    EXPECT_EQ(view->spriteFrameTick(), tick);
    server.releaseLeft(onScreen(40, 60));
    EXPECT_TRUE(view->isAnimationActive());
    dispatcher.advance(0.3);
    EXPECT_GT(view->spriteFrameTick(), tick);
}

TEST_F(PetViewPointer, AHiddenWindowDoesNotResumeAfterTheRelease) {
    server.pressLeft(onScreen(40, 60));
    panel->orderOut();
    view->mouseUp({platform::PointerEventType::leftUp, {40, 60}});
    EXPECT_FALSE(view->isAnimationActive());
}

TEST_F(PetViewPointer, HoverIsReportedOnceAndTheCursorFollowsTheResizeSquare) {
    server.movePointer(onScreen(40, 60));
    server.movePointer(onScreen(41, 61));
    EXPECT_EQ(log, (std::vector<std::string>{"hover"}));
    EXPECT_EQ(server.cursor(), platform::Cursor::arrow);
    server.movePointer(onScreen(88, 4));
    EXPECT_EQ(server.cursor(), platform::Cursor::resizeLeftRight);
    server.movePointer({700, 500});
    EXPECT_EQ(log, (std::vector<std::string>{"hover", "unhover"}));
    EXPECT_FALSE(view->isHovering());
}

TEST_F(PetViewPointer, TrackingAreaCoversTheBoundsWithTheUsualOptions) {
    ASSERT_EQ(view->trackingAreas().size(), 1u);
    EXPECT_EQ(view->trackingAreas()[0], (platform::TrackingArea{view->bounds(), 643}));
    view->updateTrackingAreas();
    EXPECT_EQ(view->trackingAreas().size(), 1u);
}

TEST_F(PetViewPointer, DragsWithoutAWindowAreIgnored) {
    panel->setContentView(nullptr);
    view->mouseDown({platform::PointerEventType::leftDown, {40, 60}});
    view->mouseDragged({platform::PointerEventType::leftDragged, {60, 60}, 20, 0});
    view->mouseUp({platform::PointerEventType::leftUp, {60, 60}});
    EXPECT_EQ(log, (std::vector<std::string>{"press", "release"}));
}

}  // namespace
}  // namespace Mossbridge
