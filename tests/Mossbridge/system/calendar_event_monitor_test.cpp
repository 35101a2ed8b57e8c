#include "Mossbridge/system/CalendarEventMonitor.h"

#include <gtest/gtest.h>

#include "StatusSourceFixtures.h"
#include "platform/core/DeterministicDispatch.h"
#include "platform/desktop/InMemoryCalendarStore.h"
#include "platform/desktop/InMemoryWorkspace.h"

namespace Mossbridge {
namespace {

using platform::CalendarAuthorizationStatus;
using platform::CalendarStoreEvent;
using testing::capturedOutput;

constexpr double kNow = 1.7e9;

CalendarStoreEvent event(const std::string& title, double startsIn, double endsIn) {
    CalendarStoreEvent e;
    e.title = title;
    e.startDate = kNow + startsIn;
    e.endDate = kNow + endsIn;
    e.calendarTitle = "Work";
    return e;
}

std::optional<std::string> chosenTitle(const std::vector<CalendarStoreEvent>& events) {
    const auto chosen = selectCurrentEvent(events, kNow);
    return chosen ? chosen->title : std::nullopt;
}

TEST(CalendarEventSelectionTest, EarliestStartWinsAmongCurrentAndUpcoming) {
    EXPECT_EQ(chosenTitle({event("next", 300, 1200), event("running", -600, 300)}), "running");
}

TEST(CalendarEventSelectionTest, AllDayFreeCancelledAndEndedEventsAreNeverChosen) {
    auto allDay = event("all day", -3600, 3600);
    allDay.isAllDay = true;
    auto free = event("free", -60, 60);
    free.availability = platform::CalendarEventAvailability::free;
    auto cancelled = event("cancelled", -60, 60);
    cancelled.status = platform::CalendarEventStatus::cancelled;
    const auto ended = event("ended", -600, 0);  // ends exactly now
    EXPECT_EQ(chosenTitle({allDay, free, cancelled, ended}), std::nullopt);
    EXPECT_EQ(chosenTitle({allDay, free, cancelled, ended, event("busy", 60, 120)}), "busy");
}

TEST(CalendarEventSelectionTest, UpcomingMeansStartingWithinThirtyMinutes) {
    EXPECT_EQ(chosenTitle({event("soon", 29 * 60, 40 * 60)}), "soon");
    EXPECT_EQ(chosenTitle({event("exactly", 30 * 60, 40 * 60)}), "exactly");
    EXPECT_EQ(chosenTitle({event("later", 31 * 60, 40 * 60)}), std::nullopt);
}

TEST(CalendarEventInfoTest, BlankTitlesAndLocations) {
    auto e = event("   ", 0, 60);
    e.location = " \n ";
    e.calendarTitle.reset();
    const auto info = calendarEventInfo(e);
    EXPECT_EQ(info.title, "Calendar event");
    EXPECT_EQ(info.location, "");
    EXPECT_EQ(info.calendarTitle, std::nullopt);
    e.title.reset();
    e.location = "  Room 4 ";
    EXPECT_EQ(calendarEventInfo(e).title, "Calendar event");
    EXPECT_EQ(calendarEventInfo(e).location, "Room 4");
    e.title = " Standup ";
    EXPECT_EQ(calendarEventInfo(e).title, " Standup ");  // kept as it is
}

class CalendarEventMonitorTest : public ::testing::Test {
protected:
    CalendarEventMonitorTest() {
        monitor_.onEventChanged = [this](const std::optional<CalendarEventInfo>& e) { published_.push_back(e); };
    }

    void startQuietly() {
        capturedOutput([&] { monitor_.start(); });
    }

