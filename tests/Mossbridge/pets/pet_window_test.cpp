#include "PetControllerFixture.h"

namespace Mossbridge::testing {
namespace {

using Case = SpeechBubbleWindow::Mode::Case;
constexpr platform::Rect petFrame{200, 300, 92, 104};

class PetWindowTest : public PetControllerTest {
protected:
    // One running pet at petFrame whose previews are one fake tile.
    PetWindow& showPet(const AppStatus& status = {}) {
        install(10, "com.example.a");
        id = assign("com.example.a", petFrame);
        sync({{"com.example.a", status}});
        PetWindow& pet = window(id);
        pet.onWindowPreviewsRequested = [](const std::string&) {
            return std::vector<AppWindowPreviewInfo>{{0, "Doc", nullptr}};
        };
        return pet;
    }
    platform::Rect storedFrame() const { return stored(id)->frame.rect(); }
    platform::Uuid id = platform::Uuid::random();
};

// --- Frame saving ---

TEST_F(PetWindowTest, DragSavesAfterEachPauseAndAtRelease) {
    PetWindow& pet = showPet();
    const platform::Point start = centre(petFrame);
    server.pressLeft(start);
    server.dragLeft({start.x + 50, start.y});
    EXPECT_EQ(storedFrame(), petFrame);
    dispatcher.advance(0.1);
    server.dragLeft({start.x + 80, start.y});
    dispatcher.advance(0.1);
    EXPECT_EQ(storedFrame(), petFrame);  // each move restarts the 0.16 s
    dispatcher.advance(0.1);
    EXPECT_EQ(storedFrame(), (platform::Rect{280, 300, 92, 104}));

    server.dragLeft({start.x + 100, start.y + 10});
    server.releaseLeft({start.x + 100, start.y + 10});
    EXPECT_EQ(storedFrame(), (platform::Rect{300, 310, 92, 104}));  // flushed at once
    EXPECT_FALSE(pet.hasPendingFrameSave());
}

TEST_F(PetWindowTest, SyncDuringADragDoesNotMoveThePetBack) {
    PetWindow& pet = showPet();
    const platform::Point start = centre(petFrame);
    server.pressLeft(start);
    server.dragLeft({start.x + 60, start.y + 20});
    sync();  // the store still holds the frame from before the drag
    EXPECT_EQ(pet.frame(), (platform::Rect{260, 320, 92, 104}));
    EXPECT_EQ(pet.assignment().frame.rect(), pet.frame());
    server.releaseLeft({start.x + 60, start.y + 20});
    EXPECT_EQ(storedFrame(), (platform::Rect{260, 320, 92, 104}));
    sync();
    EXPECT_EQ(pet.frame(), (platform::Rect{260, 320, 92, 104}));
}

TEST_F(PetWindowTest, StoredFrameWinsWithoutASave) {
    PetWindow& pet = showPet();
    store->updateFrame(id, {600, 200, 92, 104});
    std::vector<platform::Rect> saved;
    pet.onMoved = [&](const platform::Uuid&, const platform::Rect& frame) { saved.push_back(frame); };
    sync();
    EXPECT_EQ(pet.frame(), (platform::Rect{600, 200, 92, 104}));
    EXPECT_FALSE(pet.hasPendingFrameSave());
    dispatcher.advance(1);
    EXPECT_TRUE(saved.empty());
}

TEST_F(PetWindowTest, OrderingOutFlushesThePendingSaveAndRegistersOnce) {
    PetWindow& pet = showPet();
    PetAnimationClock& clock = PetAnimationClock::shared();
    pet.orderFrontRegardless();
    EXPECT_EQ(clock.views().allObjects().size(), 1u);
    pet.setFrame({500, 500, 92, 104}, true);
    stop(10);
    sync();
    EXPECT_EQ(storedFrame(), (platform::Rect{500, 500, 92, 104}));
    pet.orderOut();
    EXPECT_TRUE(clock.views().allObjects().empty());
}

// --- Hover and companions ---

struct RevealCase {
    const char* name;
    AppStatus status;
    Case bubble;
};

TEST_F(PetWindowTest, HoveringOneSecondShowsThePersistentBubbleAndPreviews) {
    AppStatus paused;
    paused.mediaPlayback = MediaPlaybackInfo{"com.example.a", "A", MediaPlaybackState::paused, "Song", {}, {}};
    AppStatus stoppedWithEvent;
    stoppedWithEvent.mediaPlayback = MediaPlaybackInfo{"com.example.a", "A", MediaPlaybackState::stopped, {}, {}, {}};
    stoppedWithEvent.calendarEvent = CalendarEventInfo{"Standup", 0, 60, {}, {}, false};
    const std::vector<RevealCase> cases = {
        {"paused player", paused, Case::mediaPlayer},
        {"stopped player and an event", stoppedWithEvent, Case::calendarEvent},
        {"neither", {}, Case::hidden},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        PetWindow& pet = showPet(c.status);
        server.movePointer(centre(petFrame));
        EXPECT_TRUE(pet.isPetHovering());
        dispatcher.advance(0.9);
        EXPECT_FALSE(pet.previewWindow().panel().isVisible());
        dispatcher.advance(0.2);
        EXPECT_TRUE(pet.previewWindow().panel().isVisible());
        EXPECT_EQ(pet.speechWindow().mode().kind(), c.bubble);
    }
}

TEST_F(PetWindowTest, LeavingHidesPersistentCompanionsUnlessThePointerReachesOne) {
    AppStatus paused;
    paused.mediaPlayback = MediaPlaybackInfo{"com.example.a", "A", MediaPlaybackState::paused, "Song", {}, {}};
    PetWindow& pet = showPet(paused);
    server.movePointer(centre(petFrame));
    dispatcher.advance(1.5);
    ASSERT_EQ(pet.speechWindow().mode().kind(), Case::mediaPlayer);

    // Onto the bubble within 0.35 s: both stay.
    server.movePointer(centre(pet.speechWindow().panel().frame()));
    dispatcher.advance(1);
    EXPECT_EQ(pet.speechWindow().mode().kind(), Case::mediaPlayer);
    EXPECT_TRUE(pet.previewWindow().panel().isVisible());

    // Off everything for 0.35 s: both go.
    server.movePointer({1300, 50});
    dispatcher.advance(0.3);
    EXPECT_EQ(pet.speechWindow().mode().kind(), Case::mediaPlayer);
    dispatcher.advance(0.5);
    EXPECT_EQ(pet.speechWindow().mode().kind(), Case::hidden);
    EXPECT_FALSE(pet.previewWindow().panel().isVisible());
}

TEST_F(PetWindowTest, LeavingKeepsAMessageBubbleOnItsOwnTimer) {
    PetWindow& pet = showPet();
    server.movePointer(centre(petFrame));
    pet.speechWindow().showMessage("Hello", pet.frame());
    server.movePointer({1300, 50});
    dispatcher.advance(0.5);
    EXPECT_EQ(pet.speechWindow().mode(), SpeechBubbleWindow::Mode::message("Hello"));
}

TEST_F(PetWindowTest, PressingHidesPreviewsAndRevealsOnlyIfStillHovering) {
    PetWindow& pet = showPet();
    server.movePointer(centre(petFrame));
    dispatcher.advance(1.5);
    ASSERT_TRUE(pet.previewWindow().panel().isVisible());

    server.pressLeft(centre(petFrame));
    dispatcher.advance(0.3);  // short of a long press
    EXPECT_FALSE(pet.previewWindow().panel().isVisible());
    EXPECT_FALSE(pet.hasPendingPreviewReveal());
    server.releaseLeft(centre(petFrame));
    EXPECT_TRUE(pet.hasPendingPreviewReveal());
    dispatcher.advance(1.1);
    EXPECT_TRUE(pet.previewWindow().panel().isVisible());
}

// --- What an update says ---

TEST_F(PetWindowTest, ActivityTextSpeaksOnceAndANotificationWins) {
    PetWindow& pet = showPet();
    AppStatus busy;
    busy.activityText = "Compiling";
    sync({{"com.example.a", busy}});
    EXPECT_EQ(pet.speechWindow().mode(), SpeechBubbleWindow::Mode::message("Compiling"));
    dispatcher.advance(4);
    ASSERT_EQ(pet.speechWindow().mode().kind(), Case::hidden);
    sync({{"com.example.a", busy}});
    EXPECT_EQ(pet.speechWindow().mode().kind(), Case::hidden);

    busy.activityText = "Linking";
    busy.newNotification = AppNotificationItem{3, "Mail", {}, "New mail", 0};
    sync({{"com.example.a", busy}});
    EXPECT_EQ(pet.speechWindow().mode().kind(), Case::notificationSpeech);
}

TEST_F(PetWindowTest, ANotificationSyncedAgainIsReadOutOnce) {
    PetWindow& pet = showPet();
    AppStatus arrived;
    arrived.newNotification = AppNotificationItem{3, "Chat", {}, "Lunch?", 0};
    sync({{"com.example.a", arrived}});
    const double shownFor = SpeechBubbleWindow::notificationSpeechDuration;
    dispatcher.advance(shownFor - 1);
    sync({{"com.example.a", arrived}});  // the cached status, before the next refresh
    dispatcher.advance(1.1);
    EXPECT_EQ(pet.speechWindow().mode().kind(), Case::hidden);

    arrived.newNotification->recordID = 4;
    sync({{"com.example.a", arrived}});
    EXPECT_EQ(pet.speechWindow().mode().kind(), Case::notificationSpeech);
}

TEST_F(PetWindowTest, ClearingNoNotificationsStillHidesAPlayerBubble) {
    AppStatus paused;
    paused.mediaPlayback = MediaPlaybackInfo{"com.example.a", "A", MediaPlaybackState::paused, "Song", {}, {}};
    PetWindow& pet = showPet(paused);
    int requests = 0;
    pet.onNotificationsClearRequested = [&](const std::string&, std::int64_t) { ++requests; };
    pet.refreshPersistentBubble();
    ASSERT_EQ(pet.speechWindow().mode().kind(), Case::mediaPlayer);
    pet.clearNotifications();
    EXPECT_EQ(requests, 0);
    EXPECT_EQ(pet.speechWindow().mode().kind(), Case::hidden);
}

}  // namespace
}  // namespace Mossbridge::testing
