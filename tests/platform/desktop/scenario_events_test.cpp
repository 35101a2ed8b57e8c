#include "platform/desktop/ScenarioEvents.h"

#include <gtest/gtest.h>

#include "platform/core/DeterministicDispatch.h"
#include "platform/desktop/Scenario.h"

namespace platform {
namespace {

// Through the scenario loader, as a run without a display reads them.
ScenarioEvents read(const std::string& text) {
    auto load = parseScenario(text, ".");
    EXPECT_TRUE(load.scenario) << load.error;
    return load.scenario ? load.scenario->events : ScenarioEvents{};
}

std::string failureOf(const std::string& text) {
    auto load = parseScenario(text, ".");
    return load.scenario ? "no failure" : load.error;
}

TEST(ScenarioEventsTest, PlayerNotificationsArePostedAtTheirTimes) {
    const auto events = read(R"({"playerNotifications": [
        {"at": 2.5, "name": "com.spotify.client.PlaybackStateChanged",
         "userInfo": {"Player State": "Playing", "Name": "Song", "Track Number": 3, "Shuffle": true, "Rating": 0.5}},
        {"name": "com.apple.Music.playerInfo"}]})");
    ASSERT_EQ(events.playerNotifications.size(), 2u);

    DeterministicDispatcher dispatcher;
    NotificationCenter distributed;
    InMemoryCalendarStore store(distributed);
    std::vector<Notification> posted;
    distributed.addObserver(std::nullopt, nullptr, nullptr, [&](const Notification& n) { posted.push_back(n); });
    scheduleScenarioEvents(events, dispatcher, distributed, store);
    dispatcher.drain();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].name, "com.apple.Music.playerInfo");
    EXPECT_FALSE(posted[0].userInfo) << "no userInfo member posts none, not an empty one";
    dispatcher.advance(2.5);
    ASSERT_EQ(posted.size(), 2u);
    const PropertyDictionary expected{
        {"Player State", "Playing"}, {"Name", "Song"}, {"Track Number", 3}, {"Shuffle", true}, {"Rating", 0.5}};
    EXPECT_EQ(posted[1].userInfo, expected);
}

TEST(ScenarioEventsTest, CalendarEventsAreAddedAtTheirTimesRelativeToTheStart) {
    const auto events = read(R"({"calendar": {"authorization": "fullAccess", "events": [
        {"title": "Standup", "start": -300, "end": 600, "calendar": "Work", "location": "Room 4"},
        {"at": 60, "title": "Lunch", "start": 3600, "end": 7200, "availability": "free", "status": "cancelled",
         "allDay": true}]}})");
    DeterministicDispatcher dispatcher(1000.0);
    NotificationCenter center;
    InMemoryCalendarStore store(center);
    scheduleScenarioEvents(events, dispatcher, center, store);
    EXPECT_EQ(store.authorizationStatus(), CalendarAuthorizationStatus::fullAccess);
    dispatcher.drain();
    auto found = store.events(0, 1e6);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].startDate, 700.0);
    EXPECT_EQ(found[0].endDate, 1600.0);
    EXPECT_EQ(found[0].calendarTitle, "Work");
    dispatcher.advance(60);
    found = store.events(0, 1e6);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[1].startDate, 4600.0);  // relative to the start, not to when it was added
    EXPECT_TRUE(found[1].isAllDay);
    EXPECT_EQ(found[1].availability, CalendarEventAvailability::free);
    EXPECT_EQ(found[1].status, CalendarEventStatus::cancelled);
}

TEST(ScenarioEventsTest, BadValuesAreReportedWithTheirPath) {
    EXPECT_EQ(failureOf(R"({"playerNotifications": [{"at": -1, "name": "x"}]})"),
              "playerNotifications[0].at: must not be negative");
    EXPECT_EQ(failureOf(R"({"playerNotifications": [{"name": "x", "userInfo": {"Name": [1]}}]})"),
              "playerNotifications[0].userInfo.Name: expected a string, a number or true or false");
    EXPECT_EQ(failureOf(R"({"calendar": {"authorization": "maybe"}})"),
              "calendar.authorization: expected one of \"notDetermined\", \"restricted\", \"denied\", \"fullAccess\", "
              "\"writeOnly\"");
    EXPECT_EQ(failureOf(R"({"calendar": {"events": [{"start": 10, "end": 5}]}})"), "calendar.events[0].end: before the start");
}

}  // namespace
}  // namespace platform
