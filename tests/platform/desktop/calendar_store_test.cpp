#include "platform/desktop/InMemoryCalendarStore.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

CalendarStoreEvent event(double start, double end) {
    CalendarStoreEvent e;
    e.title = "Standup";
    e.startDate = start;
    e.endDate = end;
    return e;
}

TEST(SystemCalendarStoreTest, IsUnavailableOnThisPlatform) {
    const auto store = makeSystemCalendarStore();
    EXPECT_EQ(store->authorizationStatus(), CalendarAuthorizationStatus::restricted);
    EXPECT_TRUE(store->events(0, 1e10).empty());
    bool answered = false;
    store->requestFullAccessToEvents([&](bool granted, const std::optional<std::string>&) {
        answered = true;
        EXPECT_FALSE(granted);
    });
    EXPECT_TRUE(answered);
}

TEST(InMemoryCalendarStoreTest, QueriesReturnEventsOverlappingTheWindow) {
    NotificationCenter center;
    InMemoryCalendarStore store(center);
    store.addEvent(event(100, 200));
    store.addEvent(event(200, 300));  // starts at the window's end: outside
    store.addEvent(event(0, 50));     // ended before the window: outside
    store.addEvent(event(0, 1000));   // spans the window
    const auto found = store.events(150, 200);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].startDate, 100);
    EXPECT_EQ(found[1].startDate, 0);
}

}  // namespace
}  // namespace platform
