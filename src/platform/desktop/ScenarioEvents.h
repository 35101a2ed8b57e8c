#pragma once
// Scenario sections that deliver events while a run goes on:
//  - "playerNotifications": notifications the music players post on the
//    distributed centre, each `at` seconds after the run starts;
//  - "calendar": the calendar store's authorization and its events, each
//    added `at` seconds after the start, with start and end given in seconds
//    relative to the start of the run.
// The readers fail (ScenarioFailure) with the path of a bad value, like the
// other section readers.

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/desktop/CalendarStore.h"
#include "platform/core/Dispatch.h"
#include "platform/desktop/InMemoryCalendarStore.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/PropertyList.h"

namespace platform {

struct ScenarioPlayerNotification {
    double at = 0;
    std::string name;
    // Absent: the notification carries no user-info at all (not an empty one).
    std::optional<PropertyDictionary> userInfo;
};

struct ScenarioCalendarEvent {
    double at = 0;
    CalendarStoreEvent event;  // dates in seconds relative to the start of the run
};

struct ScenarioEvents {
    std::vector<ScenarioPlayerNotification> playerNotifications;
    std::optional<CalendarAuthorizationStatus> calendarAuthorization;
    std::vector<ScenarioCalendarEvent> calendarEvents;
};

namespace scenario {
void readPlayerNotifications(const nlohmann::json& section, const std::string& path, ScenarioEvents& events);
void readCalendar(const nlohmann::json& section, const std::string& path, ScenarioEvents& events);
}  // namespace scenario

// Sets the store's authorization now and schedules every notification and
// event on the main queue at its time from now. The centre and the store
// must outlive the dispatcher's main queue.
void scheduleScenarioEvents(const ScenarioEvents& events, Dispatcher& dispatcher, NotificationCenter& distributedCenter,
                            InMemoryCalendarStore& calendarStore);

}  // namespace platform
