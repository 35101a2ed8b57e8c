#include "PetControllerFixture.h"

#include <stdlib.h>

#include "Mossbridge/model/PerformanceLog.h"

namespace Mossbridge::testing {
namespace {

using Case = SpeechBubbleWindow::Mode::Case;
using Counts = PetController::SyncCounts;

// --- Sync pass: counters and window lifetime ---

TEST_F(PetControllerTest, SyncKeepsOneWindowPerRunningAssignment) {
    install(10, "com.example.a");
    const auto a = assign("com.example.a");
    const auto b = assign("com.example.gone");  // never running, never a window

    sync();
    EXPECT_EQ(controller->lastSyncCounts(), (Counts{1, 1, 1, 0}));
    auto first = controller->window(a);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(controller->window(b), nullptr);
    EXPECT_TRUE(stored(a)->lastSeenRunning);

    sync();
    EXPECT_EQ(controller->lastSyncCounts(), (Counts{1, 1, 0, 1}));

    stop(10);
    sync();
    EXPECT_EQ(controller->lastSyncCounts(), (Counts{0, 2, 0, 0}));
    EXPECT_EQ(controller->window(a), first);  // kept, ordered out
    EXPECT_FALSE(first->isVisible());
    EXPECT_FALSE(stored(a)->lastSeenRunning);

    desktop.workspace->find(10)->running = true;
    sync();
    EXPECT_EQ(controller->window(a), first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(stored(a)->launchCount, 2);

    store->removeAssignment(a, "manual");
    sync();
    EXPECT_EQ(controller->window(a), nullptr);
    EXPECT_TRUE(first->isClosed());
    EXPECT_FALSE(first->panel().isVisible());
    EXPECT_EQ(controller->windows().size(), 0u);
}

TEST_F(PetControllerTest, SlowPassWritesThePerformanceLine) {
    ASSERT_EQ(setenv("MOSSBRIDGE_PERF_LOGS", "1", 1), 0);
    resetPerformanceLogForTesting(&dispatcher.clock());
    install(10, "com.example.a");
    store->preferences.autoAttachAllRunningApps = true;
    // Attaching takes 5 ms of the pass.
    setUsageEventLogger([this](const std::string&, const std::optional<APMParameters>&) {
        dispatcher.virtualClock().advance(0.005);
    });
    ::testing::internal::CaptureStdout();
    sync({{"com.example.other", {}}});
    sync();  // attaches nothing: fast, silent
    const std::string out = ::testing::internal::GetCapturedStdout();
    resetPerformanceLogForTesting();
    unsetenv("MOSSBRIDGE_PERF_LOGS");
    EXPECT_NE(out.find("pets.sync 5.0ms assignments=1 shown=1 hidden=0 created=1 updated=0 statuses=1\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("pets.sync", out.find("pets.sync") + 1), std::string::npos) << out;
}

// --- Animation state ---

struct StateCase {
    const char* name;
    std::string bundleIdentifier;
    AppCategory category;
    bool frontmost;
    bool party;
    AppStatus status;
    PetAnimationState expected;
};

AppStatus withPlayback(MediaPlaybackState state) {
    AppStatus status;
    status.mediaPlayback = MediaPlaybackInfo{"com.example.player", "Player", state, "Song", {}, {}};
    return status;
}

AppStatus withBadge(std::string badge) {
    AppStatus status;
    status.badgeText = std::move(badge);
    return status;
}

TEST_F(PetControllerTest, ResolveAnimationStateAppliesTheFirstMatchingRule) {
    AppStatus playingText;
    playingText.activityText = "Playing: Song";
    AppStatus calendarAndBadge = withBadge("2");
    calendarAndBadge.calendarEvent = CalendarEventInfo{"Standup", 0, 60, {}, {}, false};
    AppStatus fresh;
    fresh.newNotification = AppNotificationItem{1, "Hi", {}, "there", 0};
    const std::vector<StateCase> cases = {
        {"player playing, frontmost work", "com.apple.Terminal", AppCategory::other, true, false,
         withPlayback(MediaPlaybackState::playing), PetAnimationState::music},
        {"activity says playing", "com.example.x", AppCategory::other, false, false, playingText,
         PetAnimationState::music},
        {"frontmost terminal keyword", "com.example.terminal", AppCategory::other, true, true, {},
         PetAnimationState::work},
        {"frontmost listed identifier", "com.microsoft.Word", AppCategory::other, true, false, {},
         PetAnimationState::work},
        {"frontmost chat category", "com.example.x", AppCategory::chat, true, false, {}, PetAnimationState::work},
        {"code matches anywhere", "com.example.barcodes", AppCategory::other, true, false, {},
         PetAnimationState::work},
        {"frontmost non-work in party", "com.example.x", AppCategory::other, true, true, {},
         PetAnimationState::music},
        {"background in party", "com.apple.Terminal", AppCategory::other, false, true, {}, PetAnimationState::music},
        {"frontmost non-work, badge", "com.example.x", AppCategory::other, true, false, withBadge("3"),
         PetAnimationState::waiting},
        {"calendar event before badge", "com.example.cal", AppCategory::calendar, false, false, calendarAndBadge,
         PetAnimationState::error},
        {"one-character badge", "com.example.x", AppCategory::other, false, false, withBadge("1"),
         PetAnimationState::waiting},
        {"empty badge", "com.example.x", AppCategory::other, false, false, withBadge(""), PetAnimationState::idle},
        {"new notification", "com.example.x", AppCategory::other, false, false, fresh, PetAnimationState::waiting},
        {"paused player", "com.example.x", AppCategory::other, false, false, withPlayback(MediaPlaybackState::paused),
         PetAnimationState::idle},
        {"nothing", "com.example.x", AppCategory::other, false, false, {}, PetAnimationState::idle},
    };
    for (const auto& c : cases) {
        AppAssignment assignment;
        assignment.bundleIdentifier = c.bundleIdentifier;
        assignment.category = c.category;
        EXPECT_EQ(PetController::resolveAnimationState(assignment, c.frontmost, c.status, c.party), c.expected)
            << c.name;
    }
    // A kind drawn in code plays waiting for error.
    EXPECT_EQ(PetController::playableAnimationState(PetKind::cat, PetAnimationState::error),
              PetAnimationState::waiting);
    EXPECT_FALSE(PetController::isAnyMusicPlaying({}));
}

TEST_F(PetControllerTest, PartyModeNeedsThePreferenceAndSomethingPlaying) {
    install(10, "com.example.a");
    const auto a = assign("com.example.a");
    const AppStatusMap playing{{"com.example.player", withPlayback(MediaPlaybackState::playing)}};

    sync(playing);
    EXPECT_EQ(window(a).petView().animationState, PetAnimationState::idle);
    store->preferences.partyModeWhenMusicPlays = true;
    sync({{"com.example.player", withPlayback(MediaPlaybackState::paused)}});
    EXPECT_EQ(window(a).petView().animationState, PetAnimationState::idle);
    sync(playing);
    EXPECT_EQ(window(a).petView().animationState, PetAnimationState::music);
}

// --- Callbacks ---

struct ClickCase {
    const char* name;
    bool trusted;
    bool withBundleURL;
    bool vanished;
    std::optional<std::string> bubble;
};

TEST_F(PetControllerTest, ClickSpeaksOnlyWhenTheApplicationWasNeitherRaisedNorOpened) {
    const std::vector<ClickCase> cases = {
        {"raised", true, false, false, std::nullopt},
        {"opened, not raised", false, true, false, std::nullopt},
        {"vanished", true, true, true, "I can't find that app right now."},
    };
    std::int32_t pid = 20;
    for (const auto& c : cases) {
        const std::string bundle = "com.example.click" + std::to_string(pid);
        install(pid, bundle, {"Doc"}, c.withBundleURL);
        desktop.accessibility->setTrusted(c.trusted);
        const auto id = assign(bundle);
        sync();
        PetWindow& pet = window(id);
        if (c.vanished) stop(pid);
        events.clear();

        pet.petView().onClick();
        EXPECT_EQ(stored(id)->focusClicks, 1) << c.name;
        ASSERT_EQ(eventNames(), std::vector<std::string>{"pet_click"}) << c.name;
        ASSERT_TRUE(events[0].parameters.has_value());
        EXPECT_EQ(events[0].parameters->size(), 4u) << c.name;
        if (c.bubble) {
            EXPECT_EQ(pet.speechWindow().mode(), SpeechBubbleWindow::Mode::message(*c.bubble)) << c.name;
            EXPECT_TRUE(pet.petView().bubbleMessage().has_value()) << c.name;
        } else {
            EXPECT_EQ(pet.speechWindow().mode().kind(), Case::hidden) << c.name;
        }
        ++pid;
    }
}

TEST_F(PetControllerTest, WindowPickCountsOnlyRaising) {
    install(10, "com.example.a", {"Doc"}, true);  // untrusted: opened, never raised
    const auto id = assign("com.example.a");
    sync();
    window(id).onWindowFocusRequested(id, "com.example.a", 0);
    ASSERT_EQ(eventNames(), std::vector<std::string>{"window_preview_click"});
    EXPECT_NE(events[0].parameters->find("window_index"), nullptr);
    EXPECT_EQ(window(id).speechWindow().mode().kind(), Case::message);
}

TEST_F(PetControllerTest, QuitAnswersWhetherTheRequestWasAccepted) {
    install(10, "com.example.a");
    install(11, "com.example.b");
    desktop.workspace->find(11)->terminateAccepted = false;
    const auto a = assign("com.example.a");
    const auto b = assign("com.example.b");
    sync();
    window(a).quitAppFromMenu();
    window(b).quitAppFromMenu();
    EXPECT_EQ(window(a).speechWindow().mode(), SpeechBubbleWindow::Mode::message("I asked it to quit."));
    EXPECT_EQ(window(b).speechWindow().mode(), SpeechBubbleWindow::Mode::message("I couldn't quit that app."));
}

TEST_F(PetControllerTest, ClosePetSavesAPendingFrameBeforeRemovingTheAssignment) {
    install(10, "com.example.a");
    const auto id = assign("com.example.a");
    sync();
    auto pet = controller->window(id);
    std::vector<std::size_t> assignmentsAtSave;
    auto forward = pet->onMoved;
    pet->onMoved = [&, forward](const platform::Uuid& moved, const platform::Rect& frame) {
        assignmentsAtSave.push_back(store->assignments.size());
        forward(moved, frame);
    };
    pet->setFrame({400, 300, 92, 104}, true);

    pet->closePetFromMenu();
    EXPECT_EQ(assignmentsAtSave, std::vector<std::size_t>{1});
    EXPECT_TRUE(pet->isClosed());
    EXPECT_EQ(controller->window(id), nullptr);
    EXPECT_TRUE(store->assignments.empty());
    ASSERT_EQ(eventNames(), std::vector<std::string>{"pet_removed"});
    EXPECT_EQ(events[0].parameters->find("source")->description(), "pet_menu");
}

TEST_F(PetControllerTest, MonitorRequestsAndAccessibilityPromptGoUp) {
    install(10, "com.example.a");
    const auto id = assign("com.example.a");
    sync();
    std::vector<std::string> requests;
    controller->onMediaCommandRequested = [&](const std::string& bundle, MediaPlaybackCommand command) {
        requests.push_back(bundle + " " + std::string(caseName(command)));
    };
    controller->onCalendarCommandRequested = [&](CalendarEventCommand) { requests.push_back("calendar"); };
    controller->onNotificationsClearRequested = [&](const std::string& bundle, std::int64_t record) {
        requests.push_back(bundle + " clear " + std::to_string(record));
    };
    PetWindow& pet = window(id);
    pet.speechWindow().onMediaCommand(MediaPlaybackCommand::next);
    pet.speechWindow().onCalendarCommand(CalendarEventCommand::openCalendar);
    AppStatus status;
    status.notifications = {{7, "a", {}, "b", 0}, {9, "c", {}, "d", 0}};
    sync({{"com.example.a", status}});
    pet.speechWindow().onNotificationsClear();
    pet.requestAccessibilityFromMenu();
    EXPECT_EQ(requests, (std::vector<std::string>{"com.example.a next", "calendar", "com.example.a clear 9"}));
    EXPECT_EQ(desktop.accessibility->promptCount(), 1);
}

// --- Media and calendar pushes ---

TEST_F(PetControllerTest, MediaPushShowsThePlayerOnEveryVisiblePetOfThePlayer) {
    install(10, "com.example.player");
    const auto first = assign("com.example.player");
    const auto second = assign("com.example.player", {500, 300, 92, 104});
    sync({{"com.example.player", withPlayback(MediaPlaybackState::paused)}});
    controller->showMediaPlayback("com.example.player");
    EXPECT_EQ(window(first).speechWindow().mode().kind(), Case::mediaPlayer);
    EXPECT_EQ(window(second).speechWindow().mode().kind(), Case::mediaPlayer);
    EXPECT_FALSE(window(first).speechWindow().hasPendingHide());

    install(11, "com.example.other");
    const auto stopped = assign("com.example.other");
    sync({{"com.example.other", withPlayback(MediaPlaybackState::stopped)}});
    controller->showMediaPlayback("com.example.other");
    EXPECT_EQ(window(stopped).speechWindow().mode().kind(), Case::hidden);
}

TEST_F(PetControllerTest, CalendarPushShowsTheEventOnCalendarPets) {
    install(10, "com.example.cal");
    install(11, "com.example.other");
    const auto calendar = assign("com.example.cal", {200, 300, 92, 104}, PetKind::cat, AppCategory::calendar);
    const auto other = assign("com.example.other", {500, 300, 92, 104});
    AppStatus status;
    status.calendarEvent = CalendarEventInfo{"Standup", 0, 60, {}, {}, false};
    sync({{"com.example.cal", status}, {"com.example.other", status}});
    controller->showCalendarEvents();
    EXPECT_EQ(window(calendar).speechWindow().mode().kind(), Case::calendarEvent);
    EXPECT_EQ(window(other).speechWindow().mode().kind(), Case::hidden);
}

}  // namespace
}  // namespace Mossbridge::testing
