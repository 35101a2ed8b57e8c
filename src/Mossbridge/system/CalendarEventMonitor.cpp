#include "Mossbridge/system/CalendarEventMonitor.h"

#include <algorithm>

#include "Mossbridge/model/DiagnosticLine.h"
#include "Mossbridge/model/PerformanceLog.h"
#include "platform/core/Unicode.h"

namespace Mossbridge {

namespace {

using platform::CalendarAuthorizationStatus;

constexpr double kWindowBefore = 900.0;     // 15 minutes back
constexpr double kWindowAfter = 14400.0;    // 4 hours ahead
constexpr double kUpcomingLimit = 1800.0;   // starts within 30 minutes
constexpr double kRefreshInterval = 60.0;
constexpr double kRefreshTolerance = 10.0;
constexpr double kSlowRefreshMilliseconds = 20.0;

const char* statusName(CalendarAuthorizationStatus status) {
    switch (status) {
        case CalendarAuthorizationStatus::notDetermined: return "notDetermined";
        case CalendarAuthorizationStatus::restricted: return "restricted";
        case CalendarAuthorizationStatus::denied: return "denied";
        case CalendarAuthorizationStatus::fullAccess: return "fullAccess";
        case CalendarAuthorizationStatus::writeOnly: return "writeOnly";
    }
    return "unknown";
}

}  // namespace

std::optional<platform::CalendarStoreEvent> selectCurrentEvent(const std::vector<platform::CalendarStoreEvent>& events,
                                                               double now) {
    std::vector<platform::CalendarStoreEvent> candidates;
    for (const auto& event : events) {
        if (event.isAllDay || event.endDate <= now) continue;
        if (event.availability == platform::CalendarEventAvailability::free) continue;
        if (event.status == platform::CalendarEventStatus::cancelled) continue;
        candidates.push_back(event);
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const auto& a, const auto& b) { return a.startDate < b.startDate; });
    if (candidates.empty() || candidates.front().startDate > now + kUpcomingLimit) return std::nullopt;
    return candidates.front();
}

CalendarEventInfo calendarEventInfo(const platform::CalendarStoreEvent& event) {
    CalendarEventInfo info;
    const bool hasTitle = event.title && !platform::trimWhitespaceAndNewlines(*event.title).empty();
    info.title = hasTitle ? *event.title : "Calendar event";
    info.startDate = event.startDate;
    info.endDate = event.endDate;
    info.calendarTitle = event.calendarTitle;
    if (event.location) info.location = platform::trimWhitespaceAndNewlines(*event.location);
    info.isAllDay = event.isAllDay;
    return info;
}

CalendarEventMonitor::CalendarEventMonitor(platform::Dispatcher& dispatcher,
                                           std::shared_ptr<platform::CalendarStore> eventStore,
                                           platform::NotificationCenter& center,
                                           std::shared_ptr<platform::Workspace> workspace)
    : dispatcher_(dispatcher),
      eventStore_(eventStore ? std::move(eventStore) : platform::makeSystemCalendarStore()),
      center_(center),
      workspace_(std::move(workspace)),
      self_(std::make_shared<CalendarEventMonitor*>(this)) {}

CalendarEventMonitor::~CalendarEventMonitor() {
    if (refreshTimer_) refreshTimer_->cancel();
    center_.removeObserver(eventStoreObserver_);
}

platform::Block CalendarEventMonitor::refreshLater() const {
    std::weak_ptr<CalendarEventMonitor*> weak = self_;
    platform::QueueRef main = dispatcher_.mainQueue();
    return [weak, main] {
        main->async([weak] {
            if (auto self = weak.lock()) (*self)->refresh();
        });
    };
}

void CalendarEventMonitor::start() {
    if (refreshTimer_) {
        refresh();
        return;
    }
    eventStoreObserver_ = center_.addObserver(platform::EKEventStoreChangedNotification, eventStore_.get(),
                                              dispatcher_.mainQueue(),
                                              [later = refreshLater()](const platform::Notification&) { later(); });
    refreshTimer_ = dispatcher_.mainQueue()->scheduleTimer(kRefreshInterval, kRefreshTolerance, true, refreshLater());
    handleAuthorizationStatus();
}

void CalendarEventMonitor::stop() {
    if (refreshTimer_) refreshTimer_->cancel();
    refreshTimer_.reset();
    if (eventStoreObserver_.isValid()) {
        center_.removeObserver(eventStoreObserver_);
        eventStoreObserver_ = {};
    }
    latestEvent_.reset();
}

void CalendarEventMonitor::handleAuthorizationStatus() {
    const CalendarAuthorizationStatus status = eventStore_->authorizationStatus();
    if (!didPrintAuthorizationStatus_) {
        didPrintAuthorizationStatus_ = true;
        printDiagnosticLine(std::string("Calendar authorization status ") + statusName(status));
    }
    switch (status) {
        case CalendarAuthorizationStatus::fullAccess:
            refresh();
            return;
        case CalendarAuthorizationStatus::notDetermined:
            break;
        default:
            publish(std::nullopt);
            return;
    }
    if (isRequestingAccess_) return;
    isRequestingAccess_ = true;
    std::weak_ptr<CalendarEventMonitor*> weak = self_;
    platform::QueueRef main = dispatcher_.mainQueue();
    eventStore_->requestFullAccessToEvents([weak, main](bool granted, const std::optional<std::string>& error) {
        main->async([weak, granted, error] {
            auto self = weak.lock();
            if (!self) return;
            CalendarEventMonitor& monitor = **self;
            monitor.isRequestingAccess_ = false;
            if (error) printDiagnosticLine("Calendar access request failed: " + *error);
            if (granted) monitor.refresh();
            else monitor.publish(std::nullopt);
        });
    });
}

void CalendarEventMonitor::refresh() {
    if (eventStore_->authorizationStatus() != CalendarAuthorizationStatus::fullAccess) {
        handleAuthorizationStatus();
        return;
    }
    const double now = dispatcher_.clock().now();
    const std::uint64_t before = dispatcher_.clock().monotonicNanos();
    const auto chosen = selectCurrentEvent(eventStore_->events(now - kWindowBefore, now + kWindowAfter), now);
    const double milliseconds = static_cast<double>(dispatcher_.clock().monotonicNanos() - before) / 1e6;
    if (milliseconds >= kSlowRefreshMilliseconds) logPerformanceDuration("calendar.refresh", milliseconds);
    publish(chosen ? std::optional(calendarEventInfo(*chosen)) : std::nullopt);
}

void CalendarEventMonitor::publish(const std::optional<CalendarEventInfo>& event) {
    if (event == latestEvent_) return;
    latestEvent_ = event;
    if (onEventChanged) onEventChanged(event);
}

void CalendarEventMonitor::openCalendarApp() {
    if (!workspace_) return;
    const auto calendar = workspace_->urlForApplication("com.apple.iCal");
    workspace_->openApplication(calendar.value_or("/System/Applications/Calendar.app"), platform::OpenConfiguration{},
                                nullptr);
}

}  // namespace Mossbridge
