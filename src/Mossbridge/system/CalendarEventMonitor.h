#pragma once
// Publishes the calendar event that is going on now or starts within the
// next 30 minutes (or none), read from the user's calendar store, and tells
// the owner only when that changes. While started it refreshes every 60 s
// and whenever the store reports a change; without calendar access it
// publishes none, asking for access (one request at a time) while the
// user has not decided. Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Mossbridge/model/AppStatus.h"
#include "platform/desktop/CalendarStore.h"
#include "platform/core/Dispatch.h"
#include "platform/core/NotificationCenter.h"
#include "platform/desktop/Workspace.h"

namespace Mossbridge {

// The event to show at `now`: the earliest-starting one that is neither
// all-day, over, free nor cancelled, provided it starts within 30 minutes.
std::optional<platform::CalendarStoreEvent> selectCurrentEvent(const std::vector<platform::CalendarStoreEvent>& events,
                                                               double now);

// The published form of a store event.
CalendarEventInfo calendarEventInfo(const platform::CalendarStoreEvent& event);

class CalendarEventMonitor {
public:
    // `center`: where the store posts its change notification. `workspace`
    // opens the calendar application; may be null.
    CalendarEventMonitor(platform::Dispatcher& dispatcher, std::shared_ptr<platform::CalendarStore> eventStore,
                         platform::NotificationCenter& center, std::shared_ptr<platform::Workspace> workspace);
    ~CalendarEventMonitor();
    CalendarEventMonitor(const CalendarEventMonitor&) = delete;
    CalendarEventMonitor& operator=(const CalendarEventMonitor&) = delete;

    std::function<void(const std::optional<CalendarEventInfo>&)> onEventChanged;

    // Starts observing and the timer; while started, only refreshes.
    void start();
    // Stops both and forgets the published event without reporting it.
    void stop();
    void refresh();
    void openCalendarApp();

    const std::optional<CalendarEventInfo>& latestEvent() const { return latestEvent_; }
    bool isStarted() const { return refreshTimer_ != nullptr; }

private:
    void handleAuthorizationStatus();
    void publish(const std::optional<CalendarEventInfo>& event);
    // A block for the main queue that refreshes while the monitor lives.
    platform::Block refreshLater() const;

    platform::Dispatcher& dispatcher_;
    std::shared_ptr<platform::CalendarStore> eventStore_;
    platform::NotificationCenter& center_;
    std::shared_ptr<platform::Workspace> workspace_;
    platform::TimerRef refreshTimer_;
    platform::NotificationObserverToken eventStoreObserver_;
    std::optional<CalendarEventInfo> latestEvent_;
    bool isRequestingAccess_ = false;
    bool didPrintAuthorizationStatus_ = false;
    std::shared_ptr<CalendarEventMonitor*> self_;
};

}  // namespace Mossbridge
