#pragma once
// The user's calendars: authorization, the access request, events in a time
// window and a notification when the store's contents change. The system's
// store (makeSystemCalendarStore) is unavailable on Linux: it answers
// `restricted` and holds no events, so callers behave as without calendar
// access. InMemoryCalendarStore is the one that tests and scenarios fill.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Raw values as the platform numbers them; a store may answer others, which
// callers treat as unknown.
enum class CalendarAuthorizationStatus : int {
    notDetermined = 0,
    restricted = 1,
    denied = 2,
    fullAccess = 3,
    writeOnly = 4,
};

enum class CalendarEventAvailability { notSupported, busy, free, tentative, unavailable };
enum class CalendarEventStatus { none, confirmed, tentative, cancelled };

struct CalendarStoreEvent {
    std::optional<std::string> title;
    double startDate = 0;  // wall-clock seconds since 1970
    double endDate = 0;
    std::optional<std::string> calendarTitle;  // none: the event has no calendar
    std::optional<std::string> location;
    bool isAllDay = false;
    CalendarEventAvailability availability = CalendarEventAvailability::busy;
    CalendarEventStatus status = CalendarEventStatus::confirmed;
};

// Posted on NotificationCenter::defaultCenter() with the store as its object
// whenever the store's events change.
inline constexpr const char* EKEventStoreChangedNotification = "EKEventStoreChangedNotification";

class CalendarStore {
public:
    // `granted`, and the error's description when the request failed.
    using AccessCompletion = std::function<void(bool granted, const std::optional<std::string>& error)>;

    virtual ~CalendarStore() = default;
    virtual CalendarAuthorizationStatus authorizationStatus() const = 0;
    // Asks the user for full access to events. The completion runs once, on
    // any thread, possibly much later.
    virtual void requestFullAccessToEvents(AccessCompletion completion) = 0;
    // Events of every calendar that overlap [start, end).
    virtual std::vector<CalendarStoreEvent> events(double start, double end) const = 0;
};

// The platform's calendar store; on Linux an unavailable one.
std::shared_ptr<CalendarStore> makeSystemCalendarStore();

}  // namespace platform
