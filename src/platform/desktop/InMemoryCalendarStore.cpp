#include "platform/desktop/InMemoryCalendarStore.h"

#include <algorithm>

namespace platform {

InMemoryCalendarStore::InMemoryCalendarStore(NotificationCenter& center) : center_(center) {}

CalendarAuthorizationStatus InMemoryCalendarStore::authorizationStatus() const {
    std::lock_guard lock(mutex_);
    return status_;
}

void InMemoryCalendarStore::requestFullAccessToEvents(AccessCompletion completion) {
    std::lock_guard lock(mutex_);
    ++requestCount_;
    pendingRequests_.push_back(std::move(completion));
}

std::vector<CalendarStoreEvent> InMemoryCalendarStore::events(double start, double end) const {
    std::lock_guard lock(mutex_);
    std::vector<CalendarStoreEvent> found;
    for (const auto& [identifier, event] : events_) {
        if (event.startDate < end && event.endDate > start) found.push_back(event);
    }
    return found;
}

void InMemoryCalendarStore::setAuthorizationStatus(CalendarAuthorizationStatus status) {
    std::lock_guard lock(mutex_);
    status_ = status;
}

std::size_t InMemoryCalendarStore::addEvent(CalendarStoreEvent event) {
    std::size_t identifier;
    {
        std::lock_guard lock(mutex_);
        identifier = nextIdentifier_++;
        events_.emplace_back(identifier, std::move(event));
    }
    postChanged();
    return identifier;
}

void InMemoryCalendarStore::removeEvent(std::size_t identifier) {
    {
        std::lock_guard lock(mutex_);
        std::erase_if(events_, [&](const auto& entry) { return entry.first == identifier; });
    }
    postChanged();
}

void InMemoryCalendarStore::removeAllEvents() {
    {
        std::lock_guard lock(mutex_);
        events_.clear();
    }
    postChanged();
}

std::size_t InMemoryCalendarStore::accessRequestCount() const {
    std::lock_guard lock(mutex_);
    return requestCount_;
}

std::size_t InMemoryCalendarStore::pendingAccessRequestCount() const {
    std::lock_guard lock(mutex_);
    return pendingRequests_.size();
}

void InMemoryCalendarStore::answerAccessRequests(bool granted, const std::optional<std::string>& error) {
    std::vector<AccessCompletion> waiting;
    {
        std::lock_guard lock(mutex_);
        status_ = granted ? CalendarAuthorizationStatus::fullAccess : CalendarAuthorizationStatus::denied;
        waiting.swap(pendingRequests_);
    }
    for (auto& completion : waiting) {
        if (completion) completion(granted, error);
    }
}

void InMemoryCalendarStore::postChanged() { center_.post(EKEventStoreChangedNotification, this); }

}  // namespace platform