    platform::DeterministicDispatcher dispatcher_{kNow};
    platform::NotificationCenter center_;
    std::shared_ptr<platform::InMemoryCalendarStore> store_ = std::make_shared<platform::InMemoryCalendarStore>(center_);
    std::shared_ptr<platform::InMemoryWorkspace> workspace_ = std::make_shared<platform::InMemoryWorkspace>();
    CalendarEventMonitor monitor_{dispatcher_, store_, center_, workspace_};
    std::vector<std::optional<CalendarEventInfo>> published_;
};

TEST_F(CalendarEventMonitorTest, PublishesOnlyWhenTheEventChanges) {
    store_->setAuthorizationStatus(CalendarAuthorizationStatus::fullAccess);
    const auto id = store_->addEvent(event("Standup", -60, 600));
    const auto output = capturedOutput([&] { monitor_.start(); });
    EXPECT_EQ(output, "Mossbridge: Calendar authorization status fullAccess\n");
    ASSERT_EQ(published_.size(), 1u);
    EXPECT_EQ(published_[0]->title, "Standup");

    monitor_.start();  // started already: only refreshes
    monitor_.refresh();
    EXPECT_EQ(published_.size(), 1u);

    store_->removeEvent(id);  // the store's change notification triggers a refresh
    EXPECT_EQ(published_.size(), 1u);
    dispatcher_.drain();
    ASSERT_EQ(published_.size(), 2u);
    EXPECT_EQ(published_[1], std::nullopt);
}

TEST_F(CalendarEventMonitorTest, TheMinuteTimerPicksUpAnEventComingIntoRange) {
    store_->setAuthorizationStatus(CalendarAuthorizationStatus::fullAccess);
    store_->addEvent(event("Review", 40 * 60, 50 * 60));
    startQuietly();
    EXPECT_TRUE(published_.empty());
    dispatcher_.advance(9 * 60);
    EXPECT_TRUE(published_.empty());
    dispatcher_.advance(60);  // 30 minutes before the start
    ASSERT_EQ(published_.size(), 1u);
    EXPECT_EQ(published_[0]->title, "Review");
}

TEST_F(CalendarEventMonitorTest, StopForgetsSilentlyAndStartPublishesAgain) {
    store_->setAuthorizationStatus(CalendarAuthorizationStatus::fullAccess);
    store_->addEvent(event("Standup", -60, 600));
    startQuietly();
    monitor_.stop();
    EXPECT_EQ(monitor_.latestEvent(), std::nullopt);
    EXPECT_EQ(published_.size(), 1u);
    EXPECT_EQ(center_.observerCount(), 0u);
    dispatcher_.advance(120);  // the timer is gone
    EXPECT_EQ(published_.size(), 1u);
    monitor_.start();
    EXPECT_EQ(published_.size(), 2u);
    EXPECT_EQ(published_[1], published_[0]);
}

TEST_F(CalendarEventMonitorTest, OneAccessRequestAtATime) {
    store_->addEvent(event("Standup", -60, 600));
    const auto output = capturedOutput([&] {
        monitor_.start();
        monitor_.refresh();
        monitor_.refresh();
    });
    EXPECT_EQ(output, "Mossbridge: Calendar authorization status notDetermined\n");
    EXPECT_EQ(store_->accessRequestCount(), 1u);
    EXPECT_TRUE(published_.empty());

    store_->answerAccessRequests(true);
    EXPECT_TRUE(published_.empty());  // the answer is handled on the main queue
    dispatcher_.drain();
    ASSERT_EQ(published_.size(), 1u);
    EXPECT_EQ(published_[0]->title, "Standup");
}

TEST_F(CalendarEventMonitorTest, ARefusedOrFailedRequestPublishesNone) {
    store_->setAuthorizationStatus(CalendarAuthorizationStatus::fullAccess);
    store_->addEvent(event("Standup", -60, 600));
    startQuietly();
    store_->setAuthorizationStatus(CalendarAuthorizationStatus::notDetermined);
    monitor_.refresh();
    const auto output = capturedOutput([&] {
        store_->answerAccessRequests(false, std::string("The user said no."));
        dispatcher_.drain();
    });
    EXPECT_EQ(output, "Mossbridge: Calendar access request failed: The user said no.\n");
    ASSERT_EQ(published_.size(), 2u);
    EXPECT_EQ(published_[1], std::nullopt);

    // Denied from now on: none again, nothing reported, no new request.
    monitor_.refresh();
    EXPECT_EQ(published_.size(), 2u);
    EXPECT_EQ(store_->accessRequestCount(), 1u);
}

TEST_F(CalendarEventMonitorTest, WithoutAccessNothingIsPublishedAndTheStatusIsPrintedOnce) {
    store_->setAuthorizationStatus(static_cast<CalendarAuthorizationStatus>(7));
    const auto output = capturedOutput([&] {
        monitor_.start();
        monitor_.refresh();
    });
    EXPECT_EQ(output, "Mossbridge: Calendar authorization status unknown\n");
    EXPECT_TRUE(published_.empty());
    EXPECT_EQ(store_->accessRequestCount(), 0u);
}

TEST_F(CalendarEventMonitorTest, AMonitorGoneBeforeTheAnswerIsLeftAlone) {
    auto monitor = std::make_unique<CalendarEventMonitor>(dispatcher_, store_, center_, nullptr);
    capturedOutput([&] { monitor->start(); });
    monitor.reset();
    store_->answerAccessRequests(true);
    store_->addEvent(event("Standup", -60, 600));
    dispatcher_.advance(120);
    EXPECT_EQ(center_.observerCount(), 0u);
}

TEST_F(CalendarEventMonitorTest, OpeningTheCalendarPrefersTheInstalledApplication) {
    monitor_.openCalendarApp();
    platform::InstalledApplication calendar;
    calendar.application.processIdentifier = 77;
    calendar.application.bundleIdentifier = "com.apple.iCal";
    calendar.application.bundleURL = "/Applications/Calendar.app";
    calendar.running = false;
    workspace_->install(calendar);
    monitor_.openCalendarApp();
    ASSERT_EQ(workspace_->openRequests().size(), 2u);
    EXPECT_EQ(workspace_->openRequests()[0].bundleURL, "/System/Applications/Calendar.app");
    EXPECT_EQ(workspace_->openRequests()[1].bundleURL, "/Applications/Calendar.app");
}

}  // namespace
}  // namespace Mossbridge
