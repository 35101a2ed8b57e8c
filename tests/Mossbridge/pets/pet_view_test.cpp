#include "Mossbridge/pets/PetView.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "PetViewFixture.h"
#include "platform/drawing/CairoCanvas.h"

namespace Mossbridge {
namespace {

using S = PetAnimationState;

class PetViewState : public testing::PetViewTest {};

TEST_F(PetViewState, DisplayedStateOrderSpeakingHoverControllerThenSleep) {
    show(PetKind::robotV1);
    const double now = dispatcher.clock().now();
    view->inactiveSince = now - 13;
    EXPECT_EQ(view->displayedAnimationState(), S::sleep);
    view->inactiveSince = now - 12;  // not more than 12 s yet
    EXPECT_EQ(view->displayedAnimationState(), S::idle);
    view->inactiveSince = now - 13;
    view->animationState = S::work;
    EXPECT_EQ(view->displayedAnimationState(), S::work);
    server.movePointer(onScreen(40, 60));
    EXPECT_EQ(view->displayedAnimationState(), S::hover);
    view->showBubbleMessage();
    EXPECT_EQ(view->displayedAnimationState(), S::speaking);
}

TEST_F(PetViewState, AnIdlePetFallsAsleepOnceItsAppHasBeenInactiveLongEnough) {
    show(PetKind::robotV1);
    view->inactiveSince = dispatcher.clock().now();
    dispatcher.virtualClock().advance(12.5);
    EXPECT_EQ(view->displayedAnimationState(), S::sleep);
    EXPECT_EQ(view->currentAnimationDrawState().row, 1);  // the robot's sleep row
}

TEST_F(PetViewState, SpeakingLastsThreePointTwoSecondsAfterTheLastCall) {
    show(PetKind::robotV1);
    view->showBubbleMessage();
    dispatcher.advance(2);
    view->showBubbleMessage();
    dispatcher.advance(3.1);
    EXPECT_EQ(view->displayedAnimationState(), S::speaking);
    dispatcher.advance(0.15);
    EXPECT_EQ(view->displayedAnimationState(), S::idle);
    EXPECT_FALSE(view->bubbleMessage());
}

TEST_F(PetViewState, APendingSpeakingEndDoesNotKeepAGoneViewAlive) {
    show(PetKind::cat);
    view->showBubbleMessage();
    panel->setContentView(nullptr);
    const std::weak_ptr<PetView> gone = view;
    view.reset();
    EXPECT_TRUE(gone.expired());
    dispatcher.advance(4);  // the pending end finds no view and does nothing
}

class PetViewSprite : public testing::PetViewTest {};

TEST_F(PetViewSprite, SpriteLayerShowsTheCurrentFrameAboveTheBadgeBand) {
    show(PetKind::robotV1);
    const auto& layers = view->layers();
    EXPECT_FALSE(layers.sprite->hidden);
    EXPECT_EQ(layers.sprite->frame, (platform::Rect{0, 24, 92, 80}));
    EXPECT_EQ(layers.overlay->frame, (platform::Rect{0, 0, 92, 104}));
    EXPECT_DOUBLE_EQ(layers.sprite->contentsScale, 2);
    EXPECT_LT(layers.sprite->zPosition, layers.overlay->zPosition);
    ASSERT_TRUE(layers.sprite->contents);
    EXPECT_EQ(layers.sprite->contents->width(), 96);  // one generated cell
}

TEST_F(PetViewSprite, PetsShowingTheSameFrameScaleItOnce) {
    platform::CairoCanvas::clearPictureCache();
    show(PetKind::robotV1);
    const auto first = panel->render();
    const auto one = platform::CairoCanvas::pictureCacheStats();
    show(PetKind::robotV1);  // another pet of the kind, on the same frame
    const auto second = panel->render();
    const auto two = platform::CairoCanvas::pictureCacheStats();
    EXPECT_EQ(two.hits - one.hits, 2u);  // its frame and its badges
    EXPECT_EQ(two.misses, one.misses);
    EXPECT_TRUE(std::equal(first->data(), first->data() + first->width() * first->height(), second->data()));
    platform::CairoCanvas::clearPictureCache();
}

TEST_F(PetViewSprite, TicksAdvanceFramesAtTheClipRate) {
    show(PetKind::robotV1);
    view->startAnimating();
    dispatcher.advance(1.0);  // about 60 ticks of 1/60 s; idle plays at 7 frames per second
    EXPECT_NEAR(view->spriteFrameTick(), 7, 0.2);
    EXPECT_NEAR(view->animationTick(), 2.88, 0.06);
    const auto manifest = *spriteManifest(PetKind::robotV1);
    const auto expected = spriteFrame(manifest.clips.at(S::idle), manifest, view->spriteFrameTick());
    ASSERT_TRUE(expected);
    EXPECT_EQ(view->layers().sprite->contents, expected->croppedFrame);
}

TEST_F(PetViewSprite, TicksThatStayOnTheSameFrameLeaveTheLayerAlone) {
    show(PetKind::robotV1);
    view->startAnimating();
    view->advanceAnimation(0.01);  // first tick: remembers what is shown
    const auto sentinel = platform::Bitmap::make(1, 1, {0xff00ff00u});
    view->layers().sprite->contents = sentinel;
    view->advanceAnimation(0.01);
    view->advanceAnimation(0.01);
    EXPECT_EQ(view->layers().sprite->contents, sentinel);
    view->advanceAnimation(0.2);  // moves to the next frame
    EXPECT_NE(view->layers().sprite->contents, sentinel);
}

TEST_F(PetViewSprite, FrameIndexCarriesOverWhenTheStateChanges) {
    show(PetKind::robotV1);
    view->startAnimating();
    view->advanceAnimation(1.0);  // idle: 7 frames per second
    EXPECT_EQ(view->currentAnimationDrawState(), (PetView::AnimationDrawState{"robot-v1-spritesheet", 0, 7, 7}));
    view->animationState = S::music;
    EXPECT_EQ(view->currentAnimationDrawState(), (PetView::AnimationDrawState{"robot-v1-spritesheet", 5, 7, 10}));
}

TEST_F(PetViewSprite, NothingAdvancesWhileTheWindowIsHiddenOrTheViewUnregistered) {
    show(PetKind::robotV1);
    view->advanceAnimation(0.5);
    EXPECT_EQ(view->spriteFrameTick(), 0);
    view->startAnimating();
    panel->orderOut();
    view->advanceAnimation(0.5);
    EXPECT_EQ(view->spriteFrameTick(), 0);
}

TEST_F(PetViewSprite, MissingSheetsClearTheSpriteLayer) {
    const char* tmp = std::getenv("TMPDIR");
    const auto empty = std::filesystem::path(tmp ? tmp : "/tmp") / "no-sheets";
    std::filesystem::create_directories(empty);
    VULMainBundle::setResourcesDirectory(empty);
    show(PetKind::calendarV1);
    EXPECT_FALSE(view->layers().sprite->contents);
    view->startAnimating();
    dispatcher.advance(0.5);
    EXPECT_FALSE(view->layers().sprite->contents);
    EXPECT_GT(view->spriteFrameTick(), 0);
}

TEST_F(PetViewSprite, BadgeLayersFollowTheStatusAndPreferences) {
    AppStatus status;
    status.badgeText = "12345";
    MossbridgePreferences preferences;
    preferences.appIconSizeScale = 0.1;
    show(PetKind::robotV1, status, preferences);
    const auto& l = view->layers();
    EXPECT_EQ(l.appBadgeBackground->path.boundingBox(), (platform::Rect{38, 2, 16, 16}));
    EXPECT_FALSE(l.appLetter->hidden);
    EXPECT_EQ(l.appLetter->string, "N");
    EXPECT_TRUE(l.appIcon->hidden);
    EXPECT_FALSE(l.statusBadgeBackground->hidden);
    EXPECT_EQ(l.statusBadgeText->string, "99+");

    view->displayBadges = false;
    view->appIcon = std::make_shared<const platform::Image>(platform::Bitmap::make(1, 1, {0xffffffffu}));
    view->refreshAppearance();
    EXPECT_TRUE(l.statusBadgeBackground->hidden);
    EXPECT_TRUE(l.statusBadgeText->hidden);
    EXPECT_FALSE(l.appBadgeBackground->hidden);  // the application badge always shows
    EXPECT_FALSE(l.appIcon->hidden);
    EXPECT_TRUE(l.appLetter->hidden);
}

TEST_F(PetViewSprite, WindowDotLayersGrowOnDemandAndHide) {
    show(PetKind::robotV1);
    view->windowCount = 7;
    view->refreshAppearance();
    const auto& l = view->layers();
    ASSERT_EQ(l.windowDots.size(), 5u);
    for (const auto& dot : l.windowDots) EXPECT_FALSE(dot->hidden);
    EXPECT_EQ(l.windowOverflowText->string, "+2");
    EXPECT_FALSE(l.windowOverflowText->hidden);
    EXPECT_EQ(l.windowDots.front()->actions, disabledLayerActions());
    view->windowCount = 2;
    view->refreshAppearance();
    EXPECT_FALSE(l.windowDots[1]->hidden);
    EXPECT_TRUE(l.windowDots[2]->hidden);
    EXPECT_TRUE(l.windowOverflowText->hidden);
    view->windowCount = 0;
    view->refreshAppearance();
    EXPECT_TRUE(l.windowDotsBackground->hidden);
    EXPECT_TRUE(l.windowDots[0]->hidden);
}

TEST_F(PetViewSprite, HoveringShowsTheResizeGripAndTheHoverRow) {
    show(PetKind::robotV1);
    EXPECT_TRUE(view->layers().resizeHandle->hidden);
    server.movePointer(onScreen(40, 60));
    EXPECT_FALSE(view->layers().resizeHandle->hidden);
    EXPECT_EQ(view->currentAnimationDrawState().row, 2);
    server.movePointer({700, 500});
    EXPECT_TRUE(view->layers().resizeHandle->hidden);
}

class PetViewVector : public testing::PetViewTest {};

TEST_F(PetViewVector, VectorPetsHideTheLayersAndRedrawEverySecondTick) {
    show(PetKind::blob);
    EXPECT_TRUE(view->layers().sprite->hidden);
    EXPECT_TRUE(view->layers().overlay->hidden);
    EXPECT_EQ(view->currentAnimationDrawState(), (PetView::AnimationDrawState{"", 0, 0, 6}));  // the built-in clip
    view->startAnimating();
    view->setNeedsDisplay(false);
    view->advanceAnimation(1.0 / 60);
    EXPECT_FALSE(view->needsDisplay());
    view->advanceAnimation(1.0 / 60);
    EXPECT_TRUE(view->needsDisplay());
}

}  // namespace
}  // namespace Mossbridge
